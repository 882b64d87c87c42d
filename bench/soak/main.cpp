// Soak: the real window offscreen on its link thread, the real MODBUS485 and qm4107-sim --wire at 9600 baud,
// with a fault on the line every few seconds (silent module, late answers, corrupt CRC, garbage, the device
// gone and back) for a given time. After each fault the simulated module gets new inputs and outputs, and the
// window must show them. Prints, at the start, every minute and at the end: resident memory, open file
// descriptors, the exchanges the window made and how many failed, the requests the module served, and the
// paint events the window received; at the end whether every fault was recovered from and whether the window
// kept repainting.
//
// Usage: soak [DURATION]   seconds, or with a suffix m or h (default 60)
// Exit status 0 when every fault was recovered from, no lamp ever showed a wrong state, and the window
// repainted in every ten-second stretch.
#include "CountingModbus485.h"
#include "Modbus485Library.h"
#include "OpenDescriptors.h"
#include "PaintCounter.h"
#include "SimProcess.h"
#include "ThreadedLink.h"
#include "ssqx.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

namespace {

long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int parseDuration(const char *text) {
    std::string s = text;
    int unit = 1;
    if (!s.empty() && (s.back() == 'm' || s.back() == 'h' || s.back() == 's')) {
        unit = s.back() == 'm' ? 60 : s.back() == 'h' ? 3600 : 1;
        s.pop_back();
    }
    return std::stoi(s) * unit;
}

// What the simulated module's inputs X1-X10 and outputs Y1-Y5 are set to.
struct Pattern {
    std::array<bool, 10> inputs{};
    std::array<bool, 5> outputs{};

    QString inputCaption(int i) const {
        return QStringLiteral("输入X%1%2")
            .arg(i + 1)
            .arg(inputs[i] ? QStringLiteral("闭合") : QStringLiteral("断开"));
    }
    QString outputCaption(int i) const {
        return QStringLiteral("输出Y%1%2")
            .arg(i + 1)
            .arg(outputs[i] ? QStringLiteral("闭合") : QStringLiteral("断开"));
    }
};

class Soak {
public:
    explicit Soak(int seconds)
        : m_seconds(seconds) {}

    int run();

private:
    void startSimulator();
    void apply(const Pattern &pattern);
    bool showsCurrent() const;
    // Lets the window run for `ms`, checking the lamps every 100 ms and reporting every minute.
    void pass(int ms);
    // Runs the window until `done` holds or `ms` have passed; true if it held.
    template <typename Done> bool passUntil(int ms, Done done);
    void sample();
    void report(const char *when);
    void inject(int fault);

    const int m_seconds;
    QTemporaryDir m_dir;
    QString m_linkPath;
    std::unique_ptr<SimProcess> m_sim;
    Modbus485Library m_library;
    CountingModbus485 m_counting{m_library};
    std::unique_ptr<ssqx> m_window;
    std::unique_ptr<PaintCounter> m_paintCounter;
    QElapsedTimer m_clock;
    std::mt19937 m_random{4107};

