#include "Modbus485Library.h"
#include "WindowFixture.h"
#include "ui_ssqx.h"

#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace {

// The window description, control by control: positions in twips, relative to the frame for controls in one.
struct Control {
    const char *name;
    const char *kind;
    const char *frame; // nullptr: directly on the window
    const char *caption;
    int left, top, width, height;
    int tab;
    bool hidden;
};

const Control Controls[] = {
    {"Frame6", "QGroupBox", nullptr, "通讯端口选择", 90, 270, 2115, 585, 11, false},
    {"Combo1", "QComboBox", "Frame6", nullptr, 990, 210, 1005, 300, 12, false},
    {"Label1_0", "QLabel", "Frame6", "通讯端口", 120, 240, 795, 195, 13, false},
    {"Frame5_0", "QGroupBox", nullptr, "地址", 90, 930, 2115, 585, 14, false},
    {"Combo2", "QComboBox", "Frame5_0", nullptr, 990, 210, 975, 300, 15, false},
    {"Label1_1", "QLabel", "Frame5_0", "模块地址", 120, 240, 795, 285, 16, false},
    {"Frame2_1", "QGroupBox", nullptr, "波特率", 2310, 270, 3225, 555, 3, false},
    {"Option1_0", "QRadioButton", "Frame2_1", "4800", 120, 180, 855, 315, 4, false},
    {"Option1_1", "QRadioButton", "Frame2_1", "9600", 1200, 180, 675, 345, 5, false},
    {"Option1_2", "QRadioButton", "Frame2_1", "19200", 2250, 180, 795, 345, 6, false},
    {"Frame5_1", "QGroupBox", nullptr, "校验方式", 2280, 930, 3255, 555, 7, false},
    {"Option2_0", "QRadioButton", "Frame5_1", "无校验", 120, 180, 975, 285, 8, false},
    {"Option2_1", "QRadioButton", "Frame5_1", "奇校验", 1200, 180, 885, 315, 9, false},
    {"Option2_2", "QRadioButton", "Frame5_1", "偶校验", 2250, 180, 915, 315, 10, false},
    {"Command10", "QPushButton", nullptr, "关闭", 5640, 390, 825, 435, 18, false},
    {"Command9", "QPushButton", nullptr, "打开", 5640, 1020, 825, 435, 17, false},

    {"Frame1_0", "QGroupBox", nullptr, "X1-5", 120, 1590, 6375, 795, 20, false},
    {"B_2R_0", "QLabel", "Frame1_0", "", 90, 300, 1125, 285, 21, false},
    {"B_2R_1", "QLabel", "Frame1_0", "", 1350, 300, 1125, 285, 22, false},
    {"B_2R_2", "QLabel", "Frame1_0", "", 2610, 300, 1125, 285, 23, false},
    {"B_2R_3", "QLabel", "Frame1_0", "", 3870, 300, 1125, 285, 24, false},
    {"B_2R_4", "QLabel", "Frame1_0", "", 5130, 300, 1125, 285, 25, false},
    {"Frame1_33", "QGroupBox", nullptr, "X6-10", 120, 2490, 6375, 795, 26, false},
    {"B_2R_5", "QLabel", "Frame1_33", "", 90, 300, 1125, 285, 31, false},
    {"B_2R_6", "QLabel", "Frame1_33", "", 1350, 300, 1125, 285, 30, false},
    {"B_2R_7", "QLabel", "Frame1_33", "", 2610, 300, 1125, 285, 29, false},
    {"B_2R_8", "QLabel", "Frame1_33", "", 3870, 300, 1125, 285, 28, false},
    {"B_2R_9", "QLabel", "Frame1_33", "", 5130, 300, 1125, 285, 27, false},
    {"Frame1_1", "QGroupBox", nullptr, "Y1-5", 120, 3330, 6375, 1665, 32, false},
    {"B_1RW_0", "QLabel", "Frame1_1", "", 90, 300, 1125, 285, 37, false},
    {"B_1RW_1", "QLabel", "Frame1_1", "", 1350, 300, 1125, 285, 36, false},
    {"B_1RW_2", "QLabel", "Frame1_1", "", 2610, 300, 1125, 285, 35, false},
    {"B_1RW_3", "QLabel", "Frame1_1", "", 3870, 300, 1125, 285, 34, false},
    {"B_1RW_4", "QLabel", "Frame1_1", "", 5130, 300, 1125, 285, 33, false},
    {"Command2_0", "QPushButton", "Frame1_1", "置位", 180, 690, 975, 375, 38, false},
    {"Command2_1", "QPushButton", "Frame1_1", "置位", 1432, 690, 975, 375, 40, false},
    {"Command2_2", "QPushButton", "Frame1_1", "置位", 2684, 690, 975, 375, 41, false},
    {"Command2_3", "QPushButton", "Frame1_1", "置位", 3936, 690, 975, 375, 42, false},
    {"Command2_4", "QPushButton", "Frame1_1", "置位", 5190, 690, 975, 375, 43, false},
    {"Command3_0", "QPushButton", "Frame1_1", "复位", 180, 1170, 975, 375, 39, false},
    {"Command3_1", "QPushButton", "Frame1_1", "复位", 1432, 1170, 975, 375, 44, false},
    {"Command3_2", "QPushButton", "Frame1_1", "复位", 2684, 1170, 975, 375, 45, false},
    {"Command3_3", "QPushButton", "Frame1_1", "复位", 3936, 1170, 975, 375, 46, false},
    {"Command3_4", "QPushButton", "Frame1_1", "复位", 5190, 1170, 975, 375, 47, false},

    {"Frame3", "QGroupBox", nullptr, "测频", 6720, 480, 6375, 975, 52, false},
    {"D_4R_0", "QLabel", "Frame3", "", 330, 300, 1125, 285, 53, false},
    {"Label1_2", "QLabel", "Frame3", "X1测频值", 330, 690, 1125, 225, 54, false},
    {"D_4R_1", "QLabel", "Frame3", "", 2610, 300, 1125, 285, 55, false},
    {"Label1_3", "QLabel", "Frame3", "X2测频值", 2640, 690, 1125, 225, 57, false},
    {"D_4R_2", "QLabel", "Frame3", "", 4890, 300, 1125, 285, 56, false},
    {"Label1_4", "QLabel", "Frame3", "X3测频值", 4890, 690, 1125, 225, 58, false},

    {"Frame4_0", "QGroupBox", nullptr, "X1计数", 6720, 1590, 6375, 1065, 59, false},
    {"Label4_0", "QLabel", "Frame4_0", "计数值", 90, 300, 615, 225, 65, false},
    {"D_3R_0", "QLabel", "Frame4_0", "", 780, 240, 600, 285, 60, false},
    {"Label4_3", "QLabel", "Frame4_0", "预置值", 1980, 300, 615, 225, 67, false},
    {"D_3R_3", "QLabel", "Frame4_0", "", 2580, 240, 600, 285, 61, false},
    {"Label4_4", "QLabel", "Frame4_0", "清零方式", 3720, 330, 735, 225, 68, false},
    {"D_3R_6", "QLabel", "Frame4_0", "", 4560, 270, 800, 285, 66, false},
    {"D_3RW_3", "QLineEdit", "Frame4_0", "", 2910, 240, 585, 285, 62, true},
    {"Combo6", "QComboBox", "Frame4_0", nullptr, 4980, 240, 945, 300, 69, true},
    {"Command5_0", "QPushButton", "Frame4_0", "X1清零", 780, 600, 1035, 315, 63, true},
    {"Command5_3", "QPushButton", "Frame4_0", "X1预置", 2550, 600, 1035, 315, 64, true},
    {"Command5_6", "QPushButton", "Frame4_0", "清零方式", 4890, 600, 1035, 315, 70, true},

    {"Frame4_1", "QGroupBox", nullptr, "X2计数", 6720, 2730, 6375, 1065, 71, false},
    {"Label4_5", "QLabel", "Frame4_1", "计数值", 90, 300, 615, 225, 80, false},
    {"D_3R_1", "QLabel", "Frame4_1", "", 780, 240, 600, 285, 82, false},
    {"Label4_2", "QLabel", "Frame4_1", "预置值", 1980, 300, 615, 225, 78, false},
    {"D_3R_4", "QLabel", "Frame4_1", "", 2580, 240, 600, 285, 81, false},
    {"Label4_1", "QLabel", "Frame4_1", "清零方式", 3720, 330, 735, 225, 77, false},
    {"D_3R_7", "QLabel", "Frame4_1", "", 4560, 270, 800, 285, 79, false},
    {"D_3RW_4", "QLineEdit", "Frame4_1", "", 2910, 240, 585, 285, 76, true},
    {"Combo7", "QComboBox", "Frame4_1", nullptr, 4980, 240, 945, 300, 73, true},
    {"Command5_1", "QPushButton", "Frame4_1", "X2清零", 780, 600, 1035, 315, 75, true},
    {"Command5_4", "QPushButton", "Frame4_1", "X2预置", 2550, 600, 1035, 315, 74, true},
    {"Command5_7", "QPushButton", "Frame4_1", "清零方式", 4890, 600, 1035, 315, 72, true},

    {"Frame4_2", "QGroupBox", nullptr, "X3计数", 6720, 3930, 6375, 1065, 83, false},
    {"Label4_8", "QLabel", "Frame4_2", "计数值", 90, 300, 615, 225, 92, false},
    {"D_3R_2", "QLabel", "Frame4_2", "", 780, 240, 600, 285, 94, false},
    {"Label4_7", "QLabel", "Frame4_2", "预置值", 1980, 300, 615, 225, 90, false},
    {"D_3R_5", "QLabel", "Frame4_2", "", 2580, 240, 600, 285, 93, false},
    {"Label4_6", "QLabel", "Frame4_2", "清零方式", 3720, 330, 735, 225, 89, false},
    {"D_3R_8", "QLabel", "Frame4_2", "", 4560, 270, 800, 285, 91, false},
    {"D_3RW_5", "QLineEdit", "Frame4_2", "", 2910, 240, 585, 285, 88, true},
    {"Combo8", "QComboBox", "Frame4_2", nullptr, 4980, 240, 945, 300, 85, true},
    {"Command5_2", "QPushButton", "Frame4_2", "X3清零", 780, 600, 1035, 315, 87, true},
    {"Command5_5", "QPushButton", "Frame4_2", "X3预置", 2550, 600, 1035, 315, 86, true},
    {"Command5_8", "QPushButton", "Frame4_2", "清零方式", 4890, 600, 1035, 315, 84, true},

    {"Label5", "QLabel", nullptr, "", 960, 5190, 555, 255, 95, false},
    {"Label1_22", "QLabel", nullptr, "校验方式", 6660, 5190, 1005, 255, 50, false},
    {"D_4WRW_21", "QLabel", nullptr, "", 7680, 5130, 1545, 285, 51, false},
    {"Combo12", "QComboBox", nullptr, nullptr, 9330, 5130, 1245, 300, 49, false},
    {"Command4", "QPushButton", nullptr, "修改", 10680, 5100, 915, 405, 48, false},
    {"Command1", "QPushButton", nullptr, "退出", 11910, 5100, 1095, 405, 19, false},
    {"Label2_9", "QLabel", nullptr, "2001-03-12", 10470, 90, 1245, 285, 1, false},
    {"Label2_10", "QLabel", nullptr, "18：42：00", 11730, 90, 1305, 285, 2, false},
};

