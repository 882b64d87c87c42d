#include "ssqx.h"

#include "LineCodes.h"
#include "ModuleMap.h"

#include <QCoreApplication>
#include <QLabel>

namespace {

QString clearModeCaption(int32_t mode) {
    return mode != 0 ? QStringLiteral("硬件清零") : QStringLiteral("软件清零");
}

} // namespace

void ssqx::Timer2_Timer() {
    // A tick that arrives while an earlier one waits in a yield is dropped: running it nested would put a
    // second set of reads on the line in the middle of the first.
    if (m_counterPollRunning)
        return;
    m_counterPollRunning = true;
    struct Running {
        bool &flag;
        ~Running() { flag = false; }
    } running{m_counterPollRunning};

    resumeNext([&] {
        const int32_t first = m_link.Get_3X_UnD8(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station],
                                                 ModuleMap::FrequencyBlockStart, FreqRegs.block<8>(0));
        FreqRegs[0] = first;
    });
    QCoreApplication::processEvents();
    if (m_processEnding)
        return;
    for (int i = 0; i <= 2; ++i)
        resumeNext([&] { D_4R(i)->setText(QString::number(FreqRegs[i])); });

    resumeNext([&] {
        const int32_t first = m_link.Get_4X_UnD8(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station],
                                                 ModuleMap::CounterBlockStart, CounterRegs.block<8>(0));
        CounterRegs[0] = first;
    });
    QCoreApplication::processEvents();
    if (m_processEnding)
        return;
    for (int i = 0; i <= 5; ++i)
        resumeNext([&] { D_3R(i)->setText(QString::number(CounterRegs[i])); });
    resumeNext([&] { D_3R(6)->setText(clearModeCaption(CounterRegs[6])); });
    resumeNext([&] { D_3R(7)->setText(clearModeCaption(CounterRegs[7])); });

    resumeNext([&] {
        CounterRegs[8] = m_link.Get_4X_UnD1(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station],
                                            ModuleMap::ClearModeX3Register);
    });
    resumeNext([&] { D_3R(8)->setText(clearModeCaption(CounterRegs[8])); });

    resumeNext([&] {
        CounterRegs[ModuleMap::ParityRegister] = m_link.Get_4X_D1(
            PanelVars[PanelVar::Port], PanelVars[PanelVar::Station], ModuleMap::ParityRegister);
    });
    // By parity code; a value that is none of them leaves the caption as it was.
    const int32_t parity = CounterRegs[ModuleMap::ParityRegister];
    const QString captions[modbus485::ParityCodes] = {QStringLiteral("无校验"), QStringLiteral("奇校验"),
                                                      QStringLiteral("偶校验")};
    const QString caption = parity >= 0 && parity < modbus485::ParityCodes ? captions[parity]
                            : parity == ModuleMap::Failed                  ? QStringLiteral("失败")
                                                                           : QString();
    if (!caption.isNull())
        resumeNext([&] { D_4WRW(21)->setText(caption); });
}
