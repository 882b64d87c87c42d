#include "ssqx.h"

#include "LineCodes.h"
#include "LinkWords.h"
#include "TextToNumber.h"
#include "ValueField.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

constexpr QRgb InputDesignColour = 0xC0FFFF;
constexpr QRgb OutputDesignColour = 0xFFFFC0;

void fillList(QComboBox *combo, const QStringList &items) {
    for (int k = 0; k < items.size(); ++k)
        combo->insertItem(k, items[k]);
    combo->setCurrentText(combo->itemText(0));
}

QStringList numberItems(int last) {
    QStringList items;
    for (int n = 1; n <= last; ++n)
        items << QString::number(n) + u' ';
    return items;
}

} // namespace

void ssqx::Form_Load() {
    resumeNext([&] { fillList(Combo1, numberItems(19)); });
    resumeNext([&] { Option1(1)->setChecked(true); });
    resumeNext([&] { Option2(0)->setChecked(true); });
    resumeNext([&] { fillList(Combo2, numberItems(16)); });
    resumeNext([&] {
        // "0:无校验 ": the code, the number "修改" writes, then the word.
        QStringList parities;
        for (int32_t code = 0; code < modbus485::ParityCodes; ++code)
            parities << QString::number(code) + u':' + LinkWords::parityText(code) + u' ';
        fillList(Combo12, parities);
    });
    for (QComboBox *combo : {Combo6, Combo7, Combo8})
        resumeNext([&] { fillList(combo, {QStringLiteral("0:软件清零 "), QStringLiteral("1:硬件清零 ")}); });
    KeepOpen = -1;
}

void ssqx::Command9_Click() {
    resumeNext([&] { PanelVars[PanelVar::Port] = TextToNumber::toInt32(Combo1->currentText()); });
    for (int i = 0; i < modbus485::BaudCodes; ++i)
        resumeNext([&] {
            if (Option1(i)->isChecked())
                PanelVars[PanelVar::BaudCode] = i;
        });
    for (int i = 0; i < modbus485::ParityCodes; ++i)
        resumeNext([&] {
            if (Option2(i)->isChecked())
                PanelVars[PanelVar::ParityCode] = i;
        });
    resumeNext([&] { PanelVars[PanelVar::Station] = TextToNumber::toInt32(Combo2->currentText()); });
    const int32_t port = PanelVars[PanelVar::Port];
    const int32_t baudCode = PanelVars[PanelVar::BaudCode];
    const int32_t parityCode = PanelVars[PanelVar::ParityCode];
    // The open and its store are one statement: when the call raises, PanelVars[20] keeps its value.
    auto result = std::make_shared<std::optional<int32_t>>();
    askOperator(
        [=](Modbus485 &library) {
            resumeNext([&] { *result = library.OpenPort_Modbus(port, baudCode, parityCode); });
        },
        [this, result] {
            if (*result)
                resumeNext([&] { PanelVars[PanelVar::OpenResult] = **result; });
        });
    m_ioRhythm.reset();
    m_counterRhythm.reset();
    // Enabling a running timer leaves its rhythm alone, as re-enabling does on the original platform.
    if (!Timer1->isActive())
        Timer1->start();
    if (!Timer2->isActive())
        Timer2->start();
}

void ssqx::Command10_Click() {
    // The unit on the line finishes first; an I/O unit not yet started is dropped, and one already on the
    // line changes nothing when it comes back, as if its tick had ended before the press. A counter round
    // that has begun goes on, on the closed port.
    if (m_ioPollOut) {
        m_link->drop(m_ioPollAsk);
        m_ioPollOut = false;
        ++m_ioPollGeneration;
    }
    const int32_t port = PanelVars[PanelVar::Port];
    askOperator([=](Modbus485 &library) { resumeNext([&] { library.ClosePort_Modbus(port); }); });
    Timer1->stop();
    Timer2->stop();
    blankLamps();
    m_ioRhythm.reset();
    m_counterRhythm.reset();
}

void ssqx::askOperator(ExchangeLink::Unit unit, ExchangeLink::Done done) {
    m_link->post(ExchangeLink::Priority::Operator, PanelVars[PanelVar::Port], std::move(unit), this,
                 std::move(done));
}

// The design-time look of the fifteen lamps: one blank on the lamp's own colour.
void ssqx::blankLamps() {
    for (int i = 0; i <= 9; ++i)
        resumeNext([&] { setField(B_2R(i), QStringLiteral(" "), InputDesignColour); });
    for (int i = 0; i <= 4; ++i)
        resumeNext([&] { setField(B_1RW(i), QStringLiteral(" "), OutputDesignColour); });
}

void ssqx::Command1_Click() {
    KeepOpen = 0;
    // A counter-poll tick suspended in one of its yields must not touch the line again, and the link starts
    // nothing more; the exchange on the line, if any, is not waited for.
    m_processEnding = true;
    m_link->stop();
    close();
    m_endProcess();
}

void ssqx::Form_Unload(int16_t &Cancel) {
    Cancel = KeepOpen;
}

void ssqx::Form_KeyDown(int, int) {}
