#include "LineHygiene.h"

#include "Crc16.h"

#include <algorithm>

using namespace std::chrono;
using modbus485::Outcome;
using modbus485::RtuAnswer;

namespace {
constexpr int SilentProbesToForget = 3;

int roundedMs(LineHygiene::Clock::duration d) {
    return static_cast<int>((duration_cast<microseconds>(d).count() + 500) / 1000);
}
} // namespace

LineHygiene::LineHygiene(Line &line, LineClock &clock)
    : m_line(line)
    , m_clock(clock) {}

void LineHygiene::reset(int baud, char parity, int fixedTurnaroundMs) {
    m_characterSeconds = (parity == 'N' ? 10.0 : 11.0) / baud;
    m_fixedTurnaround = milliseconds(std::max(0, fixedTurnaroundMs));
    m_extraGap = {};
    m_deafEvidence = 0;
    m_echoes = false;
    m_stations = {};
    m_lastStation = 0;
    m_lastAnswered = false;
    restart();
}

void LineHygiene::restart() {
    m_lineSuspect = false;
    m_verifyNext = false;
    m_unanswered = {};
    m_newestUnanswered = 0;
    m_carried.clear();
}

void LineHygiene::setTurnaround(int milliseconds) {
    m_fixedTurnaround = std::chrono::milliseconds(std::max(0, milliseconds));
}

LineHygiene::Clock::duration LineHygiene::wire(double characters) const {
    return duration_cast<Clock::duration>(duration<double>(characters * m_characterSeconds));
}

LineHygiene::Clock::duration LineHygiene::allowance(int station) const {
    if (m_fixedTurnaround > Clock::duration::zero())
        return m_fixedTurnaround;
    const Station &s = m_stations[static_cast<std::size_t>(station)];
    if (s.probeAtCeiling)
        return MaxTurnaround;
    if (s.samples == 0)
        return DefaultTurnaround;
    const Clock::duration longest =
        *std::max_element(s.answerTimes.begin(), s.answerTimes.begin() + s.samples);
    return std::clamp<Clock::duration>(longest * 3 / 2 + milliseconds(20), DefaultTurnaround, MaxTurnaround);
}

LineHygiene::Clock::duration LineHygiene::frameGap() const {
    // Frames on an RTU line are apart by at least 3.5 characters of silence; some modules need longer.
    return std::max(wire(3.5), m_extraGap);
}

LineHygiene::Clock::duration LineHygiene::prepare(modbus485::Exchange &x) {
    drain(x.dropped);
    const Clock::duration gap = frameGap();
    m_clock.sleepUntil(m_lineQuietSince + gap);
    m_pauseBefore = m_clock.now() - m_lastByte;
    const Clock::duration allowed = allowance(x.request[0]);
    x.allowanceMs = roundedMs(allowed);
    x.frameGapMs = roundedMs(gap);
    // The wait starts when write() returns, before the request has left a real line, so the request's own
    // time on the wire is inside it along with the gap and the whole answer.
    const auto answerSize = static_cast<double>(modbus485::rtuAnswerSize(x.request));
    return wire(static_cast<double>(x.request.size()) + answerSize + 3.5) + allowed;
}

void LineHygiene::drain(std::vector<uint8_t> &dropped) {
    // Discards whatever is on the line until it has been quiet long enough: a few characters normally, and
    // after an exchange that went wrong, long enough for that exchange's answer to have come in late. The
    // time since the failure counts, so a caller that comes back later pays nothing but reading what is
    // pending. Bytes drained inside that window do not end it: more than one answer can be on its way, each
    // a module's turnaround behind the one before.
    const auto gap = std::max<Clock::duration>(wire(4), milliseconds(2));
    const auto windowEnd = m_lineSuspect ? m_lineSuspectSince + m_lateWindow : m_clock.now();
    auto quietFrom = m_clock.now() - gap;
    const auto giveUp =
        std::max(windowEnd, m_clock.now()) + 2 * std::max<Clock::duration>(gap, milliseconds(50));
    std::vector<Arrival> arrivals;
    uint8_t discard[modbus485::MaxFrameSize];
    for (;;) {
        const auto before = m_clock.now();
        const int got = m_line.read(discard, sizeof discard, std::max(windowEnd, quietFrom + gap));
        if (got <= 0)
            break; // quiet long enough, or failing: the exchange will say so
        dropped.insert(dropped.end(), discard, discard + got);
        quietFrom = m_lineQuietSince = m_lastByte = m_clock.now();
        arrivals.push_back({dropped.size(), quietFrom, quietFrom - before > microseconds(500)});
        if (quietFrom >= giveUp)
            break; // a line that never goes quiet: let the exchange fail on it
    }
    m_lineSuspect = false;
    // The start of a late answer may have come in during the exchange before.
    std::vector<uint8_t> seen = m_carried;
    seen.insert(seen.end(), dropped.begin(), dropped.end());
    for (Arrival &arrival : arrivals)
        arrival.end += m_carried.size();
    m_carried.clear();
    learnFromLateAnswer(seen, arrivals);
}

