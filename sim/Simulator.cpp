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

Simulator::Simulator(SimOptions options)
    : m_options(std::move(options))
    , m_bus(!m_options.bus.empty()) {
    if (!m_bus)
        m_options.bus.push_back({m_options.station, m_options.baud, m_options.parity});
    m_stations.resize(m_options.bus.size());
    for (size_t i = 0; i < m_stations.size(); ++i) {
        Station &station = m_stations[i];
        station.setting = m_options.bus[i];
        // On a bus each module's parity register says the parity it was set up with, as a real one's does.
        if (m_bus) {
            const char *const letters = modbus485::ParityLetters;
            const auto code =
                std::find(letters, letters + modbus485::ParityCodes, station.setting.parity) - letters;
            station.state.writeHoldingRegister(ModuleState::ParityRegister, static_cast<uint16_t>(code));
        }
    }
}

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
    const int quietMs =
        std::max(3, static_cast<int>(std::ceil(4000 * characterSeconds(m_options.baud, m_options.parity))));
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
    // libmodbus reads the requests of one station only: a bus reads its frames itself.
    const int length = m_bus ? receiveFrame(request) : modbus_receive(m_modbus, request);
    const auto received = Clock::now();
    if (length < 0) {
        if (errno == EIO || errno == EBADF) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else {
            for (Station &station : m_stations) {
                ++station.counters.received;
                ++station.counters.badFrames;
            }
            echo(request, requestFrameLength(request, MODBUS_RTU_MAX_ADU_LENGTH));
            drainUntilQuiet(); // a broken frame: resynchronise on the next silence
            // Logged once the module listens again, so a master that sees the line may send the next frame.
            logFrame(request, requestFrameLength(request, MODBUS_RTU_MAX_ADU_LENGTH));
        }
        return;
    }
    const int heardLength = length > 0 ? length : requestFrameLength(request, MODBUS_RTU_MAX_ADU_LENGTH);
    echo(request, heardLength);
    logFrame(request, heardLength);
    std::vector<Station *> addressed; // the modules at the request's station
    for (Station &station : m_stations)
        if (length > 0 && station.setting.station == request[0])
            addressed.push_back(&station);
    for (Station &station : m_stations) {
        ++station.counters.received;
        if (addressed.empty() || station.setting.station != request[0])
            ++station.counters.otherStation;
    }
    if (addressed.empty()) {
        // A request for another station: libmodbus now takes the next frame as that station's answer. Waiting
        // for it here, briefly, keeps our next request from being swallowed when no such station answers.
        if (!m_bus)
            modbus_receive(m_modbus, request);
        return;
    }
    const bool deaf = m_deafMs > 0 && heard - m_lastAnswerEnd < std::chrono::milliseconds(m_deafMs);
    std::vector<Station *> hearing;
    for (Station *station : addressed) {
        if (deaf || !masterLineMatches(*station)) {
            // Deaf: still turning its own line around, the module never hears the request, and no fault
            // takes a turn. A master at another baud or parity: on a real line it is heard as noise. No
            // answer either way.
            ++(deaf ? station->counters.faults : station->counters.wrongLine);
            printLog(*station, unheard(*station, request, heardLength) + (deaf ? " deaf" : " wrong-line"));
        } else {
            hearing.push_back(station);
        }
    }
    // Two modules at one station and setting both answer: on the line their answers run into each other.
    const bool collided = hearing.size() > 1;
    for (size_t i = 0; i < hearing.size(); ++i) {
        Station &station = *hearing[i];
        std::vector<uint8_t> frame;
        std::string log;
        answer(station, request, heardLength, frame, log);
        if (i + 1 == hearing.size()) {
            reply(station, std::move(frame), heardLength, received, log, collided);
        } else {
            // Its answer goes out with the last one's, as one damaged frame.
            ++station.counters.answered;
            printLog(station, log + " collision");
        }
        takeFaultTurn(station);
    }
}

