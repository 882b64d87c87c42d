// What the checkout takes from outside, damaged every way the field damages it: I/O list, journal, folder.
#include "CheckoutWizard.h"
#include "IoList.h"
#include "Journal.h"
#include "Modbus485Library.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

enum class Kind { IoList, Journal, JournalContinued, RecordsFolder };

struct BadInput {
    const char *name;
    Kind kind;
    QByteArray bytes;
    const char *refusal; // part of the message when refused; nullptr when it is read
    int points;          // I/O list entries or journal point results used
    int skippedLines;
};

void PrintTo(const BadInput &row, std::ostream *out) {
    *out << row.name;
}

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

const QByteArray Header = R"({"format":1,"type":"header","project":"P","moduleTag":"T","port":1,"station":1})"
                          "\n";
const QByteArray Point = R"({"format":1,"type":"point","point":"X3","result":"pass","defect":"","tries":1})"
                         "\n";

TEST_P(BadInputTest, SaysWhyOrKeepsTheGoodPart) {
    const BadInput &row = GetParam();
    QString refusal;
    int points = 0, skipped = 0;
    if (row.kind == Kind::IoList) {
        const IoList list = IoList::parse(row.bytes);
        refusal = list.error;
        points = int(list.entries.size());
    } else if (row.kind == Kind::RecordsFolder) {
        // A folder under a regular file cannot be made, even by root.
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("file")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        Modbus485Library link;
        CheckoutWizard wizard(link);
        wizard.restart();
        wizard.folderEdit->setText(dir.filePath(QStringLiteral("file/QM4107")));
        wizard.next();
        refusal = wizard.currentId() == CheckoutWizard::HeaderPage ? wizard.headerMessage->text() : QString();
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
            ASSERT_TRUE(JournalWriter(sink).writePoint(y1));
        }
        const JournalContents contents = readJournal(path);
        refusal = contents.reason;
        points = int(contents.record.points.size());
        skipped = contents.skippedLines;
    }
    if (row.refusal)
        EXPECT_TRUE(refusal.contains(QString::fromUtf8(row.refusal))) << qPrintable(refusal);
    else
        EXPECT_TRUE(refusal.isEmpty()) << qPrintable(refusal);
    EXPECT_EQ(points, row.points);
    EXPECT_EQ(skipped, row.skippedLines);
}

const QByteArray IoHeader = "点,位号,端子,说明\r\n";

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
        BadInput{"JournalDamagedLine", Kind::Journal, Header + "{\"format\":1,\"type\":\"po\x01\n" + Point,
                 nullptr, 1, 1},
        BadInput{"JournalCutMidLine", Kind::Journal, Header + Point + Point.left(30), nullptr, 1, 1},
        BadInput{"JournalCutThenContinued", Kind::JournalContinued, Header + Point + Point.left(30), nullptr,
                 2, 1},
        BadInput{"JournalNewerFormat", Kind::Journal,
                 Header + R"({"format":3,"type":"point"})"
                          "\n",
                 "格式 3", 0, 0},
        BadInput{"NotAJournal", Kind::Journal, "not json\n", "没有可读的表头", 0, 1},
        BadInput{"RecordsFolderNotWritable", Kind::RecordsFolder, {}, "不能写入，请选择其他文件夹", 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
