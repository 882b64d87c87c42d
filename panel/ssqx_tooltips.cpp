#include "ssqx.h"

#include "LineCodes.h"
#include "LinkWords.h"
#include "MODBUS485.h"
#include "ModuleMap.h"
#include "TextToNumber.h"

#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QToolTip>

#include <array>
#include <vector>

// Tooltips that explain the link. Each text is made only when its tooltip is about to show. On an inline link
// the library is asked then, so it is asked nothing unless the operator hovers, and a library without the
// diagnostic entry points raises LinkError, which leaves the text empty; on a threaded link the text comes
// from the copy the link keeps after each exchange, and the window's thread never calls the library.

using modbus485::ReadCoils, modbus485::ReadInputs, modbus485::ReadHoldingRegisters,
    modbus485::ReadInputRegisters;

std::optional<QString> ssqx::toolTipText(QObject *watched, bool refresh) {
    if (watched == Combo1 || watched == Label5) {
        // Label5 speaks of the port last opened; before any open, of the one the selector shows.
        int32_t port = 0;
        if (watched == Label5)
            port = PanelVars[PanelVar::Port];
        if (port == 0)
            resumeNext([&] { port = TextToNumber::toInt32(Combo1->currentText()); });
        if (refresh && !m_link->isInline()) {
            // The copy of a port's info is made after its exchanges; one not polled (a port only chosen, an
            // adapter plugged in since) gets an empty unit that copies it anew, and the tooltip shows again
            // then if the pointer is still there.
            auto *control = static_cast<QWidget *>(watched);
            m_link->post(
                ExchangeLink::Priority::Operator, port, [](Modbus485 &) {}, control,
                [this, control] {
                    if (control->underMouse())
                        if (const std::optional<QString> text = toolTipText(control, false);
                            text && !text->isEmpty())
                            QToolTip::showText(QCursor::pos(), *text, control);
                });
        }
        QString text = portInfoText(port);
        const auto addLine = [&text](const QString &line) {
            if (!line.isEmpty())
                text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + line;
        };
        if (watched == Label5) {
            addLine(portCountersText(port));
            addLine(pollPeriodLine(m_ioRhythm.periodSeconds(), m_counterRhythm.periodSeconds()));
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
        const int32_t length = m_link->GetPort_Info(port, buffer.data(), static_cast<int32_t>(buffer.size()));
        if (length > 0)
            text = QString::fromUtf8(buffer.data(), qMin<int32_t>(length, buffer.size() - 1)).trimmed();
    });
    return text;
}

// What the port has seen since it was opened, in one line, and a trace that stopped on its own.
QString ssqx::portCountersText(int32_t port) {
    QString text;
    resumeNext([&] {
        std::array<int32_t, MODBUS485_COUNTERS> c{};
        const int32_t filled = m_link->GetPort_Counters(port, c.data(), MODBUS485_COUNTERS);
        if (filled > MODBUS485_COUNTER_RTT_MAX_US)
            text = LinkWords::counters(std::span(c).first(filled), PanelVars[PanelVar::BaudCode],
                                       PanelVars[PanelVar::ParityCode]);
    });
    return text;
}

// The outcome of the last exchange of one of the polls' reads, on the port and station of the last open.
QString ssqx::lastReadText(int32_t function, int32_t start) {
    QString text;
    resumeNext([&] {
        std::array<int32_t, MODBUS485_LASTREAD_VALUES> v{};
        if (m_link->GetPort_LastRead(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station], function, start,
                                     v.data(), MODBUS485_LASTREAD_VALUES) > MODBUS485_LASTREAD_RTT_US)
            text = LinkWords::lastRead(v[MODBUS485_LASTREAD_OUTCOME], PanelVars[PanelVar::Station],
                                       v[MODBUS485_LASTREAD_EXCEPTION], v[MODBUS485_LASTREAD_RTT_US]);
    });
    return text;
}
