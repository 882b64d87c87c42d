#include "PdfReport.h"

#include "CabinetRecord.h"
#include "FontFallbacks.h"
#include "LinkWords.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <array>
#include <functional>

namespace {

using LinkWords::baudText;
using LinkWords::parityText;

// A column of a table: its caption, its share of the width left once every column has its least, and
// whether its cells are short words (通过, 读取失败, a time) that must never break: then its least is its
// widest cell, else its caption.
struct Column {
    QString caption;
    double share;
    bool whole = false;
};

// Lays the record out page by page. Run once to count the pages and once to draw them. Text is broken into
// lines here, never by the painter, so that whatever is drawn is drawn whole inside its cell: a row taller
// than what is left of a page goes on over the next, under its table's captions again.
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

    // Rows of cells under a caption row, which is repeated at the top of each page the table runs onto.
    void table(const std::vector<Column> &columns, const std::vector<QStringList> &rows, const QFont &font,
               bool withCaptions = true) {
        const std::vector<double> widths = columnWidths(columns, rows, font);
        const double spacing = QFontMetricsF(font, &m_writer).lineSpacing();
        QStringList captionCells;
        for (const Column &c : columns)
            captionCells << c.caption;
        const Cells captions = cells(captionCells, widths, font);
        auto drawCaptions = [&] {
            if (withCaptions)
                drawRow(widths, captions, 0, linesOf(captions), spacing, font, true);
        };
        // The captions go with the first lines of the first row: a table never starts with its captions
        // alone.
        const double captionHeight = withCaptions ? linesOf(captions) * spacing + pad() * 2 : 0;
        if (!rows.empty())
            ensure(captionHeight + std::min(linesOf(cells(rows.front(), widths, font)), KeepWhole) * spacing +
                   pad() * 2);
        drawCaptions();
        const int perPage = std::max(1, int((bottom() - captionHeight - pad() * 2) / spacing));
        for (const QStringList &row : rows) {
            const Cells laid = cells(row, widths, font);
            const int lines = linesOf(laid);
            for (int from = 0; from < lines;) {
                const int fit = int((bottom() - m_y - pad() * 2) / spacing);
                const int left = lines - from;
                // A row of a few lines is not split; a taller one fills what is left here, unless that is a
                // line or less.
                if (fit < left && (left <= std::min(perPage, KeepWhole) || fit < 2)) {
                    newPage();
                    drawCaptions();
                    continue;
                }
                const int count = std::min(fit, left);
                drawRow(widths, laid, from, count, spacing, font, false);
                from += count;
            }
        }
    }

    // Text that flows over as many lines, and pages, as it needs.
    void paragraph(const QString &text, const QFont &font) {
        const double spacing = QFontMetricsF(font, &m_writer).lineSpacing();
        for (const QString &l : wrap(text, font, m_width)) {
            ensure(spacing);
            if (m_painter) {
                m_painter->setFont(font);
                m_painter->drawText(QPointF(0, m_y + QFontMetricsF(font, &m_writer).ascent()), l);
            }
            m_y += spacing;
        }
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
    // What follows starts on a page of its own.
    void pageBreak() {
        if (m_y > 0)
            newPage();
    }

    QFont body() const { return m_body; }
    QFont small() const { return m_small; }

private:
    using Cells = std::vector<QStringList>; // each cell's lines

    QFont font(double points, bool bold = false) const {
        QFont f(QStringLiteral("SimSun"));
        f.setPointSizeF(points);
        f.setBold(bold);
        return f;
    }
    // A row of up to this many lines is never split over two pages.
    static constexpr int KeepWhole = 6;

    double pad() const { return 0.8 * m_mm; }
    double footerHeight() const { return 8 * m_mm; }
    double bottom() const { return m_height - footerHeight(); }

    // The text's lines in the width: broken between words where it can (Chinese between any two characters),
    // inside a word only where the word alone is wider than the line.
    QStringList wrap(const QString &text, const QFont &font, double width) const {
        QStringList lines;
        for (const QString &paragraph : text.split(u'\n')) {
            QTextLayout layout(paragraph, font, &m_writer);
            QTextOption option;
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            layout.setTextOption(option);
            const qsizetype before = lines.size();
            layout.beginLayout();
            for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
                l.setLineWidth(width);
                lines << paragraph.mid(l.textStart(), l.textLength()).trimmed();
            }
            layout.endLayout();
            if (lines.size() == before)
                lines << QString();
        }
        return lines;
    }

