#include "SerialLine.h"

#include "DeviceFacts.h"

#include <modbus/modbus.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

using namespace std::chrono;

namespace {
SerialLine::OpenError openError(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
        return SerialLine::OpenError::Missing;
    case EACCES:
    case EPERM:
    case EROFS:
        return SerialLine::OpenError::Permission;
    case EBUSY:
        return SerialLine::OpenError::Busy;
    case EISDIR:
        return SerialLine::OpenError::NotSerial;
    default:
        return SerialLine::OpenError::Failed;
    }
}

// The open's failure, with what an operator needs to fix it: who holds the device, or its group. A re-plug
// retry is told only the failure; it comes on every poll, and the holder means a search of /proc.
SerialLine::OpenResult failure(SerialLine::OpenError error, const std::string &device,
                               SerialLine::OpenFor purpose) {
    SerialLine::OpenResult result;
    result.error = error;
    if (purpose != SerialLine::OpenFor::Operator)
        return result;
    if (error == SerialLine::OpenError::Permission) {
        const modbus485::DeviceGroup facts = modbus485::deviceGroup(device);
        result.group = facts.present ? facts.group : std::string();
        result.user = facts.user;
    }
    if (error == SerialLine::OpenError::Busy) { // another program has its lock, or set TIOCEXCL
        const modbus485::Holders holders = modbus485::deviceHolders(device, true);
        if (!holders.found.empty())
            result.holder = holders.found.front().name + " " + std::to_string(holders.found.front().pid);
    }
    return result;
}
} // namespace

SerialLine::OpenResult SerialLine::open(const std::string &device, int baud, char parity, OpenFor purpose) {
    close();
    // Non-blocking, so a device that waits for carrier, or a FIFO, cannot hold the open up.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failure(openError(errno), device, purpose);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        ::close(fd);
        return failure(OpenError::NotSerial, device, purpose);
    }
    // The hold is decided before anything about the line changes, so a second program that is refused
    // leaves the first one's line as it was.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return failure(error == EWOULDBLOCK ? OpenError::Busy : OpenError::Failed, device, purpose);
    }
    modbus_t *ctx = modbus_new_rtu(device.c_str(), baud, parity, 8, 1);
    int error = ctx && modbus_connect(ctx) == 0 ? 0 : errno;
    OpenResult opened;
    // A pseudo-terminal drops PARENB, and once it has, a setting that asks for it is refused (EINVAL): it is
    // opened without parity, then asked for parity checking, which it keeps, and the open says so.
    const unsigned type = major(st.st_rdev);
    if (error == EINVAL && parity != 'N' && type >= 136 && type <= 143) {
        modbus_free(ctx);
        ctx = modbus_new_rtu(device.c_str(), baud, 'N', 8, 1);
        error = ctx && modbus_connect(ctx) == 0 ? 0 : errno;
        termios tios{};
        if (error == 0 && ::tcgetattr(modbus_get_socket(ctx), &tios) == 0) {
            tios.c_iflag |= INPCK;
            tios.c_cflag |= PARENB | (parity == 'O' ? PARODD : 0);
            ::tcsetattr(modbus_get_socket(ctx), TCSANOW, &tios); // PARENB dropped again, the rest taken
            opened.parityNotHeld = true;
        }
    }
    if (error != 0) {
        if (ctx)
            modbus_free(ctx);
        ::close(fd);
        return failure(openError(error) == OpenError::Missing ? OpenError::Missing : OpenError::Failed,
                       device, purpose);
    }
    // TIOCEXCL only once libmodbus has its own descriptor: it refuses every later open() but root's.
    ::ioctl(fd, TIOCEXCL);
    m_lockFd = fd;
    m_modbus = ctx;
    m_fd = modbus_get_socket(ctx);
    ::fcntl(m_fd, F_SETFD, ::fcntl(m_fd, F_GETFD) | FD_CLOEXEC);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    ::tcflush(m_fd, TCIOFLUSH);
    return opened;
}

void SerialLine::close() {
    if (m_modbus) {
        modbus_close(m_modbus);
        modbus_free(m_modbus);
        m_modbus = nullptr;
        m_fd = -1;
    }
    if (m_lockFd >= 0) {
        ::ioctl(m_lockFd, TIOCNXCL);
        ::close(m_lockFd); // and the lock with it
        m_lockFd = -1;
    }
}

bool SerialLine::write(const uint8_t *data, std::size_t size) {
    // A frame is a few bytes and the output buffer is empty between exchanges; the bound only keeps a
    // stuck device from holding the port.
    const auto giveUp = Clock::now() + seconds(1);
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd line{m_fd, POLLOUT, 0};
        if (Clock::now() >= giveUp || (::poll(&line, 1, 10) > 0 && (line.revents & (POLLERR | POLLHUP))))
            return false;
    }
    return true;
}

int SerialLine::read(uint8_t *buffer, std::size_t size, Clock::time_point until) {
    for (;;) {
        const auto remaining = std::max(Clock::duration::zero(), until - Clock::now());
        pollfd line{m_fd, POLLIN, 0};
        const int ready = ::poll(&line, 1, static_cast<int>(ceil<milliseconds>(remaining).count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return -1;
        if (ready == 0) {
            if (Clock::now() >= until)
                return 0;
            continue;
        }
        if (!(line.revents & POLLIN))
            return -1; // hung up or failing
        const ssize_t got = ::read(m_fd, buffer, size);
        if (got > 0)
            return static_cast<int>(got);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return -1;
    }
}

bool SerialLine::present(const std::string &device) const {
    struct stat st {};
    return ::stat(device.c_str(), &st) == 0;
}

bool SerialLine::hungUp() const {
    pollfd line{m_fd, POLLIN, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL));
}
