#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// An exchange trace: the one MODBUS485_TRACE=FILE (or "-" for standard error) asks for, shared by all ports,
// or one port's own that SetPort_Trace names.
// Each line goes out in one write() and is on its way at once; a line that cannot go out at once is dropped
// rather than hold up an exchange. A file is moved to FILE.1 once the next line would take it past MaxBytes;
// when that move fails, or the trace cannot be opened or written, the trace stops and says why. Standard
// error is written through descriptor 2 as the program has it, and never moved or capped.
class Trace {
public:
    static constexpr int64_t MaxBytes = 10 * 1024 * 1024;

    Trace() = default;
    ~Trace();
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;

    // The process's trace, shared by the ports that have none of their own.
    static Trace &instance();

    // Follows MODBUS485_TRACE as it is now: starts, moves or stops the trace. A trace that stopped is tried
    // again once here.
    void configure();
    // Starts this trace on `path`, in UTF-8 (or "-" for standard error); false when it cannot be opened.
    bool start(const std::string &path);
    bool enabled() const { return m_enabled; }
    // Appends one line (with its newline); false when it was dropped because writing it would block.
    bool write(const std::string &line);
    // 0 while the trace runs or none is asked for, else the MODBUS485_TRACE_STOPPED_ reason it stopped for.
    int stopReason() const { return m_stopReason; }

private:
    enum class Target {
        File,          // our own descriptor of the named file, moved aside at its limit
        StandardError, // descriptor 2, or a non-blocking description of the same pipe or terminal
        Socket,        // descriptor 2 is a socket: sent to without waiting
    };

    void openLocked();
    void closeLocked();
    void stopLocked(int reason);
    bool moveAsideLocked();
    bool writable() const;
    long writeLocked(const std::string &line);

    std::mutex m_mutex;
    std::atomic<bool> m_enabled{false};
    std::atomic<int> m_stopReason{0};
    std::string m_path;  // as the variable gave it, or in UTF-8
    bool m_utf8 = false; // the path is UTF-8 whatever the system's code page
    Target m_target = Target::File;
    int m_fd = -1;
    bool m_ownsFd = false;       // descriptor 2 is the program's, never closed here
    bool m_rotates = false;      // only a regular file of our own is capped and moved aside
    bool m_lineCutShort = false; // the last line went out in part: the next one starts on a line of its own
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
