#include "LinkWords.h"

#include "LineCodes.h"
#include "MODBUS485.h"

#include <array>
#include <utility>

namespace LinkWords {
namespace {

// The counters line's order: a request's outcomes first, then those that send nothing.
constexpr std::array<Outcome, 12> Outcomes{{
    {MODBUS485_OUTCOME_GOOD, MODBUS485_COUNTER_GOOD, "good", "正常", "%1正常（%2）"},
    {MODBUS485_OUTCOME_NO_ANSWER, MODBUS485_COUNTER_NO_ANSWER, "no answer", "无应答", "%1无应答（%2）"},
    {MODBUS485_OUTCOME_GARBLED, MODBUS485_COUNTER_GARBLED, "CRC error", "校验错误",
     "校验错误：检查波特率和校验方式"},
    {MODBUS485_OUTCOME_CUT_SHORT, MODBUS485_COUNTER_CUT_SHORT, "cut short", "不完整",
     "应答不完整：时限内只收到部分字节"},
    {MODBUS485_OUTCOME_MISMATCHED, MODBUS485_COUNTER_MISMATCHED, "mismatched", "不符",
     "应答与请求不符：长度、功能码或回显不对"},
    {MODBUS485_OUTCOME_WRONG_STATION, MODBUS485_COUNTER_WRONG_STATION, "wrong station", "错站",
     "站号不符：应答来自其他站号"},
    {MODBUS485_OUTCOME_EXCEPTION, MODBUS485_COUNTER_EXCEPTIONS, "exception", "异常", "模块拒绝：异常码%2"},
    {MODBUS485_OUTCOME_LATE, MODBUS485_COUNTER_LATE, "late", "过时", "应答可能是上一请求的迟到应答，已舍弃"},
    {MODBUS485_OUTCOME_DEVICE_FAILED, MODBUS485_COUNTER_DEVICE_FAILED, "device failed", "设备失效",
     "串口设备失效：检查连接"},
    {MODBUS485_OUTCOME_DEMOTED, MODBUS485_COUNTER_DEMOTED, nullptr, "暂停", "%1无应答，暂停读取"},
    {MODBUS485_OUTCOME_NOT_OPEN, -1, nullptr, nullptr, "端口未打开"},
    {MODBUS485_OUTCOME_NONE, -1, nullptr, nullptr, "尚未读取"},
}};

// The counters the line shows that no outcome is counted under.
constexpr std::pair<int, const char *> OtherCounters[] = {{MODBUS485_COUNTER_REQUESTS, "请求"},
                                                          {MODBUS485_COUNTER_STRAY, "残帧"}};

// Each parity code's words, a column per use: the word shown, the command line's name.
struct ParityWords {
    const char *word;
    const char *option;
};
constexpr ParityWords Parities[modbus485::ParityCodes] = {
    {"无校验", "none"}, {"奇校验", "odd"}, {"偶校验", "even"}};

QString milliseconds(int32_t microseconds) {
    return QString::number((microseconds + 500) / 1000) + QStringLiteral(" ms");
}

// The protocol's 3.5 characters of silence between frames, in whole milliseconds as the library counts them.
int32_t protocolPauseMs(int32_t baudCode, int32_t parityCode) {
    const int64_t baud =
        modbus485::BaudRates[baudCode >= 0 && baudCode < modbus485::BaudCodes ? baudCode : 1];
    const int64_t bits = parityCode == 0 ? 10 : 11;
    return static_cast<int32_t>((35 * bits * 100'000 / baud + 500) / 1000);
}

} // namespace

std::span<const Outcome> outcomes() {
    return Outcomes;
}

const Outcome *outcome(int32_t code) {
    for (const Outcome &o : Outcomes)
        if (o.code == code)
            return &o;
    return nullptr;
}

const char *counterLabel(int counter) {
    for (const auto &[number, label] : OtherCounters)
        if (number == counter)
            return label;
    for (const Outcome &o : Outcomes)
        if (o.counter == counter && o.label)
            return o.label;
    return nullptr;
}

QString baudText(int32_t baudCode) {
    return QString::number(baudCode >= 0 && baudCode < modbus485::BaudCodes ? modbus485::BaudRates[baudCode]
                                                                            : baudCode);
}

QString parityText(int32_t parityCode) {
    return parityCode >= 0 && parityCode < modbus485::ParityCodes
               ? QString::fromUtf8(Parities[parityCode].word)
               : QString::number(parityCode);
}

QString parityOption(int32_t parityCode) {
    return parityCode >= 0 && parityCode < modbus485::ParityCodes
               ? QString::fromLatin1(Parities[parityCode].option)
               : QString();
}

QString lastRead(int32_t code, int32_t station, int32_t exception, int32_t roundTripUs) {
    const Outcome *o = outcome(code);
    if (!o)
        return {};
    QString text = QString::fromUtf8(o->text);
    if (text.contains(QLatin1String("%1")))
        text = text.arg(QStringLiteral("站号") + QString::number(station));
    if (text.contains(QLatin1String("%2")))
        text = text.arg(code == MODBUS485_OUTCOME_EXCEPTION ? QString::number(exception)
                                                            : milliseconds(roundTripUs));
    return text;
}

QString counters(std::span<const int32_t> values, int32_t baudCode, int32_t parityCode) {
    auto value = [values](int counter) {
        return counter < static_cast<int>(values.size()) ? values[counter] : 0;
    };
    auto labelled = [&value](int counter) {
        return QString::fromUtf8(counterLabel(counter)) + QString::number(value(counter));
    };
    QString line = labelled(MODBUS485_COUNTER_REQUESTS);
    for (const Outcome &o : Outcomes)
        if (o.counter >= 0 && o.code != MODBUS485_OUTCOME_DEMOTED)
            line += u' ' + labelled(o.counter);
    for (const int counter : {MODBUS485_COUNTER_STRAY, MODBUS485_COUNTER_DEMOTED})
        line += u' ' + labelled(counter);
    line += QStringLiteral(" 往返%1/%2/%3")
                .arg((value(MODBUS485_COUNTER_RTT_LAST_US) + 500) / 1000)
                .arg((value(MODBUS485_COUNTER_RTT_MEAN_US) + 500) / 1000)
                .arg(milliseconds(value(MODBUS485_COUNTER_RTT_MAX_US)));
    if (value(MODBUS485_COUNTER_TURNAROUND_MS) > 0)
        line += QStringLiteral(" 应答时限 %1 ms").arg(value(MODBUS485_COUNTER_TURNAROUND_MS));
    if (value(MODBUS485_COUNTER_ECHOES) > 0)
        line += QStringLiteral(" 适配器回显");
    if (value(MODBUS485_COUNTER_FRAME_GAP_MS) > protocolPauseMs(baudCode, parityCode))
        line += QStringLiteral(" 帧间隔 %1 ms").arg(value(MODBUS485_COUNTER_FRAME_GAP_MS));
    if (value(MODBUS485_COUNTER_TRACE_STOPPED) > 0)
        line += u'\n' + traceStopped(value(MODBUS485_COUNTER_TRACE_STOPPED));
    return line;
}

QString traceStopped(int32_t reason) {
    switch (reason) {
    case MODBUS485_TRACE_STOPPED_MOVE:
        return QStringLiteral("跟踪已停止：文件已达 10 MB，无法改名为 .1 文件");
    case MODBUS485_TRACE_STOPPED_WRITE:
        return QStringLiteral("跟踪已停止：写入失败（磁盘已满或设备已断开）");
    case MODBUS485_TRACE_STOPPED_OPEN:
        return QStringLiteral("跟踪已停止：无法打开跟踪文件");
    default:
        return QStringLiteral("跟踪已停止");
    }
}

} // namespace LinkWords
