#pragma once

#include "Exchange.h"
#include "Line.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

// What the line of one port is doing between and around exchanges: clearing what is left on it before a
// request, the pause the protocol (and a module that needs more) wants before the next frame, watching for
// an answer that comes in late and learning from it how long each station takes to answer, skipping an
// adapter's echo of the request and bytes a driver left ahead of an answer, and taking an answer off the line
// without reading past it. The exchange itself, and what its outcome means for the station, is ModbusPort's.
class LineHygiene {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr auto DefaultTurnaround = std::chrono::milliseconds(40);
    static constexpr auto MaxTurnaround = std::chrono::milliseconds(1000);
    static constexpr auto MaxFrameGap = std::chrono::milliseconds(100);

    LineHygiene(Line &line, LineClock &clock);

    // Starts afresh at an open with these line settings; `fixedTurnaroundMs` > 0 fixes the allowance.
    void reset(int baud, char parity, int fixedTurnaroundMs);
    // After the device came back: nothing of the old line is on the new one.
    void restart();
    // Fixes the turnaround allowed on top of the frames' wire time; 0 goes back to learning it.
    void setTurnaround(int milliseconds);

    // Clears the line and waits the pause before `x`'s request; sets the deadline's allowance in `x`. How
    // long after the request is handed to the line its whole answer may take to come in.
    Clock::duration prepare(modbus485::Exchange &x);
    // Takes the answer to `x.request` off the line by `deadline`, and sets `x.outcome` from what came.
    void receive(modbus485::Exchange &x, Clock::time_point deadline);
    // After the exchange's traffic: what it teaches about the station, and whether the line is clean.
    // `sent` is when the request was handed to the line; `window` how long late bytes of it may come.
    void finish(modbus485::Exchange &x, Clock::time_point sent, Clock::duration window);
    // After a good answer: when the exchange before failed, the answer can be the old one come in late with
    // the right one on its heels. True when another frame follows within `window` (taken into `behind`).
    bool staleAnswer(Clock::duration window, std::vector<uint8_t> &behind);

    // The pause before a request after the line goes quiet.
    Clock::duration frameGap() const;

private:
    struct Station {
        std::array<Clock::duration, 16> answerTimes{}; // the last ones seen, newest at `next - 1`
        int samples = 0;
        int next = 0;
        int silentProbes = 0;        // in a row, with nothing at all coming back
        bool probeAtCeiling = false; // a late answer of unknown time was seen: the next one waits long
        bool deafSuspect = false;    // its last request, sent soon after its answer, heard nothing
    };
    // An exchange whose answer did not come by its deadline, until it comes or can teach nothing more.
    struct Unanswered {
        bool active = false;
        modbus485::RtuRequest request{};
        Clock::time_point sent{};
    };
    // One read's bytes among those looked through: where they end, when they were in, and whether the read
    // had to wait for them (a frame that was already waiting came in at a time nobody saw).
    struct Arrival {
        std::size_t end;
        Clock::time_point at;
        bool waitedFor;
    };

    Clock::duration allowance(int station) const;
    Clock::duration wire(double characters) const;
    void drain(std::vector<uint8_t> &dropped);
    // Looks for the answer to a request that got none by its deadline among bytes that came since; true
    // when one was there.
    bool learnFromLateAnswer(const std::vector<uint8_t> &dropped, const std::vector<Arrival> &arrivals);
    bool lateAnswerIn(const Unanswered &u, const std::vector<uint8_t> &dropped,
                      const std::vector<Arrival> &arrivals);
    void finishStation(modbus485::Exchange &x, Clock::time_point sent, Clock::duration window, bool answered);
    void answerTime(int station, Clock::duration time);
    bool answerFollows(Clock::duration window, std::vector<uint8_t> &behind);
    void markSuspect(Clock::duration window);

    Line &m_line;
    LineClock &m_clock;
    double m_characterSeconds = 10.0 / 9600;
    Clock::duration m_fixedTurnaround{}; // zero while it is learned
    Clock::duration m_extraGap{};        // more than the protocol's pause, learned from a deaf module
    int m_deafEvidence = 0;              // times a station was found deaf since the pause last grew
    bool m_echoes = false;
    // Set when an exchange ended without a clean answer: bytes of it may still be on their way.
    bool m_lineSuspect = false;
    bool m_verifyNext = false; // the next answer must not be followed by another
    Clock::time_point m_lineSuspectSince{};
    Clock::duration m_lateWindow{};
    Clock::time_point m_lineQuietSince{}; // end of the last exchange or of the last byte drained
    Clock::time_point m_lastByte{};       // when the last byte came in, as far as is known
    Clock::duration m_pauseBefore{};      // how long the line had been quiet when the request went out
    int m_lastStation = 0;                // of the exchange before, and whether it was answered
    bool m_lastAnswered = false;
    std::array<Unanswered, 4> m_unanswered{};
    std::size_t m_newestUnanswered = 0;
    std::vector<uint8_t> m_carried; // the start of its answer, come in during the exchange after it
    std::array<Station, 248> m_stations{};
};
