#pragma once

#include "MODBUS485.h"

#include <cstdint>

// The simulator's faults, each for one request, and what each does to the exchange it spoils: the end of the
// simulator's log line, what MODBUS485 counts and reports of it, and its words in the trace. No Qt: the Wine
// tests use it too.
struct SimFault {
    const char *command;
    const char *logSuffix;
    bool heldBack;    // no answer in time: the station is demoted for a while
    bool teaches;     // a slow module: once its answer time is learned, the same exchange is good at once
    int counter;      // the counter it adds to
    bool exactlyOnce; // a late answer may be cleared, a slow one met by the next reads, in pieces
    int32_t outcome;  // of the read it meets, as GetPort_LastRead gives it
    int32_t exception;
    const char *words; // in the trace
};

// Each spoils the one exchange it meets.
inline constexpr SimFault SimFaults[] = {
    {"silent 1", " silent", true, false, MODBUS485_COUNTER_NO_ANSWER, true, MODBUS485_OUTCOME_NO_ANSWER, 0,
     " | no answer | "},
    // Always late: the station's first exchange without an answer listens for it, takes it off the line
    // behind and learns from it, and the reads after it are good.
    {"late 300", " late", true, true, MODBUS485_COUNTER_STRAY, false, MODBUS485_OUTCOME_NO_ANSWER, 0,
     " | dropped behind "},
    // Each gap well inside a read's wait, the whole answer far past the exchange's one deadline.
    {"slow 15 1", " slow", false, false, MODBUS485_COUNTER_CUT_SHORT, false, MODBUS485_OUTCOME_CUT_SHORT, 0,
     " | cut short | "},
    {"corrupt-crc 1", " corrupt-crc", false, false, MODBUS485_COUNTER_GARBLED, true,
     MODBUS485_OUTCOME_GARBLED, 0, " | CRC error | "},
    {"wrong-station 1", " wrong-station", false, false, MODBUS485_COUNTER_WRONG_STATION, true,
     MODBUS485_OUTCOME_WRONG_STATION, 0, " | wrong station | "},
    {"exception 4 1", " exception 4", false, false, MODBUS485_COUNTER_EXCEPTION_CODE(4), true,
     MODBUS485_OUTCOME_EXCEPTION, 4, " | exception 4 | "},
    {"garbage 1", " garbage", false, false, MODBUS485_COUNTER_GARBLED, true, MODBUS485_OUTCOME_GARBLED, 0,
     " | CRC error | "},
};

// What a real line does around an answer; the library reads through the first two.
inline constexpr SimFault SimLineBehaviours[] = {
    {"noise ff 1", " noise", false, false, MODBUS485_COUNTER_STRAY, true, MODBUS485_OUTCOME_GOOD, 0,
     " | skipped FF | "},
    {"echo on", "", false, false, MODBUS485_COUNTER_ECHOES, false, MODBUS485_OUTCOME_GOOD, 0, " | echo | "},
    {"deaf 1000", " deaf", true, false, MODBUS485_COUNTER_NO_ANSWER, false, MODBUS485_OUTCOME_NO_ANSWER, 0,
     " | no answer | "},
};
