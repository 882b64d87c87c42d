// ModbusPort on a scripted line: how it behaves with a module and an adapter that behave like real ones,
// with no real time passing. Each row polls as the window does, every 500 ms: a block of eight registers, a
// block of sixteen inputs, and a write.
#include "Crc16.h"
#include "ModbusPort.h"
#include "ScriptedLine.h"
#include "Trace.h"

#include <gtest/gtest.h>

#include <functional>

namespace modbus485 {
void PrintTo(Outcome outcome, std::ostream *out) {
    *out << "outcome " << static_cast<int>(outcome);
}
} // namespace modbus485

namespace {
using namespace std::chrono;
using Clock = steady_clock;
using Outcome = ModbusPort::Outcome;

Clock::duration characters(double n) { // at 9600 baud, 8N1
    return duration_cast<Clock::duration>(duration<double>(n * 10 / 9600));
}

// Station 1: holding register a holds 1000 + a, inputs 1-16 are A5 0F.
struct Module {
    ScriptedLine &line;
    int answerMs = 0;
    int lateOnceMs = 0;
    bool echo = false; // the adapter hears its own request
    bool corruptEcho = false;
    int ahead = -1; // a byte on the line just before each answer
    int deafMs = 0; // a request that starts this soon after its last answer is not heard
    bool silent = false;
    bool chatter = false; // the line never goes quiet
    int writes = 0;
    Clock::time_point lastAnswerEnd{};

    void hear(const std::vector<uint8_t> &request) {
        const auto start = line.now();
        const auto end = start + characters(static_cast<double>(request.size()));
        if (echo) {
            std::vector<uint8_t> heard = request;
            if (corruptEcho)
                heard[3] ^= 0x10;
            line.arrive(end, heard);
        }
        if (chatter)
            for (int i = 0; i < 3000; ++i)
                line.arrive(start + milliseconds(i), {0x55});
        if (silent || chatter || start - lastAnswerEnd < milliseconds(deafMs))
            return;
        std::vector<uint8_t> answer = answerTo(request);
        const auto begin = end + milliseconds(answerMs + lateOnceMs);
        lateOnceMs = 0;
        if (ahead >= 0)
            line.arrive(begin, {static_cast<uint8_t>(ahead)});
        lastAnswerEnd = begin + characters(static_cast<double>(answer.size()));
        line.arrive(lastAnswerEnd, answer);
    }
    std::vector<uint8_t> answerTo(const std::vector<uint8_t> &request) {
        std::vector<uint8_t> answer(request.begin(), request.begin() + 2);
        const int address = request[2] << 8 | request[3];
        if (request[1] == 3) {
            answer.push_back(static_cast<uint8_t>(2 * request[5]));
            for (int i = 0; i < request[5]; ++i) {
                answer.push_back(static_cast<uint8_t>((1000 + address + i) >> 8));
                answer.push_back(static_cast<uint8_t>((1000 + address + i) & 0xFF));
            }
        } else if (request[1] == 2) {
            answer.insert(answer.end(), {2, 0xA5, 0x0F});
        } else {
            ++writes;
            answer.assign(request.begin(), request.begin() + 6);
        }
        const uint16_t crc = modbus485::crc16(answer.data(), answer.size());
        answer.push_back(static_cast<uint8_t>(crc & 0xFF));
        answer.push_back(static_cast<uint8_t>(crc >> 8));
        return answer;
    }
};

// What the module and the line do from the start, and from poll period 6 on.
struct Line6 {
    int answerMs = 0;
    bool echo = false;
    int ahead = -1;
    int deafMs = 0;
    bool chatter = false;
};
enum class Then { Same, Silent, OneAnswerLate, EchoCorrupted };

struct Row {
    const char *name;
    Line6 line;
    Then then;
    int rightFrom;  // the poll period from which every read and write is right
    int rightUntil; // and until which
    int counter;    // at the end, within [atLeast, atMost]
    int atLeast;
    int atMost;
};
} // namespace

