#pragma once

#include "Line.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

typedef struct _modbus modbus_t;

// The serial device under one port: opened and held for this process alone, set to the port's line, then
// written and read with deadlines. All that MODBUS485 does on a line that differs between platforms is here;
// ModbusPort's exchanges are built on it.
class SerialLine : public Device {
public:
    using Clock = std::chrono::steady_clock;

    SerialLine() = default;
    ~SerialLine() override { close(); }
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // Opens `device` without blocking, takes it for this process alone before touching its settings, then
    // sets `baud`, parity 'N'/'O'/'E', 8 data bits and 1 stop bit, and discards anything pending.
    OpenResult open(const std::string &device, int baud, char parity,
                    OpenFor purpose = OpenFor::Operator) override;
    void close() override;
    // On Windows always: a COM port that has gone refuses the open.
    bool present(const std::string &device) const override;

    // Sends the whole frame; false when the device failed.
    bool write(const uint8_t *data, std::size_t size) override;
    // Waits until bytes have come in or `until` has passed, and takes up to `size` of them: how many, 0 when
    // none came by the deadline, -1 when the device failed or hung up.
    int read(uint8_t *buffer, std::size_t size, Clock::time_point until) override;
    // True when the device has hung up or gone away.
    bool hungUp() const override;

private:
#ifdef _WIN32
    void *m_handle = nullptr; // HANDLE
#else
    int m_lockFd = -1;            // our own descriptor of the device: it holds the lock
    modbus_t *m_modbus = nullptr; // sets the line up; its descriptor carries the frames
    int m_fd = -1;
#endif
};
