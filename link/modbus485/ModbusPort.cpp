#include "ModbusPort.h"

#include "MODBUS485.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace std::chrono;

namespace {
// Time the module may take to turn a request round, plus what a USB adapter adds to deliver the answer.
constexpr auto Turnaround = milliseconds(40);
constexpr auto Demotion = milliseconds(MODBUS485_DEMOTION_MS);

bool isDeviceError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE;
}
} // namespace

ModbusPort::ModbusPort(int number)
    : m_number(number) {}

ModbusPort::~ModbusPort() {
    close();
}

std::string ModbusPort::devicePath(int number) {
    const std::string variable = "MODBUS485_PORT" + std::to_string(number);
    if (const char *path = std::getenv(variable.c_str()); path && *path)
        return path;
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(number);
#else
    return "/dev/ttyS" + std::to_string(number - 1);
#endif
}

int ModbusPort::open(int baud, char parity, bool protocolAddressing) {
    std::lock_guard lock(m_mutex);
    closeLocked();
    modbus_t *ctx = modbus_new_rtu(devicePath(m_number).c_str(), baud, parity, 8, 1);
    if (!ctx)
        return MODBUS485_OPEN_DEVICE_ERROR;
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return MODBUS485_OPEN_DEVICE_ERROR;
    }
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    // No separate byte time-out: the response time-out then bounds the whole answer, an overall deadline.
    modbus_set_byte_timeout(ctx, 0, 0);
#ifndef _WIN32
    const int fd = modbus_get_socket(ctx);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    tcflush(fd, TCIOFLUSH);
#endif
    m_modbus = ctx;
    m_characterSeconds = (parity == 'N' ? 10.0 : 11.0) / baud;
    m_protocolAddressing = protocolAddressing;
    m_deviceFailed = false;
    m_lineSuspect = false;
    m_verifyNext = false;
    std::fill(std::begin(m_stations), std::end(m_stations), StationHealth{});
    return MODBUS485_OPEN_OK;
}

void ModbusPort::close() {
    std::lock_guard lock(m_mutex);
    closeLocked();
}

void ModbusPort::closeLocked() {
    if (!m_modbus)
        return;
    modbus_close(m_modbus);
    modbus_free(m_modbus);
    m_modbus = nullptr;
}

bool ModbusPort::protocolAddressing() {
    std::lock_guard lock(m_mutex);
    return m_protocolAddressing;
}

int ModbusPort::status() {
    std::lock_guard lock(m_mutex);
    if (!m_modbus)
        return MODBUS485_STATUS_NOT_OPEN;
    if (m_deviceFailed || deviceHungUp()) {
        m_deviceFailed = true;
        return MODBUS485_STATUS_DEVICE_FAILED;
    }
    return MODBUS485_STATUS_OK;
}

