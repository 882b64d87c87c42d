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
const QList<Choice> RetryOrStop{Choice::Retry, Choice::No};
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
    }
    return {};
}

QString CheckoutWalk::isoTime(const QDateTime &time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

CheckoutWalk::CheckoutWalk(Modbus485 &link, JournalWriter &journal, WalkSettings settings, QObject *parent)
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
    m_journal.counters = [this]() -> std::optional<LineCounters> {
        if (!m_portOpen)
            return std::nullopt;
        return countersSoFar();
    };
}

CheckoutWalk::~CheckoutWalk() {
    m_journal.counters = nullptr;
}

void CheckoutWalk::start() {
    m_run = run();
    m_run.start();
}

void CheckoutWalk::Turn::await_suspend(std::coroutine_handle<> handle) {
    QTimer::singleShot(ms, walk, [handle] { handle.resume(); });
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

std::optional<std::array<int, 10>> CheckoutWalk::readInputs() {
    int32_t words[2] = {0, 0};
    const auto &h = m_record.header;
    if (m_link.Get_1X_B16(h.port, h.station, ModuleMap::InputBlockStart, Modbus485::BitBlock(words)) ==
            ModuleMap::Failed ||
        words[0] < 0 || words[0] > 255 || words[1] < 0 || words[1] > 255)
        return std::nullopt;
    std::array<int, 10> inputs{};
    for (int i = 0; i < 10; ++i)
        inputs[i] = (words[i / 8] >> (i % 8)) & 1;
    return inputs;
}

// The coil of one output read back: 0 or 1, or Failed.
int CheckoutWalk::readCoil(int output) {
    int32_t words[2] = {0, 0};
    const auto &h = m_record.header;
    m_link.Get_0X_B16(h.port, h.station, ModuleMap::CoilBlockStart, Modbus485::BitBlock(words));
    if (words[0] < 0 || words[0] > 255)
        return ModuleMap::Failed;
    return (words[0] >> (output - 1)) & 1;
}

// The counters of the port's present open; none from a library without them.
LineCounters CheckoutWalk::lineCounters() {
    int32_t values[MODBUS485_COUNTERS] = {};
    try {
        m_link.GetPort_Counters(m_record.header.port, values, MODBUS485_COUNTERS);
    } catch (const LinkError &) {
    }
    LineCounters c;
    c.requests = values[MODBUS485_COUNTER_REQUESTS];
    c.good = values[MODBUS485_COUNTER_GOOD];
    c.noAnswer = values[MODBUS485_COUNTER_NO_ANSWER];
    c.garbled = values[MODBUS485_COUNTER_GARBLED];
    c.cutShort = values[MODBUS485_COUNTER_CUT_SHORT];
    c.wrongStation = values[MODBUS485_COUNTER_WRONG_STATION];
    c.exceptions = values[MODBUS485_COUNTER_EXCEPTIONS];
    return c;
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
        // A resumed walk keeps the journal's header and as-found and goes on from the first point not done.
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
        stoppedFor = text("已取消");
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
        if (m_portOpen && m_record.asFound) {
            ModuleSnapshot left;
            co_await readSnapshot(left);
            m_record.asLeft = left;
            m_journal.writeAsLeft(left);
        }
    } catch (const LinkError &) {
    } catch (const JournalFailed &) {
    }
    m_finished = true;
    setStage(Stage::Done);
    emit finished(completed);
}

void CheckoutWalk::takeOver(const CheckRecord &previous) {
    m_record = previous;
    m_record.closing.reset();
    m_record.asLeft.reset();
    m_earlierOpens = previous.counters;
    for (const QString &name : previous.outputsChanged)
        if (const auto point = PointId::parse(name); point && point->kind == PointKind::Output)
            m_changedOutputs.insert(point->number);
}

void CheckoutWalk::startPutBack(const CheckRecord &previous) {
    takeOver(previous);
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
    } catch (const LinkError &) {
    }
    m_restoring = true;
    if (connected && m_record.asFound) {
        try {
            co_await restoreAll();
        } catch (const LinkError &) {
        }
        m_earlierOpens = countersSoFar();
        m_link.ClosePort_Modbus(m_record.header.port);
        m_portOpen = false;
    }
    m_finished = true;
    emit finished(connected && m_changedOutputs.isEmpty());
}

