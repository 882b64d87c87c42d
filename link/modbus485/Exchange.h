#pragma once

#include "MODBUS485.h"
#include "RtuFrame.h"

#include <array>
#include <cstdint>
#include <vector>

namespace modbus485 {

// How one call on a port ended: the MODBUS485_OUTCOME_ codes, which run from 0 without a gap.
enum class Outcome {
    None = MODBUS485_OUTCOME_NONE,
    Good = MODBUS485_OUTCOME_GOOD,
    NoAnswer = MODBUS485_OUTCOME_NO_ANSWER,
    Garbled = MODBUS485_OUTCOME_GARBLED,
    WrongStation = MODBUS485_OUTCOME_WRONG_STATION,
    Exception = MODBUS485_OUTCOME_EXCEPTION,
    Late = MODBUS485_OUTCOME_LATE,
    Demoted = MODBUS485_OUTCOME_DEMOTED,
    DeviceFailed = MODBUS485_OUTCOME_DEVICE_FAILED,
    NotOpen = MODBUS485_OUTCOME_NOT_OPEN,
    CutShort = MODBUS485_OUTCOME_CUT_SHORT,
    Mismatched = MODBUS485_OUTCOME_MISMATCHED
};
constexpr int OutcomeCount = static_cast<int>(Outcome::Mismatched) + 1;

// A table with one entry per outcome, checked for size where it is written.
template <typename T> using PerOutcome = std::array<T, OutcomeCount>;

// What each outcome is for the port's counts and its trace: the MODBUS485_COUNTER_ it is counted under (-1
// for none; those of a request sent add up to the requests) and the trace's word for it.
struct OutcomeFacts {
    int counter;
    const char *trace;
};
inline constexpr PerOutcome<OutcomeFacts> Outcomes = {{
    {-1, "none"},
    {MODBUS485_COUNTER_GOOD, "good"},
    {MODBUS485_COUNTER_NO_ANSWER, "no answer"},
    {MODBUS485_COUNTER_GARBLED, "CRC error"},
    {MODBUS485_COUNTER_WRONG_STATION, "wrong station"},
    {MODBUS485_COUNTER_EXCEPTIONS, "exception"},
    {MODBUS485_COUNTER_LATE, "late"},
    {MODBUS485_COUNTER_DEMOTED, "demoted"},
    {MODBUS485_COUNTER_DEVICE_FAILED, "device failed"},
    {-1, "not open"},
    {MODBUS485_COUNTER_CUT_SHORT, "cut short"},
    {MODBUS485_COUNTER_MISMATCHED, "mismatched"},
}};
inline constexpr const OutcomeFacts &facts(Outcome outcome) {
    return Outcomes[static_cast<std::size_t>(outcome)];
}

// One exchange's request and what came back, for the counters, the last-read records and the trace.
struct Exchange {
    RtuRequest request{};
    bool isRead = false;
    std::vector<uint8_t> dropped; // cleared from the line before the request
    bool echo = false;            // the adapter's echo of the request came back first, and was skipped
    std::vector<uint8_t> skipped; // bytes ahead of the answer, skipped
    std::vector<uint8_t> answer;
    std::vector<uint8_t> behind; // found on the heels of the answer, and taken off the line
    bool answeredLate = false;   // no answer by its deadline, but one came while it was listened for
    bool sent = false;
    Outcome outcome = Outcome::None;
    int64_t roundTripUs = 0;
    int allowanceMs = 0; // for the module's turnaround, on top of the frames' time on the wire
    int frameGapMs = 0;  // the pause before the request after the line went quiet
};

} // namespace modbus485