bool LineHygiene::learnFromLateAnswer(const std::vector<uint8_t> &dropped,
                                      const std::vector<Arrival> &arrivals) {
    // The answer to a request that got none by its deadline, whole and checking, tells how long the station
    // really takes. A module that is slow every time can have more than one on its way: the newest first.
    const auto now = m_clock.now();
    for (std::size_t n = 0; n < m_unanswered.size(); ++n) {
        Unanswered &u = m_unanswered[(m_newestUnanswered + m_unanswered.size() - n) % m_unanswered.size()];
        if (u.active && now - u.sent > 2 * MaxTurnaround)
            u.active = false; // too late to teach anything
        if (u.active && lateAnswerIn(u, dropped, arrivals)) {
            u.active = false;
            return true;
        }
    }
    return false;
}

bool LineHygiene::lateAnswerIn(const Unanswered &u, const std::vector<uint8_t> &dropped,
                               const std::vector<Arrival> &arrivals) {
    const modbus485::RtuRequest &request = u.request;
    for (std::size_t k = 0; k < dropped.size(); ++k) {
        std::size_t frameSize = 0;
        const RtuAnswer check =
            modbus485::checkRtuAnswer(request, dropped.data() + k, dropped.size() - k, frameSize);
        if (check != RtuAnswer::Good && check != RtuAnswer::Exception)
            continue;
        Station &s = m_stations[request[0]];
        s.silentProbes = 0;
        s.deafSuspect = false; // it heard the request: slow, not deaf
        // Its time is known when the read that completed it had to wait for it.
        const auto last = std::lower_bound(arrivals.begin(), arrivals.end(), k + frameSize,
                                           [](const Arrival &a, std::size_t end) { return a.end < end; });
        if (last != arrivals.end() && last->waitedFor)
            answerTime(request[0], last->at - u.sent - wire(static_cast<double>(request.size() + frameSize)));
        else // its time is unknown: the station's next exchange waits up to the ceiling
            s.probeAtCeiling = true;
        return true;
    }
    return false;
}

void LineHygiene::answerTime(int station, Clock::duration time) {
    Station &s = m_stations[static_cast<std::size_t>(station)];
    s.answerTimes[static_cast<std::size_t>(s.next)] = std::max(time, Clock::duration::zero());
    s.next = (s.next + 1) % static_cast<int>(s.answerTimes.size());
    s.samples = std::min(s.samples + 1, static_cast<int>(s.answerTimes.size()));
}

