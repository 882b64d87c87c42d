#pragma once

#include "RecordingModbus485.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

// The shown window on a recording fake link.
class PanelFixture : public WindowFixture {
protected:
    void SetUp() override {
        makeWindow(link);
        window->show();
    }

    // Opens with the window's defaults (port 1, station 1) and forgets the open call.
    void openWithDefaults() {
        click(window->Command9);
        link.calls.clear();
    }

    RecordingModbus485 link;
};
