// link_bench: prints in one run
//  (a) per-operation round trip of MODBUS485 over a pseudo-terminal against plain libmodbus doing the same
//      exchange with qm4107-sim (ratio, target at most 1.2);
//  (b) with qm4107-sim --wire at 4800, 9600 and 19200: the bus time of one full poll period (two 16-bit block
//      reads, two 8-register reads, two single-register reads) against the RTU wire limit of those frames and
//      the 3.5-character gaps between them (ratio, target at most 1.15);
//  (c) with the module silent: how long the calling thread is blocked per 500 ms poll period at each baud,
//      in the first period after the open and in the periods after it (targets at 9600: at most 1.1 s in
//      the first, where the first silence listens up to 1 s for a slow module's answer; at most 150 ms in
//      each after it);
//  (d) the trace's cost per exchange (MODBUS485_TRACE to a file), against a whole exchange at 9600 on the
//      wire (target under 2 %);
//  (e) a scan's worst case on one port: 144 probes (stations 1-16 at 3 bauds and 3 parities) on a silent
//      line with the short turnaround qm4107-ports sets through SetPort_Turnaround (target at most 10 s).
//  (f) at 9600, one 8-register read that a line fault spoils: how long until the call gives up, whatever
//      arrives (target at most 1.1 s: each round reads from a fresh open, so a silent module costs the
//      first period's bound of (c)).
//  (g) with qm4107-sim --wire at 9600 polled as the window polls (six reads every 500 ms) from "打开":
//      how many reads until the first right one, the share of reads right after it, and the share right
//      once the pause before a request has stopped changing, for a module 80, 150 and 300 ms slow, an
//      adapter that hears itself, a byte ahead of each answer, and a module deaf for 10 and 30 ms after its
//      answer (targets: first right by read 3; at least 95 % right after it, 100 % once learned).
// Run from the build: bin/link_bench [--quick] [--only LETTERS], e.g. --only cg for (c) and (g) alone.
#include "MODBUS485.h"
#include "SimProcess.h"

#include <modbus/modbus.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {
constexpr int32_t Port = 1;
constexpr int32_t Station = 1;
const int bauds[] = {4800, 9600, 19200};

