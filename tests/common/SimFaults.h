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
    int counter;      // the counter it adds to
    bool exactlyOnce; // a late answer may be cleared, a slow one met by the next reads, in pieces
    int32_t outcome;  // of the failed read, as GetPort_LastRead gives it
    int32_t exception;
    const char *words; // in the trace
};

inline constexpr SimFault SimFaults[] = {
    {"silent 1", " silent", true, MODBUS485_COUNTER_NO_ANSWER, true, MODBUS485_OUTCOME_NO_ANSWER, 0,
     " | no answer | "},
    {"late 300 1", " late", true, MODBUS485_COUNTER_STRAY, false, MODBUS485_OUTCOME_NO_ANSWER, 0,
     " | dropped "},
    // Each gap well inside a read's wait, the whole answer far past the exchange's one deadline.
    {"slow 15 1", " slow", false, MODBUS485_COUNTER_GARBLED, false, MODBUS485_OUTCOME_GARBLED, 0,
     " | garbled | "},
    {"corrupt-crc 1", " corrupt-crc", false, MODBUS485_COUNTER_GARBLED, true, MODBUS485_OUTCOME_GARBLED, 0,
     " | garbled | "},
    {"wrong-station 1", " wrong-station", false, MODBUS485_COUNTER_WRONG_STATION, true,
     MODBUS485_OUTCOME_WRONG_STATION, 0, " | wrong station | "},
    {"exception 4 1", " exception 4", false, MODBUS485_COUNTER_EXCEPTION_CODE(4), true,
     MODBUS485_OUTCOME_EXCEPTION, 4, " | exception 4 | "},
    {"garbage 1", " garbage", false, MODBUS485_COUNTER_GARBLED, true, MODBUS485_OUTCOME_GARBLED, 0,
     " | garbled | "},
};
