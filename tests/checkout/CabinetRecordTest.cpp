// The cabinet's record made by `qm4107-checkout report` from a cabinet journal and the module journals it
// names, each written by the journals' own writers: one module passed, one with failures (found at another
// parity and changed), one expected but missing, one found but not in the list. And where a killed cabinet
// walk goes on.
#include "CabinetRecord.h"
#include "IoList.h"
#include "Journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString Name = QStringLiteral("CABINET_20261207-140311");

// Passes the first `lines` lines on to the file and drops the rest: a walk killed after them.
class CutSink : public JournalSink {
public:
    CutSink(JournalSink &file, int lines)
        : m_file(file)
        , m_left(lines) {}
    bool append(const QByteArray &bytes, QString &error) override {
        return m_left-- <= 0 || m_file.append(bytes, error);
    }

private:
    JournalSink &m_file;
    int m_left;
};

// A module's journal as the walk writes it, every point passed but those failed; closed when `closed`.
void writeModule(const QString &path, int station, const CabinetIoList::Module &listed,
                 const std::map<QString, Defect> &failed, bool closed) {
    FileJournalSink sink;
    QString error;
    ASSERT_TRUE(sink.open(path, error)) << qPrintable(error);
    JournalWriter journal(sink);
    RecordHeader h;
    h.project = QStringLiteral("泵站");
    h.moduleTag = listed.tag;
    h.station = station;
    h.start = QStringLiteral("2026-12-07T14:%1:00+08:00").arg(station * 10);
    h.io = listed.entries;
    ASSERT_TRUE(journal.writeHeader(h) && journal.writeAsFound(ModuleSnapshot{}));
    for (const PointId &p : walkOrder()) {
        const auto fail = failed.find(p.name());
        PointResult r{p, QStringLiteral("动作"), {}, {}, {}, Result::Pass, Defect::None, {}, h.start, 1};
        if (fail != failed.end()) {
            r.result = Result::Fail;
            r.defect = fail->second;
        }
        ASSERT_TRUE(journal.writePoint(r));
    }
    if (closed) {
        ASSERT_TRUE(journal.writeAsLeft(ModuleSnapshot{}) &&
                    journal.writeClose({QStringLiteral("2026-12-07T15:00:00+08:00"), {}, {}, {}, {}}, {}));
    }
}

// The cabinet of stations 1, 2 and 3 on a 9600, no-parity line: 1 passes, 2 answered at even parity, was
// changed and has two failures, 3 is not found; 7 answered but is not in the list. The cabinet journal holds
// its first `lines` lines; module 2's journal is closed when `module2Closed`.
void writeCabinet(const QString &folder, int lines, bool module2Closed = true) {
    QByteArray list = "站号,点,位号,端子,说明,模块位号\r\n";
    for (int station = 1; station <= 3; ++station)
        for (const PointId &p : walkOrder())
            list += QStringLiteral("%1,%2,TAG-%1%2,T%1:%3,,KA-10%1\r\n")
                        .arg(station)
                        .arg(p.name())
                        .arg(sequenceOf(p))
                        .toUtf8();
    const CabinetIoList cabinetList = CabinetIoList::parse(list);
    ASSERT_TRUE(cabinetList.error.isEmpty()) << qPrintable(cabinetList.error);
    const QDir dir(folder);
    writeModule(dir.filePath(QStringLiteral("M1.jsonl")), 1, cabinetList.modules.at(1), {}, true);
    writeModule(dir.filePath(QStringLiteral("M2.jsonl")), 2, cabinetList.modules.at(2),
                {{QStringLiteral("Y2"), Defect::Module}, {QStringLiteral("X4"), Defect::Wiring}},
                module2Closed);

    FileJournalSink file;
    QString error;
    ASSERT_TRUE(file.open(dir.filePath(Name + QStringLiteral(".jsonl")), error));
    CutSink cut(file, lines);
    CabinetJournalWriter journal(cut);
    CabinetHeader h;
    h.project = QStringLiteral("泵站");
    h.location = QStringLiteral("2号控制柜");
    h.start = QStringLiteral("2026-12-07T14:03:11+08:00");
    h.list = cabinetList.modules;
    ASSERT_TRUE(journal.writeCabinet(h));
    ASSERT_TRUE(journal.writeSurvey(
        {{1, 1, 0, 420, 0, true, {}}, {2, 1, 2, 450, 2, true, {}}, {7, 1, 0, 410, 0, true, {}}}, false));
    ASSERT_TRUE(journal.writeParityChange({2, 2, 0, QStringLiteral("2026-12-07T14:05:00+08:00"), true}));
    for (int station : {1, 2}) {
        const QString name = QStringLiteral("M%1.jsonl").arg(station);
        ASSERT_TRUE(journal.writeModule(station, {ModuleState::Begun, name, {}}));
        ASSERT_TRUE(journal.writeModule(station, {ModuleState::Closed, name, {}}));
    }
    ASSERT_TRUE(journal.writeModule(3, {ModuleState::Untested, {}, QStringLiteral("未找到")}));
    ASSERT_TRUE(journal.writeClose(QStringLiteral("2026-12-07T15:30:00+08:00"), {}));
}

QString run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// A module of the cabinet as its record must show it: its CSV row for X4 (tag, result, defect class,
// remark) and a pattern of its line on the PDF's first page.
struct CabinetCase {
    const char *name;
    int station;
    const char *x4; // 位号|结果|缺陷类别|备注 of the station's X4 row
    const char *firstPageLine;
};

