// Walks by a scripted engineer: the walk model, the real MODBUS485 and qm4107-sim on a pseudo-terminal.
#include "CheckoutWalk.h"
#include "CabinetLine.h"
#include "CabinetRules.h"
#include "CabinetWalk.h"
#include "CsvReport.h"
#include "Journal.h"
#include "Modbus485Library.h"
#include "Report.h"
#include "SimProcess.h"
#include "ThreadedLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Fails every line from the given one on, as a full disk does.
class FillingSink : public JournalSink {
public:
    FillingSink(JournalSink &target, int failFromLine)
        : m_target(target)
        , m_failFrom(failFromLine) {}
    bool append(const QByteArray &bytes, QString &error) override {
        if (++m_lines >= m_failFrom && m_failFrom > 0) {
            error = QStringLiteral("No space left on device");
            return false;
        }
        return m_target.append(bytes, error);
    }

private:
    JournalSink &m_target;
    int m_failFrom;
    int m_lines = 0;
};

struct Walk {
    const char *name;
    const char *crossWiredWith = nullptr; // when X3 is asked, this input moves instead
    const char *silentAt = nullptr; // the line goes silent once this output is switched, until "状态未知"
    const char *cancelAfter = nullptr; // "取消" once this point is done
    int journalFullAtLine = 0;
    std::map<QString, Result> results = {}; // points not named are 未测
    const char *observedX3 = "";
    const char *journalHolds = "";
    const char *coilsLeft = "";
    const char *signalHz = nullptr; // known signals on C1-C3 for the frequency check, "50 40 0"; 0 for none
    bool portHeld = false;          // another opener holds the port until the engineer is told
    // Nothing moves on this input or counter: its wait times out, is extended once, and is skipped while
    // it goes on; or is skipped at the time-out.
    const char *stalled = nullptr;
    bool skipAtTimeout = false;
    // Simulator commands (";" between them) sent once when a question or status says the first text, or
    // at a stage ("stage 1" is the as-found).
    std::vector<std::pair<const char *, const char *>> events = {};
    const char *linePromptHas = nullptr; // what the connection check said when its reads failed
    // A cabinet on one line instead of one module: the simulator's --stations, the list's stations (the
    // first with a 模块位号), and what the cabinet's CSV and first page must say. Every module walked is
    // walked as the row says, and `results` holds for each.
    const char *busStations = nullptr;
    std::vector<int> listed = {};
    std::vector<const char *> cabinetCsvHas = {};
    std::vector<const char *> cabinetPdfHas = {};
    bool giveUpOnLine = false; // the engineer gives up on a module the connection check cannot reach
};

void PrintTo(const Walk &w, std::ostream *out) {
    *out << w.name;
}

class WalkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(sim.devicePath().isEmpty());
        ASSERT_TRUE(dir.isValid());
        qunsetenv("MODBUS485_TRACE");
        qputenv("MODBUS485_PORT21", sim.devicePath().toLocal8Bit());
    }

    // Runs a walk to its end with an engineer who does what each question asks, and whatever the walk
    // gives them to spoil; with a journal, goes on from where it ends.
    void walk(const Walk &w, const JournalContents *resumed = nullptr) {
        QString error;
        journalPath = dir.filePath(QStringLiteral("W.jsonl"));
        file = std::make_unique<FileJournalSink>();
        ASSERT_TRUE(file->open(journalPath, error)) << qPrintable(error);
        FillingSink sink(*file, w.journalFullAtLine);
        JournalWriter journal(sink);
        WalkSettings settings;
        settings.header.project = QStringLiteral("一号站");
        settings.header.moduleTag = QStringLiteral("KA-101");
        settings.header.engineer = QStringLiteral("张工");
        settings.header.port = 21;
        settings.header.io[QStringLiteral("X3")] = {QStringLiteral("LS-301"), QStringLiteral("T1:5"),
                                                    QStringLiteral("限位, \"上\"")};
        settings.tracePath = dir.filePath(QStringLiteral("W.trace"));
        tune(w, settings);
        CheckoutWalk model(link, journal, settings);
        // Held as another program holds it, until the engineer is told.
        held = w.portHeld ? ::open(qPrintable(sim.devicePath()), O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
        if (held >= 0)
            ::flock(held, LOCK_EX);
        engineer(model, w);
        if (resumed)
            model.startResume(resumed->record);
        else
            model.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.isFinished(); }, 120000));
        model.closeRecord(QStringLiteral("备注, 含逗号"));
        record = model.record();
    }

    // The same walk for every module of a cabinet on one line: the list's stations surveyed at the line's
    // setting, then at every setting for those missing; the module at another parity written, powered
    // again and read; then the cabinet walked module by module, and its CSV and PDF written.
    void walkCabinet(const Walk &w) {
        bus = std::make_unique<SimProcess>(QStringList{QStringLiteral("--stations"), w.busStations});
        ASSERT_FALSE(bus->devicePath().isEmpty());
        line = bus.get();
        qputenv("MODBUS485_PORT22", bus->devicePath().toLocal8Bit());
        QByteArray csv = "站号,点,位号,端子,说明,模块位号\r\n";
        for (const int station : w.listed)
            csv += QStringLiteral("%1,X3,LS-%1,T1:5,限位,%2\r\n")
                       .arg(station)
                       .arg(station == w.listed.front() ? QStringLiteral("KA-10%1").arg(station) : QString())
                       .toUtf8();
        const CabinetIoList list = CabinetIoList::parse(csv);
        ASSERT_TRUE(list.error.isEmpty()) << qPrintable(list.error);
        CabinetHeader h;
        h.project = QStringLiteral("一号站");
        h.engineer = QStringLiteral("张工");
        h.port = 22;
        h.start = QStringLiteral("2026-12-08T10:00:00+08:00");
        h.list = list.modules;
        const QString cabinetPath = dir.filePath(QStringLiteral("CABINET_20261208-100000.jsonl"));
        FileJournalSink cabinetFile;
        QString error;
        ASSERT_TRUE(cabinetFile.open(cabinetPath, error)) << qPrintable(error);
        CabinetJournalWriter cabinet(cabinetFile);
        ASSERT_TRUE(cabinet.writeCabinet(h));

        std::vector<CabinetFind> finds;
        auto survey = [&](int first, int last, const std::vector<LineSurvey::LineSetting> &settings) {
            CabinetSurvey on(link, h.port, first, last, settings);
            bool ended = false;
            QObject::connect(&on, &CabinetSurvey::finished, [&] { ended = true; });
            on.start();
            ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, 120000));
            std::vector<CabinetFind> found;
            for (const LineSurvey::Module &m : on.modules())
                found.push_back(cabinetFind(m));
            finds = CabinetRules::mergeFinds(finds, found);
        };
        survey(w.listed.front(), w.listed.back(), {LineSurvey::DefaultSetting});
        CabinetRules::Judgement judged = CabinetRules::judge(list.modules, finds, 1, 0, false);
        ASSERT_TRUE(judged.offerAllSettings);
        std::vector<int> missing;
        for (const CabinetRules::Station &s : judged.stations)
            if (s.found == CabinetRules::Found::Missing)
                missing.push_back(s.station);
        survey(missing.front(), missing.back(), LineSurvey::allSettings());
        ASSERT_TRUE(cabinet.writeSurvey(finds, true));
        judged = CabinetRules::judge(list.modules, finds, 1, 0, true);

        for (const CabinetRules::Station &s : judged.stations) {
            if (s.found != CabinetRules::Found::OtherParity)
                continue;
            const QString tag = CabinetRules::moduleTag(s.station, s.listTag, QStringLiteral("KA-105"));
            const QDateTime now = QDateTime::currentDateTime();
            const QString name = cabinetModuleName(dir.path(), h.project, tag, now);
            FileJournalSink moduleFile;
            ASSERT_TRUE(moduleFile.open(dir.filePath(name + QStringLiteral(".jsonl")), error));
            JournalWriter moduleJournal(moduleFile);
            ParityWrite::Settings settings;
            settings.header = cabinetModuleHeader(h, s.station, tag, now);
            settings.presentParity = s.presentParity;
            settings.journalName = name + QStringLiteral(".jsonl");
            settings.answerWaitMs = 300;
            ParityWrite write(link, moduleJournal, cabinet, settings);
            QString said;
            bool done = false;
            QObject::connect(&write, &ParityWrite::said, [&](const QString &text) { said = text; });
            QObject::connect(&write, &ParityWrite::finished, [&](bool answered) {
                if (answered || said != ParityWrite::notAnsweredText())
                    return void(done = true);
                line->command(QStringLiteral("@%1 power-cycle").arg(s.station));
                write.retry();
            });
            write.start();
            ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
            ASSERT_TRUE(write.answered()) << qPrintable(said);
        }

        CabinetWalkSettings settings;
        settings.folder = dir.path();
        settings.journalPath = cabinetPath;
        const std::vector<ParityChange> changes = readCabinetJournal(cabinetPath).record.parityChanges;
        for (const CabinetRules::Station &s : judged.stations) {
            settings.tags[s.station] = CabinetRules::moduleTag(s.station, s.listTag,
                                                               s.station == 5    ? "KA-105"
                                                               : s.station == 12 ? "KA-112"
                                                                                 : "");
            settings.notWalked[s.station] = CabinetRules::notWalkedReason(s, changes);
        }
        settings.tuneWalk = [&w](WalkSettings &ws) { tune(w, ws); };
        // A cancelled module stops the cabinet, as a kill would; a new cabinet walk goes on where it stopped.
        std::unique_ptr<CabinetWalk> walking;
        for (int round = 0; !walking || !walking->isFinished(); ++round) {
            ASSERT_LT(round, 3);
            walking = std::make_unique<CabinetWalk>(
                cabinet, settings, [this, &w](JournalWriter &journal, const WalkSettings &ws) {
                    auto model = std::make_unique<CheckoutWalk>(link, journal, ws);
                    engineer(*model, w);
                    return model;
                });
            CabinetWalk &walk = *walking;
            bool stopped = false;
            QObject::connect(&walk, &CabinetWalk::moduleFinished, [&] {
                if (walk.walk()->wasCancelled())
                    return void(stopped = true);
                record = walk.walk()->record();
                journalPath = dir.filePath(walk.moduleName() + QStringLiteral(".jsonl"));
                walk.closeModule(QStringLiteral("备注, 含逗号"));
            });
            QObject::connect(&walk, &CabinetWalk::problem, [this](const QString &text) { problem = text; });
            walk.start();
            ASSERT_TRUE(QTest::qWaitFor([&] { return walk.isFinished() || stopped; }, 300000));
        }
        CabinetWalk &walk = *walking;
        ASSERT_TRUE(walk.closeCabinet({}, error)) << qPrintable(error);
        QFile csvFile(dir.filePath(walk.cabinetName() + QStringLiteral(".csv")));
        ASSERT_TRUE(csvFile.open(QIODevice::ReadOnly));
        cabinetCsv = QString::fromUtf8(csvFile.readAll());
        QProcess text;
        text.start(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), dir.filePath(walk.cabinetName() + QStringLiteral(".pdf")),
                    QStringLiteral("-")});
        ASSERT_TRUE(text.waitForFinished(60000));
        cabinetPdf = QString::fromUtf8(text.readAllStandardOutput());
    }

    static void tune(const Walk &w, WalkSettings &settings) {
        settings.pollMs = 20;
        settings.prewatchReads = 3;
        settings.countSteadyMs = 300;
        settings.retryMs = 50;
        settings.retriesBeforeAsking = 1000;
        if (w.stalled)
            settings.countTimeoutMs = settings.inputTimeoutMs = 200;
    }

    // The scripted engineer at a walk: does what each question asks, and whatever the row gives them to
    // spoil, on the simulator `line`.
    void engineer(CheckoutWalk &model, const Walk &w) {
        extended = 0;
        fired.clear();
        auto fire = [this, &w](const QString &said) {
            for (const auto &[when, commands] : w.events)
                if (said.contains(QString::fromUtf8(when)) && !fired.contains(QString::fromUtf8(when))) {
                    fired.insert(QString::fromUtf8(when));
                    for (const QString &command : QString::fromUtf8(commands).split(u';'))
                        line->command(command);
                }
        };
        QObject::connect(&model, &CheckoutWalk::stageChanged,
                         [fire](Stage stage) { fire(QStringLiteral("stage %1").arg(int(stage))); });
        QObject::connect(&model, &CheckoutWalk::asked, [this, &model, &w, fire](const Question &q) {
            fire(q.text);
            if (q.point.isEmpty() && q.choices.contains(Choice::Retry)) {
                linePrompt = q.text;
                ::close(std::exchange(held, -1));
                return model.answer({w.giveUpOnLine ? Choice::BackToLine : Choice::Retry, {}});
            }
            if (q.wantsTolerance) {
                const int hz =
                    QString::fromLatin1(w.signalHz).split(u' ').value(q.point.mid(1).toInt() - 1).toInt();
                line->command(QStringLiteral("frequency %1 %2").arg(q.point.mid(1)).arg(hz));
                return model.answer({hz ? Choice::Yes : Choice::Skip, {}, 50, Defect::None, 5});
            }
            const bool stalled = q.point == QLatin1String(w.stalled);
            if (stalled && q.choices.contains(Choice::Extend))
                return model.answer({w.skipAtTimeout ? Choice::Skip
                                     : extended++    ? Choice::Fail
                                                     : Choice::Extend,
                                     {}});
            if (stalled && q.whileWaiting && extended)
                return model.answer({Choice::Skip, {}});
            if (q.point.startsWith(u'X') && !q.whileWaiting)
                return model.answer({Choice::Skip, {}});
            if (stalled && q.whileWaiting)
                return;
            if (q.point.startsWith(u'X')) {
                const QString moved =
                    q.point == u"X3" && w.crossWiredWith ? QLatin1String(w.crossWiredWith) : q.point;
                return line->command(QStringLiteral("input %1 1").arg(moved.mid(1)));
            }
            if (q.point.startsWith(u'C') && q.wantsNumber) {
                if (!stalled)
                    line->command(QStringLiteral("burst %1 10").arg(q.point.mid(1)));
                return model.answer({Choice::Yes, {}, 10});
            }
            // A count slow to come is waited for.
            if (q.point.startsWith(u'C') && q.choices.contains(Choice::Extend))
                return model.answer({Choice::Extend, {}});
            if (q.whileWaiting)
                return;
            if (q.point == QLatin1String(w.silentAt) && q.text.contains(u'？') && !q.text.contains(u'吗'))
                line->command(QStringLiteral("silent"));
            model.answer({q.choices.contains(Choice::Yes) ? Choice::Yes : Choice::Skip, {}});
        });
        QObject::connect(&model, &CheckoutWalk::status, [this, &model, fire](const QString &text) {
            fire(text);
            // The line down while a field change is awaited: the engineer fails the point, and it comes back.
            if (text.startsWith(QStringLiteral("通讯中断：")) && model.question()) {
                line->command(QStringLiteral("normal"));
                line->command(QStringLiteral("input %1 0").arg(model.question()->point.mid(1)));
                model.answer({Choice::Fail, {}});
            }
            if (text.endsWith(QStringLiteral("已变化，请复原")))
                line->command(QStringLiteral("input %1 0").arg(text.section(u' ', 0, 0).mid(1)));
            if (text.endsWith(QStringLiteral("状态未知")))
                line->command(QStringLiteral("normal"));
        });
        QObject::connect(&model, &CheckoutWalk::pointDone, [this, &model, &w](const PointResult &r) {
            if (r.point.name() == QLatin1String(w.cancelAfter))
                model.cancel();
            if (w.crossWiredWith && r.point.name() == u"X3")
                line->command(QStringLiteral("input %1 0").arg(QLatin1String(w.crossWiredWith).mid(1)));
        });
        QObject::connect(&model, &CheckoutWalk::problem, [this](const QString &text) { problem = text; });
    }

    SimProcess sim;
    SimProcess *line = &sim; // where the engineer acts: the module, or a cabinet's line
    QTemporaryDir dir;
    Modbus485Library library;
    // The walk's exchanges on a thread of their own, as in the wizard.
    ThreadedLink link{library};
    std::unique_ptr<FileJournalSink> file;
    CheckRecord record;
    QString problem;
    QString linePrompt;  // what the connection page said when the port did not open
    QString journalPath; // the last walk's journal
    std::unique_ptr<SimProcess> bus;
    QString cabinetCsv;
    QString cabinetPdf; // its text
    int held = -1;
    int extended = 0;
    QSet<QString> fired;
};

