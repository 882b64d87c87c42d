// The real window offscreen, the real MODBUS485 library and qm4107-sim on a pseudo-terminal.
#include "CountingModbus485.h"
#include "Modbus485Library.h"
#include "SimProcess.h"
#include "ValueField.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Each test uses its own port number, so the library's per-port state never carries over between tests.
class PanelEndToEndTest : public WindowFixture {
protected:
    void start(int port) {
        ASSERT_FALSE(sim.devicePath().isEmpty());
        qputenv(qPrintable(QStringLiteral("MODBUS485_PORT%1").arg(port)), sim.devicePath().toLocal8Bit());
        makeWindow(observed);
        window->show();
        window->Combo1->setCurrentText(QString::number(port) + u' ');
        click(window->Command9);
    }

    void TearDown() override {
        if (window)
            window->Command10_Click();
        WindowFixture::TearDown();
    }

    // Generous: the polls run every 500 ms, and only a fault takes anything near this long.
    static constexpr int DeadlineMs = 20000;

    bool waitForText(QLabel *label, const QString &text) {
        return QTest::qWaitFor([&] { return label->text() == text; }, DeadlineMs);
    }

    // Waits for a request in the simulator's log while the window goes on running its timers.
    bool seen(const QString &request) {
        return QTest::qWaitFor([&] { return sim.waitForLog(request, 0); }, DeadlineMs);
    }

    SimProcess sim;
    Modbus485Library library;
    CountingModbus485 observed{library};
};

TEST_F(PanelEndToEndTest, InputsOutputsSilenceAndClose) {
    start(11);
    EXPECT_TRUE(seen(QStringLiteral("read-inputs 1 16")));
    EXPECT_EQ(window->Label5->text(), QStringLiteral("0"));

    // All eight of X1-X8 closed is a valid answer, shown within two ticks.
    sim.command(QStringLiteral("inputs 1111111101"));
    EXPECT_TRUE(waitForText(window->B_2R(7), QStringLiteral("输入X8闭合")));
    EXPECT_TRUE(waitForText(window->B_2R(9), QStringLiteral("输入X10闭合")));
    EXPECT_EQ(window->B_2R(0)->text(), QStringLiteral("输入X1闭合"));
    EXPECT_EQ(fieldColour(window->B_2R(0)), 0x00FF00u);
    EXPECT_EQ(window->B_2R(8)->text(), QStringLiteral("输入X9断开"));
    EXPECT_EQ(fieldColour(window->B_2R(8)), 0xC0FFFFu);

    sim.takeLog();
    click(window->Command2(2));
    EXPECT_TRUE(seen(QStringLiteral("write-coil 3 1")));
    EXPECT_EQ(sim.takeLog().filter(QStringLiteral("write-coil")),
              QStringList{QStringLiteral("write-coil 3 1")});
    EXPECT_TRUE(waitForText(window->B_1RW(2), QStringLiteral("输出Y3闭合")));
    EXPECT_EQ(fieldColour(window->B_1RW(2)), 0xFFC0C0u);
    EXPECT_EQ(window->B_1RW(1)->text(), QStringLiteral("输出Y2断开"));

    // A silent module shows as failed reads and recovers when it answers again.
    sim.command(QStringLiteral("silent"));
    EXPECT_TRUE(waitForText(window->B_2R(0), QStringLiteral("通讯失败")));
    EXPECT_TRUE(waitForText(window->B_1RW(4), QStringLiteral("通讯失败")));
    EXPECT_EQ(fieldColour(window->B_2R(0)), 0xFF8080u);
    sim.command(QStringLiteral("normal"));
    EXPECT_TRUE(waitForText(window->B_2R(0), QStringLiteral("输入X1闭合")));
    EXPECT_TRUE(waitForText(window->B_1RW(2), QStringLiteral("输出Y3闭合")));

    // "关闭" blanks the lamps and stops both polls: nothing more goes out on the line.
    sim.takeSettledLog();
    click(window->Command10);
    for (int i = 0; i <= 9; ++i)
        EXPECT_EQ(window->B_2R(i)->text(), QStringLiteral(" "));
    EXPECT_EQ(fieldColour(window->B_1RW(2)), 0xFFFFC0u);
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_FALSE(window->Timer2->isActive());
    QCoreApplication::processEvents();
    EXPECT_EQ(sim.takeSettledLog(), QStringList{});
}

