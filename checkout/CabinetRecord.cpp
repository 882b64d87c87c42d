#include "CabinetRecord.h"

#include <QDir>
#include <QJsonArray>

namespace {

const char *const StateCodes[] = {"waiting", "begun", "closed", "untested"};

QString text(const QJsonObject &o, const char *key) {
    return o[QLatin1String(key)].toString();
}

int number(const QJsonObject &o, const char *key, int otherwise) {
    const QJsonValue v = o[QLatin1String(key)];
    return v.isDouble() ? v.toInt() : otherwise;
}

QJsonObject findObject(const CabinetFind &f) {
    return {{QStringLiteral("station"), f.station},
            {QStringLiteral("baudCode"), f.baudCode},
            {QStringLiteral("parityCode"), f.parityCode},
            {QStringLiteral("answerUs"), f.answerUs},
            {QStringLiteral("moduleParity"), f.moduleParity},
            {QStringLiteral("qm4107"), f.qm4107},
            {QStringLiteral("remark"), f.remark}};
}

CabinetFind findFrom(const QJsonObject &o) {
    return {number(o, "station", 0),   number(o, "baudCode", 1),      number(o, "parityCode", 0),
            number(o, "answerUs", -1), number(o, "moduleParity", -1), o[u"qm4107"].toBool(),
            text(o, "remark")};
}

} // namespace

CabinetFind cabinetFind(const LineSurvey::Module &m) {
    return {m.station,
            m.setting.baudCode,
            m.setting.parityCode,
            m.answerUs,
            m.moduleParity,
            m.qm4107,
            QString::fromStdString(LineSurvey::remark(m))};
}

std::optional<int> firstUnfinished(const CabinetRecord &cabinet, const QString &folder) {
    for (const auto &[station, listed] : cabinet.header.list) {
        const auto at = cabinet.modules.find(station);
        const CabinetModule module = at == cabinet.modules.end() ? CabinetModule{} : at->second;
        if (module.state == ModuleState::Closed || module.state == ModuleState::Untested)
            continue;
        // Closed in its own journal, killed before the cabinet journal heard of it.
        if (module.state == ModuleState::Begun && !module.journal.isEmpty() &&
            readJournal(QDir(folder).filePath(module.journal)).record.closing)
            continue;
        return station;
    }
    return std::nullopt;
}

bool CabinetJournalWriter::write(const QString &type, const QJsonObject &object) {
    return m_sink.append(journalLine(type, object), m_error);
}

bool CabinetJournalWriter::writeCabinet(const CabinetHeader &h) {
    QJsonObject list;
    for (const auto &[station, module] : h.list)
        list.insert(QString::number(station), QJsonObject{{QStringLiteral("moduleTag"), module.tag},
                                                          {QStringLiteral("io"), ioObject(module.entries)}});
    return write(QStringLiteral("cabinet"), {{QStringLiteral("project"), h.project},
                                             {QStringLiteral("location"), h.location},
                                             {QStringLiteral("engineer"), h.engineer},
                                             {QStringLiteral("witness"), h.witness},
                                             {QStringLiteral("port"), h.port},
                                             {QStringLiteral("baudCode"), h.baudCode},
                                             {QStringLiteral("parityCode"), h.parityCode},
                                             {QStringLiteral("programVersion"), h.programVersion},
                                             {QStringLiteral("start"), h.start},
                                             {QStringLiteral("list"), list}});
}

bool CabinetJournalWriter::writeSurvey(const std::vector<CabinetFind> &finds, bool allSettings) {
    QJsonArray modules;
    for (const CabinetFind &f : finds)
        modules.append(findObject(f));
    return write(QStringLiteral("survey"),
                 {{QStringLiteral("allSettings"), allSettings}, {QStringLiteral("modules"), modules}});
}

bool CabinetJournalWriter::writeParityChange(const ParityChange &c) {
    return write(QStringLiteral("parity"), {{QStringLiteral("station"), c.station},
                                            {QStringLiteral("from"), c.from},
                                            {QStringLiteral("to"), c.to},
                                            {QStringLiteral("time"), c.time},
                                            {QStringLiteral("answered"), c.answered}});
}

bool CabinetJournalWriter::writeModule(int station, const CabinetModule &module) {
    return write(QStringLiteral("module"),
                 {{QStringLiteral("station"), station},
                  {QStringLiteral("state"), QLatin1String(StateCodes[static_cast<int>(module.state)])},
                  {QStringLiteral("journal"), module.journal},
                  {QStringLiteral("reason"), module.reason},
                  {QStringLiteral("tag"), module.tag}});
}

bool CabinetJournalWriter::writeClose(const QString &end, const QString &remark) {
    return write(QStringLiteral("close"), {{QStringLiteral("end"), end}, {QStringLiteral("remark"), remark}});
}

