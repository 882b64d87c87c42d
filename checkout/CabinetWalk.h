#pragma once

#include "CabinetRecord.h"
#include "CheckoutWalk.h"
#include "Journal.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <map>
#include <memory>

// A module's record header in the cabinet: the cabinet's, with the module's station, tag and points of the
// list, at the line's setting.
RecordHeader cabinetModuleHeader(const CabinetHeader &cabinet, int station, const QString &tag,
                                 const QDateTime &start);
// The base name of a new module journal in `folder`, unused there.
QString cabinetModuleName(const QString &folder, const QString &project, const QString &tag,
                          const QDateTime &start);

struct CabinetWalkSettings {
    QString folder;              // the records folder: the cabinet journal and every module's files
    QString journalPath;         // the cabinet journal, read again before each module
    std::map<int, QString> tags; // each station's module tag
    std::map<int, QSet<QString>> doNotSwitch;     // outputs that must not be switched, by station
    std::map<int, QString> notWalked;             // why a station is not walked, by station
    std::function<void(WalkSettings &)> tuneWalk; // shorter waits for a test
    std::function<QDateTime()> now;
};

// The checkout of a cabinet, module by module in station order: each module walked as one module is, with
// its own journal, trace, CSV and PDF, and each step noted in the cabinet journal before it goes on. It goes
// on from the first module not yet finished, so a killed cabinet walk is gone on with where it stopped, and
// a module begun is gone on with from its own journal. A module that is not walked (not found, at another
// baud rate, or not answering at the connection check) is noted as untested with the reason, and the walk
// goes on with the next.
class CabinetWalk : public QObject {
    Q_OBJECT

public:
    using MakeWalk = std::function<std::unique_ptr<CheckoutWalk>(JournalWriter &, const WalkSettings &)>;

    CabinetWalk(CabinetJournalWriter &journal, CabinetWalkSettings settings, MakeWalk makeWalk,
                QObject *parent = nullptr);
    ~CabinetWalk() override;

    // Walks from the first module not yet finished.
    void start();
    // After moduleFinished: closes the module's record with `remark`, writes its CSV and PDF, notes it
    // closed, and goes on with the next module.
    bool closeModule(const QString &remark);
    // Writes the cabinet journal's closing line, then the cabinet's CSV and PDF.
    bool closeCabinet(const QString &remark, QString &error);

    CheckoutWalk *walk() const { return m_walk.get(); }
    int station() const { return m_station; }
    QString moduleName() const { return m_name; }
    bool isFinished() const { return m_finished; }
    QString cabinetName() const;
    // The cabinet journal as it stands.
    CabinetRecord record() const;

signals:
    void moduleStarted(int station, CheckoutWalk *walk);
    // The module's walk has ended (completed, or cancelled); closeModule() follows, or the cabinet walk is
    // let go with the module's journal open, to be gone on with.
    void moduleFinished(int station, bool completed);
    void moduleNotWalked(int station, const QString &reason);
    // Every module of the list is closed or noted as not walked.
    void finished();
    void problem(const QString &text);

private:
    void walkNext();
    void onWalkFinished(bool completed);
    bool note(int station, CabinetModule module);
    // Keeps the walk that just ended until the next one's end: it may still be on its way out of a call.
    void retire();

    CabinetJournalWriter &m_journal;
    CabinetWalkSettings m_settings;
    MakeWalk m_makeWalk;
    int m_station = 0;
    QString m_name; // the module journal's base name
    std::unique_ptr<FileJournalSink> m_sink;
    std::unique_ptr<JournalWriter> m_moduleJournal;
    std::unique_ptr<CheckoutWalk> m_walk;
    std::unique_ptr<FileJournalSink> m_endedSink;
    std::unique_ptr<JournalWriter> m_endedJournal;
    std::unique_ptr<CheckoutWalk> m_endedWalk;
    QString m_lineQuestion; // what the connection check last said when the module did not answer
    bool m_finished = false;
};