struct Operation {
    const char *name;
    std::function<void()> ours;
    std::function<void(modbus_t *)> plain;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Microseconds of each call; calls are spaced so every one starts on a quiet line, as a poll's would.
std::vector<double> timeCalls(const std::function<void()> &call, int count) {
    std::vector<double> times;
    QElapsedTimer clock;
    for (int i = 0; i < count; ++i) {
        QThread::usleep(5000);
        clock.start();
        call();
        times.push_back(clock.nsecsElapsed() / 1000.0);
    }
    return times;
}

std::vector<Operation> operations() {
    static int32_t words[8];
    static uint8_t bits[16];
    static uint16_t registers[8];
    return {
        {"Get_0X_B16", [] { Get_0X_B16(Port, Station, 1, words); },
         [](modbus_t *m) { modbus_read_bits(m, 0, 16, bits); }},
        {"Get_1X_B16", [] { Get_1X_B16(Port, Station, 1, words); },
         [](modbus_t *m) { modbus_read_input_bits(m, 0, 16, bits); }},
        {"Get_3X_UnD8", [] { Get_3X_UnD8(Port, Station, 1, words); },
         [](modbus_t *m) { modbus_read_input_registers(m, 0, 8, registers); }},
        {"Get_4X_UnD8", [] { Get_4X_UnD8(Port, Station, 1, words); },
         [](modbus_t *m) { modbus_read_registers(m, 0, 8, registers); }},
        {"Get_4X_UnD1", [] { Get_4X_UnD1(Port, Station, 9); },
         [](modbus_t *m) { modbus_read_registers(m, 8, 1, registers); }},
        {"Get_4X_D1", [] { Get_4X_D1(Port, Station, 256); },
         [](modbus_t *m) { modbus_read_registers(m, 255, 1, registers); }},
        {"Set_0X_Bit1", [] { Set_0X_Bit1(Port, Station, 3); },
         [](modbus_t *m) { modbus_write_bit(m, 2, 1); }},
        {"Set_4X_D1", [] { Set_4X_D1(Port, Station, 5, 1234); },
         [](modbus_t *m) { modbus_write_register(m, 4, 1234); }},
    };
}

void roundTrips(int calls) {
    SimProcess sim;
    qputenv("MODBUS485_PORT1", sim.devicePath().toLocal8Bit());
    std::printf("(a) round trip over a pseudo-terminal at 9600, median of %d calls each, microseconds\n",
                calls);
    std::printf("    %-12s %10s %10s %7s\n", "operation", "MODBUS485", "libmodbus", "ratio");
    double oursTotal = 0, plainTotal = 0, worst = 0;
    for (const Operation &op : operations()) {
        std::vector<double> ours, plain;
        for (int round = 0; round < 4; ++round) { // alternate, so both see the same machine load
            OpenPort_Modbus(Port, 1, 0);
            auto o = timeCalls(op.ours, calls / 4);
            ClosePort_Modbus(Port);
            modbus_t *ctx = modbus_new_rtu(sim.devicePath().toLocal8Bit().constData(), 9600, 'N', 8, 1);
            modbus_connect(ctx);
            modbus_set_slave(ctx, Station);
            auto p = timeCalls([&] { op.plain(ctx); }, calls / 4);
            modbus_close(ctx);
            modbus_free(ctx);
            ours.insert(ours.end(), o.begin(), o.end());
            plain.insert(plain.end(), p.begin(), p.end());
        }
        const double o = median(ours), p = median(plain);
        oursTotal += o;
        plainTotal += p;
        worst = std::max(worst, o / p);
        std::printf("    %-12s %10.1f %10.1f %7.2f\n", op.name, o, p, o / p);
        sim.takeLog();
    }
    std::printf("    all operations: ratio %.2f, worst %.2f (target at most 1.2)\n\n", oursTotal / plainTotal,
                worst);
}

// The six reads of one poll period, as the panel makes them.
void pollPeriod() {
    int32_t words[101];
    Get_1X_B16(Port, Station, 1, words);
    Get_0X_B16(Port, Station, 1, words);
    Get_3X_UnD8(Port, Station, 1, words);
    Get_4X_UnD8(Port, Station, 1, words);
    Get_4X_UnD1(Port, Station, 9);
    Get_4X_D1(Port, Station, 256);
}

void wireTime(int periods) {
    std::printf("(b) one poll period with qm4107-sim --wire (8N1), median of %d periods\n", periods);
    std::printf("    %6s %12s %12s %7s\n", "baud", "bus time ms", "limit ms", "ratio");
    // Requests are 8 bytes; answers 7 (16 bits), 21 (8 registers), 7 (1 register). Between the 12 frames,
    // 11 silent gaps of 3.5 characters.
    const int frameBytes = 6 * 8 + 7 + 7 + 21 + 21 + 7 + 7;
    const double characters = frameBytes + 11 * 3.5;
    for (int codeIndex = 0; codeIndex < 3; ++codeIndex) {
        const int baud = bauds[codeIndex];
        SimProcess sim({"--wire", "--baud", QString::number(baud)});
        qputenv("MODBUS485_PORT1", sim.devicePath().toLocal8Bit());
        OpenPort_Modbus(Port, codeIndex, 0);
        std::vector<double> times;
        QElapsedTimer clock;
        for (int i = 0; i < periods; ++i) {
            QThread::msleep(20);
            clock.start();
            pollPeriod();
            times.push_back(clock.nsecsElapsed() / 1e6);
        }
        ClosePort_Modbus(Port);
        const double limit = characters * 10.0 / baud * 1000.0;
        const double measured = median(times);
        const QStringList log = sim.takeLog();
        const bool clean = log.filter(" exception").isEmpty() && log.size() == 6 * periods;
        std::printf("    %6d %12.1f %12.1f %7.3f%s\n", baud, measured, limit, measured / limit,
                    clean ? "" : "  (some exchanges failed!)");
    }
    std::printf("    target: ratio at most 1.15\n\n");
}

void silentModule(int periods) {
    std::printf(
        "(c) module silent: calling thread blocked per 500 ms poll period (status + six reads), %d periods\n",
        periods);
    std::printf("    %6s %12s %15s %14s %15s\n", "baud", "first ms", "after: mean ms", "after: max ms",
                "requests sent");
    for (int codeIndex = 0; codeIndex < 3; ++codeIndex) {
        SimProcess sim({"-c", "silent"});
        qputenv("MODBUS485_PORT1", sim.devicePath().toLocal8Bit());
        OpenPort_Modbus(Port, codeIndex, 0);
        std::vector<double> blocked;
        QElapsedTimer period, clock;
        for (int i = 0; i < periods; ++i) {
            period.start();
            clock.start();
            GetPort_Status(Port);
            pollPeriod();
            blocked.push_back(clock.nsecsElapsed() / 1e6);
            QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, 500 - period.elapsed())));
        }
        ClosePort_Modbus(Port);
        double sum = 0;
        for (std::size_t i = 1; i < blocked.size(); ++i)
            sum += blocked[i];
        std::printf("    %6d %12.1f %15.1f %14.1f %15lld\n", bauds[codeIndex], blocked[0],
                    sum / (periods - 1), *std::max_element(blocked.begin() + 1, blocked.end()),
                    static_cast<long long>(sim.takeLog().size()));
    }
    std::printf("    target at 9600: at most 1100 ms in the first period, 150 ms in each after it\n");
}