int Simulator::receiveFrame(uint8_t *frame) {
    const int gapMs =
        std::max(3, static_cast<int>(std::ceil(4000 * characterSeconds(m_options.baud, m_options.parity))));
    int got = 0;
    int need = 2; // station and function, then what the function's frame takes
    pollfd fd{m_fd, POLLIN, 0};
    while (got < need) {
        if (got > 0 && (::poll(&fd, 1, gapMs) <= 0 || !(fd.revents & POLLIN)))
            break; // the line went quiet mid-frame
        // No further than this frame: the next one may already be on its way.
        const ssize_t n = ::read(m_fd, frame + got, static_cast<size_t>(need - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (got == 0)
                return -1; // errno says why the line is not there
            break;
        }
        got += static_cast<int>(n);
        if (got >= 2)
            need = requestFrameLength(frame, MODBUS_RTU_MAX_ADU_LENGTH);
    }
    errno = EMBBADDATA;
    if (got < need)
        return -1;
    const uint16_t crc = modbus485::crc16(frame, static_cast<size_t>(got - 2));
    errno = EMBBADCRC;
    return frame[got - 2] == (crc & 0xFF) && frame[got - 1] == (crc >> 8) ? got : -1;
}

void Simulator::answer(Station &station, const uint8_t *request, int length, std::vector<uint8_t> &frame,
                       std::string &log) {
    if (station.fault == Fault::Silent || station.fault == Fault::Exception) {
        // The module does not act on the request: it did not hear it, or it refused it.
        log = unheard(station, request, length);
        if (station.fault == Fault::Exception) {
            frame = {static_cast<uint8_t>(station.setting.station),
                     static_cast<uint8_t>(request[1] | modbus485::ExceptionFlag),
                     static_cast<uint8_t>(station.exceptionCode)};
            log += " exception " + std::to_string(station.exceptionCode);
        } else {
            log += " silent";
        }
    } else {
        answerRequest(station.state, request, length, m_options.protocolAddressing, frame, log);
    }
}

std::string Simulator::unheard(const Station &station, const uint8_t *request, int length) const {
    ModuleState untouched = station.state;
    std::vector<uint8_t> ignored;
    std::string log;
    answerRequest(untouched, request, length, m_options.protocolAddressing, ignored, log);
    return log;
}

void Simulator::takeFaultTurn(Station &station) {
    if (station.faultRequests > 0 && --station.faultRequests == 0) {
        station.fault = Fault::None;
        station.faultRequests = -1;
    }
}

void Simulator::printLog(const Station &station, const std::string &log) const {
    if (m_bus)
        std::printf("station %d %s\n", station.setting.station, log.c_str());
    else
        std::printf("%s\n", log.c_str());
    std::fflush(stdout);
}

void Simulator::reply(Station &station, std::vector<uint8_t> frame, int requestLength,
                      Clock::time_point received, std::string &log, bool collided) {
    const Fault fault = station.fault;
    if (fault != Fault::None)
        ++station.counters.faults;
    if (fault == Fault::Silent && !collided) {
        printLog(station, log);
        return;
    }
    if (fault == Fault::Silent)
        frame.clear(); // only the other module's answer goes out
    switch (fault) {
    case Fault::WrongStation:
        frame[0] = static_cast<uint8_t>(station.setting.station % modbus485::MaxStation + 1);
        log += " wrong-station";
        break;
    case Fault::Garbage: {
        const size_t size = frame.size() + 2;
        frame.clear();
        for (size_t i = 0; i < size; ++i) {
            station.garbageSeed = station.garbageSeed * 1103515245u + 12345u;
            frame.push_back(static_cast<uint8_t>(station.garbageSeed >> 16));
        }
        log += " garbage";
        break;
    }
    default:
        break;
    }
    if (fault != Fault::Garbage && !frame.empty()) {
        const uint16_t crc = modbus485::crc16(frame.data(), frame.size());
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        if (fault == Fault::CorruptCrc) {
            frame.back() ^= 0x5A;
            log += " corrupt-crc";
        }
    }
    if (collided) {
        // Whatever the master makes of two drivers at once, it is not a frame whose CRC holds.
        if (frame.empty())
            frame = {static_cast<uint8_t>(station.setting.station), 0, 0, 0, 0};
        frame.back() ^= 0xA5;
        log += " collision";
    }
    auto due = received;
    if (m_options.wire) {
        // The request was delivered at once by the pseudo-terminal. On a real line it could start only after
        // 3.5 characters of silence behind our last answer, and it, the silent gap that ends it and the
        // answer would each take their time.
        const auto character =
            std::chrono::duration<double>(characterSeconds(station.setting.baud, station.setting.parity));
        const auto lineFree = m_lastAnswerEnd + std::chrono::duration_cast<Clock::duration>(3.5 * character);
        const auto start = std::max(received, lineFree);
        const double characters = requestLength + 3.5 + static_cast<double>(frame.size());
        due = start + std::chrono::duration_cast<Clock::duration>(characters * character);
    }
    if (fault == Fault::Late) {
        due += std::chrono::milliseconds(station.lateMs);
        log += " late";
    } else if (fault == Fault::Slow) {
        log += " slow";
    }
    const bool noise = m_noiseAnswers != 0;
    if (noise) {
        log += " noise";
        if (m_noiseAnswers > 0)
            --m_noiseAnswers;
    }
    // Logged before the answer goes out, so a master that has its answer finds the line already written.
    printLog(station, log);
    std::this_thread::sleep_until(due);
    if (noise)
        writeAll(m_fd, &m_noiseByte, 1); // right ahead of the answer, as a driver turning around leaves it
    if (fault == Fault::Slow) {
        // Byte by byte: each gap is short, the whole answer long.
        for (size_t i = 0; i < frame.size(); ++i) {
            std::this_thread::sleep_until(due + i * std::chrono::milliseconds(station.slowMs));
            writeAll(m_fd, &frame[i], 1);
        }
    } else {
        writeAll(m_fd, frame.data(), frame.size());
    }
    m_lastAnswerEnd = Clock::now();
    ++station.counters.answered;
    if (frame.size() >= 2 && (frame[1] & modbus485::ExceptionFlag) && fault != Fault::Garbage && !collided)
        ++station.counters.exceptions;
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

std::string Simulator::counterFields(const Counters &c) {
    return " received=" + std::to_string(c.received) + " answered=" + std::to_string(c.answered) +
           " bad-frames=" + std::to_string(c.badFrames) + " other-station=" + std::to_string(c.otherStation) +
           " exceptions=" + std::to_string(c.exceptions) + " faults=" + std::to_string(c.faults) +
           " wrong-line=" + std::to_string(c.wrongLine);
}