class CheckoutWalkTest : public WalkFixture, public ::testing::WithParamInterface<Walk> {};
using CheckoutRecordTest = WalkFixture;

TEST_P(CheckoutWalkTest, Walk) {
    const Walk &w = GetParam();
    if (w.busStations)
        walkCabinet(w);
    else
        walk(w);
    if (HasFatalFailure())
        return;
    for (const PointResult &r : record.table())
        EXPECT_EQ(r.result, w.results.count(r.point.name()) ? w.results.at(r.point.name()) : Result::Untested)
            << qPrintable(r.point.name() + u' ' + r.observed);
    EXPECT_TRUE(record.table()[7].observed.contains(QString::fromUtf8(w.observedX3)))
        << qPrintable(record.table()[7].observed);
    QFile journal(journalPath);
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    EXPECT_TRUE(journal.readAll().contains(w.journalHolds));
    EXPECT_TRUE(line->stateValue(QStringLiteral("coils")).startsWith(QLatin1String(w.coilsLeft)));
    for (const char *said : w.cabinetCsvHas)
        EXPECT_TRUE(cabinetCsv.contains(QString::fromUtf8(said))) << said << '\n' << qPrintable(cabinetCsv);
    for (const char *said : w.cabinetPdfHas)
        EXPECT_TRUE(cabinetPdf.contains(QString::fromUtf8(said))) << said << '\n' << qPrintable(cabinetPdf);
    EXPECT_EQ(problem.isEmpty(), w.journalFullAtLine == 0 && !w.cancelAfter) << qPrintable(problem);
    EXPECT_EQ(linePrompt.contains(u"设备被占用（") && linePrompt.contains(u"按“关闭”"), w.portHeld)
        << qPrintable(linePrompt);
    if (w.linePromptHas) {
        EXPECT_TRUE(linePrompt.contains(QString::fromUtf8(w.linePromptHas))) << qPrintable(linePrompt);
    }
}