WalkTask CheckoutWalk::connect() {
    setStage(Stage::Connection);
    const auto &h = m_record.header;
    if (!m_settings.tracePath.isEmpty() && !qEnvironmentVariableIsSet("MODBUS485_TRACE"))
        qputenv("MODBUS485_TRACE", QFile::encodeName(m_settings.tracePath));
    for (;;) {
        co_await turn();
        // Opening again starts the library's counters afresh: what this open counted is kept first.
        if (m_portOpen)
            m_earlierOpens = countersSoFar();
        m_portOpen = false;
        const int32_t opened = m_link.OpenPort_Modbus(h.port, h.baudCode, h.parityCode);
        if (opened != 0) {
            char info[512] = {};
            m_link.GetPort_Info(h.port, info, sizeof info);
            const Question question1 =
                makeQuestion(QString(),
                             text("端口%1打不开：%2\n若调试面板正在使用此端口，请在面板中按“关闭”后重试。")
                                 .arg(h.port)
                                 .arg(QString::fromUtf8(info)),
                             RetryOrStop);
            const Reply reply = co_await ask(question1);
            if (reply.choice != Choice::Retry)
                throw Cancelled{};
            continue;
        }
        m_portOpen = true;
        int good = 0;
        for (int i = 0; i < m_settings.checkReads; ++i) {
            co_await turn();
            emit status(text("检查通讯：第 %1 次读取").arg(i + 1));
            if (readInputs())
                ++good;
            else
                break;
        }
        if (good == m_settings.checkReads)
            co_return;
        int32_t last[MODBUS485_LASTREAD_VALUES] = {};
        m_link.GetPort_LastRead(h.port, h.station, modbus485::ReadInputs, ModuleMap::InputBlockStart, last,
                                MODBUS485_LASTREAD_VALUES);
        const Question question2 = makeQuestion(
            QString(),
            text("连续 %1 次读取只成功 %2 次。%3；最后一次：%4。\n请检查站号、波特率、校验方式和接线后重试。")
                .arg(m_settings.checkReads)
                .arg(good)
                .arg(lineCounters().text())
                .arg(LinkWords::lastRead(last[MODBUS485_LASTREAD_OUTCOME], h.station,
                                         last[MODBUS485_LASTREAD_EXCEPTION],
                                         last[MODBUS485_LASTREAD_RTT_US])),
            RetryOrStop);
        const Reply reply = co_await ask(question2);
        if (reply.choice != Choice::Retry)
            throw Cancelled{};
    }
}

WalkTask CheckoutWalk::readSnapshot(ModuleSnapshot &s) {
    const auto &h = m_record.header;
    co_await turn();
    int32_t coils[2] = {0, 0};
    m_link.Get_0X_B16(h.port, h.station, ModuleMap::CoilBlockStart, Modbus485::BitBlock(coils));
    for (int y = 0; y < 5; ++y)
        s.outputs[y] = coils[0] >= 0 && coils[0] <= 255 ? (coils[0] >> y) & 1 : ModuleSnapshot::Unread;
    co_await turn();
    if (const auto inputs = readInputs())
        s.inputs = *inputs;
    co_await turn();
    int32_t holding[8];
    m_link.Get_4X_UnD8(h.port, h.station, ModuleMap::CounterBlockStart, Modbus485::RegisterBlock(holding));
    for (int c = 0; c < 3; ++c) {
        s.counts[c] = holding[c];
        s.presets[c] = holding[c + 3];
    }
    s.clearModes[0] = holding[6];
    s.clearModes[1] = holding[7];
    co_await turn();
    s.clearModes[2] = m_link.Get_4X_UnD1(h.port, h.station, ModuleMap::ClearModeX3Register);
    co_await turn();
    int32_t frequencies[8];
    m_link.Get_3X_UnD8(h.port, h.station, ModuleMap::FrequencyBlockStart,
                       Modbus485::RegisterBlock(frequencies));
    for (int c = 0; c < 3; ++c)
        s.frequencies[c] = frequencies[c];
    co_await turn();
    s.parity = m_link.Get_4X_D1(h.port, h.station, ModuleMap::ParityRegister);
}

