#include "Trace.h"

#include "MODBUS485.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <fcntl.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
namespace {
std::wstring widened(const std::string &utf8) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}
} // namespace
#endif

Trace::~Trace() {
    std::lock_guard lock(m_mutex);
    closeLocked();
}

Trace &Trace::instance() {
    static auto *trace = new Trace; // lives as long as the process, like the ports that write to it
    return *trace;
}

void Trace::configure() {
    const char *variable = std::getenv("MODBUS485_TRACE");
    const std::string path = variable ? variable : "";
    std::lock_guard lock(m_mutex);
    if (path == m_path && (m_fd >= 0 || path.empty()))
        return;
    closeLocked();
    m_path = path;
    m_utf8 = false;
    m_stopReason = 0;
    if (!m_path.empty())
        openLocked();
}

bool Trace::start(const std::string &path) {
    std::lock_guard lock(m_mutex);
    closeLocked();
    m_path = path;
    m_utf8 = true;
    m_stopReason = 0;
    openLocked();
    return m_fd >= 0;
}

void Trace::openLocked() {
    m_target = Target::File;
    m_ownsFd = true;
    m_rotates = false;
    m_lineCutShort = false;
    m_size = 0;
#ifdef _WIN32
    if (m_path == "-") {
        // Windows cannot tell beforehand whether a write to a console or a pipe would wait: standard error
        // is written only when it is a file, through a second handle on the same open file and its position.
        m_target = Target::StandardError;
        m_fd = -1;
        const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
        HANDLE own = nullptr;
        if (standardError && standardError != INVALID_HANDLE_VALUE &&
            GetFileType(standardError) == FILE_TYPE_DISK &&
            DuplicateHandle(GetCurrentProcess(), standardError, GetCurrentProcess(), &own, 0, FALSE,
                            DUPLICATE_SAME_ACCESS) &&
            (m_fd = _open_osfhandle(reinterpret_cast<intptr_t>(own), _O_WRONLY | _O_APPEND | _O_BINARY)) < 0)
            CloseHandle(own);
    } else {
        const int flags = _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY;
        m_fd = m_utf8 ? _wopen(widened(m_path).c_str(), flags, 0644) : _open(m_path.c_str(), flags, 0644);
        m_rotates =
            m_fd >= 0 && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(m_fd))) == FILE_TYPE_DISK;
        m_size = m_rotates ? _lseeki64(m_fd, 0, SEEK_END) : 0;
    }
#else
    struct stat st {};
    if (m_path != "-") {
        m_fd =
            ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
        m_rotates = m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
        m_size = m_rotates ? st.st_size : 0;
    } else if (::fstat(2, &st) != 0) {
        m_fd = -1;
    } else if (S_ISSOCK(st.st_mode)) {
        m_target = Target::Socket;
        m_ownsFd = false;
        m_fd = 2;
    } else {
        // Lines go where the program's own messages go, after them, through descriptor 2's own file
        // position. A pipe or a terminal has no position: it gets a second description of its own that
        // does not wait, so that a reader stalled in the middle of a line cannot hold the exchange up and
        // descriptor 2's flags stay as the program has them. Where none can be had (no /proc, a terminal
        // this user may not open), descriptor 2 itself is written when ready: a terminal stopped with Ctrl-S
        // or a full pipe still drops the line, but a terminal's reader that stalls with less room left than
        // a line could hold that one write up.
        m_target = Target::StandardError;
        m_ownsFd = false;
        m_fd = 2;
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
            const int own = ::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
            struct stat same {};
            if (own >= 0 && ::fstat(own, &same) == 0 && same.st_dev == st.st_dev &&
                same.st_ino == st.st_ino) {
                m_fd = own;
                m_ownsFd = true;
            } else if (own >= 0) {
                ::close(own);
            }
        }
    }
#endif
    if (m_fd < 0) {
        stopLocked(MODBUS485_TRACE_STOPPED_OPEN);
        return;
    }
    m_enabled = true;
}

void Trace::closeLocked() {
    m_enabled = false;
    if (m_fd >= 0 && m_ownsFd)
#ifdef _WIN32
        _close(m_fd);
#else
        ::close(m_fd);
#endif
    m_fd = -1;
}

void Trace::stopLocked(int reason) {
    closeLocked();
    m_stopReason = reason;
}

