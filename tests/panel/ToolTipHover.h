#pragma once

#include <QApplication>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <QWidget>

#include <gtest/gtest.h>

// Hovers a control as the operator does and gives the tooltip it shows, empty for none.
inline QString hover(QWidget *control) {
    // A tooltip fades out rather than vanishing at once: the last one must be gone before the next hover.
    QToolTip::hideText();
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 10000))
        ADD_FAILURE() << "the last tooltip stays";
    const QPoint inside(control->width() / 2, control->height() / 2);
    QHelpEvent event(QEvent::ToolTip, inside, control->mapToGlobal(inside));
    QApplication::sendEvent(control, &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}
