#include "ModuleScan.h"

#include "LineCodes.h"
#include "MODBUS485.h"
#include "ModuleMap.h"

#include <array>
#include <exception>

namespace {

using namespace modbus485;

// The order in which line settings are tried: the window's default baud rate first, each baud rate with
// every parity.
constexpr std::array<int32_t, BaudCodes> BaudOrder{1, 2, 0};
constexpr std::array<int32_t, ParityCodes> ParityOrder{ParityNone, ParityOdd, ParityEven};
constexpr int Settings = BaudCodes * ParityCodes;

} // namespace

ModuleScan::ModuleScan(Modbus485 &link, int32_t port)
    : m_link(link)
    , m_port(port) {}

ModuleScan::~ModuleScan() {
    try {
        stop();
    } catch (const std::exception &) {
        // The library went away under the scan: there is no port left to release.
    }
}

int32_t ModuleScan::baudCode() const {
    return BaudOrder[static_cast<std::size_t>(m_setting < 0 ? 0 : m_setting / ParityCodes)];
}

int32_t ModuleScan::parityCode() const {
    return ParityOrder[static_cast<std::size_t>(m_setting < 0 ? 0 : m_setting % ParityCodes)];
}

void ModuleScan::stop() {
    if (m_result == Step::Scanning)
        finish(Step::Stopped);
}

ModuleScan::Step ModuleScan::finish(Step result) {
    m_result = result;
    m_waitMs = 0;
    if (m_open) {
        m_open = false;
        m_link.ClosePort_Modbus(m_port);
    }
    return result;
}

ModuleScan::Step ModuleScan::step() {
    m_waitMs = 0;
    if (m_result != Step::Scanning)
        return m_result;
    if (m_needOpen)
        return openNext();

    const int32_t station = m_again ? m_again : m_station;
    const Probe probed = probe(station);
    if (probed == Probe::Answered) {
        std::array<int32_t, MODBUS485_LASTREAD_VALUES> last{};
        m_link.GetPort_LastRead(m_port, station, ReadInputs, ModuleMap::InputBlockStart, last.data(),
                                MODBUS485_LASTREAD_VALUES);
        m_found = {station, baudCode(), parityCode(), last[MODBUS485_LASTREAD_RTT_US]};
        return finish(Step::Found);
    }
    if (probed == Probe::Refused && !m_refused) {
        // Refused without asking: the station was silent a moment ago. Ask again once that has passed.
        m_refused = true;
        m_waitMs = MODBUS485_DEMOTION_MS;
        return Step::Scanning;
    }
    m_refused = false;
    if (m_again) {
        if (++m_again > m_station) {
            endSlowLook();
            nextStation();
        }
    } else if (somethingCameBack() != m_seen) {
        // Something answered after the short deadline; a late answer can show up several probes later, so
        // every station asked since the last such look is asked again.
        m_link.SetPort_Turnaround(m_port, SlowTurnaroundMs);
        m_again = m_askedSlowly + 1;
    } else {
        nextStation();
    }
    return Step::Scanning;
}

ModuleScan::Step ModuleScan::openNext() {
    if (m_setting + 1 == Settings)
        return finish(Step::NothingAnswered);
    ++m_setting;
    m_needOpen = false;
    m_station = FirstStation;
    m_askedSlowly = FirstStation - 1;
    m_again = 0;
    m_refused = false;
    const int32_t opened = m_link.OpenPort_Modbus(m_port, baudCode(), parityCode());
    m_open = true;
    if (opened != MODBUS485_OPEN_OK) {
        std::array<char, 512> reason{};
        m_link.GetPort_Info(m_port, reason.data(), static_cast<int32_t>(reason.size()));
        m_openError = reason.data();
        return finish(Step::CannotOpen);
    }
    m_link.SetPort_Turnaround(m_port, TurnaroundMs);
    m_seen = somethingCameBack();
    return Step::Scanning;
}

void ModuleScan::endSlowLook() {
    m_again = 0;
    m_askedSlowly = m_station;
    m_link.SetPort_Turnaround(m_port, TurnaroundMs);
    m_seen = somethingCameBack();
}

void ModuleScan::nextStation() {
    // The port stays open: the next setting's open sets the line up afresh.
    if (m_station == LastStation)
        m_needOpen = true;
    else
        ++m_station;
}

int64_t ModuleScan::somethingCameBack() {
    std::array<int32_t, MODBUS485_COUNTERS> counters{};
    m_link.GetPort_Counters(m_port, counters.data(), MODBUS485_COUNTERS);
    int64_t sum = 0;
    for (const int counter :
         {MODBUS485_COUNTER_GARBLED, MODBUS485_COUNTER_WRONG_STATION, MODBUS485_COUNTER_STRAY,
          MODBUS485_COUNTER_LATE, MODBUS485_COUNTER_CUT_SHORT, MODBUS485_COUNTER_MISMATCHED})
        sum += counters[static_cast<std::size_t>(counter)];
    return sum;
}

ModuleScan::Probe ModuleScan::probe(int32_t station) {
    std::array<int32_t, 2> inputs{};
    if (m_link.Get_1X_B16(m_port, station, ModuleMap::InputBlockStart, inputs) != MODBUS485_FAILED)
        return Probe::Answered;
    std::array<int32_t, MODBUS485_LASTREAD_VALUES> last{};
    if (m_link.GetPort_LastRead(m_port, station, ReadInputs, ModuleMap::InputBlockStart, last.data(),
                                MODBUS485_LASTREAD_VALUES) <= MODBUS485_LASTREAD_OUTCOME)
        return Probe::Silent;
    const int32_t outcome = last[MODBUS485_LASTREAD_OUTCOME];
    if (outcome == MODBUS485_OUTCOME_EXCEPTION)
        return Probe::Answered; // a module that refuses is a module that heard us
    return outcome == MODBUS485_OUTCOME_DEMOTED ? Probe::Refused : Probe::Silent;
}
