#pragma once

#include "CabinetRecord.h"
#include "CheckRecord.h"
#include "ExchangeLink.h"
#include "Journal.h"
#include "LineSurvey.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The cabinet's own exchanges with the line, each made on the link so that the window never waits: the
// survey of the list's stations, and the parity setting written to a module found at another parity.

// Runs a LineSurvey one step per unit on the link. The survey lives in the units: it is made, stepped,
// stopped and let go only on the link's thread, one unit at a time; the window sees a copy of where it is
// after each step.
class CabinetSurvey : public QObject {
    Q_OBJECT

public:
    CabinetSurvey(ExchangeLink &link, int port, int firstStation, int lastStation,
                  std::vector<LineSurvey::LineSetting> settings, QObject *parent = nullptr);
    // A survey still running is stopped by a last unit, which releases the port.
    ~CabinetSurvey() override;

    void start();
    // The next unit stops the survey; what it found stays.
    void stop();
    bool isRunning() const { return m_running; }

    // As of the last step.
    const std::vector<LineSurvey::Module> &modules() const { return m_seen.modules; }
    LineSurvey::Step result() const { return m_seen.step; }
    // Why the port could not be opened (the library's words, naming who holds it), or why the library
    // could not be called.
    QString openError() const { return QString::fromStdString(m_seen.openError); }
    LineSurvey::LineSetting setting() const;
    int station() const { return m_seen.station; }
    // The fraction asked so far and the seconds it should still take (-1 before the first step).
    double done() const;
    int secondsLeft() const;
    bool allSettings() const { return m_settings.size() > 1; }

    // Milliseconds from any fixed point, for the estimate of the time left.
    std::function<qint64()> clock;

signals:
    // After each step: where it is and what it has found so far.
    void progressed();
    void finished(LineSurvey::Step result);

private:
    // Where the survey was after a unit, copied in the unit for the window.
    struct Seen {
        LineSurvey::Step step = LineSurvey::Step::Surveying;
        std::vector<LineSurvey::Module> modules;
        int settingIndex = 0;
        int station = 0;
        int waitMs = 0;
        std::string openError;
    };
    // Touched only by units on the link, one at a time.
    struct OnLink {
        std::unique_ptr<LineSurvey> survey;
        Seen seen;
    };

    void post(bool stopIt);
    void stepped();

    ExchangeLink &m_link;
    int m_port;
    int m_first;
    int m_last;
    std::vector<LineSurvey::LineSetting> m_settings;
    std::shared_ptr<OnLink> m_onLink = std::make_shared<OnLink>();
    Seen m_seen;
    bool m_running = false;
    bool m_inFlight = false;
    bool m_stopAsked = false;
    qint64 m_startedAt = 0;
    QTimer m_next;
};

// Everything of the module a checkout records as found, read in one unit; what did not answer is Unread.
ModuleSnapshot readModuleSnapshot(Modbus485 &library, int32_t port, int32_t station);

// Brings one module found at another parity onto the line's: its journal is begun (header at the line's
// setting, the module as found at its present parity, its parity setting included), the cabinet journal
// names it, the parity setting (4X 256) is written at the module's present parity, and the module is then
// read at the line's setting until it answers or `answerWaitMs` has passed. The change goes into the
// cabinet journal either way and is not put back. retry() reads again, after the module has been powered
// again.
class ParityWrite : public QObject {
    Q_OBJECT

public:
    struct Settings {
        RecordHeader header; // at the line's setting
        int presentParity = 0;
        QString journalName; // the module journal's file name, for the cabinet journal
        qint64 answerWaitMs = 2000;
        int retryMs = 100;
        std::function<qint64()> clock;
        std::function<QString()> now; // the time written into the journals
    };

    ParityWrite(ExchangeLink &link, JournalWriter &module, CabinetJournalWriter &cabinet, Settings settings,
                QObject *parent = nullptr);

    void start();
    void retry();
    bool answered() const { return m_answered; }
    bool isBusy() const { return m_busy; }

    static QString notAnsweredText();

signals:
    void said(const QString &text);
    // answered: the module answered at the line's setting; otherwise said() has told why.
    void finished(bool answered);

private:
    void asFound(const ModuleSnapshot &found, const QString &openError);
    void written(bool writeAnswered);
    void listen();
    void heard(bool answered);
    void released(bool answered);
    // Not written: the port let go, then why.
    void closeThenEnd(const QString &text);
    void end(bool answered, const QString &text);

    ExchangeLink &m_link;
    JournalWriter &m_module;
    CabinetJournalWriter &m_cabinet;
    Settings m_settings;
    bool m_answered = false;
    bool m_busy = false;
    bool m_noted = false; // the change is in the cabinet journal
    bool m_writeAnswered = false;
    qint64 m_listenUntil = 0;
};