int pixels(int twips) {
    return (twips + 7) / 15;
}

QString nameOf(const Control &c) {
    return QString::fromLatin1(c.name);
}

bool focusable(const Control &c) {
    const QByteArray kind(c.kind);
    return kind == "QComboBox" || kind == "QLineEdit" || kind == "QPushButton" || kind == "QRadioButton";
}

// The form's own controls: named widgets of the control kinds, leaving out the inner parts of combo boxes.
std::set<QString> formControls(const QWidget &form) {
    std::set<QString> names;
    for (QWidget *w : form.findChildren<QWidget *>()) {
        if (qobject_cast<QComboBox *>(w->parentWidget()) || w->objectName().isEmpty() ||
            w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (qobject_cast<QGroupBox *>(w) || qobject_cast<QLabel *>(w) || qobject_cast<QComboBox *>(w) ||
            qobject_cast<QLineEdit *>(w) || qobject_cast<QPushButton *>(w) || qobject_cast<QRadioButton *>(w))
            names.insert(w->objectName());
    }
    return names;
}

// The form alone, as setupUi creates it, before any handler runs.
class BareForm : public ::testing::Test {
protected:
    void SetUp() override { ui.setupUi(&form); }
    QWidget *control(const Control &c) const { return form.findChild<QWidget *>(nameOf(c)); }

    QWidget form;
    Ui::ssqx ui;
};

TEST(MainWindowTable, DescribesNinetyFiveControlsWithDistinctTabNumbers) {
    std::set<int> tabs;
    std::set<QString> names;
    for (const Control &c : Controls) {
        tabs.insert(c.tab);
        names.insert(nameOf(c));
    }
    EXPECT_EQ(std::size(Controls), 95u);
    EXPECT_EQ(tabs.size(), std::size(Controls));
    EXPECT_EQ(names.size(), std::size(Controls));
}

TEST_F(BareForm, HoldsExactlyTheDescribedControls) {
    std::set<QString> expected;
    for (const Control &c : Controls)
        expected.insert(nameOf(c));
    const std::set<QString> actual = formControls(form);
    std::vector<QString> missing, extra;
    std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                        std::back_inserter(missing));
    std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << "missing: "
                                 << QStringList(missing.begin(), missing.end()).join(' ').toStdString();
    EXPECT_TRUE(extra.empty()) << "extra: "
                               << QStringList(extra.begin(), extra.end()).join(' ').toStdString();
}

