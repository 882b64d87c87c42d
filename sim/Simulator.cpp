#include "Simulator.h"

#include "Crc16.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onStopSignal(int) {
    g_stop = 1;
}

int word(const uint8_t *p) {
    return (p[0] << 8) | p[1];
}
void putWord(std::vector<uint8_t> &frame, int value) {
    frame.push_back(static_cast<uint8_t>(value >> 8));
    frame.push_back(static_cast<uint8_t>(value));
}

void packBits(std::vector<uint8_t> &frame, const std::vector<bool> &bits) {
    const size_t bytes = (bits.size() + 7) / 8;
    frame.push_back(static_cast<uint8_t>(bytes));
    for (size_t b = 0; b < bytes; ++b) {
        uint8_t value = 0;
        for (size_t i = 0; i < 8 && b * 8 + i < bits.size(); ++i)
            value |= bits[b * 8 + i] ? (1u << i) : 0;
        frame.push_back(value);
    }
}

struct Speed {
    int baud;
    speed_t code;
};
constexpr Speed Speeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                            {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

// The line setting for a rate that runsAtBaud accepted.
speed_t speedOf(int baud) {
    for (const Speed &s : Speeds)
        if (s.baud == baud)
            return s.code;
    return B9600;
}

bool parseInt(const std::string &text, long &value, int base = 0) {
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, base);
    return !text.empty() && errno == 0 && *end == '\0';
}

// The length of a request frame as its header gives it, for a frame that libmodbus read but did not accept
// (bad CRC, another station): what libmodbus reads for it, at most `available`.
int requestFrameLength(const uint8_t *frame, int available) {
    if (available < 2)
        return available;
    int length = 4; // station, function, CRC
    switch (frame[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
        length = 8;
        break;
    case 0x0F:
    case 0x10:
        length = available > 6 ? 9 + frame[6] : 7;
        break;
    default:
        break;
    }
    return std::min(length, available);
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

bool Simulator::runsAtBaud(int baud) {
    for (const Speed &s : Speeds)
        if (s.baud == baud)
            return true;
    return false;
}

Simulator::Simulator(SimOptions options)
    : m_options(std::move(options)) {}

Simulator::~Simulator() {
    closeLine();
}

double Simulator::characterSeconds() const {
    const int bits = 1 + 8 + (m_options.parity == 'N' ? 0 : 1) + 1;
    return static_cast<double>(bits) / m_options.baud;
}

bool Simulator::open() {
    const bool ok = m_options.devicePath.empty() ? openPseudoTerminal() : openDevice();
    if (!ok)
        return false;
    modbus_set_slave(m_modbus, m_options.station);
    // Shorter than any master's time-out, so a broken or foreign frame never swallows the next request.
    const double byteTimeout = std::max(0.003, 4 * characterSeconds());
    modbus_set_byte_timeout(m_modbus, 0, static_cast<uint32_t>(byteTimeout * 1e6));
    // How long another station's answer may take to start; shorter than any master's time-out.
    const double answerTimeout = std::max(0.015, 20 * characterSeconds());
    modbus_set_response_timeout(m_modbus, 0, static_cast<uint32_t>(answerTimeout * 1e6));
    for (const std::string &line : m_options.commands)
        if (!command(line))
            return false;
    std::printf("%s\n", m_options.linkPath.empty()
                            ? (m_ptyPath.empty() ? m_options.devicePath.c_str() : m_ptyPath.c_str())
                            : m_options.linkPath.c_str());
    std::fflush(stdout);
    return true;
}

bool Simulator::openPseudoTerminal() {
    m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0) {
        std::perror("qm4107-sim: pseudo-terminal");
        return false;
    }
    m_ptyPath = ptsname(m_fd);
    // Holding the slave side open keeps the master from seeing a hang-up between two masters' sessions.
    m_keepSlave = ::open(m_ptyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_keepSlave < 0) {
        std::perror("qm4107-sim: pseudo-terminal slave");
        return false;
    }
    termios tios{};
    tcgetattr(m_keepSlave, &tios);
    cfmakeraw(&tios);
    cfsetispeed(&tios, speedOf(m_options.baud));
    cfsetospeed(&tios, speedOf(m_options.baud));
    tios.c_cflag |= CLOCAL | CREAD;
    tios.c_cflag &= ~(PARENB | PARODD);
    if (m_options.parity != 'N')
        tios.c_cflag |= PARENB | (m_options.parity == 'O' ? PARODD : 0);
    tcsetattr(m_keepSlave, TCSANOW, &tios);
    if (!m_options.linkPath.empty() && !makeLink(m_ptyPath))
        return false;
    m_modbus = modbus_new_rtu(m_ptyPath.c_str(), m_options.baud, m_options.parity, 8, 1);
    if (!m_modbus)
        return false;
    modbus_set_socket(m_modbus, m_fd);
    return true;
}

bool Simulator::openDevice() {
    m_modbus = modbus_new_rtu(m_options.devicePath.c_str(), m_options.baud, m_options.parity, 8, 1);
    if (!m_modbus || modbus_connect(m_modbus) != 0) {
        std::fprintf(stderr, "qm4107-sim: %s: %s\n", m_options.devicePath.c_str(), modbus_strerror(errno));
        if (m_modbus)
            modbus_free(m_modbus);
        m_modbus = nullptr;
        return false;
    }
    m_fd = modbus_get_socket(m_modbus);
    if (!m_options.linkPath.empty() && !makeLink(m_options.devicePath))
        return false;
    return true;
}

bool Simulator::makeLink(const std::string &target) {
    struct stat st {};
    if (lstat(m_options.linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "qm4107-sim: %s exists and is not a symbolic link\n",
                     m_options.linkPath.c_str());
        return false;
    }
    // A link left by a killed simulator is replaced in one step.
    const std::string temporary = m_options.linkPath + ".tmp" + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), m_options.linkPath.c_str()) != 0) {
        std::perror("qm4107-sim: --link");
        ::unlink(temporary.c_str());
        return false;
    }
    m_linkMade = true;
    return true;
}

