#pragma once

#include "CabinetRecord.h"
#include "IoList.h"

#include <QSet>
#include <QString>

#include <map>
#include <vector>

// The cabinet's judgements, apart from the line and the window: what the survey found against what the list
// expects, each module's tag, and which outputs of which module must not be switched.
namespace CabinetRules {

// Where a station stands after the survey.
enum class Found {
    AtLine,      // answered at the line's setting
    Missing,     // listed, not heard at any setting asked
    OtherParity, // listed, heard at the line's baud rate with another parity: its parity can be written
    OtherBaud,   // listed, heard only at another baud rate: set on the module itself, not walked
    Unexpected   // heard, not in the list
};

struct Station {
    int station = 0;
    Found found = Found::Missing;
    QString listTag;                // the list's 模块位号, empty when none
    std::vector<CabinetFind> finds; // where it answered
    // For OtherParity: the parity it answers at now, the one its write goes out at.
    int presentParity = -1;
    QString remark; // the survey's remarks at its finds ("可能站号重复"...)
    bool operator==(const Station &) const = default;
};

struct Judgement {
    std::vector<Station> stations; // listed and unexpected, by station
    bool offerAllSettings = false; // modules are missing and the survey did not ask at every setting
};

// What two surveys found together: a later find of a station at a setting replaces an earlier one there.
std::vector<CabinetFind> mergeFinds(std::vector<CabinetFind> earlier, const std::vector<CabinetFind> &later);

// The list's stations against the survey's finds at the line's setting (`baudCode`, `parityCode`);
// `allSettings` when the survey asked at every setting.
Judgement judge(const std::map<int, CabinetIoList::Module> &list, const std::vector<CabinetFind> &finds,
                int baudCode, int parityCode, bool allSettings);

// What the 连接 page says of a station: "已找到", "未找到", "校验方式为 偶校验，可改写",
// "请在模块上设置波特率", "表外模块".
QString foundWord(const Station &station);

// Why a station is not walked, or empty when it is: at the line's setting, or brought onto it by a parity
// change that it answered after.
QString notWalkedReason(const Station &station, const std::vector<ParityChange> &changes);

// The module's tag: the list's 模块位号, else the one given on the 连接 page, else "站号 N".
QString moduleTag(int station, const QString &listTag, const QString &givenTag);

// "不允许动作的输出" for a cabinet: points qualified by station ("5:Y2 9:Y1"), split per station. A point
// without its station, a station not in the list or a point that is not an output is refused, with the
// item named.
struct DoNotSwitch {
    std::map<int, QSet<QString>> byStation;
    QString error;
};
DoNotSwitch splitDoNotSwitch(const QString &text, const std::map<int, CabinetIoList::Module> &list);

// The fraction of a survey done, from where it is: the setting's index of `settings`, the station asked
// of `first`-`last`.
double surveyDone(int settingIndex, int settings, int station, int first, int last);
// The seconds still to go, from the time taken so far and the fraction done; -1 while nothing is done.
int secondsLeft(qint64 elapsedMs, double done);

} // namespace CabinetRules
