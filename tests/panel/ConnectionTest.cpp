#include "PanelFixture.h"
#include "ValueField.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>

namespace {

using ConnectionTest = PanelFixture;

QStringList items(const QComboBox *combo) {
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

TEST_F(ConnectionTest, LoadingFillsListsAndDefaultsWithoutTouchingTheLink) {
    QStringList ports, stations;
    for (int n = 1; n <= 19; ++n)
        ports << QString::number(n) + QStringLiteral(" ");
    for (int n = 1; n <= 16; ++n)
        stations << QString::number(n) + QStringLiteral(" ");
    EXPECT_EQ(items(window->Combo1), ports);
    EXPECT_EQ(window->Combo1->currentText(), QStringLiteral("1 "));
    EXPECT_EQ(items(window->Combo2), stations);
    EXPECT_EQ(window->Combo2->currentText(), QStringLiteral("1 "));
    EXPECT_EQ(items(window->Combo12), (QStringList{QStringLiteral("0:无校验 "), QStringLiteral("1:奇校验 "),
                                                   QStringLiteral("2:偶校验 ")}));
    EXPECT_EQ(window->Combo12->currentText(), QStringLiteral("0:无校验 "));
    for (QComboBox *combo : {window->Combo6, window->Combo7, window->Combo8}) {
        EXPECT_EQ(items(combo), (QStringList{QStringLiteral("0:软件清零 "), QStringLiteral("1:硬件清零 ")}));
        EXPECT_EQ(combo->currentText(), QStringLiteral("0:软件清零 "));
    }
    EXPECT_FALSE(window->Option1(0)->isChecked());
    EXPECT_TRUE(window->Option1(1)->isChecked());
    EXPECT_FALSE(window->Option1(2)->isChecked());
    EXPECT_TRUE(window->Option2(0)->isChecked());
    EXPECT_EQ(window->KeepOpen, -1);
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_FALSE(window->Timer2->isActive());
    EXPECT_TRUE(link.calls.isEmpty());
}

TEST_F(ConnectionTest, OpenReadsTheSettingsAndStartsBothPolls) {
    const struct {
        const char *port;
        int baud;
        int parity;
        const char *station;
        const char *expectedOpen;
        int32_t expectedStation;
    } cases[] = {
        {"1 ", 1, 0, "1 ", "OpenPort_Modbus(1,1,0)", 1},
        {"19 ", 2, 2, "16 ", "OpenPort_Modbus(19,2,2)", 16},
        {"3 ", 0, 1, "7 ", "OpenPort_Modbus(3,0,1)", 7},
        {"2.5", 1, 0, "3.5", "OpenPort_Modbus(2,1,0)", 4},
        {"COM1", 1, 0, "abc", "OpenPort_Modbus(0,1,0)", 0},
        {"&H10", 1, 0, " 1 2 ", "OpenPort_Modbus(16,1,0)", 12},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.port);
        link.calls.clear();
        window->Combo1->setCurrentText(QString::fromUtf8(c.port));
        window->Combo2->setCurrentText(QString::fromUtf8(c.station));
        window->Option1(c.baud)->setChecked(true);
        window->Option2(c.parity)->setChecked(true);
        link.scriptResults(QStringLiteral("OpenPort_Modbus"), {-77});
        click(window->Command9);
        EXPECT_EQ(link.calls, QStringList{QString::fromUtf8(c.expectedOpen)});
        EXPECT_EQ(window->PanelVars[PanelVar::Station], c.expectedStation);
        EXPECT_EQ(window->PanelVars[PanelVar::OpenResult], -77);
        EXPECT_TRUE(window->Timer1->isActive());
        EXPECT_TRUE(window->Timer2->isActive());
        EXPECT_EQ(window->Timer1->interval(), 500);
        EXPECT_EQ(window->Timer2->interval(), 500);
    }
}

TEST_F(ConnectionTest, CloseUsesThePortOfTheLastOpenAndBlanksTheLamps) {
    click(window->Command10);
    EXPECT_EQ(link.calls, QStringList{QStringLiteral("ClosePort_Modbus(0)")});

    window->Combo1->setCurrentText(QStringLiteral("3 "));
    click(window->Command9);
    window->Combo1->setCurrentText(QStringLiteral("5 "));
    link.setBlock(QStringLiteral("Get_1X_B16"), {0xFF, 3});
    link.setBlock(QStringLiteral("Get_0X_B16"), {0x1F, 0});
    window->Timer1_Timer();
    ASSERT_EQ(window->B_2R(0)->text(), QStringLiteral("输入X1闭合"));
    link.calls.clear();

    click(window->Command10);
    EXPECT_EQ(link.calls, QStringList{QStringLiteral("ClosePort_Modbus(3)")});
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_FALSE(window->Timer2->isActive());
    for (int i = 0; i <= 9; ++i) {
        EXPECT_EQ(window->B_2R(i)->text(), QStringLiteral(" "));
        EXPECT_EQ(fieldColour(window->B_2R(i)), 0xC0FFFFu);
    }
    for (int i = 0; i <= 4; ++i) {
        EXPECT_EQ(window->B_1RW(i)->text(), QStringLiteral(" "));
        EXPECT_EQ(fieldColour(window->B_1RW(i)), 0xFFFFC0u);
    }
}

TEST_F(ConnectionTest, OnlyExitClosesTheWindowAndItNeverClosesThePort) {
    openWithDefaults();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->Timer1->isActive());
    QTest::keyClick(window.get(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(processEnds, 0);

    click(window->Command1);
    EXPECT_EQ(processEnds, 1);
    EXPECT_EQ(window->KeepOpen, 0);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(link.calls.isEmpty());
}

TEST_F(ConnectionTest, LibraryMissingStillStartsAndStopsThePolls) {
    link.libraryMissing = true;
    window->PanelVars[PanelVar::OpenResult] = 5;
    click(window->Command9);
    EXPECT_EQ(window->PanelVars[PanelVar::OpenResult], 5);
    EXPECT_EQ(window->PanelVars[PanelVar::Port], 1);
    EXPECT_TRUE(window->Timer1->isActive());
    EXPECT_TRUE(window->Timer2->isActive());

    window->Timer1_Timer();
    EXPECT_EQ(window->Label2(9)->text(), QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy")));
    EXPECT_NE(window->Label2(10)->text(), QStringLiteral("18：42：00"));
    EXPECT_EQ(window->B_2R(0)->text(), QStringLiteral("输入X1断开"));
    EXPECT_EQ(window->B_2R(9)->text(), QStringLiteral("输入X10断开"));
    EXPECT_EQ(fieldColour(window->B_2R(9)), 0xC0FFFFu);
    EXPECT_EQ(window->B_1RW(4)->text(), QStringLiteral("输出Y5断开"));
    EXPECT_EQ(fieldColour(window->B_1RW(4)), 0xFFFF00u);
    EXPECT_EQ(window->Label5->text(), QStringLiteral("0"));

    window->Timer2_Timer();
    for (int i = 0; i <= 2; ++i)
        EXPECT_EQ(window->D_4R(i)->text(), QStringLiteral("0"));
    for (int i = 0; i <= 5; ++i)
        EXPECT_EQ(window->D_3R(i)->text(), QStringLiteral("0"));
    for (int i = 6; i <= 8; ++i)
        EXPECT_EQ(window->D_3R(i)->text(), QStringLiteral("软件清零"));
    EXPECT_EQ(window->D_4WRW(21)->text(), QStringLiteral("无校验"));

    click(window->Command10);
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_FALSE(window->Timer2->isActive());
    EXPECT_EQ(window->B_2R(0)->text(), QStringLiteral(" "));
    EXPECT_TRUE(link.calls.isEmpty());
}

// Whatever is typed into the port and address boxes, the open neither crashes nor disturbs the rest:
// a number too large for 32 bits leaves the element as it was.
TEST_F(ConnectionTest, GarbageInPortAndAddressBoxes) {
    const struct {
        QString text;
        bool overflows;
        int32_t value;
    } cases[] = {
        {QStringLiteral("abc"), false, 0},         {QStringLiteral("1e30"), true, 0},
        {QStringLiteral("-1e30"), true, 0},        {QStringLiteral("99999999999"), true, 0},
        {QString(10000, u'7'), true, 0},           {QString(10000, u'x'), false, 0},
        {QStringLiteral("端口三"), false, 0},      {QStringLiteral("١٢"), false, 0},
        {QStringLiteral("\t-3\n"), false, -3},     {QStringLiteral("2147483647"), false, 2147483647},
        {QStringLiteral("&HFFFFFFFFFF"), true, 0}, {QStringLiteral("5 x7"), false, 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.left(16).toStdString());
        window->PanelVars[PanelVar::Port] = 6;
        window->PanelVars[PanelVar::Station] = 9;
        window->Combo1->setCurrentText(c.text);
        window->Combo2->setCurrentText(c.text);
        link.calls.clear();
        click(window->Command9);
        const int32_t expected0 = c.overflows ? 6 : c.value;
        const int32_t expected3 = c.overflows ? 9 : c.value;
        EXPECT_EQ(window->PanelVars[PanelVar::Port], expected0);
        EXPECT_EQ(window->PanelVars[PanelVar::Station], expected3);
        EXPECT_EQ(link.calls, QStringList{QStringLiteral("OpenPort_Modbus(%1,1,0)").arg(expected0)});
        EXPECT_EQ(window->PanelVars[PanelVar::BaudCode], 1);
        EXPECT_EQ(window->PanelVars[PanelVar::ParityCode], 0);
        EXPECT_TRUE(window->Timer1->isActive());
        EXPECT_EQ(window->Combo1->currentText(), c.text);
    }
}

// Types text as an operator does: keys for ASCII, an input method's committed text for the rest.
void type(QLineEdit *edit, const QString &text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(edit, c.toLatin1());
        } else {
            QInputMethodEvent event;
            event.setCommitString(QString(c));
            QApplication::sendEvent(edit, &event);
        }
    }
}

// The same through the keyboard, into the edit fields of the two boxes.
TEST_F(ConnectionTest, TypingIntoPortAndAddressBoxes) {
    const struct {
        QString typed;
        int32_t value;
    } cases[] = {
        {QStringLiteral("COM3"), 0}, {QStringLiteral("1e30"), 1}, // too large: the previous open's 1 stays
        {QStringLiteral("端口"), 0}, {QStringLiteral(" 1 2"), 12},
        {QStringLiteral("3.5"), 4},  {QStringLiteral("Ω≈ç√∫"), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        window->Combo1->setCurrentText(QStringLiteral("1 "));
        window->Combo2->setCurrentText(QStringLiteral("1 "));
        click(window->Command9);
        for (QComboBox *box : {window->Combo1, window->Combo2}) {
            box->lineEdit()->selectAll();
            QTest::keyClick(box->lineEdit(), Qt::Key_Delete);
            type(box->lineEdit(), c.typed);
            EXPECT_EQ(box->currentText(), c.typed);
        }
        link.calls.clear();
        click(window->Command9);
        EXPECT_EQ(link.calls, QStringList{QStringLiteral("OpenPort_Modbus(%1,1,0)").arg(c.value)});
        EXPECT_EQ(window->PanelVars[PanelVar::Station], c.value);
        EXPECT_EQ(window->Combo1->count(), 19);
        EXPECT_EQ(window->Combo2->count(), 16);
    }
}

} // namespace
