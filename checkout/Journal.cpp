#include "Journal.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

template <size_t N> QJsonArray toArray(const std::array<int, N> &values) {
    QJsonArray array;
    for (const int v : values)
        array.append(v == ModuleSnapshot::Unread ? QJsonValue() : QJsonValue(v));
    return array;
}

template <size_t N> void fromArray(const QJsonValue &value, std::array<int, N> &values) {
    const QJsonArray array = value.toArray();
    for (size_t i = 0; i < N; ++i)
        values[i] = i < static_cast<size_t>(array.size()) && array[int(i)].isDouble()
                        ? array[int(i)].toInt()
                        : ModuleSnapshot::Unread;
}

QJsonObject snapshotObject(const ModuleSnapshot &s) {
    return {
        {QStringLiteral("outputs"), toArray(s.outputs)},
        {QStringLiteral("inputs"), toArray(s.inputs)},
        {QStringLiteral("counts"), toArray(s.counts)},
        {QStringLiteral("presets"), toArray(s.presets)},
        {QStringLiteral("clearModes"), toArray(s.clearModes)},
        {QStringLiteral("frequencies"), toArray(s.frequencies)},
        {QStringLiteral("parity"), s.parity == ModuleSnapshot::Unread ? QJsonValue() : QJsonValue(s.parity)}};
}

ModuleSnapshot snapshotFrom(const QJsonObject &o) {
    ModuleSnapshot s;
    fromArray(o[QStringLiteral("outputs")], s.outputs);
    fromArray(o[QStringLiteral("inputs")], s.inputs);
    fromArray(o[QStringLiteral("counts")], s.counts);
    fromArray(o[QStringLiteral("presets")], s.presets);
    fromArray(o[QStringLiteral("clearModes")], s.clearModes);
    fromArray(o[QStringLiteral("frequencies")], s.frequencies);
    const QJsonValue parity = o[QStringLiteral("parity")];
    s.parity = parity.isDouble() ? parity.toInt() : ModuleSnapshot::Unread;
    return s;
}

QJsonObject countersObject(const LineCounters &c) {
    QJsonObject object;
    for (const LineCounters::Recorded &r : LineCounters::recorded())
        object.insert(QLatin1String(r.key), c[r.counter]);
    return object;
}

LineCounters countersFrom(const QJsonObject &object) {
    LineCounters c;
    for (const LineCounters::Recorded &r : LineCounters::recorded())
        c[r.counter] = object[QLatin1String(r.key)].toInteger();
    return c;
}

QString text(const QJsonObject &o, const char *key) {
    return o[QLatin1String(key)].toString();
}

} // namespace

bool FileJournalSink::open(const QString &path, QString &error) {
    m_file.setFileName(path);
    // Unbuffered: a line that fails leaves nothing behind in Qt's buffer to be written with the next.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        error = m_file.errorString();
        return false;
    }
    const qint64 size = m_file.size();
    if (size > 0) {
        m_file.seek(size - 1);
        m_needsLineFeed = m_file.read(1) != "\n";
    }
    return true;
}

bool FileJournalSink::append(const QByteArray &bytes, QString &error) {
    const QByteArray line = m_needsLineFeed ? '\n' + bytes : bytes;
    const qint64 before = m_file.size();
    // A write cut short is tried on from where it stopped, so that the system's reason comes out.
    qint64 done = 0;
    for (qint64 n = 0; done < line.size(); done += n)
        if ((n = m_file.write(line.constData() + done, line.size() - done)) <= 0)
            break;
    if (done != line.size() || !m_file.flush()) {
        error = m_file.errorString();
        // What part of the line reached the file goes again, so that the line written once there is space
        // starts a line of its own; if it stays, that line gets a line feed before it.
        if (!m_file.resize(before))
            m_needsLineFeed = true;
        return false;
    }
    m_needsLineFeed = false;
#ifdef Q_OS_WIN
    const bool synced = FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(m_file.handle())));
#else
    const bool synced = fsync(m_file.handle()) == 0;
#endif
    if (!synced) {
        error = QStringLiteral("fsync failed");
        return false;
    }
    return true;
}

