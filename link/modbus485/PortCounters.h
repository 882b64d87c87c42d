#pragma once

#include "Exchange.h"
#include "MODBUS485.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <unordered_map>

// What a port has counted since the operator opened it, and the last exchange of each read, as
// GetPort_Counters and GetPort_LastRead hand them out.
class PortCounters {
public:
    using Clock = std::chrono::steady_clock;

    void reset();
    // Counts a finished exchange under its outcome, its stray bytes and its round trip.
    void count(const modbus485::Exchange &x);
    // Keeps a read's outcome for GetPort_LastRead; `end` is when it finished.
    void remember(const modbus485::Exchange &x, Clock::time_point end);
    int64_t &operator[](int counter) { return m_counters[static_cast<std::size_t>(counter)]; }

    // Up to `count` MODBUS485_COUNTER_ values; how many were filled.
    int fill(int32_t *values, int count) const;
    // Up to `count` MODBUS485_LASTREAD_ values for the read with `function` from `address`; how many.
    int lastRead(int station, int function, int address, Clock::time_point now, int32_t *values,
                 int count) const;

private:
    struct ReadRecord {
        modbus485::Outcome outcome = modbus485::Outcome::None;
        int exception = 0;
        int64_t roundTripUs = 0;
        Clock::time_point end{};
    };

    std::array<int64_t, MODBUS485_COUNTERS> m_counters{};
    int64_t m_roundTripSumUs = 0;
    int64_t m_roundTrips = 0;
    std::unordered_map<uint32_t, ReadRecord> m_reads; // by station, function and address
};
