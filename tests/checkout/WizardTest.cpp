// The wizard offscreen, driven through its pages by a scripted engineer, on the real MODBUS485 and
// qm4107-sim. With QM4107_CHECKOUT_GRAB=FILE.png the inputs page is saved as a picture, the summary as
// FILE-summary.png, and a cabinet's connection page, once surveyed, as FILE-cabinet.png.
#include "CheckoutWizard.h"
#include "Modbus485Library.h"
#include "SimProcess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct WizardRun {
    const char *name;
    const char *cancelAt; // "取消" when this question comes up; nullptr walks to the end
    const char *coilsLeft;
    const char *journalHolds;
    bool
        resume; // the folder holds an unfinished journal with every point but C3 done, and it is gone on with
    bool scan;  // the module is at station 6 and 19200 baud, and "扫描" finds it
    // The module is at station 6 and nothing scans for it: the connection check fails and "返回连接" ends it.
    bool wrongStation = false;
    // The folder holds a killed walk's journal with C1's test preset in the module, put back first.
    bool presetLeft = false;
    bool waive = false; // ... or left as it is
    // A cabinet's list of stations 1, 5 and 12 on a line of 1, 5 (at even parity) and 9: 5 is written to the
    // line's parity after the engineer confirms, powered again and retried; 1 and 5 are walked.
    bool cabinet = false;
};

void PrintTo(const WizardRun &run, std::ostream *out) {
    *out << run.name;
}

class WizardTest : public ::testing::TestWithParam<WizardRun> {};

// Answers the question box up beside the wizard with the button `caption`.
bool answerBox(CheckoutWizard &wizard, const QString &text, const QString &caption) {
    auto *box = wizard.findChild<QMessageBox *>(QStringLiteral("confirm"));
    if (!box || !box->isVisible() || box->text() != text)
        return false;
    for (QAbstractButton *button : box->buttons())
        if (button->text() == caption) {
            button->click();
            return true;
        }
    return false;
}

void click(CheckoutWizard &wizard, Choice choice) {
    const auto buttons = wizard.currentPage()->findChildren<QPushButton *>(
        QStringLiteral("choice%1").arg(static_cast<int>(choice)));
    ASSERT_EQ(buttons.size(), 1) << static_cast<int>(choice);
    buttons.front()->click();
}

// The engineer at the walk now up: does what each question asks, and what the row says.
void engage(CheckoutWizard &wizard, SimProcess &sim, const WizardRun &run, bool &cancelled) {
    QObject::connect(
        wizard.walk(), &CheckoutWalk::asked, &wizard, [&wizard, &sim, &run, &cancelled](const Question &q) {
            QTimer::singleShot(0, &wizard, [&wizard, &sim, &run, &cancelled, q] {
                if (run.cancelAt && q.text.contains(QString::fromUtf8(run.cancelAt))) {
                    cancelled = true;
                    wizard.reject();
                    EXPECT_TRUE(answerBox(wizard, QStringLiteral("取消调试？已改动的输出和预置值将恢复。"),
                                          QStringLiteral("恢复并停止")));
                    return;
                }
                if (run.wrongStation && q.choices.contains(Choice::BackToLine)) {
                    EXPECT_TRUE(q.text.startsWith(QStringLiteral("1 次读取只成功 0 次")))
                        << qPrintable(q.text);
                    return click(wizard, Choice::BackToLine);
                }
                if (q.point.startsWith(u'X') && q.whileWaiting) {
                    return sim.command(QStringLiteral("input %1 1").arg(q.point.mid(1)));
                }
                if (run.resume) {
                    EXPECT_EQ(q.point, QStringLiteral("C3"));
                }
                if (q.wantsNumber)
                    sim.command(
                        (q.wantsTolerance ? QStringLiteral("frequency %1 50") : QStringLiteral("burst %1 10"))
                            .arg(q.point.mid(1)));
                if (!q.whileWaiting)
                    click(wizard, q.choices.front());
            });
        });
    QObject::connect(wizard.walk(), &CheckoutWalk::status, &wizard,
                     [&wizard, &sim, &run](const QString &text) {
                         if (text == QStringLiteral("X3 已变化，请复原") && !run.cabinet &&
                             qEnvironmentVariableIsSet("QM4107_CHECKOUT_GRAB"))
                             wizard.grab().save(qEnvironmentVariable("QM4107_CHECKOUT_GRAB"));
                         if (text.endsWith(QStringLiteral("已变化，请复原")))
                             sim.command(QStringLiteral("input %1 0").arg(text.section(u' ', 0, 0).mid(1)));
                     });
}

