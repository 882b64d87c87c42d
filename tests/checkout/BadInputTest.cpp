// What the checkout takes from outside, damaged every way the field damages it: I/O list, journal, folder,
// a full disk, a tag typed as a formula, a remark longer than a page, an argument the program does not know.
#include "CabinetRecord.h"
#include "CheckoutWizard.h"
#include "CsvReport.h"
#include "IoList.h"
#include "Journal.h"
#include "Modbus485Library.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

// Program: qm4107-checkout run with the arguments in `bytes` ("J" the journal J.jsonl that longJournal()
// makes, "C" the same under a cabinet journal's name) on a disk that takes files up to `fileLimit` bytes;
// what it prints, and the text of J.pdf, is its message.
enum class Kind {
    IoList,
    IoListAt,
    CabinetList,
    Journal,
    JournalAt,
    JournalContinued,
    CabinetJournal,
    RecordsFolder,
    CsvTag,
    Program
};

struct BadInput {
    const char *name;
    Kind kind;
    QByteArray bytes;
    const char *refusal; // parts of the message ("|" between them); nullptr when read. A tag's exact CSV cell
    int points;          // I/O list entries or journal point results used; the program's exit code
    int skippedLines;
    qint64 fileLimit = RLIM_INFINITY;
};

void PrintTo(const BadInput &row, std::ostream *out) {
    *out << row.name;
}

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

const QByteArray Header = R"({"format":1,"type":"header","project":"P","moduleTag":"T","port":1,"station":1})"
                          "\n";
const QByteArray Point = R"({"format":1,"type":"point","point":"X3","result":"pass","defect":"","tries":1})"
                         "\n";

// A journal whose X3 remark and closing remark are each longer than a page, with markers to find in the PDF.
QByteArray longJournal() {
    QString remark, closing;
    for (int i = 0; i < 20; ++i)
        remark += QStringLiteral("阀门\"XV-101\"已关闭并锁定，现场确认无误 M%1 ").arg(i, 2, 10, QChar(u'0'));
    for (int i = 0; i < 200; ++i)
        closing += QStringLiteral("第%1段：现场设备已复位，接线已核对，见证人已签字确认。")
                       .arg(i, 3, 10, QChar(u'0'));
    const QJsonObject point{{"format", 1},        {"type", "point"},  {"point", "X3"}, {"result", "fail"},
                            {"defect", "wiring"}, {"remark", remark}, {"tries", 1}};
    const QJsonObject close{{"format", 2},
                            {"type", "close"},
                            {"remark", closing + QStringLiteral("第200段 R200")},
                            {"trace", "J.trace"},
                            {"traceSha256", QString(64, u'a')}};
    return Header + QJsonDocument(point).toJson(QJsonDocument::Compact) + '\n' +
           QJsonDocument(close).toJson(QJsonDocument::Compact) + '\n';
}

// While it lives, no file of this process or a child it starts grows past `bytes`: a write past that fails
// (File too large) as on a full disk, the signal that would end the process ignored.
class FileLimit {
public:
    explicit FileLimit(qint64 bytes) {
        getrlimit(RLIMIT_FSIZE, &m_before);
        rlimit limit = m_before;
        limit.rlim_cur = rlim_t(bytes);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileLimit() {
        setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_before{};
    void (*m_handler)(int) = nullptr;
};

// What the program said, and the text of the PDF it wrote.
QString runProgram(const QString &folder, const BadInput &row, int &exitCode) {
    const QDir dir(folder);
    QFile journal(dir.filePath(QStringLiteral("J.jsonl")));
    journal.open(QIODevice::WriteOnly);
    journal.write(longJournal());
    journal.close();
    QStringList arguments = QString::fromUtf8(row.bytes).split(u' ');
    if (arguments.contains(u"C"))
        QFile::copy(journal.fileName(), dir.filePath(QStringLiteral("CABINET_20261207-140311.jsonl")));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^J$")), journal.fileName());
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^C$")),
                               dir.filePath(QStringLiteral("CABINET_20261207-140311.jsonl")));
    QProcess program;
    {
        const FileLimit disk(row.fileLimit);
        program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/qm4107-checkout"), arguments);
        program.waitForStarted();
    }
    program.waitForFinished(120000);
    exitCode = program.exitCode();
    QString said = QString::fromUtf8(program.readAllStandardOutput() + program.readAllStandardError());
    if (QFile::exists(dir.filePath(QStringLiteral("J.pdf")))) {
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {dir.filePath(QStringLiteral("J.pdf")), QStringLiteral("-")});
        text.waitForFinished(60000);
        said += QString::fromUtf8(text.readAllStandardOutput());
    } else if (exitCode != 0) {
        // Refused or not written: nothing of the record is left beside the journal.
        said += QStringLiteral("留下：%1。").arg(dir.entryList(QDir::Files).join(u' '));
    }
    return said;
}

