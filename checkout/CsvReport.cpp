#include "CsvReport.h"

#include "CabinetRecord.h"

namespace {

// A cell a spreadsheet would take for a formula (=A1, +24V, -KM1, @SUM, or after a tab or carriage return)
// gets the apostrophe that makes it text: a tag must not turn into a formula, #NAME? or a live link.
QString guarded(const QString &field) {
    return !field.isEmpty() && QStringView(u"=+-@\t\r").contains(field[0]) ? u'\'' + field : field;
}

QString quoted(const QString &unguarded) {
    const QString field = guarded(unguarded);
    if (!field.contains(u',') && !field.contains(u'"') && !field.contains(u'\n') && !field.contains(u'\r'))
        return field;
    QString escaped = field;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

// A CSV line of the fields, each guarded and quoted.
QString csvLine(const QStringList &fields) {
    QStringList out;
    for (const QString &f : fields)
        out << quoted(f);
    return out.join(u',') + QStringLiteral("\r\n");
}

const QStringList PointCaptions = {
    QStringLiteral("序号"),     QStringLiteral("点"),       QStringLiteral("位号"),
    QStringLiteral("端子"),     QStringLiteral("检查内容"), QStringLiteral("期望"),
    QStringLiteral("观察"),     QStringLiteral("现场确认"), QStringLiteral("结果"),
    QStringLiteral("缺陷类别"), QStringLiteral("备注"),     QStringLiteral("时间"),
    QStringLiteral("次数")};

// The record's points as CSV lines, each after the fields of `before`; `remark` stands where a point has
// none.
QString pointLines(const CheckRecord &record, const QStringList &before = {}, const QString &remark = {}) {
    QString text;
    for (const PointResult &r : record.table()) {
        const auto io = record.header.io.find(r.point.name());
        const IoEntry entry = io == record.header.io.end() ? IoEntry{} : io->second;
        text += csvLine(before + QStringList{QString::number(sequenceOf(r.point)), r.point.name(), entry.tag,
                                             entry.terminal, r.checked, r.expected, r.observed, r.field,
                                             resultWord(r.result), defectWord(r.defect),
                                             r.remark.isEmpty() ? remark : r.remark, r.time,
                                             QString::number(r.tries)});
    }
    return text;
}

} // namespace

QByteArray csvReport(const CheckRecord &record) {
    // A cancelled walk says so on the first line.
    const QString cancelled =
        record.closing && record.closing->cancelled ? csvLine({QStringLiteral("已取消")}) : QString();
    return "\xEF\xBB\xBF" + (cancelled + csvLine(PointCaptions) + pointLines(record)).toUtf8();
}

QByteArray cabinetCsvReport(const CabinetReport &report) {
    QString text = csvLine(QStringList{QStringLiteral("站号"), QStringLiteral("模块位号")} + PointCaptions);
    for (const CabinetReport::Module &m : report.modules)
        text += pointLines(m.record, {QString::number(m.station), moduleTagOf(m)}, m.note);
    return "\xEF\xBB\xBF" + text.toUtf8();
}