// A cabinet's modules walked through the pages one after the other, each record written, until the
// cabinet's is.
void walkCabinet(CheckoutWizard &wizard, SimProcess &sim, const QString &folder) {
    bool cancelled = false;
    const WizardRun run{.name = "", .cancelAt = nullptr, .cabinet = true};
    CheckoutWalk *engaged = nullptr;
    auto *write = wizard.findChild<QPushButton *>(QStringLiteral("writeRecord"));
    auto *message = wizard.findChild<QLabel *>(QStringLiteral("recordMessage"));
    for (;;) {
        if (wizard.walk() != engaged)
            engage(wizard, sim, run, cancelled);
        engaged = wizard.walk();
        const auto cabinetWritten = [message] { return message->text().startsWith(u"机柜记录已生成"); };
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return write->isEnabled() || wizard.walk() != engaged || cabinetWritten(); }, 120000));
        if (cabinetWritten())
            break;
        if (write->isEnabled() && wizard.walk() == engaged)
            write->click();
    }
    const QString name = message->text().section(u'：', 1).section(u'.', 0, 0);
    QFile csv(QDir(folder).filePath(name + QStringLiteral(".csv")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly)) << qPrintable(message->text());
    const QString rows = QString::fromUtf8(csv.readAll());
    EXPECT_EQ(rows.count(QStringLiteral("通过")), 36);
    for (const char *said : {"\n5,KA-105,8,X3,LS-5,T1:5,", "\n12,站号 12,8,X3,LS-12,,,,,,未测,,未找到,"})
        EXPECT_TRUE(rows.contains(QString::fromUtf8(said))) << said;
}