TEST_F(PanelEndToEndTest, CountersPresetsClearModesAndParity) {
    sim.command(QStringLiteral("register 2 55"));
    sim.command(QStringLiteral("pulses 1 50"));
    start(12);

    // Pulses on X1: a frequency and a rising count.
    EXPECT_TRUE(waitForText(window->D_4R(0), QStringLiteral("50")));
    EXPECT_TRUE(waitForText(window->D_3R(1), QStringLiteral("55")));
    const int firstCount = window->D_3R(0)->text().toInt();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->D_3R(0)->text().toInt() > firstCount; }, DeadlineMs));
    EXPECT_EQ(window->D_3R(8)->text(), QStringLiteral("软件清零"));
    EXPECT_EQ(window->D_4WRW(21)->text(), QStringLiteral("无校验"));

    // Clear X2.
    sim.takeLog();
    click(window->D_3R(1));
    click(window->Command5(1));
    EXPECT_TRUE(seen(QStringLiteral("write-register 2 0")));
    EXPECT_TRUE(waitForText(window->D_3R(1), QStringLiteral("0")));

    // Preset 1234 on X1, clear mode "1:硬件清零 " on X3.
    click(window->D_3R(3));
    window->D_3RW(3)->setText(QStringLiteral("1234"));
    click(window->Command5(3));
    click(window->D_3R(8));
    window->Combo8->setCurrentIndex(1);
    click(window->Command5(8));
    EXPECT_TRUE(seen(QStringLiteral("write-register 4 1234")));
    EXPECT_TRUE(seen(QStringLiteral("write-register 9 1")));
    const QStringList holding = sim.stateValue(QStringLiteral("holding-registers")).split(u',');
    ASSERT_EQ(holding.size(), 9);
    EXPECT_EQ(holding[3], QStringLiteral("1234"));
    EXPECT_EQ(holding[8], QStringLiteral("1"));
    EXPECT_TRUE(waitForText(window->D_3R(3), QStringLiteral("1234")));
    EXPECT_TRUE(waitForText(window->D_3R(8), QStringLiteral("硬件清零")));

    // The module's own parity.
    window->Combo12->setCurrentIndex(1);
    click(window->Command4);
    EXPECT_TRUE(seen(QStringLiteral("write-register 256 1")));
    EXPECT_EQ(sim.stateValue(QStringLiteral("parity")), QStringLiteral("1"));
    EXPECT_TRUE(waitForText(window->D_4WRW(21), QStringLiteral("奇校验")));
    EXPECT_TRUE(window->Option2(0)->isChecked());
}

// Between the reads of a counter-poll tick the window handles "置位", then "关闭"; the simulator's traffic
// shows the write between the two block reads. "退出" in a yield then ends with nothing more on the line.
TEST_F(PanelEndToEndTest, CommandsInterleaveWithTheCounterPoll) {
    start(13);
    window->Timer1->stop();
    window->Timer2->stop();
    sim.takeSettledLog();

    observed.afterCall = [&](const QString &operation) {
        if (operation == QStringLiteral("Get_3X_UnD8"))
            QTimer::singleShot(0, window.get(), [&] { click(window->Command2(4)); });
        if (operation == QStringLiteral("Get_4X_UnD8"))
            QTimer::singleShot(0, window.get(), [&] { click(window->Command10); });
    };
    window->Timer2_Timer();
    observed.afterCall = nullptr;
    EXPECT_TRUE(seen(QStringLiteral("read-holding-registers 1 8")));
    const QStringList traffic = sim.takeSettledLog();
    ASSERT_GE(traffic.size(), 3);
    EXPECT_TRUE(traffic[0].startsWith(QStringLiteral("read-input-registers 1 8")));
    EXPECT_EQ(traffic[1], QStringLiteral("write-coil 5 1"));
    EXPECT_TRUE(traffic[2].startsWith(QStringLiteral("read-holding-registers 1 8")));
    // After the close the tick still makes its last two reads, which the closed port cannot send.
    EXPECT_EQ(traffic.size(), 3) << traffic.join(u'\n').toStdString();

    click(window->Command9);
    window->Timer1->stop();
    window->Timer2->stop();
    sim.takeSettledLog();
    observed.afterCall = [&](const QString &operation) {
        if (operation == QStringLiteral("Get_3X_UnD8"))
            QTimer::singleShot(0, window.get(), [&] { click(window->Command1); });
    };
    window->Timer2_Timer();
    observed.afterCall = nullptr;
    EXPECT_EQ(processEnds, 1);
    QCoreApplication::processEvents();
    const QStringList afterExit = sim.takeSettledLog();
    ASSERT_EQ(afterExit.size(), 1) << afterExit.join(u'\n').toStdString();
    EXPECT_TRUE(afterExit[0].startsWith(QStringLiteral("read-input-registers 1 8")));
}

// An adapter pulled out and plugged back in under the same name: the status turns 2 and the lamps blank, then
// both come back by themselves, with no second "打开".
TEST_F(PanelEndToEndTest, DeviceBackUnderItsNameBringsTheLampsBack) {
    QTemporaryDir dir;
    const QStringList module = {QStringLiteral("--link"), dir.filePath(QStringLiteral("ttyQM")),
                                QStringLiteral("-c"), QStringLiteral("inputs 1000000000")};
    auto adapter = std::make_unique<SimProcess>(module);
    qputenv("MODBUS485_PORT14", dir.filePath(QStringLiteral("ttyQM")).toLocal8Bit());
    makeWindow(observed);
    window->show();
    window->Combo1->setCurrentText(QStringLiteral("14 "));
    click(window->Command9);
    EXPECT_TRUE(waitForText(window->B_2R(0), QStringLiteral("输入X1闭合")));

    adapter.reset();
    EXPECT_TRUE(waitForText(window->Label5, QStringLiteral("2")));
    EXPECT_TRUE(waitForText(window->B_2R(0), QStringLiteral(" ")));
    adapter = std::make_unique<SimProcess>(module);
    EXPECT_TRUE(waitForText(window->Label5, QStringLiteral("0")));
    EXPECT_TRUE(waitForText(window->B_2R(0), QStringLiteral("输入X1闭合")));
    EXPECT_EQ(observed.callsOf(QStringLiteral("OpenPort_Modbus")), 1);
}

} // namespace
