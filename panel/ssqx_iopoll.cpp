#include "ssqx.h"

#include "ModuleMap.h"
#include "ValueField.h"

#include <QDate>
#include <QLabel>
#include <QTime>

namespace {

constexpr QRgb InputClosed = 0x00FF00;
constexpr QRgb InputOpen = 0xC0FFFF;
constexpr QRgb OutputClosed = 0xFFC0C0;
constexpr QRgb OutputOpen = 0xFFFF00;
constexpr QRgb ReadFailed = 0xFF8080;

} // namespace

void ssqx::Timer1_Timer() {
    resumeNext([&] { Label2(9)->setText(QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy"))); });
    resumeNext([&] { Label2(10)->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))); });

    resumeNext([&] {
        m_link.Get_1X_B16(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station], ModuleMap::InputBlockStart,
                          InputWords.block<2>(0));
    });
    showBits(B_2R, 0, 8, InputWords[0], QStringLiteral("输入X"), 1, InputClosed, InputOpen);
    showBits(B_2R, 8, 2, InputWords[1], QStringLiteral("输入X"), 9, InputClosed, InputOpen);

    resumeNext([&] {
        m_link.Get_0X_B16(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station], ModuleMap::CoilBlockStart,
                          CoilWords.block<2>(0));
    });
    showBits(B_1RW, 0, ModuleMap::OutputCount, CoilWords[0], QStringLiteral("输出Y"), 1, OutputClosed,
             OutputOpen);

    resumeNext([&] { LinkStatus = m_link.GetPort_Status(PanelVars[PanelVar::Port]); });
    resumeNext([&] { Label5->setText(QString::number(LinkStatus)); });
    if (LinkStatus != 0)
        blankLamps();
}

// MODBUS485 marks a failed bit-block read with -8888 in each element, so every byte 0-255 is a real
// answer: 255 is eight closed contacts, not a failure.
void ssqx::showBits(ControlArray<QLabel> &lamps, int firstLamp, int count, int32_t word,
                    const QString &prefix, int firstNumber, QRgb closedColour, QRgb openColour) {
    if (word < 0 || word > 255) {
        for (int i = 0; i < count; ++i)
            resumeNext([&] { setField(lamps(firstLamp + i), QStringLiteral("通讯失败"), ReadFailed); });
        return;
    }
    D_Byte(static_cast<uint8_t>(word));
    for (int i = 0; i < count; ++i) {
        const bool closed = BitFlags[i] != 0;
        const QString caption = prefix + QString::number(firstNumber + i) +
                                (closed ? QStringLiteral("闭合") : QStringLiteral("断开"));
        resumeNext([&] { setField(lamps(firstLamp + i), caption, closed ? closedColour : openColour); });
    }
}

void ssqx::D_Byte(uint8_t b) {
    int v = b;
    for (int i = 7; i >= 0; --i) {
        if (v >= (1 << i)) {
            BitFlags[i] = 1;
            v -= 1 << i;
        } else {
            BitFlags[i] = 0;
        }
    }
}
