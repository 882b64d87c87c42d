#include "ssqx.h"

#include "FontFallbacks.h"
#include "ui_ssqx.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <cstdlib>

ssqx::ssqx(Modbus485 &link, QWidget *parent)
    : ssqx(std::make_unique<InlineLink>(link), parent) {}

ssqx::ssqx(std::unique_ptr<ExchangeLink> link, QWidget *parent)
    : QWidget(parent)
    , m_link(std::move(link))
    , m_ui(std::make_unique<Ui::ssqx>())
    // "退出" ends the process at once: no destructors run, so nothing closes the port on the way out.
    , m_endProcess([] { std::_Exit(0); }) {
    FontFallbacks::install();
    m_ui->setupUi(this);
    applyLayoutDetails();

    Frame1 = ControlArray<QGroupBox>(this, QStringLiteral("Frame1"));
    Frame2 = ControlArray<QGroupBox>(this, QStringLiteral("Frame2"));
    Frame4 = ControlArray<QGroupBox>(this, QStringLiteral("Frame4"));
    Frame5 = ControlArray<QGroupBox>(this, QStringLiteral("Frame5"));
    Label1 = ControlArray<QLabel>(this, QStringLiteral("Label1"));
    Label2 = ControlArray<QLabel>(this, QStringLiteral("Label2"));
    Label4 = ControlArray<QLabel>(this, QStringLiteral("Label4"));
    B_2R = ControlArray<QLabel>(this, QStringLiteral("B_2R"));
    B_1RW = ControlArray<QLabel>(this, QStringLiteral("B_1RW"));
    D_3R = ControlArray<QLabel>(this, QStringLiteral("D_3R"));
    D_4R = ControlArray<QLabel>(this, QStringLiteral("D_4R"));
    D_4WRW = ControlArray<QLabel>(this, QStringLiteral("D_4WRW"));
    D_3RW = ControlArray<QLineEdit>(this, QStringLiteral("D_3RW"));
    Command2 = ControlArray<QPushButton>(this, QStringLiteral("Command2"));
    Command3 = ControlArray<QPushButton>(this, QStringLiteral("Command3"));
    Command5 = ControlArray<QPushButton>(this, QStringLiteral("Command5"));
    Option1 = ControlArray<QRadioButton>(this, QStringLiteral("Option1"));
    Option2 = ControlArray<QRadioButton>(this, QStringLiteral("Option2"));

    Frame3 = findChild<QGroupBox *>(QStringLiteral("Frame3"));
    Frame6 = findChild<QGroupBox *>(QStringLiteral("Frame6"));
    Label5 = findChild<QLabel *>(QStringLiteral("Label5"));
    Combo1 = findChild<QComboBox *>(QStringLiteral("Combo1"));
    Combo2 = findChild<QComboBox *>(QStringLiteral("Combo2"));
    Combo6 = findChild<QComboBox *>(QStringLiteral("Combo6"));
    Combo7 = findChild<QComboBox *>(QStringLiteral("Combo7"));
    Combo8 = findChild<QComboBox *>(QStringLiteral("Combo8"));
    Combo12 = findChild<QComboBox *>(QStringLiteral("Combo12"));
    Command1 = findChild<QPushButton *>(QStringLiteral("Command1"));
    Command4 = findChild<QPushButton *>(QStringLiteral("Command4"));
    Command9 = findChild<QPushButton *>(QStringLiteral("Command9"));
    Command10 = findChild<QPushButton *>(QStringLiteral("Command10"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(500);

    m_clock.start();
    connectHandlers();
    Form_Load();
}

// The link's thread ends with the window: nothing it still had to deliver reaches a window being taken apart.
ssqx::~ssqx() {
    m_link->stop();
}

// What the stored form cannot hold: half-point font sizes, the icon from the program's resources, and the
// fixed client area centred on the screen.
void ssqx::applyLayoutDetails() {
    for (QWidget *control :
         {static_cast<QWidget *>(m_ui->D_4WRW_21), static_cast<QWidget *>(m_ui->Command1),
          static_cast<QWidget *>(m_ui->Label2_9), static_cast<QWidget *>(m_ui->Label2_10)}) {
        QFont font = control->font();
        font.setPointSizeF(10.5);
        control->setFont(font);
    }
    const QIcon icon(QStringLiteral(":/qm4107/qm4107.ico"));
    if (!icon.isNull())
        setWindowIcon(icon);
    setFixedSize(880, 381);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void ssqx::closeEvent(QCloseEvent *event) {
    int16_t cancel = 0;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void ssqx::keyPressEvent(QKeyEvent *event) {
    Form_KeyDown(event->key(), static_cast<int>(event->modifiers()));
    QWidget::keyPressEvent(event);
}
