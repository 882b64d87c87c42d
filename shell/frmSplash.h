#pragma once

#include <QPixmap>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace Ui {
class frmSplash;
}

// The start-up window: a picture and one line of text for about 1.5 s (seven ticks of Timer2 at 200 ms, then
// one tick of Timer1 at 100 ms), after which it unloads itself and has the main window shown. Keys and clicks
// do nothing; it cannot be dismissed early.
class frmSplash : public QWidget {
    Q_OBJECT

public:
    // showMain is called once, at the hand-over, after this window has been unloaded.
    explicit frmSplash(std::function<void()> showMain, QWidget *parent = nullptr);
    ~frmSplash() override;

    void Form_Load();
    void Timer2_Timer();
    void Timer1_Timer();
    void Form_KeyPress(int16_t &KeyAscii);
    void Form_Unload(int16_t &Cancel);

    int16_t SplashTickCount = 0;
    QTimer *Timer2 = nullptr;
    QTimer *Timer1 = nullptr;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::frmSplash> m_ui;
    std::function<void()> m_showMain;
    QPixmap m_picture;
};