void traceCost(int calls) {
    QTemporaryDir dir;
    const QByteArray trace = dir.filePath("trace.log").toLocal8Bit();
    std::printf(
        "\n(d) trace cost per exchange (Get_4X_UnD8), median of %d calls with and without the trace\n",
        calls);
    // Without --wire the exchange takes next to nothing, so the difference is the trace's own cost.
    SimProcess fast;
    qputenv("MODBUS485_PORT1", fast.devicePath().toLocal8Bit());
    std::vector<double> off, on;
    for (int round = 0; round < 8; ++round) {
        round % 2 ? qputenv("MODBUS485_TRACE", trace) : qunsetenv("MODBUS485_TRACE");
        OpenPort_Modbus(Port, 1, 0);
        auto t = timeCalls(operations()[3].ours, calls / 8);
        (round % 2 ? on : off).insert((round % 2 ? on : off).end(), t.begin(), t.end());
        ClosePort_Modbus(Port);
    }
    qunsetenv("MODBUS485_TRACE");
    fast.takeLog();
    SimProcess wire({"--wire"});
    qputenv("MODBUS485_PORT1", wire.devicePath().toLocal8Bit());
    OpenPort_Modbus(Port, 1, 0);
    const double exchange = median(timeCalls(operations()[3].ours, 20));
    ClosePort_Modbus(Port);
    const double cost = std::max(0.0, median(on) - median(off));
    std::printf("    pseudo-terminal: %.1f us without, %.1f us with the trace: %.1f us per exchange\n",
                median(off), median(on), cost);
    std::printf("    exchange at 9600 on the wire: %.1f us; trace cost %.3f %% of it (target under 2 %%)\n\n",
                exchange, 100 * cost / exchange);
}

void scanSweep(int turnaroundMs) {
    std::printf("(e) scan worst case on one port: 144 probes on a silent line, turnaround %d ms\n",
                turnaroundMs);
    SimProcess sim({"-c", "silent"});
    qputenv("MODBUS485_PORT1", sim.devicePath().toLocal8Bit());
    QElapsedTimer clock;
    clock.start();
    int probes = 0;
    for (int baudCode : {1, 2, 0}) {
        for (int parityCode = 0; parityCode < 3; ++parityCode) {
            OpenPort_Modbus(Port, baudCode, parityCode);
            SetPort_Turnaround(Port, turnaroundMs);
            for (int station = 1; station <= 16; ++station) {
                int32_t inputs[2];
                Get_1X_B16(Port, station, 1, inputs);
                ++probes;
            }
        }
    }
    ClosePort_Modbus(Port);
    std::printf("    %d probes in %.1f s (target at most 10 s)\n\n", probes, clock.nsecsElapsed() / 1e9);
}

void faultedReads(int rounds) {
    std::printf("(f) 9600 baud: one 8-register read spoilt by a line fault, %d rounds\n", rounds);
    std::printf("    %-14s %9s %9s\n", "fault", "median ms", "max ms");
    SimProcess sim;
    qputenv("MODBUS485_PORT1", sim.devicePath().toLocal8Bit());
    OpenPort_Modbus(Port, 1, 0);
    int32_t words[8];
    for (const char *fault :
         {"silent 1", "late 300 1", "corrupt-crc 1", "wrong-station 1", "exception 4 1", "garbage 1"}) {
        std::vector<double> times;
        QElapsedTimer clock;
        for (int i = 0; i < rounds; ++i) {
            // Past the station's demotion, so the read goes out, and from a fresh open: what the rounds
            // before taught the port (a late answer makes it wait longer) is forgotten.
            QThread::msleep(MODBUS485_DEMOTION_MS + 100);
            OpenPort_Modbus(Port, 1, 0);
            sim.command(QString::fromLatin1(fault));
            clock.start();
            Get_4X_UnD8(Port, Station, 1, words);
            times.push_back(clock.nsecsElapsed() / 1e6);
        }
        std::printf("    %-14s %9.1f %9.1f\n", fault, median(times),
                    *std::max_element(times.begin(), times.end()));
    }
    ClosePort_Modbus(Port);
    // Every round is the first read after an open, where a silent module is listened for up to 1 s.
    std::printf("    target: at most 1100 ms (the first period's bound of (c))\n");
}