TEST_F(BareForm, EachControlHasItsKindFrameGeometryCaptionAndVisibility) {
    for (const Control &c : Controls) {
        SCOPED_TRACE(c.name);
        QWidget *w = control(c);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), c.kind);
        const QString parent = c.frame ? QString::fromLatin1(c.frame) : QStringLiteral("");
        if (c.frame) {
            ASSERT_NE(w->parentWidget(), nullptr);
            EXPECT_EQ(w->parentWidget()->objectName(), parent);
            EXPECT_TRUE(qobject_cast<QGroupBox *>(w->parentWidget()));
        } else {
            EXPECT_EQ(w->parentWidget(), &form);
        }
        EXPECT_EQ(w->geometry(), QRect(pixels(c.left), pixels(c.top), pixels(c.width), pixels(c.height)));
        EXPECT_EQ(w->isHidden(), c.hidden);
        EXPECT_TRUE(w->isEnabled());
        if (c.caption) {
            QString text;
            if (auto *box = qobject_cast<QGroupBox *>(w))
                text = box->title();
            else if (auto *label = qobject_cast<QLabel *>(w))
                text = label->text();
            else if (auto *button = qobject_cast<QAbstractButton *>(w))
                text = button->text();
            else if (auto *edit = qobject_cast<QLineEdit *>(w))
                text = edit->text();
            EXPECT_EQ(text, QString::fromUtf8(c.caption));
        }
    }
}

