#include "LineHygiene.h"

#include "Crc16.h"

#include <algorithm>

using namespace std::chrono;
using modbus485::Outcome;
using modbus485::RtuAnswer;

namespace {
constexpr int SilentProbesToForget = 3;
constexpr int HeardToForget = 16; // requests heard soon after the answer, at the station's pause

int roundedMs(LineHygiene::Clock::duration d) {
    return static_cast<int>((duration_cast<microseconds>(d).count() + 500) / 1000);
}

bool sameKind(const modbus485::RtuRequest &a, const modbus485::RtuRequest &b) {
    return a[0] == b[0] && a[1] == b[1] && modbus485::rtuAnswerSize(a) == modbus485::rtuAnswerSize(b);
}
} // namespace

LineHygiene::LineHygiene(Line &line, LineClock &clock)
    : m_line(line)
    , m_clock(clock) {}

void LineHygiene::reset(int baud, char parity, int fixedTurnaroundMs) {
    m_characterSeconds = (parity == 'N' ? 10.0 : 11.0) / baud;
    m_fixedTurnaround = milliseconds(std::max(0, fixedTurnaroundMs));
    m_stations = {};
    restart();
}

void LineHygiene::restart() {
    for (Station &s : m_stations)
        s = Station{.demotedUntil = s.demotedUntil};
    m_echo = Echo::Unknown;
    m_lastStation = 0;
    m_lastAnswered = false;
    m_lineSuspect = false;
    m_windows = {};
    m_newestWindow = 0;
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

LineHygiene::Clock::duration LineHygiene::frameGap(int number) const {
    // Frames on an RTU line are apart by at least 3.5 characters of silence; some modules need longer.
    const Station &s = m_stations[static_cast<std::size_t>(number)];
    const Clock::duration pause = std::max(wire(3.5), s.pause);
    const bool longer = s.trial == Trial::Longer || s.trial == Trial::LongerHeard;
    return longer ? std::min<Clock::duration>(MaxFrameGap, 2 * pause) : pause;
}

bool LineHygiene::refuses(modbus485::Exchange &x) {
    Station &s = station(x.request[0]);
    if (!x.isRead || m_clock.now() >= s.demotedUntil)
        return false;
    // Only what is already there: a refusal costs no wait.
    const auto seen = s.lateAnswerSeen;
    std::vector<uint8_t> pending = m_carried;
    std::vector<Arrival> arrivals;
    uint8_t bytes[modbus485::MaxFrameSize];
    for (int got; (got = m_line.read(bytes, sizeof bytes, m_clock.now())) > 0;) {
        pending.insert(pending.end(), bytes, bytes + got);
        arrivals.push_back({pending.size(), m_clock.now(), false});
        m_lineQuietSince = m_lastByte = m_clock.now();
        if (pending.size() > 4 * modbus485::MaxFrameSize)
            break; // a line that never goes quiet
    }
    x.dropped.assign(pending.begin() + static_cast<std::ptrdiff_t>(m_carried.size()), pending.end());
    // Bytes of an answer still coming in are looked at again with the rest at the next exchange.
    m_carried.clear();
    if (!learnFromLateAnswer(pending, arrivals) && pending.size() <= 2 * modbus485::MaxFrameSize)
        m_carried = std::move(pending);
    if (s.lateAnswerSeen == seen)
        return true;
    s.demotedUntil = {};
    return false;
}

bool LineHygiene::run(modbus485::Exchange &x) {
    const auto limit = prepare(x);
    x.sent = true;
    if (!m_line.write(x.request.data(), x.request.size()))
        return false;
    const auto sent = m_clock.now();
    Reading r{x, sent, sent + limit, {}, 0, m_echo != Echo::No, false, 0, {}, false};
    receive(r);
    x.roundTripUs = duration_cast<microseconds>(m_clock.now() - sent).count();
    finish(x, sent, limit);
    return true;
}

LineHygiene::Clock::duration LineHygiene::prepare(modbus485::Exchange &x) {
    drain(x.dropped);
    const Clock::duration gap = frameGap(x.request[0]);
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
    const std::size_t before = dropped.size();
    uint8_t discard[modbus485::MaxFrameSize];
    for (;;) {
        const auto asked = m_clock.now();
        const int got = m_line.read(discard, sizeof discard, std::max(windowEnd, quietFrom + gap));
        if (got <= 0)
            break; // quiet long enough, or failing: the exchange will say so
        dropped.insert(dropped.end(), discard, discard + got);
        quietFrom = m_lineQuietSince = m_lastByte = m_clock.now();
        arrivals.push_back({dropped.size() - before, quietFrom, quietFrom - asked > microseconds(500)});
        if (quietFrom >= giveUp)
            break; // a line that never goes quiet: let the exchange fail on it
    }
    m_lineSuspect = false;
    // The start of a late answer may have come in during the exchange before.
    std::vector<uint8_t> seen = m_carried;
    seen.insert(seen.end(), dropped.begin() + static_cast<std::ptrdiff_t>(before), dropped.end());
    for (Arrival &arrival : arrivals)
        arrival.end += m_carried.size();
    m_carried.clear();
    learnFromLateAnswer(seen, arrivals);
}

bool LineHygiene::learnFromLateAnswer(const std::vector<uint8_t> &dropped,
                                      const std::vector<Arrival> &arrivals) {
    // The answer to a request that got no whole answer, whole and checking, ends its window, and when
    // nothing at all had come for it, tells how long the station really takes. A module that is slow every
    // time can have more than one on its way: the newest first, each frame the answer to one request.
    const auto now = m_clock.now();
    std::vector<std::size_t> used;
    for (std::size_t n = 0; n < m_windows.size(); ++n) {
        LateWindow &w = m_windows[(m_newestWindow + m_windows.size() - n) % m_windows.size()];
        if (w.active && now > w.until)
            w.active = false; // too late to be taken for anything
        if (w.active && lateAnswerIn(w, dropped, arrivals, used))
            w.active = false;
    }
    return !used.empty();
}

bool LineHygiene::lateAnswerIn(const LateWindow &w, const std::vector<uint8_t> &dropped,
                               const std::vector<Arrival> &arrivals, std::vector<std::size_t> &used) {
    const modbus485::RtuRequest &request = w.request;
    for (std::size_t k = 0; k < dropped.size(); ++k) {
        std::size_t frameSize = 0;
        const RtuAnswer check =
            modbus485::checkRtuAnswer(request, dropped.data() + k, dropped.size() - k, frameSize);
        if ((check != RtuAnswer::Good && check != RtuAnswer::Exception) ||
            std::find(used.begin(), used.end(), k) != used.end())
            continue;
        used.push_back(k);
        Station &s = station(request[0]);
        s.silentProbes = 0;
        s.deafSuspect = false; // it heard the request: slow, not deaf
        s.lateAnswerSeen = m_clock.now();
        if (!w.timed)
            return true;
        // Its time is known when the read that completed it had to wait for it.
        const auto last = std::lower_bound(arrivals.begin(), arrivals.end(), k + frameSize,
                                           [](const Arrival &a, std::size_t end) { return a.end < end; });
        if (last != arrivals.end() && last->waitedFor)
            answerTime(request[0], last->at - w.sent - wire(static_cast<double>(request.size() + frameSize)));
        else // its time is unknown: the station's next exchange waits up to the ceiling
            s.probeAtCeiling = true;
        return true;
    }
    return false;
}

void LineHygiene::answerTime(int number, Clock::duration time) {
    Station &s = station(number);
    s.answerTimes[static_cast<std::size_t>(s.next)] = std::max(time, Clock::duration::zero());
    s.next = (s.next + 1) % static_cast<int>(s.answerTimes.size());
    s.samples = std::min(s.samples + 1, static_cast<int>(s.answerTimes.size()));
}

// Reads no further than the frame being judged, so bytes behind it stay for the drain to see. Named steps:
// the request's own bytes coming back first (the echo), a frame that checks (with one an earlier request's
// late answer may be), bytes ahead of a frame, and waiting for more.
void LineHygiene::receive(Reading &r) {
    for (;;) {
        const Step step = r.echoAhead ? echoStep(r) : frameStep(r);
        if (step == Step::Done || (step == Step::Await && awaitStep(r) == Step::Done))
            return;
    }
}

LineHygiene::Step LineHygiene::echoStep(Reading &r) {
    const modbus485::RtuRequest &request = r.x.request;
    const std::size_t have = std::min(r.raw.size(), request.size());
    if (!std::equal(r.raw.begin(), r.raw.begin() + static_cast<std::ptrdiff_t>(have), request.begin())) {
        if (m_echo == Echo::Yes) {
            r.x.answer = r.raw; // a corrupted echo
            r.x.outcome = Outcome::Garbled;
            return Step::Done;
        }
        r.echoAhead = false; // no echo: these are the answer's
        return Step::Next;
    }
    if (have < request.size()) {
        r.want = request.size() - have;
        r.searching = false;
        return Step::Await;
    }
    // A read's answer never equals its request: its own bytes coming back are the echo, whether or not an
    // answer follows. A write's answer is its own bytes: they are its echo only when the adapter is known to
    // echo, or when more follows them.
    if (r.x.isRead || m_echo == Echo::Yes || r.raw.size() > request.size()) {
        if (r.x.isRead)
            m_echo = Echo::Yes; // known until the port is opened again or its device comes back
        r.x.echo = true;
        r.echoAhead = false;
        r.start = request.size();
        return Step::Next;
    }
    r.want = request.size();
    r.searching = false;
    return Step::Await;
}

LineHygiene::Step LineHygiene::frameStep(Reading &r) {
    const modbus485::RtuRequest &request = r.x.request;
    std::size_t frameSize = 0;
    const RtuAnswer check =
        modbus485::checkRtuAnswer(request, r.raw.data() + r.start, r.raw.size() - r.start, frameSize);
    if (check != RtuAnswer::Incomplete && check != RtuAnswer::Garbled)
        return accept(r, r.start, frameSize, check);
    // Bytes that do not check, or whose header promises more than the answer: a whole frame behind a few of
    // them is the answer.
    if (check == RtuAnswer::Garbled || r.raw.size() - r.start >= modbus485::rtuAnswerSize(request))
        if (const auto step = bytesAheadStep(r))
            return *step;
    if (check == RtuAnswer::Incomplete) {
        r.want = frameSize - (r.raw.size() - r.start);
        r.searching = false;
        return Step::Await;
    }
    if (r.raw.size() >= r.start + request.size() + modbus485::rtuAnswerSize(request) ||
        r.raw.size() >= 2 * modbus485::MaxFrameSize) {
        r.x.answer.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(r.start), r.raw.end());
        r.x.outcome = Outcome::Garbled;
        keepLate(r);
        return Step::Done;
    }
    r.searching = true;
    r.want = 1;
    return Step::Await;
}

