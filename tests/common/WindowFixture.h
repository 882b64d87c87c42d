#pragma once

#include "ssqx.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

// An offscreen main window on the link a test gives it, with "退出" counted instead of ending the tests.
class WindowFixture : public ::testing::Test {
protected:
    // Creates the window; it is shown only when the test asks.
    void makeWindow(Modbus485 &link) { makeWindow(std::make_unique<ssqx>(link)); }
    void makeWindow(std::unique_ptr<ssqx> made) {
        window = std::move(made);
        window->setProcessEnd([this] {
            ++processEnds;
            // The process is gone: nothing ticks any more.
            window->Timer1->stop();
            window->Timer2->stop();
        });
    }

    void TearDown() override {
        if (window)
            window->KeepOpen = 0;
        window.reset();
    }

    void click(QWidget *control) { QTest::mouseClick(control, Qt::LeftButton); }

    std::unique_ptr<ssqx> window;
    int processEnds = 0;
};
