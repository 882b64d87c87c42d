#pragma once

#include "CheckRecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>

// Fields of RFC 4180 CSV text: quoted fields may hold commas, quotes ("" for one) and line breaks.
std::vector<QStringList> parseCsv(const QString &text);

// The plant's I/O list for the module: a CSV file with the columns point, tag, terminal, description, one
// row per point of X1-X10, Y1-Y5, C1-C3, in UTF-8 (a byte-order mark is fine). The first row names the
// columns ("点,位号,端子,说明" or "point,tag,terminal,description").
struct IoList {
    static constexpr qint64 MaxBytes = 1024 * 1024;

    std::map<QString, IoEntry> entries; // by point name
    QString error;                      // why the list was refused; empty when it was read

    static IoList read(const QString &path);
    static IoList parse(const QByteArray &bytes);
};

// A cabinet's I/O list: every point of every module on one line, in one file with a station column
// ("站号,点,位号,端子,说明" or "station,point,tag,terminal,description", in any order, and optionally
// "模块位号" / "module tag" for the module's own tag). A list without a station column is one module's list
// and is read by IoList::parse, its refusals as they are for a module.
struct CabinetIoList {
    struct Module {
        QString tag;                        // the list's 模块位号; empty when it gives none
        std::map<QString, IoEntry> entries; // by point name
        bool operator==(const Module &) const = default;
    };

    std::map<int, Module> modules; // by station
    bool oneModule = false;        // no station column: `single` holds the list
    IoList single;
    QString error; // why the list was refused; empty when it was read

    static CabinetIoList read(const QString &path);
    static CabinetIoList parse(const QByteArray &bytes);
};