void Simulator::closeLine() {
    if (m_linkMade) {
        // Only our own link is removed; another simulator may have taken the name since.
        char target[4096];
        const ssize_t n = readlink(m_options.linkPath.c_str(), target, sizeof target - 1);
        const std::string ours = m_ptyPath.empty() ? m_options.devicePath : m_ptyPath;
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == ours)
            ::unlink(m_options.linkPath.c_str());
        m_linkMade = false;
    }
    if (m_modbus) {
        if (m_options.devicePath.empty())
            modbus_set_socket(m_modbus, -1); // our pseudo-terminal is closed below, not by libmodbus
        else
            modbus_close(m_modbus);
        modbus_free(m_modbus);
        m_modbus = nullptr;
    }
    if (m_options.devicePath.empty() && m_fd >= 0)
        ::close(m_fd);
    if (m_keepSlave >= 0)
        ::close(m_keepSlave);
    m_fd = m_keepSlave = -1;
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
    if (m_deafMs > 0 && heard - m_lastAnswerEnd < std::chrono::milliseconds(m_deafMs)) {
        // Still turning its own line around: the module never hears the request, and no fault takes a turn.
        std::vector<uint8_t> ignored;
        ModuleState saved = m_state;
        handle(request, length, ignored, log);
        m_state = saved;
        ++m_counters.faults;
        std::printf("%s deaf\n", log.c_str());
        std::fflush(stdout);
        return;
    }
    if (!masterLineMatches()) {
        // On a real line a master at another baud or parity is heard as noise: no answer, nothing changes.
        std::vector<uint8_t> ignored;
        ModuleState saved = m_state;
        handle(request, length, ignored, log);
        m_state = saved;
        ++m_counters.wrongLine;
        std::printf("%s wrong-line\n", log.c_str());
        std::fflush(stdout);
        return;
    }
    if (m_fault == Fault::Silent || m_fault == Fault::Exception) {
        // The module does not act on the request: it did not hear it, or it refused it.
        std::vector<uint8_t> ignored;
        ModuleState saved = m_state;
        handle(request, length, ignored, log);
        m_state = saved;
        if (m_fault == Fault::Exception) {
            frame = {static_cast<uint8_t>(m_options.station), static_cast<uint8_t>(request[1] | 0x80),
                     static_cast<uint8_t>(m_exceptionCode)};
            log += " exception " + std::to_string(m_exceptionCode);
        } else {
            log += " silent";
        }
    } else {
        handle(request, length, frame, log);
    }
    reply(std::move(frame), length, received, log);
    takeFaultTurn();
}

bool Simulator::masterLineMatches() const {
    if (m_keepSlave < 0)
        return true; // a real device: the UART itself sorts that out
    termios tios{};
    if (tcgetattr(m_keepSlave, &tios) != 0)
        return true;
    // A pseudo-terminal keeps no PARENB; a master that wants parity also asks for parity checking (INPCK).
    const bool parityOn = (tios.c_cflag & (PARENB | PARODD)) || (tios.c_iflag & INPCK);
    const char parity = !parityOn ? 'N' : (tios.c_cflag & PARODD) ? 'O' : 'E';
    return cfgetospeed(&tios) == speedOf(m_options.baud) && parity == m_options.parity;
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
        frame[0] = static_cast<uint8_t>(m_options.station % 247 + 1);
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
    if (frame.size() >= 2 && (frame[1] & 0x80) && m_fault != Fault::Garbage)
        ++m_counters.exceptions;
}

