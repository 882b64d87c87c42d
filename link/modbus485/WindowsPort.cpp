#include "WindowsPort.h"

#include <algorithm>
#include <cctype>

namespace modbus485 {

ComSettings comSettings(int baud, char parity, uint32_t receiveQueue) {
    ComSettings s;
    s.BaudRate = static_cast<uint32_t>(baud);
    s.Parity = parity == 'O' ? 1 : parity == 'E' ? 2 : 0;
    s.fParity = parity == 'O' || parity == 'E';
    // Flow control stays off, but some drivers report both characters and both limits as 0 and then refuse
    // them back. The limits are the usual half and eighth of the queue, so they fit even a small one.
    const uint32_t queue = receiveQueue > 0 ? std::min(receiveQueue, ComQueueBytes) : ComQueueBytes;
    s.XonLim = static_cast<uint16_t>(queue / 2);
    s.XoffLim = static_cast<uint16_t>(queue / 8);
    return s;
}

bool isComName(const std::string &name) {
    const auto letter = [&](std::size_t i, char upper) {
        return std::toupper(static_cast<unsigned char>(name[i])) == upper;
    };
    return name.size() > 3 && letter(0, 'C') && letter(1, 'O') && letter(2, 'M') &&
           name.find_first_not_of("0123456789", 3) == std::string::npos;
}

std::string windowsDeviceName(const std::string &device) {
    return isComName(device) ? "\\\\.\\" + device : device;
}

} // namespace modbus485
