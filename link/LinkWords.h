#pragma once

#include <QString>

#include <cstdint>
#include <span>

// What the MODBUS485 library's codes mean, in one table: for each outcome of an exchange, the counter it is
// counted under, the trace's word for it and the operator's words, and the reasons a trace stops; and the
// words of the line's settings, baud and parity codes. The library hands out codes; the panel, its tooltips,
// the guided checkout and its record, and qm4107-ports speak with these words.
namespace LinkWords {

struct Outcome {
    int32_t code;      // a MODBUS485_OUTCOME_ code
    int counter;       // the MODBUS485_COUNTER_ it is counted under, -1 for none
    const char *trace; // the trace's word, nullptr when no request went out
    const char *label; // on the counters line, UTF-8
    const char *text;  // a read's last outcome, UTF-8: %1 the station, %2 the round trip or exception code
};

// Every outcome, in the order the counters line shows them.
std::span<const Outcome> outcomes();
// The outcome with `code`, nullptr for a code this table does not know.
const Outcome *outcome(int32_t code);

// The word for a MODBUS485_COUNTER_ on the counters line ("请求", "正常", "残帧"), nullptr for one without.
const char *counterLabel(int counter);

// A baud code's rate as every place shows it ("19200"); a code that is none of them, as its number.
QString baudText(int32_t baudCode);
// A parity code's word as every place shows it ("偶校验"); a code that is none of them, as its number.
QString parityText(int32_t parityCode);
// A parity code's name on a command line ("none", "odd", "even"); empty for a code that is none of them.
QString parityOption(int32_t parityCode);

// A read's last outcome: "站号5正常（12 ms）", "校验错误：检查波特率和校验方式", "端口未打开".
QString lastRead(int32_t code, int32_t station, int32_t exception, int32_t roundTripUs);
// The port's counters in one line, and the trace's state on a second when it stopped. Baud and parity
// codes are the port's, to tell a pause longer than the protocol's own.
QString counters(std::span<const int32_t> values, int32_t baudCode, int32_t parityCode);
// "跟踪已停止：…" for a MODBUS485_TRACE_STOPPED_ reason.
QString traceStopped(int32_t reason);

} // namespace LinkWords
