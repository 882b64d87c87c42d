#include "Simulator.h"

#include "Crc16.h"
#include "LineCodes.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onStopSignal(int) {
    g_stop = 1;
}

void writeAll(int fd, const uint8_t *data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the master went away mid-answer; nothing to do about it
        data += n;
        length -= static_cast<size_t>(n);
    }
}
} // namespace

int Simulator::run() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string input;
    bool stdinOpen = true;
    while (!g_stop && !m_quit) {
        pollfd fds[2] = {{stdinOpen ? 0 : -1, POLLIN, 0}, {m_fd, POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        // Commands first: one written before a request takes effect for that request.
        if (fds[0].revents) {
            char buffer[4096];
            const ssize_t got = ::read(0, buffer, sizeof buffer);
            if (got <= 0) {
                stdinOpen = false; // keep serving without commands
            } else {
                input.append(buffer, static_cast<size_t>(got));
                size_t end;
                while ((end = input.find('\n')) != std::string::npos) {
                    const std::string line = input.substr(0, end);
                    input.erase(0, end + 1);
                    command(line);
                }
            }
        }
        if (m_fd >= 0 && (fds[1].revents & POLLIN))
            serveOne();
        else if (m_fd >= 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)))
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // no one on the other side yet
    }
    closeLine();
    return 0;
}

void Simulator::drainUntilQuiet() {
    const int quietMs = std::max(3, static_cast<int>(std::ceil(4000 * characterSeconds())));
    uint8_t buffer[256];
    pollfd fd{m_fd, POLLIN, 0};
    while (::poll(&fd, 1, quietMs) > 0 && (fd.revents & POLLIN))
        if (::read(m_fd, buffer, sizeof buffer) <= 0)
            break;
}

void Simulator::serveOne() {
    const auto heard = Clock::now(); // the request's first byte has come in
    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    std::memset(request, 0, sizeof request);
    const int length = modbus_receive(m_modbus, request);
    const auto received = Clock::now();
    if (length < 0) {
        if (errno == EIO || errno == EBADF) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else {
            ++m_counters.received;
            ++m_counters.badFrames;
            echo(request, requestFrameLength(request, MODBUS_RTU_MAX_ADU_LENGTH));
            drainUntilQuiet(); // a broken frame: resynchronise on the next silence
            // Logged once the module listens again, so a master that sees the line may send the next frame.
            logFrame(request, requestFrameLength(request, MODBUS_RTU_MAX_ADU_LENGTH));
        }
        return;
    }
    ++m_counters.received;
    const int heardLength = length > 0 ? length : requestFrameLength(request, MODBUS_RTU_MAX_ADU_LENGTH);
    echo(request, heardLength);
    logFrame(request, heardLength);
    if (length == 0) {
        ++m_counters.otherStation;
        // A request for another station: libmodbus now takes the next frame as that station's answer. Waiting
        // for it here, briefly, keeps our next request from being swallowed when no such station answers.
        modbus_receive(m_modbus, request);
        return;
    }
    std::vector<uint8_t> frame;
    std::string log;
    const bool deaf = m_deafMs > 0 && heard - m_lastAnswerEnd < std::chrono::milliseconds(m_deafMs);
    if (deaf || !masterLineMatches()) {
        // Deaf: still turning its own line around, the module never hears the request, and no fault takes a
        // turn. A master at another baud or parity: on a real line it is heard as noise. No answer either
        // way.
        ++(deaf ? m_counters.faults : m_counters.wrongLine);
        std::printf("%s %s\n", unheard(request, length).c_str(), deaf ? "deaf" : "wrong-line");
        std::fflush(stdout);
        return;
    }
    if (m_fault == Fault::Silent || m_fault == Fault::Exception) {
        // The module does not act on the request: it did not hear it, or it refused it.
        log = unheard(request, length);
        if (m_fault == Fault::Exception) {
            frame = {static_cast<uint8_t>(m_options.station),
                     static_cast<uint8_t>(request[1] | modbus485::ExceptionFlag),
                     static_cast<uint8_t>(m_exceptionCode)};
            log += " exception " + std::to_string(m_exceptionCode);
        } else {
            log += " silent";
        }
    } else {
        answerRequest(m_state, request, length, m_options.protocolAddressing, frame, log);
    }
    reply(std::move(frame), length, received, log);
    takeFaultTurn();
}

