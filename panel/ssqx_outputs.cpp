#include "ssqx.h"

#include "ModuleMap.h"

// "置位": switches output Y(index+1) on. The window shows it when the I/O poll reads the coils back.
void ssqx::Command2_Click(int16_t index) {
    if (index < 0 || index >= ModuleMap::OutputCount)
        return;
    const int32_t coil = ModuleMap::outputCoil(index + 1);
    resumeNext([&] { m_link.Set_0X_Bit1(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station], coil); });
}

// "复位": switches output Y(index+1) off.
void ssqx::Command3_Click(int16_t index) {
    if (index < 0 || index >= ModuleMap::OutputCount)
        return;
    const int32_t coil = ModuleMap::outputCoil(index + 1);
    resumeNext([&] { m_link.Rst_0X_Bit1(PanelVars[PanelVar::Port], PanelVars[PanelVar::Station], coil); });
}
