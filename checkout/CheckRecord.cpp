#include "CheckRecord.h"

#include "LinkWords.h"

#include <QRegularExpression>

#include <algorithm>

QString PointId::name() const {
    const char prefix = kind == PointKind::Output ? 'Y' : kind == PointKind::Input ? 'X' : 'C';
    return QChar::fromLatin1(prefix) + QString::number(number);
}

std::optional<PointId> PointId::parse(const QString &name) {
    static const QRegularExpression form(QStringLiteral("^([XYC])([1-9][0-9]?)$"));
    const auto match = form.match(name.trimmed().toUpper());
    if (!match.hasMatch())
        return std::nullopt;
    const int number = match.captured(2).toInt();
    const QChar prefix = match.captured(1).at(0);
    const PointId point{prefix == u'Y'   ? PointKind::Output
                        : prefix == u'X' ? PointKind::Input
                                         : PointKind::Counter,
                        number};
    const auto &all = walkOrder();
    if (std::find(all.begin(), all.end(), point) == all.end())
        return std::nullopt;
    return point;
}

const std::vector<PointId> &walkOrder() {
    static const std::vector<PointId> order = [] {
        std::vector<PointId> points;
        for (int y = 1; y <= ModuleMap::OutputCount; ++y)
            points.push_back({PointKind::Output, y});
        for (int x = 1; x <= ModuleMap::InputCount; ++x)
            points.push_back({PointKind::Input, x});
        for (int c = 1; c <= ModuleMap::CounterCount; ++c)
            points.push_back({PointKind::Counter, c});
        return points;
    }();
    return order;
}

int sequenceOf(const PointId &point) {
    const auto &all = walkOrder();
    return static_cast<int>(std::find(all.begin(), all.end(), point) - all.begin()) + 1;
}

namespace {

struct Word {
    const char16_t *word;
    const char *code;
};
constexpr Word ResultWords[] = {
    {u"未测", "untested"}, {u"通过", "pass"}, {u"失败", "fail"}, {u"跳过", "skip"}};
constexpr Word DefectWords[] = {{u"", ""},           {u"模块", "module"},
                                {u"接线", "wiring"}, {u"现场设备", "field-device"},
                                {u"其他", "other"},  {u"通讯", "comms"}};

template <typename E, size_t N> std::optional<E> fromCode(const Word (&words)[N], const QString &code) {
    for (size_t i = 0; i < N; ++i)
        if (code == QLatin1String(words[i].code))
            return static_cast<E>(i);
    return std::nullopt;
}

} // namespace

QString resultWord(Result result) {
    return QString::fromUtf16(ResultWords[static_cast<int>(result)].word);
}
QString defectWord(Defect defect) {
    return QString::fromUtf16(DefectWords[static_cast<int>(defect)].word);
}
QString resultCode(Result result) {
    return QLatin1String(ResultWords[static_cast<int>(result)].code);
}
QString defectCode(Defect defect) {
    return QLatin1String(DefectWords[static_cast<int>(defect)].code);
}
std::optional<Result> resultFromCode(const QString &code) {
    return fromCode<Result>(ResultWords, code);
}
std::optional<Defect> defectFromCode(const QString &code) {
    return fromCode<Defect>(DefectWords, code);
}

std::vector<PointResult> CheckRecord::table() const {
    std::vector<PointResult> rows;
    for (const PointId &point : walkOrder()) {
        PointResult row;
        row.point = point;
        for (const PointResult &done : points)
            if (done.point == point)
                row = done;
        rows.push_back(row);
    }
    return rows;
}

std::array<int, 4> CheckRecord::tally() const {
    std::array<int, 4> counts{};
    for (const PointResult &r : table())
        ++counts[static_cast<int>(r.result)];
    return counts;
}

QString tallyText(const std::array<int, 4> &counts) {
    QStringList parts;
    for (const Result r : {Result::Pass, Result::Fail, Result::Skip, Result::Untested})
        parts << resultWord(r) + u' ' + QString::number(counts[static_cast<int>(r)]);
    return parts.join(QStringLiteral("，"));
}

void CheckRecord::addResult(const PointResult &result) {
    points.push_back(result);
}

namespace {
constexpr LineCounters::Recorded RecordedCounters[] = {
    {MODBUS485_COUNTER_REQUESTS, "requests"},    {MODBUS485_COUNTER_GOOD, "good"},
    {MODBUS485_COUNTER_NO_ANSWER, "noAnswer"},   {MODBUS485_COUNTER_GARBLED, "garbled"},
    {MODBUS485_COUNTER_CUT_SHORT, "cutShort"},   {MODBUS485_COUNTER_WRONG_STATION, "wrongStation"},
    {MODBUS485_COUNTER_EXCEPTIONS, "exceptions"}};
} // namespace

std::span<const LineCounters::Recorded> LineCounters::recorded() {
    return RecordedCounters;
}

LineCounters LineCounters::from(std::span<const int32_t> values) {
    LineCounters c;
    for (const Recorded &r : RecordedCounters)
        if (r.counter < static_cast<int>(values.size()))
            c[r.counter] = values[r.counter];
    return c;
}

LineCounters &LineCounters::operator+=(const LineCounters &o) {
    for (const Recorded &r : RecordedCounters)
        values[r.counter] += o[r.counter];
    return *this;
}

std::vector<std::pair<QString, qint64>> LineCounters::labelled() const {
    std::vector<std::pair<QString, qint64>> cells;
    for (const Recorded &r : RecordedCounters)
        cells.emplace_back(QString::fromUtf8(LinkWords::counterLabel(r.counter)), values[r.counter]);
    return cells;
}

QString LineCounters::text() const {
    QStringList parts;
    for (const auto &[label, value] : labelled())
        parts << label + u' ' + QString::number(value);
    return parts.join(QStringLiteral("，"));
}

void ModuleSnapshot::takeCoils(int32_t coils) {
    for (int y = 1; y <= ModuleMap::OutputCount; ++y)
        outputs[y - 1] = (coils >> (ModuleMap::outputCoil(y) - ModuleMap::CoilBlockStart)) & 1;
}

void ModuleSnapshot::takeInputs(std::span<const int32_t, 2> words) {
    for (int x = 1; x <= ModuleMap::InputCount; ++x) {
        const int bit = x - ModuleMap::InputBlockStart; // X1-X10 are inputs 1-10
        inputs[x - 1] = (words[bit / 8] >> (bit % 8)) & 1;
    }
}

void ModuleSnapshot::takeCounterBlock(std::span<const int32_t, 8> holding) {
    const int at = ModuleMap::CounterBlockStart;
    for (int c = 1; c <= ModuleMap::CounterCount; ++c) {
        counts[c - 1] = holding[ModuleMap::countRegister(c) - at];
        presets[c - 1] = holding[ModuleMap::presetRegister(c) - at];
        if (ModuleMap::clearModeRegister(c) - at < static_cast<int>(holding.size()))
            clearModes[c - 1] = holding[ModuleMap::clearModeRegister(c) - at];
    }
}

void ModuleSnapshot::takeFrequencies(std::span<const int32_t, 8> block) {
    for (int c = 1; c <= ModuleMap::CounterCount; ++c)
        frequencies[c - 1] = block[ModuleMap::frequencyRegister(c) - ModuleMap::FrequencyBlockStart];
}
