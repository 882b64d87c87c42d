#include "WalkRules.h"

#include "ModuleMap.h"

#include <cmath>

namespace WalkRules {

void InputWatch::before(const std::optional<Inputs> &read) {
    if (read && m_last)
        for (int k = 0; k < ModuleMap::InputCount; ++k)
            if ((*read)[k] != (*m_last)[k])
                m_moving.insert(k);
    if (read)
        m_last = m_stable = read;
}

InputWatch::Event InputWatch::watch(const std::optional<Inputs> &read) {
    if (!read)
        return Event::None;
    const bool agrees = m_last && *read == *m_last;
    m_last = read;
    if (!agrees)
        return Event::None;
    if (!m_stable) {
        m_stable = read;
        return Event::None;
    }
    if (*read == *m_stable)
        return Event::None;
    for (int k = 0; k < ModuleMap::InputCount; ++k)
        if (k != m_index && !m_moving.count(k) && (*read)[k] != (*m_stable)[k]) {
            m_crossed = k + 1;
            return Event::CrossWired;
        }
    const bool moved = (*read)[m_index] != (*m_stable)[m_index];
    m_stable = read;
    if (!moved)
        return Event::None;
    return ++m_phase == 1 ? Event::Moved : Event::Back;
}

void CountWatch::cleared(qint64 now) {
    m_clearedAt = now;
    m_pulses = -1;
}

void CountWatch::expect(int pulses) {
    m_pulses = pulses;
    m_steadySince = -1;
}

CountWatch::Verdict CountWatch::read(int32_t value, qint64 now) {
    if (value != ModuleMap::Failed)
        m_count = value;
    if (m_pulses < 0) {
        if (value == 0)
            return Verdict::Cleared;
        return now - m_clearedAt >= m_clearAllowMs ? Verdict::ClearFailed : Verdict::Waiting;
    }
    if (value == ModuleMap::Failed)
        return Verdict::Waiting;
    if (m_count > m_pulses)
        return Verdict::Bounce;
    if (m_count != m_pulses) {
        m_steadySince = -1;
        return Verdict::Waiting;
    }
    if (m_steadySince < 0)
        m_steadySince = now;
    return now - m_steadySince >= m_steadyMs ? Verdict::Counted : Verdict::Waiting;
}

Frequency frequencyCheck(int32_t previous, int32_t now, int signalHz, double tolerancePercent) {
    if (now <= 0 || now != previous)
        return Frequency::Unsteady;
    return std::abs(now - signalHz) <= signalHz * tolerancePercent / 100 ? Frequency::Within : Frequency::Off;
}

Verdict outputVerdict(ReadBack readBack, FieldAnswer field, Defect given) {
    switch (readBack) {
    case ReadBack::NoAnswer:
        return {Result::Fail, given != Defect::None ? given : Defect::Comms};
    case ReadBack::Wrong:
        return {Result::Fail, given != Defect::None ? given : Defect::Module};
    case ReadBack::Confirmed:
        break;
    }
    switch (field) {
    case FieldAnswer::Moved:
        return {Result::Pass, Defect::None};
    case FieldAnswer::DidNotMove:
        return {Result::Fail, given != Defect::None ? given : Defect::FieldDevice};
    case FieldAnswer::Skipped:
        break;
    }
    return {Result::Skip, Defect::None};
}

Defect failureClass(Defect given, bool lineDown, Defect usual) {
    return given != Defect::None ? given : lineDown ? Defect::Comms : usual;
}

bool FieldTimeout::poll(qint64 now, bool lineDown) {
    if (lineDown) {
        if (m_downSince < 0)
            m_downSince = now;
        return false;
    }
    if (m_downSince >= 0) {
        m_deadline += now - m_downSince;
        m_downSince = -1;
    }
    return now >= m_deadline;
}

} // namespace WalkRules
