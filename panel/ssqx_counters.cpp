#include "ssqx.h"

#include "ModuleMap.h"
#include "TextToNumber.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

// Opens the editor of one value label: its text box (presets only), its button, and the three shared
// clear-mode selectors.
void ssqx::D_3R_Click(int16_t index) {
    resumeNext([&] { D_3R(index)->setVisible(false); });
    resumeNext([&] { D_3RW(index)->setVisible(true); });
    resumeNext([&] { Command5(index)->setVisible(true); });
    Combo6->setVisible(true);
    Combo7->setVisible(true);
    Combo8->setVisible(true);
}

// Clear (0-2), preset (3-5) or clear mode (6-8) of a counter: writes holding register index+1, repeats
// once on the library's failure value, then closes the editor.
void ssqx::Command5_Click(int16_t index) {
    if (index >= 0 && index <= 8) {
        int32_t value = 0;
        if (index >= 3 && index <= 5) {
            double number = 0;
            resumeNext([&] { number = TextToNumber::leadingNumber(D_3RW(index)->text()); });
            // The range is judged on the number as typed, before rounding: 65535.4 is refused.
            if (number > ModuleMap::PresetMax || number < ModuleMap::PresetMin)
                return;
            resumeNext([&] { PanelVars[PanelVar::WriteValue] = TextToNumber::toInt32(number); });
            value = PanelVars[PanelVar::WriteValue];
        } else if (index >= 6) {
            QComboBox *selector = index == 6 ? Combo6 : index == 7 ? Combo7 : Combo8;
            resumeNext(
                [&] { PanelVars[PanelVar::WriteValue] = TextToNumber::toInt32(selector->currentText()); });
            value = PanelVars[PanelVar::WriteValue];
        }
        writeRegisterWithRetry(index + 1, value);
    }
    closeEditor(index);
}

void ssqx::closeEditor(int16_t index) {
    resumeNext([&] { D_3R(index)->setVisible(true); });
    resumeNext([&] { D_3RW(index)->setVisible(false); });
    resumeNext([&] { Command5(index)->setVisible(false); });
    Combo6->setVisible(false);
    Combo7->setVisible(false);
    Combo8->setVisible(false);
}

// The write and its single retry are one unit, so nothing goes on the line between them. The retry is judged
// on WriteStatus as the first call leaves it: a call that raises leaves it as it was.
void ssqx::writeRegisterWithRetry(int32_t reg, int32_t value) {
    const int32_t port = PanelVars[PanelVar::Port];
    const int32_t station = PanelVars[PanelVar::Station];
    auto status = std::make_shared<int32_t>(WriteStatus);
    askOperator(
        [=](Modbus485 &library) {
            resumeNext([&] { *status = library.Set_4X_D1(port, station, reg, value); });
            if (*status == ModuleMap::Failed)
                resumeNext([&] { *status = library.Set_4X_D1(port, station, reg, value); });
        },
        [this, status] { WriteStatus = *status; });
}
