#pragma once

#include "Modbus485.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>

// The ground of the test doubles: every port and exchange operation goes to call(), with its name, its
// arguments, a block read's receiving area, and `pass`, which makes the same call on another Modbus485.
// callText() writes a call as the doubles record it: "Name(arg,arg,...)", the receiving area left out.
class CallingModbus485 : public Modbus485 {
public:
    using Pass = std::function<int32_t(Modbus485 &)>;

    static QString callText(const QString &operation, std::initializer_list<int32_t> args) {
        QStringList text;
        for (const int32_t a : args)
            text << QString::number(a);
        return operation + u'(' + text.join(u',') + u')';
    }

    int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) override {
        return call(QStringLiteral("OpenPort_Modbus"), {port, baudCode, parityCode}, {},
                    [=](Modbus485 &m) { return m.OpenPort_Modbus(port, baudCode, parityCode); });
    }
    int32_t ClosePort_Modbus(int32_t port) override {
        return call(QStringLiteral("ClosePort_Modbus"), {port}, {},
                    [=](Modbus485 &m) { return m.ClosePort_Modbus(port); });
    }
    int32_t GetPort_Status(int32_t port) override {
        return call(QStringLiteral("GetPort_Status"), {port}, {},
                    [=](Modbus485 &m) { return m.GetPort_Status(port); });
    }
    int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return call(QStringLiteral("Set_0X_Bit1"), {port, station, coil}, {},
                    [=](Modbus485 &m) { return m.Set_0X_Bit1(port, station, coil); });
    }
    int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return call(QStringLiteral("Rst_0X_Bit1"), {port, station, coil}, {},
                    [=](Modbus485 &m) { return m.Rst_0X_Bit1(port, station, coil); });
    }
    int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        return call(QStringLiteral("Get_0X_B16"), {port, station, start}, elements,
                    [=](Modbus485 &m) { return m.Get_0X_B16(port, station, start, elements); });
    }
    int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        return call(QStringLiteral("Get_1X_B16"), {port, station, start}, elements,
                    [=](Modbus485 &m) { return m.Get_1X_B16(port, station, start, elements); });
    }
    int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        return call(QStringLiteral("Get_3X_UnD8"), {port, station, start}, elements,
                    [=](Modbus485 &m) { return m.Get_3X_UnD8(port, station, start, elements); });
    }
    int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        return call(QStringLiteral("Get_4X_UnD8"), {port, station, start}, elements,
                    [=](Modbus485 &m) { return m.Get_4X_UnD8(port, station, start, elements); });
    }
    int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) override {
        return call(QStringLiteral("Get_4X_UnD1"), {port, station, reg}, {},
                    [=](Modbus485 &m) { return m.Get_4X_UnD1(port, station, reg); });
    }
    int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) override {
        return call(QStringLiteral("Get_4X_D1"), {port, station, reg}, {},
                    [=](Modbus485 &m) { return m.Get_4X_D1(port, station, reg); });
    }
    int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) override {
        return call(QStringLiteral("Set_4X_D1"), {port, station, reg, value}, {},
                    [=](Modbus485 &m) { return m.Set_4X_D1(port, station, reg, value); });
    }
    int32_t SetPort_Turnaround(int32_t port, int32_t milliseconds) override {
        return call(QStringLiteral("SetPort_Turnaround"), {port, milliseconds}, {},
                    [=](Modbus485 &m) { return m.SetPort_Turnaround(port, milliseconds); });
    }

protected:
    virtual int32_t call(const QString &operation, std::initializer_list<int32_t> args,
                         std::span<int32_t> elements, const Pass &pass) = 0;
};
