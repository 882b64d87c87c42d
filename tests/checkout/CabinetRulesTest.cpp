// The cabinet's judgements: what the survey found against the list, each module's tag, and the outputs that
// must not be switched, split per module.
#include "CabinetRules.h"

#include <gtest/gtest.h>

namespace {

using namespace CabinetRules;

struct Judged {
    const char *name;
    std::vector<int> listed;
    std::vector<CabinetFind> finds; // station, baud code, parity code
    bool allSettings;
    std::vector<ParityChange> changes;
    const char *expected; // "station word | reason; ..." for every station
    bool offerAllSettings;
};

void PrintTo(const Judged &j, std::ostream *out) {
    *out << j.name;
}

class JudgeTest : public ::testing::TestWithParam<Judged> {};

TEST_P(JudgeTest, ExpectedAgainstFound) {
    const Judged &j = GetParam();
    std::map<int, CabinetIoList::Module> list;
    for (const int station : j.listed)
        list[station].tag = QStringLiteral("KA-%1").arg(station);
    // The line: 9600, no parity.
    const Judgement judged = judge(list, j.finds, 1, 0, j.allSettings);
    QStringList said;
    for (const Station &s : judged.stations)
        said << QStringLiteral("%1 %2 | %3").arg(s.station).arg(foundWord(s), notWalkedReason(s, j.changes));
    EXPECT_EQ(said.join(QStringLiteral("; ")), QString::fromUtf8(j.expected));
    EXPECT_EQ(judged.offerAllSettings, j.offerAllSettings);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JudgeTest,
    ::testing::Values(
        Judged{"AllAtTheLine", {1, 2}, {{1, 1, 0}, {2, 1, 0}}, false, {}, "1 已找到 | ; 2 已找到 | ", false},
        Judged{"MissingOffersEverySetting",
               {1, 2},
               {{1, 1, 0}},
               false,
               {},
               "1 已找到 | ; 2 未找到 | 未找到",
               true},
        Judged{"MissingAfterEverySetting",
               {1, 2},
               {{1, 1, 0}},
               true,
               {},
               "1 已找到 | ; 2 未找到 | 未找到",
               false},
        Judged{"OtherParityNotWritten",
               {5},
               {{5, 1, 2}},
               true,
               {},
               "5 在其他设置：9600 偶校验，可改写模块校验方式 | 校验方式与线路不同：偶校验",
               false},
        Judged{"OtherParityWrittenAndAnswering",
               {5},
               {{5, 1, 2}},
               true,
               {{5, 2, 0, {}, false}, {5, 2, 0, {}, true}},
               "5 在其他设置：9600 偶校验，可改写模块校验方式 | ",
               false},
        Judged{"OtherParityWrittenSilent",
               {5},
               {{5, 1, 2}},
               true,
               {{3, 1, 0, {}, true}, {5, 2, 0, {}, false}},
               "5 在其他设置：9600 偶校验，可改写模块校验方式 | 已写入校验方式，模块未在线路设置下应答",
               false},
        Judged{"OtherBaud",
               {5},
               {{5, 2, 0}},
               true,
               {},
               "5 在其他设置：19200 无校验，请在模块上设置波特率 | 请在模块上设置波特率",
               false},
        Judged{"AtTheLineAndElsewhere", {5}, {{5, 2, 2}, {5, 1, 0}}, true, {}, "5 已找到 | ", false},
        Judged{"OtherParityBeatsOtherBaud",
               {5},
               {{5, 2, 0}, {5, 1, 1}, {5, 0, 2}},
               true,
               {},
               "5 在其他设置：19200 无校验、9600 奇校验、4800 偶校验，可改写模块校验方式 | "
               "校验方式与线路不同：奇校验",
               false},
        Judged{"NotInTheList",
               {1},
               {{1, 1, 0}, {7, 1, 0, 400, -1, false, QStringLiteral("可能站号重复")}},
               false,
               {},
               "1 已找到 | ; 7 表外模块：9600 无校验 | I/O 表中没有此站",
               false}),
    [](const auto &info) { return std::string(info.param.name); });

struct Named {
    const char *name;
    int station;
    const char *listTag, *givenTag; // the module's tag from the list and from the 连接 page
    const char *doNotSwitch;        // as typed, for a list of stations 5 and 9
    const char *expected;           // the tag, then "station:outputs" per station, or the refusal
};

void PrintTo(const Named &n, std::ostream *out) {
    *out << n.name;
}

class NamedTest : public ::testing::TestWithParam<Named> {};

TEST_P(NamedTest, TagAndOutputsKept) {
    const Named &n = GetParam();
    const std::map<int, CabinetIoList::Module> list{{5, {}}, {9, {}}};
    const DoNotSwitch kept = splitDoNotSwitch(QString::fromUtf8(n.doNotSwitch), list);
    QStringList said{moduleTag(n.station, QString::fromUtf8(n.listTag), QString::fromUtf8(n.givenTag))};
    for (const auto &[station, outputs] : kept.byStation) {
        QStringList sorted(outputs.begin(), outputs.end());
        sorted.sort();
        said << QStringLiteral("%1:%2").arg(station).arg(sorted.join(u','));
    }
    if (!kept.error.isEmpty())
        said << kept.error;
    EXPECT_EQ(said.join(u' '), QString::fromUtf8(n.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, NamedTest,
    ::testing::Values(Named{"ListTagFirst", 5, "KA-5", "KA-X", "5:Y2 9：y1，5:Y5", "KA-5 5:Y2,Y5 9:Y1"},
                      Named{"GivenTag", 5, " ", "KA-X", "", "KA-X"},
                      Named{"StationNumber", 12, "", "", "", "站号 12"},
                      Named{"PointWithoutStation", 5, "", "", "5:Y1 Y2",
                            "站号 5 不允许动作的输出“Y2”：请写成 站号:输出，例如 5:Y2"},
                      Named{"StationNotListed", 5, "", "", "7:Y2",
                            "站号 5 不允许动作的输出“7:Y2”：I/O 表中没有站号 7"},
                      Named{"NotAnOutput", 5, "", "", "5:X2",
                            "站号 5 不允许动作的输出“5:X2”：请写成 站号:输出，例如 5:Y2"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
