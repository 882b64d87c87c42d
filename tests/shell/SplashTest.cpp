#include "frmSplash.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// What the splash window's hand-over callback saw when it was called.
struct HandOver {
    int calls = 0;
    qint64 atMs = -1;
    bool splashVisible = true;
    bool timer1Active = true;
    bool timer2Active = true;
};

TEST(Splash, TimersCountSevenTicksThenHandOverOnce) {
    HandOver seen;
    QPointer<frmSplash> splash;
    splash = new frmSplash([&] {
        ++seen.calls;
        seen.splashVisible = splash && splash->isVisible();
        seen.timer1Active = splash && splash->Timer1->isActive();
        seen.timer2Active = splash && splash->Timer2->isActive();
    });
    // Form_Load enabled Timer2 only.
    EXPECT_TRUE(splash->Timer2->isActive());
    EXPECT_EQ(splash->Timer2->interval(), 200);
    EXPECT_FALSE(splash->Timer1->isActive());
    EXPECT_EQ(splash->Timer1->interval(), 100);
    EXPECT_EQ(splash->SplashTickCount, 0);
    splash->Timer2->stop(); // driven by hand from here
    splash->Timer2->start();

    for (int tick = 1; tick <= 6; ++tick) {
        splash->Timer2_Timer();
        EXPECT_EQ(splash->SplashTickCount, tick);
        EXPECT_TRUE(splash->Timer2->isActive()) << tick;
        EXPECT_FALSE(splash->Timer1->isActive()) << tick;
    }
    splash->Timer2_Timer();
    EXPECT_EQ(splash->SplashTickCount, 0);
    EXPECT_FALSE(splash->Timer2->isActive());
    EXPECT_TRUE(splash->Timer1->isActive());
    EXPECT_EQ(seen.calls, 0);

    splash->show();
    splash->Timer1_Timer();
    EXPECT_EQ(seen.calls, 1);
    EXPECT_FALSE(seen.splashVisible);
    EXPECT_FALSE(seen.timer1Active);
    EXPECT_FALSE(seen.timer2Active);
    QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 30000);
    EXPECT_EQ(seen.calls, 1);
}

TEST(Splash, MainWindowComesAboutOneAndAHalfSecondsAfterStartDespiteKeysAndClicks) {
    HandOver seen;
    QElapsedTimer clock;
    clock.start();
    QPointer<frmSplash> splash;
    splash = new frmSplash([&] {
        ++seen.calls;
        seen.atMs = clock.elapsed();
        seen.splashVisible = splash && splash->isVisible();
    });
    splash->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));

    // Keys and clicks while counting change nothing.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space, Qt::Key_A, Qt::Key_Enter})
        QTest::keyClick(splash.data(), key);
    QTest::mouseClick(splash.data(), Qt::LeftButton, {}, QPoint(500, 170));
    QTest::mouseDClick(splash.data(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseClick(splash->findChild<QLabel *>(QStringLiteral("Label1")), Qt::RightButton);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(seen.calls, 0);

    QTRY_COMPARE_WITH_TIMEOUT(seen.calls, 1, 30000);
    EXPECT_FALSE(seen.splashVisible);
    // Never early; how late a loaded machine makes it says nothing about the program.
    EXPECT_GE(seen.atMs, 1350);
    // Gone with its timers, so no second hand-over can follow.
    QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 30000);
    EXPECT_EQ(seen.calls, 1);
}

TEST(Splash, ClosedBeforeTheHandOverNeverShowsTheMainWindow) {
    int calls = 0;
    QPointer<frmSplash> splash = new frmSplash([&] { ++calls; });
    splash->show();
    for (int tick = 1; tick <= 7; ++tick)
        splash->Timer2_Timer();
    ASSERT_TRUE(splash->Timer1->isActive());
    splash->close();
    // Gone with its timers, so no hand-over can follow.
    QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 30000);
    EXPECT_EQ(calls, 0);
}

TEST(Splash, WindowIsCaptionlessBlackFixedAndCentredWithItsText) {
    frmSplash splash([] {});
    EXPECT_TRUE(splash.windowTitle().isEmpty());
    EXPECT_EQ(splash.size(), QSize(999, 348));
    EXPECT_EQ(splash.minimumSize(), splash.maximumSize());
    EXPECT_EQ(splash.palette().color(QPalette::Window).rgb() & 0xFFFFFF, 0x000000u);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((splash.geometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_FALSE(splash.windowIcon().availableSizes().isEmpty());

    auto *label = splash.findChild<QLabel *>(QStringLiteral("Label1"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"));
    EXPECT_EQ(label->geometry(), QRect(374, 112, 467, 49));
    EXPECT_EQ(label->font().family(), QStringLiteral("SimSun"));
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 15);
    EXPECT_FALSE(label->font().bold());
    EXPECT_FALSE(label->font().italic());
    EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
    EXPECT_FALSE(label->autoFillBackground());
    EXPECT_EQ(label->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, 0xFFFFFFu);
}

TEST(Splash, PictureIsPaintedAtTheTopLeftWithWhiteTextOverIt) {
    frmSplash splash([] {});
    splash.Timer2->stop();
    splash.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&splash));
    const QImage picture(QStringLiteral(":/qm4107/splash.jpg"));
    ASSERT_EQ(picture.size(), QSize(1000, 348));
    const QImage shown = splash.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(999, 348));
    for (const QPoint p : {QPoint(0, 0), QPoint(998, 0), QPoint(0, 347), QPoint(998, 347), QPoint(60, 100),
                           QPoint(375, 113), QPoint(839, 159)})
        EXPECT_EQ(shown.pixel(p) & 0xFFFFFF, picture.pixel(p) & 0xFFFFFF) << p.x() << "," << p.y();
    // Text pixels: markedly lighter than the picture beneath them; the lightest of them white.
    int text = 0, first = 999, last = -1, lightest = 0;
    QRgb lightestPixel = 0;
    for (int y = 112; y < 161; ++y)
        for (int x = 374; x < 841; ++x) {
            const QRgb p = shown.pixel(x, y);
            if (qGray(p) > qGray(picture.pixel(x, y)) + 60) {
                ++text;
                first = std::min(first, x);
                last = std::max(last, x);
            }
            if (qGray(p) > lightest) {
                lightest = qGray(p);
                lightestPixel = p;
            }
        }
    EXPECT_GT(text, 300);
    EXPECT_GE(qRed(lightestPixel), 235);
    EXPECT_GE(qGreen(lightestPixel), 235);
    EXPECT_GE(qBlue(lightestPixel), 235);
    // Nothing of it outside the label's rectangle: the rows just above and below match the picture.
    for (int x = 374; x < 841; x += 7) {
        EXPECT_EQ(shown.pixel(x, 110), picture.pixel(x, 110));
        EXPECT_EQ(shown.pixel(x, 162), picture.pixel(x, 162));
    }
    // Centred in the label.
    EXPECT_NEAR((first + last) / 2.0, 374 + 467 / 2.0, 8);
}

TEST(Splash, ProgramKeepsRunningWithTheMainWindowAfterTheHandOver) {
    QProcess program;
    program.setProgram(QStringLiteral(QM4107_PANEL_PROGRAM));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start();
    ASSERT_TRUE(program.waitForStarted(5000));
    EXPECT_FALSE(program.waitForFinished(2500)) << "the program ended at the hand-over";
    program.kill();
    program.waitForFinished(5000);
}

} // namespace
