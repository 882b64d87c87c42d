// The tooltips of the port selector, the link status and the polled frames, on a recording fake link.
#include "MODBUS485.h"
#include "PanelFixture.h"
#include "ToolTipHover.h"

#include <QGroupBox>
#include <QHelpEvent>
#include <QToolTip>

#include <functional>

namespace {

class ToolTipTest : public PanelFixture {
protected:
    void openPort3Station5() {
        window->Combo1->setCurrentText(QStringLiteral("3 "));
        window->Combo2->setCurrentText(QStringLiteral("5 "));
        openWithDefaults();
        // Only hovering asks the library here.
        window->Timer1->stop();
        window->Timer2->stop();
    }
};

TEST_F(ToolTipTest, EachPolledFrameTellsItsReadsLastOutcome) {
    struct Case {
        std::function<QWidget *(ssqx &)> control;
        std::vector<int32_t> lastRead; // outcome, exception code, round trip in microseconds
        QString call;
        QString text;
    };
    const std::vector<Case> cases{
        {[](ssqx &w) { return w.Frame1(0); },
         {MODBUS485_OUTCOME_NO_ANSWER, 0, 74400},
         "GetPort_LastRead(3,5,2,1)",
         "站号5无应答（74 ms）"},
        {[](ssqx &w) { return w.B_2R(7); },
         {MODBUS485_OUTCOME_GOOD, 0, 11600},
         "GetPort_LastRead(3,5,2,1)",
         "站号5正常（12 ms）"},
        {[](ssqx &w) { return w.Frame1(33); },
         {MODBUS485_OUTCOME_GARBLED, 0, 30000},
         "GetPort_LastRead(3,5,2,1)",
         "校验错误：检查波特率和校验方式"},
        {[](ssqx &w) { return w.Frame1(0); },
         {MODBUS485_OUTCOME_CUT_SHORT, 0, 74000},
         "GetPort_LastRead(3,5,2,1)",
         "应答不完整：时限内只收到部分字节"},
        {[](ssqx &w) { return w.Frame1(0); },
         {MODBUS485_OUTCOME_MISMATCHED, 0, 9000},
         "GetPort_LastRead(3,5,2,1)",
         "应答与请求不符：长度、功能码或回显不对"},
        {[](ssqx &w) { return w.Frame1(1); },
         {MODBUS485_OUTCOME_EXCEPTION, 2, 9000},
         "GetPort_LastRead(3,5,1,1)",
         "模块拒绝：异常码2"},
        {[](ssqx &w) { return w.Frame3; },
         {MODBUS485_OUTCOME_WRONG_STATION, 0, 9000},
         "GetPort_LastRead(3,5,4,1)",
         "站号不符：应答来自其他站号"},
        {[](ssqx &w) { return w.Frame4(0); },
         {MODBUS485_OUTCOME_LATE, 0, 9000},
         "GetPort_LastRead(3,5,3,1)",
         "应答可能是上一请求的迟到应答，已舍弃"},
        {[](ssqx &w) { return w.D_3R(7); },
         {MODBUS485_OUTCOME_DEMOTED, 0, 0},
         "GetPort_LastRead(3,5,3,1)",
         "站号5无应答，暂停读取"},
        {[](ssqx &w) { return w.D_3R(8); },
         {MODBUS485_OUTCOME_GOOD, 0, 8000},
         "GetPort_LastRead(3,5,3,9)",
         "站号5正常（8 ms）"},
        {[](ssqx &w) { return w.Frame4(2); },
         {MODBUS485_OUTCOME_DEVICE_FAILED, 0, 0},
         "GetPort_LastRead(3,5,3,1)",
         "串口设备失效：检查连接"},
        {[](ssqx &w) { return w.D_4WRW(21); },
         {MODBUS485_OUTCOME_NOT_OPEN, 0, 0},
         "GetPort_LastRead(3,5,3,256)",
         "端口未打开"},
        {[](ssqx &w) { return w.D_4WRW(21); },
         {MODBUS485_OUTCOME_NONE, 0, 0},
         "GetPort_LastRead(3,5,3,256)",
         "尚未读取"},
    };
    openPort3Station5();
    for (const Case &c : cases) {
        link.lastRead = c.lastRead;
        link.calls.clear();
        QWidget *control = c.control(*window);
        EXPECT_EQ(hover(control), c.text) << control->objectName().toStdString();
        EXPECT_EQ(link.calls, QStringList{c.call}) << control->objectName().toStdString();
    }
    // Controls outside these frames keep no tooltip and ask nothing.
    link.calls.clear();
    EXPECT_EQ(hover(window->Command9), QString());
    EXPECT_TRUE(link.calls.isEmpty());
}

TEST_F(ToolTipTest, PortAndStatusTellTheDeviceTheReasonAndTheCounters) {
    link.info = "COM3 = /dev/ttyUSB0 (MODBUS485_PORT3)\n打开失败：设备不存在";
    link.counters.assign(MODBUS485_COUNTERS, 0);
    link.counters[MODBUS485_COUNTER_REQUESTS] = 12;
    link.counters[MODBUS485_COUNTER_GOOD] = 9;
    link.counters[MODBUS485_COUNTER_NO_ANSWER] = 1;
    link.counters[MODBUS485_COUNTER_GARBLED] = 2;
    link.counters[MODBUS485_COUNTER_RTT_LAST_US] = 11600;
    link.counters[MODBUS485_COUNTER_RTT_MEAN_US] = 15000;
    link.counters[MODBUS485_COUNTER_RTT_MAX_US] = 40400;
    link.counters[MODBUS485_COUNTER_CUT_SHORT] = 3;
    link.counters[MODBUS485_COUNTER_TURNAROUND_MS] = 120;
    link.counters[MODBUS485_COUNTER_ECHOES] = 12;
    link.counters[MODBUS485_COUNTER_FRAME_GAP_MS] = 15;
    link.counters[MODBUS485_COUNTER_TRACE_STOPPED] = MODBUS485_TRACE_STOPPED_MOVE;
    const QString counters = QStringLiteral(
        "请求12 正常9 无应答1 校验错误2 不完整3 不符0 错站0 异常0 过时0 设备失效0 残帧0 暂停0 往返12/15/40 "
        "ms "
        "应答时限 120 ms 适配器回显 帧间隔 15 ms\n跟踪已停止：文件已达 10 MB，无法改名为 .1 文件");

    // Before "打开" nothing is asked until the operator hovers; then the selector's port is the one.
    window->Combo1->setCurrentText(QStringLiteral("&H3"));
    EXPECT_TRUE(link.calls.isEmpty());
    EXPECT_EQ(hover(window->Combo1), QString::fromUtf8(link.info));
    EXPECT_EQ(link.calls, QStringList{"GetPort_Info(3)"});
    link.calls.clear();
    EXPECT_EQ(hover(window->Label5), QString::fromUtf8(link.info) + u'\n' + counters);
    EXPECT_EQ(link.calls, (QStringList{"GetPort_Info(3)", "GetPort_Counters(3)"}));

    // After an open the status speaks of the port opened, the selector of what it shows now.
    openWithDefaults();
    window->Timer1->stop();
    window->Timer2->stop();
    link.calls.clear();
    window->Combo1->setCurrentText(QStringLiteral("7 "));
    link.counters[MODBUS485_COUNTER_FRAME_GAP_MS] = 4; // the protocol's own pause at 9600 baud
    EXPECT_FALSE(hover(window->Label5).contains(QStringLiteral("帧间隔")));
    hover(window->Combo1);
    EXPECT_EQ(link.calls, (QStringList{"GetPort_Info(3)", "GetPort_Counters(3)", "GetPort_Info(7)"}));
}

TEST_F(ToolTipTest, LibraryWithoutTheDiagnosticsShowsNoText) {
    link.diagnosticsMissing = true;
    openPort3Station5();
    for (QWidget *control : std::initializer_list<QWidget *>{
             window->Combo1, window->Label5, window->Frame1(0), window->Frame1(1), window->Frame3,
             window->Frame4(1), window->D_4WRW(21)})
        EXPECT_EQ(hover(control), QString()) << control->objectName().toStdString();
    EXPECT_TRUE(link.calls.isEmpty());
}

} // namespace
