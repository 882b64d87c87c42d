#include "ModbusPort.h"

#include "Trace.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace std::chrono;
using modbus485::RtuAnswer;

namespace {
// Time the module may take to turn a request round, plus what a USB adapter adds to deliver the answer.
constexpr auto DefaultTurnaround = milliseconds(40);
constexpr auto Demotion = milliseconds(MODBUS485_DEMOTION_MS);
constexpr std::size_t MaxFrame = 256;

uint32_t readKey(int station, int function, int address) {
    return static_cast<uint32_t>(station) << 24 | static_cast<uint32_t>(function) << 16 |
           static_cast<uint32_t>(address);
}

int32_t clamp32(int64_t value) {
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}
} // namespace

ModbusPort::ModbusPort(int number)
    : m_number(number) {}

ModbusPort::~ModbusPort() {
    close();
}

int ModbusPort::open(int baud, char parity, bool protocolAddressing) {
    std::lock_guard lock(m_mutex);
    m_line.close();
    m_open = false;
    m_mapping = modbus485::resolvePort(m_number);
    m_baud = baud;
    m_parity = parity;
    m_counters = {};
    m_roundTripSumUs = m_roundTrips = 0;
    m_reads.clear();
    m_openResult = m_line.open(m_mapping.device, baud, parity);
    if (m_openResult.error != SerialLine::OpenError::None)
        return MODBUS485_OPEN_DEVICE_ERROR;
    m_open = true;
    m_characterSeconds = (parity == 'N' ? 10.0 : 11.0) / baud;
    m_turnaround = DefaultTurnaround;
    m_protocolAddressing = protocolAddressing;
    m_deviceFailed = false;
    m_lineSuspect = false;
    m_verifyNext = false;
    std::fill(std::begin(m_stations), std::end(m_stations), StationHealth{});
    return MODBUS485_OPEN_OK;
}

void ModbusPort::close() {
    std::lock_guard lock(m_mutex);
    m_line.close();
    m_open = false;
}

bool ModbusPort::protocolAddressing() {
    std::lock_guard lock(m_mutex);
    return m_protocolAddressing;
}

int ModbusPort::status() {
    std::lock_guard lock(m_mutex);
    if (!m_open)
        return MODBUS485_STATUS_NOT_OPEN;
    return deviceFailedLocked() ? MODBUS485_STATUS_DEVICE_FAILED : MODBUS485_STATUS_OK;
}

bool ModbusPort::deviceFailedLocked() {
    if (!m_deviceFailed && m_line.hungUp())
        failDevice();
    return m_deviceFailed && !reopenLocked();
}

void ModbusPort::failDevice() {
    // Let go of it at once: a USB adapter plugged back in gets its old name only once nothing holds that.
    m_deviceFailed = true;
    m_line.close();
}

bool ModbusPort::reopenLocked() {
    // An adapter plugged back in comes back under the same path; until then the path is gone or refuses.
#ifndef _WIN32
    struct stat st {};
    if (::stat(m_mapping.device.c_str(), &st) != 0)
        return false;
#endif
    m_line.close();
    if (m_line.open(m_mapping.device, m_baud, m_parity).error != SerialLine::OpenError::None)
        return false;
    m_deviceFailed = false;
    m_lineSuspect = false;
    m_verifyNext = false;
    return true;
}

std::string ModbusPort::info() {
    std::lock_guard lock(m_mutex);
    const modbus485::PortMapping mapping = m_open ? m_mapping : modbus485::resolvePort(m_number);
    std::string text = "端口" + std::to_string(m_number) + "：" + mapping.device + "（";
    switch (mapping.source) {
    case MODBUS485_SOURCE_VARIABLE:
        text += "环境变量 MODBUS485_PORT" + std::to_string(m_number);
        break;
    case MODBUS485_SOURCE_USER_MAP:
        text += "用户映射 " + mapping.file;
        break;
    case MODBUS485_SOURCE_SYSTEM_MAP:
        text += "系统映射 " + mapping.file;
        break;
    default:
        text += "默认";
    }
    text += "）";
    switch (mapping.passedOverState) {
    case modbus485::MapFileState::Truncated:
        text += "\n映射文件 " + mapping.passedOver + " 过长，只读了前 64 KiB";
        break;
    case modbus485::MapFileState::NotRegular:
        text += "\n映射文件 " + mapping.passedOver + " 不是普通文件，已忽略";
        break;
    case modbus485::MapFileState::Unreadable:
        text += "\n映射文件 " + mapping.passedOver + " 无法读取，已忽略";
        break;
    case modbus485::MapFileState::Binary:
        text += "\n映射文件 " + mapping.passedOver + " 不是文本文件，已忽略";
        break;
    default:
        break;
    }
    // The reason belongs to the device that failed; after a change of map it would mislead.
    if (m_open || m_openResult.error == SerialLine::OpenError::None || mapping.device != m_mapping.device)
        return text;
    text += "\n打开失败：";
    switch (m_openResult.error) {
    case SerialLine::OpenError::Missing:
        return text + "设备不存在";
    case SerialLine::OpenError::Permission:
        return text + "没有权限，请运行 sudo usermod -aG " + m_openResult.group + " " + m_openResult.user +
               "，然后注销并重新登录";
    case SerialLine::OpenError::Busy:
        return text +
               (m_openResult.holder.empty() ? "被其他程序占用" : "设备被占用（" + m_openResult.holder + "）");
    case SerialLine::OpenError::NotSerial:
        return text + "不是串口设备";
    default:
        return text + "无法设置串口";
    }
}

