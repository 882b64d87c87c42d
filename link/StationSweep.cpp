#include "StationSweep.h"

#include "LineCodes.h"
#include "MODBUS485.h"
#include "ModuleMap.h"

#include <string>

StationSweep::StationSweep(Modbus485 &link, int32_t port)
    : m_link(link)
    , m_port(port) {}

bool StationSweep::open(LineSetting setting, int32_t first, int32_t last, std::string &error) {
    m_done = true;
    m_held = true; // a failed open is closed too, so the library forgets the attempt
    if (m_link.OpenPort_Modbus(m_port, setting.baudCode, setting.parityCode) != MODBUS485_OPEN_OK) {
        std::array<char, 512> reason{};
        m_link.GetPort_Info(m_port, reason.data(), static_cast<int32_t>(reason.size()));
        error = reason.data();
        return false;
    }
    m_link.SetPort_Turnaround(m_port, TurnaroundMs);
    m_done = false;
    m_last = last;
    m_station = first;
    m_askedSlowly = first - 1;
    m_again = 0;
    m_refused = false;
    m_answered.assign(static_cast<std::size_t>(last + 1), false);
    m_seen = somethingCameBack();
    return true;
}

void StationSweep::release() {
    m_done = true;
    if (m_held) {
        m_held = false;
        m_link.ClosePort_Modbus(m_port);
    }
}

StationSweep::Probe StationSweep::step() {
    m_waitMs = 0;
    Probe probed;
    probed.station = m_again ? m_again : m_station;
    probed.heard = probe(probed.station, probed);
    if (probed.heard == Heard::Answered)
        m_answered[static_cast<std::size_t>(probed.station)] = true;
    if (probed.heard == Heard::Refused && !m_refused) {
        // Refused without asking: the station was silent a moment ago. Ask again once that has passed.
        m_refused = true;
        m_waitMs = MODBUS485_DEMOTION_MS;
        return probed;
    }
    m_refused = false;
    if (m_again) {
        if (!(m_again = toAskAgain(m_again + 1))) {
            endSlowLook();
            nextStation();
        }
    } else if (somethingCameBack() != m_seen) {
        // Something answered after the short deadline; a late answer can show up several reads later, so
        // every station asked since the last such look is asked again.
        if ((m_again = toAskAgain(m_askedSlowly + 1))) {
            m_link.SetPort_Turnaround(m_port, SlowTurnaroundMs);
        } else {
            endSlowLook();
            nextStation();
        }
    } else {
        nextStation();
    }
    return probed;
}

int32_t StationSweep::toAskAgain(int32_t from) const {
    for (int32_t station = from; station <= m_station; ++station)
        if (!m_answered[static_cast<std::size_t>(station)])
            return station;
    return 0;
}

void StationSweep::endSlowLook() {
    m_again = 0;
    m_askedSlowly = m_station;
    m_link.SetPort_Turnaround(m_port, TurnaroundMs);
    m_seen = somethingCameBack();
}

void StationSweep::nextStation() {
    // The port stays open: the next setting's open sets the line up afresh.
    if (m_station == m_last)
        m_done = true;
    else
        ++m_station;
}

int64_t StationSweep::somethingCameBack() {
    std::array<int32_t, MODBUS485_COUNTERS> counters{};
    m_link.GetPort_Counters(m_port, counters.data(), MODBUS485_COUNTERS);
    int64_t sum = 0;
    for (const int counter :
         {MODBUS485_COUNTER_GARBLED, MODBUS485_COUNTER_WRONG_STATION, MODBUS485_COUNTER_STRAY,
          MODBUS485_COUNTER_LATE, MODBUS485_COUNTER_CUT_SHORT, MODBUS485_COUNTER_MISMATCHED})
        sum += counters[static_cast<std::size_t>(counter)];
    return sum;
}

int32_t StationSweep::lastOutcome(Modbus485 &link, int32_t port, int32_t station, int32_t function,
                                  int32_t start, int32_t *answerUs) {
    std::array<int32_t, MODBUS485_LASTREAD_VALUES> last{};
    if (link.GetPort_LastRead(port, station, function, start, last.data(), MODBUS485_LASTREAD_VALUES) <=
        MODBUS485_LASTREAD_OUTCOME)
        return MODBUS485_OUTCOME_NONE;
    if (answerUs)
        *answerUs = last[MODBUS485_LASTREAD_RTT_US];
    return last[MODBUS485_LASTREAD_OUTCOME];
}

StationSweep::Heard StationSweep::probe(int32_t station, Probe &probed) {
    std::array<int32_t, 2> inputs{};
    const bool good =
        m_link.Get_1X_B16(m_port, station, ModuleMap::InputBlockStart, inputs) != MODBUS485_FAILED;
    probed.outcome = lastOutcome(m_link, m_port, station, modbus485::ReadInputs, ModuleMap::InputBlockStart,
                                 &probed.answerUs);
    if (good)
        return Heard::Answered;
    if (probed.outcome == MODBUS485_OUTCOME_EXCEPTION)
        return Heard::Answered; // a module that refuses is a module that heard us
    return probed.outcome == MODBUS485_OUTCOME_DEMOTED ? Heard::Refused : Heard::Silent;
}
