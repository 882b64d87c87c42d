// Names of a record's files: safe on Windows and Linux, never the name of a record already there.
#include "RecordNames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char *name;
    const char *project;
    const char *tag;
    QStringList existing; // files already in the folder
    const char *expected;
    int room = RecordNames::MaxNameBytes; // UTF-16 units for a file name in the folder
    bool cabinet = false;                 // a cabinet's record: its name from the start alone
};

void PrintTo(const NameCase &row, std::ostream *out) {
    *out << row.name;
}

class RecordNamesTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(RecordNamesTest, SafeAndUnused) {
    const NameCase &row = GetParam();
    QTemporaryDir dir;
    for (const QString &file : row.existing) {
        QFile f(QDir(dir.path()).filePath(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QDateTime start(QDate(2026, 12, 7), QTime(14, 3, 11));
    const QString base = row.cabinet ? RecordNames::cabinetBaseName(start)
                                     : RecordNames::baseName(QString::fromUtf8(row.project),
                                                             QString::fromUtf8(row.tag), start, row.room);
    EXPECT_EQ(RecordNames::unusedBaseName(dir.path(), base), QString::fromUtf8(row.expected));
    // A module's record is never taken for a cabinet's, whatever its project is called.
    EXPECT_EQ(RecordNames::isCabinetName(QString::fromUtf8(row.expected)), row.cabinet);
    // The longest file of the record the name can make is one the system takes.
    QFile longest(QDir(dir.path()).filePath(base + QStringLiteral("-9999.jsonl")));
    EXPECT_TRUE(longest.open(QIODevice::WriteOnly)) << qPrintable(longest.errorString());
    EXPECT_LE(longest.fileName().size() - dir.path().size() - 1, row.room);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordNamesTest,
    ::testing::Values(
        NameCase{"Plain", "一号站", "KA-101", {}, "一号站_KA-101_20261207-140311"},
        NameCase{"IllegalCharacters", "A/B:C*D?", "x<y>|\"z\\", {}, "A_B_C_D__x_y___z__20261207-140311"},
        NameCase{"ReservedOnWindows", "con", "COM1.x", {}, "_con__COM1.x_20261207-140311"},
        NameCase{"TrailingDotsAndBlank", "泵站. ", "", {}, "泵站___20261207-140311"},
        NameCase{"FortyCharactersAPart",
                 "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十多余",
                 "T",
                 {},
                 "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十_T_"
                 "20261207-140311"},
        // 38 and 40 characters of three bytes: 257 bytes uncut; the project keeps 28, the tag the rest.
        NameCase{"CutByBytes",
                 "华东一号泵站改造工程二期华东一号泵站改造工程二期华东一号泵站改造工程二期华东",
                 "进水阀门控制模块进水阀门控制模块进水阀门控制模块进水阀门控制模块进水阀门控制模块",
                 {},
                 "华东一号泵站改造工程二期华东一号泵站改造工程二期华东一号_"
                 "进水阀门控制模块进水阀门控制模块进水阀门控制模块进水阀门控_20261207-140311"},
        NameCase{"WindowsFolderLeavesSixtyUnits",
                 "ProjectNameOfThirtyCharacters.",
                 "KA-101",
                 {},
                 "ProjectNameOfThirtyCharact_KA-101_20261207-140311",
                 60},
        NameCase{"ClashGetsTwoThenThree",
                 "P",
                 "T",
                 {"P_T_20261207-140311.jsonl", "P_T_20261207-140311-2.pdf"},
                 "P_T_20261207-140311-3"},
        NameCase{"CabinetClashGetsTwo",
                 "",
                 "",
                 {"CABINET_20261207-140311.pdf"},
                 "CABINET_20261207-140311-2",
                 RecordNames::MaxNameBytes,
                 true},
        NameCase{
            "ModuleOfAProjectCalledCabinet", "CABINET", "20261207", {}, "CABINET_20261207_20261207-140311"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