std::map<QString, Result> allPass(const char *failed = "", const char *last = "C3", const char *skipped = "");

// Every output skipped, every other point passed.
std::map<QString, Result> outputsSkipped() {
    std::map<QString, Result> all = allPass();
    for (int y = 1; y <= 5; ++y)
        all[QStringLiteral("Y%1").arg(y)] = Result::Skip;
    return all;
}

// Every point passed up to `last` (all of them by default), `failed` failed and `skipped` skipped.
std::map<QString, Result> allPass(const char *failed, const char *last, const char *skipped) {
    std::map<QString, Result> all;
    for (const PointId &p : walkOrder()) {
        all[p.name()] = p.name() == QLatin1String(failed)    ? Result::Fail
                        : p.name() == QLatin1String(skipped) ? Result::Skip
                                                             : Result::Pass;
        if (p.name() == QLatin1String(last))
            break;
    }
    return all;
}

// A cabinet of stations 1, 5 and 12 listed on a line of 1, 5 (at even parity) and 9, every module walked
// passing.
Walk onCabinet(Walk w) {
    w.results = allPass();
    w.observedX3 = "X3 变化后复原";
    w.journalHolds = "\"type\":\"close\"";
    w.coilsLeft = "00000";
    w.busStations = "1,5:9600:even,9";
    w.listed = {1, 5, 12};
    return w;
}

