#include "ssqx.h"

#include "MODBUS485.h"
#include "ModuleMap.h"
#include "TextToNumber.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include <array>
#include <vector>

// Tooltips that explain the link. Each text is made only when its tooltip is about to show, so the library
// is asked nothing unless the operator hovers; a library without the diagnostic entry points raises
// LinkError, which leaves the text empty.

namespace {

// Modbus function codes of the reads that fill the frames.
constexpr int32_t ReadCoils = 1;
constexpr int32_t ReadInputs = 2;
constexpr int32_t ReadHoldingRegisters = 3;
constexpr int32_t ReadInputRegisters = 4;

QString milliseconds(int32_t microseconds) {
    return QString::number((microseconds + 500) / 1000) + QStringLiteral(" ms");
}

} // namespace

std::optional<QString> ssqx::toolTipText(QObject *watched) {
    if (watched == Combo1 || watched == Label5) {
        // Label5 speaks of the port last opened; before any open, of the one the selector shows.
        int32_t port = 0;
        if (watched == Label5)
            port = PanelVars[PanelVar::Port];
        if (port == 0)
            resumeNext([&] { port = TextToNumber::toInt32(Combo1->currentText()); });
        QString text = portInfoText(port);
        if (watched == Label5) {
            const QString counters = portCountersText(port);
            if (!counters.isEmpty())
                text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + counters;
        }
        return text;
    }
    const int frame1 = Frame1.indexOf(watched);
    if (frame1 == 0 || frame1 == 33)
        return lastReadText(ReadInputs, ModuleMap::InputBlockStart);
    if (frame1 == 1)
        return lastReadText(ReadCoils, ModuleMap::CoilBlockStart);
    if (watched == Frame3)
        return lastReadText(ReadInputRegisters, ModuleMap::FrequencyBlockStart);
    // X3's clear mode is read on its own, after the counter block.
    if (D_3R.indexOf(watched) == 8)
        return lastReadText(ReadHoldingRegisters, ModuleMap::ClearModeX3Register);
    if (Frame4.indexOf(watched) >= 0)
        return lastReadText(ReadHoldingRegisters, ModuleMap::CounterBlockStart);
    if (D_4WRW.indexOf(watched) >= 0)
        return lastReadText(ReadHoldingRegisters, ModuleMap::ParityRegister);
    return std::nullopt;
}

void ssqx::installToolTips() {
    std::vector<QWidget *> controls{Combo1, Label5, Frame1(0), Frame1(33), Frame1(1), Frame3};
    for (const int i : Frame4.indexes())
        controls.push_back(Frame4(i));
    for (const int i : D_4WRW.indexes())
        controls.push_back(D_4WRW(i));
    for (QWidget *control : controls)
        control->installEventFilter(this);
}

// The device the port maps to and where from, and the reason a last open failed: the library's own words.
QString ssqx::portInfoText(int32_t port) {
    QString text;
    resumeNext([&] {
        std::array<char, 1024> buffer{};
        const int32_t length = m_link.GetPort_Info(port, buffer.data(), static_cast<int32_t>(buffer.size()));
        if (length > 0)
            text = QString::fromUtf8(buffer.data(), qMin<int32_t>(length, buffer.size() - 1)).trimmed();
    });
    return text;
}

// What the port has seen since it was opened, in one line.
QString ssqx::portCountersText(int32_t port) {
    QString text;
    resumeNext([&] {
        std::array<int32_t, MODBUS485_COUNTERS> c{};
        if (m_link.GetPort_Counters(port, c.data(), MODBUS485_COUNTERS) <= MODBUS485_COUNTER_RTT_MAX_US)
            return;
        text = QStringLiteral("请求%1 正常%2 无应答%3 乱码%4 错站%5 异常%6 残帧%7 暂停%8 往返%9/%10/%11")
                   .arg(c[MODBUS485_COUNTER_REQUESTS])
                   .arg(c[MODBUS485_COUNTER_GOOD])
                   .arg(c[MODBUS485_COUNTER_NO_ANSWER])
                   .arg(c[MODBUS485_COUNTER_GARBLED])
                   .arg(c[MODBUS485_COUNTER_WRONG_STATION])
                   .arg(c[MODBUS485_COUNTER_EXCEPTIONS])
                   .arg(c[MODBUS485_COUNTER_STRAY])
                   .arg(c[MODBUS485_COUNTER_DEMOTED])
                   .arg((c[MODBUS485_COUNTER_RTT_LAST_US] + 500) / 1000)
                   .arg((c[MODBUS485_COUNTER_RTT_MEAN_US] + 500) / 1000)
                   .arg(milliseconds(c[MODBUS485_COUNTER_RTT_MAX_US]));
    });
    return text;
}

// The outcome of the last exchange of one of the polls' reads, on the port and station of the last open.
QString ssqx::lastReadText(int32_t function, int32_t start) {
    QString text;
    resumeNext([&] {
        std::array<int32_t, MODBUS485_LASTREAD_VALUES> v{};
        if (m_link.GetPort_LastRead(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station], function, start,
                                    v.data(), MODBUS485_LASTREAD_VALUES) <= MODBUS485_LASTREAD_RTT_US)
            return;
        const QString station = QStringLiteral("站号") + QString::number(PanelVars[PanelVar::Station]);
        switch (v[MODBUS485_LASTREAD_OUTCOME]) {
        case MODBUS485_OUTCOME_NONE:
            text = QStringLiteral("尚未读取");
            break;
        case MODBUS485_OUTCOME_GOOD:
            text = station + QStringLiteral("正常（") + milliseconds(v[MODBUS485_LASTREAD_RTT_US]) + u'）';
            break;
        case MODBUS485_OUTCOME_NO_ANSWER:
            text = station + QStringLiteral("无应答（") + milliseconds(v[MODBUS485_LASTREAD_RTT_US]) + u'）';
            break;
        case MODBUS485_OUTCOME_GARBLED:
            text = QStringLiteral("校验错误：检查波特率和校验方式");
            break;
        case MODBUS485_OUTCOME_WRONG_STATION:
            text = QStringLiteral("站号不符：应答来自其他站号");
            break;
        case MODBUS485_OUTCOME_EXCEPTION:
            text = QStringLiteral("模块拒绝：异常码") + QString::number(v[MODBUS485_LASTREAD_EXCEPTION]);
            break;
        case MODBUS485_OUTCOME_LATE:
            text = QStringLiteral("过时应答：已丢弃");
            break;
        case MODBUS485_OUTCOME_DEMOTED:
            text = station + QStringLiteral("无应答，暂停读取");
            break;
        case MODBUS485_OUTCOME_DEVICE_FAILED:
            text = QStringLiteral("串口设备失效：检查连接");
            break;
        case MODBUS485_OUTCOME_NOT_OPEN:
            text = QStringLiteral("端口未打开");
            break;
        default:
            break;
        }
    });
    return text;
}
