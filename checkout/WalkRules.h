#pragma once

#include "CheckRecord.h"
#include "ModuleMap.h"

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <optional>
#include <set>

// The walk's judgements, apart from the line: each takes what was read (and when) and says what it means.
// The walk asks, reads, records and puts back; these decide.
namespace WalkRules {

// X1-X10 as read, 0 or 1 each; a read that failed is nullopt.
using Inputs = std::array<int, 10>;

// Watching one input the engineer moves and puts back. Before the prompt, reads find the inputs that move on
// their own (field pulses), which are then left out. A value counts once two reads in a row agree.
class InputWatch {
public:
    enum class Event { None, Moved, Back, CrossWired };

    explicit InputWatch(int input)
        : m_index(input - 1) {}

    // A read before the prompt.
    void before(const std::optional<Inputs> &read);
    // A read after it: Moved and Back for the input asked for, CrossWired when another input moved first.
    Event watch(const std::optional<Inputs> &read);
    // A value to judge changes against has been read.
    bool hasBaseline() const { return m_stable.has_value(); }
    // 0 while waiting for the change, 1 while waiting for it to go back, 2 when it has.
    int phase() const { return m_phase; }
    // The input that moved instead, from 1; 0 for none.
    int crossed() const { return m_crossed; }

private:
    int m_index;
    int m_phase = 0;
    int m_crossed = 0;
    std::set<int> m_moving;
    std::optional<Inputs> m_last;   // the last read
    std::optional<Inputs> m_stable; // the last value counted
};

// Watching a counter: first its clear read back, then the pulses the engineer sends.
class CountWatch {
public:
    enum class Verdict { Waiting, Cleared, ClearFailed, Counted, Bounce };

    CountWatch(qint64 clearAllowMs, qint64 steadyMs)
        : m_clearAllowMs(clearAllowMs)
        , m_steadyMs(steadyMs) {}

    // The clear was written at `now`; reads from here on judge it.
    void cleared(qint64 now);
    // The pulses sent; reads from here on count them.
    void expect(int pulses);
    // A read of the count (MODBUS485's failure value when it failed) at `now`. While the clear is judged:
    // Cleared on a 0, ClearFailed once its allowance is over. While pulses are counted: Counted once the
    // count has stayed at the pulses sent for the steady time, Bounce as soon as it is above them.
    Verdict read(int32_t value, qint64 now);
    // The last count read, MODBUS485's failure value before any.
    int32_t count() const { return m_count; }

private:
    qint64 m_clearAllowMs;
    qint64 m_steadyMs;
    qint64 m_clearedAt = -1;
    int m_pulses = -1;
    int32_t m_count = ModuleMap::Failed;
    qint64 m_steadySince = -1;
};

// A frequency against a known signal: Unsteady until two reads in a row agree on a non-zero value (a reading
// of 0 is no signal, not a frequency to compare), then Within or Off the tolerance in percent.
enum class Frequency { Unsteady, Within, Off };
Frequency frequencyCheck(int32_t previous, int32_t now, int signalHz, double tolerancePercent);

// What an output's test comes to.
struct Verdict {
    Result result = Result::Untested;
    Defect defect = Defect::None;
    bool operator==(const Verdict &) const = default;
};
enum class ReadBack { Confirmed, Wrong, NoAnswer };
enum class FieldAnswer { Moved, DidNotMove, Skipped };
// An output switched and read back, then confirmed in the field (when it was confirmed). `given` is the
// engineer's class for a failure, None to leave it to the rule.
Verdict outputVerdict(ReadBack readBack, FieldAnswer field, Defect given);

// A failure's class: the engineer's when given; 通讯 while the line is down; else the usual one.
Defect failureClass(Defect given, bool lineDown, Defect usual);

// A field wait's time limit that stands still while the line is down and moves on with 延长.
class FieldTimeout {
public:
    FieldTimeout(qint64 now, qint64 limitMs)
        : m_limitMs(limitMs)
        , m_deadline(now + limitMs) {}
    // A poll at `now`, with the line down or up; true when the time is up.
    bool poll(qint64 now, bool lineDown);
    void extend(qint64 now) { m_deadline = now + m_limitMs; }

private:
    qint64 m_limitMs;
    qint64 m_deadline;
    qint64 m_downSince = -1;
};

} // namespace WalkRules
