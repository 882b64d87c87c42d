// Fuzz entry point for the exchanges on a scripted line: arbitrary bytes, split and timed arbitrarily, come
// back for each kind of request, answers and echoes split anywhere. Never a read past a buffer, never a good
// outcome without a frame that checks among the bytes the line carried, never a value that frame does not
// carry, and every call ends within a bounded time of the scripted clock.
//
// The input is a line setting, then exchanges: kind, quantity, address, a pause before it, and what comes
// back as chunks that each arrive a given time after the request: raw bytes, the request's own bytes, or a
// well-formed answer to it whose values are taken from the input, either of the last two maybe cut up to
// three times.
#include "Crc16.h"
#include "ModbusPort.h"
#include "ScriptedLine.h"
#include "Trace.h"

#include <cstdio>
#include <cstdlib>

namespace {
void check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "LineFuzz.cpp:%d: check failed\n", line);
        std::abort();
    }
}

struct Input {
    const uint8_t *data;
    std::size_t size;
    std::size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
};

// The line as the port read it, byte after byte.
struct RecordingLine : ScriptedLine {
    std::vector<uint8_t> delivered;
    int read(uint8_t *buffer, std::size_t size, Clock::time_point until) override {
        const int got = ScriptedLine::read(buffer, size, until);
        delivered.insert(delivered.end(), buffer, buffer + std::max(got, 0));
        return got;
    }
};

std::vector<uint8_t> wellFormedAnswer(const modbus485::RtuRequest &request, Input &in) {
    std::vector<uint8_t> frame(request.begin(), request.begin() + (request[1] <= 4 ? 2 : 6));
    if (request[1] <= 4) {
        frame.push_back(static_cast<uint8_t>(modbus485::rtuAnswerSize(request) - 5));
        for (int i = 0; i < frame[2]; ++i)
            frame.push_back(in.next());
    }
    const uint16_t crc = modbus485::crc16(frame.data(), frame.size());
    frame.insert(frame.end(), {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
    return frame;
}

// True when a frame among the bytes the line carried checks as the answer to `request` and carries
// `values` (bits or registers, as read).
bool carried(const std::vector<uint8_t> &line, const modbus485::RtuRequest &request,
             const std::vector<int> &values) {
    for (std::size_t k = 0; k < line.size(); ++k) {
        std::size_t size = 0;
        if (modbus485::checkRtuAnswer(request, line.data() + k, line.size() - k, size) !=
            modbus485::RtuAnswer::Good)
            continue;
        const uint8_t *frame = line.data() + k;
        bool same = true;
        for (std::size_t i = 0; i < values.size(); ++i)
            same = same && values[i] == (request[1] <= 2 ? frame[3 + i / 8] >> (i % 8) & 1
                                                         : frame[3 + 2 * i] << 8 | frame[4 + 2 * i]);
        if (same)
            return true;
    }
    return false;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace std::chrono;
    static const bool once = [] {
        setenv("MODBUS485_PORT1", "/dev/scripted", 1); // the port map is not read
        Trace::instance().configure();                 // MODBUS485_TRACE=FILE shows each exchange
        return true;
    }();
    (void)once;
    Input in{data, size};
    RecordingLine line;
    std::vector<std::pair<milliseconds, std::vector<uint8_t>>> answers; // to the exchange under way
    line.onRequest = [&](const std::vector<uint8_t> &) {
        for (auto &[after, bytes] : answers)
            line.arrive(line.now() + after, bytes);
    };
    ModbusPort port(1, line, line);
    const uint8_t setting = in.next();
    const int baud = setting % 3 == 0 ? 4800 : setting % 3 == 1 ? 9600 : 19200;
    const char parity = "NOE"[setting / 3 % 3];
    check(port.open(baud, parity, true) == MODBUS485_OPEN_OK);
    // The drain's window for a late answer, the pause, the deadline at the longest allowance and the watch
    // for a stale answer's successor.
    const auto bound =
        3 * (duration<double>((parity == 'N' ? 10.0 : 11.0) / baud * 267.5) + seconds(1)) + milliseconds(300);
    for (int exchanges = 0; in.at < in.size && exchanges < 64; ++exchanges) {
        const uint8_t kind = in.next();
        const int station = 1 + (kind >> 4) % 3;
        const int function = 1 + (kind & 0x0F) % 6;
        const int quantity = function <= 2   ? 1 + in.next() % 32
                             : function <= 4 ? 1 + in.next() % 16
                                             : in.next();
        const int address = in.next();
        line.advance(milliseconds(in.next() * 4));
        const modbus485::RtuRequest request = modbus485::rtuRequest(
            station, function, address, function == 5 ? (quantity & 1) * 0xFF00 : quantity);
        answers.clear();
        for (int chunks = in.next() % 6; chunks > 0 && in.at < in.size; --chunks) {
            const milliseconds after(in.next() * 4);
            const uint8_t shape = in.next();
            std::vector<uint8_t> bytes(request.begin(), request.end());
            if (shape & 0x80)
                bytes = wellFormedAnswer(request, in);
            else if (!(shape & 0x40))
                for (bytes.clear(); bytes.size() < (shape & 0x3Fu);)
                    bytes.push_back(in.next());
            // An answer or an echo cut up to three times where an adapter's latency timer cuts it, each
            // piece later than the one before.
            auto piece = after;
            for (int cuts = (shape & 0xC0) && (shape & 0x20) ? 1 + in.next() % 3 : 0;
                 cuts > 0 && !bytes.empty(); --cuts) {
                const auto cut = bytes.begin() + in.next() % static_cast<std::ptrdiff_t>(bytes.size());
                answers.emplace_back(piece, std::vector<uint8_t>(bytes.begin(), cut));
                bytes.erase(bytes.begin(), cut);
                piece += milliseconds(in.next() % 32);
            }
            answers.emplace_back(piece, bytes);
        }
        const auto before = line.now();
        std::vector<int> values;
        ModbusPort::Outcome outcome;
        if (function <= 4) {
            uint8_t bits[33];
            uint16_t registers[17];
            std::fill(std::begin(bits), std::end(bits), 0xAA);
            std::fill(std::begin(registers), std::end(registers), 0xAAAA);
            outcome = function <= 2
                          ? port.readBits(station, function == 1, address, quantity, bits)
                          : port.readRegisters(station, function == 4, address, quantity, registers);
            check((function <= 2 ? bits[quantity] : registers[quantity]) == (function <= 2 ? 0xAA : 0xAAAA));
            for (int i = 0; i < quantity; ++i)
                values.push_back(function <= 2 ? bits[i] : registers[i]);
        } else {
            outcome = function == 5 ? port.writeCoil(station, address, quantity & 1)
                                    : port.writeRegister(station, address, static_cast<uint16_t>(quantity));
        }
        check(static_cast<int>(outcome) >= 0 && static_cast<int>(outcome) < modbus485::OutcomeCount);
        check(outcome != ModbusPort::Outcome::Good || carried(line.delivered, request, values));
        // A write may be two exchanges: the read before it while the adapter's echo is unknown.
        check(line.now() - before < (function <= 4 ? 1 : 2) * bound);
    }
    return 0;
}