TEST_P(BadInputTest, SaysWhyOrKeepsTheGoodPart) {
    const BadInput &row = GetParam();
    QString refusal;
    int points = 0, skipped = 0;
    if (row.kind == Kind::IoList) {
        const IoList list = IoList::parse(row.bytes);
        refusal = list.error;
        points = int(list.entries.size());
    } else if (row.kind == Kind::CabinetList) {
        const CabinetIoList list = CabinetIoList::parse(row.bytes);
        refusal = list.error;
        points = int(list.single.entries.size());
        for (const auto &[station, module] : list.modules)
            points += int(module.entries.size());
    } else if (row.kind == Kind::CabinetJournal) {
        const CabinetContents contents = parseCabinetJournal(row.bytes);
        refusal = contents.reason;
        points = int(contents.record.modules.size());
        skipped = contents.skippedLines;
    } else if (row.kind == Kind::CsvTag) {
        CheckRecord record;
        record.header.io[QStringLiteral("Y1")] = {QString::fromUtf8(row.bytes), QStringLiteral("T1:1"), {}};
        const QByteArray csv = csvReport(record);
        const qsizetype from = csv.indexOf("\r\n1,Y1,") + 7;
        EXPECT_EQ(csv.mid(from, csv.indexOf(",T1:1,", from) - from), QByteArray(row.refusal));
        return;
    } else if (row.kind == Kind::Program) {
        QTemporaryDir dir;
        refusal = runProgram(dir.path(), row, points);
    } else if (row.kind == Kind::JournalAt) {
        refusal = readJournal(QString::fromUtf8(row.bytes)).reason;
    } else if (row.kind == Kind::IoListAt) {
        refusal = IoList::read(QString::fromUtf8(row.bytes)).error;
    } else if (row.kind == Kind::RecordsFolder) {
        // A folder under a regular file cannot be made, even by root.
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("file")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        Modbus485Library link;
        CheckoutWizard wizard(link);
        wizard.restart();
        wizard.findChild<QLineEdit *>(QStringLiteral("folderEdit"))
            ->setText(dir.filePath(QStringLiteral("file/QM4107")));
        wizard.next();
        refusal = wizard.currentId() == CheckoutWizard::HeaderPage
                      ? wizard.findChild<QLabel *>(QStringLiteral("headerMessage"))->text()
                      : QString();
    } else {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("J.jsonl"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(row.bytes) == row.bytes.size());
        file.close();
        if (row.kind == Kind::JournalContinued) {
            FileJournalSink sink;
            QString error;
            ASSERT_TRUE(sink.open(path, error));
            PointResult y1;
            y1.point = {PointKind::Output, 1};
            y1.result = Result::Pass;
            JournalWriter writer(sink);
            if (static_cast<rlim_t>(row.fileLimit) != RLIM_INFINITY) {
                // The disk fills part way through the line; the line goes in whole once there is space.
                const FileLimit disk(row.fileLimit);
                EXPECT_FALSE(writer.writePoint(y1));
                refusal = writer.error();
            }
            ASSERT_TRUE(writer.writePoint(y1));
        }
        const JournalContents contents = readJournal(path);
        refusal += contents.reason;
        points = int(contents.record.points.size());
        skipped = contents.skippedLines;
    }
    if (row.refusal) {
        for (const QString &part : QString::fromUtf8(row.refusal).split(u'|'))
            EXPECT_TRUE(refusal.contains(part)) << qPrintable(part) << "\n" << qPrintable(refusal);
    } else
        EXPECT_TRUE(refusal.isEmpty()) << qPrintable(refusal);
    EXPECT_EQ(points, row.points);
    EXPECT_EQ(skipped, row.skippedLines);
}

