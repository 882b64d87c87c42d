#pragma once

#include "CallingModbus485.h"
#include "RecordingModbus485.h"

#include <QStringList>

#include <condition_variable>
#include <mutex>

// A Modbus485 for a window on a threaded link: each call arrives, is noted, and is held on the link's thread
// until the test releases it; then `answers` gives its result and block contents (and raises LinkError in its
// "library missing" mode). Diagnostics are neither held nor noted.
class HeldModbus485 : public CallingModbus485 {
public:
    RecordingModbus485 answers; // script it before the window asks anything

    QStringList arrived() const {
        const std::lock_guard lock(m_mutex);
        return m_arrived;
    }
    // Lets the next `count` held calls go on.
    void release(qsizetype count = 1) {
        const std::lock_guard lock(m_mutex);
        m_released += count;
        m_wake.notify_all();
    }
    // Holds nothing any more.
    void releaseAll() {
        const std::lock_guard lock(m_mutex);
        m_holding = false;
        m_wake.notify_all();
    }
    // Holds again every call after the first `count` to arrive.
    void holdAgainFrom(qsizetype count) {
        const std::lock_guard lock(m_mutex);
        m_holding = true;
        m_released = count;
    }

    int32_t GetPort_Info(int32_t, char *buffer, int32_t size) override {
        if (size > 0)
            buffer[0] = '\0';
        return 0;
    }
    int32_t GetPort_Counters(int32_t, int32_t *, int32_t) override { return 0; }
    int32_t GetPort_LastRead(int32_t, int32_t, int32_t, int32_t, int32_t *, int32_t) override { return 0; }

protected:
    int32_t call(const QString &operation, std::initializer_list<int32_t> args, std::span<int32_t>,
                 const Pass &pass) override {
        std::unique_lock lock(m_mutex);
        m_arrived << callText(operation, args);
        const qsizetype ticket = m_arrived.size();
        m_wake.wait(lock, [&] { return !m_holding || ticket <= m_released; });
        return pass(answers);
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QStringList m_arrived;
    qsizetype m_released = 0;
    bool m_holding = true;
};
