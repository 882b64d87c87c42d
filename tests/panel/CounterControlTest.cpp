#include "PanelFixture.h"

#include <QEvent>

namespace {

// Records the order in which controls are shown and hidden.
class VisibilityLog : public QObject {
public:
    QStringList entries;

    void watch(QWidget *control) { control->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Show)
            entries << QStringLiteral("show ") + watched->objectName();
        else if (event->type() == QEvent::Hide)
            entries << QStringLiteral("hide ") + watched->objectName();
        return false;
    }
};

class CounterControlTest : public PanelFixture {
protected:
    void SetUp() override {
        PanelFixture::SetUp();
        for (int i = 0; i <= 8; ++i) {
            log.watch(window->D_3R(i));
            log.watch(window->Command5(i));
        }
        for (int i = 3; i <= 5; ++i)
            log.watch(window->D_3RW(i));
        for (QWidget *combo : {window->Combo6, window->Combo7, window->Combo8})
            log.watch(combo);
    }

    // Which editing controls are visible now, by name.
    QStringList visibleEditors() const {
        QStringList names;
        for (int i = 0; i <= 8; ++i) {
            if (!window->D_3R(i)->isVisible())
                names << QStringLiteral("D_3R_%1 hidden").arg(i);
            if (window->Command5(i)->isVisible())
                names << window->Command5(i)->objectName();
        }
        for (int i = 3; i <= 5; ++i)
            if (window->D_3RW(i)->isVisible())
                names << window->D_3RW(i)->objectName();
        for (QWidget *combo : {window->Combo6, window->Combo7, window->Combo8})
            if (combo->isVisible())
                names << combo->objectName();
        return names;
    }

    VisibilityLog log;
};

TEST_F(CounterControlTest, EditorsOpenAndCloseInOrder) {
    EXPECT_TRUE(visibleEditors().isEmpty());

    click(window->D_3R(1));
    EXPECT_EQ(log.entries,
              (QStringList{"hide D_3R_1", "show Command5_1", "show Combo6", "show Combo7", "show Combo8"}));
    log.entries.clear();

    click(window->D_3R(4));
    EXPECT_EQ(log.entries, (QStringList{"hide D_3R_4", "show D_3RW_4", "show Command5_4"}));
    EXPECT_EQ(visibleEditors(), (QStringList{"D_3R_1 hidden", "Command5_1", "D_3R_4 hidden", "Command5_4",
                                             "D_3RW_4", "Combo6", "Combo7", "Combo8"}));
    log.entries.clear();

    // Closing one editor hides the shared selectors but leaves the other editor open.
    click(window->Command5(1));
    EXPECT_EQ(link.calls, QStringList{"Set_4X_D1(0,0,2,0)"});
    EXPECT_EQ(log.entries,
              (QStringList{"show D_3R_1", "hide Command5_1", "hide Combo6", "hide Combo7", "hide Combo8"}));
    EXPECT_EQ(visibleEditors(), (QStringList{"D_3R_4 hidden", "Command5_4", "D_3RW_4"}));
    log.entries.clear();

    window->D_3RW(4)->setText(QStringLiteral("77"));
    click(window->Command5(4));
    EXPECT_EQ(log.entries, (QStringList{"show D_3R_4", "hide D_3RW_4", "hide Command5_4"}));
    EXPECT_TRUE(visibleEditors().isEmpty());
    EXPECT_EQ(link.calls, (QStringList{"Set_4X_D1(0,0,2,0)", "Set_4X_D1(0,0,5,77)"}));
}

TEST_F(CounterControlTest, ClearWritesZeroToTheCountRegister) {
    window->Combo1->setCurrentText(QStringLiteral("3 "));
    window->Combo2->setCurrentText(QStringLiteral("2 "));
    openWithDefaults();
    for (int i = 0; i <= 2; ++i) {
        click(window->D_3R(i));
        click(window->Command5(i));
    }
    EXPECT_EQ(link.calls, (QStringList{"Set_4X_D1(3,2,1,0)", "Set_4X_D1(3,2,2,0)", "Set_4X_D1(3,2,3,0)"}));
    EXPECT_TRUE(visibleEditors().isEmpty());
}

