#pragma once

#include "CallingModbus485.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>

// Passes every call on to another Modbus485 (the real library, usually) and keeps account of them: how many
// calls of each operation and how many failed (ModuleMap::Failed from an exchange with the module; any
// non-zero code from a port operation). With recording on it also keeps each call as "Name(arg,arg,...)",
// block reads' receiving areas left out, as RecordingModbus485 writes them. afterCall runs as each call
// returns, so a test can act at a known point inside a handler. The counts may be read from another thread
// than the one making the calls (a window on its link thread).
class CountingModbus485 : public CallingModbus485 {
public:
    explicit CountingModbus485(Modbus485 &target)
        : m_target(target) {}

    std::function<void(const QString &operation)> afterCall;
    bool recording = false;
    QStringList recorded;

    int64_t calls() const {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }
    int64_t failures() const {
        const std::lock_guard lock(m_mutex);
        return m_failures;
    }
    int64_t callsOf(const QString &operation) const;

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

protected:
    int32_t call(const QString &operation, std::initializer_list<int32_t> args, std::span<int32_t> elements,
                 const Pass &pass) override;

private:
    Modbus485 &m_target;
    mutable std::mutex m_mutex;
    int64_t m_calls = 0;
    int64_t m_failures = 0;
    std::map<QString, int64_t> m_callsOf;
};
