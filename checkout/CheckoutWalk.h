#pragma once

#include "CheckRecord.h"
#include "ExchangeLink.h"
#include "Journal.h"
#include "Modbus485.h"
#include "WalkRules.h"
#include "WalkTask.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <coroutine>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

// The stages of the walk, one page each in the wizard.
enum class Stage { Connection, AsFound, Outputs, Inputs, Counters, AsLeft, Done };

// What the engineer can answer; the words are the buttons' captions.
enum class Choice { Yes, No, Skip, Extend, Retry, Fail, BackToLine };
QString choiceWord(Choice choice);

struct Question {
    QString point; // the point asked about, empty for the line
    QString text;
    QList<Choice> choices;
    bool wantsNumber = false; // a number to give with the answer (pulses to send, a frequency in Hz)
    int number = 0;           // its default
    // While the walk waits for the field it keeps polling with the question up; any choice ends the wait.
    bool whileWaiting = false;
    bool wantsTolerance = false; // with the number, a tolerance in percent
    double tolerance = 0;        // its default
};

struct Reply {
    Choice choice = Choice::Yes;
    QString remark;
    int number = 0;
    Defect defect = Defect::None; // the engineer's class for a failure; None leaves the walk's
    double tolerance = 0;
};

struct WalkSettings {
    RecordHeader header;
    QSet<QString> doNotSwitch; // outputs that must not be switched
    QString tracePath;         // the line's trace beside the record; empty for none
    int checkReads = 10;
    int pollMs = 100;
    int prewatchReads = 5;
    qint64 inputTimeoutMs = 60000;
    qint64 countTimeoutMs = 120000;
    qint64 countSteadyMs = 2000;
    qint64 frequencyTimeoutMs = 30000;
    int retryMs = 500;
    int retriesBeforeAsking = 10;
    // Putting back what a killed walk left: tries per value before it stops and says what is not back.
    int putBackTries = 10;
    int testPreset = 12345;
    // An as-found value is read this many times, this far apart, before it counts as unread.
    int asFoundTries = 3;
    int asFoundRetryMs = 500;
    // A counter's clear must read back as 0 within this time.
    qint64 clearAllowMs = 2000;
    // Failed reads in a row after which a field wait says the line is down and its time stands still.
    int lineDownReads = 3;
    // Milliseconds from any fixed point, for the waits; a test scripts it.
    std::function<qint64()> clock;
    // The time written into the record.
    std::function<QDateTime()> now;
};

// The guided checkout of one module with no widgets: it connects, records the module as found, walks the
// outputs, inputs and counters asking the engineer what it cannot see, puts back what it changed, records
// the module as left, and writes every step to the journal before it goes on. It never blocks: each exchange
// with the module runs in its own turn of the event loop, through exchange().
//
// The exit rule: cancelling, the walk's end, and a journal that cannot be written all put every output and
// preset the walk changed back to its as-found state, read it back and record it. Nothing is written from a
// value that was not read: a point whose as-found state is unread is not tested, and is not put back.
class CheckoutWalk : public QObject {
    Q_OBJECT

public:
    // The link outlives the walk; the port is the header's and is held by this walk alone while it runs.
    CheckoutWalk(ExchangeLink &link, JournalWriter &journal, WalkSettings settings,
                 QObject *parent = nullptr);
    ~CheckoutWalk() override;

    void start();
    // For a journal that ends with test values in the module (the program was killed): connects with its
    // header's settings and puts them back to its as-found state, appending to it, at most `putBackTries`
    // times each. finished(true) when all are back; notBack() names the rest.
    void startPutBack(const CheckRecord &previous);
    // Goes on with an unfinished journal: its header and as-found are kept, what it left changed is put back
    // first, and the points it holds are not walked again.
    void startResume(const CheckRecord &previous);
    // The engineer's answer to the question up.
    void answer(const Reply &reply);
    // "恢复并停止": puts back what was changed, journals the cancel, then finishes. The journal keeps no
    // closing line, so the walk can be gone on with; closeRecord() then closes it as cancelled.
    void cancel();
    // Closes the port and writes the journal's closing line: the counters, the remark and the trace's hash.
    bool closeRecord(const QString &remark);
    // The engineer's class for a failed point, journaled after its result.
    bool amend(const PointId &point, Defect defect);

