#include "CheckoutWalk.h"

#include "LineCodes.h"
#include "LinkError.h"
#include "LinkWords.h"
#include "MODBUS485.h"
#include "ModuleMap.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {
// Text of the walk. Coroutine bodies cannot hold QStringLiteral (g++ 12 rejects its array in a coroutine
// frame), so the walk's texts go through here.
QString text(const char *utf8) {
    return QString::fromUtf8(utf8);
}
const QList<Choice> RetryOrBack{Choice::Retry, Choice::BackToLine};
const QList<Choice> RetryOrGiveUp{Choice::Retry, Choice::Skip};
const QList<Choice> YesOrSkip{Choice::Yes, Choice::Skip};
const QList<Choice> YesNoSkip{Choice::Yes, Choice::No, Choice::Skip};
const QList<Choice> RetryOrFail{Choice::Retry, Choice::Fail};
const QList<Choice> SkipOrFail{Choice::Skip, Choice::Fail};
const QList<Choice> ExtendSkipOrFail{Choice::Extend, Choice::Skip, Choice::Fail};

Question makeQuestion(const QString &point, const QString &text, const QList<Choice> &choices,
                      bool wantsNumber = false, int number = 0, bool whileWaiting = false) {
    return {point, text, choices, wantsNumber, number, whileWaiting};
}
} // namespace

QString choiceWord(Choice choice) {
    switch (choice) {
    case Choice::Yes:
        return text("是");
    case Choice::No:
        return text("否");
    case Choice::Skip:
        return text("跳过");
    case Choice::Extend:
        return text("延长");
    case Choice::Retry:
        return text("重试");
    case Choice::Fail:
        return text("判为失败");
    case Choice::BackToLine:
        return text("返回连接");
    }
    return {};
}