std::string Simulator::unheard(const uint8_t *request, int length) const {
    ModuleState untouched = m_state;
    std::vector<uint8_t> ignored;
    std::string log;
    answerRequest(untouched, request, length, m_options.protocolAddressing, ignored, log);
    return log;
}

void Simulator::takeFaultTurn() {
    if (m_faultRequests > 0 && --m_faultRequests == 0) {
        m_fault = Fault::None;
        m_faultRequests = -1;
    }
}

void Simulator::reply(std::vector<uint8_t> frame, int requestLength, Clock::time_point received,
                      std::string &log) {
    if (m_fault != Fault::None)
        ++m_counters.faults;
    if (m_fault == Fault::Silent) {
        std::printf("%s\n", log.c_str());
        std::fflush(stdout);
        return;
    }
    switch (m_fault) {
    case Fault::WrongStation:
        frame[0] = static_cast<uint8_t>(m_options.station % modbus485::MaxStation + 1);
        log += " wrong-station";
        break;
    case Fault::Garbage: {
        const size_t size = frame.size() + 2;
        frame.clear();
        for (size_t i = 0; i < size; ++i) {
            m_garbageSeed = m_garbageSeed * 1103515245u + 12345u;
            frame.push_back(static_cast<uint8_t>(m_garbageSeed >> 16));
        }
        log += " garbage";
        break;
    }
    default:
        break;
    }
    if (m_fault != Fault::Garbage) {
        const uint16_t crc = modbus485::crc16(frame.data(), frame.size());
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        if (m_fault == Fault::CorruptCrc) {
            frame.back() ^= 0x5A;
            log += " corrupt-crc";
        }
    }
    auto due = received;
    if (m_options.wire) {
        // The request was delivered at once by the pseudo-terminal. On a real line it could start only after
        // 3.5 characters of silence behind our last answer, and it, the silent gap that ends it and the
        // answer would each take their time.
        const auto character = std::chrono::duration<double>(characterSeconds());
        const auto lineFree = m_lastAnswerEnd + std::chrono::duration_cast<Clock::duration>(3.5 * character);
        const auto start = std::max(received, lineFree);
        const double characters = requestLength + 3.5 + static_cast<double>(frame.size());
        due = start + std::chrono::duration_cast<Clock::duration>(characters * character);
    }
    if (m_fault == Fault::Late) {
        due += std::chrono::milliseconds(m_lateMs);
        log += " late";
    } else if (m_fault == Fault::Slow) {
        log += " slow";
    }
    const bool noise = m_noiseAnswers != 0;
    if (noise) {
        log += " noise";
        if (m_noiseAnswers > 0)
            --m_noiseAnswers;
    }
    // Logged before the answer goes out, so a master that has its answer finds the line already written.
    std::printf("%s\n", log.c_str());
    std::fflush(stdout);
    std::this_thread::sleep_until(due);
    if (noise)
        writeAll(m_fd, &m_noiseByte, 1); // right ahead of the answer, as a driver turning around leaves it
    if (m_fault == Fault::Slow) {
        // Byte by byte: each gap is short, the whole answer long.
        for (size_t i = 0; i < frame.size(); ++i) {
            std::this_thread::sleep_until(due + i * std::chrono::milliseconds(m_slowMs));
            writeAll(m_fd, &frame[i], 1);
        }
    } else {
        writeAll(m_fd, frame.data(), frame.size());
    }
    m_lastAnswerEnd = Clock::now();
    ++m_counters.answered;
    if (frame.size() >= 2 && (frame[1] & modbus485::ExceptionFlag) && m_fault != Fault::Garbage)
        ++m_counters.exceptions;
}

void Simulator::echo(const uint8_t *frame, int length) {
    if (m_echo && length > 0)
        writeAll(m_fd, frame, static_cast<size_t>(length));
}

void Simulator::logFrame(const uint8_t *frame, int length) {
    if (!m_options.logFrames)
        return;
    std::string line = "frame";
    char hex[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", frame[i]);
        line += hex;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string Simulator::counterFields() const {
    const Counters &c = m_counters;
    return " received=" + std::to_string(c.received) + " answered=" + std::to_string(c.answered) +
           " bad-frames=" + std::to_string(c.badFrames) + " other-station=" + std::to_string(c.otherStation) +
           " exceptions=" + std::to_string(c.exceptions) + " faults=" + std::to_string(c.faults) +
           " wrong-line=" + std::to_string(c.wrongLine);
}
