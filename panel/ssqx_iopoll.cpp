#include "ssqx.h"

#include "ModuleMap.h"
#include "ValueField.h"

#include <QDate>
#include <QLabel>
#include <QTime>

#include <array>
#include <memory>

namespace {

constexpr QRgb InputClosed = 0x00FF00;
constexpr QRgb InputOpen = 0xC0FFFF;
constexpr QRgb OutputClosed = 0xFFC0C0;
constexpr QRgb OutputOpen = 0xFFFF00;
constexpr QRgb ReadFailed = 0xFF8080;

} // namespace

// What one I/O unit brought back: each read's receiving elements as they stand after it, and whether each
// call went through (a call that raised stores nothing, as its statement is abandoned).
struct ssqx::IoReads {
    std::array<int32_t, 2> inputs{};
    std::array<int32_t, 2> coils{};
    int32_t status = 0;
    bool inputsRead = false;
    bool coilsRead = false;
    bool statusRead = false;
};

void ssqx::Timer1_Timer() {
    resumeNext([&] { Label2(9)->setText(QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy"))); });
    resumeNext([&] { Label2(10)->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))); });
    // A tick that comes while the last one's reads are still out skips its own: no queue on a slow line.
    if (m_ioPollOut)
        return;
    m_ioRhythm.roundStarted(m_clock.elapsed());

    const int32_t port = PanelVars[PanelVar::Port];
    const int32_t station = PanelVars[PanelVar::Station];
    auto reads = std::make_shared<IoReads>();
    reads->inputs = {InputWords[0], InputWords[1]};
    reads->coils = {CoilWords[0], CoilWords[1]};
    const unsigned generation = m_ioPollGeneration;
    m_ioPollOut = true;
    // Inputs, coils and the port's status go on the line without a break, and are shown in one go.
    m_ioPollAsk = m_link->post(
        ExchangeLink::Priority::Poll, port,
        [=](Modbus485 &library) {
            resumeNext([&] {
                library.Get_1X_B16(port, station, ModuleMap::InputBlockStart, reads->inputs);
                reads->inputsRead = true;
            });
            resumeNext([&] {
                library.Get_0X_B16(port, station, ModuleMap::CoilBlockStart, reads->coils);
                reads->coilsRead = true;
            });
            resumeNext([&] {
                reads->status = library.GetPort_Status(port);
                reads->statusRead = true;
            });
        },
        this,
        [this, reads, generation] {
            if (generation != m_ioPollGeneration)
                return;
            m_ioPollOut = false;
            showIoReads(*reads);
        });
}

void ssqx::showIoReads(const IoReads &reads) {
    if (reads.inputsRead) {
        InputWords[0] = reads.inputs[0];
        InputWords[1] = reads.inputs[1];
    }
    showBits(B_2R, 0, 8, InputWords[0], QStringLiteral("输入X"), 1, InputClosed, InputOpen);
    showBits(B_2R, 8, 2, InputWords[1], QStringLiteral("输入X"), 9, InputClosed, InputOpen);

    if (reads.coilsRead) {
        CoilWords[0] = reads.coils[0];
        CoilWords[1] = reads.coils[1];
    }
    showBits(B_1RW, 0, ModuleMap::OutputCount, CoilWords[0], QStringLiteral("输出Y"), 1, OutputClosed,
             OutputOpen);

    if (reads.statusRead)
        LinkStatus = reads.status;
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
