#include "frmSplash.h"

#include "FontFallbacks.h"
#include "RuntimeError.h"
#include "ui_frmSplash.h"

#include <QCloseEvent>
#include <QEventLoopLocker>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <limits>

frmSplash::frmSplash(std::function<void()> showMain, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_ui(std::make_unique<Ui::frmSplash>())
    , m_showMain(std::move(showMain))
    , m_picture(QStringLiteral(":/qm4107/splash.jpg")) {
    FontFallbacks::install();
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QIcon(QStringLiteral(":/qm4107/qm4107.ico")));
    setFixedSize(999, 348);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(200);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer2, &QTimer::timeout, this, &frmSplash::Timer2_Timer);
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);

    Form_Load();
}

frmSplash::~frmSplash() = default;

void frmSplash::Form_Load() {
    resumeNext([&] { Timer2->start(); });
}

void frmSplash::Timer2_Timer() {
    resumeNext([&] {
        if (SplashTickCount == std::numeric_limits<int16_t>::max())
            throw OverflowError("SplashTickCount");
        ++SplashTickCount;
    });
    if (SplashTickCount > 6) {
        resumeNext([&] { Timer2->stop(); });
        resumeNext([&] { SplashTickCount = 0; });
        resumeNext([&] { Timer1->start(); });
    }
}

void frmSplash::Timer1_Timer() {
    resumeNext([&] {
        show();
        activateWindow();
    });
    resumeNext([&] { Timer2->stop(); });
    resumeNext([&] { Timer1->stop(); });
    // Between the unloading of this window and the showing of the main one no window is up; the lock keeps
    // the application from quitting for that moment. This object lives on until the event loop deletes it.
    QEventLoopLocker keepRunning;
    const std::function<void()> showMain = m_showMain;
    resumeNext([&] { close(); });
    resumeNext([&] {
        if (showMain)
            showMain();
    });
}

void frmSplash::Form_KeyPress(int16_t &KeyAscii) {
    (void)KeyAscii;
}

void frmSplash::Form_Unload(int16_t &Cancel) {
    (void)Cancel;
    resumeNext([&] { Timer1->stop(); });
}

void frmSplash::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

void frmSplash::keyPressEvent(QKeyEvent *event) {
    int16_t keyAscii = event->text().isEmpty() ? 0 : static_cast<int16_t>(event->text().at(0).unicode());
    Form_KeyPress(keyAscii);
    event->accept();
}

void frmSplash::keyReleaseEvent(QKeyEvent *event) {
    event->accept();
}
void frmSplash::mousePressEvent(QMouseEvent *event) {
    event->accept();
}
void frmSplash::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
}
void frmSplash::mouseDoubleClickEvent(QMouseEvent *event) {
    event->accept();
}

void frmSplash::closeEvent(QCloseEvent *event) {
    int16_t cancel = 0;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}
