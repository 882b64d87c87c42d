#include "WineSim.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {
std::string folder() {
    const char *dir = std::getenv("QM4107_SIM_DIR");
    return dir ? dir : "";
}
} // namespace

WineSim::WineSim()
    : m_commands(folder() + "\\commands")
    , m_output(folder() + "\\output") {
    readOutput();
}

bool WineSim::isRunning() const {
    return !folder().empty() && m_started;
}

void WineSim::readOutput() {
    FILE *file = std::fopen(m_output.c_str(), "rb");
    if (!file)
        return;
    _fseeki64(file, m_offset, SEEK_SET);
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        m_offset += static_cast<long long>(got);
        m_partial.append(buffer, got);
    }
    std::fclose(file);
    std::size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos) {
        const std::string line = m_partial.substr(0, end);
        m_partial.erase(0, end + 1);
        if (!m_started)
            m_started = true; // the first line is the device path
        else if (line.rfind("state ", 0) == 0)
            ++m_stateLines;
        else
            m_log.push_back(line);
    }
}

void WineSim::command(const std::string &line) {
    readOutput();
    const int answered = m_stateLines;
    if (FILE *file = std::fopen(m_commands.c_str(), "ab")) {
        // The state line that follows shows that the simulator has read the command before it.
        std::fprintf(file, "%s\nstate\n", line.c_str());
        std::fclose(file);
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (m_stateLines == answered && std::chrono::steady_clock::now() < giveUp) {
        Sleep(2);
        readOutput();
    }
}

std::vector<std::string> WineSim::takeLog() {
    readOutput();
    std::vector<std::string> lines;
    lines.swap(m_log);
    m_waitCursor = 0;
    return lines;
}

bool WineSim::waitForLog(const std::string &contains, int timeoutMs) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        readOutput();
        for (; m_waitCursor < m_log.size(); ++m_waitCursor)
            if (m_log[m_waitCursor].find(contains) != std::string::npos) {
                ++m_waitCursor;
                return true;
            }
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        Sleep(5);
    }
}