    Cells cells(const QStringList &row, const std::vector<double> &widths, const QFont &font) const {
        Cells laid;
        for (size_t i = 0; i < widths.size(); ++i)
            laid.push_back(wrap(row.value(int(i)), font, widths[i] - pad() * 2));
        return laid;
    }
    static int linesOf(const Cells &cells) {
        int lines = 1;
        for (const QStringList &c : cells)
            lines = std::max(lines, int(c.size()));
        return lines;
    }

    std::vector<double> columnWidths(const std::vector<Column> &columns, const std::vector<QStringList> &rows,
                                     const QFont &font) const {
        const QFontMetricsF metrics(font, &m_writer);
        auto widest = [&](const QString &text) {
            double w = 0;
            for (const QString &l : text.split(u'\n'))
                w = std::max(w, metrics.horizontalAdvance(l));
            return w;
        };
        std::vector<double> widths, weights;
        double least = 0, weight = 0;
        for (size_t i = 0; i < columns.size(); ++i) {
            const double caption = widest(columns[i].caption);
            double content = caption;
            for (const QStringList &row : rows)
                content = std::max(content, widest(row.value(int(i))));
            // A little over the text itself: a line exactly as wide as the text may still break.
            widths.push_back((columns[i].whole ? content : caption) + pad() * 2 + 0.5 * m_mm);
            least += widths.back();
            // A column with little in it (an empty remark) leaves its share to those with more.
            weights.push_back(columns[i].share * std::min(content, m_width / 4));
            weight += weights.back();
        }
        // What is left goes by weight; too little for even the least and every column gives up alike.
        for (size_t i = 0; i < columns.size(); ++i)
            widths[i] = least > m_width
                            ? widths[i] * m_width / least
                            : widths[i] + (m_width - least) * (weight > 0 ? weights[i] / weight : 0);
        return widths;
    }

    void line(const QString &text, const QFont &font, Qt::Alignment alignment, double after) {
        const QFontMetricsF metrics(font, &m_writer);
        ensure(metrics.height());
        if (m_painter) {
            m_painter->setFont(font);
            m_painter->drawText(QRectF(0, m_y, m_width, metrics.height()), alignment, text);
        }
        m_y += metrics.height() + after * m_mm;
    }

    // Lines from..from+count of each cell, in cells as tall as that.
    void drawRow(const std::vector<double> &widths, const Cells &cells, int from, int count, double spacing,
                 const QFont &font, bool caption) {
        const double height = count * spacing + pad() * 2;
        if (m_painter) {
            const double ascent = QFontMetricsF(font, &m_writer).ascent();
            double x = 0;
            m_painter->setFont(font);
            for (size_t i = 0; i < widths.size(); ++i) {
                const QRectF cell(x, m_y, widths[i], height);
                if (caption)
                    m_painter->fillRect(cell, QColor(0xE8, 0xE8, 0xE8));
                m_painter->drawRect(cell);
                const QStringList &lines = cells[i];
                for (int k = 0; k < count && from + k < lines.size(); ++k)
                    m_painter->drawText(QPointF(x + pad(), m_y + pad() + k * spacing + ascent),
                                        lines[from + k]);
                x += widths[i];
            }
        }
        m_y += height;
    }

