#include "HeldModbus485.h"
#include "ThreadedLink.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <vector>

// The window on a threaded link over a line whose answers the test releases: which requests reach the line,
// in which order, and what the window shows, when ticks, operators, "关闭" and "退出" come while exchanges
// are out.
namespace {

struct Shown {
    const char *control; // "B_2R 0", "B_1RW 2", "D_3R 1", "D_4WRW 21", "Label5"
    const char *text;
};

struct Row {
    const char *name;
    // Steps: "open", "tick1", "tick2", "click NAME" (Command2_2, Command4, Command9, Command10, Command1),
    // "hold CALL" (let calls through one by one until CALL has arrived and is held), "free" (release
    // everything and let every answer come back).
    std::vector<const char *> steps;
    std::vector<const char *> line; // every request that reached the line, in order
    std::vector<Shown> shown = {};
    bool libraryMissing = false;
    int processEnds = 0;
};

const char *const Open = "OpenPort_Modbus(1,1,0)";
const char *const Inputs = "Get_1X_B16(1,1,1)";
const char *const Coils = "Get_0X_B16(1,1,1)";
const char *const Status = "GetPort_Status(1)";
const char *const Frequencies = "Get_3X_UnD8(1,1,1)";
const char *const Counters = "Get_4X_UnD8(1,1,1)";
const char *const ClearMode = "Get_4X_UnD1(1,1,9)";
const char *const Parity = "Get_4X_D1(1,1,256)";
const char *const Close = "ClosePort_Modbus(1)";
const char *const SetY3 = "Set_0X_Bit1(1,1,3)";
const char *const ParityWrite = "Set_4X_D1(1,1,256,1)";

const std::vector<Row> rows = {
    {"a tick while its poll is out reads nothing and still writes the clock",
     {"open", "hold OpenPort_Modbus", "free", "tick1", "hold Get_1X_B16", "tick1", "tick1", "free", "tick1",
      "free"},
     {Open, Inputs, Coils, Status, Inputs, Coils, Status},
     {{"B_2R 0", "输入X1闭合"}, {"B_1RW 1", "输出Y2闭合"}, {"Label5", "0"}}},
    {"a counter tick while its round is out is dropped",
     {"open", "free", "tick2", "hold Get_4X_UnD8", "tick2", "free"},
     {Open, Frequencies, Counters, ClearMode, Parity},
     {{"D_3R 0", "7"}, {"D_3R 8", "硬件清零"}, {"D_4WRW 21", "奇校验"}}},
    {"打开 pressed three times during a slow open makes three, in order",
     {"open", "hold OpenPort_Modbus", "click Command9", "click Command9", "free"},
     {Open, Open, Open}},
    {"an operator's write goes between two units of the counter round",
     {"open", "free", "tick2", "hold Get_3X_UnD8", "click Command2_2", "free"},
     {Open, Frequencies, SetY3, Counters, ClearMode, Parity}},
    {"an operator's write never goes inside a unit",
     {"open", "free", "tick2", "hold Get_4X_UnD1", "click Command2_2", "free"},
     {Open, Frequencies, Counters, ClearMode, Parity, SetY3}},
    {"an operator's write goes ahead of poll units not yet started; its retry follows its first try",
     {"open", "free", "tick1", "hold Get_1X_B16", "tick2", "click Command4", "free"},
     {Open, Inputs, Coils, Status, ParityWrite, ParityWrite, Frequencies, Counters, ClearMode, Parity}},
    {"关闭 during the I/O unit: it finishes, the port closes, the lamps stay blank",
     {"open", "free", "tick1", "hold Get_1X_B16", "click Command10", "free"},
     {Open, Inputs, Coils, Status, Close},
     {{"B_2R 0", " "}, {"B_1RW 1", " "}}},
    {"关闭 drops an I/O unit not yet started; the counter round goes on on the closed port",
     {"open", "free", "tick2", "hold Get_3X_UnD8", "tick1", "click Command10", "free"},
     {Open, Frequencies, Close, Counters, ClearMode, Parity},
     {{"B_2R 0", " "}, {"D_3R 0", "7"}, {"D_4WRW 21", "奇校验"}}},
    {"关闭 during the counter block",
     {"open", "free", "tick2", "hold Get_4X_UnD8", "click Command10", "free"},
     {Open, Frequencies, Counters, Close, ClearMode, Parity},
     {{"D_3R 0", "7"}, {"D_4WRW 21", "奇校验"}}},
    {"关闭 during register 9 and 256",
     {"open", "free", "tick2", "hold Get_4X_UnD1", "click Command10", "free"},
     {Open, Frequencies, Counters, ClearMode, Parity, Close},
     {{"D_3R 8", "硬件清零"}, {"D_4WRW 21", "奇校验"}}},
    {"退出 during an exchange: the unit on the line finishes, nothing more starts or is shown",
     {"open", "free", "tick1", "hold Get_1X_B16", "click Command1", "tick2", "free"},
     {Open, Inputs, Coils, Status},
     {{"B_2R 0", ""}},
     false,
     1},
    {"a LinkError on the link's thread abandons only its statement",
     {"open", "free", "tick1", "free", "tick2", "free", "click Command4", "free"},
     {Open, Inputs, Coils, Status, Frequencies, Counters, ClearMode, Parity, ParityWrite},
     {{"B_2R 0", "输入X1断开"},
      {"B_1RW 0", "输出Y1断开"},
      {"Label5", "0"},
      {"D_3R 0", "0"},
      {"D_3R 8", "软件清零"},
      {"D_4WRW 21", "无校验"}},
     true},
};

class ThreadedPanelTest : public WindowFixture, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        line.answers.libraryMissing = GetParam().libraryMissing;
        line.answers.setBlock(QStringLiteral("Get_1X_B16"), {1, 0});
        line.answers.setBlock(QStringLiteral("Get_0X_B16"), {2, 0});
        line.answers.setBlock(QStringLiteral("Get_4X_UnD8"), {0, 0, 0, 0, 0, 0, 0, 0});
        line.answers.setResult(QStringLiteral("Get_4X_UnD8"), 7);
        line.answers.setResult(QStringLiteral("Get_4X_UnD1"), 1);
        line.answers.setResult(QStringLiteral("Get_4X_D1"), 1);
        line.answers.scriptResults(QStringLiteral("Set_4X_D1"), {-8888, 0});
        auto threaded = std::make_unique<ThreadedLink>(line);
        link = threaded.get();
        makeWindow(std::make_unique<ssqx>(std::move(threaded)));
        window->Combo12->setCurrentText(QStringLiteral("1:奇校验 "));
        window->show();
    }
    void TearDown() override {
        line.releaseAll();
        WindowFixture::TearDown();
    }

    // Every answer asked so far has come back to the window: a marker unit, made after them, has. A stopped
    // link delivers nothing; then the requests the row expects are waited for.
    void settle() {
        bool back = false;
        if (link->post(
                ExchangeLink::Priority::Poll, 0, [](Modbus485 &) {}, window.get(), [&] { back = true; }))
            ASSERT_TRUE(QTest::qWaitFor([&] { return back; }, 30000));
        else
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return line.arrived().size() >= static_cast<qsizetype>(GetParam().line.size()); },
                30000));
    }

    void step(const QString &s) {
        if (s == QStringLiteral("open")) {
            click(window->Command9);
        } else if (s == QStringLiteral("tick1")) {
            window->Timer1_Timer();
        } else if (s == QStringLiteral("tick2")) {
            window->Timer2_Timer();
        } else if (s.startsWith(QStringLiteral("click "))) {
            click(window->findChild<QPushButton *>(s.mid(6)));
        } else if (s.startsWith(QStringLiteral("hold "))) {
            const QString call = s.mid(5);
            const auto heldNow = [&] {
                const QStringList arrived = line.arrived();
                return arrived.size() > released && arrived.back().startsWith(call + u'(');
            };
            while (!heldNow()) {
                if (line.arrived().size() > released) {
                    line.release();
                    ++released;
                }
                ASSERT_TRUE(QTest::qWaitFor([&] { return line.arrived().size() > released; }, 30000))
                    << "waiting for " << qPrintable(call);
            }
        } else if (s == QStringLiteral("free")) {
            line.releaseAll();
            // Each answer's continuation may ask the next unit, which reaches the line before a marker asked
            // after it: settle until two markers in a row saw nothing new arrive.
            for (int quiet = 0; quiet < 2;) {
                const qsizetype before = line.arrived().size();
                settle();
                if (HasFatalFailure())
                    return;
                quiet = line.arrived().size() == before ? quiet + 1 : 0;
            }
            released = line.arrived().size();
            line.holdAgainFrom(released);
        }
    }

    QString shown(const char *control) {
        const QStringList parts = QString::fromUtf8(control).split(u' ');
        if (parts[0] == QStringLiteral("Label5"))
            return window->Label5->text();
        const int index = parts.value(1).toInt();
        ControlArray<QLabel> *arrays[] = {&window->B_2R, &window->B_1RW, &window->D_3R, &window->D_4WRW};
        const char *names[] = {"B_2R", "B_1RW", "D_3R", "D_4WRW"};
        for (int i = 0; i < 4; ++i)
            if (parts[0] == QLatin1String(names[i]))
                return (*arrays[i])(index)->text();
        return QStringLiteral("?");
    }

    HeldModbus485 line;
    ThreadedLink *link = nullptr;
    qsizetype released = 0;
};

TEST_P(ThreadedPanelTest, RequestsReachTheLineInTheirOrderAndTheWindowShowsTheirAnswers) {
    const Row &row = GetParam();
    for (const char *s : row.steps) {
        SCOPED_TRACE(s);
        step(QString::fromUtf8(s));
        if (HasFatalFailure())
            return;
    }
    QStringList expected;
    for (const char *call : row.line)
        expected << QString::fromUtf8(call);
    EXPECT_EQ(line.arrived().join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    for (const Shown &s : row.shown)
        EXPECT_EQ(shown(s.control).toStdString(), s.text) << s.control;
    EXPECT_EQ(processEnds, row.processEnds);
}

INSTANTIATE_TEST_SUITE_P(Rows, ThreadedPanelTest, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<Row> &info) {
                             return "row" + std::to_string(info.index);
                         });

} // namespace
