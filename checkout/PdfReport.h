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

struct CabinetReport;
// The cabinet's record as CABINET_….pdf: a first page with the cabinet's header and every module listed or
// found (station, tag, where it was found, points passed, failed, skipped and untested, defects by class,
// open items), the parity settings changed and a summary; then each walked module's pages as pdfReport()
// lays them, the page numbers running over the whole, the signature lines once at the end. Empty when it
// could not be made.
QByteArray cabinetPdfReport(const CabinetReport &report);
// What a whole PDF ends with.
inline constexpr char PdfTrailer[] = "%%EOF";