    void ensure(double height) {
        if (m_y + height > bottom())
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

// "2026-12-07T14:03:11+08:00" as "2026-12-07 14:03:11 +08:00".
QString readable(const QString &iso) {
    return iso.size() > 19 ? iso.left(10) + u' ' + iso.mid(11, 8) + u' ' + iso.mid(19) : iso;
}

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
    for (int y = 0; y < ModuleMap::OutputCount; ++y)
        add(QStringLiteral("Y%1").arg(y + 1), contact(found.outputs[y]), contact(left.outputs[y]));
    for (int x = 0; x < ModuleMap::InputCount; ++x)
        add(QStringLiteral("X%1").arg(x + 1), contact(found.inputs[x]), contact(left.inputs[x]));
    for (int c = 0; c < ModuleMap::CounterCount; ++c) {
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

// One module's record; a cabinet's signs once at its end.
void lay(Layout &page, const CheckRecord &record, bool withSignatures = true) {
    const RecordHeader &h = record.header;
    page.title(QStringLiteral("QM4107 模块调试记录"));
    const QString end = !record.closing ? QStringLiteral("（未完成）")
                        : record.closing->cancelled
                            ? readable(record.closing->end) + QStringLiteral("（已取消）")
                            : readable(record.closing->end);
    page.table({{QString(), 0, true}, {QString(), 0.5}, {QString(), 0, true}, {QString(), 0.5}},
               {{QStringLiteral("项目/现场"), h.project, QStringLiteral("位置（柜）"), h.location},
                {QStringLiteral("模块位号"), h.moduleTag, QStringLiteral("程序版本"), h.programVersion},
                {QStringLiteral("端口"), QString::number(h.port), QStringLiteral("站号"),
                 QString::number(h.station)},
                {QStringLiteral("波特率"), baudText(h.baudCode), QStringLiteral("校验方式"),
                 parityText(h.parityCode)},
                {QStringLiteral("调试人"), h.engineer, QStringLiteral("见证人"), h.witness},
                {QStringLiteral("开始"), readable(h.start), QStringLiteral("结束"), end}},
               page.body(), false);

    page.heading(QStringLiteral("调试前 / 调试后"));
    // Two runs of item, as found, as left beside each other keep the state on a third of the page.
    const std::vector<QStringList> snapshot = snapshotRows(record);
    const size_t half = (snapshot.size() + 1) / 2;
    std::vector<QStringList> paired;
    for (size_t i = 0; i < half; ++i)
        paired.push_back(snapshot[i] + (i + half < snapshot.size() ? snapshot[i + half] : QStringList()));
    const std::vector<Column> run = {{QStringLiteral("项目"), 1, true},
                                     {QStringLiteral("调试前"), 1, true},
                                     {QStringLiteral("调试后"), 1, true}};
    page.table({run[0], run[1], run[2], run[0], run[1], run[2]}, paired, page.small());

    page.heading(QStringLiteral("各点结果"));
    std::vector<QStringList> rows;
    // The date is the header's start; a point done on another day (the walk went past midnight) has its own.
    const QString startDate = h.start.left(10);
    for (const PointResult &r : record.table()) {
        const auto io = h.io.find(r.point.name());
        const QString tag = io == h.io.end() ? QString() : io->second.tag;
        const QString terminal = io == h.io.end() ? QString() : io->second.terminal;
        rows.push_back(
            {QString::number(sequenceOf(r.point)), r.point.name(), tag, terminal, r.checked, r.expected,
             r.observed, r.field, resultWord(r.result), defectWord(r.defect), r.remark,
             r.time.left(10) == startDate ? r.time.mid(11, 8) : r.time.left(10) + u'\n' + r.time.mid(11, 8),
             QString::number(r.tries)});
    }
    page.table({{QStringLiteral("序号"), 0, true},
                {QStringLiteral("点"), 0, true},
                {QStringLiteral("位号"), 0, true},
                {QStringLiteral("端子"), 0, true},
                {QStringLiteral("检查内容"), 0.18},
                {QStringLiteral("期望"), 0.20},
                {QStringLiteral("观察"), 0.20},
                {QStringLiteral("现场确认"), 0.08},
                {QStringLiteral("结果"), 0, true},
                {QStringLiteral("缺陷类别"), 0, true},
                {QStringLiteral("备注"), 0.18},
                {QStringLiteral("时间"), 0, true},
                {QStringLiteral("次数"), 0, true}},
               rows, page.small());

    page.heading(QStringLiteral("线路计数"));
    // Summed over every open of the walk; a walk cut short has them as far as its journal holds them.
    const LineCounters &c = record.counters;
    std::vector<Column> counterColumns;
    QStringList counterValues;
    for (const auto &[label, value] : c.labelled()) {
        counterColumns.push_back({label, 1.0 / LineCounters::recorded().size()});
        counterValues << QString::number(value);
    }
    page.table(counterColumns, {counterValues}, page.body());

    page.heading(QStringLiteral("小结"));
    QString summary = tallyText(record.tally()) + u'。';
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
    if (withSignatures)
        page.signatures();
}

QString settingText(int baudCode, int parityCode) {
    return baudText(baudCode) + u' ' + parityText(parityCode);
}

// Where the survey found a module against the line's setting.
QString foundText(const CabinetReport::Module &m, const CabinetHeader &h, bool surveyed) {
    QStringList settings;
    bool atLine = false;
    for (const CabinetFind &f : m.finds) {
        atLine = atLine || (f.baudCode == h.baudCode && f.parityCode == h.parityCode);
        settings << settingText(f.baudCode, f.parityCode) +
                        (f.remark.isEmpty() ? QString() : u' ' + f.remark);
    }
    if (!m.expected)
        return QStringLiteral("表外模块：") + settings.join(u'\n');
    if (m.finds.empty())
        return surveyed ? QStringLiteral("未找到") : QStringLiteral("未扫描");
    return atLine ? QStringLiteral("已找到") : QStringLiteral("在其他设置：") + settings.join(u'\n');
}

// The defects of a record by class: "接线 1，模块 2".
QString defectsText(const CheckRecord &record) {
    QStringList parts;
    for (const Defect d : {Defect::Module, Defect::Wiring, Defect::FieldDevice, Defect::Other}) {
        int n = 0;
        for (const PointResult &r : record.table())
            n += r.defect == d;
        if (n > 0)
            parts << defectWord(d) + u' ' + QString::number(n);
    }
    return parts.join(QStringLiteral("，"));
}

// What is left to do on a module: its failed points, outputs maybe not put back, a record not finished, or
// why it has no record.
QString openItems(const CabinetReport::Module &m) {
    if (!m.walked)
        return m.note;
    QStringList items;
    if (!m.note.isEmpty())
        items << m.note;
    for (const PointResult &r : m.walked->table())
        if (r.result == Result::Fail)
            items << r.point.name() + u' ' + resultWord(r.result) +
                         (r.defect == Defect::None ? QString()
                                                   : QStringLiteral("（%1）").arg(defectWord(r.defect)));
    if (!m.walked->outputsChanged.isEmpty())
        items << QStringLiteral("输出可能未恢复：") + m.walked->outputsChanged.join(QStringLiteral("、"));
    if (!m.walked->closing)
        items << QStringLiteral("记录未完成");
    return items.join(QStringLiteral("；"));
}

void layCabinet(Layout &page, const CabinetReport &report) {
    const CabinetHeader &h = report.cabinet.header;
    page.title(QStringLiteral("QM4107 机柜调试记录"));
    const QString end = report.cabinet.end ? readable(*report.cabinet.end) : QStringLiteral("（未完成）");
    page.table({{QString(), 0, true}, {QString(), 0.5}, {QString(), 0, true}, {QString(), 0.5}},
               {{QStringLiteral("项目/现场"), h.project, QStringLiteral("位置（柜）"), h.location},
                {QStringLiteral("端口"), QString::number(h.port), QStringLiteral("线路设置"),
                 settingText(h.baudCode, h.parityCode)},
                {QStringLiteral("调试人"), h.engineer, QStringLiteral("见证人"), h.witness},
                {QStringLiteral("开始"), readable(h.start), QStringLiteral("结束"), end}},
               page.body(), false);

    page.heading(QStringLiteral("模块"));
    std::vector<QStringList> rows;
    std::array<int, 4> total{};
    int missing = 0, unexpected = 0;
    for (const CabinetReport::Module &m : report.modules) {
        const auto counts = m.record.tally();
        for (size_t i = 0; i < counts.size(); ++i)
            total[i] += counts[i];
        missing += m.expected && m.finds.empty();
        unexpected += !m.expected;
        rows.push_back(
            {QString::number(m.station), moduleTagOf(m), foundText(m, h, !report.cabinet.survey.empty()),
             QString::number(counts[int(Result::Pass)]), QString::number(counts[int(Result::Fail)]),
             QString::number(counts[int(Result::Skip)]), QString::number(counts[int(Result::Untested)]),
             defectsText(m.record), openItems(m)});
    }
    page.table({{QStringLiteral("站号"), 0, true},
                {QStringLiteral("模块位号"), 0.2},
                {QStringLiteral("找到"), 0.25},
                {QStringLiteral("通过"), 0, true},
                {QStringLiteral("失败"), 0, true},
                {QStringLiteral("跳过"), 0, true},
                {QStringLiteral("未测"), 0, true},
                {QStringLiteral("缺陷类别"), 0.15},
                {QStringLiteral("遗留事项"), 0.4}},
               rows, page.small());

    if (!report.cabinet.parityChanges.empty()) {
        page.heading(QStringLiteral("校验方式更改"));
        std::vector<QStringList> changes;
        for (const ParityChange &c : report.cabinet.parityChanges)
            changes.push_back(
                {QString::number(c.station), parityText(c.from), parityText(c.to), readable(c.time),
                 c.answered ? QStringLiteral("已按线路设置应答")
                            : QStringLiteral("已写入；若模块需重新上电才生效，请重新上电后按 重试")});
        page.table({{QStringLiteral("站号"), 0, true},
                    {QStringLiteral("原校验"), 0, true},
                    {QStringLiteral("新校验"), 0, true},
                    {QStringLiteral("时间"), 0, true},
                    {QStringLiteral("结果"), 1}},
                   changes, page.small());
    }

    page.heading(QStringLiteral("小结"));
    QString summary = QStringLiteral("I/O 表 %1 个模块，未找到 %2 个，表外 %3 个。")
                          .arg(h.list.size())
                          .arg(missing)
                          .arg(unexpected) +
                      tallyText(total) + u'。';
    if (!report.cabinet.remark.isEmpty())
        summary += QStringLiteral("\n备注：") + report.cabinet.remark;
    if (!report.cabinet.end)
        summary += QStringLiteral("\n记录未完成：调试中断。");
    page.paragraph(summary, page.body());

    for (const CabinetReport::Module &m : report.modules)
        if (m.walked) {
            page.pageBreak();
            lay(page, *m.walked, false);
        }
    page.signatures();
}

// Lays out the pages twice, once to count them and once to draw them with "第 N 页 共 M 页".
bool writePdf(QIODevice &device, const QString &title, const QString &version,
              const std::function<void(Layout &)> &layAll) {
    FontFallbacks::install();
    QPdfWriter writer(&device);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 12), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("qm4107-checkout ") + version);

    Layout counting(writer, nullptr, 0);
    layAll(counting);
    const int pages = counting.pages();

    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    Layout drawing(writer, &painter, pages);
    layAll(drawing);
    drawing.finish();
    return painter.end();
}

QByteArray bytesOf(const std::function<bool(QIODevice &)> &write) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!write(buffer))
        return {};
    return buffer.data();
}

} // namespace

bool writePdfReport(const CheckRecord &record, QIODevice &device) {
    return writePdf(device, QStringLiteral("QM4107 模块调试记录 %1").arg(record.header.moduleTag),
                    record.header.programVersion, [&](Layout &page) { lay(page, record); });
}

QByteArray pdfReport(const CheckRecord &record) {
    return bytesOf([&](QIODevice &device) { return writePdfReport(record, device); });
}

QByteArray cabinetPdfReport(const CabinetReport &report) {
    return bytesOf([&](QIODevice &device) {
        return writePdf(device, QStringLiteral("QM4107 机柜调试记录 %1").arg(report.cabinet.header.location),
                        report.cabinet.header.programVersion,
                        [&](Layout &page) { layCabinet(page, report); });
    });
}
