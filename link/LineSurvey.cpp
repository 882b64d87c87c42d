#include "LineSurvey.h"

#include "LineCodes.h"
#include "MODBUS485.h"
#include "ModuleMap.h"

#include <algorithm>
#include <array>
#include <exception>

namespace {

using namespace modbus485;

// What a garbled answer to a station looks like at a setting: a CRC that fails, or a frame cut short or not
// the answer asked for, as two modules answering at once leave it.
bool garbled(int32_t outcome) {
    return outcome == MODBUS485_OUTCOME_GARBLED || outcome == MODBUS485_OUTCOME_CUT_SHORT ||
           outcome == MODBUS485_OUTCOME_MISMATCHED;
}

} // namespace

LineSurvey::LineSurvey(Modbus485 &link, int32_t port, int32_t firstStation, int32_t lastStation,
                       std::vector<LineSetting> settings)
    : m_link(link)
    , m_port(port)
    , m_first(firstStation)
    , m_last(lastStation)
    , m_settings(std::move(settings))
    , m_sweep(link, port) {}

LineSurvey::~LineSurvey() {
    try {
        stop();
    } catch (const std::exception &) {
        // The library went away under the survey: there is no port left to release.
    }
}

std::vector<LineSurvey::LineSetting> LineSurvey::allSettings() {
    return {StationSweep::SearchOrder.begin(), StationSweep::SearchOrder.end()};
}

std::string LineSurvey::remark(const Module &module) {
    std::string text;
    if (module.severalSettings)
        text = "多个设置均应答";
    if (module.maybeDuplicate)
        text += (text.empty() ? "" : "；") + std::string("可能站号重复");
    return text;
}

LineSurvey::Step LineSurvey::step() {
    m_waitMs = 0;
    if (m_result != Step::Surveying)
        return m_result;
    if (m_closer && lookCloser())
        return Step::Surveying;
    if (m_sweep.done()) {
        if (m_setting >= 0)
            endSetting();
        if (m_setting + 1 >= static_cast<int>(m_settings.size()))
            return finish(Step::Done);
        ++m_setting;
        m_garbled.clear();
        m_answeredHere = false;
        // The port stays open between settings: the next setting's open sets the line up afresh.
        if (!m_sweep.open(setting(), m_first, m_last, m_openError))
            return finish(Step::CannotOpen);
        return Step::Surveying;
    }
    const StationSweep::Probe probed = m_sweep.step();
    m_waitMs = m_sweep.waitMs();
    heard(probed);
    return Step::Surveying;
}

void LineSurvey::heard(const StationSweep::Probe &probed) {
    std::erase(m_garbled, probed.station);
    if (probed.heard != StationSweep::Heard::Answered) {
        if (garbled(probed.outcome))
            m_garbled.push_back(probed.station);
        return;
    }
    m_answeredHere = true;
    Module module;
    module.station = probed.station;
    module.setting = setting();
    module.answerUs = probed.answerUs;
    add(module);
    // A refusal of the inputs already says it is not a QM4107; the closer look still reads its parity.
    m_closer = probed.station;
    m_closerRead = 0;
    m_closerGood = probed.outcome == MODBUS485_OUTCOME_GOOD;
    // Time enough for each of these reads: the module has shown that it answers.
    m_link.SetPort_Turnaround(m_port, StationSweep::SlowTurnaroundMs);
}

bool LineSurvey::lookCloser() {
    struct Read {
        int32_t function;
        int32_t start;
    };
    static constexpr std::array<Read, 5> Reads{{{ReadCoils, ModuleMap::CoilBlockStart},
                                                {ReadInputRegisters, ModuleMap::FrequencyBlockStart},
                                                {ReadHoldingRegisters, ModuleMap::CounterBlockStart},
                                                {ReadHoldingRegisters, ModuleMap::ClearModeX3Register},
                                                {ReadHoldingRegisters, ModuleMap::ParityRegister}}};
    const std::size_t index = static_cast<std::size_t>(m_closerRead);
    if (index == Reads.size()) {
        m_closer = 0;
        m_link.SetPort_Turnaround(m_port, m_sweep.turnaroundMs());
        return false;
    }
    const Read read = Reads[index];
    std::array<int32_t, 2> bits{};
    std::array<int32_t, 8> registers{};
    int32_t value = ModuleMap::Failed;
    if (index == 0)
        m_link.Get_0X_B16(m_port, m_closer, read.start, bits);
    else if (index == 1)
        m_link.Get_3X_UnD8(m_port, m_closer, read.start, registers);
    else if (index == 2)
        m_link.Get_4X_UnD8(m_port, m_closer, read.start, registers);
    else if (index == 3)
        m_link.Get_4X_UnD1(m_port, m_closer, read.start);
    else
        value = m_link.Get_4X_D1(m_port, m_closer, read.start);
    const bool good = StationSweep::lastOutcome(m_link, m_port, m_closer, read.function, read.start) ==
                      MODBUS485_OUTCOME_GOOD;
    m_closerGood = m_closerGood && good;
    ++m_closerRead;
    if (index + 1 == Reads.size()) {
        const LineSetting here = setting();
        const int32_t station = m_closer;
        const auto module = std::find_if(m_modules.begin(), m_modules.end(), [&](const Module &m) {
            return m.station == station && m.setting == here;
        });
        module->qm4107 = m_closerGood;
        module->moduleParity = good ? value : -1;
    }
    return true;
}

void LineSurvey::endSetting() {
    if (!m_answeredHere)
        return;
    std::sort(m_garbled.begin(), m_garbled.end());
    for (const int32_t station : m_garbled) {
        Module module;
        module.station = station;
        module.setting = setting();
        module.maybeDuplicate = true;
        add(module);
    }
    m_garbled.clear();
}

void LineSurvey::add(const Module &module) {
    const auto at = std::upper_bound(m_modules.begin(), m_modules.end(), module.station,
                                     [](int32_t station, const Module &m) { return station < m.station; });
    const Module &added = *m_modules.insert(at, module);
    if (added.answerUs < 0)
        return;
    // Answers at two settings: both are listed, each with the mark.
    const auto answering = [&](const Module &m) { return m.station == added.station && m.answerUs >= 0; };
    if (std::count_if(m_modules.begin(), m_modules.end(), answering) > 1)
        for (Module &m : m_modules)
            if (answering(m))
                m.severalSettings = true;
}

LineSurvey::Step LineSurvey::finish(Step result) {
    m_result = result;
    m_waitMs = 0;
    m_sweep.release();
    return result;
}