std::optional<LineHygiene::Step> LineHygiene::bytesAheadStep(Reading &r) {
    for (std::size_t at = r.start + 1; at <= r.start + r.x.request.size() && at < r.raw.size(); ++at) {
        std::size_t size = 0;
        const RtuAnswer behind =
            modbus485::checkRtuAnswer(r.x.request, r.raw.data() + at, r.raw.size() - at, size);
        if ((behind == RtuAnswer::Good || behind == RtuAnswer::Exception) && skippable(r, at))
            return accept(r, at, size, behind);
    }
    return std::nullopt;
}

bool LineHygiene::skippable(Reading &r, std::size_t at) {
    // Fewer bytes than a request, holding no frame of their own: a driver's leftover ahead of the answer.
    const std::size_t ahead = at - r.start;
    if (ahead >= r.x.request.size())
        return false; // a corrupted echo, or something else
    for (std::size_t length = 4; length <= ahead; ++length)
        if (modbus485::crcHolds(r.raw.data() + r.start, length))
            return false; // a whole frame is judged, never skipped
    r.x.skipped.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(r.start),
                       r.raw.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

LineHygiene::Step LineHygiene::accept(Reading &r, std::size_t at, std::size_t frameSize, RtuAnswer check) {
    // A read's answer that could be the late answer of an earlier request of the same kind is that one's
    // until it has been seen: held, and the frame after it within the allowance is this read's answer.
    if (r.listening && (check == RtuAnswer::Good || check == RtuAnswer::Exception)) {
        // Its answer, come after its deadline: the station's time is learned from it, and the exchange
        // stays without an answer in time.
        r.x.behind.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(at), r.raw.end());
        r.x.outcome = Outcome::NoAnswer;
        r.x.answeredLate = true;
        const int number = r.x.request[0];
        answerTime(number,
                   m_clock.now() - r.sent - wire(static_cast<double>(r.x.request.size() + frameSize)));
        station(number).lateAnswerSeen = m_clock.now();
        keepLate(r);
        return Step::Done;
    }
    if (check == RtuAnswer::Good && r.x.isRead) {
        if (LateWindow *w = openWindowFor(r.x.request)) {
            w->active = false;
            station(r.x.request[0]).lateAnswerSeen = m_clock.now();
            if (!r.late.empty()) {
                // More than one late answer on its way: which frame is this read's cannot be told.
                keepLate(r);
                r.x.answer.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(at),
                                  r.raw.begin() + static_cast<std::ptrdiff_t>(at + frameSize));
                r.x.outcome = Outcome::Late;
                return Step::Done;
            }
            r.late.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(at),
                          r.raw.begin() + static_cast<std::ptrdiff_t>(at + frameSize));
            r.start = at + frameSize;
            const auto answer = static_cast<double>(modbus485::rtuAnswerSize(r.x.request));
            r.deadline = std::max(r.deadline, m_clock.now() + wire(answer) + allowance(r.x.request[0]));
            return Step::Next;
        }
    }
    r.x.answer.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(at),
                      r.raw.begin() + static_cast<std::ptrdiff_t>(at + frameSize));
    if (r.raw.size() > at + frameSize) {
        // Bytes behind a short exception reply: not part of it.
        r.x.behind.insert(r.x.behind.end(), r.raw.begin() + static_cast<std::ptrdiff_t>(at + frameSize),
                          r.raw.end());
        m_lineSuspect = true;
    }
    r.x.outcome = check == RtuAnswer::Good           ? Outcome::Good
                  : check == RtuAnswer::Exception    ? Outcome::Exception
                  : check == RtuAnswer::WrongStation ? Outcome::WrongStation
                  : check == RtuAnswer::Mismatched   ? Outcome::Mismatched
                  : check == RtuAnswer::CutShort     ? Outcome::CutShort
                                                     : Outcome::Garbled;
    if (r.x.outcome == Outcome::Good)
        closeUnheard(r.x.request);
    keepLate(r);
    return Step::Done;
}

