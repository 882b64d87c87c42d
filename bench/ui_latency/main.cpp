// How late the polling window handles a timer event: the real window offscreen on its link thread, the real
// MODBUS485 and qm4107-sim --wire at 9600 baud, with the module answering, silent, and slow (80 and 300 ms).
// Prints the lateness of timer events due at random moments (p50, p95, max), the process's CPU time per
// minute of polling, the requests the module served per minute and each poll's period over its last rounds.
// Then the checkout wizard's 扫描 on a line whose one module (station 9, 19200 baud, even parity) answers
// 300 ms late, the scan started again each time it ends; and a cabinet's survey of stations 1-12 on a line of
// three modules (5 at even parity, 9 answering 300 ms late), started again each time it ends.
// --inline measures the windows making their exchanges on their own thread, for comparison.
//
// Usage: ui_latency [--inline] [SECONDS_PER_CASE]   (default 30)
#include "CheckoutWizard.h"
#include "Modbus485Library.h"
#include "SimProcess.h"
#include "ThreadedLink.h"
#include "ssqx.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <utility>
#include <vector>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

struct Probed {
    std::vector<double> lateness; // ms
    double cpu = 0;               // s
    double minutes = 0;
};

// A chain of timer probes on `window`'s thread for `seconds`: each one, when handled, arms the next at a
// random distance, and notes how late it came.
Probed probe(QWidget &window, int seed, int seconds) {
    Probed probed;
    std::mt19937 random(4107 + seed);
    std::uniform_int_distribution<int> delay(0, 97);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    const qint64 end = seconds * 1000LL;
    QEventLoop loop;
    std::function<void()> arm = [&] {
        const int wait = delay(random);
        const qint64 due = clock.elapsed() + wait;
        QTimer::singleShot(wait, Qt::PreciseTimer, &window, [&, due] {
            probed.lateness.push_back(static_cast<double>(clock.elapsed() - due));
            if (clock.elapsed() < end)
                arm();
            else
                loop.quit();
        });
    };
    arm();
    loop.exec();
    probed.cpu = cpuSeconds() - cpuBefore;
    probed.minutes = static_cast<double>(clock.elapsed()) / 60000.0;
    return probed;
}

// `fault`: a qm4107-sim command that makes the module misbehave from the start, or empty.
void measure(const char *name, const char *fault, int port, int seconds, bool inlineExchanges) {
    SimProcess sim({QStringLiteral("--wire"), QStringLiteral("--baud"), QStringLiteral("9600")});
    if (sim.devicePath().isEmpty()) {
        std::printf("%s: qm4107-sim did not start\n", name);
        return;
    }
    qputenv(qPrintable(QStringLiteral("MODBUS485_PORT%1").arg(port)), sim.devicePath().toLocal8Bit());
    Modbus485Library library;
    ssqx window(inlineExchanges ? std::make_unique<InlineLink>(library)
                                : std::unique_ptr<ExchangeLink>(std::make_unique<ThreadedLink>(library)));
    window.setProcessEnd([] {});
    window.show();
    window.Combo1->setCurrentText(QString::number(port) + u' ');
    window.Command9->click();
    if (*fault)
        sim.command(QString::fromLatin1(fault));
    QTest::qWait(3000); // settle: first ticks, a silent module's first time-outs, a slow one's answer time
    sim.takeLog();      // only the requests served while measuring count

    const Probed probed = probe(window, port, seconds);
    const double minutes = probed.minutes;
    const double ioPeriod = window.ioPollPeriod().value_or(0);
    const double counterPeriod = window.counterPollPeriod().value_or(0);
    window.Command10->click();
    window.KeepOpen = 0;
    const QStringList traffic = sim.takeLog();
    std::printf(
        "%-10s probes %5zu  lateness p50 %6.1f ms  p95 %6.1f ms  max %6.1f ms  CPU %.2f s/min (%.2f %% of "
        "one core)  requests %.0f/min  period I/O %.2f s, counters %.2f s\n",
        name, probed.lateness.size(), percentile(probed.lateness, 50), percentile(probed.lateness, 95),
        percentile(probed.lateness, 100), probed.cpu / minutes, probed.cpu / minutes / 60.0 * 100.0,
        static_cast<double>(traffic.size()) / minutes, ioPeriod, counterPeriod);
}

