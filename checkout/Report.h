#pragma once

#include <QStringList>

struct CheckRecord;

// NAME.csv and NAME.pdf of a record in its folder, each whole or not at all, neither over a file that
// exists. False with the reason when either could not be written.
bool writeRecordFiles(const CheckRecord &record, const QString &folder, const QString &name, QString &error);

// qm4107-checkout report JOURNAL [--csv FILE] [--pdf FILE]: the CSV and the PDF rebuilt from a journal.
// Without --csv or --pdf both are written beside the journal under its name. Never overwrites. Returns the
// exit code: 0 written, 1 refused or not written, 2 usage.
int runReport(const QStringList &arguments);