void LineHygiene::receive(modbus485::Exchange &x, Clock::time_point deadline) {
    // Reads no further than the frame being judged, so bytes behind it stay for the drain to see. Bytes
    // ahead of a whole frame that checks are skipped when they are fewer than a request and hold no frame
    // of their own; the request's own bytes ahead of the answer to a read are the adapter's echo.
    const modbus485::RtuRequest &request = x.request;
    const std::size_t requestSize = request.size();
    const auto quiet = std::max<Clock::duration>(wire(4), milliseconds(2));
    std::vector<uint8_t> raw; // everything that came, from the first byte
    std::size_t start = 0;    // where the frame being judged begins
    bool echoFirst = m_echoes;
    uint8_t buffer[modbus485::MaxFrameSize];
    auto take = [&](std::size_t at, std::size_t frameSize, RtuAnswer check) {
        x.answer.assign(raw.begin() + static_cast<std::ptrdiff_t>(at),
                        raw.begin() + static_cast<std::ptrdiff_t>(at + frameSize));
        if (raw.size() > at + frameSize) {
            // Bytes behind a short exception reply: not part of it.
            x.behind.insert(x.behind.end(), raw.begin() + static_cast<std::ptrdiff_t>(at + frameSize),
                            raw.end());
            m_lineSuspect = true;
        }
        x.outcome = check == RtuAnswer::Good           ? Outcome::Good
                    : check == RtuAnswer::Exception    ? Outcome::Exception
                    : check == RtuAnswer::WrongStation ? Outcome::WrongStation
                    : check == RtuAnswer::Mismatched   ? Outcome::Mismatched
                    : check == RtuAnswer::CutShort     ? Outcome::CutShort
                                                       : Outcome::Garbled;
    };
    auto skippable = [&](std::size_t at) {
        const std::size_t ahead = at - start;
        if (ahead == requestSize && x.isRead && !m_echoes &&
            std::equal(request.begin(), request.end(), raw.begin() + static_cast<std::ptrdiff_t>(start))) {
            m_echoes = true; // known until the port is opened again
            x.echo = true;
            return true;
        }
        if (ahead >= requestSize)
            return false; // a corrupted echo, or something else: not a driver's leftover
        for (std::size_t length = 4; length <= ahead; ++length)
            if (modbus485::crcHolds(raw.data() + start, length))
                return false; // a whole frame is judged, never skipped
        x.skipped.assign(raw.begin() + static_cast<std::ptrdiff_t>(start),
                         raw.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    };
    for (;;) {
        std::size_t want = 0;
        bool searching = false; // for a frame behind bytes that do not check
        if (echoFirst) {
            const std::size_t have = std::min(raw.size(), requestSize);
            if (!std::equal(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(have), request.begin())) {
                x.answer = raw; // a corrupted echo
                x.outcome = Outcome::Garbled;
                return;
            }
            if (have == requestSize) {
                echoFirst = false;
                x.echo = true;
                start = requestSize;
                continue;
            }
            want = requestSize - have;
        } else {
            std::size_t frameSize = 0;
            const RtuAnswer check =
                modbus485::checkRtuAnswer(request, raw.data() + start, raw.size() - start, frameSize);
            if (check != RtuAnswer::Incomplete && check != RtuAnswer::Garbled) {
                take(start, frameSize, check);
                return;
            }
            // Bytes that do not check, or whose header promises more than the answer: a whole frame behind a
            // few of them is the answer.
            if (check == RtuAnswer::Garbled || raw.size() - start >= modbus485::rtuAnswerSize(request)) {
                for (std::size_t at = start + 1; at <= start + requestSize && at < raw.size(); ++at) {
                    std::size_t size = 0;
                    const RtuAnswer behind =
                        modbus485::checkRtuAnswer(request, raw.data() + at, raw.size() - at, size);
                    if ((behind == RtuAnswer::Good || behind == RtuAnswer::Exception) && skippable(at)) {
                        take(at, size, behind);
                        return;
                    }
                }
            }
            if (check == RtuAnswer::Incomplete) {
                want = frameSize - (raw.size() - start);
            } else {
                if (raw.size() >= start + requestSize + modbus485::rtuAnswerSize(request) ||
                    raw.size() >= 2 * modbus485::MaxFrameSize) {
                    x.answer.assign(raw.begin() + static_cast<std::ptrdiff_t>(start), raw.end());
                    x.outcome = Outcome::Garbled;
                    return;
                }
                searching = true;
                want = 1;
            }
        }
        // Never more than the buffer holds, whatever size the request makes the frame.
        want = std::min(want, sizeof buffer);
        // A frame behind bytes ahead follows on their heels; one behind an echo, a turnaround later.
        const bool maybeEcho = x.isRead && !m_echoes && raw.size() <= requestSize &&
                               std::equal(raw.begin(), raw.end(), request.begin());
        const int got = m_line.read(
            buffer, want, searching && !maybeEcho ? std::min(deadline, m_clock.now() + quiet) : deadline);
        if (got == 0 && !m_echoes && x.isRead && raw.size() == requestSize &&
            std::equal(request.begin(), request.end(), raw.begin())) {
            x.echo = true; // most likely the adapter's echo, of a module that has not answered (yet)
            x.outcome = Outcome::NoAnswer;
            return;
        }
        if (got < 0) {
            x.answer.assign(raw.begin() + static_cast<std::ptrdiff_t>(start), raw.end());
            x.outcome = Outcome::DeviceFailed;
            return;
        }
        if (got == 0) {
            // Nothing more will come: what did is judged as it is, cut short when too few bytes came.
            std::size_t frameSize = 0;
            const RtuAnswer check =
                modbus485::checkRtuAnswer(request, raw.data() + start, raw.size() - start, frameSize, true);
            x.answer.assign(raw.begin() + static_cast<std::ptrdiff_t>(start), raw.end());
            x.outcome = x.answer.empty()               ? Outcome::NoAnswer
                        : check == RtuAnswer::CutShort ? Outcome::CutShort
                                                       : Outcome::Garbled;
            return;
        }
        raw.insert(raw.end(), buffer, buffer + got);
    }
}

void LineHygiene::finish(modbus485::Exchange &x, Clock::time_point sent, Clock::duration window) {
    const bool answered = x.outcome == Outcome::Good || x.outcome == Outcome::Exception;
    m_lineQuietSince = m_clock.now();
    m_lastByte = x.answer.empty() && x.behind.empty() ? m_lastByte : sent + microseconds(x.roundTripUs);
    m_carried.clear();
    if (!answered && !x.answer.empty()) {
        // The answer to the request before, come in while this one waited: it was watched, so its time is
        // known. It is no answer to this request all the same. When only its start is here, the rest is for
        // the next drain.
        const Arrival watched{x.answer.size(), sent + microseconds(x.roundTripUs), true};
        if (!learnFromLateAnswer(x.answer, {watched}) && x.outcome != Outcome::NoAnswer) {
            m_carried = x.answer;
            m_carried.insert(m_carried.end(), x.behind.begin(), x.behind.end());
        }
    }
    finishStation(x, sent, window, answered);
}

void LineHygiene::finishStation(modbus485::Exchange &x, Clock::time_point sent, Clock::duration window,
                                bool answered) {
    const int station = x.request[0];
    Station &s = m_stations[static_cast<std::size_t>(station)];
    if (answered) {
        // From the round trip, not from now: a stale answer's check may have watched the line since.
        answerTime(station, microseconds(x.roundTripUs) -
                                wire(static_cast<double>(x.request.size() + x.answer.size())));
        s.probeAtCeiling = false;
        s.silentProbes = 0;
        // A request that went out soon after the station's answer heard nothing, and one sent after a longer
        // pause is answered: the module needs more than the protocol's pause before it listens again.
        // Twice over, so that one request lost on the line now and then does not make every poll slower.
        if (s.deafSuspect && m_pauseBefore >= 2 * frameGap() && ++m_deafEvidence >= 2) {
            m_extraGap = std::min<Clock::duration>(MaxFrameGap, 3 * frameGap());
            m_deafEvidence = 0;
        }
        if (m_lastStation == station && m_lastAnswered && m_pauseBefore < 2 * frameGap())
            m_deafEvidence = 0; // it heard a request as soon after its answer as that
        s.deafSuspect = false;
    } else if (x.outcome == Outcome::NoAnswer) {
        s.probeAtCeiling = false;
        s.deafSuspect = m_lastStation == station && m_lastAnswered && m_pauseBefore < MaxFrameGap &&
                        frameGap() < MaxFrameGap;
        if (++s.silentProbes >= SilentProbesToForget)
            s.samples = s.next = 0; // a slow station gone silent costs what a silent one does
        m_newestUnanswered = (m_newestUnanswered + 1) % m_unanswered.size();
        m_unanswered[m_newestUnanswered] = {true, x.request, sent};
    } else {
        s.deafSuspect = false;
        s.silentProbes = 0;
    }
    m_lastStation = station;
    m_lastAnswered = answered;
    if (x.outcome == Outcome::NoAnswer || x.outcome == Outcome::Garbled ||
        x.outcome == Outcome::WrongStation || x.outcome == Outcome::CutShort ||
        x.outcome == Outcome::Mismatched)
        // A fixed allowance is the caller's word for how long the module takes: late bytes are watched for
        // that long after the deadline, not a whole exchange's time again.
        markSuspect(m_fixedTurnaround > Clock::duration::zero() ? m_fixedTurnaround : window);
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
    uint8_t bytes[modbus485::MaxFrameSize];
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
