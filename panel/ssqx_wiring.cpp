#include "ssqx.h"

#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>

void ssqx::connectHandlers() {
    connect(Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    connect(Command10, &QPushButton::clicked, this, [this] { Command10_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });

    for (const int i : Command2.indexes())
        connect(Command2(i), &QPushButton::clicked, this,
                [this, i] { Command2_Click(static_cast<int16_t>(i)); });
    for (const int i : Command3.indexes())
        connect(Command3(i), &QPushButton::clicked, this,
                [this, i] { Command3_Click(static_cast<int16_t>(i)); });
    for (const int i : Command5.indexes())
        connect(Command5(i), &QPushButton::clicked, this,
                [this, i] { Command5_Click(static_cast<int16_t>(i)); });

    // Labels have no click signal; the event filter turns a click on a value label into D_3R_Click.
    for (const int i : D_3R.indexes())
        D_3R(i)->installEventFilter(this);

    installToolTips();

    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });
}

bool ssqx::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::ToolTip) {
        if (const std::optional<QString> text = toolTipText(watched)) {
            if (text->isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), *text,
                                   static_cast<QWidget *>(watched));
            return true;
        }
    }
    // A click is a left-button release over the label that was pressed.
    if (event->type() == QEvent::MouseButtonRelease) {
        const int index = D_3R.indexOf(watched);
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (index >= 0 && mouse->button() == Qt::LeftButton &&
            static_cast<QWidget *>(watched)->rect().contains(mouse->position().toPoint())) {
            D_3R_Click(static_cast<int16_t>(index));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
