// ModbusPort on a scripted line, with a module and an adapter that behave like real ones and no real time
// passing. Each row polls as the window does, every 500 ms: a block of eight registers (from the row's base,
// and eight further on in odd periods), then a write.
#include "Crc16.h"
#include "ModbusPort.h"
#include "ScriptedLine.h"
#include "Trace.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace modbus485 {
void PrintTo(Outcome outcome, std::ostream *out) {
    *out << "outcome " << static_cast<int>(outcome);
}
} // namespace modbus485

namespace {
using namespace std::chrono;
using Clock = steady_clock;
using Outcome = ModbusPort::Outcome;

Clock::duration characters(std::size_t n) { // at 9600 baud, 8N1
    return duration_cast<Clock::duration>(duration<double>(static_cast<double>(n) * 10 / 9600));
}

struct Behaviour {
    int answerMs = 0;
    bool echo = false;          // the adapter hears its own request
    int ahead = -1;             // a byte on the line just before each answer
    int deafMs = 0;             // a request that starts this soon after the module's last answer is not heard
    bool chatter = false;       // the line never goes quiet
    bool busy = false;          // a request that comes while the module's answer is still due is not heard
    bool refusesWrites = false; // answers a write with an exception, and does not carry it out
    int splitMs = 0;            // a pause this long before the last three bytes of an answer
    bool missesFirst = false;   // the first request after the open is not heard
    bool silent = false;        // it never answers
};
// From poll period 6: the module falls silent, answers one request late (200 ms, or 540 ms), the echo comes
// corrupted, the adapter is pulled out and one that does not echo plugged in under the same name, or one
// write is lost on the line.
enum class Then { Same, Silent, OneAnswerLate, OneAnswerVeryLate, EchoCorrupted, Replugged, OneWriteLost };

// Station 1, whose holding register a holds 1000 + a (the low 16 bits).
struct Module {
    ScriptedLine &line;
    Behaviour is;
    Then then = Then::Same;
    int writes = 0;
    int heard = 0;
    Clock::time_point lastAnswerEnd{};