TEST_F(CounterControlTest, PresetTable) {
    const struct {
        const char *text;
        bool written;
        int32_t value;
    } cases[] = {
        {"1234", true, 1234}, {"65535", true, 65535}, {"65536", false, 0},      {"-1", false, 0},
        {"-5", false, 0},     {"2.5", true, 2},       {"3.5", true, 4},         {"12abc", true, 12},
        {"", true, 0},        {"65535.4", false, 0},  {"65534.6", true, 65535}, {"-0.4", false, 0},
        {"0", true, 0},       {" 1 0 ", true, 10},    {"&HFFFF", true, 65535},  {"1e30", false, 0},
        {"abc", true, 0},     {"6.5e4", true, 65000},
    };
    for (int counter = 0; counter <= 2; ++counter) {
        const int index = counter + 3;
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.text) + " in D_3RW_" + std::to_string(index));
            link.calls.clear();
            window->PanelVars[PanelVar::WriteValue] = -42;
            click(window->D_3R(index));
            window->D_3RW(index)->setText(QString::fromUtf8(c.text));
            click(window->Command5(index));
            if (c.written) {
                EXPECT_EQ(link.calls,
                          QStringList{QStringLiteral("Set_4X_D1(0,0,%1,%2)").arg(index + 1).arg(c.value)});
                EXPECT_EQ(window->PanelVars[PanelVar::WriteValue], c.value);
                EXPECT_TRUE(visibleEditors().isEmpty());
            } else {
                EXPECT_TRUE(link.calls.isEmpty());
                EXPECT_EQ(window->PanelVars[PanelVar::WriteValue], -42);
                EXPECT_EQ(visibleEditors(),
                          (QStringList{QStringLiteral("D_3R_%1 hidden").arg(index),
                                       QStringLiteral("Command5_%1").arg(index),
                                       QStringLiteral("D_3RW_%1").arg(index), "Combo6", "Combo7", "Combo8"}));
                window->D_3RW(index)->setText(QStringLiteral("1"));
                click(window->Command5(index));
                EXPECT_TRUE(visibleEditors().isEmpty());
            }
        }
    }
}

