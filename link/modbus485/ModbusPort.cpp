#include "ModbusPort.h"

#include "LineCodes.h"

#include "PortWords.h"
#include "Trace.h"

#include <algorithm>
#include <cstdlib>

using namespace std::chrono;

namespace {
// MODBUS485_TURNAROUND_MS=N (1-10000) fixes the allowance for the module's turnaround; else 0, learned.
int turnaroundFromEnvironment() {
    const char *variable = std::getenv("MODBUS485_TURNAROUND_MS");
    if (!variable)
        return 0;
    char *end = nullptr;
    const long ms = std::strtol(variable, &end, 10);
    return end != variable && *end == '\0' && ms >= 1 && ms <= 10000 ? static_cast<int>(ms) : 0;
}
} // namespace

ModbusPort::ModbusPort(int number)
    : ModbusPort(number, m_serial, m_steadyClock) {}

ModbusPort::ModbusPort(int number, Device &device, LineClock &clock)
    : m_number(number)
    , m_device(device)
    , m_clock(clock)
    , m_hygiene(m_device, m_clock) {}

Device::OpenResult ModbusPort::openLine(Device::OpenFor purpose) {
    m_device.close();
    return m_device.open(m_mapping.device, m_baud, m_parity, purpose);
}

int ModbusPort::open(int baud, char parity, bool protocolAddressing) {
    std::lock_guard lock(m_mutex);
    m_device.close();
    {
        std::lock_guard state(m_stateMutex);
        m_open = false;
        m_trace.reset();
        m_mapping = modbus485::resolvePort(m_number);
        m_counters.reset();
    }
    m_baud = baud;
    m_parity = parity;
    const Device::OpenResult opened = openLine();
    std::lock_guard state(m_stateMutex);
    m_openResult = opened;
    if (m_openResult.error != Device::OpenError::None)
        return MODBUS485_OPEN_DEVICE_ERROR;
    m_open = true;
    m_hygiene.reset(baud, parity, turnaroundFromEnvironment());
    m_protocolAddressing = protocolAddressing;
    m_deviceFailed = false;
    return MODBUS485_OPEN_OK;
}

void ModbusPort::close() {
    std::lock_guard lock(m_mutex);
    m_device.close();
    std::lock_guard state(m_stateMutex);
    m_open = false;
    m_trace.reset();
}

bool ModbusPort::protocolAddressing() {
    std::lock_guard state(m_stateMutex);
    return m_protocolAddressing;
}

int ModbusPort::status() {
    std::lock_guard lock(m_mutex);
    if (!m_open)
        return MODBUS485_STATUS_NOT_OPEN;
    return deviceFailedLocked() ? MODBUS485_STATUS_DEVICE_FAILED : MODBUS485_STATUS_OK;
}

bool ModbusPort::deviceFailedLocked() {
    if (!m_deviceFailed && m_device.hungUp())
        failDevice();
    return m_deviceFailed && !reopenLocked();
}

void ModbusPort::failDevice() {
    // Let go of it at once: a USB adapter plugged back in gets its old name only once nothing holds that.
    m_deviceFailed = true;
    m_device.close();
}

bool ModbusPort::reopenLocked() {
    // An adapter plugged back in comes back under the same path; until then the path is gone or refuses.
    if (!m_device.present(m_mapping.device))
        return false;
    // Who holds a busy device matters only to an operator's open: a re-plug retry does not look.
    if (openLine(Device::OpenFor::Replug).error != Device::OpenError::None)
        return false;
    m_deviceFailed = false;
    m_hygiene.restart();
    return true;
}

std::string ModbusPort::info() {
    std::lock_guard state(m_stateMutex);
    return modbus485::portInfo(m_number, m_open ? m_mapping : modbus485::resolvePort(m_number), m_open,
                               m_openResult, m_mapping.device);
}

bool ModbusPort::setTurnaround(int milliseconds) {
    std::lock_guard lock(m_mutex);
    if (!m_open)
        return false;
    m_hygiene.setTurnaround(milliseconds);
    return true;
}

bool ModbusPort::setTrace(const std::string &path) {
    std::lock_guard lock(m_mutex);
    if (!m_open)
        return false;
    auto own = path.empty() ? nullptr : std::make_unique<Trace>();
    if (own && !own->start(path))
        return false;
    std::lock_guard state(m_stateMutex);
    m_trace = std::move(own);
    return true;
}

Trace &ModbusPort::trace() {
    return m_trace ? *m_trace : Trace::instance();
}

int ModbusPort::counters(int32_t *values, int count) {
    std::lock_guard state(m_stateMutex);
    const int filled = m_counters.fill(values, count);
    if (filled > MODBUS485_COUNTER_TRACE_STOPPED)
        values[MODBUS485_COUNTER_TRACE_STOPPED] = trace().stopReason();
    return filled;
}

