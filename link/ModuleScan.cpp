#include "ModuleScan.h"

#include <exception>

ModuleScan::ModuleScan(Modbus485 &link, int32_t port)
    : m_sweep(link, port) {}

ModuleScan::~ModuleScan() {
    try {
        stop();
    } catch (const std::exception &) {
        // The library went away under the scan: there is no port left to release.
    }
}

int32_t ModuleScan::baudCode() const {
    return StationSweep::SearchOrder[static_cast<std::size_t>(m_setting < 0 ? 0 : m_setting)].baudCode;
}

int32_t ModuleScan::parityCode() const {
    return StationSweep::SearchOrder[static_cast<std::size_t>(m_setting < 0 ? 0 : m_setting)].parityCode;
}

void ModuleScan::stop() {
    if (m_result == Step::Scanning)
        finish(Step::Stopped);
}

ModuleScan::Step ModuleScan::finish(Step result) {
    m_result = result;
    m_waitMs = 0;
    m_sweep.release();
    return result;
}

ModuleScan::Step ModuleScan::step() {
    m_waitMs = 0;
    if (m_result != Step::Scanning)
        return m_result;
    if (m_sweep.done()) {
        // The port stays open between settings: the next setting's open sets the line up afresh.
        if (m_setting + 1 == static_cast<int>(StationSweep::SearchOrder.size()))
            return finish(Step::NothingAnswered);
        ++m_setting;
        if (!m_sweep.open(StationSweep::SearchOrder[static_cast<std::size_t>(m_setting)], FirstStation,
                          LastStation, m_openError))
            return finish(Step::CannotOpen);
        return Step::Scanning;
    }
    const StationSweep::Probe probed = m_sweep.step();
    m_waitMs = m_sweep.waitMs();
    if (probed.heard == StationSweep::Heard::Answered) {
        m_found = {probed.station, baudCode(), parityCode(), probed.answerUs};
        return finish(Step::Found);
    }
    return Step::Scanning;
}
