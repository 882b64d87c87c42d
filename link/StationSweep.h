#pragma once

#include "Modbus485.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Goes through a range of stations at the line setting a port is open with, one input-block read each with
// a short turnaround, and says what each read found. When anything comes back at the setting after that
// short deadline (late, garbled, another station's), the stations asked since the last such look are asked
// again with the longest turnaround, so a slow module is found too; a station that answered is not asked
// again. A read refused at once (the station was silent a moment ago) is asked once more after the
// library's demotion time. The search for one module (ModuleScan) and the survey of the line (LineSurvey)
// both go station by station with it.
class StationSweep {
public:
    enum class Heard { Answered, Silent, Refused };
    struct Probe {
        int32_t station = 0;
        Heard heard = Heard::Silent;
        int32_t outcome = 0;  // the read's MODBUS485_OUTCOME_
        int32_t answerUs = 0; // the round trip of an answered read, request and answer on the wire included
    };
    struct LineSetting {
        int32_t baudCode = 0;   // MODBUS485's codes: 0/1/2 = 4800/9600/19200
        int32_t parityCode = 0; // 0/1/2 = none/odd/even
        bool operator==(const LineSetting &) const = default;
    };

    // The line settings in the order a search tries them: the window's default baud rate first, each baud
    // rate with every parity.
    static constexpr std::array<LineSetting, 9> SearchOrder{
        {{1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {2, 2}, {0, 0}, {0, 1}, {0, 2}}};
    // Enough for a quick module and a USB adapter's 16 ms latency timer; a silent line then costs under 10 s
    // for 16 stations at all nine settings. Whatever comes back later is noticed and its station asked again
    // with SlowTurnaroundMs.
    static constexpr int32_t TurnaroundMs = 20;
    static constexpr int32_t SlowTurnaroundMs = 1000;

    StationSweep(Modbus485 &link, int32_t port);

    // Opens the port at `setting` and starts at `first`; false, with the library's reason in `error`, when
    // the port does not open. The port is held from then on, at this setting and the next, until release().
    bool open(LineSetting setting, int32_t first, int32_t last, std::string &error);
    // Closes the port if this sweep has opened it.
    void release();
    // True once every station of the range has been asked.
    bool done() const { return m_done; }
    // One read of the next station; the sweep then moves on or waits to ask again.
    Probe step();
    // Milliseconds to let pass before the next step (a station just refused without asking).
    int32_t waitMs() const { return m_waitMs; }
    // The station the sweep has got to.
    int32_t station() const { return m_station; }
    // The turnaround the sweep has the port on now, for whoever makes reads of its own in between.
    int32_t turnaroundMs() const { return m_again ? SlowTurnaroundMs : TurnaroundMs; }
    // The outcome of the last read of `function` from `start` at `station`, a MODBUS485_OUTCOME_.
    static int32_t lastOutcome(Modbus485 &link, int32_t port, int32_t station, int32_t function,
                               int32_t start, int32_t *answerUs = nullptr);

private:
    Heard probe(int32_t station, Probe &probed);
    // Bytes that came back at this setting without a good answer, so far: late, garbled or stray.
    int64_t somethingCameBack();
    // The next station from `from` on not yet answered, up to the station got to; 0 when none is left.
    int32_t toAskAgain(int32_t from) const;
    void endSlowLook();
    void nextStation();

    Modbus485 &m_link;
    int32_t m_port;
    int32_t m_last = 0;
    bool m_held = false; // the port is ours, opened or not
    bool m_done = true;
    int32_t m_station = 0;     // the station the sweep has got to
    int32_t m_askedSlowly = 0; // the last station asked again slowly
    int32_t m_again = 0;       // while asking again slowly: the next station to ask, else 0
    bool m_refused = false;    // the last read was refused at once; it is asked once more
    int64_t m_seen = 0;        // somethingCameBack() after the last slow look
    int32_t m_waitMs = 0;
    std::vector<bool> m_answered; // by station, at this setting
};
