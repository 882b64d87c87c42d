#pragma once

#include "CheckRecord.h"

#include <QIODevice>

// The record as NAME.pdf on A4: the header, the module as found and as left side by side, the table of
// points, the line's counters, the summary, the signature lines, and "第 N 页 共 M 页" on each page. The text
// is set in the Song face the windows use, embedded, so that it stays text a reader can search.
// False when the device could not be written.
bool writePdfReport(const CheckRecord &record, QIODevice &device);
// The same as bytes; empty when it could not be made.
QByteArray pdfReport(const CheckRecord &record);
// What a whole PDF ends with.
inline constexpr char PdfTrailer[] = "%%EOF";