    Pattern m_current, m_previous;
    bool m_previousAllowed = false; // the old pattern may still show until the new one has been seen
    long long m_served = 0, m_servedFaulty = 0;
    long long m_wrongReadings = 0;
    int m_faults = 0, m_recovered = 0;
    // Memory and descriptors taken at the same point of every cycle (just after recovery), so that the
    // simulator's restarts and pipes do not count as growth.
    long m_cycleRssFirst = -1, m_cycleRssLast = -1, m_cycleRssMax = -1;
    int m_cycleFdsFirst = -1, m_cycleFdsLast = -1, m_cycleFdsMax = -1;
    qint64 m_slowestRecoveryMs = 0;
    qint64 m_nextReportMs = 60000;
    // Paint events and input polls per ten-second stretch, to see that neither ever stopped.
    qint64 m_bucketEndMs = 10000;
    long long m_paintsAtBucket = 0, m_pollsAtBucket = 0;
    int m_buckets = 0, m_bucketsWithoutPaint = 0, m_bucketsWithoutPoll = 0;
};

void Soak::startSimulator() {
    m_sim = std::make_unique<SimProcess>(QStringList{QStringLiteral("--wire"), QStringLiteral("--baud"),
                                                     QStringLiteral("9600"), QStringLiteral("--link"),
                                                     m_linkPath});
}

void Soak::apply(const Pattern &pattern) {
    QString bits;
    for (bool closed : pattern.inputs)
        bits += closed ? u'1' : u'0';
    m_sim->command(QStringLiteral("inputs ") + bits);
    for (int i = 0; i < 5; ++i)
        m_sim->command(QStringLiteral("coil %1 %2").arg(i + 1).arg(pattern.outputs[i] ? 1 : 0));
}

bool Soak::showsCurrent() const {
    if (m_window->Label5->text() != QStringLiteral("0"))
        return false;
    for (int i = 0; i < 10; ++i)
        if (m_window->B_2R(i)->text() != m_current.inputCaption(i))
            return false;
    for (int i = 0; i < 5; ++i)
        if (m_window->B_1RW(i)->text() != m_current.outputCaption(i))
            return false;
    return true;
}

// A lamp may show the module's present state, a failed read, the blank of a closed or failed port, nothing
// before the first poll, or (until the new
// state has been seen once) the state before the last change. Anything else is a wrong reading, for
// example a late answer taken for the answer to another request.
void Soak::sample() {
    const QString failed = QStringLiteral("通讯失败"), blank = QStringLiteral(" ");
    auto check = [&](QLabel *lamp, const QString &now, const QString &before) {
        const QString text = lamp->text();
        if (text == now || text == failed || text == blank || text.isEmpty() ||
            (m_previousAllowed && text == before))
            return;
        if (++m_wrongReadings <= 10)
            std::printf("  wrong reading at %llds: %s shows \"%s\", module has \"%s\"\n",
                        static_cast<long long>(m_clock.elapsed() / 1000), qPrintable(lamp->objectName()),
                        qPrintable(text), qPrintable(now));
    };
    for (int i = 0; i < 10; ++i)
        check(m_window->B_2R(i), m_current.inputCaption(i), m_previous.inputCaption(i));
    for (int i = 0; i < 5; ++i)
        check(m_window->B_1RW(i), m_current.outputCaption(i), m_previous.outputCaption(i));
    if (m_previousAllowed && showsCurrent())
        m_previousAllowed = false;

    const QStringList log = m_sim ? m_sim->takeLog() : QStringList();
    m_served += log.size();
    for (const QString &line : log)
        if (line.endsWith(QLatin1String(" silent")) || line.endsWith(QLatin1String(" late")) ||
            line.endsWith(QLatin1String(" corrupt-crc")) || line.endsWith(QLatin1String(" garbage")))
            ++m_servedFaulty;

    const qint64 now = m_clock.elapsed();
    if (now >= m_bucketEndMs) {
        ++m_buckets;
        if (m_paintCounter->paints() == m_paintsAtBucket)
            ++m_bucketsWithoutPaint;
        if (m_counting.callsOf(QStringLiteral("Get_1X_B16")) == m_pollsAtBucket)
            ++m_bucketsWithoutPoll;
        m_paintsAtBucket = m_paintCounter->paints();
        m_pollsAtBucket = m_counting.callsOf(QStringLiteral("Get_1X_B16"));
        m_bucketEndMs += 10000;
    }
    if (now >= m_nextReportMs) {
        report("run");
        m_nextReportMs += 60000;
    }
}

void Soak::report(const char *when) {
    std::printf("%-5s t=%5llds rss=%ldkB fds=%d exchanges=%lld failed=%lld served=%lld(faulty %lld) "
                "paints=%lld faults=%d recovered=%d wrong=%lld\n",
                when, static_cast<long long>(m_clock.elapsed() / 1000), residentKb(), openDescriptors(),
                static_cast<long long>(m_counting.calls()), static_cast<long long>(m_counting.failures()),
                m_served, m_servedFaulty, m_paintCounter->paints(), m_faults, m_recovered, m_wrongReadings);
    std::fflush(stdout);
}

template <typename Done> bool Soak::passUntil(int ms, Done done) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        sample();
        if (done())
            return true;
        if (timer.elapsed() >= ms)
            return false;
        QTest::qWait(100);
    }
}

void Soak::pass(int ms) {
    passUntil(ms, [] { return false; });
}

void Soak::inject(int fault) {
    switch (fault) {
    case 0:
        m_sim->command(QStringLiteral("silent"));
        pass(3000);
        break;
    case 1:
        m_sim->command(QStringLiteral("late 300 6")); // well past the master's time-out at 9600 baud
        pass(3000);
        break;
    case 2:
        m_sim->command(QStringLiteral("corrupt-crc 6"));
        pass(3000);
        break;
    case 3:
        m_sim->command(QStringLiteral("garbage 6"));
        pass(3000);
        break;
    default:
        // The adapter pulled out: the device goes away; it comes back and the operator presses "打开".
        m_sim.reset();
        pass(2000);
        startSimulator();
        m_window->Command9->click();
        break;
    }
    m_sim->command(QStringLiteral("normal"));
}