    void hear(const std::vector<uint8_t> &request) {
        const auto start = line.now(), end = start + characters(request.size());
        if (then == Then::Replugged) {
            line.failOnce();
            is.echo = false;
            then = Then::Same;
        }
        if (is.echo) {
            std::vector<uint8_t> echo = request;
            echo[3] ^= then == Then::EchoCorrupted ? 0x10 : 0;
            line.arrive(end, echo);
        }
        for (int i = 0; is.chatter && i < 3000; ++i)
            line.arrive(start + milliseconds(i), {0x55});
        const bool firstHeard = heard++ == 0;
        if (then == Then::OneWriteLost && request[1] == 6) {
            then = Then::Same;
            return;
        }
        if ((is.missesFirst && firstHeard) || is.silent || is.chatter || then == Then::Silent ||
            (is.deafMs > 0 && start - lastAnswerEnd < milliseconds(is.deafMs)) ||
            (is.busy && start < lastAnswerEnd))
            return;
        std::vector<uint8_t> answer(request.begin(), request.begin() + 6);
        const int address = request[2] << 8 | request[3];
        if (request[1] == 3) {
            answer.resize(3);
            answer[2] = static_cast<uint8_t>(2 * request[5]);
            for (int i = 0; i < request[5]; ++i)
                answer.insert(answer.end(), {static_cast<uint8_t>((1000 + address + i) >> 8),
                                             static_cast<uint8_t>(1000 + address + i)});
        } else if (is.refusesWrites) {
            answer = {request[0], static_cast<uint8_t>(request[1] | 0x80), 4};
        } else {
            ++writes;
        }
        const uint16_t crc = modbus485::crc16(answer.data(), answer.size());
        answer.insert(answer.end(), {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
        const int late = then == Then::OneAnswerLate ? 200 : then == Then::OneAnswerVeryLate ? 540 : 0;
        const auto begin = end + milliseconds(is.answerMs + late);
        then = late > 0 ? Then::Same : then;
        if (is.ahead >= 0)
            line.arrive(begin, {static_cast<uint8_t>(is.ahead)});
        lastAnswerEnd = begin + characters(answer.size()) + milliseconds(is.splitMs);
        const std::size_t split = is.splitMs > 0 ? answer.size() - 3 : 0;
        const auto first = answer.begin() + static_cast<std::ptrdiff_t>(split);
        line.arrive(begin + characters(split), std::vector<uint8_t>(answer.begin(), first));
        line.arrive(lastAnswerEnd, std::vector<uint8_t>(first, answer.end()));
    }
};

struct Row {
    const char *name;
    Behaviour is;
    Then then;
    int rightFrom, rightUntil;    // the poll periods in which every read and write is right
    int counter, atLeast, atMost; // at the end
    int base = 0;                 // the first register read
    bool writes = true;           // each period ends with a write
};
} // namespace

TEST(LineBehaviour, PollsOnLinesThatAreSlowEchoNoisyOrDeaf) {
    constexpr int N = 16; // poll periods
    constexpr int Allowance = MODBUS485_COUNTER_TURNAROUND_MS, Stray = MODBUS485_COUNTER_STRAY,
                  Gap = MODBUS485_COUNTER_FRAME_GAP_MS, Echoes = MODBUS485_COUNTER_ECHOES;
    const Row rows[] = {
        {"slow 80 ms", {80}, Then::Same, 1, N, Allowance, 139, 1000},
        {"slow 150 ms", {150}, Then::Same, 1, N, Allowance, 244, 1000},
        {"slow 300 ms", {300}, Then::Same, 1, N, Allowance, 469, 1000},
        {"echo", {0, true}, Then::Same, 0, N, Echoes, 2 * N, 2 * N},
        {"echo, slow 80 ms", {80, true}, Then::Same, 2, N, Echoes, 2 * N - 4, 2 * N},
        {"0x00 ahead", {0, false, 0x00}, Then::Same, 0, N, Stray, 2 * N, 2 * N},
        {"0xFF ahead", {0, false, 0xFF}, Then::Same, 0, N, Stray, 2 * N, 2 * N},
        {"deaf 10 ms", {0, false, -1, 10}, Then::Same, 5, N, Gap, 10, 30},
        {"deaf 30 ms", {0, false, -1, 30}, Then::Same, 7, N, Gap, 30, 100},
        {"not deaf", {}, Then::Same, 0, N, Gap, 4, 4},
        {"one write lost soon after an answer", {}, Then::OneWriteLost, 7, N, Gap, 4, 4},
        {"slow 300 ms, then silent", {300}, Then::Silent, 2, 6, Allowance, 40, 40},
        {"a stale frame after a failure", {.missesFirst = true}, Then::OneAnswerLate, 7, N, Stray, 1, N},
        // The late answer of a read of register 0 comes in while the read of register 8 waits.
        {"540 ms late once, busy",
         {.busy = true, .missesFirst = true},
         Then::OneAnswerVeryLate,
         8,
         N,
         MODBUS485_COUNTER_LATE,
         1,
         1,
         0,
         false},
        {"echo, silent", {.echo = true, .silent = true}, Then::Same, N, N, MODBUS485_COUNTER_GOOD, 0, 0},
        {"echo, writes refused",
         {.echo = true, .refusesWrites = true, .missesFirst = true},
         Then::Same,
         N,
         N,
         MODBUS485_COUNTER_EXCEPTIONS,
         N,
         N},
        {"echo from the start, silent at first",
         {.echo = true, .missesFirst = true},
         Then::Same,
         1,
         N,
         Echoes,
         2 * N,
         2 * N},
        {"echo, answers split 8 ms", {.echo = true, .splitMs = 8}, Then::Same, 0, N, Echoes, 2 * N, 2 * N},
        {"echo, re-plugged without", {.echo = true}, Then::Replugged, 7, N, Echoes, 2 * 6, 2 * 6},
        // The request's own bytes are a frame that checks: 01 03 03 00 00 08 44 0C.
        {"echo, registers from 0x0300", {.echo = true}, Then::Same, 0, N, Echoes, 2 * N, 2 * N, 0x300},
        {"echo, then corrupted",
         {0, true},
         Then::EchoCorrupted,
         0,
         6,
         MODBUS485_COUNTER_GARBLED,
         2 * (N - 6),
         2 * (N - 6)},
        {"never quiet", {0, false, -1, 0, true}, Then::Same, N, N, MODBUS485_COUNTER_GOOD, 0, 0},
    };
    Trace::instance().configure(); // MODBUS485_TRACE=FILE shows each exchange
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedLine line;
        Module module{line, row.is};
        line.onRequest = [&module](const std::vector<uint8_t> &request) { module.hear(request); };
        ModbusPort port(1, line, line);
        ASSERT_EQ(port.open(9600, 'N', true), MODBUS485_OPEN_OK);
        for (int period = 0; period < N; ++period) {
            SCOPED_TRACE(period);
            module.then = period == 6 ? row.then : module.then;
            const auto periodStart = line.now();
            const int address = row.base + period % 2 * 8;
            uint16_t registers[8] = {};
            const Outcome read = port.readRegisters(1, false, address, 8, registers);
            for (int i = 0; read == Outcome::Good && i < 8; ++i)
                EXPECT_EQ(registers[i], static_cast<uint16_t>(1000 + address + i)); // never a wrong value
            const int writes = module.writes;
            const Outcome write =
                row.writes ? port.writeRegister(1, 9, static_cast<uint16_t>(period)) : Outcome::Good;
            EXPECT_LE(module.writes - writes, 1); // never a second write
            if (row.writes && write == Outcome::Good) {
                EXPECT_EQ(module.writes - writes, 1); // done only when the module did it
            }
            if (period >= row.rightFrom && period < row.rightUntil) {
                EXPECT_EQ(read, Outcome::Good);
                EXPECT_EQ(write, Outcome::Good);
            }
            // Bounded, whatever the line does: its drain, its deadline and the longest allowance.
            EXPECT_LT(line.now() - periodStart, seconds(3));
            line.sleepUntil(periodStart + milliseconds(500));
        }
        int32_t counters[MODBUS485_COUNTERS] = {};
        port.counters(counters, MODBUS485_COUNTERS);
        EXPECT_GE(counters[row.counter], row.atLeast);
        EXPECT_LE(counters[row.counter], row.atMost);
    }
}

namespace {
// A line whose reads wait until the test lets them go.
struct HeldLine : ScriptedLine {
    std::mutex mutex;
    std::condition_variable changed;
    bool reading = false, released = false;
    int read(uint8_t *buffer, std::size_t size, Clock::time_point until) override {
        std::unique_lock lock(mutex);
        reading = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
        return ScriptedLine::read(buffer, size, until);
    }
};
} // namespace

TEST(LineBehaviour, CountsLastReadsAndInfoAreReadWhileAnExchangeWaitsOnTheLine) {
    HeldLine line;
    ModbusPort port(1, line, line);
    ASSERT_EQ(port.open(9600, 'N', true), MODBUS485_OPEN_OK);
    std::thread poll([&port] {
        uint16_t registers[8];
        port.readRegisters(1, false, 0, 8, registers);
    });
    {
        std::unique_lock lock(line.mutex);
        line.changed.wait(lock, [&line] { return line.reading; });
    }
    auto looked = std::async(std::launch::async, [&port] {
        int32_t counters[MODBUS485_COUNTERS] = {}, last[MODBUS485_LASTREAD_VALUES] = {};
        return port.counters(counters, MODBUS485_COUNTERS) == MODBUS485_COUNTERS &&
               counters[MODBUS485_COUNTER_REQUESTS] == 1 &&
               port.lastRead(1, 3, 0, last, MODBUS485_LASTREAD_VALUES) == MODBUS485_LASTREAD_VALUES &&
               !port.info().empty();
    });
    const bool answered = looked.wait_for(seconds(30)) == std::future_status::ready;
    {
        std::lock_guard lock(line.mutex);
        line.released = true;
    }
    line.changed.notify_all();
    poll.join();
    ASSERT_TRUE(answered);
    EXPECT_TRUE(looked.get());
}
