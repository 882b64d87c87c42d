#include "ssqx.h"

#include "ModuleMap.h"

// "置位": switches output Y(index+1) on. The window shows it when the I/O poll reads the coils back.
void ssqx::Command2_Click(int16_t index) {
    if (index < 0 || index >= ModuleMap::OutputCount)
        return;
    const int32_t coil = ModuleMap::outputCoil(index + 1);
    const int32_t port = PanelVars[PanelVar::Port];
    const int32_t station = PanelVars[PanelVar::Station];
    askOperator([=](Modbus485 &library) { resumeNext([&] { library.Set_0X_Bit1(port, station, coil); }); });
}

// "复位": switches output Y(index+1) off.
void ssqx::Command3_Click(int16_t index) {
    if (index < 0 || index >= ModuleMap::OutputCount)
        return;
    const int32_t coil = ModuleMap::outputCoil(index + 1);
    const int32_t port = PanelVars[PanelVar::Port];
    const int32_t station = PanelVars[PanelVar::Station];
    askOperator([=](Modbus485 &library) { resumeNext([&] { library.Rst_0X_Bit1(port, station, coil); }); });
}