bool Trace::moveAsideLocked() {
    // FILE.1 goes only when the move that replaces it succeeds; when it fails, both files stay as they are
    // and the trace stops here rather than try again at every line.
    closeLocked();
    const std::string aside = m_path + ".1";
#ifdef _WIN32
    const bool moved =
        m_utf8 ? MoveFileExW(widened(m_path).c_str(), widened(aside).c_str(), MOVEFILE_REPLACE_EXISTING) != 0
               : MoveFileExA(m_path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    const bool moved = std::rename(m_path.c_str(), aside.c_str()) == 0;
#endif
    if (!moved) {
        stopLocked(MODBUS485_TRACE_STOPPED_MOVE);
        return false;
    }
    openLocked();
    return m_fd >= 0;
}

bool Trace::writable() const {
#ifdef _WIN32
    return true; // only files are written
#else
    // A terminal stopped with Ctrl-S, a full pipe or a socket whose reader has stopped is not ready; a
    // reader that has gone is, and the write then says so.
    pollfd ready{m_fd, POLLOUT, 0};
    return ::poll(&ready, 1, 0) > 0;
#endif
}

long Trace::writeLocked(const std::string &line) {
#ifdef _WIN32
    return _write(m_fd, line.data(), static_cast<unsigned>(line.size()));
#else
    if (m_target == Target::Socket)
        return ::send(m_fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    // A pipe whose reader has gone would raise SIGPIPE and end the process: held off for this write, and
    // taken back if it came, the pipe's end stops the trace like any other failure.
    sigset_t pipe, before;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &before);
    const ssize_t written = ::write(m_fd, line.data(), line.size());
    const int error = errno;
    if (written < 0 && error == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return written;
#endif
}

bool Trace::write(const std::string &line) {
    if (!m_enabled)
        return true;
    std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return true;
    if (m_rotates && m_size + static_cast<int64_t>(line.size()) > MaxBytes && !moveAsideLocked())
        return true;
    if (!writable())
        return false;
    const std::string whole = m_lineCutShort ? "\n" + line : line;
    const long written = writeLocked(whole);
    if (written >= 0) {
        m_size += written;
        m_lineCutShort = written > 0 && written < static_cast<long>(whole.size());
        return written == static_cast<long>(whole.size());
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return false;
    stopLocked(MODBUS485_TRACE_STOPPED_WRITE); // a full disk, a vanished device: the exchanges go on
    return true;
}

std::string traceLine(std::chrono::system_clock::time_point when, int port, const std::string &device,
                      const modbus485::Exchange &x) {
    using namespace std::chrono;
    static constexpr std::size_t MaxBytesShown = 256;
    const std::time_t seconds = system_clock::to_time_t(when);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[48];
    const auto size = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + size, sizeof stamp - size, ".%03d",
                  static_cast<int>(duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000));
    std::string line = std::string(stamp) + " port " + std::to_string(port) + " " + device + " station " +
                       std::to_string(x.request[0]);
    auto bytes = [&line](const char *label, const uint8_t *data, std::size_t size) {
        static const char digits[] = "0123456789ABCDEF";
        line += " | ";
        line += label;
        if (size == 0)
            line += " -";
        for (std::size_t i = 0; i < std::min(size, MaxBytesShown); ++i) {
            line += ' ';
            line += digits[data[i] >> 4];
            line += digits[data[i] & 15];
        }
    };
    if (!x.dropped.empty())
        bytes("dropped", x.dropped.data(), x.dropped.size());
    bytes("request", x.request.data(), x.request.size());
    line += " | allowance " + std::to_string(x.allowanceMs) + " ms";
    if (x.frameGapMs > 0)
        line += ", pause " + std::to_string(x.frameGapMs) + " ms";
    if (x.echo)
        line += " | echo";
    if (!x.skipped.empty())
        bytes("skipped", x.skipped.data(), x.skipped.size());
    bytes("answer", x.answer.data(), x.answer.size());
    if (!x.behind.empty())
        bytes("dropped behind", x.behind.data(), x.behind.size());
    line += " | ";
    line += modbus485::facts(x.outcome).trace;
    if (x.outcome == modbus485::Outcome::Exception) {
        line += ' ';
        line += std::to_string(x.answer[2]);
    }
    char roundTrip[32];
    std::snprintf(roundTrip, sizeof roundTrip, " | %.2f ms\n", static_cast<double>(x.roundTripUs) / 1000);
    return line + roundTrip;
}
