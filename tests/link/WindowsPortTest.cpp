#include "WindowsPort.h"

#include <gtest/gtest.h>

#include <tuple>

// What a Windows COM port is set to and opened by, checked here on any platform.
using namespace modbus485;

TEST(WindowsPort, LineSettingsADriverTakes) {
    const struct {
        int baud;
        char parity;
        uint32_t receiveQueue; // as the driver reports it: 0 when it does not say
        int Parity, XonLim, XoffLim;
    } cases[] = {{9600, 'N', 4096, 0, 2048, 512},
                 {19200, 'E', 4096, 2, 2048, 512},
                 {4800, 'O', 0, 1, 2048, 512},
                 {9600, 'E', 1024, 2, 512, 128},
                 {115200, 'N', 1 << 20, 0, 2048, 512}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + c.parity + " queue " + std::to_string(c.receiveQueue));
        const ComSettings s = comSettings(c.baud, c.parity, c.receiveQueue);
        EXPECT_EQ(std::tuple(int(s.BaudRate), int(s.Parity), s.fParity, int(s.XonLim), int(s.XoffLim)),
                  std::tuple(c.baud, c.Parity, c.parity != 'N', c.XonLim, c.XoffLim));
        // 8 data bits, ONESTOPBIT, XON and XOFF, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE (the adapter
        // switches).
        EXPECT_EQ(std::tuple(int(s.ByteSize), int(s.StopBits), int(s.XonChar), int(s.XoffChar),
                             int(s.fDtrControl), int(s.fRtsControl)),
                  std::tuple(8, 0, 0x11, 0x13, 1, 1));
        // No flow control of any kind, no byte replaced or dropped, no stop on a line error.
        EXPECT_TRUE(s.fBinary && !s.fOutxCtsFlow && !s.fOutxDsrFlow && !s.fDsrSensitivity && !s.fOutX &&
                    !s.fInX && !s.fErrorChar && !s.fNull && !s.fAbortOnError);
    }
}

TEST(WindowsPort, DeviceNames) {
    const char *const cases[][2] = {
        {"COM12", "\\\\.\\COM12"}, {"com3", "\\\\.\\com3"}, {"\\\\.\\COM12", "\\\\.\\COM12"}, {"COM", "COM"},
        {"COM12:", "COM12:"},      {"COMX", "COMX"},        {"\\\\.\\CNCA0", "\\\\.\\CNCA0"}, {"", ""}};
    for (const auto &c : cases)
        EXPECT_EQ(windowsDeviceName(c[0]), c[1]) << c[0];
}
