#pragma once

#include <QDateTime>
#include <QString>

// File names of a record: NAME.jsonl, NAME.csv, NAME.pdf and NAME.trace in the records folder.
namespace RecordNames {

// One part of a name made safe on Windows and Linux: at most 40 characters, every character either system
// refuses (and control characters) replaced by "_", no trailing dot or blank, a name Windows reserves (CON,
// NUL, COM1, ...) prefixed with "_". Empty parts become "_".
QString safePart(const QString &part);

// NAME from the project, the module's tag and the start: "project_tag_20261207-140311".
QString baseName(const QString &project, const QString &tag, const QDateTime &start);

// The first of NAME, NAME-2, NAME-3, ... for which no file of the record exists in the folder.
QString unusedBaseName(const QString &folder, const QString &name);

} // namespace RecordNames
