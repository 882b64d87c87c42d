#include "PanelFixture.h"
#include "ValueField.h"

#include <QRegularExpression>

namespace {

using IoPollTest = PanelFixture;

constexpr QRgb Green = 0x00FF00, LightCyan = 0xC0FFFF, Pink = 0xFFC0C0, Yellow = 0xFFFF00,
               LightYellow = 0xFFFFC0, LightRed = 0xFF8080;

// What a lamp shows: 'C' closed, 'O' open, 'F' failed, ' ' blanked.
QString lampStates(ssqx &window) {
    QString states;
    const auto state = [](QLabel *lamp, QRgb closed, QRgb open, QRgb blank) -> QChar {
        const QString text = lamp->text();
        const QRgb colour = fieldColour(lamp);
        if (text == QStringLiteral("通讯失败") && colour == LightRed)
            return u'F';
        if (text == QStringLiteral(" ") && colour == blank)
            return u' ';
        if (text.endsWith(QStringLiteral("闭合")) && colour == closed)
            return u'C';
        if (text.endsWith(QStringLiteral("断开")) && colour == open)
            return u'O';
        return u'?';
    };
    for (int i = 0; i <= 9; ++i)
        states += state(window.B_2R(i), Green, LightCyan, LightCyan);
    states += u'|';
    for (int i = 0; i <= 4; ++i)
        states += state(window.B_1RW(i), Pink, Yellow, LightYellow);
    return states;
}

TEST_F(IoPollTest, LampsFromReceivedWords) {
    const struct {
        int32_t inputs0, inputs1, coils, status;
        const char *lamps; // X1..X10 | Y1..Y5
    } cases[] = {
        {0, 0, 0, 0, "OOOOOOOOOO|OOOOO"},
        {255, 3, 31, 0, "CCCCCCCCCC|CCCCC"}, // 255 is eight closed inputs, not a failure
        {254, 1, 224, 0, "OCCCCCCCCO|OOOOO"},
        {1, 2, 4, 0, "COOOOOOOOC|OOCOO"},
        {0x5A, 0xFC, 0x15, 0, "OCOCCOCOOO|COCOC"},
        {256, 3, 0, 0, "FFFFFFFFCC|OOOOO"},
        {-1, 0, 255, 0, "FFFFFFFFOO|CCCCC"},
        {-8888, -8888, -8888, 0, "FFFFFFFFFF|FFFFF"},
        {3, 256, 0, 0, "CCOOOOOOFF|OOOOO"},
        {0, 0, 256, 0, "OOOOOOOOOO|FFFFF"},
        {0, 0, -1, 0, "OOOOOOOOOO|FFFFF"},
        {255, 3, 31, 5, "          |     "},
        {-8888, 0, 0, -1, "          |     "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lamps);
        link.scriptBlock(QStringLiteral("Get_1X_B16"), {c.inputs0, c.inputs1});
        link.scriptBlock(QStringLiteral("Get_0X_B16"), {c.coils, 0});
        link.scriptResults(QStringLiteral("GetPort_Status"), {c.status});
        window->Timer1_Timer();
        EXPECT_EQ(lampStates(*window), QString::fromLatin1(c.lamps));
        EXPECT_EQ(window->Label5->text(), QString::number(c.status));
    }
}

TEST_F(IoPollTest, ExactCaptions) {
    link.scriptBlock(QStringLiteral("Get_1X_B16"), {0x55, 0x02});
    link.scriptBlock(QStringLiteral("Get_0X_B16"), {0x0A, 0});
    window->Timer1_Timer();
    const QStringList expected{
        QStringLiteral("输入X1闭合"),  QStringLiteral("输入X2断开"), QStringLiteral("输入X3闭合"),
        QStringLiteral("输入X4断开"),  QStringLiteral("输入X5闭合"), QStringLiteral("输入X6断开"),
        QStringLiteral("输入X7闭合"),  QStringLiteral("输入X8断开"), QStringLiteral("输入X9断开"),
        QStringLiteral("输入X10闭合"), QStringLiteral("输出Y1断开"), QStringLiteral("输出Y2闭合"),
        QStringLiteral("输出Y3断开"),  QStringLiteral("输出Y4闭合"), QStringLiteral("输出Y5断开")};
    QStringList shown;
    for (int i = 0; i <= 9; ++i)
        shown << window->B_2R(i)->text();
    for (int i = 0; i <= 4; ++i)
        shown << window->B_1RW(i)->text();
    EXPECT_EQ(shown, expected);
}

TEST_F(IoPollTest, ReadsInOrderWithTheRecordedPortAndStation) {
    window->Combo1->setCurrentText(QStringLiteral("7 "));
    window->Combo2->setCurrentText(QStringLiteral("12 "));
    click(window->Command9);
    window->Combo1->setCurrentText(QStringLiteral("2 "));
    link.calls.clear();
    window->Timer1_Timer();
    EXPECT_EQ(link.calls,
              (QStringList{QStringLiteral("Get_1X_B16(7,12,1)"), QStringLiteral("Get_0X_B16(7,12,1)"),
                           QStringLiteral("GetPort_Status(7)")}));
}

TEST_F(IoPollTest, ClockShowsMonthFirstDateAndTime) {
    EXPECT_EQ(window->Label2(9)->text(), QStringLiteral("2001-03-12"));
    window->Timer1_Timer();
    EXPECT_EQ(window->Label2(9)->text(), QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d{4}$"))
                    .match(window->Label2(9)->text())
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))
                    .match(window->Label2(10)->text())
                    .hasMatch());
}

