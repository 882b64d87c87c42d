#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

// What an exchange needs of a line and of time. In the library they are the serial device and the steady
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

// The real clock.
class SteadyClock : public LineClock {
public:
    Clock::time_point now() const override { return Clock::now(); }
    void sleepUntil(Clock::time_point until) override { std::this_thread::sleep_until(until); }
};