INSTANTIATE_TEST_SUITE_P(
    Walks, CheckoutWalkTest,
    ::testing::Values(
        Walk{"WholeModule", nullptr, nullptr, nullptr, 0, allPass(), "X3 变化后复原", "\"type\":\"close\"",
             "00000", "50 52 48"},
        Walk{"X4MovesWhenX3IsAsked",
             "X4",
             nullptr,
             "X3",
             0,
             {{"Y1", Result::Pass},
              {"Y2", Result::Pass},
              {"Y3", Result::Pass},
              {"Y4", Result::Pass},
              {"Y5", Result::Pass},
              {"X1", Result::Pass},
              {"X2", Result::Pass},
              {"X3", Result::Fail}},
             "可能接线交叉：X4",
             "\"defect\":\"wiring\"",
             "00000"},
        Walk{"LineSilentAtY3",
             nullptr,
             "Y3",
             "Y3",
             0,
             {{"Y1", Result::Pass}, {"Y2", Result::Pass}, {"Y3", Result::Fail}},
             "",
             "\"point\":\"Y3\",\"state\":\"unknown\"",
             "00000"},
        Walk{"DiskFullAtY1", nullptr, nullptr, nullptr, 4, {}, "", "\"type\":\"as-found\"", "00000"},
        Walk{"FrequencyOffAtC2", nullptr, nullptr, nullptr, 0, allPass("C2"), "X3 变化后复原",
             "测频 40 Hz：频率超差", "00000", "50 40 0"},
        Walk{"PortHeldByThePanel", nullptr, nullptr, "Y1", 0, allPass("", "Y1"), "", "\"type\":\"close\"",
             "00000", nullptr, true},
        Walk{"CountStalledAtC1", nullptr, nullptr, nullptr, 0, allPass("", "C3", "C1"), "X3 变化后复原",
             "\"result\":\"skip\"", "00000", nullptr, false, "C1"},
        Walk{"InputStalledExtended", nullptr, nullptr, nullptr, 0, allPass("", "C3", "X2"), "X3 变化后复原",
             "\"result\":\"skip\"", "00000", nullptr, false, "X2"},
        Walk{"InputStalledSkipped", nullptr, nullptr, nullptr, 0, allPass("", "C3", "X2"), "X3 变化后复原",
             "超时未见变化", "00000", nullptr, false, "X2", true},
        Walk{.name = "AsFoundReadFailsOnce",
             .results = allPass(),
             .observedX3 = "X3 变化后复原",
             .journalHolds = "\"type\":\"close\"",
             .coilsLeft = "00000",
             .events = {{"stage 1", "silent 1"}}},
        // Y2 on, and the coils never answer for the as-found: no output is tested or written.
        Walk{.name = "AsFoundOutputsUnread",
             .results = outputsSkipped(),
             .observedX3 = "X3 变化后复原",
             .journalHolds = "调试前状态未能读取",
             .coilsLeft = "01000",
             .events = {{"stage 1", "coil 2 1;silent 3"}}},
        // A clear lost on the line is written again; the 5000 found is not taken for a bounce.
        Walk{.name = "ClearLostOnce",
             .results = allPass(),
             .observedX3 = "X3 变化后复原",
             .journalHolds = "{\"count\":5000,",
             .coilsLeft = "00000",
             .events = {{"stage 4", "register 1 5000"}, {"C1 当前计数 5000", "silent 1"}}},
        // Pulses that never stop: the count never reads 0 after the clear.
        Walk{.name = "ClearNeverTakes",
             .results = allPass("C1"),
             .observedX3 = "X3 变化后复原",
             .journalHolds = "清零未成功",
             .coilsLeft = "00000",
             .events = {{"C1 当前计数", "pulses 1 5000"}, {"C2 当前计数", "pulses 1 0"}}},
        Walk{.name = "LineDownWhileX3Awaited",
             .results = allPass("X3"),
             .observedX3 = "通讯中断：",
             .journalHolds = "\"defect\":\"comms\"",
             .coilsLeft = "00000",
             .events = {{"请动作 X3", "silent"}}},
        Walk{.name = "SilentAtTheConnectionCheck",
             .results = allPass(),
             .observedX3 = "X3 变化后复原",
             .journalHolds = "\"type\":\"close\"",
             .coilsLeft = "00000",
             .events = {{"stage 0", "silent 1"}},
             .linePromptHas = "1 次读取只成功 0 次"},
        // Station 5 at even parity is written to the line's, 12 is not there, 9 is not in the list.
        onCabinet({.name = "CabinetOfThree",
                   .cabinetCsvHas = {"1,KA-101,8,X3,LS-1,T1:5,", "5,KA-105,8,X3,LS-5,T1:5,",
                                     "9,站号 9,1,Y1,,,,,,,未测,,I/O 表中没有此站,",
                                     "12,KA-112,8,X3,LS-12,T1:5,,,,,未测,,未找到,"},
                   .cabinetPdfHas = {"在其他设置：9600 偶校验", "表外模块：9600 无校验", "偶校验 无校验",
                                     "已按线路设置应答",
                                     "I/O 表 3 个模块，未找到 1 个，表外 1 个。通过 36，"}}),
        // Station 1 stops answering once surveyed: noted untested with the reason, and the walk goes on.
        onCabinet({.name = "CabinetModuleUnreachable",
                   .events = {{"stage 0", "@1 silent"}},
                   .linePromptHas = "次读取只成功 0 次",
                   .cabinetCsvHas = {"1,KA-101,8,X3,LS-1,T1:5,,,,,未测,,无法连接：",
                                     "5,KA-105,8,X3,LS-5,T1:5,"},
                   .cabinetPdfHas = {"无法连接："},
                   .giveUpOnLine = true}),
        // Each module cancelled after X3 and the cabinet walk started again: it goes on in its own journal.
        onCabinet({.name = "CabinetStoppedAndGoneOn",
                   .cancelAfter = "X3",
                   .cabinetCsvHas = {"1,KA-101,8,X3,LS-1,T1:5,", "1,KA-101,9,X4,,,"},
                   .cabinetPdfHas = {"I/O 表 3 个模块，未找到 1 个，表外 1 个。通过 36，"}})),
    [](const auto &info) { return std::string(info.param.name); });

