#include "CsvReport.h"

namespace {

QString quoted(const QString &field) {
    if (!field.contains(u',') && !field.contains(u'"') && !field.contains(u'\n') && !field.contains(u'\r'))
        return field;
    QString escaped = field;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

} // namespace

QByteArray csvReport(const CheckRecord &record) {
    QString text;
    auto row = [&](const QStringList &fields) {
        QStringList out;
        for (const QString &f : fields)
            out << quoted(f);
        text += out.join(u',') + QStringLiteral("\r\n");
    };
    if (record.closing && record.closing->cancelled)
        row({QStringLiteral("已取消")});
    row({QStringLiteral("序号"), QStringLiteral("点"), QStringLiteral("位号"), QStringLiteral("端子"),
         QStringLiteral("检查内容"), QStringLiteral("期望"), QStringLiteral("观察"),
         QStringLiteral("现场确认"), QStringLiteral("结果"), QStringLiteral("缺陷类别"),
         QStringLiteral("备注"), QStringLiteral("时间"), QStringLiteral("次数")});
    for (const PointResult &r : record.table()) {
        const auto io = record.header.io.find(r.point.name());
        const IoEntry entry = io == record.header.io.end() ? IoEntry{} : io->second;
        row({QString::number(sequenceOf(r.point)), r.point.name(), entry.tag, entry.terminal, r.checked,
             r.expected, r.observed, r.field, resultWord(r.result), defectWord(r.defect), r.remark, r.time,
             QString::number(r.tries)});
    }
    return "\xEF\xBB\xBF" + text.toUtf8();
}
