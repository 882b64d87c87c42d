#pragma once

#include "CheckRecord.h"

#include <QByteArray>
#include <QFile>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <vector>

// The journal, the record's master copy: NAME.jsonl, one JSON object a line, each with the format version
// and its type ("header", "as-found", "point", "output", "as-left", "close"), and while the port is open the
// line's counters over the walk so far. Each line is on the disk before the walk goes on.

// Where journal lines go. The walk's is a file; a test's can fail as a full disk would.
class JournalSink {
public:
    virtual ~JournalSink() = default;
    // Appends the bytes and forces them to the disk; false with the reason when it cannot.
    virtual bool append(const QByteArray &bytes, QString &error) = 0;
};

// A journal file opened for appending. A file whose last line was cut (no line feed at its end) gets a line
// feed before the first new line, so that the cut line stays the only bad one.
class FileJournalSink : public JournalSink {
public:
    bool open(const QString &path, QString &error);
    bool append(const QByteArray &bytes, QString &error) override;

private:
    QFile m_file;
    bool m_needsLineFeed = false;
};

class JournalWriter {
public:
    // 2 adds line types to 1 and changes none: a journal of format 1 is read as it always was.
    static constexpr int Format = 2;

    explicit JournalWriter(JournalSink &sink)
        : m_sink(sink) {}

    bool writeHeader(const RecordHeader &header);
    bool writeAsFound(const ModuleSnapshot &snapshot);
    bool writePoint(const PointResult &result);
    // An output switched by the walk ("changed"), confirmed back ("restored"), or of unknown state.
    bool writeOutput(const QString &point, const QString &state);
    bool writeAsLeft(const ModuleSnapshot &snapshot);
    bool writeClose(const Closing &closing, const LineCounters &counters);
    // A counter's test preset, written to the journal before it goes to the module ("changed", with the
    // value), and once it is confirmed back ("restored").
    bool writePreset(const QString &point, const QString &state, int value);
    // A counter's count as found, journaled before the walk clears it.
    bool writeCountFound(const QString &point, int count);
    // The walk was cancelled and what it changed put back; the journal can be gone on with.
    bool writeCancel();
    // The engineer's class for a failed point, after its result line, which stays as it was.
    bool writeAmendment(const QString &point, Defect defect);
    // The engineer chose not to put back what a killed walk left changed: `points`, in this journal.
    bool writeWaiver(const QStringList &points);

    // Why the last write failed.
    QString error() const { return m_error; }

    // The line's counters over the walk so far, while the port is open. Every line then carries them, so a
    // walk gone on with after a crash adds its own to what the journal last holds.
    std::function<std::optional<LineCounters>()> counters;

private:
    bool write(const QString &type, QJsonObject object);

    JournalSink &m_sink;
    QString m_error;
};

// One line of a journal: the object with the format version and its type, compact, ending in a line feed.
QByteArray journalLine(const QString &type, QJsonObject object);

// An I/O list's entries as a journal holds them, by point name, and back.
QJsonObject ioObject(const std::map<QString, IoEntry> &entries);
std::map<QString, IoEntry> ioFrom(const QJsonObject &io);

struct JournalContents {
    CheckRecord record;
    bool refused = false;
    QString reason;       // why the journal was refused
    int skippedLines = 0; // lines that did not parse
    bool endsCut = false; // the last line has no line feed
};

// The largest journal read: a whole module's is some 10 KiB.
inline constexpr qint64 MaxJournalBytes = 16 * 1024 * 1024;

// Reads a journal: lines that do not parse are skipped, a line of a newer format refuses the whole journal,
// as does a journal without its header, a journal over MaxJournalBytes and anything not a regular file.
JournalContents readJournal(const QString &path);
JournalContents parseJournal(const QByteArray &bytes);

// A journal file's bytes, from a regular file of at most MaxJournalBytes; false with the reason.
bool readJournalBytes(const QString &path, QByteArray &bytes, QString &reason);
// A journal's file read and given to `parse` (parseJournal's kind); refused with the reason when it cannot be
// read.
template <typename Contents>
Contents readJournalWith(const QString &path, Contents (*parse)(const QByteArray &)) {
    QByteArray bytes;
    Contents contents;
    if (!readJournalBytes(path, bytes, contents.reason)) {
        contents.refused = true;
        return contents;
    }
    return parse(bytes);
}
// Gives `take` each line of a journal that is a JSON object of a format this program reads, in order; a line
// that is not, or that `take` does not know (false), counts as skipped. A line of a newer format ends the
// reading: false, with the reason.
bool forEachJournalLine(const QByteArray &bytes, int &skippedLines, QString &reason,
                        const std::function<bool(const QJsonObject &)> &take);
