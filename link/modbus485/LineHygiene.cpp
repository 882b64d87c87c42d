#include "LineHygiene.h"

#include <algorithm>

using namespace std::chrono;
using modbus485::Outcome;
using modbus485::RtuAnswer;

namespace {
// Time the module may take to turn a request round, plus what a USB adapter adds to deliver the answer.
constexpr auto DefaultTurnaround = milliseconds(40);
constexpr std::size_t MaxFrame = 256;
} // namespace

LineHygiene::LineHygiene(Line &line, LineClock &clock)
    : m_line(line)
    , m_clock(clock) {}

void LineHygiene::reset(int baud, char parity) {
    m_characterSeconds = (parity == 'N' ? 10.0 : 11.0) / baud;
    m_turnaround = DefaultTurnaround;
    restart();
}

void LineHygiene::restart() {
    m_lineSuspect = false;
    m_verifyNext = false;
}

void LineHygiene::setTurnaround(int milliseconds) {
    m_turnaround = milliseconds > 0 ? std::chrono::milliseconds(milliseconds) : DefaultTurnaround;
}

LineHygiene::Clock::duration LineHygiene::deadline(int requestBytes, int answerBytes) const {
    // The wait starts when write() returns, before the request has left a real line, so the request's own
    // time on the wire is inside it along with the gap and the whole answer.
    const double wire = (requestBytes + answerBytes + 3.5) * m_characterSeconds;
    return duration_cast<Clock::duration>(duration<double>(wire)) + m_turnaround;
}

void LineHygiene::drain(std::vector<uint8_t> &dropped) {
    // Discards whatever is on the line until it has been quiet long enough: a few characters normally, and
    // after an exchange that went wrong, long enough for that exchange's answer to have come in late. The
    // time since the failure counts, so a caller that comes back later pays nothing but reading what is
    // pending. Bytes drained inside that window do not end it: more than one answer can be on its way, each
    // a module's turnaround behind the one before.
    const auto gap =
        duration_cast<Clock::duration>(duration<double>(std::max(0.002, 4 * m_characterSeconds)));
    const auto windowEnd = m_lineSuspect ? m_lineSuspectSince + m_lateWindow : m_clock.now();
    auto quietFrom = m_clock.now() - gap;
    const auto giveUp =
        std::max(windowEnd, m_clock.now()) + 2 * std::max<Clock::duration>(gap, milliseconds(50));
    uint8_t discard[MaxFrame];
    for (;;) {
        const int got = m_line.read(discard, sizeof discard, std::max(windowEnd, quietFrom + gap));
        if (got <= 0)
            break; // quiet long enough, or failing: the exchange will say so
        dropped.insert(dropped.end(), discard, discard + got);
        quietFrom = m_lineQuietSince = m_clock.now();
        if (quietFrom >= giveUp)
            break; // a line that never goes quiet: let the exchange fail on it
    }
    m_lineSuspect = false;
}

void LineHygiene::pauseBeforeRequest() {
    // Frames on an RTU line are apart by at least 3.5 characters of silence; a request sent sooner after the
    // last answer would run into it at the module.
    m_clock.sleepUntil(m_lineQuietSince +
                       duration_cast<Clock::duration>(duration<double>(3.5 * m_characterSeconds)));
}

void LineHygiene::receive(modbus485::Exchange &x, Clock::time_point deadline) {
    // Reads no further than the frame being judged, so bytes behind it stay for the drain to see.
    uint8_t buffer[MaxFrame];
    std::size_t frameSize = modbus485::rtuAnswerSize(x.request);
    for (;;) {
        const RtuAnswer check =
            modbus485::checkRtuAnswer(x.request, x.answer.data(), x.answer.size(), frameSize);
        if (check != RtuAnswer::Incomplete) {
            if (x.answer.size() > frameSize) {
                // Bytes behind a short exception reply: not part of it.
                x.behind.insert(x.behind.end(), x.answer.begin() + frameSize, x.answer.end());
                x.answer.resize(frameSize);
                m_lineSuspect = true;
            }
            x.outcome = check == RtuAnswer::Good           ? Outcome::Good
                        : check == RtuAnswer::Exception    ? Outcome::Exception
                        : check == RtuAnswer::WrongStation ? Outcome::WrongStation
                                                           : Outcome::Garbled;
            return;
        }
        // Never more than the buffer holds, whatever size the request makes the frame.
        const std::size_t want = std::min(frameSize - x.answer.size(), sizeof buffer);
        const int got = m_line.read(buffer, want, deadline);
        if (got < 0) {
            x.outcome = Outcome::DeviceFailed;
            return;
        }
        if (got == 0) {
            x.outcome = x.answer.empty() ? Outcome::NoAnswer : Outcome::Garbled;
            return;
        }
        x.answer.insert(x.answer.end(), buffer, buffer + got);
    }
}

void LineHygiene::exchangeEnded() {
    m_lineQuietSince = m_clock.now();
}

bool LineHygiene::staleAnswer(Clock::duration window, std::vector<uint8_t> &behind) {
    if (!m_verifyNext)
        return false;
    m_verifyNext = false;
    return answerFollows(window, behind);
}

bool LineHygiene::answerFollows(Clock::duration window, std::vector<uint8_t> &behind) {
    // The right answer comes a module's turnaround after the old one, not on its last byte: watch for as
    // long as this exchange may take.
    uint8_t bytes[MaxFrame];
    const int got = m_line.read(bytes, sizeof bytes, m_clock.now() + window);
    if (got <= 0)
        return false;
    behind.insert(behind.end(), bytes, bytes + got);
    markSuspect(window); // and the answer to this request may still be behind it
    return true;
}

void LineHygiene::markSuspect(Clock::duration window) {
    m_lineSuspect = true;
    m_verifyNext = true;
    m_lineSuspectSince = m_clock.now();
    m_lateWindow = window;
}
