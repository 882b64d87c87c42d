#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// The exchange trace that MODBUS485_TRACE=FILE (or "-" for standard error) asks for, shared by all ports.
// Each line goes out in one write() and is on its way at once; a line that would block is dropped rather
// than hold up an exchange; the file is moved to FILE.1 once it would pass MaxBytes. A trace that cannot be
// written turns itself off and nothing else.
class Trace {
public:
    static constexpr int64_t MaxBytes = 10 * 1024 * 1024;

    static Trace &instance();

    // Follows MODBUS485_TRACE as it is now: starts, moves or stops the trace.
    void configure();
    bool enabled() const { return m_enabled; }
    // Appends one line (with its newline); false when it was dropped because writing it would block.
    bool write(const std::string &line);

private:
    Trace() = default;
    void openLocked();
    void closeLocked();

    std::mutex m_mutex;
    std::atomic<bool> m_enabled{false};
    std::string m_path; // as the variable gave it
    int m_fd = -1;
    bool m_regularFile = false; // only a file is capped and moved aside
    int64_t m_size = 0;
};

#include "Exchange.h"

#include <chrono>

// One trace line for an exchange on port `port` (its device `device`) that ended at `when`, with its
// newline:
//   2026-12-07 13:02:11.482 port 1 /dev/ttyUSB0 station 1 | request 01 03 … | allowance 40 ms, pause 4 ms |
//   answer 01 03 … | good | 11.90 ms
std::string traceLine(std::chrono::system_clock::time_point when, int port, const std::string &device,
                      const modbus485::Exchange &x);