void PrintTo(const CabinetCase &row, std::ostream *out) {
    *out << row.name;
}

class CabinetRecordTest : public ::testing::TestWithParam<CabinetCase> {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        writeCabinet(s_dir->path(), 100);
        const QString journal = QDir(s_dir->path()).filePath(Name + QStringLiteral(".jsonl"));
        const QString said = run(QCoreApplication::applicationDirPath() + QStringLiteral("/qm4107-checkout"),
                                 {"report", journal});
        QFile csv(QDir(s_dir->path()).filePath(Name + QStringLiteral(".csv")));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly)) << qPrintable(said);
        s_csv = new std::vector<QStringList>(parseCsv(QString::fromUtf8(csv.readAll())));
        const QString pdf = QDir(s_dir->path()).filePath(Name + QStringLiteral(".pdf"));
        s_firstPage =
            new QString(run(QStringLiteral("pdftotext"), {"-layout", "-f", "1", "-l", "1", pdf, "-"}));
        s_whole = new QString(run(QStringLiteral("pdftotext"), {pdf, "-"}));
    }
    static void TearDownTestSuite() {
        delete s_csv;
        delete s_firstPage;
        delete s_whole;
        delete s_dir;
    }
    static inline QTemporaryDir *s_dir = nullptr;
    static inline std::vector<QStringList> *s_csv = nullptr;
    static inline QString *s_firstPage = nullptr;
    static inline QString *s_whole = nullptr;
};

TEST_P(CabinetRecordTest, CsvAndFirstPageSaySo) {
    const CabinetCase &row = GetParam();
    ASSERT_TRUE(s_csv && s_firstPage);
    const QString station = QString::number(row.station);
    QString x4;
    int rows = 0;
    for (const QStringList &line : *s_csv) {
        rows += line.value(0) == station;
        if (line.value(0) == station && line.value(3) == u"X4")
            x4 = QStringList{line[4], line[10], line[11], line[12]}.join(u'|');
    }
    EXPECT_EQ(rows, 18);
    EXPECT_EQ(x4, QString::fromUtf8(row.x4));
    const QRegularExpression line(QString::fromUtf8(row.firstPageLine), QRegularExpression::MultilineOption);
    EXPECT_TRUE(line.match(*s_firstPage).hasMatch()) << row.firstPageLine << "\n" << qPrintable(*s_firstPage);
    // The pages are numbered over the whole and signed once, at the end.
    const auto pages = QRegularExpression(QStringLiteral("第 (\\d+) 页 共 (\\d+) 页")).globalMatch(*s_whole);
    QStringList numbers;
    for (auto it = pages; it.hasNext();) {
        const auto m = it.next();
        numbers << m.captured(1) + u'/' + m.captured(2);
    }
    EXPECT_GE(numbers.size(), 3);
    EXPECT_EQ(numbers.value(0), QStringLiteral("1/%1").arg(numbers.size()));
    EXPECT_EQ(numbers.value(numbers.size() - 1), QStringLiteral("%1/%1").arg(numbers.size()));
    EXPECT_EQ(s_whole->count(QStringLiteral("见证人：")), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CabinetRecordTest,
    ::testing::Values(
        CabinetCase{"Passed", 1, "TAG-1X4|通过||", R"(^\s*1\s+KA-101\s+已找到\s+18\s+0\s+0\s+0\s*$)"},
        CabinetCase{
            "Failures", 2, "TAG-2X4|失败|接线|",
            R"(^\s*2\s+KA-102\s+在其他设置：9600\s*偶校验\s+16\s+2\s+0\s+0\s+模块 1，接线 1\s+Y2 失败（模块）；)"},
        CabinetCase{"Missing", 3, "TAG-3X4|未测||未找到",
                    R"(^\s*3\s+KA-103\s+未找到\s+0\s+0\s+0\s+18\s+未找到\s*$)"},
        CabinetCase{"NotInTheList", 7, "|未测||I/O 表中没有此站",
                    R"(^\s*7\s+站号 7\s+表外模块：9600 无校验\s+0\s+0\s+0\s+18\s+I/O 表中没有此站)"}),
    [](const auto &info) { return std::string(info.param.name); });

// A cabinet walk killed after the cabinet journal's first `lines` lines goes on from this station.
struct ResumeCase {
    const char *name;
    int lines;
    bool module2Closed;
    int station; // 0: every module is done
};

void PrintTo(const ResumeCase &row, std::ostream *out) {
    *out << row.name;
}

class CabinetResumeTest : public ::testing::TestWithParam<ResumeCase> {};

TEST_P(CabinetResumeTest, FirstUnfinishedModule) {
    const ResumeCase &row = GetParam();
    QTemporaryDir dir;
    writeCabinet(dir.path(), row.lines, row.module2Closed);
    const CabinetContents contents =
        readCabinetJournal(QDir(dir.path()).filePath(Name + QStringLiteral(".jsonl")));
    ASSERT_FALSE(contents.refused) << qPrintable(contents.reason);
    EXPECT_EQ(firstUnfinished(contents.record, dir.path()).value_or(0), row.station);
}

INSTANTIATE_TEST_SUITE_P(Table, CabinetResumeTest,
                         ::testing::Values(ResumeCase{"KilledBeforeAnyModule", 3, false, 1},
                                           ResumeCase{"KilledInModule2", 6, false, 2},
                                           ResumeCase{"KilledAfterModule2ClosedItsOwnJournal", 6, true, 3},
                                           ResumeCase{"MissingModuleRecorded", 9, true, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
