// How late the polling window handles a timer event: the real window offscreen on its link thread, the real
// MODBUS485 and qm4107-sim --wire at 9600 baud, with the module answering, silent, and slow (80 and 300 ms).
// Prints the lateness of timer events due at random moments (p50, p95, max), the process's CPU time per
// minute of polling, the requests the module served per minute and each poll's period over its last rounds.
// --inline measures the window making its exchanges on its own thread, for comparison.
//
// Usage: ui_latency [--inline] [SECONDS_PER_CASE]   (default 30)
#include "Modbus485Library.h"
#include "SimProcess.h"
#include "ThreadedLink.h"
#include "ssqx.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
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

    std::vector<double> lateness;
    std::mt19937 random(4107 + port);
    std::uniform_int_distribution<int> delay(0, 97);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    const qint64 end = seconds * 1000LL;
    QEventLoop loop;
    // A chain of probes: each one, when handled, arms the next at a random distance.
    std::function<void()> arm = [&] {
        const int wait = delay(random);
        const qint64 due = clock.elapsed() + wait;
        QTimer::singleShot(wait, Qt::PreciseTimer, &window, [&, due] {
            lateness.push_back(static_cast<double>(clock.elapsed() - due));
            if (clock.elapsed() < end)
                arm();
            else
                loop.quit();
        });
    };
    arm();
    loop.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double minutes = static_cast<double>(clock.elapsed()) / 60000.0;

    const double ioPeriod = window.ioPollPeriod().value_or(0);
    const double counterPeriod = window.counterPollPeriod().value_or(0);
    window.Command10->click();
    window.KeepOpen = 0;
    const QStringList traffic = sim.takeLog();
    std::printf(
        "%-10s probes %5zu  lateness p50 %6.1f ms  p95 %6.1f ms  max %6.1f ms  CPU %.2f s/min (%.2f %% of "
        "one core)  requests %.0f/min  period I/O %.2f s, counters %.2f s\n",
        name, lateness.size(), percentile(lateness, 50), percentile(lateness, 95), percentile(lateness, 100),
        cpu / minutes, cpu / minutes / 60.0 * 100.0, static_cast<double>(traffic.size()) / minutes, ioPeriod,
        counterPeriod);
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
    return 0;
}
