#include "RecordsFolder.h"

#include <QDir>

void RecordsFolder::scan(const QString &folder) {
    m_leftChanged.reset();
    m_unfinished.reset();
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.jsonl")}, QDir::Files, QDir::Time)) {
        const QString path = dir.filePath(name);
        JournalContents contents = readJournal(path);
        if (contents.refused || !contents.record.asFound)
            continue;
        if (!m_leftChanged && !contents.record.leftChanged().isEmpty())
            m_leftChanged = Journal{path, contents};
        if (!m_unfinished && !contents.record.closing)
            m_unfinished = Journal{path, std::move(contents)};
        if (m_leftChanged && m_unfinished)
            return;
    }
}

bool RecordsFolder::waive(QString &error) {
    if (!m_leftChanged)
        return true;
    FileJournalSink sink;
    if (!sink.open(m_leftChanged->path, error))
        return false;
    JournalWriter journal(sink);
    if (!journal.writeWaiver(m_leftChanged->contents.record.leftChanged())) {
        error = journal.error();
        return false;
    }
    m_leftChanged.reset();
    return true;
}