TEST_F(BareForm, ControlsLieInsideTheirFramesAndFramesInsideTheWindow) {
    for (const Control &c : Controls) {
        SCOPED_TRACE(c.name);
        QWidget *w = control(c);
        ASSERT_NE(w, nullptr);
        const QRect bounds = c.frame ? w->parentWidget()->rect() : QRect(0, 0, 880, 381);
        EXPECT_TRUE(bounds.contains(w->geometry())) << w->geometry().x() << "," << w->geometry().y();
    }
}

TEST_F(BareForm, TabOrderAscendsOverTheFocusableControls) {
    std::vector<const Control *> ordered;
    for (const Control &c : Controls)
        if (focusable(c))
            ordered.push_back(&c);
    std::sort(ordered.begin(), ordered.end(), [](auto *a, auto *b) { return a->tab < b->tab; });
    ASSERT_EQ(ordered.size(), 38u);

    // Walk the focus chain from the first control and keep the controls of the table, in chain order.
    std::vector<QString> chain;
    QWidget *first = control(*ordered.front());
    QWidget *w = first;
    std::set<QString> names;
    for (const Control *c : ordered)
        names.insert(nameOf(*c));
    do {
        if (names.count(w->objectName()) && (w->focusPolicy() & Qt::TabFocus))
            chain.push_back(w->objectName());
        w = w->nextInFocusChain();
    } while (w != first);
    ASSERT_EQ(chain.size(), ordered.size());
    for (size_t k = 0; k < ordered.size(); ++k)
        EXPECT_EQ(chain[k], nameOf(*ordered[k])) << "position " << k;
    for (const Control &c : Controls) {
        if (!focusable(c)) {
            EXPECT_FALSE(control(c)->focusPolicy() & Qt::TabFocus) << c.name;
        }
    }
}

