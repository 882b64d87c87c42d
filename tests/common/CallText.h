#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <initializer_list>

// A call to Modbus485 as the test doubles record it: "Name(arg,arg,...)", a block read's receiving area left
// out.
inline QString callText(const QString &operation, std::initializer_list<int32_t> args) {
    QStringList text;
    for (const int32_t a : args)
        text << QString::number(a);
    return operation + u'(' + text.join(u',') + u')';
}