TEST_F(IoPollTest, ByteSplitIntoBitFlags) {
    for (int b = 0; b <= 255; ++b) {
        window->BitFlags.fill(7);
        window->D_Byte(static_cast<uint8_t>(b));
        for (int i = 0; i < 8; ++i)
            ASSERT_EQ(window->BitFlags[i], (b >> i) & 1) << b << " bit " << i;
    }
}

TEST_F(IoPollTest, TimerTicksRunThePoll) {
    link.setBlock(QStringLiteral("Get_1X_B16"), {1, 0});
    openWithDefaults();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window->B_2R(0)->text() == QStringLiteral("输入X1闭合"); }, 20000));
}

using OutputsTest = PanelFixture;

TEST_F(OutputsTest, OneCoilWritePerPress) {
    click(window->Command2(0));
    EXPECT_EQ(link.calls, QStringList{QStringLiteral("Set_0X_Bit1(0,0,1)")});
    window->Combo1->setCurrentText(QStringLiteral("4 "));
    window->Combo2->setCurrentText(QStringLiteral("9 "));
    click(window->Command9);

    const struct {
        QPushButton *button;
        const char *call;
    } cases[] = {
        {window->Command2(0), "Set_0X_Bit1(4,9,1)"}, {window->Command2(2), "Set_0X_Bit1(4,9,3)"},
        {window->Command2(4), "Set_0X_Bit1(4,9,5)"}, {window->Command3(0), "Rst_0X_Bit1(4,9,1)"},
        {window->Command3(3), "Rst_0X_Bit1(4,9,4)"}, {window->Command3(4), "Rst_0X_Bit1(4,9,5)"},
    };
    for (const auto &c : cases) {
        link.calls.clear();
        link.scriptResults(QString::fromLatin1(c.call).section(u'(', 0, 0), {-8888});
        click(c.button);
        click(c.button);
        EXPECT_EQ(link.calls, (QStringList{QString::fromLatin1(c.call), QString::fromLatin1(c.call)}));
    }

    link.calls.clear();
    for (const int16_t index : {int16_t(-1), int16_t(5), int16_t(100)}) {
        window->Command2_Click(index);
        window->Command3_Click(index);
    }
    EXPECT_TRUE(link.calls.isEmpty());

    link.libraryMissing = true;
    window->Command2_Click(1);
    window->Command3_Click(1);
}

} // namespace
