#include "WindowsPort.h"

#include <gtest/gtest.h>

// What a Windows COM port is set to and opened by, checked here on any platform.
using namespace modbus485;

TEST(WindowsPort, LineSettingsADriverTakes) {
    const struct {
        int baud;
        char parity;
        uint32_t receiveQueue; // as the driver reports it
        uint8_t Parity;
        uint16_t XonLim, XoffLim;
    } cases[] = {
        {9600, 'N', 4096, 0, 2048, 512},
        {19200, 'E', 4096, 2, 2048, 512},
        {4800, 'O', 4096, 1, 2048, 512},
        // A driver that does not say, one with a small queue, one with a large one.
        {115200, 'N', 0, 0, 2048, 512},
        {9600, 'E', 1024, 2, 512, 128},
        {9600, 'N', 1 << 20, 0, 2048, 512},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + c.parity + " queue " + std::to_string(c.receiveQueue));
        const ComSettings s = comSettings(c.baud, c.parity, c.receiveQueue);
        EXPECT_EQ(s.BaudRate, static_cast<uint32_t>(c.baud));
        EXPECT_EQ(s.Parity, c.Parity);
        EXPECT_EQ(s.fParity, c.parity != 'N');
        EXPECT_EQ(s.ByteSize, 8);
        EXPECT_EQ(s.StopBits, 0); // ONESTOPBIT
        EXPECT_TRUE(s.fBinary);
        // No flow control of any kind, no byte replaced or dropped, no stop on a line error.
        EXPECT_FALSE(s.fOutxCtsFlow || s.fOutxDsrFlow || s.fDsrSensitivity || s.fOutX || s.fInX);
        EXPECT_FALSE(s.fErrorChar || s.fNull || s.fAbortOnError);
        EXPECT_EQ(s.fDtrControl, 1); // DTR_CONTROL_ENABLE
        EXPECT_EQ(s.fRtsControl, 1); // RTS_CONTROL_ENABLE: the adapter switches its driver itself
        EXPECT_EQ(s.XonChar, 0x11);
        EXPECT_EQ(s.XoffChar, 0x13);
        EXPECT_EQ(s.XonLim, c.XonLim);
        EXPECT_EQ(s.XoffLim, c.XoffLim);
    }
}

TEST(WindowsPort, DeviceNames) {
    const struct {
        const char *given;
        const char *opened;
    } cases[] = {
        {"COM12", "\\\\.\\COM12"},
        {"com3", "\\\\.\\com3"},
        {"COM1", "\\\\.\\COM1"},
        {"\\\\.\\COM12", "\\\\.\\COM12"},
        {"COM", "COM"},
        {"COM12:", "COM12:"},
        {"COMX", "COMX"},
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(windowsDeviceName(c.given), c.opened) << c.given;
}