// A walk killed with a test value in the module, its journal's last line cut: the next start puts it back
// and says so in the same journal, trying at most ten times; a value never read is never written.
struct Killed {
    const char *name;
    const char *left;      // "Y2" switched, or "C1" holding the test preset
    bool foundUnread;      // the as-found state of the point was not read
    const char *simBefore; // the module when the put-back starts
    bool allBack;
    const char *stateKey, *stateLeft; // the simulator's state after it
    bool silentOnceConnected = false;
    int writes = 0; // coil writes when not all went back
};

void PrintTo(const Killed &k, std::ostream *out) {
    *out << k.name;
}

class KilledWalkTest : public WalkFixture, public ::testing::WithParamInterface<Killed> {};

TEST_P(KilledWalkTest, PutBackAtTheNextStart) {
    const Killed &k = GetParam();
    const QString path = dir.filePath(QStringLiteral("K.jsonl"));
    const QString left = QString::fromUtf8(k.left);
    QString error;
    {
        FileJournalSink file;
        ASSERT_TRUE(file.open(path, error)) << qPrintable(error);
        JournalWriter killed(file);
        RecordHeader header;
        header.port = 21;
        ModuleSnapshot found;
        if (!k.foundUnread) {
            found.outputs = {0, 0, 0, 0, 0};
            found.presets = {77, 0, 0};
        }
        ASSERT_TRUE(killed.writeHeader(header) && killed.writeAsFound(found));
        ASSERT_TRUE(left.startsWith(u'Y') ? killed.writeOutput(left, QStringLiteral("changed"))
                                          : killed.writePreset(left, QStringLiteral("changed"), 12345));
        ASSERT_TRUE(file.append("{\"format\":1,\"type\":\"po", error));
    }
    for (const QString &command : QString::fromUtf8(k.simBefore).split(u';'))
        sim.command(command);
    const JournalContents before = readJournal(path);
    ASSERT_EQ(before.record.leftChanged(), QStringList{left});

    FileJournalSink again;
    ASSERT_TRUE(again.open(path, error));
    JournalWriter journal(again);
    WalkSettings settings;
    settings.header = before.record.header;
    settings.retryMs = 20;
    CheckoutWalk model(link, journal, settings);
    bool allBack = false;
    QObject::connect(&model, &CheckoutWalk::finished, [&](bool back) { allBack = back; });
    QObject::connect(&model, &CheckoutWalk::status, [&](const QString &text) {
        if (k.silentOnceConnected && text == QStringLiteral("检查通讯：第 10 次读取"))
            sim.command(QStringLiteral("silent"));
    });
    model.startPutBack(before.record);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isFinished(); }, 60000));
    EXPECT_EQ(allBack, k.allBack);
    EXPECT_TRUE(sim.stateValue(QString::fromUtf8(k.stateKey)).startsWith(QString::fromUtf8(k.stateLeft)))
        << qPrintable(sim.stateValue(QString::fromUtf8(k.stateKey)));
    const JournalContents after = readJournal(path);
    EXPECT_EQ(after.record.leftChanged().isEmpty(), k.allBack);
    EXPECT_EQ(after.skippedLines, 1);
    if (!k.allBack) {
        EXPECT_EQ(model.notBack().size(), 1) << qPrintable(model.notBack().join(u' '));
        sim.command(QStringLiteral("normal"));
        EXPECT_EQ(sim.takeSettledLog().filter(QStringLiteral("write-coil")).size(), k.writes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kills, KilledWalkTest,
    ::testing::Values(Killed{"OutputY2", "Y2", false, "coil 2 1", true, "coils", "00000"},
                      Killed{"PresetC1", "C1", false, "register 4 12345", true, "holding-registers",
                             "0,0,0,77,"},
                      Killed{"FoundNeverRead", "Y2", true, "coil 2 1", false, "coils", "01000"},
                      Killed{"ModuleSilent", "Y2", false, "coil 2 1", false, "coils", "01000", true, 10}),
    [](const auto &info) { return std::string(info.param.name); });

// A walk killed after X3 failed, before its closing line, its journal's last line cut, resumed: the points
// done are kept, the rest walked, the record is whole, and its counters are those of both opens.
TEST_F(CheckoutRecordTest, CutJournalResumed) {
    walk(Walk{"", "X4", nullptr, "X3", 0, {}, "", "", ""});
    QFile killed(dir.filePath(QStringLiteral("W.jsonl")));
    ASSERT_TRUE(killed.open(QIODevice::ReadOnly));
    const QByteArray lines = killed.readAll();
    killed.close();
    ASSERT_TRUE(killed.open(QIODevice::WriteOnly | QIODevice::Truncate));
    killed.write(lines.left(lines.lastIndexOf('\n', lines.indexOf("\"type\":\"close\"")) + 1));
    killed.close();
    QString error;
    // Killed with Y2 on and C1's count journaled before its clear, which then counted 6.
    ASSERT_TRUE(file->append(R"({"format":1,"type":"output","point":"Y2","state":"changed"})"
                             "\n"
                             R"({"format":1,"type":"count-found","point":"C1","count":5000})"
                             "\n"
                             R"({"format":1,"type":"point","point":"X4","res)",
                             error));
    sim.command(QStringLiteral("coil 2 1"));
    sim.command(QStringLiteral("register 1 6"));
    const JournalContents cut = readJournal(dir.filePath(QStringLiteral("W.jsonl")));
    ASSERT_EQ(cut.skippedLines, 1);
    ASSERT_EQ(cut.record.points.size(), 8u);

    walk(Walk{"", nullptr, nullptr, nullptr, 0, {}, "", "", ""}, &cut);
    const JournalContents whole = readJournal(dir.filePath(QStringLiteral("W.jsonl")));
    EXPECT_EQ(whole.skippedLines, 1);
    ASSERT_TRUE(whole.record.closing);
    EXPECT_EQ(whole.record.header, cut.record.header);
    const qsizetype served = sim.takeSettledLog().size();
    EXPECT_EQ(whole.record.counters[MODBUS485_COUNTER_REQUESTS], served);
    EXPECT_EQ(whole.record.counters[MODBUS485_COUNTER_GOOD], served);
    for (const PointResult &r : whole.record.table())
        EXPECT_EQ(r.result, r.point.name() == u"X3" ? Result::Fail : Result::Pass)
            << qPrintable(r.point.name());
    // Y2 went back before the resumed walk tested anything.
    QFile journal(dir.filePath(QStringLiteral("W.jsonl")));
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    const QByteArray all = journal.readAll();
    const qsizetype cutAt = all.indexOf(R"("point":"X4","res)");
    const qsizetype restored = all.indexOf(R"("point":"Y2","state":"restored")", cutAt);
    EXPECT_GT(restored, cutAt);
    EXPECT_LT(restored, all.indexOf(R"("point":"X4")", cutAt + 1));
    EXPECT_TRUE(whole.record.table()[15].checked.contains(QStringLiteral("原计数 5000")))
        << qPrintable(whole.record.table()[15].checked);
}