    const CheckRecord &record() const { return m_record; }
    Stage stage() const { return m_stage; }
    std::optional<Question> question() const { return m_question; }
    bool isFinished() const { return m_finished; }
    bool wasCancelled() const { return m_cancelled; }
    // The engineer chose "返回连接" at the connection check; the journal is closed as aborted.
    bool wentBackToLine() const { return m_backToLine; }
    // Outputs whose state is not known because the line failed while they were switched.
    QStringList unknownOutputs() const;
    // Outputs and presets the walk changed and could not confirm back.
    QStringList notBack() const;
    // The line's counters summed over every open of the walk, a resumed journal's earlier ones included.
    LineCounters countersSoFar();

    static QString isoTime(const QDateTime &time);

signals:
    void stageChanged(Stage stage);
    void asked(const Question &question);
    void status(const QString &text);
    void pointDone(const PointResult &result);
    // A counter's count while its pulses are awaited.
    void countSeen(int counter, int count);
    // completed: the walk reached its end; otherwise it was cancelled or stopped (problem says why).
    void finished(bool completed);
    void problem(const QString &text);

private:
    struct Cancelled {};
    struct JournalFailed {};
    struct BackToLine {};

    // co_await turn(ms): the next turn of the event loop, ms from now.
    struct Turn {
        CheckoutWalk *walk;
        int ms;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle);
        void await_resume() const { walk->throwIfCancelled(); }
    };
    // co_await exchange(call, ms): one exchange with the module, `call`, made on the link ms from now; gives
    // what `call` returns. Every exchange of the walk goes through here. `call` reaches the library through
    // line() and may touch only what the walk's own coroutine reads, which waits meanwhile. It is a lambda
    // with references only: g++ 12 destroys some class-type temporaries of a co_await expression twice, so
    // the awaiters hold nothing that a second destruction would harm.
    template <typename Call> struct Exchange {
        CheckoutWalk *walk;
        Call call;
        int ms;
        std::optional<std::invoke_result_t<Call &>> result;
        static_assert(std::is_trivially_destructible_v<Call> &&
                          std::is_trivially_destructible_v<std::invoke_result_t<Call &>>,
                      "a second destruction must be harmless");
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) {
            walk->schedule(ms, [this, handle] {
                walk->onLine([this] { result = call(); },
                             [this, handle] {
                                 walk->noteCounters();
                                 handle.resume();
                             });
            });
        }
        std::invoke_result_t<Call &> await_resume() {
            walk->throwIfCancelled();
            walk->throwIfNoLibrary();
            return *result;
        }
    };
    // co_await ask(question): waits for the engineer's reply. The question is a named local of the caller,
    // for the same reason.
    struct Ask {
        CheckoutWalk *walk;
        const Question *question;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle);
        Reply await_resume() const;
    };
    Turn turn(int ms = 0) { return {this, ms}; }
    template <typename Call> Exchange<Call> exchange(Call call, int ms = 0) { return {this, call, ms, {}}; }
    Ask ask(const Question &question) { return {this, &question}; }
    void schedule(int ms, std::function<void()> step);
    // Makes `call` a unit on the link with the library at line(), then runs `then` here, unless the walk has
    // gone meanwhile.
    void onLine(std::function<void()> call, std::function<void()> then);
    // The library, while a unit of this walk is on the line.
    Modbus485 &line() const { return *m_onLine; }
    // Closes the port on the link; nothing waits for it.
    void closePort();

    WalkTask run();
    WalkTask putBack();
    void takeOver(const CheckRecord &previous);
    bool isDone(const PointId &point) const;
    WalkTask connect();
    WalkTask readSnapshot(ModuleSnapshot &snapshot);
    WalkTask testOutput(int output);
    WalkTask switchOutput(int output, bool closed, WalkRules::ReadBack &readBack, QString &observed);
    WalkTask putBackOutput(int output);
    WalkTask testInput(int input);
    WalkTask testCounter(int counter);
    WalkTask clearCount(int counter, WalkRules::CountWatch &watch, bool &cleared);
    WalkTask putBackPreset(int counter);
    WalkTask checkFrequency(int counter, const Reply &signal, PointResult &result);
    WalkTask askPastDeadline(const QString &said, const Question &waiting, WalkRules::FieldTimeout &timeout,
                             int &tries, std::optional<Reply> &answer);
    WalkTask restoreAll();
    // Asks the engineer whether to go on trying to put `name` back after `attempt` tries; false to give up.
    WalkTask keepTrying(const QString &name, const QString &said, int attempt, bool &again);

    void setStage(Stage stage);
    void throwIfCancelled() const;
    // A call on the line found the library missing: raised here, on the walk's own thread.
    void throwIfNoLibrary();
    void journal(bool written);
    void finishPoint(PointResult result);
    void skipUnread(PointResult result);
    void noteOutput(const QString &name, const QString &state);
    void notePreset(int counter, const QString &state, int value);
    // Offers a question while the walk goes on polling; takeReply() hands over an answer once given.
    void offer(const Question &question);
    std::optional<Reply> takeReply();
    qint64 elapsed() const { return m_settings.clock(); }
    // The reads of the walk; each notes whether it was answered, for lineDown().
    std::optional<WalkRules::Inputs> readInputs();
    int readCoils();
    int readCoil(int output);
    int32_t readRegister(int32_t reg);
    int32_t readFrequency(int counter);
    void noteRead(bool answered, int function, int32_t start);
    // Failed reads in a row have reached lineDownReads; in a field wait, says so once, and that it is back.
    bool lineDown();
    QString lineDownReason();
    QString pointLabel(const QString &point) const;
    LineCounters lineCounters();
    // The counters the journal's next line carries: refreshed after each exchange, open and close.
    void noteCounters();

    // Held while a unit of the walk is on the line; a walk that goes lets no later unit touch it.
    struct Presence {
        std::mutex mutex;
        bool here = true;
    };

    ExchangeLink &m_link;
    std::shared_ptr<Presence> m_presence = std::make_shared<Presence>();
    Modbus485 *m_onLine = nullptr;
    std::optional<std::string> m_noLibrary; // what the library's loader said, from the line's thread
    JournalWriter &m_journal;
    WalkSettings m_settings;
    CheckRecord m_record;
    Stage m_stage = Stage::Connection;
    WalkTask m_run;
    std::coroutine_handle<> m_waiting; // a coroutine waiting for the engineer
    std::optional<Question> m_question;
    std::optional<Reply> m_reply;
    bool m_cancelRequested = false;
    bool m_cancelled = false;
    bool m_backToLine = false;
    bool m_restoring = false; // the exit rule runs to its end whatever is pressed
    bool m_putBackOnly = false;
    bool m_finished = false;
    bool m_portOpen = false;
    bool m_closed = false; // the closing line is in the journal
    int m_failedReads = 0; // in a row
    int m_failedFunction = 0;
    int32_t m_failedStart = 0;
    bool m_saidDown = false;
    QSet<int> m_changedOutputs;
    QSet<int> m_unknownOutputs;
    QSet<int> m_changedPresets;
    std::shared_ptr<std::optional<LineCounters>> m_countersSeen =
        std::make_shared<std::optional<LineCounters>>();
    LineCounters m_earlierOpens; // the library counts from each open: the sums of the opens before this one
    QStringList m_givenUp;       // outputs and presets the engineer stopped trying to put back
};