bool ModbusPort::setTurnaround(int milliseconds) {
    std::lock_guard lock(m_mutex);
    if (!m_open)
        return false;
    m_turnaround = milliseconds > 0 ? std::chrono::milliseconds(milliseconds) : DefaultTurnaround;
    return true;
}

int ModbusPort::counters(int32_t *values, int count) {
    std::lock_guard lock(m_mutex);
    const int filled = std::min(count, MODBUS485_COUNTERS);
    for (int i = 0; i < filled; ++i)
        values[i] = clamp32(m_counters[i]);
    if (filled > MODBUS485_COUNTER_TRACE_STOPPED)
        values[MODBUS485_COUNTER_TRACE_STOPPED] = Trace::instance().stopReason();
    return filled;
}

int ModbusPort::lastRead(int station, int function, int address, int32_t *values, int count) {
    std::lock_guard lock(m_mutex);
    ReadRecord record;
    if (auto it = m_reads.find(readKey(station, function, address)); it != m_reads.end())
        record = it->second;
    const int32_t all[MODBUS485_LASTREAD_VALUES] = {
        static_cast<int32_t>(record.outcome), record.exception, clamp32(record.roundTripUs),
        record.outcome == Outcome::None
            ? 0
            : clamp32(duration_cast<milliseconds>(Clock::now() - record.end).count())};
    const int filled = std::min(count, MODBUS485_LASTREAD_VALUES);
    std::copy(all, all + filled, values);
    return filled;
}

steady_clock::duration ModbusPort::deadline(int requestBytes, int answerBytes) const {
    // The wait starts when write() returns, before the request has left a real line, so the request's own
    // time on the wire is inside it along with the gap and the whole answer.
    const double wire = (requestBytes + answerBytes + 3.5) * m_characterSeconds;
    return duration_cast<steady_clock::duration>(duration<double>(wire)) + m_turnaround;
}

void ModbusPort::drainLine(std::vector<uint8_t> &dropped) {
    // Discards whatever is on the line until it has been quiet long enough: a few characters normally, and
    // after an exchange that went wrong, long enough for that exchange's answer to have come in late. The
    // time since the failure counts, so a caller that comes back later pays nothing but reading what is
    // pending. Bytes drained inside that window do not end it: more than one answer can be on its way, each
    // a module's turnaround behind the one before.
    const auto gap =
        duration_cast<Clock::duration>(duration<double>(std::max(0.002, 4 * m_characterSeconds)));
    const auto windowEnd = m_lineSuspect ? m_lineSuspectSince + m_lateWindow : Clock::now();
    auto quietFrom = Clock::now() - gap;
    const auto giveUp =
        std::max(windowEnd, Clock::now()) + 2 * std::max<Clock::duration>(gap, milliseconds(50));
    uint8_t discard[MaxFrame];
    for (;;) {
        const int got = m_line.read(discard, sizeof discard, std::max(windowEnd, quietFrom + gap));
        if (got <= 0)
            break; // quiet long enough, or failing: the exchange will say so
        dropped.insert(dropped.end(), discard, discard + got);
        quietFrom = m_lineQuietSince = Clock::now();
        if (quietFrom >= giveUp)
            break; // a line that never goes quiet: let the exchange fail on it
    }
    m_lineSuspect = false;
}

bool ModbusPort::answerFollows(Clock::duration window, std::vector<uint8_t> &dropped) {
    // The right answer comes a module's turnaround after the old one, not on its last byte: watch for as
    // long as this exchange may take.
    uint8_t behind[MaxFrame];
    const int got = m_line.read(behind, sizeof behind, Clock::now() + window);
    if (got <= 0)
        return false;
    dropped.insert(dropped.end(), behind, behind + got);
    markLineSuspect(window); // and the answer to this request may still be behind it
    return true;
}

void ModbusPort::markLineSuspect(Clock::duration window) {
    m_lineSuspect = true;
    m_verifyNext = true;
    m_lineSuspectSince = Clock::now();
    m_lateWindow = window;
}

