#include "ModuleState.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {
bool holdingReadable(int item) {
    return (item >= 1 && item <= ModuleState::HoldingItems) || item == ModuleState::ParityRegister;
}

// True when `count` holding registers from `first`, at least one, all exist.
bool holdingRange(int first, int count) {
    for (int item = first; item < first + count; ++item)
        if (!holdingReadable(item))
            return false;
    return count >= 1;
}

bool rangeInside(int first, int count, int lastItem) {
    return count >= 1 && first >= 1 && first + count - 1 <= lastItem;
}

constexpr std::chrono::microseconds BurstPeriod{1000000 / ModuleState::BurstHertz};
} // namespace

ModuleState::ModuleState()
    : m_lastAdvance(Clock::now()) {}

uint8_t ModuleState::readCoils(int first, int count, std::vector<bool> &bits) {
    if (!rangeInside(first, count, CoilItems))
        return IllegalAddress;
    bits.assign(m_coils.begin() + first - 1, m_coils.begin() + first - 1 + count);
    return Served;
}

uint8_t ModuleState::readInputs(int first, int count, std::vector<bool> &bits) {
    if (!rangeInside(first, count, InputItems))
        return IllegalAddress;
    const auto now = Clock::now();
    bits.clear();
    for (int item = first; item < first + count; ++item)
        bits.push_back(inputNow(static_cast<std::size_t>(item - 1), now));
    return Served;
}

uint8_t ModuleState::readInputRegisters(int first, int count, std::vector<uint16_t> &values) {
    if (!rangeInside(first, count, InputRegisterItems))
        return IllegalAddress;
    advanceCounters();
    values.assign(m_inputRegisters.begin() + first - 1, m_inputRegisters.begin() + first - 1 + count);
    return Served;
}

uint8_t ModuleState::readHoldingRegisters(int first, int count, std::vector<uint16_t> &values) {
    if (!holdingRange(first, count))
        return IllegalAddress;
    advanceCounters();
    values.clear();
    for (int item = first; item < first + count; ++item)
        values.push_back(item == ParityRegister ? m_parity : m_holding[item - 1]);
    return Served;
}

uint8_t ModuleState::writeCoil(int item, bool closed) {
    if (item < 1 || item > WritableCoils)
        return IllegalAddress;
    m_coils[item - 1] = closed;
    return Served;
}

uint8_t ModuleState::writeHoldingRegister(int item, uint16_t value) {
    if (!holdingReadable(item))
        return IllegalAddress;
    advanceCounters();
    if (item == ParityRegister)
        m_parity = value;
    else
        m_holding[item - 1] = value;
    if (item >= 1 && item <= Counters && value == 0)
        m_pulseFraction[item - 1] = 0; // a cleared counter starts from a whole pulse
    return Served;
}

uint8_t ModuleState::writeCoils(int first, const std::vector<bool> &bits) {
    if (!rangeInside(first, static_cast<int>(bits.size()), WritableCoils))
        return IllegalAddress;
    for (size_t i = 0; i < bits.size(); ++i)
        m_coils[first - 1 + i] = bits[i];
    return Served;
}

uint8_t ModuleState::writeHoldingRegisters(int first, const std::vector<uint16_t> &values) {
    if (!holdingRange(first, static_cast<int>(values.size())))
        return IllegalAddress;
    for (size_t i = 0; i < values.size(); ++i)
        writeHoldingRegister(first + static_cast<int>(i), values[i]);
    return Served;
}

bool ModuleState::setInput(int item, bool closed) {
    if (item < 1 || item > InputItems)
        return false;
    m_inputs[item - 1] = closed;
    return true;
}

bool ModuleState::setCoil(int item, bool closed) {
    if (item < 1 || item > CoilItems)
        return false;
    m_coils[item - 1] = closed;
    return true;
}

bool ModuleState::setInputRegister(int item, uint16_t value) {
    if (item < 1 || item > InputRegisterItems)
        return false;
    advanceCounters();
    m_inputRegisters[item - 1] = value;
    return true;
}

bool ModuleState::setPulses(int counter, double hertz) {
    if (counter < 1 || counter > Counters || !(hertz >= 0) || hertz > 65535)
        return false;
    advanceCounters();
    m_pulseRate[counter - 1] = hertz;
    m_inputRegisters[counter - 1] = static_cast<uint16_t>(std::lround(hertz));
    return true;
}

bool ModuleState::burst(int counter, int pulses) {
    if (counter < 1 || counter > Counters || pulses < 1 || pulses > 65535)
        return false;
    advanceCounters();
    Burst &b = m_bursts[counter - 1];
    if (b.counted == b.pulses && Clock::now() >= b.start + b.pulses * BurstPeriod)
        b = Burst{Clock::now(), pulses, 0};
    else
        b.pulses += pulses; // the train goes on at its pace
    advanceCounters();
    return true;
}

bool ModuleState::inputNow(std::size_t index, Clock::time_point now) const {
    bool closed = m_inputs[index];
    if (index < m_bursts.size()) {
        const Burst &b = m_bursts[index];
        const auto into = now - b.start;
        if (into >= Clock::duration::zero() && into < b.pulses * BurstPeriod &&
            into % BurstPeriod < BurstPeriod / 2)
            closed = !closed;
    }
    return closed;
}

void ModuleState::advanceCounters() {
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - m_lastAdvance).count();
    m_lastAdvance = now;
    for (int i = 0; i < Counters; ++i) {
        if (m_pulseRate[i] <= 0)
            continue;
        m_pulseFraction[i] += m_pulseRate[i] * seconds;
        const double whole = std::floor(m_pulseFraction[i]);
        m_pulseFraction[i] -= whole;
        // The count is a 16-bit register and wraps like the module's.
        m_holding[i] = static_cast<uint16_t>((m_holding[i] + static_cast<uint64_t>(whole)) & 0xFFFF);
    }
    for (int i = 0; i < Counters; ++i) {
        Burst &b = m_bursts[i];
        if (b.counted == b.pulses)
            continue;
        // Pulse k closes the input at start + k periods.
        const auto closed = std::min<long long>(b.pulses, (now - b.start) / BurstPeriod + 1);
        m_holding[i] = static_cast<uint16_t>((m_holding[i] + closed - b.counted) & 0xFFFF);
        b.counted = static_cast<int>(closed);
    }
}

std::string ModuleState::dump() {
    advanceCounters();
    std::ostringstream out;
    out << "coils=";
    for (bool b : m_coils)
        out << (b ? '1' : '0');
    out << " inputs=";
    const auto now = Clock::now();
    for (std::size_t i = 0; i < m_inputs.size(); ++i)
        out << (inputNow(i, now) ? '1' : '0');
    out << " input-registers=";
    for (size_t i = 0; i < m_inputRegisters.size(); ++i)
        out << (i ? "," : "") << m_inputRegisters[i];
    out << " holding-registers=";
    for (size_t i = 0; i < m_holding.size(); ++i)
        out << (i ? "," : "") << m_holding[i];
    out << " parity=" << static_cast<int16_t>(m_parity) << " pulses=";
    for (size_t i = 0; i < m_pulseRate.size(); ++i)
        out << (i ? "," : "") << m_pulseRate[i];
    return out.str();
}
