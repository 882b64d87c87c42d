#pragma once

#include "RecordingModbus485.h"
#include "ssqx.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

// An offscreen main window on a recording fake link, with "退出" observed instead of ending the tests.
class PanelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<ssqx>(link);
        window->setProcessEnd([this] {
            ++processEnds;
            // The process is gone: nothing ticks any more.
            window->Timer1->stop();
            window->Timer2->stop();
        });
        window->show();
    }

    void TearDown() override {
        if (window)
            window->KeepOpen = 0;
        window.reset();
    }

    void click(QWidget *control) { QTest::mouseClick(control, Qt::LeftButton); }

    // Opens with the window's defaults (port 1, station 1) and forgets the open call.
    void openWithDefaults() {
        click(window->Command9);
        link.calls.clear();
    }

    RecordingModbus485 link;
    std::unique_ptr<ssqx> window;
    int processEnds = 0;
};