TEST(LineBehaviour, PollsOnLinesThatAreSlowEchoNoisyOrDeaf) {
    constexpr int Periods = 12;
    constexpr int Any = INT32_MAX;
    const Row rows[] = {
        {"slow 80 ms", {80}, Then::Same, 1, Periods, MODBUS485_COUNTER_TURNAROUND_MS, 139, 1000},
        {"slow 150 ms", {150}, Then::Same, 1, Periods, MODBUS485_COUNTER_TURNAROUND_MS, 244, 1000},
        {"slow 300 ms", {300}, Then::Same, 2, Periods, MODBUS485_COUNTER_TURNAROUND_MS, 469, 1000},
        {"echo", {0, true}, Then::Same, 0, Periods, MODBUS485_COUNTER_ECHOES, 3 * Periods, Any},
        {"echo, slow 80 ms",
         {80, true},
         Then::Same,
         2,
         Periods,
         MODBUS485_COUNTER_ECHOES,
         3 * Periods - 6,
         Any},
        {"0x00 ahead",
         {0, false, 0x00},
         Then::Same,
         0,
         Periods,
         MODBUS485_COUNTER_STRAY,
         3 * Periods,
         3 * Periods},
        {"0xFF ahead",
         {0, false, 0xFF},
         Then::Same,
         0,
         Periods,
         MODBUS485_COUNTER_STRAY,
         3 * Periods,
         3 * Periods},
        {"deaf 10 ms", {0, false, -1, 10}, Then::Same, 5, Periods, MODBUS485_COUNTER_FRAME_GAP_MS, 10, 30},
        {"deaf 30 ms", {0, false, -1, 30}, Then::Same, 9, Periods, MODBUS485_COUNTER_FRAME_GAP_MS, 30, 100},
        {"not deaf", {}, Then::Same, 0, Periods, MODBUS485_COUNTER_FRAME_GAP_MS, 4, 4},
        {"slow 300 ms, then silent", {300}, Then::Silent, 2, 6, MODBUS485_COUNTER_TURNAROUND_MS, 40, 40},
        {"a stale frame after a failure",
         {},
         Then::OneAnswerLate,
         8,
         Periods,
         MODBUS485_COUNTER_STRAY,
         1,
         Any},
        {"echo, then corrupted",
         {0, true},
         Then::EchoCorrupted,
         0,
         6,
         MODBUS485_COUNTER_GARBLED,
         3 * 6,
         3 * 6},
        {"never quiet", {0, false, -1, 0, true}, Then::Same, Periods, Periods, MODBUS485_COUNTER_GOOD, 0, 0},
    };
    Trace::instance().configure(); // MODBUS485_TRACE=FILE shows each exchange
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedLine line;
        Module module{line,           row.line.answerMs, 0,     row.line.echo,   false,
                      row.line.ahead, row.line.deafMs,   false, row.line.chatter};
        line.onRequest = [&module](const std::vector<uint8_t> &request) { module.hear(request); };
        ModbusPort port(1, line, line);
        ASSERT_EQ(port.open(9600, 'N', true), MODBUS485_OPEN_OK);
        int writesSent = 0;
        for (int period = 0; period < Periods; ++period) {
            SCOPED_TRACE(period);
            if (period == 6) {
                module.silent = row.then == Then::Silent;
                module.lateOnceMs = row.then == Then::OneAnswerLate ? 200 : 0;
                module.corruptEcho = row.then == Then::EchoCorrupted;
            }
            const auto periodStart = line.now();
            const bool right = period >= row.rightFrom && period < row.rightUntil;
            uint16_t registers[8] = {};
            const Outcome read = port.readRegisters(1, false, 0, 8, registers);
            if (read == Outcome::Good) {
                for (int i = 0; i < 8; ++i)
                    EXPECT_EQ(registers[i], 1000 + i); // never a wrong value
            }
            uint8_t inputs[16] = {};
            const Outcome readInputs = port.readBits(1, false, 0, 16, inputs);
            if (readInputs == Outcome::Good) {
                EXPECT_EQ(inputs[0] + 2 * inputs[2] + 4 * inputs[5] + 8 * inputs[8] + 16 * inputs[12],
                          1 + 2 + 4 + 8);
            }
            const int writesBefore = module.writes;
            const Outcome write = port.writeRegister(1, 9, static_cast<uint16_t>(period));
            ++writesSent;
            EXPECT_LE(module.writes - writesBefore, 1); // never a second write
            if (right) {
                EXPECT_EQ(read, Outcome::Good);
                EXPECT_EQ(readInputs, Outcome::Good);
                EXPECT_EQ(write, Outcome::Good);
            }
            // Bounded, whatever the line does: each call within its deadline, its drain and the ceiling.
            EXPECT_LT(line.now() - periodStart, seconds(3));
            line.sleepUntil(periodStart + milliseconds(500));
        }
        EXPECT_LE(module.writes, writesSent);
        int32_t counters[MODBUS485_COUNTERS] = {};
        port.counters(counters, MODBUS485_COUNTERS);
        EXPECT_GE(counters[row.counter], row.atLeast);
        EXPECT_LE(counters[row.counter], row.atMost);
    }
}
