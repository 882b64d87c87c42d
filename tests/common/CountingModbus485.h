#pragma once

#include "Modbus485.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>

// Passes every call on to another Modbus485 (the real library, usually) and keeps account of them: how many
// calls of each operation and how many failed (-8888 from an exchange with the module; any non-zero code
// from a port operation). With recording on it also keeps each call as "Name(arg,arg,...)", block reads'
// receiving areas left out, as RecordingModbus485 writes them. afterCall runs as each call returns, so a
// test can act at a known point inside a handler.
class CountingModbus485 : public Modbus485 {
public:
    explicit CountingModbus485(Modbus485 &target)
        : m_target(target) {}

    std::function<void(const QString &operation)> afterCall;
    bool recording = false;
    QStringList recorded;

    int64_t calls() const { return m_calls; }
    int64_t failures() const { return m_failures; }
    int64_t callsOf(const QString &operation) const;

    int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) override;
    int32_t ClosePort_Modbus(int32_t port) override;
    int32_t GetPort_Status(int32_t port) override;
    int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) override;
    int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) override;
    int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override;
    int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override;
    int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override;
    int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override;
    int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) override;
    int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) override;
    int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) override;
    // Diagnostics are passed on without counting: they make no exchange.
    int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) override {
        return m_target.GetPort_Info(port, buffer, size);
    }
    int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) override {
        return m_target.GetPort_Counters(port, values, count);
    }
    int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start, int32_t *values,
                             int32_t count) override {
        return m_target.GetPort_LastRead(port, station, function, start, values, count);
    }

private:
    enum class Kind { Port, Exchange };
    int32_t account(const QString &operation, std::initializer_list<int32_t> args, Kind kind, int32_t result);

    Modbus485 &m_target;
    int64_t m_calls = 0;
    int64_t m_failures = 0;
    std::map<QString, int64_t> m_callsOf;
};
