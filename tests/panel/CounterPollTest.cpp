#include "PanelFixture.h"

namespace {

using CounterPollTest = PanelFixture;

QStringList captions(const ControlArray<QLabel> &labels, int first, int last) {
    QStringList texts;
    for (int i = first; i <= last; ++i)
        texts << labels(i)->text();
    return texts;
}

TEST_F(CounterPollTest, FourReadsInOrderAndTheirCaptions) {
    window->Combo1->setCurrentText(QStringLiteral("2 "));
    window->Combo2->setCurrentText(QStringLiteral("5 "));
    openWithDefaults();
    link.scriptBlock(QStringLiteral("Get_3X_UnD8"), {11, 12, 13, 14, 15, 16, 17, 18});
    link.scriptResults(QStringLiteral("Get_3X_UnD8"), {50});
    link.scriptBlock(QStringLiteral("Get_4X_UnD8"), {21, 65535, -3, 1234, 0, 7, 0, 2});
    link.scriptResults(QStringLiteral("Get_4X_UnD8"), {-8888});
    link.scriptResults(QStringLiteral("Get_4X_UnD1"), {5});
    link.scriptResults(QStringLiteral("Get_4X_D1"), {1});
    window->Timer2_Timer();

    EXPECT_EQ(link.calls,
              (QStringList{QStringLiteral("Get_3X_UnD8(2,5,1)"), QStringLiteral("Get_4X_UnD8(2,5,1)"),
                           QStringLiteral("Get_4X_UnD1(2,5,9)"), QStringLiteral("Get_4X_D1(2,5,256)")}));
    // The block reads' function values stand in for their first register.
    EXPECT_EQ(captions(window->D_4R, 0, 2), (QStringList{"50", "12", "13"}));
    EXPECT_EQ(window->FreqRegs[0], 50);
    EXPECT_EQ(window->FreqRegs[7], 18);
    EXPECT_EQ(captions(window->D_3R, 0, 8),
              (QStringList{"-8888", "65535", "-3", "1234", "0", "7", QStringLiteral("软件清零"),
                           QStringLiteral("硬件清零"), QStringLiteral("硬件清零")}));
    EXPECT_EQ(window->CounterRegs[8], 5);
    EXPECT_EQ(window->D_4WRW(21)->text(), QStringLiteral("奇校验"));
}

TEST_F(CounterPollTest, ParityCaptions) {
    const struct {
        int32_t value;
        const char *caption;
    } cases[] = {
        {3, ""},       {0, "无校验"},     {3, "无校验"},   {1, "奇校验"},   {-1, "奇校验"},
        {2, "偶校验"}, {65535, "偶校验"}, {-8888, "失败"}, {-8887, "失败"}, {0, "无校验"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        link.scriptResults(QStringLiteral("Get_4X_D1"), {c.value});
        window->Timer2_Timer();
        EXPECT_EQ(window->D_4WRW(21)->text(), QString::fromUtf8(c.caption));
    }
}

TEST_F(CounterPollTest, ClearModeCaptions) {
    for (const int32_t mode : {0, 1, 2, 5, 65535, -1, -8888}) {
        SCOPED_TRACE(mode);
        link.scriptBlock(QStringLiteral("Get_4X_UnD8"), {0, 0, 0, 0, 0, 0, mode, mode});
        link.scriptResults(QStringLiteral("Get_4X_UnD1"), {mode});
        window->Timer2_Timer();
        const QString expected = mode != 0 ? QStringLiteral("硬件清零") : QStringLiteral("软件清零");
        EXPECT_EQ(captions(window->D_3R, 6, 8), (QStringList{expected, expected, expected}));
    }
}

// The two yields are real: a command, an I/O tick or the close button runs between the reads of a tick;
// a further counter tick that arrives meanwhile is dropped, not run nested.
TEST_F(CounterPollTest, CommandsRunDuringTheYields) {
    openWithDefaults();
    bool firstRead = true;
    link.onCall = [&](const QString &call) {
        if (call.startsWith(QStringLiteral("Get_3X_UnD8")) && firstRead) {
            firstRead = false;
            QTimer::singleShot(0, window.get(), [&] { click(window->Command2(2)); });
            QTimer::singleShot(0, window.get(), [&] { window->Timer2_Timer(); });
            QTimer::singleShot(0, window.get(), [&] { window->Timer1_Timer(); });
        }
        if (call.startsWith(QStringLiteral("Get_4X_UnD8")))
            QTimer::singleShot(0, window.get(), [&] { click(window->Command10); });
    };
    window->Timer2_Timer();
    link.onCall = nullptr;
    EXPECT_EQ(link.calls,
              (QStringList{QStringLiteral("Get_3X_UnD8(1,1,1)"), QStringLiteral("Set_0X_Bit1(1,1,3)"),
                           QStringLiteral("Get_1X_B16(1,1,1)"), QStringLiteral("Get_0X_B16(1,1,1)"),
                           QStringLiteral("GetPort_Status(1)"), QStringLiteral("Get_4X_UnD8(1,1,1)"),
                           QStringLiteral("ClosePort_Modbus(1)"), QStringLiteral("Get_4X_UnD1(1,1,9)"),
                           QStringLiteral("Get_4X_D1(1,1,256)")}));
    EXPECT_FALSE(window->Timer2->isActive());

    // The guard is released afterwards: the next tick runs.
    link.calls.clear();
    window->Timer2_Timer();
    EXPECT_EQ(link.calls.size(), 4);
}

TEST_F(CounterPollTest, ExitDuringAYieldMakesNoFurtherCall) {
    for (const char *yieldAfter : {"Get_3X_UnD8", "Get_4X_UnD8"}) {
        SCOPED_TRACE(yieldAfter);
        SetUp();
        openWithDefaults();
        link.onCall = [&](const QString &call) {
            if (call.startsWith(QLatin1String(yieldAfter)))
                QTimer::singleShot(0, window.get(), [&] { click(window->Command1); });
        };
        window->Timer2_Timer();
        link.onCall = nullptr;
        EXPECT_EQ(processEnds, 1);
        EXPECT_EQ(link.calls.size(),
                  QString::fromLatin1(yieldAfter) == QStringLiteral("Get_3X_UnD8") ? 1 : 2);
        EXPECT_EQ(link.callsOf(QStringLiteral("ClosePort_Modbus")).size(), 0);
        EXPECT_FALSE(window->isVisible());
        QCoreApplication::processEvents();
        TearDown();
        processEnds = 0;
        link.calls.clear();
    }
}

TEST_F(CounterPollTest, TimerTicksRunThePoll) {
    link.setResult(QStringLiteral("Get_4X_D1"), 2);
    openWithDefaults();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window->D_4WRW(21)->text() == QStringLiteral("偶校验"); }, 20000));
}

} // namespace
