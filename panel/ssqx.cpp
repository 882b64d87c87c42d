#include "ssqx.h"

#include "ui_ssqx.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdlib>

ssqx::ssqx(Modbus485 &link, QWidget *parent)
    : QWidget(parent)
    , m_link(link)
    , m_ui(std::make_unique<Ui::ssqx>())
    , m_endProcess([] { std::exit(0); })
{
    m_ui->setupUi(this);

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

    connectHandlers();
    Form_Load();
}

ssqx::~ssqx() = default;

void ssqx::closeEvent(QCloseEvent *event)
{
    int16_t cancel = 0;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void ssqx::keyPressEvent(QKeyEvent *event)
{
    Form_KeyDown(0, 0);
    QWidget::keyPressEvent(event);
}
