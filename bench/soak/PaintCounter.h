#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

// Counts the paint events delivered to one window and its controls, to show that the window goes on
// repainting while the line misbehaves.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *window)
        : m_window(window) {}

    long long paints() const { return m_paints; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget == m_window || m_window->isAncestorOf(widget))
                ++m_paints;
        }
        return false;
    }

private:
    QWidget *m_window;
    long long m_paints = 0;
};
