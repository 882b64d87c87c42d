// The tooltips with the real window offscreen, the real MODBUS485 and qm4107-sim: what happened on the line,
// and why an open failed; on a window that makes its exchanges itself and on one with a link thread, whose
// tooltips show the copy the link keeps.
#include "LockHolder.h"
#include "Modbus485Library.h"
#include "SimProcess.h"
#include "ThreadedLink.h"
#include "ToolTipHover.h"
#include "ssqx.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Each case uses its own port number, so the library's per-port state never carries over. The parameter
// says whether the window has a link thread.
class ToolTipEndToEndTest : public ::testing::TestWithParam<bool> {
protected:
    void open(int port, const QString &device) {
        qputenv(qPrintable(QStringLiteral("MODBUS485_PORT%1").arg(port)), device.toLocal8Bit());
        window = GetParam() ? std::make_unique<ssqx>(std::make_unique<ThreadedLink>(library))
                            : std::make_unique<ssqx>(library);
        window->setProcessEnd([] {});
        window->show();
        window->Combo1->setCurrentText(QString::number(port) + u' ');
        QTest::mouseClick(window->Command9, Qt::LeftButton);
    }

    void TearDown() override {
        if (window) {
            window->Command10_Click();
            window->KeepOpen = 0;
        }
        window.reset();
    }

    // What a control's tooltip shows once `shows` holds of it; the last text seen otherwise.
    template <class Shows> QString hoverUntil(QWidget *control, Shows shows) {
        QString shown;
        (void)QTest::qWaitFor([&] { return shows(shown = hover(control)); },
                              20000); // the caller judges what it shows
        return shown;
    }

    Modbus485Library library;
    std::unique_ptr<ssqx> window;
};

TEST_P(ToolTipEndToEndTest, FramesTellASilentModuleFromAGarbledLine) {
    struct Case {
        int port;
        const char *fault;
        QString text; // what each frame's tooltip starts with
    };
    const Case cases[] = {{14, "silent", QStringLiteral("站号1无应答")},
                          {15, "corrupt-crc", QStringLiteral("校验错误：检查波特率和校验方式")}};
    for (const Case &c : cases) {
        SimProcess sim({"-c", c.fault});
        open(c.port, sim.devicePath());
        for (QWidget *frame :
             {static_cast<QWidget *>(window->Frame1(0)), static_cast<QWidget *>(window->Frame1(1)),
              static_cast<QWidget *>(window->Frame3), static_cast<QWidget *>(window->Frame4(2)),
              static_cast<QWidget *>(window->D_4WRW(21))}) {
            QString shown;
            EXPECT_TRUE(QTest::qWaitFor([&] { return (shown = hover(frame)).startsWith(c.text); }, 20000))
                << c.fault << " " << frame->objectName().toStdString() << ": " << shown.toStdString();
        }
        QTest::mouseClick(window->Command10, Qt::LeftButton);
        const QString closed = QStringLiteral("端口未打开");
        EXPECT_EQ(hoverUntil(window->Frame3, [&](const QString &t) { return t == closed; }), closed);
        TearDown();
    }
}

TEST_P(ToolTipEndToEndTest, PortTellsAMissingAndABusyDevice) {
    SimProcess sim;
    LockHolder holder(sim.devicePath());
    struct Case {
        int port;
        QString device;
        QStringList anyOf; // the reason names the holder, by name or PID, or says it is held
    };
    const QString missing = QStringLiteral("/dev/ttyUSB-qm4107-missing");
    const Case cases[] = {
        {16, missing, {}},
        {17,
         sim.devicePath(),
         {QStringLiteral("flock"), QStringLiteral("sleep"), QString::number(holder.processId())}}};
    for (const Case &c : cases) {
        open(c.port, c.device);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->PanelVars[PanelVar::OpenResult] == 2; }, 20000));
        const QString closed = QStringLiteral("端口未打开");
        EXPECT_EQ(hoverUntil(window->Frame3, [&](const QString &t) { return t == closed; }), closed);
        for (QWidget *control :
             {static_cast<QWidget *>(window->Combo1), static_cast<QWidget *>(window->Label5)}) {
            const QString text = hoverUntil(
                control, [&](const QString &t) { return t.contains(c.device) && t.count(u'\n') >= 1; });
            EXPECT_TRUE(text.contains(c.device)) << text.toStdString();
            EXPECT_GE(text.count(u'\n'), 1) << "no reason line: " << text.toStdString();
            bool named = c.anyOf.isEmpty();
            for (const QString &name : c.anyOf)
                named = named || text.contains(name);
            EXPECT_TRUE(named) << text.toStdString();
        }
        TearDown();
    }
}

INSTANTIATE_TEST_SUITE_P(Links, ToolTipEndToEndTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "threaded" : "inline";
                         });

} // namespace
