#pragma once

#include "Modbus485.h"

#include <QString>

#include <functional>

// Passes every call on to another Modbus485 (the real library in end-to-end tests) and then tells the test
// which operation has just returned, so a test can act at a known point inside a handler.
class ObservedModbus485 : public Modbus485 {
public:
    explicit ObservedModbus485(Modbus485 &target)
        : m_target(target) {}

    std::function<void(const QString &operation)> afterCall;

    int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) override {
        return after(QStringLiteral("OpenPort_Modbus"), m_target.OpenPort_Modbus(port, baudCode, parityCode));
    }
    int32_t ClosePort_Modbus(int32_t port) override {
        return after(QStringLiteral("ClosePort_Modbus"), m_target.ClosePort_Modbus(port));
    }
    int32_t GetPort_Status(int32_t port) override {
        return after(QStringLiteral("GetPort_Status"), m_target.GetPort_Status(port));
    }
    int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return after(QStringLiteral("Set_0X_Bit1"), m_target.Set_0X_Bit1(port, station, coil));
    }
    int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return after(QStringLiteral("Rst_0X_Bit1"), m_target.Rst_0X_Bit1(port, station, coil));
    }
    int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        return after(QStringLiteral("Get_0X_B16"), m_target.Get_0X_B16(port, station, start, elements));
    }
    int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        return after(QStringLiteral("Get_1X_B16"), m_target.Get_1X_B16(port, station, start, elements));
    }
    int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        return after(QStringLiteral("Get_3X_UnD8"), m_target.Get_3X_UnD8(port, station, start, elements));
    }
    int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        return after(QStringLiteral("Get_4X_UnD8"), m_target.Get_4X_UnD8(port, station, start, elements));
    }
    int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) override {
        return after(QStringLiteral("Get_4X_UnD1"), m_target.Get_4X_UnD1(port, station, reg));
    }
    int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) override {
        return after(QStringLiteral("Get_4X_D1"), m_target.Get_4X_D1(port, station, reg));
    }
    int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) override {
        return after(QStringLiteral("Set_4X_D1"), m_target.Set_4X_D1(port, station, reg, value));
    }

private:
    int32_t after(const QString &operation, int32_t result) {
        if (afterCall)
            afterCall(operation);
        return result;
    }

    Modbus485 &m_target;
};
