#include "CabinetWalk.h"

#include "RecordNames.h"
#include "Report.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

RecordHeader cabinetModuleHeader(const CabinetHeader &h, int station, const QString &tag,
                                 const QDateTime &start) {
    RecordHeader mh;
    mh.project = h.project;
    mh.location = h.location;
    mh.moduleTag = tag;
    mh.engineer = h.engineer;
    mh.witness = h.witness;
    mh.port = h.port;
    mh.station = station;
    mh.baudCode = h.baudCode;
    mh.parityCode = h.parityCode;
    mh.programVersion = h.programVersion;
    mh.start = CheckoutWalk::isoTime(start);
    if (const auto listed = h.list.find(station); listed != h.list.end())
        mh.io = listed->second.entries;
    return mh;
}

QString cabinetModuleName(const QString &folder, const QString &project, const QString &tag,
                          const QDateTime &start) {
    return RecordNames::unusedBaseName(
        folder, RecordNames::baseName(project, tag, start, RecordNames::roomIn(folder)));
}

CabinetWalk::CabinetWalk(CabinetJournalWriter &journal, CabinetWalkSettings settings, MakeWalk makeWalk,
                         QObject *parent)
    : QObject(parent)
    , m_journal(journal)
    , m_settings(std::move(settings))
    , m_makeWalk(std::move(makeWalk)) {
    if (!m_settings.now)
        m_settings.now = [] { return QDateTime::currentDateTime(); };
}

CabinetWalk::~CabinetWalk() = default;

QString CabinetWalk::cabinetName() const {
    return QFileInfo(m_settings.journalPath).completeBaseName();
}

CabinetRecord CabinetWalk::record() const {
    return readCabinetJournal(m_settings.journalPath).record;
}

void CabinetWalk::start() {
    m_finished = false;
    walkNext();
}

bool CabinetWalk::note(int station, CabinetModule module) {
    // A tag given on the 连接 page goes with every line of the module, so the record keeps it even for a
    // module that is never walked.
    if (const auto tag = m_settings.tags.find(station);
        tag != m_settings.tags.end() && tag->second != QStringLiteral("站号 %1").arg(station))
        module.tag = tag->second;
    if (m_journal.writeModule(station, module))
        return true;
    emit problem(
        QStringLiteral("无法写入机柜记录：%1。调试已停止，腾出空间后可继续。").arg(m_journal.error()));
    return false;
}

void CabinetWalk::retire() {
    m_endedWalk = std::move(m_walk);
    m_endedJournal = std::move(m_moduleJournal);
    m_endedSink = std::move(m_sink);
}

