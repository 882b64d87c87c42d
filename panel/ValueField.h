#pragma once

#include <QLabel>
#include <QPalette>
#include <QRgb>
#include <QString>

// A value field's look: its caption, and its background as the palette's window colour.

// Writes the caption first, then the background colour.
inline void setField(QLabel *field, const QString &caption, QRgb colour) {
    field->setText(caption);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(colour));
    field->setPalette(palette);
    field->setAutoFillBackground(true);
}

inline QRgb fieldColour(const QLabel *field) {
    return field->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
}
