#pragma once

#include "Journal.h"

#include <QString>

#include <optional>

// The records folder as the wizard's first page sees it: each journal read once, newest first, for the one
// that ends with test values still in the module (a killed walk), and the one that can be gone on with
// (no closing line). Puts back and waives through the journal it found.
class RecordsFolder {
public:
    struct Journal {
        QString path;
        JournalContents contents;
    };

    void scan(const QString &folder);

    // The newest journal whose walk left outputs or presets changed.
    const std::optional<Journal> &leftChanged() const { return m_leftChanged; }
    // The newest journal without its closing line.
    const std::optional<Journal> &unfinished() const { return m_unfinished; }

    // The engineer leaves what the killed walk changed as it is: journaled there, and no longer offered.
    bool waive(QString &error);
    // The put-back was done (or given up on): the next scan says what is left.
    void forgetLeftChanged() { m_leftChanged.reset(); }

private:
    std::optional<Journal> m_leftChanged;
    std::optional<Journal> m_unfinished;
};
