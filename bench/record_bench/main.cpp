// Prints the time to write the record of a whole module: the journal line by line (each forced to disk),
// the journal read back, the CSV and the PDF; then that of a cabinet of three modules (one passed, one with
// failures found at another parity, one missing): the cabinet journal, its module journals read back, the
// cabinet's CSV and PDF. With a folder argument the files are left there (record.*, CABINET_20261207-140311.*
// and its module journals M1.jsonl, M2.jsonl) to look at; otherwise a scratch folder is used.
#include "CabinetRecord.h"
#include "CheckoutWalk.h"
#include "CsvReport.h"
#include "Journal.h"
#include "NewFile.h"
#include "PdfReport.h"
#include "Report.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>

namespace {

CheckRecord wholeModule() {
    CheckRecord r;
    RecordHeader &h = r.header;
    h.project = QStringLiteral("华东一号泵站改造");
    h.location = QStringLiteral("2号控制柜");
    h.moduleTag = QStringLiteral("KA-101");
    h.engineer = QStringLiteral("张伟");
    h.witness = QStringLiteral("李强");
    h.programVersion = QStringLiteral("2007.09.0002");
    h.start = QStringLiteral("2026-12-07T14:03:11+08:00");
    ModuleSnapshot s;
    s.outputs = {0, 0, 1, 0, 0};
    s.inputs = {0, 1, 0, 0, 0, 0, 0, 0, 1, 0};
    s.counts = {1520, 0, 37};
    s.presets = {100, 200, 300};
    s.clearModes = {0, 0, 1};
    s.frequencies = {0, 0, 0};
    s.parity = 0;
    r.asFound = s;
    s.counts = {0, 0, 0};
    r.asLeft = s;
    for (const PointId &p : walkOrder()) {
        h.io[p.name()] = {QStringLiteral("TAG-%1").arg(p.name()), QStringLiteral("T1:%1").arg(sequenceOf(p)),
                          QStringLiteral("说明 %1").arg(p.name())};
        PointResult res;
        res.point = p;
        res.checked = QStringLiteral("现场动作 %1").arg(p.name());
        res.expected = QStringLiteral("%1 变化后复原，其他输入不变").arg(p.name());
        res.observed = QStringLiteral("%1 变化后复原").arg(p.name());
        res.result = p.number == 4 ? Result::Fail : Result::Pass;
        res.defect = p.number == 4 ? Defect::Wiring : Defect::None;
        res.time = QStringLiteral("2026-12-07T14:%1:00+08:00").arg(10 + sequenceOf(p));
        res.tries = 1;
        r.points.push_back(res);
    }
    r.counters = {1234, 1230, 3, 1, 0, 0, 0};
    r.closing = Closing{QStringLiteral("2026-12-07T14:40:02+08:00"),
                        QStringLiteral("X4 接线待查"),
                        QStringLiteral("record.trace"),
                        QString(64, u'0'),
                        {}};
    return r;
}

bool writeJournal(const QString &path, const CheckRecord &record, QString &error) {
    FileJournalSink sink;
    if (!sink.open(path, error))
        return false;
    JournalWriter journal(sink);
    bool written = journal.writeHeader(record.header) && journal.writeAsFound(*record.asFound);
    for (const PointResult &p : record.points)
        written = written && journal.writePoint(p);
    written = written && journal.writeAsLeft(*record.asLeft) &&
              journal.writeClose(*record.closing, record.counters);
    error = journal.error();
    return written;
}

// The cabinet of stations 1-3 on a 9600, no-parity line: 1 passed, 2 found at even parity, changed, and
// with failures, 3 not found; 7 found but not in the list. Its module journals are written first, untimed.
bool cabinetRecord(const QDir &dir, const CheckRecord &failures, QString &error) {
    const QString name = QStringLiteral("CABINET_20261207-140311");
    for (const QString &file : dir.entryList({name + QStringLiteral(".*"), QStringLiteral("M?.jsonl")}))
        QFile::remove(dir.filePath(file));
    CheckRecord passed = failures;
    for (PointResult &p : passed.points)
        p.result = Result::Pass, p.defect = Defect::None;
    passed.header.moduleTag = QStringLiteral("KA-100");
    passed.header.station = 1;
    passed.closing->remark.clear();
    CheckRecord failed = failures;
    failed.header.station = 2;
    CabinetHeader h;
    h.project = failures.header.project;
    h.location = failures.header.location;
    h.engineer = failures.header.engineer;
    h.witness = failures.header.witness;
    h.programVersion = failures.header.programVersion;
    h.start = QStringLiteral("2026-12-07T13:50:02+08:00");
    h.list = {{1, {passed.header.moduleTag, passed.header.io}},
              {2, {failed.header.moduleTag, failed.header.io}},
              {3, {QStringLiteral("KA-102"), failed.header.io}}};
    if (!writeJournal(dir.filePath(QStringLiteral("M1.jsonl")), passed, error) ||
        !writeJournal(dir.filePath(QStringLiteral("M2.jsonl")), failed, error))
        return false;

    QElapsedTimer clock;
    clock.start();
    FileJournalSink sink;
    if (!sink.open(dir.filePath(name + QStringLiteral(".jsonl")), error))
        return false;
    CabinetJournalWriter journal(sink);
    bool written =
        journal.writeCabinet(h) &&
        journal.writeSurvey(
            {{1, 1, 0, 420, 0, true, {}}, {2, 1, 2, 450, 2, true, {}}, {7, 1, 0, 410, 0, true, {}}}, false) &&
        journal.writeParityChange({2, 2, 0, QStringLiteral("2026-12-07T13:52:40+08:00"), true});
    int lines = 3;
    for (const int station : {1, 2}) {
        const QString module = QStringLiteral("M%1.jsonl").arg(station);
        written = written && journal.writeModule(station, {ModuleState::Begun, module, {}}) &&
                  journal.writeModule(station, {ModuleState::Closed, module, {}});
        lines += 2;
    }
    written = written && journal.writeModule(3, {ModuleState::Untested, {}, QStringLiteral("未找到")}) &&
              journal.writeClose(QStringLiteral("2026-12-07T14:41:15+08:00"), {});
    lines += 2;
    if (!written) {
        error = journal.error();
        return false;
    }
    const qint64 journalNs = clock.nsecsElapsed();
    clock.restart();
    const CabinetContents contents = readCabinetJournal(dir.filePath(name + QStringLiteral(".jsonl")));
    const CabinetReport report = cabinetReport(contents.record, dir.path());
    const qint64 readNs = clock.nsecsElapsed();
    clock.restart();
    if (!writeCabinetFiles(report, dir.path(), name, error))
        return false;
    const qint64 filesNs = clock.nsecsElapsed();
    std::printf("cabinet journal: %d lines, each forced   %8.2f ms\n", lines, journalNs / 1e6);
    std::printf("cabinet and 2 module journals read      %8.2f ms\n", readNs / 1e6);
    std::printf("cabinet CSV and PDF (4 modules listed)  %8.2f ms\n", filesNs / 1e6);
    std::printf("whole cabinet record, three modules     %8.2f ms  (target under 1000 ms)\n",
                (journalNs + readNs + filesNs) / 1e6);
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir scratch;
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path());
    const CheckRecord record = wholeModule();
    for (const char *extension : {".jsonl", ".csv", ".pdf"})
        QFile::remove(dir.filePath(QStringLiteral("record") + QLatin1String(extension)));