void LineHygiene::keepLate(Reading &r) {
    // A late answer held and passed over goes with the bytes skipped ahead of the answer.
    r.x.skipped.insert(r.x.skipped.begin(), r.late.begin(), r.late.end());
}

LineHygiene::Step LineHygiene::awaitStep(Reading &r) {
    const modbus485::RtuRequest &request = r.x.request;
    uint8_t buffer[modbus485::MaxFrameSize];
    // Never more than the buffer holds, whatever size the request makes the frame. A frame behind bytes
    // ahead follows on their heels; any other byte may come as late as the deadline.
    const std::size_t want = std::min(r.want, sizeof buffer);
    const auto quiet = std::max<Clock::duration>(wire(4), milliseconds(2));
    const int got =
        m_line.read(buffer, want, r.searching ? std::min(r.deadline, m_clock.now() + quiet) : r.deadline);
    if (got > 0) {
        r.raw.insert(r.raw.end(), buffer, buffer + got);
        return Step::Next;
    }
    modbus485::Exchange &x = r.x;
    if (got < 0) {
        x.answer.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(r.start), r.raw.end());
        x.outcome = Outcome::DeviceFailed;
        keepLate(r);
        return Step::Done;
    }
    Station &s = station(request[0]);
    const bool nothing = r.raw.size() == r.start && r.late.empty();
    const auto ceiling = r.sent + MaxTurnaround +
                         wire(static_cast<double>(request.size() + modbus485::rtuAnswerSize(request)));
    if (nothing && !s.listenedLong && m_fixedTurnaround == Clock::duration::zero() && r.deadline < ceiling) {
        // The station's first exchange without an answer since the open listens for it up to the ceiling,
        // once: a slow module is learned from it rather than from the late answer of a later one.
        s.listenedLong = true;
        r.listening = true;
        r.deadline = ceiling;
        return Step::Next;
    }
    if (!r.late.empty() && r.raw.size() == r.start) {
        // Exactly one frame of the kind, and it may be the earlier request's: this read fails, the next asks
        // again.
        x.answer = r.late;
        x.outcome = Outcome::Late;
        return Step::Done;
    }
    if (r.echoAhead && r.raw.size() == request.size()) {
        // A write's own eight bytes and nothing more, on an adapter not known to echo: they may be its echo
        // alone, so the write is not taken as done.
        x.echo = true;
        x.outcome = Outcome::NoAnswer;
        return Step::Done;
    }
    if (r.echoAhead && !r.raw.empty()) {
        r.echoAhead = false; // fewer bytes than an echo, alike so far: judged as an answer
        return Step::Next;
    }
    // Nothing more will come: what did is judged as it is, cut short when too few bytes came.
    std::size_t frameSize = 0;
    const RtuAnswer check =
        modbus485::checkRtuAnswer(request, r.raw.data() + r.start, r.raw.size() - r.start, frameSize, true);
    x.answer.assign(r.raw.begin() + static_cast<std::ptrdiff_t>(r.start), r.raw.end());
    x.outcome = x.answer.empty()               ? Outcome::NoAnswer
                : check == RtuAnswer::CutShort ? Outcome::CutShort
                                               : Outcome::Garbled;
    keepLate(r);
    return Step::Done;
}