QByteArray journalLine(const QString &type, QJsonObject object) {
    object.insert(QStringLiteral("format"), JournalWriter::Format);
    object.insert(QStringLiteral("type"), type);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool JournalWriter::write(const QString &type, QJsonObject object) {
    if (counters && !object.contains(u"counters"))
        if (const auto soFar = counters())
            object.insert(QStringLiteral("counters"), countersObject(*soFar));
    return m_sink.append(journalLine(type, object), m_error);
}

bool JournalWriter::writeHeader(const RecordHeader &h) {
    return write(QStringLiteral("header"), {{QStringLiteral("project"), h.project},
                                            {QStringLiteral("location"), h.location},
                                            {QStringLiteral("moduleTag"), h.moduleTag},
                                            {QStringLiteral("engineer"), h.engineer},
                                            {QStringLiteral("witness"), h.witness},
                                            {QStringLiteral("port"), h.port},
                                            {QStringLiteral("station"), h.station},
                                            {QStringLiteral("baudCode"), h.baudCode},
                                            {QStringLiteral("parityCode"), h.parityCode},
                                            {QStringLiteral("programVersion"), h.programVersion},
                                            {QStringLiteral("start"), h.start},
                                            {QStringLiteral("io"), ioObject(h.io)}});
}

bool JournalWriter::writeAsFound(const ModuleSnapshot &snapshot) {
    return write(QStringLiteral("as-found"), snapshotObject(snapshot));
}

bool JournalWriter::writeAsLeft(const ModuleSnapshot &snapshot) {
    return write(QStringLiteral("as-left"), snapshotObject(snapshot));
}

bool JournalWriter::writePoint(const PointResult &r) {
    return write(QStringLiteral("point"), {{QStringLiteral("point"), r.point.name()},
                                           {QStringLiteral("checked"), r.checked},
                                           {QStringLiteral("expected"), r.expected},
                                           {QStringLiteral("observed"), r.observed},
                                           {QStringLiteral("field"), r.field},
                                           {QStringLiteral("result"), resultCode(r.result)},
                                           {QStringLiteral("defect"), defectCode(r.defect)},
                                           {QStringLiteral("remark"), r.remark},
                                           {QStringLiteral("time"), r.time},
                                           {QStringLiteral("tries"), r.tries}});
}

bool JournalWriter::writeOutput(const QString &point, const QString &state) {
    return write(QStringLiteral("output"),
                 {{QStringLiteral("point"), point}, {QStringLiteral("state"), state}});
}

bool JournalWriter::writeClose(const Closing &c, const LineCounters &counters) {
    const QString state = c.cancelled ? QStringLiteral("cancelled") : QStringLiteral("done");
    return write(QStringLiteral("close"),
                 {{QStringLiteral("end"), c.end},
                  {QStringLiteral("counters"), countersObject(counters)},
                  {QStringLiteral("remark"), c.remark},
                  {QStringLiteral("trace"), c.trace},
                  {QStringLiteral("traceSha256"), c.traceSha256},
                  {QStringLiteral("unknownOutputs"), QJsonArray::fromStringList(c.unknownOutputs)},
                  {QStringLiteral("state"), state}});
}

bool JournalWriter::writePreset(const QString &point, const QString &state, int value) {
    return write(QStringLiteral("preset"), {{QStringLiteral("point"), point},
                                            {QStringLiteral("state"), state},
                                            {QStringLiteral("value"), value}});
}

bool JournalWriter::writeCountFound(const QString &point, int count) {
    return write(QStringLiteral("count-found"),
                 {{QStringLiteral("point"), point}, {QStringLiteral("count"), count}});
}

bool JournalWriter::writeCancel() {
    return write(QStringLiteral("cancel"), {});
}

bool JournalWriter::writeAmendment(const QString &point, Defect defect) {
    return write(QStringLiteral("amend"),
                 {{QStringLiteral("point"), point}, {QStringLiteral("defect"), defectCode(defect)}});
}

bool JournalWriter::writeWaiver(const QStringList &points) {
    return write(QStringLiteral("waiver"), {{QStringLiteral("points"), QJsonArray::fromStringList(points)}});
}

bool forEachJournalLine(const QByteArray &bytes, int &skippedLines, QString &reason,
                        const std::function<bool(const QJsonObject &)> &take) {
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        const QJsonObject o = document.object();
        if (error.error != QJsonParseError::NoError || !document.isObject() || !o[u"format"].isDouble()) {
            ++skippedLines;
            continue;
        }
        const int format = o[u"format"].toInt();
        if (format > JournalWriter::Format) {
            reason = QStringLiteral("记录格式 %1 比本程序能读的格式 %2 新：请用新版程序")
                         .arg(format)
                         .arg(JournalWriter::Format);
            return false;
        }
        if (!take(o))
            ++skippedLines;
    }
    return true;
}

QJsonObject ioObject(const std::map<QString, IoEntry> &entries) {
    QJsonObject io;
    for (const auto &[point, entry] : entries)
        io.insert(point, QJsonObject{{QStringLiteral("tag"), entry.tag},
                                     {QStringLiteral("terminal"), entry.terminal},
                                     {QStringLiteral("description"), entry.description}});
    return io;
}

std::map<QString, IoEntry> ioFrom(const QJsonObject &io) {
    std::map<QString, IoEntry> entries;
    for (auto it = io.begin(); it != io.end(); ++it) {
        const QJsonObject e = it.value().toObject();
        entries[it.key()] = {text(e, "tag"), text(e, "terminal"), text(e, "description")};
    }
    return entries;
}

