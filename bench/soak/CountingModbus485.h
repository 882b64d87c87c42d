#pragma once

#include "Modbus485.h"

#include <cstdint>

// Passes every call on to the real library and counts the exchanges the window asked for and how many of
// them failed (a -8888 result, an open that did not succeed, a port status other than 0).
class CountingModbus485 : public Modbus485 {
public:
    explicit CountingModbus485(Modbus485 &target)
        : m_target(target) {}

    int64_t calls() const { return m_calls; }
    int64_t failures() const { return m_failures; }
    int64_t inputReads() const { return m_inputReads; }

    int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) override {
        return count(m_target.OpenPort_Modbus(port, baudCode, parityCode), true);
    }
    int32_t ClosePort_Modbus(int32_t port) override { return count(m_target.ClosePort_Modbus(port), true); }
    int32_t GetPort_Status(int32_t port) override { return count(m_target.GetPort_Status(port), true); }
    int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return count(m_target.Set_0X_Bit1(port, station, coil));
    }
    int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return count(m_target.Rst_0X_Bit1(port, station, coil));
    }
    int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        return count(m_target.Get_0X_B16(port, station, start, elements));
    }
    int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        ++m_inputReads;
        return count(m_target.Get_1X_B16(port, station, start, elements));
    }
    int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        return count(m_target.Get_3X_UnD8(port, station, start, elements));
    }
    int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        return count(m_target.Get_4X_UnD8(port, station, start, elements));
    }
    int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) override {
        return count(m_target.Get_4X_UnD1(port, station, reg));
    }
    int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) override {
        return count(m_target.Get_4X_D1(port, station, reg));
    }
    int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) override {
        return count(m_target.Set_4X_D1(port, station, reg, value));
    }

private:
    // Port operations fail with any non-zero code; exchanges with the module fail with -8888.
    int32_t count(int32_t result, bool portOperation = false) {
        ++m_calls;
        if (portOperation ? result != 0 : result == -8888)
            ++m_failures;
        return result;
    }

    Modbus485 &m_target;
    int64_t m_calls = 0;
    int64_t m_failures = 0;
    int64_t m_inputReads = 0;
};