// The checkout wizard's scan (a cabinet's survey), started again whenever it ends, on a line with a slow
// module.
void measureScan(int port, int seconds, bool inlineExchanges, bool cabinet) {
    const char *name = cabinet ? "机柜扫描" : "扫描 slow";
    SimProcess sim(
        cabinet ? QStringList{QStringLiteral("--wire"), QStringLiteral("--stations"),
                              QStringLiteral("1,5:9600:even,9"), QStringLiteral("-c"),
                              QStringLiteral("@9 late 300")}
                : QStringList{QStringLiteral("--wire"), QStringLiteral("--station"), QStringLiteral("9"),
                              QStringLiteral("--baud"), QStringLiteral("19200"), QStringLiteral("--parity"),
                              QStringLiteral("even"), QStringLiteral("-c"), QStringLiteral("late 300")});
    QTemporaryDir records;
    if (sim.devicePath().isEmpty() || !records.isValid()) {
        std::printf("%s: qm4107-sim did not start\n", name);
        return;
    }
    qputenv(qPrintable(QStringLiteral("MODBUS485_PORT%1").arg(port)), sim.devicePath().toLocal8Bit());
    Modbus485Library library;
    CheckoutWizard wizard(inlineExchanges
                              ? std::unique_ptr<ExchangeLink>(std::make_unique<InlineLink>(library))
                              : std::unique_ptr<ExchangeLink>(std::make_unique<ThreadedLink>(library)));
    wizard.show();
    for (const auto &[field, text] : {std::pair{"projectEdit", "一号站"}, std::pair{"tagEdit", "KA-101"},
                                      std::pair{"engineerEdit", "张工"}})
        wizard.findChild<QLineEdit *>(QLatin1String(field))->setText(QString::fromUtf8(text));
    wizard.findChild<QLineEdit *>(QStringLiteral("folderEdit"))->setText(records.path());
    if (cabinet) {
        QFile list(records.filePath(QStringLiteral("cabinet.csv")));
        list.open(QIODevice::WriteOnly);
        list.write("站号,点,位号,端子,说明\r\n1,X1,,,\r\n5,X1,,,\r\n12,X1,,,\r\n");
        list.close();
        wizard.findChild<QLineEdit *>(QStringLiteral("ioListEdit"))->setText(list.fileName());
    }
    wizard.next();
    wizard.findChild<QSpinBox *>(cabinet ? QStringLiteral("cabinetPortSpin") : QStringLiteral("portSpin"))
        ->setValue(port);
    auto *scan = wizard.findChild<QPushButton *>(cabinet ? QStringLiteral("surveyButton")
                                                         : QStringLiteral("scanButton"));
    int scans = 0;
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, [&] {
        if (scan->text() == QStringLiteral("扫描")) {
            ++scans;
            scan->click();
        }
    });
    again.start(50);
    const Probed probed = probe(wizard, port, seconds);
    again.stop();
    if (scan->text() != QStringLiteral("扫描"))
        scan->click();
    std::printf("%-10s probes %5zu  lateness p50 %6.1f ms  p95 %6.1f ms  max %6.1f ms  CPU %.2f s/min  "
                "scans started %d\n",
                name, probed.lateness.size(), percentile(probed.lateness, 50),
                percentile(probed.lateness, 95), percentile(probed.lateness, 100),
                probed.cpu / probed.minutes, scans);
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int arg = 1;
    const bool inlineExchanges = argc > arg && std::strcmp(argv[arg], "--inline") == 0;
    if (inlineExchanges)
        ++arg;
    const int seconds = argc > arg ? std::max(1, std::atoi(argv[arg])) : 30;
    std::printf(
        "ui_latency: %d s per case, qm4107-sim --wire at 9600 baud, both polls at 500 ms, exchanges %s\n",
        seconds, inlineExchanges ? "on the window's thread" : "on the link's thread");
    measure("answering", "", 15, seconds, inlineExchanges);
    measure("silent", "silent", 16, seconds, inlineExchanges);
    measure("slow 80", "late 80", 17, seconds, inlineExchanges);
    measure("slow 300", "late 300", 18, seconds, inlineExchanges);
    measureScan(19, seconds, inlineExchanges, false);
    measureScan(14, seconds, inlineExchanges, true);
    return 0;
}
