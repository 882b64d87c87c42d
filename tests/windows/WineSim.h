#pragma once

#include <string>
#include <vector>

// The qm4107-sim that tests/windows/run-wine-tests runs natively for a test program under Wine. Commands go
// to the simulator through a file the harness follows; its output comes back through another, both in the
// folder named by QM4107_SIM_DIR (a Windows path, e.g. Z:\tmp\x). Lines as qm4107-sim --help describes.
class WineSim {
public:
    WineSim();

    // True when the harness's folder is there and the simulator has started.
    bool isRunning() const;
    // Sends one command line and waits until the simulator has taken it, so that it is in effect for the
    // next request.
    void command(const std::string &line);
    // Request lines served since the last take.
    std::vector<std::string> takeLog();
    // True once a request line containing `contains` has come within `timeoutMs`; lines stay for takeLog.
    bool waitForLog(const std::string &contains, int timeoutMs);

private:
    // Reads whatever the simulator has written since the last call.
    void readOutput();

    std::string m_commands;
    std::string m_output;
    long long m_offset = 0;
    std::string m_partial;
    bool m_started = false;
    int m_stateLines = 0;
    std::vector<std::string> m_log;
    std::size_t m_waitCursor = 0;
};