void Simulator::handle(const uint8_t *request, int length, std::vector<uint8_t> &reply, std::string &log) {
    const uint8_t station = request[0];
    const uint8_t function = request[1];
    reply = {station, function};
    uint8_t exception = ModuleState::Served;
    std::ostringstream text;
    const int address = length >= 6 ? word(request + 2) : 0;
    const int item = toItem(address);
    const int quantity = length >= 6 ? word(request + 4) : 0;

    switch (function) {
    case 0x01:
    case 0x02: {
        text << (function == 1 ? "read-coils " : "read-inputs ") << item << ' ' << quantity;
        std::vector<bool> bits;
        if (quantity < 1 || quantity > MODBUS_MAX_READ_BITS)
            exception = ModuleState::IllegalValue;
        else
            exception = function == 1 ? m_state.readCoils(item, quantity, bits)
                                      : m_state.readInputs(item, quantity, bits);
        if (!exception)
            packBits(reply, bits);
        break;
    }
    case 0x03:
    case 0x04: {
        text << (function == 3 ? "read-holding-registers " : "read-input-registers ") << item << ' '
             << quantity;
        std::vector<uint16_t> values;
        if (quantity < 1 || quantity > MODBUS_MAX_READ_REGISTERS)
            exception = ModuleState::IllegalValue;
        else
            exception = function == 3 ? m_state.readHoldingRegisters(item, quantity, values)
                                      : m_state.readInputRegisters(item, quantity, values);
        if (!exception) {
            reply.push_back(static_cast<uint8_t>(values.size() * 2));
            for (uint16_t v : values)
                putWord(reply, v);
        }
        break;
    }
    case 0x05: {
        const int value = quantity;
        text << "write-coil " << item << ' ' << (value == 0xFF00 ? 1 : value == 0 ? 0 : value);
        if (value != 0xFF00 && value != 0)
            exception = ModuleState::IllegalValue;
        else
            exception = m_state.writeCoil(item, value == 0xFF00);
        if (!exception)
            reply.insert(reply.end(), request + 2, request + 6);
        break;
    }
    case 0x06: {
        text << "write-register " << item << ' ' << quantity;
        exception = m_state.writeHoldingRegister(item, static_cast<uint16_t>(quantity));
        if (!exception)
            reply.insert(reply.end(), request + 2, request + 6);
        break;
    }
    case 0x0F:
    case 0x10: {
        text << (function == 0x0F ? "write-coils " : "write-registers ") << item << ' ' << quantity;
        const int bytes = length >= 7 ? request[6] : -1;
        const bool coils = function == 0x0F;
        const int wanted = coils ? (quantity + 7) / 8 : quantity * 2;
        if (quantity < 1 || quantity > (coils ? MODBUS_MAX_WRITE_BITS : MODBUS_MAX_WRITE_REGISTERS) ||
            bytes != wanted || length < 7 + bytes + 2) {
            exception = ModuleState::IllegalValue;
        } else if (coils) {
            std::vector<bool> bits;
            for (int i = 0; i < quantity; ++i)
                bits.push_back(request[7 + i / 8] & (1u << (i % 8)));
            exception = m_state.writeCoils(item, bits);
        } else {
            std::vector<uint16_t> values;
            for (int i = 0; i < quantity; ++i)
                values.push_back(static_cast<uint16_t>(word(request + 7 + 2 * i)));
            exception = m_state.writeHoldingRegisters(item, values);
        }
        if (!exception)
            reply.insert(reply.end(), request + 2, request + 6);
        break;
    }
    default:
        text << "function " << static_cast<int>(function);
        exception = 1; // illegal function
        break;
    }
    if (exception) {
        reply = {station, static_cast<uint8_t>(function | 0x80), exception};
        text << " exception " << static_cast<int>(exception);
    }
    log = text.str();
}