void ModbusPort::receive(Exchange &x, Clock::time_point deadline) {
    // Reads no further than the frame being judged, so bytes behind it stay for the drain to see.
    uint8_t buffer[MaxFrame];
    std::size_t frameSize = modbus485::rtuAnswerSize(x.request);
    for (;;) {
        const RtuAnswer check =
            modbus485::checkRtuAnswer(x.request, x.answer.data(), x.answer.size(), frameSize);
        if (check != RtuAnswer::Incomplete) {
            if (x.answer.size() > frameSize) {
                // Bytes behind a short exception reply: not part of it.
                x.behind.insert(x.behind.end(), x.answer.begin() + frameSize, x.answer.end());
                x.answer.resize(frameSize);
                m_lineSuspect = true;
            }
            x.outcome = check == RtuAnswer::Good           ? Outcome::Good
                        : check == RtuAnswer::Exception    ? Outcome::Exception
                        : check == RtuAnswer::WrongStation ? Outcome::WrongStation
                                                           : Outcome::Garbled;
            return;
        }
        const int got = m_line.read(buffer, frameSize - x.answer.size(), deadline);
        if (got < 0) {
            x.outcome = Outcome::DeviceFailed;
            return;
        }
        if (got == 0) {
            x.outcome = x.answer.empty() ? Outcome::NoAnswer : Outcome::Garbled;
            return;
        }
        x.answer.insert(x.answer.end(), buffer, buffer + got);
    }
}

ModbusPort::Outcome ModbusPort::exchange(Exchange &x, bool isRead) {
    std::lock_guard lock(m_mutex);
    x.outcome = exchangeLocked(x, isRead);
    count(x);
    if (isRead)
        remember(x);
    if (x.sent && Trace::instance().enabled())
        trace(x);
    return x.outcome;
}

ModbusPort::Outcome ModbusPort::exchangeLocked(Exchange &x, bool isRead) {
    if (!m_open)
        return Outcome::NotOpen;
    if (m_deviceFailed && !reopenLocked())
        return Outcome::DeviceFailed;
    StationHealth &health = m_stations[x.request[0]];
    if (isRead && Clock::now() < health.demotedUntil)
        return Outcome::Demoted;

    drainLine(x.dropped);
    // Frames on an RTU line are apart by at least 3.5 characters of silence; a request sent sooner after the
    // last answer would run into it at the module.
    std::this_thread::sleep_until(m_lineQuietSince +
                                  duration_cast<Clock::duration>(duration<double>(3.5 * m_characterSeconds)));
    const auto answerSize = static_cast<int>(modbus485::rtuAnswerSize(x.request));
    const auto limit = deadline(static_cast<int>(x.request.size()), answerSize);
    ++m_counters[MODBUS485_COUNTER_REQUESTS];
    x.sent = true;
    if (!m_line.write(x.request.data(), x.request.size())) {
        failDevice();
        return Outcome::DeviceFailed;
    }
    const auto sent = Clock::now();
    receive(x, sent + limit);
    m_lineQuietSince = Clock::now();
    x.roundTripUs = duration_cast<microseconds>(m_lineQuietSince - sent).count();
    switch (x.outcome) {
    case Outcome::Good:
        health = {};
        if (m_verifyNext) {
            m_verifyNext = false;
            // After a failure, an answer can be the old one coming in late with the right one on its heels.
            if (answerFollows(limit, x.behind))
                return Outcome::Late;
        }
        return Outcome::Good;
    case Outcome::Exception:
        health = {}; // it answered, with a refusal
        return Outcome::Exception;
    case Outcome::DeviceFailed:
        failDevice();
        return Outcome::DeviceFailed;
    default:
        break;
    }
    if (m_line.hungUp()) {
        failDevice();
        return Outcome::DeviceFailed;
    }
    markLineSuspect(limit);
    if (x.outcome == Outcome::NoAnswer)
        health.demotedUntil = Clock::now() + Demotion;
    return x.outcome; // garbled or another station's: something answered
}