TEST_F(BareForm, CombosAreEditableEmptyListsWithTheirStartingText) {
    const std::map<QString, QString> text{{"Combo1", " "}, {"Combo2", ""},  {"Combo6", " "},
                                          {"Combo7", " "}, {"Combo8", " "}, {"Combo12", " "}};
    for (const auto &[name, expected] : text) {
        SCOPED_TRACE(name.toStdString());
        auto *combo = form.findChild<QComboBox *>(name);
        ASSERT_NE(combo, nullptr);
        EXPECT_TRUE(combo->isEditable());
        EXPECT_EQ(combo->count(), 0);
        EXPECT_EQ(combo->currentText(), expected);
    }
    for (QRadioButton *option : form.findChildren<QRadioButton *>())
        EXPECT_FALSE(option->isChecked()) << option->objectName().toStdString();
    for (QLineEdit *edit : {ui.D_3RW_3, ui.D_3RW_4, ui.D_3RW_5})
        EXPECT_TRUE(edit->text().isEmpty());
}

struct Look {
    const char *name;
    QRgb back; // 0: not filled
    bool border;
    const char *family;
    double points;
    bool bold, italic;
};

// The whole window on a library that cannot be found: its look, with no exchange made.
class MainWindowLook : public WindowFixture {
protected:
    void SetUp() override { makeWindow(link); }

    Modbus485Library link{QStringLiteral("qm4107-no-such-library")};
};

TEST_F(MainWindowLook, ValueFieldsClockAndSpecialFontsAreAsDescribed) {
    const QStringList names = {"B_2R_0", "B_2R_1", "B_2R_2", "B_2R_3", "B_2R_4",
                               "B_2R_5", "B_2R_6", "B_2R_7", "B_2R_8", "B_2R_9"};
    std::vector<std::pair<QString, Look>> table;
    for (const QString &n : names)
        table.push_back({n, {nullptr, 0xC0FFFF, true, "SimSun", 9, false, true}});
    for (int i = 0; i <= 4; ++i)
        table.push_back(
            {QStringLiteral("B_1RW_%1").arg(i), {nullptr, 0xFFFFC0, true, "SimSun", 9, false, true}});
    for (int i = 0; i <= 8; ++i)
        table.push_back(
            {QStringLiteral("D_3R_%1").arg(i), {nullptr, 0xFFC0FF, true, "SimSun", 9, false, true}});
    for (int i = 0; i <= 2; ++i)
        table.push_back(
            {QStringLiteral("D_4R_%1").arg(i), {nullptr, 0xFFC0FF, true, "SimSun", 9, false, true}});
    table.push_back({"D_4WRW_21", {nullptr, 0xFFFFFF, true, "SimSun", 10.5, false, true}});
    table.push_back({"Label2_9", {nullptr, 0x80FF80, true, "Arial", 10.5, true, true}});
    table.push_back({"Label2_10", {nullptr, 0x80FF80, true, "Arial", 10.5, true, true}});
    table.push_back({"Label1_22", {nullptr, 0, false, "SimSun", 9, false, true}});
    table.push_back({"Label5", {nullptr, 0, false, "SimSun", 9, false, false}});
    table.push_back({"Command1", {nullptr, 0, false, "SimSun", 10.5, false, false}});
    table.push_back({"Combo12", {nullptr, 0, false, "SimSun", 9, false, true}});
    for (const char *n : {"Combo6", "Combo7", "Combo8"})
        table.push_back({n, {nullptr, 0, false, "SimSun", 9, false, true}});
    for (int i = 3; i <= 5; ++i)
        table.push_back({QStringLiteral("D_3RW_%1").arg(i), {nullptr, 0, false, "SimSun", 9, true, true}});

    for (const auto &[name, look] : table) {
        SCOPED_TRACE(name.toStdString());
        auto *w = window->findChild<QWidget *>(name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->font().family(), QString::fromLatin1(look.family));
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), look.points);
        EXPECT_EQ(w->font().bold(), look.bold);
        EXPECT_EQ(w->font().italic(), look.italic);
        if (auto *label = qobject_cast<QLabel *>(w)) {
            EXPECT_EQ(label->autoFillBackground(), look.back != 0);
            if (look.back) {
                EXPECT_EQ(label->palette().color(QPalette::Window).rgb() & 0xFFFFFF, look.back);
            }
            EXPECT_EQ(label->frameShape(), look.border ? QFrame::Box : QFrame::NoFrame);
            if (look.border) {
                EXPECT_EQ(label->frameShadow(), QFrame::Plain);
                EXPECT_EQ(label->lineWidth(), 1);
                EXPECT_EQ(label->indent(), 0); // text right inside the border, as the clock's height needs
            }
        }
    }
    for (QLabel *clock : {window->Label2(9), window->Label2(10)}) {
        EXPECT_EQ(clock->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, 0xFF0000u);
        EXPECT_TRUE(clock->alignment() & Qt::AlignHCenter);
    }
}

