#pragma once

#include "CheckRecord.h"

#include <QIODevice>

// The record as NAME.pdf on A4: the header, the module as found and as left side by side, the table of
// points, the line's counters, the summary, the signature lines, and "第 N 页 共 M 页" on each page. The text
// is set in the Song face the windows use, embedded, so that it stays text a reader can search.
// False when the device could not be written.
bool writePdfReport(const CheckRecord &record, QIODevice &device);