bool Simulator::command(const std::string &line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.empty() || words[0][0] == '#')
        return true;
    const std::string &name = words[0];
    std::vector<long> numbers;
    for (size_t i = 1; i < words.size(); ++i) {
        long value = 0;
        if (name == "inputs" || name == "pulses" || name == "frames" || name == "echo" || name == "noise")
            break; // parsed below
        if (!parseInt(words[i], value)) {
            std::fprintf(stderr, "qm4107-sim: bad command \"%s\"\n", line.c_str());
            return false;
        }
        numbers.push_back(value);
    }
    auto arity = [&](size_t low, size_t high) { return numbers.size() >= low && numbers.size() <= high; };
    auto fault = [&](Fault f, size_t countIndex) {
        m_fault = f;
        m_faultRequests = numbers.size() > countIndex && numbers[countIndex] > 0
                              ? static_cast<int>(numbers[countIndex])
                              : -1;
        return true;
    };
    bool ok = false;
    if (name == "input" && arity(2, 2)) {
        ok = m_state.setInput(static_cast<int>(numbers[0]), numbers[1] != 0);
    } else if (name == "inputs" && words.size() == 2) {
        ok = words[1].size() <= ModuleState::InputItems &&
             words[1].find_first_not_of("01") == std::string::npos;
        for (size_t i = 0; ok && i < ModuleState::InputItems; ++i)
            m_state.setInput(static_cast<int>(i + 1), i < words[1].size() && words[1][i] == '1');
    } else if (name == "coil" && arity(2, 2)) {
        ok = m_state.setCoil(static_cast<int>(numbers[0]), numbers[1] != 0);
    } else if (name == "pulses" && words.size() == 3) {
        char *end = nullptr;
        const double hertz = std::strtod(words[2].c_str(), &end);
        long counter = 0;
        ok = parseInt(words[1], counter) && *end == '\0' &&
             m_state.setPulses(static_cast<int>(counter), hertz);
    } else if ((name == "frequency" || name == "input-register") && arity(2, 2)) {
        ok = numbers[1] >= 0 && numbers[1] <= 65535 &&
             m_state.setInputRegister(static_cast<int>(numbers[0]), static_cast<uint16_t>(numbers[1]));
    } else if (name == "register" && arity(2, 2)) {
        ok = numbers[1] >= -32768 && numbers[1] <= 65535 &&
             m_state.setHoldingRegister(static_cast<int>(numbers[0]), static_cast<uint16_t>(numbers[1]));
    } else if (name == "silent" && arity(0, 1)) {
        ok = fault(Fault::Silent, 0);
    } else if (name == "late" && arity(1, 2) && numbers[0] >= 0) {
        m_lateMs = static_cast<int>(numbers[0]);
        ok = fault(Fault::Late, 1);
    } else if (name == "slow" && arity(1, 2) && numbers[0] >= 0) {
        m_slowMs = static_cast<int>(numbers[0]);
        ok = fault(Fault::Slow, 1);
    } else if (name == "corrupt-crc" && arity(0, 1)) {
        ok = fault(Fault::CorruptCrc, 0);
    } else if (name == "wrong-station" && arity(0, 1)) {
        ok = fault(Fault::WrongStation, 0);
    } else if (name == "exception" && arity(0, 2)) {
        m_exceptionCode = numbers.empty() ? 4 : static_cast<int>(numbers[0] & 0xFF);
        ok = fault(Fault::Exception, 1);
    } else if (name == "garbage" && arity(0, 1)) {
        ok = fault(Fault::Garbage, 0);
    } else if (name == "burst" && arity(2, 2)) {
        ok = numbers[0] >= 1 && numbers[0] <= ModuleState::Counters && numbers[1] >= 1 &&
             numbers[1] <= 65535 && m_state.burst(static_cast<int>(numbers[0]), static_cast<int>(numbers[1]));
    } else if (name == "echo" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        m_echo = words[1] == "on";
        ok = true;
    } else if (name == "noise" && (words.size() == 2 || words.size() == 3)) {
        long byte = -1;
        long count = 0;
        ok = parseInt(words[1], byte, 16) && byte >= 0 && byte <= 0xFF &&
             (words.size() == 2 || parseInt(words[2], count));
        if (ok) {
            m_noiseByte = static_cast<uint8_t>(byte);
            m_noiseAnswers = count > 0 ? static_cast<int>(count) : -1;
        }
    } else if (name == "deaf" && arity(1, 1) && numbers[0] >= 0 && numbers[0] <= 60000) {
        m_deafMs = static_cast<int>(numbers[0]);
        ok = true;
    } else if (name == "normal" && arity(0, 0)) {
        m_fault = Fault::None;
        m_faultRequests = -1;
        m_noiseAnswers = 0;
        m_deafMs = 0;
        ok = true;
    } else if (name == "close-device" && arity(0, 0)) {
        closeLine();
        ok = true;
    } else if (name == "state" && arity(0, 0)) {
        std::printf("state %s fault=%s%s\n", m_state.dump().c_str(),
                    m_fault == Fault::None ? "none"
                    : m_faultRequests > 0  ? "pending"
                                           : "on",
                    counterFields().c_str());
        std::fflush(stdout);
        ok = true;
    } else if (name == "frames" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        m_options.logFrames = words[1] == "on";
        ok = true;
    } else if (name == "quit" && arity(0, 0)) {
        m_quit = true;
        ok = true;
    }
    if (!ok)
        std::fprintf(stderr, "qm4107-sim: bad command \"%s\"\n", line.c_str());
    return ok;
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
