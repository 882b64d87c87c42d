#include "ssqx.h"

#include "LineCodes.h"
#include "LinkWords.h"
#include "ModuleMap.h"

#include <QCoreApplication>
#include <QLabel>

#include <array>
#include <memory>
#include <variant>

namespace {

QString clearModeCaption(int32_t mode) {
    return mode != 0 ? QStringLiteral("硬件清零") : QStringLiteral("软件清零");
}

// A read and the store of its result: when the call raises, nothing is stored.
template <class Values> struct CounterRead {
    Values values{};
    int32_t result = 0;
    bool read = false;
};

} // namespace

// Three units, with a yield between the first and the second and between the second and the third: the
// frequency block; the counter block; register 9 then register 256. Each unit is asked with the port and
// station PanelVars holds when it is asked.
void ssqx::Timer2_Timer() {
    // A tick that arrives while a round is still out is dropped: running it would put a second set of reads
    // on the line in the middle of the first.
    if (m_counterPollRunning)
        return;
    m_counterPollRunning = true;
    m_counterRhythm.roundStarted(m_clock.elapsed());
    askFrequencyBlock();
}

bool ssqx::yieldBetweenUnits() {
    if (m_link->isInline())
        QCoreApplication::processEvents();
    if (m_processEnding) {
        m_counterPollRunning = false;
        return false;
    }
    return true;
}

// One unit: a block of eight registers read into `regs`, its return value then stored in place of the first
// element (one statement: a call that raises stores nothing). After the yield `show` paints it.
void ssqx::askRegisterBlock(BlockRead read, int32_t start, CheckedArray<0, 500> &regs,
                            std::function<void()> show) {
    const int32_t port = PanelVars[PanelVar::Port];
    const int32_t station = PanelVars[PanelVar::Station];
    auto block = std::make_shared<CounterRead<std::array<int32_t, 8>>>();
    for (int i = 0; i < 8; ++i)
        block->values[i] = regs[i];
    m_link->post(
        ExchangeLink::Priority::Poll, port,
        [=](Modbus485 &library) {
            resumeNext([&] {
                block->result = (library.*read)(port, station, start, block->values);
                block->read = true;
            });
        },
        this,
        [this, block, &regs, show = std::move(show)] {
            if (block->read) {
                for (int i = 0; i < 8; ++i)
                    regs[i] = block->values[i];
                regs[0] = block->result;
            }
            if (yieldBetweenUnits())
                show();
        });
}

void ssqx::askFrequencyBlock() {
    askRegisterBlock(&Modbus485::Get_3X_UnD8, ModuleMap::FrequencyBlockStart, FreqRegs, [this] {
        for (int i = 0; i <= 2; ++i)
            resumeNext([&] { D_4R(i)->setText(QString::number(FreqRegs[i])); });
        askCounterBlock();
    });
}

void ssqx::askCounterBlock() {
    askRegisterBlock(&Modbus485::Get_4X_UnD8, ModuleMap::CounterBlockStart, CounterRegs, [this] {
        for (int i = 0; i <= 5; ++i)
            resumeNext([&] { D_3R(i)->setText(QString::number(CounterRegs[i])); });
        resumeNext([&] { D_3R(6)->setText(clearModeCaption(CounterRegs[6])); });
        resumeNext([&] { D_3R(7)->setText(clearModeCaption(CounterRegs[7])); });
        askClearModeAndParity();
    });
}

void ssqx::askClearModeAndParity() {
    const int32_t port = PanelVars[PanelVar::Port];
    const int32_t station = PanelVars[PanelVar::Station];
    auto clearMode = std::make_shared<CounterRead<std::monostate>>();
    auto parity = std::make_shared<CounterRead<std::monostate>>();
    m_link->post(
        ExchangeLink::Priority::Poll, port,
        [=](Modbus485 &library) {
            resumeNext([&] {
                clearMode->result = library.Get_4X_UnD1(port, station, ModuleMap::ClearModeX3Register);
                clearMode->read = true;
            });
            resumeNext([&] {
                parity->result = library.Get_4X_D1(port, station, ModuleMap::ParityRegister);
                parity->read = true;
            });
        },
        this,
        [this, clearMode, parity] {
            m_counterPollRunning = false;
            if (clearMode->read)
                CounterRegs[8] = clearMode->result;
            resumeNext([&] { D_3R(8)->setText(clearModeCaption(CounterRegs[8])); });

            if (parity->read)
                CounterRegs[ModuleMap::ParityRegister] = parity->result;
            // By parity code; a value that is none of them leaves the caption as it was.
            const int32_t code = CounterRegs[ModuleMap::ParityRegister];
            const QString caption = code >= 0 && code < modbus485::ParityCodes ? LinkWords::parityText(code)
                                    : code == ModuleMap::Failed                ? QStringLiteral("失败")
                                                                               : QString();
            if (!caption.isNull())
                resumeNext([&] { D_4WRW(21)->setText(caption); });
        });
}