const QByteArray IoHeader = "点,位号,端子,说明\r\n";
const QByteArray CabinetHeader = "站号,点,位号,端子,说明,模块位号\r\n";
const QByteArray CabinetLine = R"({"format":2,"type":"cabinet","project":"P","list":{"5":{"moduleTag":"A"}}})"
                               "\n";
const QByteArray ModuleLine =
    R"({"format":2,"type":"module","station":5,"state":"closed","journal":"M.jsonl"})"
    "\n";

INSTANTIATE_TEST_SUITE_P(
    Table, BadInputTest,
    ::testing::Values(
        BadInput{"IoListWithByteOrderMarkAndQuotes", Kind::IoList,
                 "\xEF\xBB\xBF" + IoHeader + "X3,LS-301,T1:5,\"限位,\"\"上\"\"\"\r\nY1,KM-1,T2:1,\r\n",
                 nullptr, 2, 0},
        BadInput{"IoListWrongColumns", Kind::IoList, "点,位号,端子\r\nX1,a,b\r\n", "列应为", 0, 0},
        BadInput{"IoListRowWrongColumns", Kind::IoList, IoHeader + "X1,a,b\r\n", "第 2 行有 3 列", 0, 0},
        BadInput{"IoListPointTwice", Kind::IoList, IoHeader + "X1,a,b,c\r\nx1,d,e,f\r\n", "X1 出现了两次", 0,
                 0},
        BadInput{"IoListUnknownPoint", Kind::IoList, IoHeader + "X11,a,b,c\r\n", "没有点“X11”", 0, 0},
        BadInput{"IoListOverOneMebibyte", Kind::IoList, IoHeader + QByteArray(1024 * 1024, 'a'), "1 MiB", 0,
                 0},
        BadInput{"IoListNotUtf8", Kind::IoList, "\xB5\xE3,\xCE\xBB\xBA\xC5,a,b\r\n", "CSV UTF-8", 0, 0},
        BadInput{"CabinetListInAnyOrderInEnglish", Kind::CabinetList,
                 "\xEF\xBB\xBFpoint,station,tag,terminal,description\r\nX1,5,a,b,c\r\nX1,6,a,b,c\r\n",
                 nullptr, 2, 0},
        BadInput{"CabinetListWithoutStationIsOneModules", Kind::CabinetList,
                 IoHeader + "X1,a,b,c\r\nY1,d,e,f\r\n", nullptr, 2, 0},
        BadInput{"CabinetListWithoutStationKeepsItsWords", Kind::CabinetList,
                 IoHeader + "X1,a,b,c\r\nx1,d,e,f\r\n", "I/O 表第 3 行：点 X1 出现了两次", 0, 0},
        BadInput{"CabinetStationZero", Kind::CabinetList, CabinetHeader + "0,X1,a,b,c,A\r\n",
                 "机柜 I/O 表第 2 行：站号“0”应为 1-247 的整数", 0, 0},
        BadInput{"CabinetStation248", Kind::CabinetList, CabinetHeader + "5,X1,a,b,c,A\r\n248,X1,a,b,c,A\r\n",
                 "第 3 行：站号“248”", 0, 0},
        BadInput{"CabinetStationNotWhole", Kind::CabinetList, CabinetHeader + "5.5,X1,a,b,c,A\r\n",
                 "第 2 行：站号“5.5”", 0, 0},
        BadInput{"CabinetPointTwice", Kind::CabinetList, CabinetHeader + "5,X1,a,b,c,A\r\n5,x1,d,e,f,\r\n",
                 "机柜 I/O 表第 3 行：站号 5 的点 X1 出现了两次", 0, 0},
        BadInput{"CabinetUnknownPoint", Kind::CabinetList, CabinetHeader + "5,X11,a,b,c,A\r\n",
                 "机柜 I/O 表第 2 行：没有点“X11”", 0, 0},
        BadInput{"CabinetTwoModuleTags", Kind::CabinetList,
                 CabinetHeader + "5,X1,a,b,c,A\r\n5,X2,a,b,c,B\r\n",
                 "第 3 行：站号 5 的模块位号“B”与第 2 行的“A”不同", 0, 0},
        BadInput{"CabinetUnknownColumn", Kind::CabinetList, "站号,点,位号,端子,备注\r\n", "列应为：站号,点",
                 0, 0},
        BadInput{"CabinetListNotUtf8", Kind::CabinetList, "\xD5\xBE\xBA\xC5,\xB5\xE3,a,b,c\r\n",
                 "机柜 I/O 表不是 UTF-8 编码|CSV UTF-8", 0, 0},
        BadInput{"CabinetJournalDamagedLine", Kind::CabinetJournal,
                 CabinetLine + "{\"format\":2,\"ty\x01\n" + ModuleLine, nullptr, 1, 1},
        BadInput{"CabinetJournalNewerFormat", Kind::CabinetJournal,
                 CabinetLine + R"({"format":3,"type":"module"})"
                               "\n",
                 "格式 3", 0, 0},
        BadInput{"CabinetJournalOfAModule", Kind::CabinetJournal, Header + Point, "没有可读的机柜表头", 0, 2},
        BadInput{"CabinetJournalUnknownState", Kind::CabinetJournal,
                 CabinetLine + R"({"format":2,"type":"module","station":5,"state":"lost"})"
                               "\n",
                 nullptr, 0, 1},
        BadInput{"JournalDamagedLine", Kind::Journal, Header + "{\"format\":1,\"type\":\"po\x01\n" + Point,
                 nullptr, 1, 1},
        BadInput{"JournalCutMidLine", Kind::Journal, Header + Point + Point.left(30), nullptr, 1, 1},
        BadInput{"JournalCutThenContinued", Kind::JournalContinued, Header + Point + Point.left(30), nullptr,
                 2, 1},
        BadInput{"JournalLineOnAFullDisk", Kind::JournalContinued, Header + Point, "File too large", 2, 0,
                 Header.size() + Point.size() + 10},
        BadInput{"JournalNewerFormat", Kind::Journal,
                 Header + R"({"format":3,"type":"point"})"
                          "\n",
                 "格式 3", 0, 0},
        BadInput{"NotAJournal", Kind::Journal, "not json\n", "没有可读的表头", 0, 1},
        BadInput{"JournalOver16MiB", Kind::Journal, Header + QByteArray(17 << 20, '\n'),
                 "记录文件过大或不是普通文件", 0, 0},
        BadInput{"IoListIsDevZero", Kind::IoListAt, "/dev/zero", "1 MiB", 0, 0},
        BadInput{"JournalIsDevZero", Kind::JournalAt, "/dev/zero", "记录文件过大或不是普通文件", 0, 0},
        BadInput{"TagEquals", Kind::CsvTag, "=A1", "'=A1", 0, 0},
        BadInput{"TagPlus", Kind::CsvTag, "+24V", "'+24V", 0, 0},
        BadInput{"TagMinus", Kind::CsvTag, "-KM1", "'-KM1", 0, 0},
        BadInput{"TagAt", Kind::CsvTag, "@SUM(A1)", "'@SUM(A1)", 0, 0},
        BadInput{"TagHyperlink", Kind::CsvTag, "=HYPERLINK(\"http://x\",\"ok\")",
                 "\"'=HYPERLINK(\"\"http://x\"\",\"\"ok\"\")\"", 0, 0},
        BadInput{"TagTab", Kind::CsvTag, "\tKM1", "'\tKM1", 0, 0},
        BadInput{"TagCarriageReturn", Kind::CsvTag, "\rKM1", "\"'\rKM1\"", 0, 0},
        BadInput{"TagPlain", Kind::CsvTag, "KM-1", "KM-1", 0, 0},
        BadInput{"Help", Kind::Program, "--help", "Usage: qm4107-checkout|report JOURNAL", 0, 0},
        BadInput{"UnknownOption", Kind::Program, "--frobnicate", "unknown argument --frobnicate|Usage", 2, 0},
        BadInput{"ReportOnAFullDisk", Kind::Program, "report J",
                 "无法写入记录：|J.pdf|File too large|留下：J.jsonl。", 1, 0, 16 << 10},
        BadInput{
            "RowsLongerThanAPage", Kind::Program, "report J",
            "M00|M07|M13|M19|第000段|第123段|R200|SHA-256 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
            0, 0},
        BadInput{"ReportOnACabinetJournalOfAModule", Kind::Program, "report C",
                 "没有可读的机柜表头|留下：CABINET_20261207-140311.jsonl J.jsonl。", 1, 0},
        BadInput{"RecordsFolderNotWritable", Kind::RecordsFolder, {}, "不能写入，请选择其他文件夹", 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
