#pragma once

#include "Exchange.h"
#include "Line.h"

#include <chrono>
#include <cstdint>
#include <vector>

// What the line of one port is doing between and around exchanges: clearing what is left on it before a
// request, the pause the protocol wants before the next frame, watching for an answer that comes in late
// and for a stale answer with the right one on its heels, and taking an answer off the line without reading
// past it. The exchange itself, and what its outcome means for the station, is ModbusPort's.
class LineHygiene {
public:
    using Clock = std::chrono::steady_clock;

    LineHygiene(Line &line, LineClock &clock);

    // Starts afresh at an open with these line settings.
    void reset(int baud, char parity);
    // After the device came back: nothing of the old line is on the new one.
    void restart();
    // Turnaround allowed on top of the frames' wire time; 0 for the default.
    void setTurnaround(int milliseconds);

    // How long after the request was handed to the line its whole answer may take to come in.
    Clock::duration deadline(int requestBytes, int answerBytes) const;
    // Discards what is on the line until it has been quiet long enough, into `dropped`.
    void drain(std::vector<uint8_t> &dropped);
    // Waits for the silence the protocol wants between frames.
    void pauseBeforeRequest();
    // Takes the answer to `x.request` off the line by `deadline`, and sets `x.outcome` from what came.
    void receive(modbus485::Exchange &x, Clock::time_point deadline);
    // Marks the end of an exchange's traffic.
    void exchangeEnded();
    // After a good answer: when the exchange before failed, the answer can be the old one come in late with
    // the right one on its heels. True when another frame follows within `window` (taken into `behind`).
    bool staleAnswer(Clock::duration window, std::vector<uint8_t> &behind);
    // An exchange ended without a clean answer: bytes of it may still be on their way for `window`.
    void markSuspect(Clock::duration window);

private:
    bool answerFollows(Clock::duration window, std::vector<uint8_t> &behind);

    Line &m_line;
    LineClock &m_clock;
    double m_characterSeconds = 10.0 / 9600;
    Clock::duration m_turnaround{};
    // Set when an exchange ended without a clean answer: bytes of it may still be on their way.
    bool m_lineSuspect = false;
    bool m_verifyNext = false; // the next answer must not be followed by another
    Clock::time_point m_lineSuspectSince{};
    Clock::duration m_lateWindow{};
    Clock::time_point m_lineQuietSince{}; // end of the last exchange or of the last byte drained
};
