#pragma once

#include "RuntimeError.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QRegularExpression>
#include <QString>

// The elements of one control array, collected from a form whose controls are named Name_Index
// (D_3R_3, Frame1_33), so code reads D_3R(3). Indexes need not start at 0 or be contiguous.
template <class T> class ControlArray {
public:
    ControlArray() = default;

    ControlArray(const QObject *form, const QString &name)
        : m_name(name) {
        const QRegularExpression pattern(QStringLiteral("^%1_(\\d+)$").arg(QRegularExpression::escape(name)));
        for (T *control : form->findChildren<T *>()) {
            const auto match = pattern.match(control->objectName());
            if (match.hasMatch())
                m_items.insert(match.captured(1).toInt(), control);
        }
    }

    // The element with this index; SubscriptError if there is none.
    T *operator()(int index) const {
        const auto it = m_items.constFind(index);
        if (it == m_items.constEnd())
            throw SubscriptError(
                QStringLiteral("%1(%2) does not exist").arg(m_name).arg(index).toStdString());
        return it.value();
    }

    bool exists(int index) const { return m_items.contains(index); }
    QList<int> indexes() const { return m_items.keys(); }
    int count() const { return static_cast<int>(m_items.size()); }
    const QString &name() const { return m_name; }

    // The index of an element, or -1 when the control is not one of them.
    int indexOf(const QObject *control) const {
        for (auto it = m_items.constBegin(); it != m_items.constEnd(); ++it)
            if (it.value() == control)
                return it.key();
        return -1;
    }

private:
    QString m_name;
    QMap<int, T *> m_items;
};