void CabinetWalk::walkNext() {
    const CabinetContents cabinet = readCabinetJournal(m_settings.journalPath);
    if (cabinet.refused) {
        emit problem(cabinet.reason);
        return;
    }
    const CabinetRecord &record = cabinet.record;
    // Stations noted as not walked are passed over; the first one left is walked.
    std::optional<int> next;
    while ((next = firstUnfinished(record, m_settings.folder))) {
        const auto at = record.modules.find(*next);
        const CabinetModule progress = at == record.modules.end() ? CabinetModule{} : at->second;
        const auto reason = m_settings.notWalked.find(*next);
        if (reason == m_settings.notWalked.end() || reason->second.isEmpty())
            break;
        if (!note(*next, {ModuleState::Untested, progress.journal, reason->second}))
            return;
        emit moduleNotWalked(*next, reason->second);
        return walkNext();
    }
    if (!next) {
        m_station = 0;
        m_finished = true;
        emit finished();
        return;
    }
    const int station = *next;
    const auto at = record.modules.find(station);
    const CabinetModule progress = at == record.modules.end() ? CabinetModule{} : at->second;
    const CabinetHeader &h = record.header;
    const QDir folder(m_settings.folder);
    const QDateTime start = m_settings.now();

    const QString tag =
        m_settings.tags.count(station) ? m_settings.tags.at(station) : QStringLiteral("站号 %1").arg(station);
    // A module begun before (by a parity change, or a killed walk) goes on in its own journal.
    std::optional<CheckRecord> resumed;
    if (!progress.journal.isEmpty()) {
        const JournalContents contents = readJournal(folder.filePath(progress.journal));
        if (contents.refused) {
            if (!note(station, {ModuleState::Untested, progress.journal, contents.reason}))
                return;
            emit moduleNotWalked(station, contents.reason);
            return walkNext();
        }
        resumed = contents.record;
        m_name = QFileInfo(progress.journal).completeBaseName();
    } else {
        m_name = cabinetModuleName(folder.path(), h.project, tag, start);
    }
    retire();
    m_sink = std::make_unique<FileJournalSink>();
    QString error;
    if (!m_sink->open(folder.filePath(m_name + QStringLiteral(".jsonl")), error)) {
        emit problem(QStringLiteral("无法创建记录：%1").arg(error));
        return;
    }
    // The cabinet journal names the module's before the module is touched.
    if (progress.journal.isEmpty() &&
        !note(station, {ModuleState::Begun, m_name + QStringLiteral(".jsonl"), {}}))
        return;
    m_moduleJournal = std::make_unique<JournalWriter>(*m_sink);

    WalkSettings settings;
    settings.header = cabinetModuleHeader(h, station, tag, start);
    settings.tracePath = folder.filePath(m_name + QStringLiteral(".trace"));
    if (const auto kept = m_settings.doNotSwitch.find(station); kept != m_settings.doNotSwitch.end())
        settings.doNotSwitch = kept->second;
    if (m_settings.tuneWalk)
        m_settings.tuneWalk(settings);

    m_station = station;
    m_lineQuestion.clear();
    m_walk = m_makeWalk(*m_moduleJournal, settings);
    connect(m_walk.get(), &CheckoutWalk::asked, this, [this](const Question &q) {
        if (q.point.isEmpty() && q.choices.contains(Choice::BackToLine))
            m_lineQuestion = q.text;
    });
    connect(m_walk.get(), &CheckoutWalk::finished, this, &CabinetWalk::onWalkFinished);
    emit moduleStarted(station, m_walk.get());
    if (resumed)
        m_walk->startResume(*resumed);
    else
        m_walk->start();
}

void CabinetWalk::onWalkFinished(bool completed) {
    if (!m_walk->wentBackToLine()) {
        emit moduleFinished(m_station, completed);
        return;
    }
    // Not reached at the connection check: its journal is closed by the walk; its files say so, and the
    // cabinet goes on.
    const QString reason =
        QStringLiteral("无法连接：") +
        (m_lineQuestion.isEmpty() ? QStringLiteral("通讯检查未通过") : m_lineQuestion.section(u'\n', 0, 0));
    QString error;
    writeRecordFiles(m_walk->record(), m_settings.folder, m_name, error);
    if (!note(m_station, {ModuleState::Untested, m_name + QStringLiteral(".jsonl"), reason}))
        return;
    emit moduleNotWalked(m_station, reason);
    // The walk is still on its way out of this call.
    QTimer::singleShot(0, this, &CabinetWalk::walkNext);
}

bool CabinetWalk::closeModule(const QString &remark) {
    if (!m_walk || !m_walk->isFinished())
        return false;
    QString error;
    if (!m_walk->closeRecord(remark))
        error = QStringLiteral("无法写入记录：%1").arg(m_moduleJournal->error());
    if (error.isEmpty() && !writeRecordFiles(m_walk->record(), m_settings.folder, m_name, error))
        error = QStringLiteral("%1：%2").arg(m_name, error);
    if (!error.isEmpty()) {
        emit problem(error);
        return false;
    }
    if (!note(m_station, {ModuleState::Closed, m_name + QStringLiteral(".jsonl"), {}}))
        return false;
    QTimer::singleShot(0, this, &CabinetWalk::walkNext);
    return true;
}

bool CabinetWalk::closeCabinet(const QString &remark, QString &error) {
    if (!m_journal.writeClose(CheckoutWalk::isoTime(m_settings.now()), remark)) {
        error = QStringLiteral("无法写入机柜记录：%1").arg(m_journal.error());
        return false;
    }
    const CabinetContents cabinet = readCabinetJournal(m_settings.journalPath);
    if (cabinet.refused) {
        error = cabinet.reason;
        return false;
    }
    return writeCabinetFiles(cabinetReport(cabinet.record, m_settings.folder), m_settings.folder,
                             cabinetName(), error);
}
