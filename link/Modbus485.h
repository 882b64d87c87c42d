#pragma once

#include <cstdint>

// The MODBUS485 operations the panel calls, one virtual function each, same names and argument order as
// the library's C API. Block reads fill consecutive 32-bit receiving elements starting at `elements`.
// Any call may raise LinkError when the library or the entry point is missing.
class Modbus485 {
public:
    virtual ~Modbus485() = default;

    virtual int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) = 0;
    virtual int32_t ClosePort_Modbus(int32_t port) = 0;
    virtual int32_t GetPort_Status(int32_t port) = 0;

    virtual int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) = 0;
    virtual int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) = 0;
    virtual int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, int32_t *elements) = 0;
    virtual int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, int32_t *elements) = 0;

    virtual int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, int32_t *elements) = 0;
    virtual int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, int32_t *elements) = 0;
    virtual int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) = 0;
    virtual int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) = 0;
    virtual int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) = 0;

    // Diagnostics for the tooltips: the port's device and open failure as UTF-8 text, its counters, and the
    // outcome of one read's last exchange.
    virtual int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) = 0;
    virtual int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) = 0;
    virtual int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start,
                                     int32_t *values, int32_t count) = 0;
};