TEST_P(WizardTest, EngineerWalksThePages) {
    const WizardRun &run = GetParam();
    SimProcess sim(run.scan           ? QStringList{"--station", "6", "--baud", "19200"}
                   : run.wrongStation ? QStringList{"--station", "6"}
                   : run.cabinet      ? QStringList{"--stations", "1,5:9600:even,9"}
                                      : QStringList{});
    QTemporaryDir dir;
    ASSERT_FALSE(sim.devicePath().isEmpty());
    qunsetenv("MODBUS485_TRACE");
    qputenv("MODBUS485_PORT19", sim.devicePath().toLocal8Bit());
    Modbus485Library link;
    CheckoutWizard wizard(link);
    wizard.tuneWalk = [](WalkSettings &s) {
        s.pollMs = 20;
        s.prewatchReads = 3;
        s.countSteadyMs = 300;
    };
    wizard.show();
    // Every field has a name for assistive tools (a spin box's own line edit is the spin box).
    for (const QWidget *field : wizard.findChildren<QWidget *>()) {
        if (field->inherits("QAbstractSpinBox") || field->inherits("QComboBox") ||
            (field->inherits("QLineEdit") && !field->parent()->inherits("QAbstractSpinBox"))) {
            EXPECT_FALSE(field->accessibleName().isEmpty()) << field->metaObject()->className();
        }
    }
    wizard.findChild<QLineEdit *>(QStringLiteral("folderEdit"))->setText(dir.path());
    if (run.presetLeft) {
        FileJournalSink sink;
        QString error;
        ASSERT_TRUE(sink.open(QDir(dir.path()).filePath(QStringLiteral("killed.jsonl")), error));
        JournalWriter journal(sink);
        RecordHeader header;
        header.port = 19;
        header.station = 1;
        ModuleSnapshot found;
        found.presets = {77, 0, 0};
        ASSERT_TRUE(journal.writeHeader(header) && journal.writeAsFound(found) &&
                    journal.writePreset(QStringLiteral("C1"), QStringLiteral("changed"), 12345));
        sim.command(QStringLiteral("register 4 12345"));
        wizard.findLeftChanged();
        wizard.findChild<QLineEdit *>(QStringLiteral("projectEdit"))->setText(QStringLiteral("一号站"));
        wizard.findChild<QLineEdit *>(QStringLiteral("tagEdit"))->setText(QStringLiteral("KA-101"));
        wizard.findChild<QLineEdit *>(QStringLiteral("engineerEdit"))->setText(QStringLiteral("张工"));
        // No new walk while the killed one's test value is in the module.
        EXPECT_FALSE(wizard.button(QWizard::NextButton)->isEnabled());
        wizard
            .findChild<QPushButton *>(run.waive ? QStringLiteral("waiveButton")
                                                : QStringLiteral("putBackButton"))
            ->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.button(QWizard::NextButton)->isEnabled(); }, 60000))
            << qPrintable(wizard.findChild<QLabel *>(QStringLiteral("leftChangedMessage"))->text());
        EXPECT_TRUE(sim.stateValue(QStringLiteral("holding-registers"))
                        .startsWith(run.waive ? u"0,0,0,12345," : u"0,0,0,77,"));
        QFile killed(QDir(dir.path()).filePath(QStringLiteral("killed.jsonl")));
        ASSERT_TRUE(killed.open(QIODevice::ReadOnly));
        EXPECT_EQ(killed.readAll().contains(R"("type":"waiver")"), run.waive);
    } else if (run.resume) {
        FileJournalSink sink;
        QString error;
        ASSERT_TRUE(sink.open(QDir(dir.path()).filePath(QStringLiteral("earlier.jsonl")), error));
        JournalWriter journal(sink);
        RecordHeader header;
        header.project = QStringLiteral("一号站");
        header.moduleTag = QStringLiteral("KA-101");
        header.engineer = QStringLiteral("张工");
        header.port = 19;
        ModuleSnapshot found;
        found.outputs = {0, 0, 0, 0, 0};
        found.presets = {0, 0, 0};
        ASSERT_TRUE(journal.writeHeader(header) && journal.writeAsFound(found));
        for (const PointId &point : walkOrder()) {
            if (point.name() != u"C3") {
                ASSERT_TRUE(
                    journal.writePoint({point, {}, {}, {}, {}, Result::Pass, Defect::None, {}, {}, 1}));
            }
        }
        wizard.findLeftChanged();
        wizard.findChild<QCheckBox *>(QStringLiteral("resumeCheck"))->setChecked(true);
    } else if (run.cabinet) {
        QFile list(QDir(dir.path()).filePath(QStringLiteral("cabinet.csv")));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("站号,点,位号,端子,说明,模块位号\r\n1,X3,LS-1,T1:5,,KA-101\r\n5,X3,LS-5,T1:5,,\r\n12,X3,"
                   "LS-12,,,\r\n");
        list.close();
        wizard.findChild<QLineEdit *>(QStringLiteral("projectEdit"))->setText(QStringLiteral("一号站"));
        wizard.findChild<QLineEdit *>(QStringLiteral("engineerEdit"))->setText(QStringLiteral("张工"));
        wizard.findChild<QLineEdit *>(QStringLiteral("ioListEdit"))->setText(list.fileName());
    } else {
        wizard.findChild<QLineEdit *>(QStringLiteral("projectEdit"))->setText(QStringLiteral("一号站"));
        wizard.findChild<QLineEdit *>(QStringLiteral("tagEdit"))->setText(QStringLiteral("KA-101"));
        wizard.findChild<QLineEdit *>(QStringLiteral("engineerEdit"))->setText(QStringLiteral("张工"));
    }
    wizard.next();
    if (run.cabinet) {
        ASSERT_EQ(wizard.currentId(), CheckoutWizard::CabinetLinePage);
        wizard.findChild<QSpinBox *>(QStringLiteral("cabinetPortSpin"))->setValue(19);
        auto *table = wizard.findChild<QTableWidget *>(QStringLiteral("cabinetTable"));
        auto found = [table](int row) {
            return table->item(row, 2) ? table->item(row, 2)->text() : QString();
        };
        auto *all = wizard.findChild<QPushButton *>(QStringLiteral("allSettingsButton"));
        wizard.findChild<QPushButton *>(QStringLiteral("surveyButton"))->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return all->isVisible() && all->isEnabled(); }, 60000));
        EXPECT_EQ(found(1), QStringLiteral("未找到"));
        all->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return found(1).startsWith(u"在其他设置"); }, 120000));
        EXPECT_EQ(found(0) + u'|' + found(2) + u'|' + found(3),
                  QStringLiteral("已找到|表外模块：9600 无校验|未找到"));
        EXPECT_FALSE(all->isVisible() && all->isEnabled());
        if (qEnvironmentVariableIsSet("QM4107_CHECKOUT_GRAB")) {
            QCoreApplication::sendPostedEvents();
            wizard.grab().save(qEnvironmentVariable("QM4107_CHECKOUT_GRAB")
                                   .replace(QStringLiteral(".png"), QStringLiteral("-cabinet.png")));
        }
        table->item(1, 1)->setText(QStringLiteral("KA-105"));
        wizard.findChild<QPushButton *>(QStringLiteral("parity5"))->click();
        EXPECT_TRUE(answerBox(
            wizard,
            QStringLiteral("将站号 5 的校验方式由 偶校验 改为 无校验？此设置写入模块，调试结束后不恢复。"),
            QStringLiteral("改写")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return found(1).endsWith(u"请重新上电后按 重试"); }, 60000))
            << qPrintable(found(1));
        sim.command(QStringLiteral("@5 power-cycle"));
        wizard.findChild<QPushButton *>(QStringLiteral("parity5"))->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return found(1).endsWith(u"在线路设置下应答。"); }, 60000))
            << qPrintable(found(1));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return wizard.button(QWizard::CommitButton)->isEnabled(); }, 60000));
        wizard.next();
        ASSERT_EQ(wizard.currentId(), CheckoutWizard::ConnectionPage);
        return walkCabinet(wizard, sim, dir.path());
    }
    ASSERT_EQ(wizard.currentId(), CheckoutWizard::LinePage);
    wizard.findChild<QSpinBox *>(QStringLiteral("portSpin"))->setValue(19);
    if (run.scan) {
        auto *message = wizard.currentPage()->findChild<QLabel *>(QStringLiteral("scanMessage"));
        wizard.currentPage()->findChild<QPushButton *>(QStringLiteral("scanButton"))->click();
        EXPECT_FALSE(wizard.button(QWizard::CommitButton)->isEnabled());
        ASSERT_TRUE(QTest::qWaitFor([&] { return message->text().startsWith(u"找到"); }, 120000))
            << qPrintable(message->text());
        EXPECT_TRUE(message->text().startsWith(QStringLiteral("找到模块：站号 6，19200 bps，无校验，应答 ")));
        EXPECT_EQ(wizard.findChild<QSpinBox *>(QStringLiteral("stationSpin"))->value(), 6);
        EXPECT_EQ(wizard.findChild<QComboBox *>(QStringLiteral("baudCombo"))->currentText(),
                  QStringLiteral("19200"));
        // The port is free again for the walk.
        EXPECT_EQ(QProcess::execute(QStringLiteral("flock"), {"--nonblock", sim.devicePath(), "true"}), 0);
    }
    wizard.next();
    ASSERT_TRUE(wizard.walk());

    bool cancelled = false;
    engage(wizard, sim, run, cancelled);

    const QString journalPath = QDir(dir.path()).filePath(wizard.recordName() + QStringLiteral(".jsonl"));
    auto *write = wizard.findChild<QPushButton *>(QStringLiteral("writeRecord"));
    if (run.wrongStation) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentId() == CheckoutWizard::LinePage; }, 60000));
        EXPECT_FALSE(wizard.walk());
    } else if (run.cancelAt) {
        // Put back, the walk can be gone on with: no closing line until the record is made, as cancelled.
        ASSERT_TRUE(QTest::qWaitFor([&] { return cancelled && write->isEnabled(); }, 60000));
        EXPECT_TRUE(wizard.isVisible());
        EXPECT_FALSE(readJournal(journalPath).record.closing);
        write->click();
        EXPECT_TRUE(readJournal(journalPath).record.closing->cancelled);
        QFile csv(QDir(dir.path()).filePath(wizard.recordName() + QStringLiteral(".csv")));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly))
            << qPrintable(wizard.findChild<QLabel *>(QStringLiteral("recordMessage"))->text());
        EXPECT_TRUE(csv.readLine().contains("已取消"));
    } else {
        ASSERT_TRUE(QTest::qWaitFor([&] { return write->isEnabled(); }, 120000));
        EXPECT_EQ(wizard.currentId(), CheckoutWizard::SummaryPage);
        if (qEnvironmentVariableIsSet("QM4107_CHECKOUT_GRAB")) {
            QCoreApplication::sendPostedEvents(); // the summary's layout settles before the picture
            wizard.grab().save(qEnvironmentVariable("QM4107_CHECKOUT_GRAB")
                                   .replace(QStringLiteral(".png"), QStringLiteral("-summary.png")));
        }
        // "完成" before the record asks first; "返回" stays.
        wizard.button(QWizard::FinishButton)->click();
        EXPECT_TRUE(answerBox(wizard, QStringLiteral("尚未生成记录，仍要关闭？"), QStringLiteral("返回")));
        EXPECT_TRUE(wizard.isVisible());
        write->click();
        const QString name = QDir(dir.path()).filePath(wizard.recordName());
        EXPECT_EQ(run.resume, wizard.recordName() == u"earlier");
        QFile csv(name + QStringLiteral(".csv"));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly))
            << qPrintable(wizard.findChild<QLabel *>(QStringLiteral("recordMessage"))->text());
        EXPECT_EQ(csv.readAll().count("通过"), 18);
        EXPECT_TRUE(QFile::exists(name + QStringLiteral(".pdf")));
    }
    QFile journal(QDir(dir.path()).filePath(wizard.recordName() + QStringLiteral(".jsonl")));
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    EXPECT_TRUE(journal.readAll().contains(run.journalHolds));
    EXPECT_TRUE(sim.stateValue(QStringLiteral("coils")).startsWith(QLatin1String(run.coilsLeft)));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, WizardTest,
    ::testing::Values(WizardRun{"WholeModule", nullptr, "00000", "\"type\":\"close\"", false, false},
                      WizardRun{"CancelWithY2Closed", "Y2 已接通", "00000",
                                "\"point\":\"Y2\",\"state\":\"restored\"", false, false},
                      WizardRun{"ConnectionCheckFails", nullptr, "00000", "通讯检查未通过", false, false,
                                true},
                      WizardRun{"KilledWalksPresetPutBackFirst", nullptr, "00000", "\"type\":\"close\"",
                                false, false, false, true},
                      WizardRun{"KilledWalksPresetWaived", nullptr, "00000", "\"type\":\"close\"", false,
                                false, false, true, true},
                      WizardRun{"ResumeUnfinished", nullptr, "00000", "\"type\":\"close\"", true, false},
                      WizardRun{"ScannedModule", nullptr, "00000", "\"type\":\"close\"", false, true},
                      WizardRun{.name = "Cabinet", .cabinet = true}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
