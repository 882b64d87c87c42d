#pragma once

#include <QStringList>

struct CheckRecord;
struct CabinetReport;

// NAME.csv and NAME.pdf of a record in its folder, each whole or not at all, neither over a file that
// exists. False with the reason when either could not be written.
bool writeRecordFiles(const CheckRecord &record, const QString &folder, const QString &name, QString &error);

// CABINET_….csv and CABINET_….pdf of a cabinet's record in its folder, the same way.
bool writeCabinetFiles(const CabinetReport &report, const QString &folder, const QString &name,
                       QString &error);

// qm4107-checkout report JOURNAL [--csv FILE] [--pdf FILE]: the CSV and the PDF rebuilt from a journal.
// A cabinet's journal (CABINET_….jsonl) gives the cabinet's CSV and PDF, made with the module journals it
// names beside it. Without --csv or --pdf both are written beside the journal under its name. Never
// overwrites. Returns the exit code: 0 written, 1 refused or not written, 2 usage.
int runReport(const QStringList &arguments);
