#include "CabinetRules.h"

#include "CheckRecord.h"
#include "LinkWords.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace CabinetRules {

namespace {

QString settingText(const CabinetFind &f) {
    return LinkWords::baudText(f.baudCode) + u' ' + LinkWords::parityText(f.parityCode);
}

} // namespace

std::vector<CabinetFind> mergeFinds(std::vector<CabinetFind> earlier, const std::vector<CabinetFind> &later) {
    for (const CabinetFind &f : later) {
        const auto same = std::find_if(earlier.begin(), earlier.end(), [&f](const CabinetFind &e) {
            return e.station == f.station && e.baudCode == f.baudCode && e.parityCode == f.parityCode;
        });
        if (same != earlier.end())
            *same = f;
        else
            earlier.push_back(f);
    }
    std::stable_sort(earlier.begin(), earlier.end(),
                     [](const CabinetFind &a, const CabinetFind &b) { return a.station < b.station; });
    return earlier;
}

Judgement judge(const std::map<int, CabinetIoList::Module> &list, const std::vector<CabinetFind> &finds,
                int baudCode, int parityCode, bool allSettings) {
    std::map<int, Station> stations;
    for (const auto &[number, module] : list) {
        Station &s = stations[number];
        s.station = number;
        s.listTag = module.tag;
    }
    for (const CabinetFind &f : finds) {
        Station &s = stations[f.station];
        if (s.station == 0) {
            s.station = f.station;
            s.found = Found::Unexpected;
        }
        s.finds.push_back(f);
        if (!f.remark.isEmpty() && !s.remark.contains(f.remark))
            s.remark += (s.remark.isEmpty() ? QString() : QStringLiteral("，")) + f.remark;
    }
    Judgement judgement;
    for (auto &[number, s] : stations) {
        if (s.found != Found::Unexpected) {
            // The best of its finds: the line's setting, then the line's baud rate, then any.
            for (const CabinetFind &f : s.finds) {
                if (f.baudCode == baudCode && f.parityCode == parityCode) {
                    s.found = Found::AtLine;
                    s.presentParity = -1;
                    break;
                }
                if (f.baudCode == baudCode && s.found != Found::OtherParity) {
                    s.found = Found::OtherParity;
                    s.presentParity = f.parityCode;
                } else if (s.found == Found::Missing) {
                    s.found = Found::OtherBaud;
                }
            }
        }
        judgement.offerAllSettings = judgement.offerAllSettings || s.found == Found::Missing;
        judgement.stations.push_back(s);
    }
    judgement.offerAllSettings = judgement.offerAllSettings && !allSettings;
    return judgement;
}

QString foundWord(const Station &s) {
    QStringList settings;
    for (const CabinetFind &f : s.finds)
        settings << settingText(f);
    switch (s.found) {
    case Found::AtLine:
        return QStringLiteral("已找到");
    case Found::Missing:
        return QStringLiteral("未找到");
    case Found::OtherParity:
        return QStringLiteral("在其他设置：%1，可改写模块校验方式").arg(settings.join(QStringLiteral("、")));
    case Found::OtherBaud:
        return QStringLiteral("在其他设置：%1，请在模块上设置波特率")
            .arg(settings.join(QStringLiteral("、")));
    case Found::Unexpected:
        return QStringLiteral("表外模块：") + settings.join(QStringLiteral("、"));
    }
    return {};
}

QString notWalkedReason(const Station &s, const std::vector<ParityChange> &changes) {
    switch (s.found) {
    case Found::AtLine:
        return {};
    case Found::Missing:
        return QStringLiteral("未找到");
    case Found::OtherBaud:
        return QStringLiteral("请在模块上设置波特率");
    case Found::Unexpected:
        return QStringLiteral("I/O 表中没有此站");
    case Found::OtherParity:
        break;
    }
    // The last change of its parity decides.
    for (auto c = changes.rbegin(); c != changes.rend(); ++c)
        if (c->station == s.station)
            return c->answered ? QString() : QStringLiteral("已写入校验方式，模块未在线路设置下应答");
    return QStringLiteral("校验方式与线路不同：%1").arg(LinkWords::parityText(s.presentParity));
}

QString moduleTag(int station, const QString &listTag, const QString &givenTag) {
    if (!listTag.trimmed().isEmpty())
        return listTag.trimmed();
    if (!givenTag.trimmed().isEmpty())
        return givenTag.trimmed();
    return QStringLiteral("站号 %1").arg(station);
}

DoNotSwitch splitDoNotSwitch(const QString &text, const std::map<int, CabinetIoList::Module> &list) {
    DoNotSwitch result;
    static const QRegularExpression separators(QStringLiteral("[\\s,，]+"));
    static const QRegularExpression qualified(QStringLiteral("^(\\d{1,3})[:：](Y[1-5])$"));
    for (const QString &item : text.toUpper().split(separators, Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = qualified.match(item);
        if (!match.hasMatch())
            return {{}, QStringLiteral("不允许动作的输出“%1”：请写成 站号:输出，例如 5:Y2").arg(item)};
        const int station = match.captured(1).toInt();
        if (!list.count(station))
            return {{}, QStringLiteral("不允许动作的输出“%1”：I/O 表中没有站号 %2").arg(item).arg(station)};
        result.byStation[station].insert(match.captured(2));
    }
    return result;
}

double surveyDone(int settingIndex, int settings, int station, int first, int last) {
    const int perSetting = std::max(1, last - first + 1);
    const int asked = settingIndex * perSetting + std::clamp(station - first, 0, perSetting);
    return std::clamp(double(asked) / (std::max(1, settings) * perSetting), 0.0, 1.0);
}

int secondsLeft(qint64 elapsedMs, double done) {
    if (done <= 0)
        return -1;
    return static_cast<int>(std::ceil(elapsedMs * (1 - done) / done / 1000.0));
}

} // namespace CabinetRules
