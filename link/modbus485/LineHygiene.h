#pragma once

#include "Exchange.h"
#include "Line.h"
#include "LineCodes.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// What the line of one port is doing between and around exchanges: clearing what is left on it before a
// request, the pause each station wants before the next frame, watching for an answer that comes in late
// and learning from it how long each station takes to answer, skipping an adapter's echo of the request and
// bytes a driver left ahead of an answer, and taking an answer off the line without reading past it. When
// it cannot tell which request a frame answers, the exchange fails rather than guesses. What the outcome
// means for the port (its device, its counts) is ModbusPort's.
class LineHygiene {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr auto DefaultTurnaround = std::chrono::milliseconds(40);
    static constexpr auto MaxTurnaround = std::chrono::milliseconds(1000);
    static constexpr auto MaxFrameGap = std::chrono::milliseconds(100);
    static constexpr auto Demotion = std::chrono::milliseconds(MODBUS485_DEMOTION_MS);

    LineHygiene(Line &line, LineClock &clock);

    // Starts afresh at an open with these line settings; `fixedTurnaroundMs` > 0 fixes the allowance.
    void reset(int baud, char parity, int fixedTurnaroundMs);
    // After the device came back: nothing learned of the old line (echo, pauses, allowances) holds for the
    // new one. Stations demoted stay so.
    void restart();
    // Fixes the turnaround allowed on top of the frames' wire time; 0 goes back to learning it.
    void setTurnaround(int milliseconds);

    // Whether the adapter hears its own requests, as far as a read has shown it.
    enum class Echo { Unknown, Yes, No };
    Echo echo() const { return m_echo; }

    // A read of a station that did not answer just before is refused at once, unless what is already on the
    // line holds that station's late answer: then it is slow, not silent, and the read goes out.
    bool refuses(modbus485::Exchange &x);
    // The whole exchange in its order: the line cleared and the pause kept, the request written, the answer
    // taken off the line by its deadline, then what the exchange teaches. False when the write failed.
    bool run(modbus485::Exchange &x);

private:
    // An exchange that got no whole answer: a frame that could be its answer is not taken for a later
    // request's until it has been seen or `until` has passed.
    struct LateWindow {
        bool active = false;
        modbus485::RtuRequest request{};
        Clock::time_point sent{};
        Clock::time_point until{};
        bool timed = false;     // nothing at all came: its answer's time, when it comes, is the station's
        bool soonAfter = false; // sent soon after the station's own answer, which it may not have heard
    };
    // Once a request soon after a station's answer went unheard, the requests soon after its answer wait
    // twice its pause until heard so twice.
    enum class Trial { None, Longer, LongerHeard };
    struct Station {
        std::array<Clock::duration, 16> answerTimes{}; // the last ones seen, newest at `next - 1`
        int samples = 0;
        int next = 0;
        int silentProbes = 0;          // in a row, with nothing at all coming back
        bool probeAtCeiling = false;   // a late answer of unknown time was seen: the next one waits long
        bool deafSuspect = false;      // its last request, sent soon after its answer, heard nothing
        Trial suspectIn = Trial::None; // the pause that request waited
        bool listenedLong = false; // its first exchange without an answer listened for it up to the ceiling
        Trial trial = Trial::None; // whether its requests soon after its answer wait twice its pause
        bool deafSeen = false;     // found deaf once at its pause
        int heardSince = 0;        // requests heard soon after its answer, at its pause, since
        Clock::duration pause{};   // before its request after the line goes quiet
        Clock::time_point demotedUntil{};   // its reads are refused at once until then
        Clock::time_point lateAnswerSeen{}; // when a late answer of it was last seen
    };
    // One read's bytes among those looked through: where they end, when they were in, and whether the read
    // had to wait for them (a frame that was already waiting came in at a time nobody saw).
    struct Arrival {
        std::size_t end;
        Clock::time_point at;
        bool waitedFor;
    };
    // One exchange's bytes as they come in, and where in them the frame being judged begins.
    struct Reading {
        modbus485::Exchange &x;
        Clock::time_point sent;
        Clock::time_point deadline;
        std::vector<uint8_t> raw;
        std::size_t start = 0;
        bool echoAhead;            // the request's own bytes may come back first
        bool searching = false;    // for a frame behind bytes that do not check
        std::size_t want = 0;      // bytes still awaited
        std::vector<uint8_t> late; // a frame held for the late answer of an earlier request
        bool listening = false;    // past its deadline, for the late answer of a station's first silence
    };
    enum class Step { Done, Next, Await };

    Station &station(int number) { return m_stations[static_cast<std::size_t>(number)]; }
    Clock::duration allowance(int station) const;
    Clock::duration wire(double characters) const;
    Clock::duration frameGap(int station) const;
    Clock::duration prepare(modbus485::Exchange &x);
    void drain(std::vector<uint8_t> &dropped);
    bool learnFromLateAnswer(const std::vector<uint8_t> &dropped, const std::vector<Arrival> &arrivals);
    bool lateAnswerIn(const LateWindow &w, const std::vector<uint8_t> &dropped,
                      const std::vector<Arrival> &arrivals, std::vector<std::size_t> &used);
    void answerTime(int station, Clock::duration time);

    void receive(Reading &r);
    Step echoStep(Reading &r);
    Step frameStep(Reading &r);
    std::optional<Step> bytesAheadStep(Reading &r);
    Step awaitStep(Reading &r);
    Step accept(Reading &r, std::size_t at, std::size_t frameSize, modbus485::RtuAnswer check);
    void keepLate(Reading &r);
    bool skippable(Reading &r, std::size_t at);
    LateWindow *openWindowFor(const modbus485::RtuRequest &request);

    void finish(modbus485::Exchange &x, Clock::time_point sent, Clock::duration window);
    void finishStation(modbus485::Exchange &x, Clock::time_point sent, Clock::duration window, bool answered);
    void openWindow(const modbus485::Exchange &x, Clock::time_point sent, Clock::time_point until);
    void markSuspect(Clock::duration window);
    void foundDeaf(Station &s);
    void heardSoon(Station &s);
    void closeUnheard(const modbus485::RtuRequest &answered);

    Line &m_line;
    LineClock &m_clock;
    double m_characterSeconds = 10.0 / 9600;
    Clock::duration m_fixedTurnaround{}; // zero while it is learned
    Echo m_echo = Echo::Unknown;
    // Set when an exchange ended without a clean answer: bytes of it may still be on their way.
    bool m_lineSuspect = false;
    Clock::time_point m_lineSuspectSince{};
    Clock::duration m_lateWindow{};
    Clock::time_point m_lineQuietSince{}; // end of the last exchange or of the last byte drained
    Clock::time_point m_lastByte{};       // when the last byte came in, as far as is known
    Clock::duration m_pauseBefore{};      // how long the line had been quiet when the request went out
    int m_lastStation = 0;                // of the exchange before, and whether it was answered
    bool m_lastAnswered = false;
    std::array<LateWindow, 8> m_windows{};
    std::size_t m_newestWindow = 0;
    std::vector<uint8_t> m_carried; // the start of its answer, come in during the exchange after it
    std::array<Station, modbus485::MaxStation + 1> m_stations{};
};
