#pragma once

#include <QString>

#include <cstdint>
#include <span>

// The MODBUS485 operations the panel calls, one virtual function each, same names and argument order as
// the library's C API. A block read fills exactly its receiving elements: two for a 16-bit block (a byte
// each), eight for a block of eight registers. Any call may raise LinkError when the library or the entry
// point is missing.
class Modbus485 {
public:
    using BitBlock = std::span<int32_t, 2>;
    using RegisterBlock = std::span<int32_t, 8>;

    virtual ~Modbus485() = default;

    virtual int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) = 0;
    virtual int32_t ClosePort_Modbus(int32_t port) = 0;
    virtual int32_t GetPort_Status(int32_t port) = 0;

    virtual int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) = 0;
    virtual int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) = 0;
    virtual int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) = 0;
    virtual int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) = 0;

    virtual int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) = 0;
    virtual int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) = 0;
    virtual int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) = 0;
    virtual int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) = 0;
    virtual int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) = 0;

    // Diagnostics for the tooltips: the port's device and open failure as UTF-8 text, its counters, and the
    // outcome of one read's last exchange.
    virtual int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) = 0;
    virtual int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) = 0;
    virtual int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start,
                                     int32_t *values, int32_t count) = 0;

    // Fixes the time allowed for the module's turnaround on an open port until it is closed or opened again;
    // 0 goes back to learning each station's.
    virtual int32_t SetPort_Turnaround(int32_t port, int32_t milliseconds) = 0;
    // Traces an open port's exchanges to the file `path` from the next one on, until it is closed or opened
    // again; an empty path stops it. 0, or 1 when refused (by a stand-in that keeps no trace, always).
    virtual int32_t SetPort_Trace(int32_t /*port*/, const QString & /*path*/) { return 1; }
};
