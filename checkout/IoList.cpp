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

namespace {

// The columns of a cabinet's list, each by its Chinese or English name; the module tag may be left out.
enum CabinetColumn { Station, Point, Tag, Terminal, Description, ModuleTag, CabinetColumns };
const char16_t *const CabinetColumnNames[CabinetColumns][2] = {
    {u"站号", u"station"},  {u"点", u"point"},         {u"位号", u"tag"},
    {u"端子", u"terminal"}, {u"说明", u"description"}, {u"模块位号", u"module tag"}};

// Each column's place in the first row, -1 for one not there; empty when a name is unknown or given twice.
std::vector<int> cabinetColumns(const QStringList &first) {
    std::vector<int> at(CabinetColumns, -1);
    for (int i = 0; i < first.size(); ++i) {
        const QString name = first[i].trimmed().toLower();
        int column = 0;
        while (column < CabinetColumns && name != QStringView(CabinetColumnNames[column][0]) &&
               name != QStringView(CabinetColumnNames[column][1]))
            ++column;
        if (column == CabinetColumns || at[column] >= 0)
            return {};
        at[column] = i;
    }
    return at;
}

} // namespace

CabinetIoList CabinetIoList::parse(const QByteArray &bytes) {
    CabinetIoList list;
    auto refuse = [&](const QString &error) {
        CabinetIoList refused;
        refused.error = error;
        return refused;
    };
    if (bytes.size() > IoList::MaxBytes)
        return refuse(QStringLiteral("机柜 I/O 表大于 1 MiB，不是本机柜的 I/O 表。"));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return refuse(QStringLiteral("机柜 I/O 表不是 UTF-8 编码。") + SaveAsHint);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const std::vector<QStringList> rows = parseCsv(text);
    const QStringList first = rows.empty() ? QStringList() : rows.front();
    const std::vector<int> at = cabinetColumns(first);
    if (!at.empty() && at[Station] < 0) {
        list.oneModule = true;
        list.single = IoList::parse(bytes);
        list.error = list.single.error;
        return list;
    }
    if (at.empty() || at[Point] < 0 || at[Tag] < 0 || at[Terminal] < 0 || at[Description] < 0)
        return refuse(QStringLiteral(
            "机柜 I/O 表的列应为：站号,点,位号,端子,说明，可加一列 模块位号（第 1 行是列名）。"));
    std::map<int, int> tagRow; // the row that gave each station's module tag
    for (size_t r = 1; r < rows.size(); ++r) {
        const QStringList &row = rows[r];
        const QString line = QString::number(r + 1);
        if (row.size() != first.size())
            return refuse(QStringLiteral("机柜 I/O 表第 %1 行有 %2 列，应为 %3 列：%4。")
                              .arg(line)
                              .arg(row.size())
                              .arg(first.size())
                              .arg(first.join(u',')));
        bool whole = false;
        const int station = row[at[Station]].trimmed().toInt(&whole);
        if (!whole || station < 1 || station > 247)
            return refuse(QStringLiteral("机柜 I/O 表第 %1 行：站号“%2”应为 1-247 的整数。")
                              .arg(line, row[at[Station]]));
        const auto point = PointId::parse(row[at[Point]]);
        if (!point)
            return refuse(QStringLiteral("机柜 I/O 表第 %1 行：没有点“%2”（应为 X1-X10、Y1-Y5、C1-C3）。")
                              .arg(line, row[at[Point]]));
        Module &module = list.modules[station];
        if (module.entries.count(point->name()))
            return refuse(QStringLiteral("机柜 I/O 表第 %1 行：站号 %2 的点 %3 出现了两次。")
                              .arg(line)
                              .arg(station)
                              .arg(point->name()));
        module.entries[point->name()] = {row[at[Tag]].trimmed(), row[at[Terminal]].trimmed(),
                                         row[at[Description]].trimmed()};
        const QString tag = at[ModuleTag] < 0 ? QString() : row[at[ModuleTag]].trimmed();
        if (tag.isEmpty())
            continue;
        if (!module.tag.isEmpty() && module.tag != tag)
            return refuse(QStringLiteral("机柜 I/O 表第 %1 行：站号 %2 的模块位号“%3”与第 %4 行的“%5”不同。")
                              .arg(line)
                              .arg(station)
                              .arg(tag)
                              .arg(tagRow[station])
                              .arg(module.tag));
        module.tag = tag;
        tagRow[station] = int(r + 1);
    }
    return list;
}

CabinetIoList CabinetIoList::read(const QString &path) {
    QFile file(path);
    CabinetIoList list;
    if (!file.open(QIODevice::ReadOnly))
        list.error = QStringLiteral("无法读取机柜 I/O 表 %1：%2").arg(path, file.errorString());
    // Read up to the bound, not by the size the file gives: a device (/dev/zero) has none and never ends.
    return list.error.isEmpty() ? parse(file.read(IoList::MaxBytes + 1)) : list;
}
