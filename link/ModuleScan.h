#pragma once

#include "Modbus485.h"
#include "StationSweep.h"

#include <cstdint>
#include <string>

// Looks for the module on one port: every station of the window's list at each baud rate and parity, one
// input-block read each with a short turnaround, until something answers (an exception reply counts). When
// anything comes back at a setting after that short deadline, the stations just asked are asked again with
// the longest turnaround, so a slow module is found too (StationSweep).
//
// It goes one exchange at a time, so that a window can keep its event loop turning: each step() opens the
// next line setting or makes one read, and says how long to wait before the next. The scan holds the port
// from its first step until it ends, is stopped or is destroyed.
class ModuleScan {
public:
    enum class Step { Scanning, Found, NothingAnswered, CannotOpen, Stopped };
    struct Found {
        int32_t station = 0;
        int32_t baudCode = 0;   // MODBUS485's codes: 0/1/2 = 4800/9600/19200
        int32_t parityCode = 0; // 0/1/2 = none/odd/even
        int32_t answerUs = 0;   // how long the module took to answer, request and answer on the wire included
    };

    static constexpr int32_t FirstStation = 1;
    static constexpr int32_t LastStation = 16;
    static constexpr int32_t TurnaroundMs = StationSweep::TurnaroundMs;
    static constexpr int32_t SlowTurnaroundMs = StationSweep::SlowTurnaroundMs;

    ModuleScan(Modbus485 &link, int32_t port);
    ~ModuleScan();
    ModuleScan(const ModuleScan &) = delete;
    ModuleScan &operator=(const ModuleScan &) = delete;

    // One exchange: Scanning while there is more to ask; once it has ended it keeps saying how.
    Step step();
    // Milliseconds to let pass before the next step (a station just refused without asking).
    int32_t waitMs() const { return m_waitMs; }
    // Ends the scan where it is and releases the port; from then on step() says Stopped, unless the scan had
    // already ended.
    void stop();

    // Where the scan is: the line setting open and the station being looked for.
    int32_t baudCode() const;
    int32_t parityCode() const;
    int32_t station() const { return m_sweep.station() ? m_sweep.station() : FirstStation; }

    const Found &found() const { return m_found; }
    // Why the port could not be opened, in the library's words.
    const std::string &openError() const { return m_openError; }

private:
    // Ends the scan with `result`, releasing the port.
    Step finish(Step result);

    StationSweep m_sweep;
    int m_setting = -1; // index into the order of line settings tried
    int32_t m_waitMs = 0;
    Step m_result = Step::Scanning;
    Found m_found;
    std::string m_openError;
};