// The record written as the wizard writes it, then rebuilt from the journal by "report".
TEST_F(CheckoutRecordTest, ReportRebuildsTheWalksRecord) {
    walk(Walk{"", nullptr, nullptr, nullptr, 0, {}, "", "", ""});
    ASSERT_FALSE(record.closing->traceSha256.isEmpty());
    QString error;
    const QDir dir(this->dir.path());
    ASSERT_TRUE(writeRecordFiles(record, dir.path(), QStringLiteral("W"), error)) << qPrintable(error);

    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/qm4107-checkout");
    const QStringList args = {QStringLiteral("report"), dir.filePath(QStringLiteral("W.jsonl")),
                              QStringLiteral("--csv"),  dir.filePath(QStringLiteral("R.csv")),
                              QStringLiteral("--pdf"),  dir.filePath(QStringLiteral("R.pdf"))};
    QProcess report;
    report.start(program, args);
    ASSERT_TRUE(report.waitForFinished(60000));
    EXPECT_EQ(report.exitCode(), 0) << report.readAllStandardError().toStdString();
    QFile walked(dir.filePath(QStringLiteral("W.csv"))), rebuilt(dir.filePath(QStringLiteral("R.csv")));
    ASSERT_TRUE(walked.open(QIODevice::ReadOnly) && rebuilt.open(QIODevice::ReadOnly));
    EXPECT_EQ(walked.readAll(), rebuilt.readAll());

    QProcess text;
    text.start(QStringLiteral("pdftotext"), {dir.filePath(QStringLiteral("R.pdf")), QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(60000));
    const QString pdfText = QString::fromUtf8(text.readAllStandardOutput());
    for (const char *caption :
         {"QM4107 模块调试记录", "调试人", "见证人", "日期", "第 1 页 共", "KA-101", "LS-301"})
        EXPECT_TRUE(pdfText.contains(QString::fromUtf8(caption))) << caption;
    QProcess fonts;
    fonts.start(QStringLiteral("pdffonts"), {dir.filePath(QStringLiteral("R.pdf"))});
    ASSERT_TRUE(fonts.waitForFinished(60000));
    const QStringList fontLines = QString::fromUtf8(fonts.readAllStandardOutput()).split(u'\n').mid(2);
    ASSERT_FALSE(fontLines.join(QString()).trimmed().isEmpty());
    // Every font embedded: the "emb" column, fifth from the end.
    for (const QString &line : fontLines) {
        const QStringList cells = line.split(u' ', Qt::SkipEmptyParts);
        if (!cells.isEmpty()) {
            EXPECT_EQ(cells.value(cells.size() - 5), QStringLiteral("yes")) << qPrintable(line);
        }
    }

    // Run again, it finds its files there and leaves them alone.
    report.start(program, args);
    ASSERT_TRUE(report.waitForFinished(60000));
    EXPECT_EQ(report.exitCode(), 1);
    EXPECT_TRUE(report.readAllStandardError().contains("不覆盖"));
}

} // namespace