void realLines(int periods) {
    std::printf("\n(g) 9600 baud, --wire, six reads every 500 ms from the open, %d periods after the first "
                "right read\n",
                periods);
    // Once learned: the reads from the first right one, and from the last one whose pause before its request
    // differed from the one before.
    std::printf("    %-12s %22s %18s %17s %14s %9s\n", "line", "reads to the first right", "right after it",
                "right once learned", "allowance ms", "pause ms");
    int32_t words[8];
    const std::function<bool()> poll[] = {
        [&] { return Get_1X_B16(Port, Station, 1, words) != MODBUS485_FAILED; },
        [&] { return Get_0X_B16(Port, Station, 1, words) != MODBUS485_FAILED; },
        [&] { return Get_3X_UnD8(Port, Station, 1, words) != MODBUS485_FAILED; },
        [&] { return Get_4X_UnD8(Port, Station, 1, words) == 101; },
        [&] { return Get_4X_UnD1(Port, Station, 9) != MODBUS485_FAILED; },
        [&] { return Get_4X_D1(Port, Station, 256) != MODBUS485_FAILED; }};
    for (const char *line :
         {"late 80", "late 150", "late 300", "echo on", "noise ff", "deaf 10", "deaf 30"}) {
        SimProcess sim({"--wire", "-c", "register 1 101", "-c", line});
        qputenv("MODBUS485_PORT1", sim.devicePath().toLocal8Bit());
        OpenPort_Modbus(Port, 1, 0);
        int reads = 0, firstRight = 0, rightAfter = 0, after = 0;
        int32_t counters[MODBUS485_COUNTERS] = {};
        int pause = -1, rightLearned = 0, learned = 0;
        QElapsedTimer period;
        for (int p = 0; p < 60 && (firstRight == 0 || after < 6 * periods); ++p) {
            period.start();
            for (const auto &read : poll) {
                const bool right = read();
                ++reads;
                if (firstRight > 0) {
                    ++after;
                    rightAfter += right;
                } else if (right) {
                    firstRight = reads;
                }
                GetPort_Counters(Port, counters, MODBUS485_COUNTERS);
                if (counters[MODBUS485_COUNTER_FRAME_GAP_MS] != pause)
                    rightLearned = learned = 0;
                pause = counters[MODBUS485_COUNTER_FRAME_GAP_MS];
                learned += firstRight > 0;
                rightLearned += firstRight > 0 && right;
            }
            QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, 500 - period.elapsed())));
        }
        ClosePort_Modbus(Port);
        std::printf("    %-12s %22d %17.1f%% %16.1f%% %14d %9d\n", line, firstRight,
                    after ? 100.0 * rightAfter / after : 0.0, learned ? 100.0 * rightLearned / learned : 0.0,
                    counters[MODBUS485_COUNTER_TURNAROUND_MS], pause);
    }
}
} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const qsizetype only = args.indexOf(QStringLiteral("--only"));
    const QString parts = only > 0 && only + 1 < args.size() ? args[only + 1] : QStringLiteral("abcdefg");
    if (parts.contains('a'))
        roundTrips(quick ? 40 : 200);
    if (parts.contains('b'))
        wireTime(quick ? 3 : 9);
    if (parts.contains('c'))
        silentModule(quick ? 3 : 8);
    if (parts.contains('d'))
        traceCost(quick ? 80 : 400);
    if (parts.contains('e'))
        scanSweep(20); // the turnaround qm4107-ports scans with
    if (parts.contains('f'))
        faultedReads(quick ? 3 : 10);
    if (parts.contains('g'))
        realLines(quick ? 4 : 20);
    return 0;
}
