#pragma once

#include <QStringList>

// qm4107-checkout report JOURNAL [--csv FILE] [--pdf FILE]: the CSV and the PDF rebuilt from a journal.
// Without --csv or --pdf both are written beside the journal under its name. Never overwrites. Returns the
// exit code: 0 written, 1 refused or not written, 2 usage.
int runReport(const QStringList &arguments);
