#include "IoList.h"

#include <QFile>
#include <QStringDecoder>

std::vector<QStringList> parseCsv(const QString &text) {
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool rowHasData = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
            rowHasData = true;
        } else if (c == u',') {
            row << field;
            field.clear();
            rowHasData = true;
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            if (rowHasData || !field.isEmpty()) {
                row << field;
                rows.push_back(row);
            }
            row.clear();
            field.clear();
            rowHasData = false;
        } else {
            field += c;
            rowHasData = true;
        }
    }
    if (rowHasData || !field.isEmpty()) {
        row << field;
        rows.push_back(row);
    }
    return rows;
}

namespace {
const QString TooBig = QStringLiteral("I/O 表大于 1 MiB，不是本模块的 I/O 表。");
const QString SaveAsHint = QStringLiteral("请在 Excel 中用“另存为”选择“CSV UTF-8（逗号分隔）”保存后再选。");
} // namespace

IoList IoList::parse(const QByteArray &bytes) {
    IoList list;
    if (bytes.size() > MaxBytes) {
        list.error = TooBig;
        return list;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        list.error = QStringLiteral("I/O 表不是 UTF-8 编码。") + SaveAsHint;
        return list;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    const std::vector<QStringList> rows = parseCsv(text);
    static const QStringList chinese = {QStringLiteral("点"), QStringLiteral("位号"), QStringLiteral("端子"),
                                        QStringLiteral("说明")};
    static const QStringList english = {QStringLiteral("point"), QStringLiteral("tag"),
                                        QStringLiteral("terminal"), QStringLiteral("description")};
    QStringList first = rows.empty() ? QStringList() : rows.front();
    for (QString &name : first)
        name = name.trimmed().toLower();
    if (first != chinese && first != english) {
        list.error = QStringLiteral("I/O 表的列应为：点,位号,端子,说明（第 1 行是列名）。");
        return list;
    }
    for (size_t r = 1; r < rows.size(); ++r) {
        const QStringList &row = rows[r];
        const QString line = QString::number(r + 1);
        if (row.size() != 4) {
            list.error = QStringLiteral("I/O 表第 %1 行有 %2 列，应为 4 列：点,位号,端子,说明。")
                             .arg(line)
                             .arg(row.size());
            return {{}, list.error};
        }
        const auto point = PointId::parse(row[0]);
        if (!point) {
            list.error =
                QStringLiteral("I/O 表第 %1 行：没有点“%2”（应为 X1-X10、Y1-Y5、C1-C3）。").arg(line, row[0]);
            return {{}, list.error};
        }
        if (list.entries.count(point->name())) {
            list.error = QStringLiteral("I/O 表第 %1 行：点 %2 出现了两次。").arg(line, point->name());
            return {{}, list.error};
        }
        list.entries[point->name()] = {row[1].trimmed(), row[2].trimmed(), row[3].trimmed()};
    }
    return list;
}

IoList IoList::read(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("无法读取 I/O 表 %1：%2").arg(path, file.errorString())};
    // Read up to the bound, not by the size the file gives: a device (/dev/zero) has none and never ends.
    const QByteArray bytes = file.read(MaxBytes + 1);
    if (bytes.size() > MaxBytes)
        return {{}, TooBig};
    return parse(bytes);
}