CabinetContents parseCabinetJournal(const QByteArray &bytes) {
    CabinetContents contents;
    CabinetRecord &record = contents.record;
    contents.refused =
        !forEachJournalLine(bytes, contents.skippedLines, contents.reason, [&](const QJsonObject &o) {
            const QString type = o[u"type"].toString();
            if (type == u"cabinet") {
                CabinetHeader &h = record.header;
                h.project = text(o, "project");
                h.location = text(o, "location");
                h.engineer = text(o, "engineer");
                h.witness = text(o, "witness");
                h.port = number(o, "port", 1);
                h.baudCode = number(o, "baudCode", 1);
                h.parityCode = number(o, "parityCode", 0);
                h.programVersion = text(o, "programVersion");
                h.start = text(o, "start");
                const QJsonObject list = o[u"list"].toObject();
                for (auto it = list.begin(); it != list.end(); ++it) {
                    const QJsonObject m = it.value().toObject();
                    h.list[it.key().toInt()] = {text(m, "moduleTag"), ioFrom(m[u"io"].toObject())};
                }
                contents.isCabinet = true;
            } else if (type == u"survey") {
                record.survey.clear();
                for (const QJsonValue &v : o[u"modules"].toArray())
                    record.survey.push_back(findFrom(v.toObject()));
            } else if (type == u"parity") {
                const ParityChange change{number(o, "station", 0), number(o, "from", 0), number(o, "to", 0),
                                          text(o, "time"), o[u"answered"].toBool()};
                // The module answering after 重试: the same change, now answered.
                auto &changes = record.parityChanges;
                if (!changes.empty() && changes.back().station == change.station &&
                    changes.back().from == change.from && changes.back().to == change.to &&
                    !changes.back().answered)
                    changes.back() = change;
                else
                    changes.push_back(change);
            } else if (type == u"module") {
                const QString state = text(o, "state");
                int code = 0;
                while (code < 4 && state != QLatin1String(StateCodes[code]))
                    ++code;
                if (code == 4 || !o[u"station"].isDouble())
                    return false;
                record.modules[o[u"station"].toInt()] = {static_cast<ModuleState>(code), text(o, "journal"),
                                                         text(o, "reason"), text(o, "tag")};
            } else if (type == u"close") {
                record.end = text(o, "end");
                record.remark = text(o, "remark");
            } else {
                return false;
            }
            return true;
        });
    if (!contents.refused && !contents.isCabinet) {
        contents.refused = true;
        contents.reason = QStringLiteral("记录没有可读的机柜表头：不是机柜记录，或已损坏");
    }
    return contents;
}

CabinetContents readCabinetJournal(const QString &path) {
    return readJournalWith<CabinetContents>(path, parseCabinetJournal);
}

CabinetReport cabinetReport(const CabinetRecord &cabinet, const QString &folder) {
    CabinetReport report;
    report.cabinet = cabinet;
    std::map<int, CabinetReport::Module> modules;
    for (const auto &[station, listed] : cabinet.header.list) {
        modules[station].expected = true;
        modules[station].record.header.io = listed.entries;
    }
    for (const CabinetFind &find : cabinet.survey)
        modules[find.station].finds.push_back(find);
    for (const auto &[station, progress] : cabinet.modules)
        modules[station].progress = progress;

    for (auto &[station, m] : modules) {
        m.station = station;
        const CabinetHeader &h = cabinet.header;
        m.record.header.project = h.project;
        m.record.header.location = h.location;
        m.record.header.station = station;
        const auto listed = h.list.find(station);
        // The list's tag, else the one given on the 连接 page: a module never walked has no journal to say
        // it.
        m.record.header.moduleTag = listed == h.list.end() ? QString() : listed->second.tag;
        if (m.record.header.moduleTag.isEmpty())
            m.record.header.moduleTag = m.progress.tag;
        if (!m.progress.journal.isEmpty()) {
            const QString path = QDir(folder).filePath(m.progress.journal);
            const JournalContents contents = readJournal(path);
            if (contents.refused) {
                m.note = contents.reason;
            } else {
                m.walked = contents.record;
                m.record = contents.record;
                // Begun, then not walked (the module stopped answering at the line's setting): why.
                if (m.progress.state == ModuleState::Untested)
                    m.note = m.progress.reason;
                if (contents.skippedLines > 0)
                    report.warnings << QStringLiteral("%1: %2 行无法读取，已跳过")
                                           .arg(m.progress.journal)
                                           .arg(contents.skippedLines);
            }
        } else if (!m.progress.reason.isEmpty()) {
            m.note = m.progress.reason;
        } else if (!m.expected) {
            m.note = QStringLiteral("I/O 表中没有此站");
        } else if (m.finds.empty() && !cabinet.survey.empty()) {
            m.note = QStringLiteral("未找到");
        } else {
            m.note = QStringLiteral("未调试");
        }
        report.modules.push_back(m);
    }
    return report;
}

QString moduleTagOf(const CabinetReport::Module &module) {
    if (module.walked && !module.walked->header.moduleTag.isEmpty())
        return module.walked->header.moduleTag;
    if (!module.record.header.moduleTag.isEmpty())
        return module.record.header.moduleTag;
    return QStringLiteral("站号 %1").arg(module.station);
}
