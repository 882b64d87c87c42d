#include "SerialLine.h"

#include <modbus/modbus.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace std::chrono;

namespace {
std::string processName(const std::string &pid) {
    std::string name;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
    return (name.empty() ? "?" : name) + " " + pid;
}

// The process whose flock is on the device file, from /proc/locks ("1: FLOCK ADVISORY WRITE PID MAJ:MIN:INODE
// ..."); else empty.
std::string lockHolder(const struct stat &file) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        char kind[16] = {}, pid[16] = {};
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line.c_str(), "%*s %15s %*s %*s %15s %x:%x:%llu", kind, pid, &major, &minor,
                        &inode) == 5 &&
            std::string(kind) == "FLOCK" && inode == file.st_ino && major == ::major(file.st_dev) &&
            minor == ::minor(file.st_dev))
            return processName(pid);
    }
    return {};
}

// "NAME PID" of the process that holds the device: the one with its lock, else the first other process seen
// with it open, as far as /proc lets this user see; else empty.
std::string holderOf(const struct stat &file) {
    if (std::string holder = lockHolder(file); !holder.empty())
        return holder;
    std::string found;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return found;
    const std::string self = std::to_string(::getpid());
    while (dirent *entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR *fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (dirent *fd = ::readdir(fds)) {
            struct stat st {};
            if (fd->d_name[0] != '.' && ::stat((fdDir + "/" + fd->d_name).c_str(), &st) == 0 &&
                S_ISCHR(st.st_mode) && st.st_rdev == file.st_rdev) {
                found = processName(pid);
                break;
            }
        }
        ::closedir(fds);
        if (!found.empty())
            break;
    }
    ::closedir(proc);
    return found;
}

std::string groupOf(const std::string &device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return {};
    const group *g = ::getgrgid(st.st_gid);
    return g ? g->gr_name : std::to_string(st.st_gid);
}

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
} // namespace

SerialLine::~SerialLine() {
    close();
}

bool SerialLine::isOpen() const {
    return m_modbus != nullptr;
}

SerialLine::OpenResult SerialLine::open(const std::string &device, int baud, char parity) {
    close();
    OpenResult result;
    // Non-blocking, so a device that waits for carrier, or a FIFO, cannot hold the open up.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = openError(errno);
        if (result.error == OpenError::Permission) {
            result.group = groupOf(device);
            const passwd *user = ::getpwuid(::geteuid());
            result.user = user ? user->pw_name : std::to_string(::geteuid());
        }
        if (result.error == OpenError::Busy) { // another program set TIOCEXCL
            struct stat st {};
            if (::stat(device.c_str(), &st) == 0)
                result.holder = holderOf(st);
        }
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        ::close(fd);
        result.error = OpenError::NotSerial;
        return result;
    }
    // The hold is decided before anything about the line changes, so a second program that is refused
    // leaves the first one's line as it was.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        result.error = errno == EWOULDBLOCK ? OpenError::Busy : OpenError::Failed;
        if (result.error == OpenError::Busy)
            result.holder = holderOf(st);
        return result;
    }
    modbus_t *ctx = modbus_new_rtu(device.c_str(), baud, parity, 8, 1);
    if (!ctx || modbus_connect(ctx) != 0) {
        const int error = errno;
        if (ctx)
            modbus_free(ctx);
        ::close(fd);
        result.error = openError(error) == OpenError::Missing ? OpenError::Missing : OpenError::Failed;
        return result;
    }
    // TIOCEXCL only once libmodbus has its own descriptor: it refuses every later open() but root's.
    ::ioctl(fd, TIOCEXCL);
    m_lockFd = fd;
    m_modbus = ctx;
    m_fd = modbus_get_socket(ctx);
    ::fcntl(m_fd, F_SETFD, ::fcntl(m_fd, F_GETFD) | FD_CLOEXEC);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    ::tcflush(m_fd, TCIOFLUSH);
    return result;
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

bool SerialLine::hungUp() const {
    pollfd line{m_fd, POLLIN, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL));
}