// Switches one output and reads it back, one exchange a turn.
WalkTask CheckoutWalk::switchOutput(int output, bool closed, bool &confirmed, QString &observed) {
    const auto &h = m_record.header;
    co_await turn();
    const int32_t written = closed ? m_link.Set_0X_Bit1(h.port, h.station, ModuleMap::outputCoil(output))
                                   : m_link.Rst_0X_Bit1(h.port, h.station, ModuleMap::outputCoil(output));
    co_await turn();
    const int coil = readCoil(output);
    confirmed = written == 0 && coil == (closed ? 1 : 0);
    observed = coil == ModuleMap::Failed ? text("回读无应答")
                                         : text("回读%1").arg(coil ? text("闭合") : text("断开"));
}

// Puts an output back to its as-found state, trying until the module confirms it or the engineer gives up.
WalkTask CheckoutWalk::putBackOutput(int output) {
    const QString name = text("Y%1").arg(output);
    const bool found = m_record.asFound->outputs[output - 1] == 1;
    for (int attempt = 1;; ++attempt) {
        bool confirmed = false;
        QString observed;
        co_await switchOutput(output, found, confirmed, observed);
        if (confirmed) {
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
        if (attempt % m_settings.retriesBeforeAsking == 0) {
            const bool wasRestoring = std::exchange(m_restoring, true);
            const Question question3 = makeQuestion(
                name, text("%1 状态未知：线路无应答，无法恢复到调试前状态。").arg(name), RetryOrGiveUp);
            const Reply reply = co_await ask(question3);
            m_restoring = wasRestoring;
            if (reply.choice == Choice::Skip) {
                m_givenUp << name;
                co_return;
            }
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

    if (m_settings.doNotSwitch.contains(name)) {
        result.result = Result::Skip;
        result.remark = text("不允许动作");
        finishPoint(result);
        co_return;
    }
    if (found == 1) {
        const Question question4 =
            makeQuestion(name, text("%1 调试前已接通。断开测试？现场负载将动作").arg(label), YesOrSkip);
        const Reply reply = co_await ask(question4);
        if (reply.choice != Choice::Yes) {
            result.result = Result::Skip;
            result.remark = reply.remark.isEmpty() ? text("调试前已接通，未动") : reply.remark;
            finishPoint(result);
            co_return;
        }
    } else {
        const Question question5 =
            makeQuestion(name, text("%1 %2？现场负载将动作").arg(act, label), YesOrSkip);
        const Reply reply = co_await ask(question5);
        if (reply.choice != Choice::Yes) {
            result.result = Result::Skip;
            result.remark = reply.remark;
            finishPoint(result);
            co_return;
        }
    }

    bool confirmed = false;
    QString observed;
    Reply field;
    for (;;) {
        ++result.tries;
        m_changedOutputs.insert(output);
        noteOutput(name, text("changed"));
        co_await switchOutput(output, closeIt, confirmed, observed);
        if (confirmed) {
            const Question question6 =
                makeQuestion(name, text("%1 已%2：现场负载动作了吗？").arg(label, act), YesNoSkip);
            field = co_await ask(question6);
            break;
        }
        co_await putBackOutput(output);
        const Question question7 =
            makeQuestion(name, text("%1 %2失败（%3）。").arg(label, act, observed), RetryOrFail);
        const Reply again = co_await ask(question7);
        if (again.choice != Choice::Retry) {
            field = again;
            break;
        }
    }
    QString back;
    if (confirmed) {
        co_await putBackOutput(output);
        back = m_changedOutputs.contains(output) ? text("；未能恢复") : text("；已恢复");
    }
    result.observed = observed + back;
    result.remark = field.remark;
    if (!confirmed) {
        result.result = Result::Fail;
        result.defect = field.defect != Defect::None     ? field.defect
                        : observed == text("回读无应答") ? Defect::Other
                                                         : Defect::Module;
    } else if (field.choice == Choice::Yes) {
        result.field = text("是");
        result.result = Result::Pass;
    } else if (field.choice == Choice::No) {
        result.field = text("否");
        result.result = Result::Fail;
        result.defect = field.defect != Defect::None ? field.defect : Defect::FieldDevice;
    } else {
        result.field = text("跳过");
        result.result = Result::Skip;
    }
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
    QSet<int> moving;
    std::optional<std::array<int, 10>> previous;
    for (int i = 0; i < m_settings.prewatchReads; ++i) {
        co_await turn(i == 0 ? 0 : m_settings.pollMs);
        const auto now = readInputs();
        if (now && previous)
            for (int k = 0; k < 10; ++k)
                if ((*now)[k] != (*previous)[k])
                    moving.insert(k);
        if (now)
            previous = now;
    }

    const Question prompt =
        makeQuestion(name, text("请动作 %1（动作后复原）").arg(pointLabel(name)), SkipOrFail, false, 0, true);
    offer(prompt);
    // A change counts after two equal reads in a row; stable holds the value last counted, from before the
    // prompt on.
    std::optional<std::array<int, 10>> stable = previous;
    std::optional<std::array<int, 10>> last = previous;
    int phase = 0; // 0: waiting for the change, 1: waiting for it to go back
    qint64 deadline = elapsed() + m_settings.inputTimeoutMs;
    QString movedOther;
    for (;;) {
        co_await turn(m_settings.pollMs);
        if (const auto reply = takeReply()) {
            result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
            result.defect = result.result == Result::Fail
                                ? (reply->defect != Defect::None ? reply->defect : Defect::Wiring)
                                : Defect::None;
            result.remark = reply->remark;
            result.observed = phase == 0 ? text("未见变化") : text("变化后未复原");
            break;
        }
        const auto now = readInputs();
        if (now && last && *now == *last) {
            if (!stable) {
                stable = now;
            } else if (*now != *stable) {
                for (int k = 0; k < 10; ++k)
                    if (k != input - 1 && !moving.contains(k) && (*now)[k] != (*stable)[k] &&
                        movedOther.isEmpty())
                        movedOther = text("X%1").arg(k + 1);
                if (!movedOther.isEmpty()) {
                    result.result = Result::Fail;
                    result.defect = Defect::Wiring;
                    result.observed = text("可能接线交叉：%1 动作").arg(movedOther);
                    break;
                }
                if ((*now)[input - 1] != (*stable)[input - 1]) {
                    ++phase;
                    emit status(phase == 1 ? text("%1 已变化，请复原").arg(name)
                                           : text("%1 已复原").arg(name));
                }
                stable = now;
                if (phase == 2) {
                    result.result = Result::Pass;
                    result.observed = text("%1 变化后复原").arg(name);
                    break;
                }
            }
        }
        if (now)
            last = now;
        if (elapsed() >= deadline) {
            std::optional<Reply> reply;
            co_await askPastDeadline(
                text("%1 超时未见%2。").arg(name, phase == 0 ? text("变化") : text("复原")), prompt,
                m_settings.inputTimeoutMs, deadline, result.tries, reply);
            if (!reply)
                continue;
            result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
            result.defect = result.result == Result::Fail ? Defect::Wiring : Defect::None;
            result.remark = reply->remark;
            result.observed = text("超时未见%1").arg(phase == 0 ? text("变化") : text("复原"));
            break;
        }
    }
    m_question.reset();
    finishPoint(result);
}

WalkTask CheckoutWalk::putBackPreset(int counter) {
    const auto &h = m_record.header;
    const int found = m_record.asFound->presets[counter - 1];
    for (int attempt = 1;; ++attempt) {
        co_await turn();
        const int32_t written =
            m_link.Set_4X_D1(h.port, h.station, ModuleMap::presetRegister(counter), found);
        co_await turn();
        if (written == 0 &&
            m_link.Get_4X_UnD1(h.port, h.station, ModuleMap::presetRegister(counter)) == found) {
            m_changedPresets.remove(counter);
            co_return;
        }
        emit status(text("C%1 预置值未恢复，重试中").arg(counter));
        if (attempt % m_settings.retriesBeforeAsking == 0) {
            const bool wasRestoring = std::exchange(m_restoring, true);
            const Question question9 = makeQuestion(
                text("C%1").arg(counter),
                text("C%1 预置值无法恢复为 %2：线路无应答。").arg(counter).arg(found), RetryOrGiveUp);
            const Reply reply = co_await ask(question9);
            m_restoring = wasRestoring;
            if (reply.choice == Choice::Skip)
                co_return;
        }
        co_await turn(m_settings.retryMs);
    }
}

WalkTask CheckoutWalk::testCounter(int counter) {
    const auto &h = m_record.header;
    const QString name = text("C%1").arg(counter);
    const QString input = text("X%1").arg(counter);
    PointResult result;
    result.point = {PointKind::Counter, counter};
    result.tries = 1;

    co_await turn();
    const int32_t found = m_link.Get_4X_UnD1(h.port, h.station, ModuleMap::countRegister(counter));
    const Question question10 = makeQuestion(
        name, text("%1 当前计数 %2（可能是装置累计值）。清零并测试？").arg(pointLabel(name)).arg(found),
        YesOrSkip);
    const Reply clear = co_await ask(question10);
    if (clear.choice != Choice::Yes) {
        result.result = Result::Skip;
        result.observed = text("计数 %1，未清零").arg(found);
        result.remark = clear.remark;
        finishPoint(result);
        co_return;
    }
    co_await turn();
    m_link.Set_4X_D1(h.port, h.station, ModuleMap::countRegister(counter), 0);

    const Question question11 =
        makeQuestion(name, text("请在 %1 输入脉冲，个数：").arg(pointLabel(input)), YesOrSkip, true, 10);
    const Reply go = co_await ask(question11);
    const int pulses = go.number > 0 ? go.number : 10;
    result.checked = text("清零（原计数 %1），%2 输入 %3 个脉冲；预置 %4 回读，恢复预置")
                         .arg(found)
                         .arg(input)
                         .arg(pulses)
                         .arg(m_settings.testPreset);
    result.expected = text("计数 %1；预置回读 %2").arg(pulses).arg(m_settings.testPreset);
    QString countSeen;
    bool countOk = false;
    if (go.choice == Choice::Yes) {
        const Question wait =
            makeQuestion(name, text("等待 %1 计数到 %2…").arg(name).arg(pulses), SkipOrFail, false, 0, true);
        offer(wait);
        qint64 deadline = elapsed() + m_settings.countTimeoutMs;
        qint64 steadySince = -1;
        int32_t count = ModuleMap::Failed;
        for (;;) {
            co_await turn(m_settings.pollMs);
            if (const auto reply = takeReply()) {
                result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
                result.defect = result.result == Result::Fail ? Defect::FieldDevice : Defect::None;
                result.remark = reply->remark;
                break;
            }
            const int32_t now = m_link.Get_4X_UnD1(h.port, h.station, ModuleMap::countRegister(counter));
            if (now != ModuleMap::Failed)
                count = now;
            if (count > pulses) {
                result.result = Result::Fail;
                result.defect = Defect::FieldDevice;
                countSeen = text("计数 %1，多于 %2：可能抖动").arg(count).arg(pulses);
                break;
            }
            if (count == pulses) {
                if (steadySince < 0)
                    steadySince = elapsed();
                if (elapsed() - steadySince >= m_settings.countSteadyMs) {
                    countOk = true;
                    break;
                }
            } else {
                steadySince = -1;
            }
            if (elapsed() >= deadline) {
                std::optional<Reply> reply;
                co_await askPastDeadline(text("%1 超时：计数 %2，应为 %3。").arg(name).arg(count).arg(pulses),
                                         wait, m_settings.countTimeoutMs, deadline, result.tries, reply);
                if (!reply)
                    continue;
                result.result = reply->choice == Choice::Skip ? Result::Skip : Result::Fail;
                result.defect = result.result == Result::Fail ? Defect::Wiring : Defect::None;
                result.remark = reply->remark;
                break;
            }
        }
        m_question.reset();
        if (countSeen.isEmpty())
            countSeen = text("计数 %1").arg(count);
    } else {
        result.result = Result::Skip;
        countSeen = text("已清零，未输入脉冲");
    }

    // The preset: write the test value, read it back, put the one found back.
    co_await turn();
    m_changedPresets.insert(counter);
    const int32_t written =
        m_link.Set_4X_D1(h.port, h.station, ModuleMap::presetRegister(counter), m_settings.testPreset);
    co_await turn();
    const int32_t readBack = m_link.Get_4X_UnD1(h.port, h.station, ModuleMap::presetRegister(counter));
    co_await putBackPreset(counter);
    const bool presetOk = written == 0 && readBack == m_settings.testPreset;
    result.observed = text("%1；预置回读 %2；预置%3恢复为 %4")
                          .arg(countSeen)
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

    Question question13 = makeQuestion(
        name,
        text("%1 测频（可选）：在 %2 接入已知频率的信号，填写其频率和允许偏差后按“是”；不测按“跳过”。")
            .arg(name, pointLabel(input)),
        YesOrSkip, true, 50);
    question13.wantsTolerance = true;
    question13.tolerance = 5;
    const Reply signal = co_await ask(question13);
    if (signal.choice == Choice::Yes && signal.number > 0)
        co_await checkFrequency(counter, signal, result);
    finishPoint(result);
}

// Against a known signal on the counter's input: the measured frequency, once two reads in a row agree,
// within the tolerance of the signal's. A reading of 0 is no signal, not a frequency to compare.
WalkTask CheckoutWalk::checkFrequency(int counter, const Reply &signal, PointResult &result) {
    const auto &h = m_record.header;
    const QString name = text("C%1").arg(counter);
    result.checked += text("；对照已知信号测频");
    result.expected += text("；测频 %1 Hz ±%2%").arg(signal.number).arg(signal.tolerance);
    if (!signal.remark.isEmpty())
        result.remark += (result.remark.isEmpty() ? QString() : text("；")) + signal.remark;
    const Question wait =
        makeQuestion(name, text("等待 X%1 测频稳定…").arg(counter), SkipOrFail, false, 0, true);
    offer(wait);
    qint64 deadline = elapsed() + m_settings.frequencyTimeoutMs;
    int32_t last = ModuleMap::Failed;
    QString seen;
    Defect defect = Defect::None;
    for (;;) {
        co_await turn(m_settings.pollMs);
        std::optional<Reply> reply = takeReply();
        if (!reply && elapsed() >= deadline) {
            co_await askPastDeadline(
                text("X%1 测频未稳定：读数 %2，应为 %3 Hz。").arg(counter).arg(last).arg(signal.number), wait,
                m_settings.frequencyTimeoutMs, deadline, result.tries, reply);
            if (!reply)
                continue;
        }
        if (reply) {
            // No steady reading: the signal does not reach the input, as with a counter that never counts.
            seen = reply->choice == Choice::Skip ? text("测频跳过") : text("测频未稳定");
            if (reply->choice != Choice::Skip)
                defect = reply->defect != Defect::None ? reply->defect : Defect::Wiring;
            break;
        }
        int32_t frequencies[8];
        m_link.Get_3X_UnD8(h.port, h.station, ModuleMap::FrequencyBlockStart,
                           Modbus485::RegisterBlock(frequencies));
        const int32_t now = frequencies[counter - 1];
        if (now > 0 && now == last) {
            const bool within = std::abs(now - signal.number) <= signal.number * signal.tolerance / 100;
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
WalkTask CheckoutWalk::askPastDeadline(const QString &said, const Question &waiting, qint64 timeoutMs,
                                       qint64 &deadline, int &tries, std::optional<Reply> &answer) {
    const Question question = makeQuestion(waiting.point, said, ExtendSkipOrFail);
    const Reply reply = co_await ask(question);
    if (reply.choice != Choice::Extend) {
        answer = reply;
        co_return;
    }
    ++tries;
    deadline = elapsed() + timeoutMs;
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
    m_record.counters = countersSoFar();
    if (m_portOpen) {
        m_link.ClosePort_Modbus(m_record.header.port);
        m_portOpen = false;
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
