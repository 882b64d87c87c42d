#include "PdfReport.h"

#include "FontFallbacks.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <functional>

namespace {

// A column of a table: its caption and its share of the text width.
struct Column {
    QString caption;
    double share;
};

// Lays the record out page by page. Run once to count the pages and once to draw them.
class Layout {
public:
    Layout(QPdfWriter &writer, QPainter *painter, int totalPages)
        : m_writer(writer)
        , m_painter(painter)
        , m_totalPages(totalPages) {
        const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
        m_width = page.width();
        m_height = page.height();
        m_mm = writer.resolution() / 25.4;
        m_body = font(9);
        m_small = font(7);
        m_title = font(15, true);
        m_bold = font(9, true);
        startPage();
    }

    int pages() const { return m_page; }

    void title(const QString &text) { line(text, m_title, Qt::AlignHCenter, 3); }
    void heading(const QString &text) {
        space(2);
        line(text, m_bold, Qt::AlignLeft, 1);
    }
    void space(double mm) { m_y += mm * m_mm; }

    // Rows of cells; the first row is the caption row, repeated at the top of each page the table runs onto.
    void table(const std::vector<Column> &columns, const std::vector<QStringList> &rows, const QFont &font,
               bool withCaptions = true) {
        const QFontMetricsF metrics(font, &m_writer);
        auto rowHeight = [&](const QStringList &cells) {
            double height = metrics.height();
            for (int i = 0; i < cells.size() && i < int(columns.size()); ++i) {
                const QRectF box = metrics.boundingRect(QRectF(0, 0, cellWidth(columns[i]) - pad() * 2, 1e6),
                                                        Qt::TextWordWrap, cells[i]);
                height = std::max(height, box.height());
            }
            return height + pad() * 2;
        };
        QStringList captions;
        for (const Column &c : columns)
            captions << c.caption;
        const double captionHeight = rowHeight(captions);
        if (withCaptions)
            drawRow(columns, captions, font, captionHeight, true);
        for (const QStringList &row : rows) {
            const double height = rowHeight(row);
            if (m_y + height > m_height - footerHeight()) {
                newPage();
                if (withCaptions)
                    drawRow(columns, captions, font, captionHeight, true);
            }
            drawRow(columns, row, font, height, false);
        }
    }

    // Text that flows over as many lines as it needs.
    void paragraph(const QString &text, const QFont &font) {
        const QFontMetricsF metrics(font, &m_writer);
        const QRectF box = metrics.boundingRect(QRectF(0, 0, m_width, 1e6), Qt::TextWordWrap, text);
        ensure(box.height());
        if (m_painter) {
            m_painter->setFont(font);
            m_painter->drawText(QRectF(0, m_y, m_width, box.height()), Qt::TextWordWrap, text);
        }
        m_y += box.height();
    }

    void signatures() {
        const QFontMetricsF metrics(m_body, &m_writer);
        ensure(metrics.height() * 3 + 12 * m_mm);
        space(10);
        const double third = m_width / 3;
        const QStringList captions = {QStringLiteral("调试人："), QStringLiteral("见证人："),
                                      QStringLiteral("日期：")};
        for (int i = 0; i < 3; ++i)
            if (m_painter) {
                m_painter->setFont(m_body);
                const double x = i * third;
                m_painter->drawText(QPointF(x, m_y + metrics.ascent()), captions[i]);
                const double lineX = x + metrics.horizontalAdvance(captions[i]);
                m_painter->drawLine(QPointF(lineX, m_y + metrics.height()),
                                    QPointF(x + third - 4 * m_mm, m_y + metrics.height()));
            }
        m_y += metrics.height() * 2;
    }

    void finish() { footer(); }

    QFont body() const { return m_body; }
    QFont small() const { return m_small; }

private:
    QFont font(double points, bool bold = false) const {
        QFont f(QStringLiteral("SimSun"));
        f.setPointSizeF(points);
        f.setBold(bold);
        return f;
    }
    double pad() const { return 0.8 * m_mm; }
    double footerHeight() const { return 8 * m_mm; }
    double cellWidth(const Column &c) const { return c.share * m_width; }

    void line(const QString &text, const QFont &font, Qt::Alignment alignment, double after) {
        const QFontMetricsF metrics(font, &m_writer);
        ensure(metrics.height());
        if (m_painter) {
            m_painter->setFont(font);
            m_painter->drawText(QRectF(0, m_y, m_width, metrics.height()), alignment, text);
        }
        m_y += metrics.height() + after * m_mm;
    }