LineHygiene::LateWindow *LineHygiene::openWindowFor(const modbus485::RtuRequest &request) {
    // The oldest window still open for a request of the same kind.
    const auto now = m_clock.now();
    LateWindow *oldest = nullptr;
    for (LateWindow &w : m_windows) {
        if (w.active && now > w.until)
            w.active = false;
        if (w.active && sameKind(w.request, request) && (!oldest || w.sent < oldest->sent))
            oldest = &w;
    }
    return oldest;
}

void LineHygiene::openWindow(const modbus485::Exchange &x, Clock::time_point sent, Clock::time_point until) {
    m_newestWindow = (m_newestWindow + 1) % m_windows.size();
    m_windows[m_newestWindow] = {true, x.request, sent, until, x.outcome == Outcome::NoAnswer};
}

void LineHygiene::finish(modbus485::Exchange &x, Clock::time_point sent, Clock::duration window) {
    const bool answered = x.outcome == Outcome::Good || x.outcome == Outcome::Exception;
    m_lineQuietSince = m_clock.now();
    m_lastByte = x.answer.empty() && x.behind.empty() ? m_lastByte : sent + microseconds(x.roundTripUs);
    m_carried.clear();
    if ((answered || x.answeredLate) && m_echo == Echo::Unknown)
        // A read answered without its own bytes first shows an adapter that does not echo; a write answered
        // behind a copy of itself, one that does.
        m_echo = x.echo ? Echo::Yes : x.isRead ? Echo::No : Echo::Unknown;
    if (!answered && x.outcome != Outcome::Late && !x.answer.empty()) {
        // The answer to a request before, come in while this one waited: it was watched, so its time is
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
    const int number = x.request[0];
    Station &s = station(number);
    const auto now = m_clock.now();
    if (answered || x.outcome == Outcome::Late)
        s.demotedUntil = {}; // it answered, if only with a refusal or late
    if (answered) {
        // From the round trip, not from now: a late answer's check may have watched the line since.
        answerTime(number, microseconds(x.roundTripUs) -
                               wire(static_cast<double>(x.request.size() + x.answer.size())));
        s.probeAtCeiling = false;
        s.silentProbes = 0;
        // A request that went out soon after the station's answer heard nothing, and one sent after a longer
        // pause is answered: the module needs more than that pause before it listens again.
        if (s.deafSuspect && m_pauseBefore >= 2 * frameGap(number))
            foundDeaf(s);
        else if (m_lastStation == number && m_lastAnswered && m_pauseBefore < 2 * frameGap(number))
            heardSoon(s);
        s.deafSuspect = false;
    } else if (x.outcome == Outcome::NoAnswer && x.answeredLate) {
        s.probeAtCeiling = false; // slow, not silent: its time is learned, nothing more is on its way
        s.silentProbes = 0;
        s.deafSuspect = false;
    } else if (x.outcome == Outcome::NoAnswer) {
        s.probeAtCeiling = false;
        s.deafSuspect = m_lastStation == number && m_lastAnswered && m_pauseBefore < MaxFrameGap &&
                        frameGap(number) < MaxFrameGap;
        s.suspectIn = s.trial;
        if (++s.silentProbes >= SilentProbesToForget)
            s.samples = s.next = 0; // a slow station gone silent costs what a silent one does
        if (!s.deafSuspect)         // a module deaf for a moment after its answer hears the next request
            s.demotedUntil = now + Demotion;
        openWindow(x, sent,
                   sent + MaxTurnaround + wire(static_cast<double>(modbus485::rtuAnswerSize(x.request))));
        m_windows[m_newestWindow].soonAfter = s.deafSuspect;
    } else {
        s.deafSuspect = false;
        s.silentProbes = 0;
    }
    m_lastStation = number;
    m_lastAnswered = answered;
    if (x.outcome == Outcome::NoAnswer || x.outcome == Outcome::Garbled ||
        x.outcome == Outcome::WrongStation || x.outcome == Outcome::CutShort ||
        x.outcome == Outcome::Mismatched || x.outcome == Outcome::Late) {
        // A fixed allowance is the caller's word for how long the module takes: late bytes are watched for
        // that long after the deadline, not a whole exchange's time again.
        const Clock::duration late = m_fixedTurnaround > Clock::duration::zero() ? m_fixedTurnaround : window;
        if (x.outcome != Outcome::NoAnswer)
            openWindow(x, sent, now + late);
        if (!x.answeredLate)
            markSuspect(late);
    }
}

void LineHygiene::markSuspect(Clock::duration window) {
    m_lineSuspect = true;
    m_lineSuspectSince = m_clock.now();
    m_lateWindow = window;
}

void LineHygiene::foundDeaf(Station &s) {
    // Found deaf once at its pause: the requests soon after its answer try twice that pause. Found deaf at
    // twice its pause, or at its pause once more, it has been found deaf at its pause twice over (deaf at
    // twice a pause is deaf at that pause too): that pause doubles, and deaf at the longer one (the first
    // case) is seen once at the new pause.
    const bool atTwice = s.suspectIn == Trial::Longer || s.suspectIn == Trial::LongerHeard;
    s.heardSince = 0;
    s.trial = Trial::Longer;
    if (!atTwice && !s.deafSeen) {
        s.deafSeen = true;
        return;
    }
    s.pause = std::min<Clock::duration>(MaxFrameGap, 2 * std::max(wire(3.5), s.pause));
    s.deafSeen = atTwice;
    s.trial = atTwice ? Trial::Longer : Trial::None;
}

void LineHygiene::heardSoon(Station &s) {
    // Heard twice at twice its pause: the requests soon after its answer go back to its pause, and one
    // unheard there is the second time. Heard at its pause often enough, the one unheard was lost on the
    // line: one request lost now and then never makes every poll slower.
    if (s.trial == Trial::Longer || s.trial == Trial::LongerHeard) {
        s.trial = s.trial == Trial::Longer ? Trial::LongerHeard : Trial::None;
        return;
    }
    if (++s.heardSince >= HeardToForget)
        s.deafSeen = false;
}

void LineHygiene::closeUnheard(const modbus485::RtuRequest &answered) {
    // A module answers one request at a time, in the order it hears them. A request sent soon after the
    // station's own answer found it idle: once the station has answered a later request with a frame that
    // cannot be that request's (another function or length), its answer came before or is not coming.
    for (LateWindow &w : m_windows)
        if (w.active && w.soonAfter && w.request[0] == answered[0] && !sameKind(w.request, answered))
            w.active = false;
}