int Soak::run() {
    if (!m_dir.isValid()) {
        std::printf("soak: no temporary folder\n");
        return 1;
    }
    m_linkPath = m_dir.filePath(QStringLiteral("line"));
    startSimulator();
    if (m_sim->devicePath().isEmpty()) {
        std::printf("soak: qm4107-sim did not start\n");
        return 1;
    }
    qputenv("MODBUS485_PORT1", m_linkPath.toLocal8Bit());
    m_window = std::make_unique<ssqx>(std::make_unique<ThreadedLink>(m_counting));
    m_window->setProcessEnd([] {});
    m_paintCounter = std::make_unique<PaintCounter>(m_window.get());
    qApp->installEventFilter(m_paintCounter.get());
    m_window->show();
    m_clock.start();
    // The window's defaults: port 1, station 1, 9600 baud, no parity.
    m_window->Command9->click();
    if (!passUntil(5000, [&] { return showsCurrent(); })) {
        std::printf("soak: the window never showed a good poll\n");
        return 1;
    }
    std::printf("soak: %d s against qm4107-sim --wire at 9600 baud on %s, a fault every ~6 s\n", m_seconds,
                qPrintable(m_linkPath));
    report("start");
    const long startRss = residentKb();
    const int startFds = openDescriptors();

    static const char *const names[] = {"silent", "late", "corrupt-crc", "garbage", "device-gone"};
    int perFault[5] = {}, perFaultRecovered[5] = {};
    std::bernoulli_distribution coin(0.5);
    while (m_clock.elapsed() < qint64(m_seconds) * 1000) {
        const int fault = m_faults % 5;
        ++m_faults;
        ++perFault[fault];
        inject(fault);

        m_previous = m_current;
        for (bool &b : m_current.inputs)
            b = coin(m_random);
        for (bool &b : m_current.outputs)
            b = coin(m_random);
        m_previousAllowed = true;
        apply(m_current);

        QElapsedTimer recovery;
        recovery.start();
        if (passUntil(8000, [&] { return showsCurrent(); })) {
            ++m_recovered;
            ++perFaultRecovered[fault];
            m_slowestRecoveryMs = std::max(m_slowestRecoveryMs, recovery.elapsed());
            m_cycleRssLast = residentKb();
            m_cycleFdsLast = openDescriptors();
            if (m_cycleRssFirst < 0) {
                m_cycleRssFirst = m_cycleRssLast;
                m_cycleFdsFirst = m_cycleFdsLast;
            }
            m_cycleRssMax = std::max(m_cycleRssMax, m_cycleRssLast);
            m_cycleFdsMax = std::max(m_cycleFdsMax, m_cycleFdsLast);
        } else {
            std::printf("  not recovered from %s at %llds: Label5=\"%s\"\n", names[fault],
                        static_cast<long long>(m_clock.elapsed() / 1000),
                        qPrintable(m_window->Label5->text()));
        }
        pass(3000);
    }
    report("end");

    const long endRss = residentKb();
    const int endFds = openDescriptors();
    std::printf("resident memory: %ld kB at start, %ld kB at end (%+ld kB)\n", startRss, endRss,
                endRss - startRss);
    std::printf("open descriptors: %d at start, %d at end\n", startFds, endFds);
    std::printf("just after each recovery: rss first %ld kB, last %ld kB, max %ld kB; fds first %d, last %d, "
                "max %d\n",
                m_cycleRssFirst, m_cycleRssLast, m_cycleRssMax, m_cycleFdsFirst, m_cycleFdsLast,
                m_cycleFdsMax);
    std::printf(
        "exchanges made: %lld, failed: %lld; requests served by the module: %lld, %lld of them faulty\n",
        static_cast<long long>(m_counting.calls()), static_cast<long long>(m_counting.failures()), m_served,
        m_servedFaulty);
    for (int f = 0; f < 5; ++f)
        std::printf("fault %-11s injected %d, recovered %d\n", names[f], perFault[f], perFaultRecovered[f]);
    std::printf("slowest recovery (new state shown after the fault ended): %lld ms\n",
                static_cast<long long>(m_slowestRecoveryMs));
    std::printf("wrong lamp readings: %lld\n", m_wrongReadings);
    std::printf("window repainting: %lld paint events; %d of %d ten-second stretches without a paint, "
                "%d without an input poll\n",
                m_paintCounter->paints(), m_bucketsWithoutPaint, m_buckets, m_bucketsWithoutPoll);
    const bool good = m_recovered == m_faults && m_wrongReadings == 0 && m_bucketsWithoutPaint == 0 &&
                      m_bucketsWithoutPoll == 0 && m_cycleFdsLast <= m_cycleFdsFirst;
    std::printf("verdict: %s\n", good ? "PASS" : "FAIL");
    m_window->Command10_Click();
    m_window->KeepOpen = 0;
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? parseDuration(argv[1]) : 60;
    Soak soak(seconds);
    return soak.run();
}