    void drawRow(const std::vector<Column> &columns, const QStringList &cells, const QFont &font,
                 double height, bool caption) {
        if (m_painter) {
            double x = 0;
            m_painter->setFont(font);
            for (size_t i = 0; i < columns.size(); ++i) {
                const QRectF cell(x, m_y, cellWidth(columns[i]), height);
                if (caption)
                    m_painter->fillRect(cell, QColor(0xE8, 0xE8, 0xE8));
                m_painter->drawRect(cell);
                if (int(i) < cells.size())
                    m_painter->drawText(cell.adjusted(pad(), pad(), -pad(), -pad()),
                                        Qt::TextWordWrap | Qt::AlignVCenter, cells[int(i)]);
                x += cellWidth(columns[i]);
            }
        }
        m_y += height;
    }

    void ensure(double height) {
        if (m_y + height > m_height - footerHeight())
            newPage();
    }
    void startPage() {
        ++m_page;
        m_y = 0;
        if (m_painter)
            m_painter->setPen(QPen(Qt::black, 0.2 * m_mm));
    }
    void newPage() {
        footer();
        if (m_painter)
            m_writer.newPage();
        startPage();
    }
    void footer() {
        if (!m_painter)
            return;
        m_painter->setFont(m_small);
        m_painter->drawText(QRectF(0, m_height - footerHeight() / 2, m_width, footerHeight() / 2),
                            Qt::AlignHCenter,
                            QStringLiteral("第 %1 页 共 %2 页").arg(m_page).arg(m_totalPages));
    }