void ModbusPort::count(const Exchange &x) {
    static constexpr int counterOf[] = {-1,
                                        MODBUS485_COUNTER_GOOD,
                                        MODBUS485_COUNTER_NO_ANSWER,
                                        MODBUS485_COUNTER_GARBLED,
                                        MODBUS485_COUNTER_WRONG_STATION,
                                        MODBUS485_COUNTER_EXCEPTIONS,
                                        -1,
                                        MODBUS485_COUNTER_DEMOTED,
                                        -1,
                                        -1,
                                        -1,
                                        -1};
    if (const int counter = counterOf[static_cast<int>(x.outcome)]; counter >= 0)
        ++m_counters[counter];
    if (x.outcome == Outcome::Exception && x.answer[2] >= 1 && x.answer[2] <= 11)
        ++m_counters[MODBUS485_COUNTER_EXCEPTION_CODE(x.answer[2])];
    if (!x.dropped.empty())
        ++m_counters[MODBUS485_COUNTER_STRAY];
    if (!x.behind.empty())
        ++m_counters[MODBUS485_COUNTER_STRAY];
    if (!x.answer.empty()) {
        ++m_roundTrips;
        m_roundTripSumUs += x.roundTripUs;
        m_counters[MODBUS485_COUNTER_RTT_LAST_US] = x.roundTripUs;
        m_counters[MODBUS485_COUNTER_RTT_MEAN_US] = m_roundTripSumUs / m_roundTrips;
        m_counters[MODBUS485_COUNTER_RTT_MAX_US] =
            std::max(m_counters[MODBUS485_COUNTER_RTT_MAX_US], x.roundTripUs);
    }
}

void ModbusPort::remember(const Exchange &x) {
    if (x.outcome == Outcome::NotOpen)
        return;
    const int address = x.request[2] << 8 | x.request[3];
    ReadRecord &record = m_reads[readKey(x.request[0], x.request[1], address)];
    record.outcome = x.outcome;
    record.exception = x.outcome == Outcome::Exception ? x.answer[2] : 0;
    record.roundTripUs = x.roundTripUs;
    record.end = Clock::now();
}

void ModbusPort::trace(const Exchange &x) {
    // 2026-12-07 13:02:11.482 port 1 /dev/ttyUSB0 station 1 | request 01 03 … | answer 01 03 … | good | 11.9
    // ms
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[48];
    const auto size = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + size, sizeof stamp - size, ".%03d",
                  static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000));
    std::string line = std::string(stamp) + " port " + std::to_string(m_number) + " " + m_mapping.device +
                       " station " + std::to_string(x.request[0]);
    auto bytes = [&line](const char *label, const uint8_t *data, std::size_t size) {
        static const char digits[] = "0123456789ABCDEF";
        line += " | ";
        line += label;
        if (size == 0)
            line += " -";
        for (std::size_t i = 0; i < size; ++i) {
            line += ' ';
            line += digits[data[i] >> 4];
            line += digits[data[i] & 15];
        }
    };
    if (!x.dropped.empty())
        bytes("dropped", x.dropped.data(), std::min<std::size_t>(x.dropped.size(), MaxFrame));
    bytes("request", x.request.data(), x.request.size());
    bytes("answer", x.answer.data(), x.answer.size());
    if (!x.behind.empty())
        bytes("dropped behind", x.behind.data(), std::min<std::size_t>(x.behind.size(), MaxFrame));
    static const char *const words[] = {"none",          "good",      "no answer", "garbled",
                                        "wrong station", "exception", "late",      "demoted",
                                        "device failed", "not open",  "cut short", "mismatched"};
    line += " | ";
    line += words[static_cast<int>(x.outcome)];
    if (x.outcome == Outcome::Exception)
        line += " " + std::to_string(x.answer[2]);
    char roundTrip[32];
    std::snprintf(roundTrip, sizeof roundTrip, " | %.2f ms\n", static_cast<double>(x.roundTripUs) / 1000);
    line += roundTrip;
    if (!Trace::instance().write(line))
        ++m_counters[MODBUS485_COUNTER_TRACE_DROPPED];
}

ModbusPort::Outcome ModbusPort::readBits(int station, bool coils, int address, int count, uint8_t *bits) {
    Exchange x;
    x.request = modbus485::rtuRequest(station, coils ? 1 : 2, address, count);
    if (exchange(x, true) != Outcome::Good)
        return x.outcome;
    for (int i = 0; i < count; ++i)
        bits[i] = (x.answer[3 + i / 8] >> (i % 8)) & 1;
    return x.outcome;
}

ModbusPort::Outcome ModbusPort::readRegisters(int station, bool input, int address, int count,
                                              uint16_t *values) {
    Exchange x;
    x.request = modbus485::rtuRequest(station, input ? 4 : 3, address, count);
    if (exchange(x, true) != Outcome::Good)
        return x.outcome;
    for (int i = 0; i < count; ++i)
        values[i] = static_cast<uint16_t>(x.answer[3 + 2 * i] << 8 | x.answer[4 + 2 * i]);
    return x.outcome;
}

ModbusPort::Outcome ModbusPort::writeCoil(int station, int address, bool on) {
    Exchange x;
    x.request = modbus485::rtuRequest(station, 5, address, on ? 0xFF00 : 0);
    return exchange(x, false);
}

ModbusPort::Outcome ModbusPort::writeRegister(int station, int address, uint16_t value) {
    Exchange x;
    x.request = modbus485::rtuRequest(station, 6, address, value);
    return exchange(x, false);
}