TEST_F(MainWindowLook, FrameCaptionColoursStayOnTheFrames) {
    const QRgb plain = QApplication::palette().color(QPalette::WindowText).rgb() & 0xFFFFFF;
    EXPECT_EQ(window->Frame6->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(window->Frame2(1)->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, 0x008000u);
    std::vector<QWidget *> children{window->Label1(0), window->Combo1};
    for (int i = 0; i <= 2; ++i)
        children.push_back(window->Option1(i));
    for (QWidget *child : children)
        EXPECT_EQ(child->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, plain)
            << child->objectName().toStdString();
    for (QGroupBox *frame : {window->Frame1(0), window->Frame1(33), window->Frame1(1), window->Frame3,
                             window->Frame4(0), window->Frame5(0), window->Frame5(1)})
        EXPECT_EQ(frame->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, plain)
            << frame->objectName().toStdString();
}

TEST_F(MainWindowLook, ControlArraysHaveExactlyTheirIndexes) {
    const std::vector<std::pair<QList<int>, QList<int>>> arrays{
        {window->Frame1.indexes(), {0, 1, 33}},
        {window->Frame2.indexes(), {1}},
        {window->Frame4.indexes(), {0, 1, 2}},
        {window->Frame5.indexes(), {0, 1}},
        {window->Label1.indexes(), {0, 1, 2, 3, 4, 22}},
        {window->Label2.indexes(), {9, 10}},
        {window->Label4.indexes(), {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {window->B_2R.indexes(), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {window->B_1RW.indexes(), {0, 1, 2, 3, 4}},
        {window->D_3R.indexes(), {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {window->D_4R.indexes(), {0, 1, 2}},
        {window->D_4WRW.indexes(), {21}},
        {window->D_3RW.indexes(), {3, 4, 5}},
        {window->Command2.indexes(), {0, 1, 2, 3, 4}},
        {window->Command3.indexes(), {0, 1, 2, 3, 4}},
        {window->Command5.indexes(), {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {window->Option1.indexes(), {0, 1, 2}},
        {window->Option2.indexes(), {0, 1, 2}},
    };
    for (size_t k = 0; k < arrays.size(); ++k)
        EXPECT_EQ(arrays[k].first, arrays[k].second) << "array " << k;
    EXPECT_THROW(window->Frame1(2), SubscriptError);
    EXPECT_THROW(window->D_4WRW(0), SubscriptError);
    for (QWidget *single : std::initializer_list<QWidget *>{
             window->Frame3, window->Frame6, window->Label5, window->Combo1, window->Combo2, window->Combo6,
             window->Combo7, window->Combo8, window->Combo12, window->Command1, window->Command4,
             window->Command9, window->Command10})
        EXPECT_NE(single, nullptr);
}

TEST_F(MainWindowLook, WindowIsFixedCentredWithCaptionIconAndIdleTimers) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QM4107开关量采集模块"));
    EXPECT_EQ(window->size(), QSize(880, 381));
    EXPECT_EQ(window->minimumSize(), QSize(880, 381));
    EXPECT_EQ(window->maximumSize(), QSize(880, 381));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 2);
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    for (const QSize s : {QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48)})
        EXPECT_TRUE(sizes.contains(s)) << s.width();
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_FALSE(window->Timer2->isActive());
    EXPECT_EQ(window->Timer1->interval(), 500);
    EXPECT_EQ(window->Timer2->interval(), 500);
}

TEST_F(MainWindowLook, ShownWindowTabsThroughVisibleControlsInAscendingOrder) {
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    std::vector<const Control *> ordered;
    for (const Control &c : Controls)
        if (focusable(c) && !c.hidden)
            ordered.push_back(&c);
    std::sort(ordered.begin(), ordered.end(), [](auto *a, auto *b) { return a->tab < b->tab; });
    // Only one option of each group takes focus from Tab: the checked one.
    std::vector<QString> expected;
    for (const Control *c : ordered) {
        auto *option = window->findChild<QRadioButton *>(nameOf(*c));
        if (option && !option->isChecked())
            continue;
        expected.push_back(nameOf(*c));
    }
    window->findChild<QWidget *>(expected.front())->setFocus(Qt::TabFocusReason);
    std::vector<QString> visited{QApplication::focusWidget()->objectName()};
    for (size_t k = 1; k < expected.size(); ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        visited.push_back(focus ? focus->objectName() : QString());
    }
    EXPECT_EQ(QStringList(visited.begin(), visited.end()), QStringList(expected.begin(), expected.end()));
}

// Where a pixel of the grabbed window lies for a point of a control.
QPoint at(const QWidget *w, QPoint inside) {
    return w->mapTo(w->window(), inside);
}

TEST_F(MainWindowLook, GrabShowsTheDescribedColours) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QImage image = window->grab().toImage();
    ASSERT_EQ(image.size(), QSize(880, 381) * image.devicePixelRatio());
    auto pixel = [&](const QWidget *w, QPoint p) {
        return image.pixel(at(w, p) * image.devicePixelRatio()) & 0xFFFFFF;
    };
    struct Sample {
        QWidget *control;
        QRgb fill;
    };
    const Sample samples[] = {{window->B_2R(0), 0xC0FFFF},   {window->B_2R(9), 0xC0FFFF},
                              {window->B_1RW(2), 0xFFFFC0},  {window->D_3R(8), 0xFFC0FF},
                              {window->D_4R(1), 0xFFC0FF},   {window->D_4WRW(21), 0xFFFFFF},
                              {window->Label2(9), 0x80FF80}, {window->Label2(10), 0x80FF80}};
    for (const Sample &s : samples) {
        SCOPED_TRACE(s.control->objectName().toStdString());
        // Just inside the border: the field's colour; on the border: a line in the text colour.
        EXPECT_EQ(pixel(s.control, QPoint(2, 2)), s.fill);
        EXPECT_EQ(pixel(s.control, QPoint(s.control->width() - 3, s.control->height() - 3)), s.fill);
        EXPECT_EQ(pixel(s.control, QPoint(0, s.control->height() / 2)),
                  s.control->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF);
    }
    // The clock's text is red; the frames' captions are red and green; a plain caption has neither.
    auto count = [&](const QWidget *w, QRect area, auto test) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += test(pixel(w, QPoint(x, y))) ? 1 : 0;
        return n;
    };
    auto red = [](QRgb c) { return qRed(c) > qGreen(c) + 80 && qRed(c) > qBlue(c) + 80; };
    auto green = [](QRgb c) { return qGreen(c) > qRed(c) + 50 && qGreen(c) > qBlue(c) + 50; };
    EXPECT_GT(count(window->Label2(9), window->Label2(9)->rect().adjusted(1, 1, -1, -1), red), 10);
    EXPECT_GT(count(window->Frame6, QRect(0, 0, window->Frame6->width(), 14), red), 10);
    EXPECT_GT(count(window->Frame2(1), QRect(0, 0, window->Frame2(1)->width(), 14), green), 10);
    EXPECT_EQ(count(window->Label1(0), window->Label1(0)->rect(), red), 0);
    EXPECT_EQ(count(window->Option1(2), window->Option1(2)->rect(), green), 0);
    EXPECT_EQ(count(window->Frame5(1), QRect(0, 0, window->Frame5(1)->width(), 14), red), 0);
}

} // namespace
