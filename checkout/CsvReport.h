#pragma once

#include "CheckRecord.h"

#include <QByteArray>

// The record as NAME.csv: one row per point (sequence, point, tag, terminal, what was checked, expected,
// observed, field confirmation, result, defect class, remark, time, tries), UTF-8 with a byte-order mark so
// that Excel on Chinese Windows reads the Chinese, quoted as RFC 4180 says, lines ending CR LF. A cell that
// begins with =, +, -, @, tab or carriage return gets a leading apostrophe so that no spreadsheet runs it as
// a formula; the journal keeps what was typed.
QByteArray csvReport(const CheckRecord &record);

struct CabinetReport;
// The cabinet's record as CABINET_….csv: one row per point of every module, listed or found, in station
// order, each after the module's station and tag, with the same rules. A module without a record of its own
// has its points untested, the reason in the remark.
QByteArray cabinetCsvReport(const CabinetReport &report);
