#include "Trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#else
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    if (!m_path.empty())
        openLocked();
}

void Trace::openLocked() {
#ifdef _WIN32
    m_fd =
        m_path == "-" ? _dup(2) : _open(m_path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, 0644);
    m_regularFile = m_path != "-";
    m_size = m_fd >= 0 ? _lseeki64(m_fd, 0, SEEK_END) : 0;
#else
    // Standard error is opened anew, so that our non-blocking flag stays on our own open file and leaves
    // the one the process shares with its parent alone.
    const char *path = m_path == "-" ? "/proc/self/fd/2" : m_path.c_str();
    m_fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (m_fd < 0 && m_path == "-")
        m_fd = ::fcntl(2, F_DUPFD_CLOEXEC, 0);
    struct stat st {};
    m_regularFile = m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    m_size = m_regularFile ? st.st_size : 0;
#endif
    m_enabled = m_fd >= 0;
}

void Trace::closeLocked() {
    m_enabled = false;
    if (m_fd >= 0)
#ifdef _WIN32
        _close(m_fd);
#else
        ::close(m_fd);
#endif
    m_fd = -1;
}

bool Trace::write(const std::string &line) {
    if (!m_enabled)
        return true;
    std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return true;
    if (m_regularFile && m_size + static_cast<int64_t>(line.size()) > MaxBytes) {
        closeLocked();
        std::remove((m_path + ".1").c_str());
        std::rename(m_path.c_str(), (m_path + ".1").c_str());
        openLocked();
        if (m_fd < 0)
            return true;
    }
#ifdef _WIN32
    const int written = _write(m_fd, line.data(), static_cast<unsigned>(line.size()));
#else
    // A pipe whose reader has gone would raise SIGPIPE and end the process: held off for this write, and
    // taken back if it came, the pipe's end turns the trace off like any other failure.
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
#endif
    if (written >= 0) {
        m_size += written;
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return false;
    closeLocked(); // a full disk, a vanished device: the trace stops, the exchanges go on
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
    static constexpr modbus485::PerOutcome<const char *> words = {
        "none", "good",    "no answer",     "garbled",  "wrong station", "exception",
        "late", "demoted", "device failed", "not open", "cut short",     "mismatched"};
    line += " | ";
    line += words[static_cast<std::size_t>(x.outcome)];
    if (x.outcome == modbus485::Outcome::Exception) {
        line += ' ';
        line += std::to_string(x.answer[2]);
    }
    char roundTrip[32];
    std::snprintf(roundTrip, sizeof roundTrip, " | %.2f ms\n", static_cast<double>(x.roundTripUs) / 1000);
    return line + roundTrip;
}
