#pragma once

#include "CheckRecord.h"
#include "IoList.h"
#include "Journal.h"
#include "LineSurvey.h"

#include <map>
#include <optional>
#include <vector>

// What a cabinet's checkout records above its modules' own records: the cabinet's list, the line setting,
// what the survey found, the parity settings changed, and each module's journal and how far it got. The
// cabinet journal (CABINET_yyyyMMdd-HHmmss.jsonl) is its master copy; the cabinet's CSV and PDF are made from
// it and the module journals it names.

// A module the survey found: where it answered and what it said of itself.
struct CabinetFind {
    int station = 0;
    int baudCode = 1;
    int parityCode = 0;
    int answerUs = -1;     // the first read's round trip in µs; -1 when no answer came whole
    int moduleParity = -1; // the module's own parity setting; -1 unread
    bool qm4107 = false;
    QString remark; // "多个设置均应答", "可能站号重复"
    bool operator==(const CabinetFind &) const = default;
};

// What the survey on the link found, as the cabinet journal keeps it.
CabinetFind cabinetFind(const LineSurvey::Module &module);

// A module's parity setting written to bring it onto the line's setting; answered when it then answered at
// the line's setting.
struct ParityChange {
    int station = 0;
    int from = 0;
    int to = 0;
    QString time;
    bool answered = false;
    bool operator==(const ParityChange &) const = default;
};

enum class ModuleState { Waiting, Begun, Closed, Untested };

// Where one module of the cabinet is: its journal (a file name beside the cabinet journal) once begun; the
// reason when it was not walked (not found, at another baud rate, unreachable).
struct CabinetModule {
    ModuleState state = ModuleState::Waiting;
    QString journal;
    QString reason;
    QString tag; // the tag the engineer gave the module on the 连接 page, if any
    bool operator==(const CabinetModule &) const = default;
};

struct CabinetHeader {
    QString project;
    QString location;
    QString engineer;
    QString witness;
    int port = 1;
    int baudCode = 1; // the line's setting
    int parityCode = 0;
    QString programVersion;
    QString start;
    std::map<int, CabinetIoList::Module> list; // the cabinet's I/O list, by station
    bool operator==(const CabinetHeader &) const = default;
};

struct CabinetRecord {
    CabinetHeader header;
    std::vector<CabinetFind> survey; // the last survey's finds
    std::vector<ParityChange> parityChanges;
    std::map<int, CabinetModule> modules; // by station, as last recorded
    std::optional<QString> end;           // when the cabinet's walk ended
    QString remark;
};

// The first station of the list, in station order, whose module is neither closed nor recorded as not
// walked: where a killed cabinet walk goes on. A module whose own journal (in `folder`) holds its closing
// counts as closed even if the cabinet journal was not told. None when every module is done.
std::optional<int> firstUnfinished(const CabinetRecord &cabinet, const QString &folder);

// Writes the cabinet journal line by line, each on the disk before the walk goes on, as JournalWriter does.
class CabinetJournalWriter {
public:
    explicit CabinetJournalWriter(JournalSink &sink)
        : m_sink(sink) {}

    bool writeCabinet(const CabinetHeader &header);
    // What a survey found; `allSettings` when it asked at every line setting.
    bool writeSurvey(const std::vector<CabinetFind> &finds, bool allSettings);
    bool writeParityChange(const ParityChange &change);
    bool writeModule(int station, const CabinetModule &module);
    bool writeClose(const QString &end, const QString &remark);
    QString error() const { return m_error; }

private:
    bool write(const QString &type, const QJsonObject &object);

    JournalSink &m_sink;
    QString m_error;
};

struct CabinetContents {
    CabinetRecord record;
    bool isCabinet = false; // it has a cabinet's header line
    bool refused = false;
    QString reason;
    int skippedLines = 0;
};

// Reads a cabinet journal as readJournal reads a module's; a journal without a cabinet header is refused.
CabinetContents readCabinetJournal(const QString &path);
CabinetContents parseCabinetJournal(const QByteArray &bytes);

// The cabinet's record with its modules' records: every module of the list and every module found, by
// station, each with its record read from the journal the cabinet journal names, or made from the list when
// there is none (every point untested).
struct CabinetReport {
    struct Module {
        int station = 0;
        bool expected = false;             // in the list
        std::vector<CabinetFind> finds;    // where the survey found it
        CabinetModule progress;            // as the cabinet journal has it
        std::optional<CheckRecord> walked; // the module's record, from its journal
        CheckRecord record;                // that record, or the list's points untested
        QString note;                      // why there is no record (not found, not walked, journal refused)
    };
    CabinetRecord cabinet;
    std::vector<Module> modules;
    QStringList warnings; // module journals with unreadable lines
};
CabinetReport cabinetReport(const CabinetRecord &cabinet, const QString &folder);

// The module's tag on the cabinet's record: its journal's, else the list's, else "站号 N".
QString moduleTagOf(const CabinetReport::Module &module);
