#include "PortCounters.h"

#include <algorithm>
#include <climits>

using namespace std::chrono;
using modbus485::Outcome;

namespace {
uint32_t readKey(int station, int function, int address) {
    return static_cast<uint32_t>(station) << 24 | static_cast<uint32_t>(function) << 16 |
           static_cast<uint32_t>(address);
}

int32_t clamp32(int64_t value) {
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}
} // namespace

void PortCounters::reset() {
    m_counters = {};
    m_roundTripSumUs = m_roundTrips = 0;
    m_reads.clear();
}

void PortCounters::count(const modbus485::Exchange &x) {
    // A device found failed before anything was sent is no request's end; a read refused at once is counted
    // on its own.
    if (const int counter = modbus485::facts(x.outcome).counter;
        counter >= 0 && (x.sent || x.outcome == Outcome::Demoted))
        ++(*this)[counter];
    if (x.outcome == Outcome::Exception && x.answer[2] >= 1 && x.answer[2] <= 11)
        ++(*this)[MODBUS485_COUNTER_EXCEPTION_CODE(x.answer[2])];
    if (!x.dropped.empty())
        ++(*this)[MODBUS485_COUNTER_STRAY];
    if (!x.behind.empty())
        ++(*this)[MODBUS485_COUNTER_STRAY];
    if (!x.skipped.empty())
        ++(*this)[MODBUS485_COUNTER_STRAY];
    if (x.echo)
        ++(*this)[MODBUS485_COUNTER_ECHOES];
    if (x.sent) {
        (*this)[MODBUS485_COUNTER_TURNAROUND_MS] = x.allowanceMs;
        (*this)[MODBUS485_COUNTER_FRAME_GAP_MS] = x.frameGapMs;
    }
    if (!x.answer.empty()) {
        ++m_roundTrips;
        m_roundTripSumUs += x.roundTripUs;
        (*this)[MODBUS485_COUNTER_RTT_LAST_US] = x.roundTripUs;
        (*this)[MODBUS485_COUNTER_RTT_MEAN_US] = m_roundTripSumUs / m_roundTrips;
        (*this)[MODBUS485_COUNTER_RTT_MAX_US] =
            std::max((*this)[MODBUS485_COUNTER_RTT_MAX_US], x.roundTripUs);
    }
}

void PortCounters::remember(const modbus485::Exchange &x, Clock::time_point end) {
    const int address = x.request[2] << 8 | x.request[3];
    ReadRecord &record = m_reads[readKey(x.request[0], x.request[1], address)];
    record.outcome = x.outcome;
    record.exception = x.outcome == Outcome::Exception ? x.answer[2] : 0;
    record.roundTripUs = x.roundTripUs;
    record.end = end;
}

int PortCounters::fill(int32_t *values, int count) const {
    const int filled = std::min(count, MODBUS485_COUNTERS);
    for (int i = 0; i < filled; ++i)
        values[i] = clamp32(m_counters[static_cast<std::size_t>(i)]);
    return filled;
}

int PortCounters::lastRead(int station, int function, int address, Clock::time_point now, int32_t *values,
                           int count) const {
    ReadRecord record;
    if (auto it = m_reads.find(readKey(station, function, address)); it != m_reads.end())
        record = it->second;
    const int32_t all[MODBUS485_LASTREAD_VALUES] = {
        static_cast<int32_t>(record.outcome), record.exception, clamp32(record.roundTripUs),
        record.outcome == Outcome::None ? 0 : clamp32(duration_cast<milliseconds>(now - record.end).count())};
    const int filled = std::min(count, MODBUS485_LASTREAD_VALUES);
    std::copy(all, all + filled, values);
    return filled;
}
