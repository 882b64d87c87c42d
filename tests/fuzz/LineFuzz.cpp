// Fuzz entry point for the exchanges on a scripted line: arbitrary bytes, split and timed arbitrarily, come
// back for each kind of request. Never a read or write past a buffer, never a good outcome without a frame
// that checks among the bytes the line carried, never a value those bytes do not carry, and every call ends
// within a bounded time of the scripted clock.
//
// The input is a line setting, then exchanges: kind and quantity, a pause before it, and what comes back,
// as chunks that each arrive a given time after the request: raw bytes, the request's own bytes, or a
// well-formed answer to it whose values are taken from the input.
#include "Crc16.h"
#include "ModbusPort.h"
#include "ScriptedLine.h"
#include "Trace.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
    bool more() const { return at < size; }
    uint8_t next() { return at < size ? data[at++] : 0; }
};

// The line as the port read it, byte after byte.
class RecordingLine : public ScriptedLine {
public:
    std::vector<uint8_t> delivered;
    int read(uint8_t *buffer, std::size_t size, Clock::time_point until) override {
        const int got = ScriptedLine::read(buffer, size, until);
        if (got > 0)
            delivered.insert(delivered.end(), buffer, buffer + got);
        return got;
    }
};

std::vector<uint8_t> wellFormedAnswer(const modbus485::RtuRequest &request, Input &in) {
    std::vector<uint8_t> frame(request.begin(), request.begin() + 2);
    const std::size_t size = modbus485::rtuAnswerSize(request);
    if (request[1] <= 4) {
        frame.push_back(static_cast<uint8_t>(size - 5));
        for (std::size_t i = 0; i < size - 5; ++i)
            frame.push_back(in.next());
    } else {
        frame.insert(frame.end(), request.begin() + 2, request.begin() + 6);
    }
    const uint16_t crc = modbus485::crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

// True when `answer` stands whole, and checking as the answer to `request`, among the bytes the line carried.
bool carried(const std::vector<uint8_t> &line, const modbus485::RtuRequest &request,
             const std::vector<uint8_t> &answer) {
    for (std::size_t k = 0; k + answer.size() <= line.size(); ++k) {
        std::size_t frameSize = 0;
        if (std::equal(answer.begin(), answer.end(), line.begin() + static_cast<std::ptrdiff_t>(k)) &&
            modbus485::checkRtuAnswer(request, line.data() + k, answer.size(), frameSize) ==
                modbus485::RtuAnswer::Good)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool once = [] {
        setenv("MODBUS485_PORT1", "/dev/scripted", 1); // the port map is not read
        Trace::instance().configure();                 // MODBUS485_TRACE=FILE shows each exchange
        return true;
    }();
    (void)once;
    using namespace std::chrono;
    Input in{data, size};
    RecordingLine line;
    std::vector<std::pair<milliseconds, std::vector<uint8_t>>> answers; // of the exchange under way
    line.onRequest = [&](const std::vector<uint8_t> &) {
        for (auto &[after, bytes] : answers)
            line.arrive(line.now() + after, bytes);
        answers.clear();
    };
    ModbusPort port(1, line, line);
    const uint8_t setting = in.next();
    static const int bauds[] = {4800, 9600, 19200};
    static const char parities[] = {'N', 'O', 'E'};
    check(port.open(bauds[setting % 3], parities[setting / 3 % 3], true) == MODBUS485_OPEN_OK);
    const duration<double> longest = duration<double>((parities[setting / 3 % 3] == 'N' ? 10.0 : 11.0) /
                                                      bauds[setting % 3] * (8 + 256 + 3.5)) +
                                     milliseconds(1000);
    for (int exchanges = 0; in.more() && exchanges < 64; ++exchanges) {
        const uint8_t kind = in.next();
        const int station = 1 + (kind >> 4) % 3;
        const int function = 1 + (kind & 0x0F) % 6;
        const int quantity = function <= 2   ? 1 + in.next() % 32
                             : function <= 4 ? 1 + in.next() % 16
                                             : in.next();
        const int address = in.next();
        line.advance(milliseconds(in.next() * 4));
        const modbus485::RtuRequest request = modbus485::rtuRequest(
            station, function, address, function == 5 ? (quantity & 1 ? 0xFF00 : 0) : quantity);
        for (int chunks = in.next() % 6; chunks > 0 && in.more(); --chunks) {
            const milliseconds after(in.next() * 4);
            const uint8_t shape = in.next();
            if (shape & 0x80) {
                answers.emplace_back(after, wellFormedAnswer(request, in));
            } else if (shape & 0x40) {
                answers.emplace_back(after, std::vector<uint8_t>(request.begin(), request.end()));
            } else {
                std::vector<uint8_t> bytes;
                for (int n = shape & 0x3F; n > 0; --n)
                    bytes.push_back(in.next());
                answers.emplace_back(after, bytes);
            }
        }
        const auto before = line.now();
        ModbusPort::Outcome outcome;
        std::vector<uint8_t> answer; // what a good outcome says came back, rebuilt from the values
        if (function <= 2) {
            uint8_t bits[40];
            std::fill(std::begin(bits), std::end(bits), 0xAA);
            outcome = port.readBits(station, function == 1, address, quantity, bits);
            for (int i = quantity; i < 40; ++i)
                check(bits[i] == 0xAA);
            if (outcome == ModbusPort::Outcome::Good) {
                answer = {static_cast<uint8_t>(station), static_cast<uint8_t>(function),
                          static_cast<uint8_t>((quantity + 7) / 8)};
                for (int i = 0; i < quantity; ++i) {
                    check(bits[i] <= 1);
                    if (i % 8 == 0)
                        answer.push_back(0);
                    answer.back() |= static_cast<uint8_t>(bits[i] << (i % 8));
                }
            }
        } else if (function <= 4) {
            uint16_t values[20];
            std::fill(std::begin(values), std::end(values), 0xAAAA);
            outcome = port.readRegisters(station, function == 4, address, quantity, values);
            for (int i = quantity; i < 20; ++i)
                check(values[i] == 0xAAAA);
            if (outcome == ModbusPort::Outcome::Good) {
                answer = {static_cast<uint8_t>(station), static_cast<uint8_t>(function),
                          static_cast<uint8_t>(2 * quantity)};
                for (int i = 0; i < quantity; ++i) {
                    answer.push_back(static_cast<uint8_t>(values[i] >> 8));
                    answer.push_back(static_cast<uint8_t>(values[i] & 0xFF));
                }
            }
        } else {
            outcome = function == 5 ? port.writeCoil(station, address, quantity & 1)
                                    : port.writeRegister(station, address, static_cast<uint16_t>(quantity));
            if (outcome == ModbusPort::Outcome::Good)
                answer.assign(request.begin(), request.begin() + 6);
        }
        check(static_cast<int>(outcome) >= 0 && static_cast<int>(outcome) < modbus485::OutcomeCount);
        if (outcome == ModbusPort::Outcome::Good) {
            if (function <= 2) { // bits past the quantity in the last byte are the module's, unseen
                bool found = false;
                const int unused = 8 * ((quantity + 7) / 8) - quantity;
                for (int fill = 0; fill < (1 << unused) && !found; ++fill) {
                    std::vector<uint8_t> tried = answer;
                    tried.back() |= static_cast<uint8_t>((fill << (8 - unused)) & 0xFF);
                    const uint16_t crc = modbus485::crc16(tried.data(), tried.size());
                    tried.push_back(static_cast<uint8_t>(crc & 0xFF));
                    tried.push_back(static_cast<uint8_t>(crc >> 8));
                    found = carried(line.delivered, request, tried);
                }
                check(found);
            } else {
                const uint16_t crc = modbus485::crc16(answer.data(), answer.size());
                answer.push_back(static_cast<uint8_t>(crc & 0xFF));
                answer.push_back(static_cast<uint8_t>(crc >> 8));
                check(carried(line.delivered, request, answer));
            }
        }
        // At most the drain's window for a late answer, the pause, the deadline at the longest allowance and
        // the watch for a stale answer's successor.
        check(line.now() - before < 3 * longest + milliseconds(300));
        answers.clear();
    }
    return 0;
}
