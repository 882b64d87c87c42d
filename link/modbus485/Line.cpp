#include "Line.h"

#include <thread>

LineClock::Clock::time_point SteadyClock::now() const {
    return Clock::now();
}

void SteadyClock::sleepUntil(Clock::time_point until) {
    std::this_thread::sleep_until(until);
}
