#pragma once

#include "CheckRecord.h"

#include <QByteArray>

// The record as NAME.csv: one row per point (sequence, point, tag, terminal, what was checked, expected,
// observed, field confirmation, result, defect class, remark, time, tries), UTF-8 with a byte-order mark so
// that Excel on Chinese Windows reads the Chinese, quoted as RFC 4180 says, lines ending CR LF. A cell that
// begins with =, +, -, @, tab or carriage return gets a leading apostrophe so that no spreadsheet runs it as
// a formula; the journal keeps what was typed.
QByteArray csvReport(const CheckRecord &record);