    QPdfWriter &m_writer;
    QPainter *m_painter;
    int m_totalPages;
    double m_width = 0;
    double m_height = 0;
    double m_mm = 1;
    double m_y = 0;
    int m_page = 0;
    QFont m_body, m_small, m_title, m_bold;
};

QString value(int v) {
    return v == ModuleSnapshot::Unread ? QStringLiteral("读取失败") : QString::number(v);
}
QString contact(int v) {
    return v == ModuleSnapshot::Unread ? QStringLiteral("读取失败")
           : v                         ? QStringLiteral("闭合")
                                       : QStringLiteral("断开");
}

std::vector<QStringList> snapshotRows(const CheckRecord &record) {
    std::vector<QStringList> rows;
    const ModuleSnapshot none;
    const ModuleSnapshot &found = record.asFound ? *record.asFound : none;
    const ModuleSnapshot &left = record.asLeft ? *record.asLeft : none;
    auto add = [&](const QString &item, const QString &a, const QString &b) { rows.push_back({item, a, b}); };
    for (int y = 0; y < 5; ++y)
        add(QStringLiteral("Y%1").arg(y + 1), contact(found.outputs[y]), contact(left.outputs[y]));
    for (int x = 0; x < 10; ++x)
        add(QStringLiteral("X%1").arg(x + 1), contact(found.inputs[x]), contact(left.inputs[x]));
    for (int c = 0; c < 3; ++c) {
        add(QStringLiteral("C%1 计数").arg(c + 1), value(found.counts[c]), value(left.counts[c]));
        add(QStringLiteral("C%1 预置").arg(c + 1), value(found.presets[c]), value(left.presets[c]));
        add(QStringLiteral("C%1 清零方式").arg(c + 1), value(found.clearModes[c]), value(left.clearModes[c]));
        add(QStringLiteral("X%1 频率").arg(c + 1), value(found.frequencies[c]), value(left.frequencies[c]));
    }
    add(QStringLiteral("模块校验"),
        found.parity == ModuleSnapshot::Unread ? value(found.parity) : parityText(found.parity),
        left.parity == ModuleSnapshot::Unread ? value(left.parity) : parityText(left.parity));
    return rows;
}

void lay(Layout &page, const CheckRecord &record) {
    const RecordHeader &h = record.header;
    page.title(QStringLiteral("QM4107 模块调试记录"));
    const QString end = !record.closing             ? QStringLiteral("（未完成）")
                        : record.closing->cancelled ? record.closing->end + QStringLiteral("（已取消）")
                                                    : record.closing->end;
    page.table({{QString(), 0.18}, {QString(), 0.32}, {QString(), 0.18}, {QString(), 0.32}},
               {{QStringLiteral("项目/现场"), h.project, QStringLiteral("位置（柜）"), h.location},
                {QStringLiteral("模块位号"), h.moduleTag, QStringLiteral("程序版本"), h.programVersion},
                {QStringLiteral("端口"), QString::number(h.port), QStringLiteral("站号"),
                 QString::number(h.station)},
                {QStringLiteral("波特率"), baudText(h.baudCode), QStringLiteral("校验方式"),
                 parityText(h.parityCode)},
                {QStringLiteral("调试人"), h.engineer, QStringLiteral("见证人"), h.witness},
                {QStringLiteral("开始"), h.start, QStringLiteral("结束"), end}},
               page.body(), false);

    page.heading(QStringLiteral("调试前（as found）与调试后（as left）"));
    // Two runs of item, as found, as left beside each other keep the state on a third of the page.
    const std::vector<QStringList> snapshot = snapshotRows(record);
    const size_t half = (snapshot.size() + 1) / 2;
    std::vector<QStringList> paired;
    for (size_t i = 0; i < half; ++i)
        paired.push_back(snapshot[i] + (i + half < snapshot.size() ? snapshot[i + half] : QStringList()));
    const std::vector<Column> run = {
        {QStringLiteral("项目"), 0.16}, {QStringLiteral("调试前"), 0.17}, {QStringLiteral("调试后"), 0.17}};
    page.table({run[0], run[1], run[2], run[0], run[1], run[2]}, paired, page.small());

    page.heading(QStringLiteral("各点结果"));
    std::vector<QStringList> rows;
    for (const PointResult &r : record.table()) {
        const auto io = h.io.find(r.point.name());
        const QString tag = io == h.io.end() ? QString() : io->second.tag;
        const QString terminal = io == h.io.end() ? QString() : io->second.terminal;
        rows.push_back({QString::number(sequenceOf(r.point)), r.point.name(), tag, terminal, r.checked,
                        r.expected, r.observed, r.field, resultWord(r.result), defectWord(r.defect), r.remark,
                        r.time.mid(11, 8), QString::number(r.tries)});
    }
    page.table({{QStringLiteral("序号"), 0.04},
                {QStringLiteral("点"), 0.04},
                {QStringLiteral("位号"), 0.08},
                {QStringLiteral("端子"), 0.06},
                {QStringLiteral("检查内容"), 0.15},
                {QStringLiteral("期望"), 0.11},
                {QStringLiteral("观察"), 0.14},
                {QStringLiteral("现场确认"), 0.05},
                {QStringLiteral("结果"), 0.05},
                {QStringLiteral("缺陷类别"), 0.06},
                {QStringLiteral("备注"), 0.08},
                {QStringLiteral("时间"), 0.08},
                {QStringLiteral("次数"), 0.04}},
               rows, page.small());

    page.heading(QStringLiteral("线路计数"));
    // Summed over every open of the walk; a walk cut short has them as far as its journal holds them.
    const LineCounters &c = record.counters;
    std::vector<Column> counterColumns;
    QStringList counterValues;
    for (const auto &[label, value] : c.labelled()) {
        counterColumns.push_back({label, 1.0 / 7});
        counterValues << QString::number(value);
    }
    page.table(counterColumns, {counterValues}, page.body());

    page.heading(QStringLiteral("小结"));
    const auto counts = record.tally();
    QString summary = QStringLiteral("通过 %1，失败 %2，跳过 %3，未测 %4。")
                          .arg(counts[int(Result::Pass)])
                          .arg(counts[int(Result::Fail)])
                          .arg(counts[int(Result::Skip)])
                          .arg(counts[int(Result::Untested)]);
    if (!record.outputsChanged.isEmpty())
        summary +=
            QStringLiteral("\n输出可能未恢复：%1").arg(record.outputsChanged.join(QStringLiteral("、")));
    if (record.closing) {
        if (!record.closing->remark.isEmpty())
            summary += QStringLiteral("\n备注：") + record.closing->remark;
        if (!record.closing->trace.isEmpty())
            summary += QStringLiteral("\n通讯记录：%1  SHA-256 %2")
                           .arg(record.closing->trace, record.closing->traceSha256);
    } else {
        summary += QStringLiteral("\n记录未完成：调试中断。");
    }
    page.paragraph(summary, page.body());
    page.signatures();
}

} // namespace

bool writePdfReport(const CheckRecord &record, QIODevice &device) {
    FontFallbacks::install();
    QPdfWriter writer(&device);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 12), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("QM4107 模块调试记录 %1").arg(record.header.moduleTag));
    writer.setCreator(QStringLiteral("qm4107-checkout ") + record.header.programVersion);

    Layout counting(writer, nullptr, 0);
    lay(counting, record);
    const int pages = counting.pages();

    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    Layout drawing(writer, &painter, pages);
    lay(drawing, record);
    drawing.finish();
    return painter.end();
}
