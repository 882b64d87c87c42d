#pragma once

#include <QDateTime>
#include <QString>

// File names of a record: NAME.jsonl, NAME.csv, NAME.pdf and NAME.trace in the records folder.
namespace RecordNames {

// A record's file name, "-N" and extension included, in bytes of UTF-8: well below the 255 of every file
// system the records go to.
inline constexpr int MaxNameBytes = 200;
// A whole path on Windows, in UTF-16 units: below MAX_PATH (260, its terminating null included).
inline constexpr int MaxWindowsPath = 259;

// One part of a name made safe on Windows and Linux: at most 40 characters, every character either system
// refuses (and control characters) replaced by "_", no trailing dot or blank, a name Windows reserves (CON,
// NUL, COM1, ...) prefixed with "_". Empty parts become "_".
QString safePart(const QString &part);

// NAME from the project, the module's tag and the start: "project_tag_20261207-140311". The project and the
// tag are cut at a character boundary, the longer first, so that NAME with "-N" and any extension is at
// most MaxNameBytes bytes and at most `room` UTF-16 units.
QString baseName(const QString &project, const QString &tag, const QDateTime &start, int room = MaxNameBytes);

// NAME of a cabinet's record from the start of its walk: "CABINET_20261207-140311".
QString cabinetBaseName(const QDateTime &start);
// Whether NAME is a cabinet record's: "CABINET_yyyyMMdd-HHmmss", with a clash's "-N" if any.
bool isCabinetName(const QString &name);

// The UTF-16 units a file name may take in the folder: on Windows what MaxWindowsPath leaves after the
// folder's path, elsewhere MaxNameBytes.
int roomIn(const QString &folder);

// Why a folder cannot take records (on Windows, a path too long to leave room for a name); empty when it can.
QString folderProblem(const QString &folder);

// The first of NAME, NAME-2, NAME-3, ... for which no file of the record exists in the folder.
QString unusedBaseName(const QString &folder, const QString &name);

} // namespace RecordNames