bool ModbusPort::deviceHungUp() const {
#ifndef _WIN32
    pollfd fd{modbus_get_socket(m_modbus), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return false;
#endif
}

steady_clock::duration ModbusPort::deadline(int requestBytes, int answerBytes) const {
    // libmodbus starts timing when write() returns, before the request has left a real line, so the request's
    // own time on the wire is inside the wait along with the gap and the whole answer.
    const double wire = (requestBytes + answerBytes + 3.5) * m_characterSeconds;
    return duration_cast<steady_clock::duration>(duration<double>(wire)) + Turnaround;
}

void ModbusPort::drainLine() {
#ifndef _WIN32
    // Discards whatever is on the line until it has been quiet long enough: a few characters normally, and
    // after an exchange that went wrong, long enough for that exchange's answer to have come in late. The
    // time since the failure counts, so a caller that comes back later pays nothing but reading what is
    // pending. Bytes drained inside that window do not end it: more than one answer can be on its way, each
    // a module's turnaround behind the one before.
    const int fd = modbus_get_socket(m_modbus);
    const auto gap =
        duration_cast<Clock::duration>(duration<double>(std::max(0.002, 4 * m_characterSeconds)));
    const auto windowEnd = m_lineSuspect ? m_lineSuspectSince + m_lateWindow : Clock::now();
    auto quietFrom = Clock::now() - gap;
    const auto giveUp =
        std::max(windowEnd, Clock::now()) + 2 * std::max<Clock::duration>(gap, milliseconds(50));
    uint8_t discard[256];
    for (;;) {
        const auto now = Clock::now();
        const auto remaining = std::max(Clock::duration::zero(), std::max(windowEnd, quietFrom + gap) - now);
        pollfd line{fd, POLLIN, 0};
        const int ready = ::poll(&line, 1, static_cast<int>(ceil<milliseconds>(remaining).count()));
        if (ready > 0) {
            if (!(line.revents & POLLIN) || ::read(fd, discard, sizeof discard) <= 0)
                break; // hung up or failing: the exchange will say so
            quietFrom = m_lineQuietSince = Clock::now();
        } else if (remaining == Clock::duration::zero()) {
            break;
        }
        if (now >= giveUp)
            break; // a line that never goes quiet: let the exchange fail on it
    }
#else
    if (m_lineSuspect)
        modbus_flush(m_modbus);
#endif
    m_lineSuspect = false;
}

bool ModbusPort::answerFollows(Clock::duration window) {
#ifndef _WIN32
    // The right answer comes a module's turnaround after the old one, not on its last byte: watch for as
    // long as this exchange may take.
    pollfd line{modbus_get_socket(m_modbus), POLLIN, 0};
    if (::poll(&line, 1, static_cast<int>(ceil<milliseconds>(window).count())) > 0 &&
        (line.revents & POLLIN)) {
        m_lineSuspect = true;
        m_verifyNext = true;
        m_lineSuspectSince = Clock::now();
        m_lateWindow = window; // and the answer to this request may still be behind it
        return true;
    }
#else
    (void)window;
#endif
    return false;
}

template <class Exchange>
ModbusPort::Outcome ModbusPort::exchange(int station, bool isRead, int requestBytes, int answerBytes,
                                         Exchange &&call) {
    std::lock_guard lock(m_mutex);
    if (!m_modbus)
        return Outcome::NotOpen;
    if (m_deviceFailed)
        return Outcome::DeviceFailed;
    StationHealth &health = m_stations[station];
    if (isRead && Clock::now() < health.demotedUntil)
        return Outcome::Demoted;

    drainLine();
    // Frames on an RTU line are apart by at least 3.5 characters of silence; a request sent sooner after the
    // last answer would run into it at the module.
    std::this_thread::sleep_until(m_lineQuietSince +
                                  duration_cast<Clock::duration>(duration<double>(3.5 * m_characterSeconds)));
    const auto limit = deadline(requestBytes, answerBytes);
    const auto us = duration_cast<microseconds>(limit).count();
    modbus_set_slave(m_modbus, station);
    modbus_set_response_timeout(m_modbus, static_cast<uint32_t>(us / 1000000),
                                static_cast<uint32_t>(us % 1000000));
    errno = 0;
    const int rc = call(m_modbus);
    const int error = errno;
    m_lineQuietSince = Clock::now();
    if (rc >= 0) {
        health = {};
        if (m_verifyNext) {
            m_verifyNext = false;
            // After a failure, an answer can be the old one coming in late with the right one on its heels.
            if (answerFollows(limit))
                return Outcome::LineFault;
        }
        return Outcome::Done;
    }
    if (error >= EMBXILFUN && error <= EMBXGTAR) {
        health = {}; // it answered, with a refusal
        return Outcome::Refused;
    }
    if (isDeviceError(error) || deviceHungUp()) {
        m_deviceFailed = true;
        return Outcome::DeviceFailed;
    }
    m_lineSuspect = true;
    m_verifyNext = true;
    m_lineSuspectSince = Clock::now();
    m_lateWindow = limit;
    if (error == ETIMEDOUT) {
        health.demotedUntil = Clock::now() + Demotion;
        return Outcome::NoAnswer;
    }
    return Outcome::LineFault; // bad CRC, another station, malformed: something answered
}

ModbusPort::Outcome ModbusPort::readBits(int station, bool coils, int address, int count, uint8_t *bits) {
    const int answer = 5 + (count + 7) / 8;
    return exchange(station, true, 8, answer, [&](modbus_t *ctx) {
        return coils ? modbus_read_bits(ctx, address, count, bits)
                     : modbus_read_input_bits(ctx, address, count, bits);
    });
}

ModbusPort::Outcome ModbusPort::readRegisters(int station, bool input, int address, int count,
                                              uint16_t *values) {
    const int answer = 5 + 2 * count;
    return exchange(station, true, 8, answer, [&](modbus_t *ctx) {
        return input ? modbus_read_input_registers(ctx, address, count, values)
                     : modbus_read_registers(ctx, address, count, values);
    });
}

ModbusPort::Outcome ModbusPort::writeCoil(int station, int address, bool on) {
    return exchange(station, false, 8, 8, [&](modbus_t *ctx) { return modbus_write_bit(ctx, address, on); });
}

ModbusPort::Outcome ModbusPort::writeRegister(int station, int address, uint16_t value) {
    return exchange(station, false, 8, 8,
                    [&](modbus_t *ctx) { return modbus_write_register(ctx, address, value); });
}