    QElapsedTimer clock;
    clock.start();
    FileJournalSink sink;
    QString error;
    if (!sink.open(dir.filePath(QStringLiteral("record.jsonl")), error))
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    JournalWriter journal(sink);
    int lines = 3;
    journal.writeHeader(record.header);
    journal.writeAsFound(*record.asFound);
    for (const PointResult &p : record.points)
        journal.writePoint(p), ++lines;
    journal.writeAsLeft(*record.asLeft);
    journal.writeClose(*record.closing, record.counters);
    const qint64 journalNs = clock.nsecsElapsed();

    clock.restart();
    const JournalContents contents = readJournal(dir.filePath(QStringLiteral("record.jsonl")));
    const qint64 readNs = clock.nsecsElapsed();
    clock.restart();
    if (!writeRecordFiles(contents.record, dir.path(), QStringLiteral("record"), error))
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    const qint64 filesNs = clock.nsecsElapsed();
    // Again, with the fonts loaded: the making of the PDF and the writing of both, each file forced to disk.
    clock.restart();
    const QByteArray pdf = pdfReport(contents.record);
    const qint64 pdfNs = clock.nsecsElapsed();
    clock.restart();
    QFile::remove(dir.filePath(QStringLiteral("again.csv")));
    QFile::remove(dir.filePath(QStringLiteral("again.pdf")));
    if (!writeNewFiles({{dir.filePath(QStringLiteral("again.csv")), csvReport(contents.record), {}},
                        {dir.filePath(QStringLiteral("again.pdf")), pdf, PdfTrailer}},
                       error))
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    const qint64 writeNs = clock.nsecsElapsed();

    std::printf("journal: %d lines, each forced to disk  %8.2f ms  (%.2f ms a line)\n", lines,
                journalNs / 1e6, journalNs / 1e6 / lines);
    std::printf("journal read back                       %8.2f ms\n", readNs / 1e6);
    std::printf("CSV and PDF (18 points)                 %8.2f ms\n", filesNs / 1e6);
    std::printf("  again: PDF made (%6lld bytes)          %8.2f ms\n", static_cast<long long>(pdf.size()),
                pdfNs / 1e6);
    std::printf("  again: CSV and PDF written whole      %8.2f ms\n", writeNs / 1e6);
    std::printf("whole record                            %8.2f ms\n", (journalNs + readNs + filesNs) / 1e6);
    if (!cabinetRecord(dir, record, error))
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    std::printf("files in %s\n", qPrintable(dir.path()));
    return 0;
}
