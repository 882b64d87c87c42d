#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

// What a port needs of its device and of time. In the library they are the serial device and the steady
// clock; a test or a fuzzer puts a scripted line in their place, where waiting for bytes moves a scripted
// clock instead of letting time pass.
class LineClock {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~LineClock() = default;
    virtual Clock::time_point now() const = 0;
    virtual void sleepUntil(Clock::time_point until) = 0;
};

class Line {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Line() = default;
    // Sends the whole frame; false when the device failed.
    virtual bool write(const uint8_t *data, std::size_t size) = 0;
    // Waits until bytes have come in or `until` has passed, and takes up to `size` of them: how many, 0 when
    // none came by the deadline, -1 when the device failed or hung up.
    virtual int read(uint8_t *buffer, std::size_t size, Clock::time_point until) = 0;
    // True when the device has hung up or gone away.
    virtual bool hungUp() const = 0;
};

// A line the port opens and closes: the serial device, or a test's stand-in for it.
class Device : public Line {
public:
    enum class OpenError { None, Missing, Permission, Busy, NotSerial, Failed };
    struct OpenResult {
        OpenError error = OpenError::None;
        std::string holder; // Busy: "NAME PID" of the process that has the device, when it can be seen
                            // (operator's open only)
        std::string group; // Permission: the device's group and this process's user, for the fix (operator's)
        std::string user;
        bool parityNotHeld = false; // a pseudo-terminal, which keeps no parity bit: opened all the same
    };
    // The operator is told who holds a busy device and the group of one not theirs; a retry after a re-plug,
    // which comes on every poll until it works, only whether it opened.
    enum class OpenFor { Operator, Replug };

    // Opens `device` for this process alone with `baud`, parity 'N'/'O'/'E', 8 data bits and 1 stop bit.
    virtual OpenResult open(const std::string &device, int baud, char parity, OpenFor purpose) = 0;
    virtual void close() = 0;
    // False when nothing is under `device`'s name, so that a re-plug retry need not try to open it.
    virtual bool present(const std::string &device) const = 0;
};

// The real clock.
class SteadyClock : public LineClock {
public:
    Clock::time_point now() const override { return Clock::now(); }
    void sleepUntil(Clock::time_point until) override { std::this_thread::sleep_until(until); }
};