int ModbusPort::lastRead(int station, int function, int address, int32_t *values, int count) {
    std::lock_guard state(m_stateMutex);
    const int filled = m_counters.lastRead(station, function, address, m_clock.now(), values, count);
    // After a close or a failed open, whatever the read's last exchange was, the read now finds the port
    // shut.
    if (!m_open && filled > MODBUS485_LASTREAD_OUTCOME) {
        std::fill(values, values + filled, 0);
        values[MODBUS485_LASTREAD_OUTCOME] = MODBUS485_OUTCOME_NOT_OPEN;
    }
    return filled;
}

ModbusPort::Outcome ModbusPort::exchange(Exchange &x) {
    std::lock_guard lock(m_mutex);
    x.outcome = exchangeLocked(x);
    record(x);
    return x.outcome;
}

void ModbusPort::record(const Exchange &x) {
    std::lock_guard state(m_stateMutex);
    m_counters.count(x);
    if (x.isRead)
        m_counters.remember(x, m_clock.now());
    if (x.sent && trace().enabled() &&
        !trace().write(traceLine(system_clock::now(), m_number, m_mapping.device, x)))
        ++m_counters[MODBUS485_COUNTER_TRACE_DROPPED];
}

ModbusPort::Outcome ModbusPort::exchangeLocked(Exchange &x) {
    if (!m_open)
        return Outcome::NotOpen;
    if (m_deviceFailed && !reopenLocked())
        return Outcome::DeviceFailed;
    if (!x.isRead && m_hygiene.echo() == LineHygiene::Echo::Unknown) {
        // Until a read has shown whether the adapter echoes, a write's answer cannot be told from its echo:
        // one read of the same station and item first shows it, whether or not the module answers.
        Exchange probe;
        probe.request = modbus485::rtuRequest(
            x.request[0],
            x.request[1] == modbus485::WriteCoil ? modbus485::ReadCoils : modbus485::ReadHoldingRegisters,
            x.request[2] << 8 | x.request[3], 1);
        probe.isRead = true;
        probe.outcome = sendLocked(probe);
        if (probe.sent)
            record(probe);
        if (probe.outcome == Outcome::DeviceFailed)
            return Outcome::DeviceFailed;
    }
    return sendLocked(x);
}

ModbusPort::Outcome ModbusPort::sendLocked(Exchange &x) {
    if (m_hygiene.refuses(x))
        return Outcome::Demoted;
    {
        std::lock_guard state(m_stateMutex);
        ++m_counters[MODBUS485_COUNTER_REQUESTS];
    }
    if (!m_hygiene.run(x) || x.outcome == Outcome::DeviceFailed) {
        failDevice();
        return Outcome::DeviceFailed;
    }
    switch (x.outcome) {
    case Outcome::Good:
    case Outcome::Late:
    case Outcome::Exception:
        return x.outcome;
    default:
        break;
    }
    if (m_device.hungUp()) {
        failDevice();
        return Outcome::DeviceFailed;
    }
    return x.outcome; // no answer, garbled, cut short, mismatched or another station's
}

ModbusPort::Outcome ModbusPort::readBits(int station, bool coils, int address, int count, uint8_t *bits) {
    Exchange x;
    x.request =
        modbus485::rtuRequest(station, coils ? modbus485::ReadCoils : modbus485::ReadInputs, address, count);
    x.isRead = true;
    if (exchange(x) != Outcome::Good)
        return x.outcome;
    for (int i = 0; i < count; ++i)
        bits[i] = (x.answer[3 + i / 8] >> (i % 8)) & 1;
    return x.outcome;
}

ModbusPort::Outcome ModbusPort::readRegisters(int station, bool input, int address, int count,
                                              uint16_t *values) {
    Exchange x;
    x.request = modbus485::rtuRequest(
        station, input ? modbus485::ReadInputRegisters : modbus485::ReadHoldingRegisters, address, count);
    x.isRead = true;
    if (exchange(x) != Outcome::Good)
        return x.outcome;
    for (int i = 0; i < count; ++i)
        values[i] = static_cast<uint16_t>(x.answer[3 + 2 * i] << 8 | x.answer[4 + 2 * i]);
    return x.outcome;
}

ModbusPort::Outcome ModbusPort::writeCoil(int station, int address, bool on) {
    Exchange x;
    x.request = modbus485::rtuRequest(station, modbus485::WriteCoil, address, on ? 0xFF00 : 0);
    return exchange(x);
}

ModbusPort::Outcome ModbusPort::writeRegister(int station, int address, uint16_t value) {
    Exchange x;
    x.request = modbus485::rtuRequest(station, modbus485::WriteRegister, address, value);
    return exchange(x);
}
