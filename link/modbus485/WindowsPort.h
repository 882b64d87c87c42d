#pragma once

#include <cstdint>
#include <string>

// What a Windows COM port gets from MODBUS485, as plain values: built and tested on every platform, applied
// to the port with windows.h in SerialLineWindows.cpp.
namespace modbus485 {

// The driver's queues asked for with SetupComm. A driver that refuses keeps its own, and the port still
// opens.
constexpr uint32_t ComQueueBytes = 4096;

// The DCB fields MODBUS485 sets, named as in the DCB and holding windows.h's values (NOPARITY 0, ODDPARITY 1,
// EVENPARITY 2, ONESTOPBIT 0, DTR_CONTROL_ENABLE and RTS_CONTROL_ENABLE 1). The fields not named here keep
// what the driver reported.
struct ComSettings {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    bool fParity = false;
    bool fBinary = true;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    bool fDsrSensitivity = false;
    uint8_t fDtrControl = 1;
    uint8_t fRtsControl = 1;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;         // frames carry zero bytes
    bool fAbortOnError = false; // a framing or parity error on a noisy line must not stop every later read
                                // and write until cleared; the frame check rejects the damaged answer
    char XonChar = 0x11;
    char XoffChar = 0x13;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;

    bool operator==(const ComSettings &) const = default;
};

// The settings for `baud` and parity 'N', 'O' or 'E', 8 data bits, 1 stop bit, no flow control, for a driver
// whose receive queue holds `receiveQueue` bytes (0 when it does not say).
ComSettings comSettings(int baud, char parity, uint32_t receiveQueue);

// True for "COM" in any case followed by digits only, as a port map's keys and Windows' port names are.
bool isComName(const std::string &name);

// The name to open a port's device by: "COM<digits>" (in any case) gets the "\\.\" prefix, without which
// Windows opens only COM1-COM9; any other name, prefixed already or not a COM port, is used as it is.
std::string windowsDeviceName(const std::string &device);

} // namespace modbus485
