// The simulator's line: a pseudo-terminal or a serial device, the --link to it, and what the master set it
// to.
#include "Simulator.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
struct Speed {
    int baud;
    speed_t code;
};
constexpr Speed Speeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                            {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

// The line setting for a rate; B0 for one the simulator cannot run at.
speed_t speedOf(int baud) {
    for (const Speed &s : Speeds)
        if (s.baud == baud)
            return s.code;
    return B0;
}
} // namespace

bool Simulator::runsAtBaud(int baud) {
    return speedOf(baud) != B0;
}

double Simulator::characterSeconds(int baud, char parity) {
    const int bits = 1 + 8 + (parity == 'N' ? 0 : 1) + 1;
    return static_cast<double>(bits) / baud;
}

bool Simulator::open() {
    const bool ok = m_options.devicePath.empty() ? openPseudoTerminal() : openDevice();
    if (!ok)
        return false;
    // On a bus the frames are read without libmodbus (Simulator::receiveFrame).
    modbus_set_slave(m_modbus, m_stations.front().setting.station);
    const double character = characterSeconds(m_options.baud, m_options.parity);
    // Shorter than any master's time-out, so a broken or foreign frame never swallows the next request.
    const double byteTimeout = std::max(0.003, 4 * character);
    modbus_set_byte_timeout(m_modbus, 0, static_cast<uint32_t>(byteTimeout * 1e6));
    // How long another station's answer may take to start; shorter than any master's time-out.
    const double answerTimeout = std::max(0.015, 20 * character);
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

bool Simulator::masterLineMatches(const Station &station) const {
    if (m_keepSlave < 0) {
        // A real device: the UART itself sorts out the master's setting; on a bus, a module at another
        // setting than the device's hears only noise.
        return station.setting.baud == m_options.baud && station.setting.parity == m_options.parity;
    }
    termios tios{};
    if (tcgetattr(m_keepSlave, &tios) != 0)
        return true;
    // A pseudo-terminal keeps no PARENB; a master that wants parity also asks for parity checking (INPCK).
    const bool parityOn = (tios.c_cflag & (PARENB | PARODD)) || (tios.c_iflag & INPCK);
    const char parity = !parityOn ? 'N' : (tios.c_cflag & PARODD) ? 'O' : 'E';
    return cfgetospeed(&tios) == speedOf(station.setting.baud) && parity == station.setting.parity;
}
