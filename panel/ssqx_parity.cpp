#include "ssqx.h"

#include "ModuleMap.h"
#include "TextToNumber.h"

#include <QComboBox>

// "修改": writes the chosen parity code into the module's register 256; the counter poll shows the result.
// The program's own port settings are not touched.
void ssqx::Command4_Click() {
    resumeNext([&] { PanelVars[PanelVar::WriteValue] = TextToNumber::toInt32(Combo12->currentText()); });
    writeRegisterWithRetry(ModuleMap::ParityRegister, PanelVars[PanelVar::WriteValue]);
}