TEST_F(CounterControlTest, ClearModeWritesTheSelectorsNumber) {
    const struct {
        int index;
        QComboBox *selector;
        QString text;
        const char *call;
    } cases[] = {
        {8, window->Combo8, QStringLiteral("1:硬件清零 "), "Set_4X_D1(0,0,9,1)"},
        {8, window->Combo8, QStringLiteral("0:软件清零 "), "Set_4X_D1(0,0,9,0)"},
        {6, window->Combo6, QStringLiteral("1:硬件清零 "), "Set_4X_D1(0,0,7,1)"},
        {7, window->Combo7, QStringLiteral("7"), "Set_4X_D1(0,0,8,7)"},
        {7, window->Combo7, QStringLiteral("硬件"), "Set_4X_D1(0,0,8,0)"},
        {6, window->Combo6, QStringLiteral("-2.5"), "Set_4X_D1(0,0,7,-2)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.call);
        link.calls.clear();
        click(window->D_3R(c.index));
        c.selector->setCurrentText(c.text);
        // The other selectors do not count.
        for (QComboBox *other : {window->Combo6, window->Combo7, window->Combo8})
            if (other != c.selector)
                other->setCurrentText(QStringLiteral("9"));
        click(window->Command5(c.index));
        EXPECT_EQ(link.calls, QStringList{QString::fromUtf8(c.call)});
        EXPECT_EQ(window->PanelVars[PanelVar::WriteValue],
                  QString::fromUtf8(c.call).section(u',', 3).chopped(1).toInt());
        EXPECT_TRUE(visibleEditors().isEmpty());
    }

    // A selector text beyond 32 bits leaves PanelVars[PanelVar::WriteValue] and writes what it held.
    link.calls.clear();
    window->PanelVars[PanelVar::WriteValue] = 3;
    window->Combo6->setCurrentText(QStringLiteral("1e30"));
    window->Command5_Click(6);
    EXPECT_EQ(link.calls, QStringList{"Set_4X_D1(0,0,7,3)"});
}

TEST_F(CounterControlTest, OneRepetitionOnTheFailureValue) {
    const struct {
        std::vector<int32_t> results;
        int calls;
        int32_t status;
    } cases[] = {
        {{0}, 1, 0}, {{-1}, 1, -1}, {{-8888, 0}, 2, 0}, {{-8888, -8888}, 2, -8888}, {{-8888, 5}, 2, 5},
    };
    for (const auto &c : cases) {
        for (const int16_t index : {int16_t(0), int16_t(3), int16_t(7)}) {
            SCOPED_TRACE(index);
            link.calls.clear();
            link.scriptResults(QStringLiteral("Set_4X_D1"), c.results);
            window->D_3RW(3)->setText(QStringLiteral("9"));
            click(window->D_3R(index));
            click(window->Command5(index));
            EXPECT_EQ(link.calls.size(), c.calls);
            EXPECT_EQ(link.calls.count(link.calls.value(0)), c.calls);
            EXPECT_EQ(window->WriteStatus, c.status);
            EXPECT_TRUE(visibleEditors().isEmpty());
        }
        link.calls.clear();
        link.scriptResults(QStringLiteral("Set_4X_D1"), c.results);
        click(window->Command4);
        EXPECT_EQ(link.calls.size(), c.calls);
        EXPECT_EQ(window->WriteStatus, c.status);
    }
}

TEST_F(CounterControlTest, LibraryMissingStillClosesTheEditor) {
    link.libraryMissing = true;
    click(window->D_3R(5));
    window->D_3RW(5)->setText(QStringLiteral("100"));
    click(window->Command5(5));
    EXPECT_TRUE(visibleEditors().isEmpty());
    EXPECT_EQ(window->PanelVars[PanelVar::WriteValue], 100);
    click(window->Command4);
}

TEST_F(CounterControlTest, IndexesOutsideTheArraysWriteNothing) {
    for (const int16_t index : {int16_t(-1), int16_t(9), int16_t(21)}) {
        window->D_3R_Click(index);
        window->Command5_Click(index);
    }
    EXPECT_TRUE(link.calls.isEmpty());
    EXPECT_TRUE(visibleEditors().isEmpty());
}

using ParityTest = PanelFixture;

TEST_F(ParityTest, ModifyWritesTheChosenCodeIntoRegister256) {
    click(window->Command4);
    EXPECT_EQ(link.calls, QStringList{"Set_4X_D1(0,0,256,0)"});

    window->Combo1->setCurrentText(QStringLiteral("2 "));
    window->Combo2->setCurrentText(QStringLiteral("6 "));
    openWithDefaults();
    const struct {
        int item;
        const char *call;
    } cases[] = {{1, "Set_4X_D1(2,6,256,1)"}, {0, "Set_4X_D1(2,6,256,0)"}, {2, "Set_4X_D1(2,6,256,2)"}};
    for (const auto &c : cases) {
        link.calls.clear();
        window->Combo12->setCurrentIndex(c.item);
        click(window->Command4);
        click(window->Command4);
        EXPECT_EQ(link.calls, (QStringList{c.call, c.call}));
        EXPECT_EQ(window->PanelVars[PanelVar::WriteValue], c.item);
    }
    window->Combo12->setCurrentText(QStringLiteral("奇"));
    link.calls.clear();
    click(window->Command4);
    EXPECT_EQ(link.calls, QStringList{"Set_4X_D1(2,6,256,0)"});
    // The program's own line settings are not touched.
    EXPECT_TRUE(window->Option2(0)->isChecked());
    EXPECT_EQ(window->PanelVars[PanelVar::ParityCode], 0);
    EXPECT_TRUE(window->Timer1->isActive());
}

} // namespace