namespace {

// The lines a journal holds beyond the header, the snapshots, the points, the outputs and the closing;
// false for a type it does not know.
bool readTestValueLine(const QString &type, const QJsonObject &o, CheckRecord &record) {
    const QString point = text(o, "point");
    if (type == u"preset") {
        record.presetsChanged.removeAll(point);
        if (text(o, "state") != u"restored")
            record.presetsChanged << point;
    } else if (type == u"count-found") {
        if (!record.countsFound.count(point))
            record.countsFound[point] = o[u"count"].toInt();
    } else if (type == u"cancel") {
        record.cancelled = true;
    } else if (type == u"amend") {
        const auto defect = defectFromCode(text(o, "defect"));
        if (!defect)
            return false;
        for (PointResult &r : record.points)
            if (r.point.name() == point && r.result == Result::Fail)
                r.defect = *defect;
    } else if (type == u"waiver") {
        for (const QJsonValue &v : o[u"points"].toArray()) {
            record.waived << v.toString();
            record.outputsChanged.removeAll(v.toString());
            record.presetsChanged.removeAll(v.toString());
        }
    } else {
        return false;
    }
    return true;
}

} // namespace

JournalContents parseJournal(const QByteArray &bytes) {
    JournalContents contents;
    CheckRecord &record = contents.record;
    bool haveHeader = false;
    contents.endsCut = !bytes.isEmpty() && !bytes.endsWith('\n');
    contents.refused =
        !forEachJournalLine(bytes, contents.skippedLines, contents.reason, [&](const QJsonObject &o) {
            const QString type = o[u"type"].toString();
            if (o[u"counters"].isObject())
                record.counters = countersFrom(o[u"counters"].toObject());
            if (type == u"header") {
                RecordHeader &h = record.header;
                h.project = text(o, "project");
                h.location = text(o, "location");
                h.moduleTag = text(o, "moduleTag");
                h.engineer = text(o, "engineer");
                h.witness = text(o, "witness");
                h.port = o[u"port"].toInt();
                h.station = o[u"station"].toInt();
                h.baudCode = o[u"baudCode"].toInt();
                h.parityCode = o[u"parityCode"].toInt();
                h.programVersion = text(o, "programVersion");
                h.start = text(o, "start");
                h.io = ioFrom(o[u"io"].toObject());
                haveHeader = true;
            } else if (type == u"as-found") {
                record.asFound = snapshotFrom(o);
            } else if (type == u"as-left") {
                record.asLeft = snapshotFrom(o);
            } else if (type == u"point") {
                const auto point = PointId::parse(text(o, "point"));
                const auto result = resultFromCode(text(o, "result"));
                const auto defect = defectFromCode(text(o, "defect"));
                if (!point || !result || !defect)
                    return false;
                record.addResult({*point, text(o, "checked"), text(o, "expected"), text(o, "observed"),
                                  text(o, "field"), *result, *defect, text(o, "remark"), text(o, "time"),
                                  o[u"tries"].toInt()});
            } else if (type == u"output") {
                const QString point = text(o, "point");
                record.outputsChanged.removeAll(point);
                if (text(o, "state") != u"restored")
                    record.outputsChanged << point;
            } else if (type == u"close") {
                Closing c;
                c.end = text(o, "end");
                c.remark = text(o, "remark");
                c.trace = text(o, "trace");
                c.traceSha256 = text(o, "traceSha256");
                for (const QJsonValue &v : o[u"unknownOutputs"].toArray())
                    c.unknownOutputs << v.toString();
                c.cancelled = o[u"state"].toString() == u"cancelled";
                record.closing = c;
            } else if (!readTestValueLine(type, o, record)) {
                return false;
            }
            return true;
        });
    if (!contents.refused && !haveHeader) {
        contents.refused = true;
        contents.reason = QStringLiteral("记录没有可读的表头：不是调试记录，或已损坏");
    }
    return contents;
}

bool readJournalBytes(const QString &path, QByteArray &bytes, QString &reason) {
    const QFileInfo info(path);
    // A device, a pipe or a folder is never read, nor more than a journal can hold, even if it grows now.
    const QString tooBig = QStringLiteral("记录文件过大或不是普通文件：%1").arg(path);
    if (info.exists() && (!info.isFile() || info.size() > MaxJournalBytes)) {
        reason = tooBig;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("无法读取 %1：%2").arg(path, file.errorString());
        return false;
    }
    bytes = file.read(MaxJournalBytes + 1);
    if (bytes.size() > MaxJournalBytes) {
        reason = tooBig;
        return false;
    }
    return true;
}

JournalContents readJournal(const QString &path) {
    return readJournalWith<JournalContents>(path, parseJournal);
}