QString CheckoutWalk::isoTime(const QDateTime &time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

CheckoutWalk::CheckoutWalk(ExchangeLink &link, JournalWriter &journal, WalkSettings settings, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_journal(journal)
    , m_settings(std::move(settings)) {
    if (!m_settings.clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_settings.clock = [timer] { return timer->elapsed(); };
    }
    if (!m_settings.now)
        m_settings.now = [] { return QDateTime::currentDateTime(); };
    m_record.header = m_settings.header;
    // The journal is handed the counters as the walk last saw them, not asked to fetch them.
    m_journal.counters = [seen = m_countersSeen] { return *seen; };
}

CheckoutWalk::~CheckoutWalk() {
    m_journal.counters = nullptr;
    // Waits for a unit of the walk on the line, if any; none after it runs.
    const std::lock_guard lock(m_presence->mutex);
    m_presence->here = false;
}

void CheckoutWalk::start() {
    m_run = run();
    m_run.start();
}

void CheckoutWalk::Turn::await_suspend(std::coroutine_handle<> handle) {
    walk->schedule(ms, [handle] { handle.resume(); });
}

void CheckoutWalk::schedule(int ms, std::function<void()> step) {
    QTimer::singleShot(ms, this, std::move(step));
}

void CheckoutWalk::onLine(std::function<void()> call, std::function<void()> then) {
    m_link.post(
        ExchangeLink::Priority::Operator, m_record.header.port,
        [this, presence = m_presence, call = std::move(call)](Modbus485 &library) {
            const std::lock_guard lock(presence->mutex);
            if (!presence->here)
                return;
            m_onLine = &library;
            try {
                call();
            } catch (const LinkError &error) {
                m_noLibrary = error.what();
            }
            m_onLine = nullptr;
        },
        this, std::move(then));
}

void CheckoutWalk::closePort() {
    const int32_t port = m_record.header.port;
    m_link.post(ExchangeLink::Priority::Operator, port,
                [port](Modbus485 &library) {
                    try {
                        library.ClosePort_Modbus(port);
                    } catch (const LinkError &) {
                    }
                },
                nullptr, {});
}

void CheckoutWalk::throwIfNoLibrary() {
    if (m_noLibrary)
        throw LinkError(*std::exchange(m_noLibrary, std::nullopt));
}

void CheckoutWalk::Ask::await_suspend(std::coroutine_handle<> handle) {
    walk->m_waiting = handle;
    walk->m_question = *question;
    walk->m_reply.reset();
    emit walk->asked(*question);
}

Reply CheckoutWalk::Ask::await_resume() const {
    walk->m_question.reset();
    walk->throwIfCancelled();
    return walk->m_reply.value_or(Reply{});
}

void CheckoutWalk::answer(const Reply &reply) {
    if (!m_question)
        return;
    m_reply = reply;
    if (m_waiting) {
        // Resume from the event loop, not from inside the caller's click handler.
        const auto handle = std::exchange(m_waiting, {});
        QTimer::singleShot(0, this, [handle] { handle.resume(); });
    }
}

void CheckoutWalk::cancel() {
    if (m_finished || m_cancelRequested)
        return;
    m_cancelRequested = true;
    if (m_waiting && !m_restoring) {
        const auto handle = std::exchange(m_waiting, {});
        QTimer::singleShot(0, this, [handle] { handle.resume(); });
    }
}

void CheckoutWalk::throwIfCancelled() const {
    if (m_cancelRequested && !m_restoring)
        throw Cancelled{};
}

void CheckoutWalk::offer(const Question &question) {
    m_question = question;
    m_reply.reset();
    emit asked(question);
}

std::optional<Reply> CheckoutWalk::takeReply() {
    if (!m_reply)
        return std::nullopt;
    m_question.reset();
    return std::exchange(m_reply, std::nullopt);
}

void CheckoutWalk::setStage(Stage stage) {
    m_stage = stage;
    emit stageChanged(stage);
}

// A line the walk cannot write stops it; while the exit rule runs, it goes on regardless.
void CheckoutWalk::journal(bool written) {
    if (!written && !m_restoring)
        throw JournalFailed{};
}

QString CheckoutWalk::pointLabel(const QString &point) const {
    const auto entry = m_record.header.io.find(point);
    return entry == m_record.header.io.end() || entry->second.tag.isEmpty()
               ? point
               : point + u'（' + entry->second.tag + u'）';
}

// An output's state into the journal and the record, as the journal's reader keeps it.
void CheckoutWalk::noteOutput(const QString &name, const QString &state) {
    m_record.outputsChanged.removeAll(name);
    if (state != u"restored")
        m_record.outputsChanged << name;
    journal(m_journal.writeOutput(name, state));
}

// A counter's test preset into the journal and the record, before it is written and once it is back.
void CheckoutWalk::notePreset(int counter, const QString &state, int value) {
    const QString name = text("C%1").arg(counter);
    m_record.presetsChanged.removeAll(name);
    if (state != u"restored")
        m_record.presetsChanged << name;
    journal(m_journal.writePreset(name, state, value));
}

// A point whose state before the walk could not be read is not tested: nothing could be put back.
void CheckoutWalk::skipUnread(PointResult result) {
    result.result = Result::Skip;
    result.observed = text("调试前状态未能读取");
    finishPoint(result);
}

void CheckoutWalk::finishPoint(PointResult result) {
    result.time = isoTime(m_settings.now());
    journal(m_journal.writePoint(result));
    m_record.addResult(result);
    emit pointDone(result);
}

QStringList CheckoutWalk::unknownOutputs() const {
    QStringList names;
    for (int y = 1; y <= ModuleMap::OutputCount; ++y)
        if (m_unknownOutputs.contains(y))
            names << text("Y%1").arg(y);
    return names;
}

void CheckoutWalk::noteCounters() {
    *m_countersSeen = m_portOpen ? std::optional<LineCounters>(countersSoFar()) : std::nullopt;
}

QStringList CheckoutWalk::notBack() const {
    QStringList names;
    for (int y = 1; y <= ModuleMap::OutputCount; ++y)
        if (m_changedOutputs.contains(y))
            names << text("Y%1").arg(y);
    for (int c = 1; c <= ModuleMap::CounterCount; ++c)
        if (m_changedPresets.contains(c))
            names << text("C%1 预置值").arg(c);
    return names;
}

void CheckoutWalk::noteRead(bool answered, int function, int32_t start) {
    if (answered) {
        m_failedReads = 0;
        return;
    }
    ++m_failedReads;
    m_failedFunction = function;
    m_failedStart = start;
}

bool CheckoutWalk::lineDown() {
    const bool down = m_failedReads >= m_settings.lineDownReads;
    if (down != m_saidDown)
        emit status(down ? text("通讯中断：") + lineDownReason() : text("通讯已恢复"));
    m_saidDown = down;
    return down;
}

// The library's word for the last read that failed.
QString CheckoutWalk::lineDownReason() {
    const auto &h = m_record.header;
    int32_t last[MODBUS485_LASTREAD_VALUES] = {};
    m_link.GetPort_LastRead(h.port, h.station, m_failedFunction, m_failedStart, last,
                            MODBUS485_LASTREAD_VALUES);
    return LinkWords::lastRead(last[MODBUS485_LASTREAD_OUTCOME], h.station,
                               last[MODBUS485_LASTREAD_EXCEPTION], last[MODBUS485_LASTREAD_RTT_US]);
}

std::optional<WalkRules::Inputs> CheckoutWalk::readInputs() {
    int32_t words[2] = {0, 0};
    const auto &h = m_record.header;
    const bool answered = line().Get_1X_B16(h.port, h.station, ModuleMap::InputBlockStart,
                                            Modbus485::BitBlock(words)) != ModuleMap::Failed &&
                          words[0] >= 0 && words[0] <= 255 && words[1] >= 0 && words[1] <= 255;
    noteRead(answered, modbus485::ReadInputs, ModuleMap::InputBlockStart);
    if (!answered)
        return std::nullopt;
    WalkRules::Inputs inputs{};
    for (int i = 0; i < ModuleMap::InputCount; ++i)
        inputs[i] = (words[i / 8] >> (i % 8)) & 1;
    return inputs;
}

// The coils of the outputs as one word, bit 0 for Y1, or Failed.
int CheckoutWalk::readCoils() {
    int32_t words[2] = {0, 0};
    const auto &h = m_record.header;
    line().Get_0X_B16(h.port, h.station, ModuleMap::CoilBlockStart, Modbus485::BitBlock(words));
    const bool answered = words[0] >= 0 && words[0] <= 255;
    noteRead(answered, modbus485::ReadCoils, ModuleMap::CoilBlockStart);
    return answered ? words[0] : ModuleMap::Failed;
}

// The coil of one output read back: 0 or 1, or Failed.
int CheckoutWalk::readCoil(int output) {
    const int coils = readCoils();
    return coils == ModuleMap::Failed
               ? coils
               : (coils >> (ModuleMap::outputCoil(output) - ModuleMap::CoilBlockStart)) & 1;
}

// One holding register, or Failed.
int32_t CheckoutWalk::readRegister(int32_t reg) {
    const auto &h = m_record.header;
    const int32_t value = line().Get_4X_UnD1(h.port, h.station, reg);
    noteRead(value != ModuleMap::Failed, modbus485::ReadHoldingRegisters, reg);
    return value;
}

// The frequency measured on a counter's input, or Failed.
int32_t CheckoutWalk::readFrequency(int counter) {
    const auto &h = m_record.header;
    int32_t frequencies[8];
    const int32_t read = line().Get_3X_UnD8(h.port, h.station, ModuleMap::FrequencyBlockStart,
                                            Modbus485::RegisterBlock(frequencies));
    noteRead(read != ModuleMap::Failed, modbus485::ReadInputRegisters, ModuleMap::FrequencyBlockStart);
    return read == ModuleMap::Failed
               ? ModuleMap::Failed
               : frequencies[ModuleMap::frequencyRegister(counter) - ModuleMap::FrequencyBlockStart];
}

// The counters of the port's present open, indexed by the library's counter numbers; none from a library
// without them.
LineCounters CheckoutWalk::lineCounters() {
    int32_t values[MODBUS485_COUNTERS] = {};
    try {
        m_link.GetPort_Counters(m_record.header.port, values, MODBUS485_COUNTERS);
    } catch (const LinkError &) {
    }
    return LineCounters::from(values);
}

LineCounters CheckoutWalk::countersSoFar() {
    LineCounters sum = m_earlierOpens;
    if (m_portOpen)
        sum += lineCounters();
    return sum;
}

WalkTask CheckoutWalk::run() {
    bool completed = false;
    QString stoppedFor;
    try {
        // A resumed walk keeps the journal's header and as-found and goes on from the first point not done,
        // once what the killed walk left changed is back.
        const bool resuming = m_record.asFound.has_value();
        if (!resuming)
            journal(m_journal.writeHeader(m_record.header));
        co_await connect();

        setStage(Stage::AsFound);
        if (!resuming) {
            ModuleSnapshot found;
            co_await readSnapshot(found);
            m_record.asFound = found;
            journal(m_journal.writeAsFound(found));
        } else if (!m_changedOutputs.isEmpty() || !m_changedPresets.isEmpty()) {
            emit status(text("先恢复上次中断时改动的：%1").arg(notBack().join(text("、"))));
            co_await restoreAll();
        }

        setStage(Stage::Outputs);
        for (int y = 1; y <= ModuleMap::OutputCount; ++y)
            if (!isDone({PointKind::Output, y}))
                co_await testOutput(y);
        setStage(Stage::Inputs);
        for (int x = 1; x <= ModuleMap::InputCount; ++x)
            if (!isDone({PointKind::Input, x}))
                co_await testInput(x);
        setStage(Stage::Counters);
        for (int c = 1; c <= ModuleMap::CounterCount; ++c)
            if (!isDone({PointKind::Counter, c}))
                co_await testCounter(c);
        completed = true;
    } catch (const Cancelled &) {
        m_cancelled = true;
        stoppedFor = text("已取消");
    } catch (const BackToLine &) {
        m_backToLine = true;
    } catch (const JournalFailed &) {
        stoppedFor = text("无法写入记录：%1。调试已停止，正在恢复改动过的输出和预置值；已完成的步骤在记录中，"
                          "腾出空间后可继续。")
                         .arg(m_journal.error());
    } catch (const LinkError &error) {
        stoppedFor = text("找不到 MODBUS485 库：%1").arg(QString::fromUtf8(error.what()));
    }
    if (!stoppedFor.isEmpty())
        emit problem(stoppedFor);

    // The exit rule: whatever ended the walk, what it changed goes back.
    m_restoring = true;
    setStage(Stage::AsLeft);
    try {
        co_await restoreAll();
        if (m_portOpen && m_record.asFound && !m_backToLine) {
            ModuleSnapshot left;
            co_await readSnapshot(left);
            m_record.asLeft = left;
            m_journal.writeAsLeft(left);
        }
    } catch (const LinkError &) {
    } catch (const JournalFailed &) {
    }
    if (m_cancelled) {
        m_record.cancelled = true;
        m_journal.writeCancel();
    }
    if (m_backToLine)
        closeRecord(text("通讯检查未通过，已返回连接"));
    m_finished = true;
    setStage(Stage::Done);
    emit finished(completed);
}

void CheckoutWalk::takeOver(const CheckRecord &previous) {
    m_record = previous;
    m_record.closing.reset();
    m_record.asLeft.reset();
    m_record.cancelled = false;
    m_earlierOpens = previous.counters;
    for (const QString &name : previous.outputsChanged)
        if (const auto point = PointId::parse(name); point && point->kind == PointKind::Output)
            m_changedOutputs.insert(point->number);
    for (const QString &name : previous.presetsChanged)
        if (const auto point = PointId::parse(name); point && point->kind == PointKind::Counter)
            m_changedPresets.insert(point->number);
}

void CheckoutWalk::startPutBack(const CheckRecord &previous) {
    takeOver(previous);
    m_putBackOnly = true;
    m_run = putBack();
    m_run.start();
}

void CheckoutWalk::startResume(const CheckRecord &previous) {
    takeOver(previous);
    m_run = run();
    m_run.start();
}

bool CheckoutWalk::isDone(const PointId &point) const {
    for (const PointResult &r : m_record.points)
        if (r.point == point && r.result != Result::Untested)
            return true;
    return false;
}

WalkTask CheckoutWalk::putBack() {
    bool connected = false;
    try {
        co_await connect();
        connected = true;
    } catch (const Cancelled &) {
    } catch (const BackToLine &) {
    } catch (const LinkError &) {
    }
    m_restoring = true;
    if (connected && m_record.asFound) {
        try {
            co_await restoreAll();
        } catch (const LinkError &) {
        }
        m_earlierOpens = countersSoFar();
        closePort();
        m_portOpen = false;
        noteCounters();
    }
    m_finished = true;
    emit finished(connected && notBack().isEmpty());
}

WalkTask CheckoutWalk::connect() {
    setStage(Stage::Connection);
    const auto &h = m_record.header;
    for (;;) {
        co_await turn();
        // Opening again starts the library's counters afresh: what this open counted is kept first.
        if (m_portOpen)
            m_earlierOpens = countersSoFar();
        m_portOpen = false;
        // The walk's own trace beside its record, named for this port alone: the process's environment is
        // never changed. A trace the engineer asked for with MODBUS485_TRACE is left as it is.
        char info[512] = {};
        const int32_t opened = co_await exchange([&, this] {
            const int32_t result = line().OpenPort_Modbus(h.port, h.baudCode, h.parityCode);
            if (result != 0)
                line().GetPort_Info(h.port, info, sizeof info);
            else if (!m_settings.tracePath.isEmpty() && !qEnvironmentVariableIsSet("MODBUS485_TRACE"))
                resumeNext([&] { line().SetPort_Trace(h.port, m_settings.tracePath); });
            return result;
        });
        if (opened != 0) {
            const Question portClosed =
                makeQuestion(QString(),
                             text("端口%1打不开：%2\n若调试面板正在使用此端口，请在面板中按“关闭”后重试。")
                                 .arg(h.port)
                                 .arg(QString::fromUtf8(info)),
                             RetryOrBack);
            const Reply reply = co_await ask(portClosed);
            if (reply.choice != Choice::Retry)
                throw BackToLine{};
            continue;
        }
        m_portOpen = true;
        noteCounters();
        int good = 0;
        int made = 0;
        while (made < m_settings.checkReads) {
            const auto inputs = co_await exchange([this] { return readInputs(); });
            ++made;
            emit status(text("检查通讯：第 %1 次读取").arg(made));
            if (!inputs)
                break;
            ++good;
        }
        if (good == m_settings.checkReads)
            co_return;
        const Question noAnswer = makeQuestion(
            QString(),
            text("%1 次读取只成功 %2 次。%3；最后一次：%4。\n请检查站号、波特率、校验方式和接线后重试。")
                .arg(made)
                .arg(good)
                .arg(lineCounters().text())
                .arg(lineDownReason()),
            RetryOrBack);
        const Reply reply = co_await ask(noAnswer);
        if (reply.choice != Choice::Retry)
            throw BackToLine{};
    }
}

// Reads the module's state, each block up to asFoundTries times; what still does not answer stays Unread.
WalkTask CheckoutWalk::readSnapshot(ModuleSnapshot &s) {
    const auto &h = m_record.header;
    const int tries = m_restoring ? 1 : m_settings.asFoundTries;
    for (int attempt = 0; attempt < tries && s.outputs[0] == ModuleSnapshot::Unread; ++attempt) {
        const int coils =
            co_await exchange([this] { return readCoils(); }, attempt ? m_settings.asFoundRetryMs : 0);
        if (coils != ModuleMap::Failed)
            s.takeCoils(coils);
    }
    for (int attempt = 0; attempt < tries && s.inputs[0] == ModuleSnapshot::Unread; ++attempt)
        if (const auto inputs =
                co_await exchange([this] { return readInputs(); }, attempt ? m_settings.asFoundRetryMs : 0))
            std::copy(inputs->begin(), inputs->end(), s.inputs.begin());
    for (int attempt = 0; attempt < tries && s.presets[0] == ModuleSnapshot::Unread; ++attempt) {
        int32_t holding[8];
        const int32_t read = co_await exchange(
            [&, this] {
                const int32_t r = line().Get_4X_UnD8(h.port, h.station, ModuleMap::CounterBlockStart,
                                                     Modbus485::RegisterBlock(holding));
                noteRead(r != ModuleMap::Failed, modbus485::ReadHoldingRegisters,
                         ModuleMap::CounterBlockStart);
                return r;
            },
            attempt ? m_settings.asFoundRetryMs : 0);
        if (read != ModuleMap::Failed)
            s.takeCounterBlock(holding);
    }
    for (int attempt = 0; attempt < tries && s.clearModes[2] == ModuleSnapshot::Unread; ++attempt)
        s.clearModes[2] = co_await exchange([this] { return readRegister(ModuleMap::ClearModeX3Register); },
                                            attempt ? m_settings.asFoundRetryMs : 0);
    for (int attempt = 0; attempt < tries && s.frequencies[0] == ModuleSnapshot::Unread; ++attempt)
        for (int c = 1; c <= ModuleMap::CounterCount; ++c)
            s.frequencies[c - 1] = co_await exchange([this, c] { return readFrequency(c); },
                                                     attempt && c == 1 ? m_settings.asFoundRetryMs : 0);
    for (int attempt = 0; attempt < tries && s.parity == ModuleSnapshot::Unread; ++attempt)
        s.parity = co_await exchange(
            [&, this] {
                const int32_t parity = line().Get_4X_D1(h.port, h.station, ModuleMap::ParityRegister);
                noteRead(parity != ModuleMap::Failed, modbus485::ReadHoldingRegisters,
                         ModuleMap::ParityRegister);
                return parity;
            },
            attempt ? m_settings.asFoundRetryMs : 0);
}

// Switches one output and reads it back, one exchange a turn.
WalkTask CheckoutWalk::switchOutput(int output, bool closed, WalkRules::ReadBack &readBack,
                                    QString &observed) {
    const auto &h = m_record.header;
    const int32_t written = co_await exchange([&, this] {
        return closed ? line().Set_0X_Bit1(h.port, h.station, ModuleMap::outputCoil(output))
                      : line().Rst_0X_Bit1(h.port, h.station, ModuleMap::outputCoil(output));
    });
    const int coil = co_await exchange([this, output] { return readCoil(output); });
    readBack = coil == ModuleMap::Failed                  ? WalkRules::ReadBack::NoAnswer
               : written == 0 && coil == (closed ? 1 : 0) ? WalkRules::ReadBack::Confirmed
                                                          : WalkRules::ReadBack::Wrong;
    if (coil == ModuleMap::Failed)
        observed = text("回读无应答");
    else if (coil == 1)
        observed = text("回读闭合");
    else
        observed = text("回读断开");
}

WalkTask CheckoutWalk::keepTrying(const QString &name, const QString &said, int attempt, bool &again) {
    again = true;
    if (m_putBackOnly) {
        // The header page's put-back stops after its tries and says what is not back.
        again = attempt < m_settings.putBackTries;
        co_return;
    }
    if (attempt % m_settings.retriesBeforeAsking != 0)
        co_return;
    const bool wasRestoring = std::exchange(m_restoring, true);
    const Question cannotPutBack = makeQuestion(name, said, RetryOrGiveUp);
    const Reply reply = co_await ask(cannotPutBack);
    m_restoring = wasRestoring;
    again = reply.choice != Choice::Skip;
}

// Puts an output back to its as-found state, trying until the module confirms it or the engineer gives up.
// An as-found state that was never read is not written.
WalkTask CheckoutWalk::putBackOutput(int output) {
    const QString name = text("Y%1").arg(output);
    const int found = m_record.asFound->outputs[output - 1];
    if (found == ModuleSnapshot::Unread) {
        m_unknownOutputs.insert(output);
        noteOutput(name, text("unknown"));
        co_return;
    }
    for (int attempt = 1;; ++attempt) {
        WalkRules::ReadBack readBack = WalkRules::ReadBack::NoAnswer;
        QString observed;
        co_await switchOutput(output, found == 1, readBack, observed);
        if (readBack == WalkRules::ReadBack::Confirmed) {
            m_changedOutputs.remove(output);
            if (m_unknownOutputs.remove(output))
                emit status(text("%1 已恢复").arg(name));
            noteOutput(name, text("restored"));
            co_return;
        }
        if (!m_unknownOutputs.contains(output)) {
            m_unknownOutputs.insert(output);
            noteOutput(name, text("unknown"));
        }
        emit status(text("%1 状态未知").arg(name));
        const QString said = text("%1 状态未知：线路无应答，无法恢复到调试前状态。").arg(name);
        bool again = true;
        co_await keepTrying(name, said, attempt, again);
        if (!again) {
            m_givenUp << name;
            co_return;
        }
        co_await turn(m_settings.retryMs);
    }
}

WalkTask CheckoutWalk::testOutput(int output) {
    const QString name = text("Y%1").arg(output);
    const QString label = pointLabel(name);
    PointResult result;
    result.point = {PointKind::Output, output};
    const int found = m_record.asFound->outputs[output - 1];
    const bool closeIt = found != 1;
    const QString act = closeIt ? text("接通") : text("断开");
    result.checked = text("%1 %2，回读，确认现场负载，恢复，回读").arg(act, name);
    result.expected = text("回读%1；现场负载动作").arg(closeIt ? text("闭合") : text("断开"));

    if (found == ModuleSnapshot::Unread)
        co_return skipUnread(result);
    if (m_settings.doNotSwitch.contains(name)) {
        result.result = Result::Skip;
        result.remark = text("不允许动作");
        finishPoint(result);
        co_return;
    }
    const Question mayIt =
        found == 1
            ? makeQuestion(name, text("%1 调试前已接通。断开测试？现场负载将动作").arg(label), YesOrSkip)
            : makeQuestion(name, text("%1 %2？现场负载将动作").arg(act, label), YesOrSkip);
    const Reply may = co_await ask(mayIt);
    if (may.choice != Choice::Yes) {
        result.result = Result::Skip;
        result.remark = may.remark.isEmpty() && found == 1 ? text("调试前已接通，未动") : may.remark;
        finishPoint(result);
        co_return;
    }

    WalkRules::ReadBack readBack = WalkRules::ReadBack::NoAnswer;
    QString observed;
    Reply field;
    for (;;) {
        ++result.tries;
        m_changedOutputs.insert(output);
        noteOutput(name, text("changed"));
        co_await switchOutput(output, closeIt, readBack, observed);
        if (readBack == WalkRules::ReadBack::Confirmed) {
            const Question didItMove =
                makeQuestion(name, text("%1 已%2：现场负载动作了吗？").arg(label, act), YesNoSkip);
            field = co_await ask(didItMove);
            break;
        }
        co_await putBackOutput(output);
        const Question failed =
            makeQuestion(name, text("%1 %2失败（%3）。").arg(label, act, observed), RetryOrFail);
        const Reply again = co_await ask(failed);
        if (again.choice != Choice::Retry) {
            field = again;
            break;
        }
    }
    QString back;
    if (readBack == WalkRules::ReadBack::Confirmed) {
        co_await putBackOutput(output);
        back = m_changedOutputs.contains(output) ? text("；未能恢复") : text("；已恢复");
    }
    result.observed = observed + back;
    result.remark = field.remark;
    const WalkRules::FieldAnswer answer = field.choice == Choice::Yes  ? WalkRules::FieldAnswer::Moved
                                          : field.choice == Choice::No ? WalkRules::FieldAnswer::DidNotMove
                                                                       : WalkRules::FieldAnswer::Skipped;
    const WalkRules::Verdict verdict = WalkRules::outputVerdict(readBack, answer, field.defect);
    result.result = verdict.result;
    result.defect = verdict.defect;
    if (readBack == WalkRules::ReadBack::Confirmed)
        result.field = choiceWord(field.choice);
    finishPoint(result);
}

WalkTask CheckoutWalk::testInput(int input) {
    const QString name = text("X%1").arg(input);
    PointResult result;
    result.point = {PointKind::Input, input};
    result.checked = text("现场动作 %1").arg(name);
    result.expected = text("%1 变化后复原，其他输入不变").arg(name);
    result.tries = 1;

    // Inputs that move on their own before the prompt (field pulses) are left out of the judgement.
    WalkRules::InputWatch watch(input);
    for (int i = 0; i < m_settings.prewatchReads; ++i)
        watch.before(co_await exchange([this] { return readInputs(); }, i == 0 ? 0 : m_settings.pollMs));
    // The prompt waits for a value to judge against: one read after it could already hold the change.
    while (!watch.hasBaseline()) {
        watch.before(co_await exchange([this] { return readInputs(); }, m_settings.pollMs));
        lineDown();
    }

    const Question prompt =
        makeQuestion(name, text("请动作 %1，动作后复原").arg(pointLabel(name)), SkipOrFail, false, 0, true);
    offer(prompt);
    WalkRules::FieldTimeout timeout(elapsed(), m_settings.inputTimeoutMs);
    for (;;) {
        const auto now = co_await exchange([this] { return readInputs(); }, m_settings.pollMs);
        const bool down = lineDown();
        if (const auto reply = takeReply()) {
            result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
            if (result.result == Result::Fail)
                result.defect = WalkRules::failureClass(reply->defect, down, Defect::Wiring);
            result.remark = reply->remark;
            if (down)
                result.observed = text("通讯中断：") + lineDownReason();
            else
                result.observed = watch.phase() == 0 ? text("未见变化") : text("变化后未复原");
            break;
        }
        const WalkRules::InputWatch::Event event = watch.watch(now);
        if (event == WalkRules::InputWatch::Event::CrossWired) {
            result.result = Result::Fail;
            result.defect = Defect::Wiring;
            result.observed = text("可能接线交叉：X%1 动作").arg(watch.crossed());
            break;
        }
        if (event == WalkRules::InputWatch::Event::Moved)
            emit status(text("%1 已变化，请复原").arg(name));
        if (event == WalkRules::InputWatch::Event::Back) {
            emit status(text("%1 已复原").arg(name));
            result.result = Result::Pass;
            result.observed = text("%1 变化后复原").arg(name);
            break;
        }
        if (timeout.poll(elapsed(), down)) {
            const QString awaited = watch.phase() == 0 ? text("变化") : text("复原");
            const QString said = text("%1 超时未见%2。").arg(name, awaited);
            std::optional<Reply> reply;
            co_await askPastDeadline(said, prompt, timeout, result.tries, reply);
            if (!reply)
                continue;
            result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
            if (result.result == Result::Fail)
                result.defect = WalkRules::failureClass(reply->defect, false, Defect::Wiring);
            result.remark = reply->remark;
            result.observed = text("超时未见%1").arg(awaited);
            break;
        }
    }
    m_question.reset();
    finishPoint(result);
}

WalkTask CheckoutWalk::putBackPreset(int counter) {
    const auto &h = m_record.header;
    const int found = m_record.asFound->presets[counter - 1];
    if (found == ModuleSnapshot::Unread)
        co_return;
    for (int attempt = 1;; ++attempt) {
        const int32_t written = co_await exchange([&, this] {
            return line().Set_4X_D1(h.port, h.station, ModuleMap::presetRegister(counter), found);
        });
        const int32_t readBack =
            co_await exchange([this, counter] { return readRegister(ModuleMap::presetRegister(counter)); });
        if (written == 0 && readBack == found) {
            m_changedPresets.remove(counter);
            notePreset(counter, text("restored"), found);
            co_return;
        }
        emit status(text("C%1 预置值未恢复，重试中").arg(counter));
        const QString name = text("C%1").arg(counter);
        const QString said = text("C%1 预置值无法恢复为 %2：线路无应答。").arg(counter).arg(found);
        bool again = true;
        co_await keepTrying(name, said, attempt, again);
        if (!again) {
            m_givenUp << name;
            co_return;
        }
        co_await turn(m_settings.retryMs);
    }
}

// Writes 0 to a counter and reads it back until it is 0 or its allowance is over; a write that failed is
// written again.
WalkTask CheckoutWalk::clearCount(int counter, WalkRules::CountWatch &watch, bool &cleared) {
    const auto &h = m_record.header;
    watch.cleared(elapsed());
    int32_t written = ModuleMap::Failed;
    for (;;) {
        if (written != 0)
            written = co_await exchange([&, this] {
                return line().Set_4X_D1(h.port, h.station, ModuleMap::countRegister(counter), 0);
            });
        const int32_t count = co_await exchange(
            [this, counter] { return readRegister(ModuleMap::countRegister(counter)); }, m_settings.pollMs);
        const WalkRules::CountWatch::Verdict verdict = watch.read(count, elapsed());
        if (verdict != WalkRules::CountWatch::Verdict::Waiting) {
            cleared = verdict == WalkRules::CountWatch::Verdict::Cleared;
            co_return;
        }
    }
}

WalkTask CheckoutWalk::testCounter(int counter) {
    const auto &h = m_record.header;
    const QString name = text("C%1").arg(counter);
    const QString input = text("X%1").arg(counter);
    PointResult result;
    result.point = {PointKind::Counter, counter};
    result.tries = 1;
    result.checked = text("清零，%1 输入脉冲；预置 %2 回读，恢复预置").arg(input).arg(m_settings.testPreset);

    int32_t read = ModuleMap::Failed;
    for (int attempt = 0; attempt < m_settings.asFoundTries && read == ModuleMap::Failed; ++attempt)
        read = co_await exchange([this, counter] { return readRegister(ModuleMap::countRegister(counter)); },
                                 attempt ? m_settings.asFoundRetryMs : 0);
    if (read == ModuleMap::Failed || m_record.asFound->presets[counter - 1] == ModuleSnapshot::Unread)
        co_return skipUnread(result);
    // What the module held before this walk cleared it: a walk killed mid-count journaled it already.
    if (!m_record.countsFound.count(name)) {
        m_record.countsFound[name] = read;
        journal(m_journal.writeCountFound(name, read));
    }
    const int found = m_record.countsFound[name];
    const Question clearIt =
        makeQuestion(name,
                     text("%1 当前计数 %2（可能是装置累计值）。清零后原计数不写回，只记入记录。清零并测试？")
                         .arg(pointLabel(name))
                         .arg(found),
                     YesOrSkip);
    const Reply clear = co_await ask(clearIt);
    if (clear.choice != Choice::Yes) {
        result.result = Result::Skip;
        result.observed = text("计数 %1，未清零").arg(found);
        result.remark = clear.remark;
        finishPoint(result);
        co_return;
    }
    WalkRules::CountWatch watch(m_settings.clearAllowMs, m_settings.countSteadyMs);
    bool cleared = false;
    co_await clearCount(counter, watch, cleared);
    result.checked = text("清零（原计数 %1）").arg(found);
    if (!cleared) {
        result.result = Result::Fail;
        result.defect = WalkRules::failureClass(Defect::None, lineDown(), Defect::Module);
        result.observed = text("清零未成功：计数 %1").arg(watch.count());
        finishPoint(result);
        co_return;
    }

    const Question sendPulses =
        makeQuestion(name, text("请在 %1 输入脉冲，个数：").arg(pointLabel(input)), YesOrSkip, true, 10);
    const Reply go = co_await ask(sendPulses);
    const int pulses = go.number > 0 ? go.number : 10;
    result.checked = text("清零（原计数 %1），%2 输入 %3 个脉冲；预置 %4 回读，恢复预置")
                         .arg(found)
                         .arg(input)
                         .arg(pulses)
                         .arg(m_settings.testPreset);
    result.expected = text("计数 %1；预置回读 %2").arg(pulses).arg(m_settings.testPreset);
    QString countText;
    bool countOk = false;
    if (go.choice == Choice::Yes) {
        const Question wait =
            makeQuestion(name, text("等待 %1 计数到 %2…").arg(name).arg(pulses), SkipOrFail, false, 0, true);
        offer(wait);
        watch.expect(pulses);
        WalkRules::FieldTimeout timeout(elapsed(), m_settings.countTimeoutMs);
        for (;;) {
            const int32_t now =
                co_await exchange([this, counter] { return readRegister(ModuleMap::countRegister(counter)); },
                                  m_settings.pollMs);
            const bool down = lineDown();
            if (const auto reply = takeReply()) {
                result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
                if (result.result == Result::Fail)
                    result.defect = WalkRules::failureClass(reply->defect, down, Defect::FieldDevice);
                result.remark = reply->remark;
                if (down)
                    countText = text("计数 %1；通讯中断：%2").arg(watch.count()).arg(lineDownReason());
                break;
            }
            const WalkRules::CountWatch::Verdict verdict = watch.read(now, elapsed());
            if (now != ModuleMap::Failed)
                emit countSeen(counter, now);
            if (verdict == WalkRules::CountWatch::Verdict::Bounce) {
                result.result = Result::Fail;
                result.defect = Defect::FieldDevice;
                countText = text("计数 %1，多于 %2：可能抖动").arg(watch.count()).arg(pulses);
                break;
            }
            if (verdict == WalkRules::CountWatch::Verdict::Counted) {
                countOk = true;
                break;
            }
            if (timeout.poll(elapsed(), down)) {
                const QString said =
                    text("%1 超时：计数 %2，应为 %3。").arg(name).arg(watch.count()).arg(pulses);
                std::optional<Reply> reply;
                co_await askPastDeadline(said, wait, timeout, result.tries, reply);
                if (!reply)
                    continue;
                result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
                if (result.result == Result::Fail)
                    result.defect = WalkRules::failureClass(reply->defect, false, Defect::Wiring);
                result.remark = reply->remark;
                break;
            }
        }
        m_question.reset();
        if (countText.isEmpty())
            countText = text("计数 %1").arg(watch.count());
    } else {
        result.result = Result::Skip;
        countText = text("已清零，未输入脉冲");
    }

    // The preset: the test value into the journal, then the module; read back; the one found put back.
    m_changedPresets.insert(counter);
    notePreset(counter, text("changed"), m_settings.testPreset);
    const int32_t written = co_await exchange([&, this] {
        return line().Set_4X_D1(h.port, h.station, ModuleMap::presetRegister(counter), m_settings.testPreset);
    });
    const int32_t readBack =
        co_await exchange([this, counter] { return readRegister(ModuleMap::presetRegister(counter)); });
    co_await putBackPreset(counter);
    const bool presetOk = written == 0 && readBack == m_settings.testPreset;
    result.observed = text("%1；预置回读 %2；预置%3恢复为 %4")
                          .arg(countText)
                          .arg(readBack)
                          .arg(m_changedPresets.contains(counter) ? text("未") : text("已"))
                          .arg(m_record.asFound->presets[counter - 1]);
    if (result.result == Result::Untested) {
        result.result = countOk && presetOk ? Result::Pass : Result::Fail;
        if (!presetOk)
            result.defect = Defect::Module;
    } else if (result.result == Result::Skip && !presetOk) {
        result.result = Result::Fail;
        result.defect = Defect::Module;
    }

    Question knownSignal = makeQuestion(
        name,
        text("%1 测频（可选）：在 %2 接入已知频率的信号，填写其频率和允许偏差后按“是”；不测按“跳过”。")
            .arg(name, pointLabel(input)),
        YesOrSkip, true, 50);
    knownSignal.wantsTolerance = true;
    knownSignal.tolerance = 5;
    const Reply signal = co_await ask(knownSignal);
    if (signal.choice == Choice::Yes && signal.number > 0)
        co_await checkFrequency(counter, signal, result);
    finishPoint(result);
}

// Against a known signal on the counter's input: the measured frequency, once two reads in a row agree,
// within the tolerance of the signal's.
WalkTask CheckoutWalk::checkFrequency(int counter, const Reply &signal, PointResult &result) {
    const QString name = text("C%1").arg(counter);
    result.checked += text("；对照已知信号测频");
    result.expected += text("；测频 %1 Hz ±%2%").arg(signal.number).arg(signal.tolerance);
    if (!signal.remark.isEmpty())
        result.remark += (result.remark.isEmpty() ? QString() : text("；")) + signal.remark;
    const Question wait =
        makeQuestion(name, text("等待 X%1 测频稳定…").arg(counter), SkipOrFail, false, 0, true);
    offer(wait);
    WalkRules::FieldTimeout timeout(elapsed(), m_settings.frequencyTimeoutMs);
    int32_t last = ModuleMap::Failed;
    QString seen;
    Defect defect = Defect::None;
    for (;;) {
        const int32_t now =
            co_await exchange([this, counter] { return readFrequency(counter); }, m_settings.pollMs);
        const bool down = lineDown();
        std::optional<Reply> reply = takeReply();
        if (!reply && timeout.poll(elapsed(), down)) {
            const QString said =
                text("X%1 测频未稳定：读数 %2，应为 %3 Hz。").arg(counter).arg(last).arg(signal.number);
            co_await askPastDeadline(said, wait, timeout, result.tries, reply);
            if (!reply)
                continue;
        }
        if (reply) {
            // No steady reading: the signal does not reach the input, as with a counter that never counts.
            seen = reply->choice == Choice::Skip ? text("测频跳过") : text("测频未稳定");
            if (reply->choice != Choice::Skip)
                defect = WalkRules::failureClass(reply->defect, down, Defect::Wiring);
            break;
        }
        const WalkRules::Frequency verdict =
            WalkRules::frequencyCheck(last, now, signal.number, signal.tolerance);
        if (verdict != WalkRules::Frequency::Unsteady) {
            const bool within = verdict == WalkRules::Frequency::Within;
            seen = within ? text("测频 %1 Hz").arg(now) : text("测频 %1 Hz：频率超差").arg(now);
            defect = within ? Defect::None : Defect::Module;
            break;
        }
        last = now;
    }
    m_question.reset();
    result.observed += text("；") + seen;
    if (defect != Defect::None && result.result != Result::Fail) {
        result.result = Result::Fail;
        result.defect = defect;
    }
}

// A wait's time is up: "延长" moves the deadline on, counts a try and puts `waiting` back up, so that the
// engineer can still skip or fail while the walk goes on waiting; any other answer comes back in `answer`.
WalkTask CheckoutWalk::askPastDeadline(const QString &said, const Question &waiting,
                                       WalkRules::FieldTimeout &timeout, int &tries,
                                       std::optional<Reply> &answer) {
    const Question question = makeQuestion(waiting.point, said, ExtendSkipOrFail);
    const Reply reply = co_await ask(question);
    if (reply.choice != Choice::Extend) {
        answer = reply;
        co_return;
    }
    ++tries;
    timeout.extend(elapsed());
    offer(waiting);
}

WalkTask CheckoutWalk::restoreAll() {
    if (!m_record.asFound || !m_portOpen)
        co_return;
    for (int y = 1; y <= ModuleMap::OutputCount; ++y)
        if (m_changedOutputs.contains(y))
            co_await putBackOutput(y);
    for (int c = 1; c <= ModuleMap::CounterCount; ++c)
        if (m_changedPresets.contains(c))
            co_await putBackPreset(c);
}

bool CheckoutWalk::closeRecord(const QString &remark) {
    if (m_closed)
        return true;
    Closing closing;
    closing.end = isoTime(m_settings.now());
    closing.remark = remark;
    closing.unknownOutputs = unknownOutputs();
    closing.cancelled = m_cancelled;
    m_record.counters = countersSoFar();
    if (m_portOpen) {
        closePort();
        m_portOpen = false;
        noteCounters();
    }
    QFile trace(m_settings.tracePath);
    if (!m_settings.tracePath.isEmpty() && trace.open(QIODevice::ReadOnly)) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(&trace);
        closing.trace = QFileInfo(m_settings.tracePath).fileName();
        closing.traceSha256 = QString::fromLatin1(hash.result().toHex());
    }
    // A journal that could not be written during the walk is left without its closing line, so the walk can
    // be gone on with; a closing line that itself failed is tried again.
    if (!m_journal.error().isEmpty() && !m_record.closing)
        return false;
    m_record.closing = closing;
    m_closed = m_journal.writeClose(closing, m_record.counters);
    return m_closed;
}

bool CheckoutWalk::amend(const PointId &point, Defect defect) {
    for (PointResult &r : m_record.points)
        if (r.point == point && r.result == Result::Fail)
            r.defect = defect;
    return m_journal.writeAmendment(point.name(), defect);
}
