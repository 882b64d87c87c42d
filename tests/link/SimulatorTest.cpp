#include "Crc16.h"
#include "QStringPrinter.h"
#include "SimProcess.h"

#include <modbus/modbus.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <unistd.h>
#include <vector>

// qm4107-sim against plain libmodbus as an independent master.
namespace {
struct ModbusDeleter {
    void operator()(modbus_t *ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Master = std::unique_ptr<modbus_t, ModbusDeleter>;

constexpr int AnswerTimeoutS = 10;

Master connectTo(const QString &device, int station = 1) {
    Master ctx(modbus_new_rtu(device.toLocal8Bit().constData(), 9600, 'N', 8, 1));
    if (!ctx || modbus_connect(ctx.get()) != 0)
        return nullptr;
    modbus_set_slave(ctx.get(), station);
    // Long enough for a loaded machine: a test that expects no answer sets a short time-out for that request.
    modbus_set_response_timeout(ctx.get(), AnswerTimeoutS, 0);
    return ctx;
}

// Returns 0 when served, the exception code when refused, -1 on no answer.
int outcome(int rc) {
    if (rc >= 0)
        return 0;
    if (errno > MODBUS_ENOBASE && errno < MODBUS_ENOBASE + 12)
        return errno - MODBUS_ENOBASE;
    return -1;
}
} // namespace

TEST(Simulator, AnswersExactlyTheModuleItems) {
    SimProcess sim;
    ASSERT_FALSE(sim.devicePath().isEmpty());
    Master m = connectTo(sim.devicePath());
    ASSERT_TRUE(m);
    uint8_t bits[32];
    uint16_t regs[16];
    // Protocol addresses: reference number - 1.
    struct Case {
        const char *what;
        std::function<int()> call;
        int expected;
        const char *log;
    } cases[] = {
        {"coils 1-16", [&] { return modbus_read_bits(m.get(), 0, 16, bits); }, 0, "read-coils 1 16"},
        {"coil 17", [&] { return modbus_read_bits(m.get(), 16, 1, bits); }, 2, "read-coils 17 1 exception 2"},
        {"inputs 1-16", [&] { return modbus_read_input_bits(m.get(), 0, 16, bits); }, 0, "read-inputs 1 16"},
        {"inputs 2-17", [&] { return modbus_read_input_bits(m.get(), 1, 16, bits); }, 2,
         "read-inputs 2 16 exception 2"},
        {"input registers 1-8", [&] { return modbus_read_input_registers(m.get(), 0, 8, regs); }, 0,
         "read-input-registers 1 8"},
        {"input register 9", [&] { return modbus_read_input_registers(m.get(), 8, 1, regs); }, 2,
         "read-input-registers 9 1 exception 2"},
        {"holding 1-8", [&] { return modbus_read_registers(m.get(), 0, 8, regs); }, 0,
         "read-holding-registers 1 8"},
        {"holding 9", [&] { return modbus_read_registers(m.get(), 8, 1, regs); }, 0,
         "read-holding-registers 9 1"},
        {"holding 10", [&] { return modbus_read_registers(m.get(), 9, 1, regs); }, 2,
         "read-holding-registers 10 1 exception 2"},
        {"holding 256", [&] { return modbus_read_registers(m.get(), 255, 1, regs); }, 0,
         "read-holding-registers 256 1"},
        {"holding 255-256", [&] { return modbus_read_registers(m.get(), 254, 2, regs); }, 2,
         "read-holding-registers 255 2 exception 2"},
        {"write coil 5", [&] { return modbus_write_bit(m.get(), 4, 1); }, 0, "write-coil 5 1"},
        {"write coil 6", [&] { return modbus_write_bit(m.get(), 5, 1); }, 2, "write-coil 6 1 exception 2"},
        {"write register 9", [&] { return modbus_write_register(m.get(), 8, 1); }, 0, "write-register 9 1"},
        {"write register 256", [&] { return modbus_write_register(m.get(), 255, 2); }, 0,
         "write-register 256 2"},
        {"write register 10", [&] { return modbus_write_register(m.get(), 9, 1); }, 2,
         "write-register 10 1 exception 2"},
        {"write register 0 (protocol)", [&] { return modbus_write_register(m.get(), 0, 7); }, 0,
         "write-register 1 7"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(outcome(c.call()), c.expected);
        EXPECT_EQ(sim.takeLog(), QStringList{QString::fromLatin1(c.log)});
    }
    EXPECT_EQ(sim.stateValue("coils"), "0000100000000000");
    EXPECT_EQ(sim.stateValue("holding-registers"), "7,0,0,0,0,0,0,0,1");
    EXPECT_EQ(sim.stateValue("parity"), "2");
}

TEST(Simulator, InputsPulsesAndCountClearing) {
    SimProcess sim({"-c", "inputs 1010000001"});
    Master m = connectTo(sim.devicePath());
    ASSERT_TRUE(m);
    uint8_t bits[16];
    ASSERT_EQ(modbus_read_input_bits(m.get(), 0, 16, bits), 16);
    const uint8_t expected[16] = {1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(bits, expected, 16));

    sim.command("input 3 0");
    sim.command("pulses 2 1000");
    ASSERT_EQ(modbus_read_input_bits(m.get(), 2, 1, bits), 1);
    EXPECT_EQ(bits[0], 0);
    uint16_t regs[8];
    ASSERT_EQ(modbus_read_input_registers(m.get(), 0, 8, regs), 8);
    EXPECT_EQ(regs[1], 1000);
    // The count of X2 rises with the pulses.
    QElapsedTimer clock;
    clock.start();
    do {
        ASSERT_EQ(modbus_read_registers(m.get(), 1, 1, regs), 1);
        ASSERT_LT(clock.elapsed(), 20000);
    } while (regs[0] < 20);
    sim.command("pulses 2 0");
    ASSERT_EQ(modbus_write_register(m.get(), 1, 0), 1);
    ASSERT_EQ(modbus_read_registers(m.get(), 0, 3, regs), 3);
    EXPECT_EQ(regs[1], 0);
}

TEST(Simulator, ProtocolAddressingAndOtherStations) {
    SimProcess sim({"--addressing", "protocol", "--station", "7"});
    Master m = connectTo(sim.devicePath(), 7);
    ASSERT_TRUE(m);
    EXPECT_EQ(modbus_write_bit(m.get(), 3, 1), 1);
    EXPECT_EQ(outcome(modbus_write_bit(m.get(), 0, 1)), 2);
    EXPECT_EQ(sim.takeLog(), (QStringList{"write-coil 3 1", "write-coil 0 1 exception 2"}));
    EXPECT_EQ(sim.stateValue("coils"), "0010000000000000");

    // A request for another station is neither answered nor logged, and does not disturb the next one.
    modbus_set_slave(m.get(), 8);
    modbus_set_response_timeout(m.get(), 0, 50000);
    uint8_t bits[16];
    EXPECT_EQ(outcome(modbus_read_bits(m.get(), 1, 16, bits)), -1);
    modbus_set_response_timeout(m.get(), AnswerTimeoutS, 0);
    modbus_set_slave(m.get(), 7);
    EXPECT_EQ(modbus_read_bits(m.get(), 1, 16, bits), 16);
    EXPECT_EQ(bits[2], 1);
    EXPECT_EQ(sim.takeLog(), QStringList{"read-coils 1 16"});
}

TEST(Simulator, LinkIsReplacedAndRemoved) {
    QTemporaryDir dir;
    const QString link = dir.filePath("qm4107");
    {
        SimProcess first({"--link", link});
        ASSERT_EQ(first.devicePath(), link);
        {
            SimProcess second({"--link", link});
            ASSERT_EQ(second.devicePath(), link);
            EXPECT_TRUE(QFileInfo(link).isSymLink());
            Master m = connectTo(link);
            ASSERT_TRUE(m);
            uint8_t bits[16];
            EXPECT_EQ(modbus_read_bits(m.get(), 0, 16, bits), 16);
            EXPECT_TRUE(second.waitForLog("read-coils 1 16", 20000));
            EXPECT_TRUE(first.takeLog().isEmpty());
        }
        // The second took the name; the first leaves it alone, and the second removed its own.
        EXPECT_FALSE(QFileInfo::exists(link));
        EXPECT_FALSE(QFileInfo(link).isSymLink());
    }
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

namespace {
std::vector<uint8_t> withCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = modbus485::crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}
} // namespace

TEST(Simulator, ServesARealDeviceGivenByPath) {
    // The test holds the master side of a pseudo-terminal, as a serial adapter's far end would be.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const QString device = QString::fromLocal8Bit(ptsname(master));
    {
        SimProcess sim({"--device", device, "--station", "5", "-c", "coil 1 1", "-c", "coil 9 1"});
        ASSERT_EQ(sim.devicePath(), device);
        const std::vector<uint8_t> request = withCrc({5, 1, 0, 0, 0, 16});
        ASSERT_EQ(::write(master, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        ASSERT_TRUE(sim.waitForLog("read-coils 1 16", 20000));
        std::vector<uint8_t> answer(7);
        size_t got = 0;
        pollfd fd{master, POLLIN, 0};
        while (got < answer.size() && ::poll(&fd, 1, 20000) > 0)
            got += static_cast<size_t>(
                std::max<ssize_t>(0, ::read(master, answer.data() + got, answer.size() - got)));
        EXPECT_EQ(answer, withCrc({5, 1, 2, 0x01, 0x01}));
    }
    ::close(master);
}

TEST(Simulator, WireTakesTheFramesTimeAtTheBaud) {
    SimProcess sim({"--wire", "--baud", "4800"});
    Master m(modbus_new_rtu(sim.devicePath().toLocal8Bit().constData(), 4800, 'N', 8, 1));
    ASSERT_EQ(modbus_connect(m.get()), 0);
    modbus_set_slave(m.get(), 1);
    modbus_set_response_timeout(m.get(), AnswerTimeoutS, 0);
    uint16_t regs[8];
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(modbus_read_registers(m.get(), 0, 8, regs), 8);
    // 8-byte request, 3.5 characters of silence, 21-byte answer; 10 bits a character at 4800.
    const double wireMs = (8 + 3.5 + 21) * 10 * 1000.0 / 4800;
    EXPECT_GE(clock.elapsed(), static_cast<qint64>(wireMs));
    // Only a hang; bench/link_bench measures the figure.
    EXPECT_LT(clock.elapsed(), static_cast<qint64>(wireMs) * 30);
}

TEST(Simulator, FaultsForSomeRequestsThenNormal) {
    SimProcess sim({"-c", "register 256 1"});
    Master m = connectTo(sim.devicePath());
    ASSERT_TRUE(m);
    uint16_t value = 0;
    sim.command("exception 6 2");
    EXPECT_EQ(sim.stateValue("fault"), "pending");
    EXPECT_EQ(outcome(modbus_read_registers(m.get(), 255, 1, &value)), 6);
    EXPECT_EQ(outcome(modbus_write_register(m.get(), 255, 2)), 6);
    EXPECT_EQ(modbus_read_registers(m.get(), 255, 1, &value), 1);
    EXPECT_EQ(value, 1); // the refused write changed nothing
    sim.command("silent");
    EXPECT_EQ(sim.stateValue("fault"), "on");
    modbus_set_response_timeout(m.get(), 0, 100000);
    EXPECT_EQ(outcome(modbus_read_registers(m.get(), 255, 1, &value)), -1);
    modbus_set_response_timeout(m.get(), AnswerTimeoutS, 0);
    sim.command("normal");
    sim.command("no such command"); // reported on stderr, ignored
    EXPECT_EQ(modbus_read_registers(m.get(), 255, 1, &value), 1);
    EXPECT_EQ(sim.takeLog(),
              (QStringList{"read-holding-registers 256 1 exception 6", "write-register 256 2 exception 6",
                           "read-holding-registers 256 1", "read-holding-registers 256 1 silent",
                           "read-holding-registers 256 1"}));
}

TEST(Simulator, KilledSimulatorsLinkIsTakenOverByTheNext) {
    QTemporaryDir dir;
    const QString link = dir.filePath("qm4107");
    {
        SimProcess first({"--link", link});
        ASSERT_EQ(first.devicePath(), link);
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    }
    EXPECT_TRUE(QFileInfo(link).isSymLink()); // nothing can clean up after SIGKILL...
    {
        SimProcess second({"--link", link}); // ...but the next simulator replaces the stale link
        ASSERT_EQ(second.devicePath(), link);
        Master m = connectTo(link);
        ASSERT_TRUE(m);
        uint8_t bits[16];
        EXPECT_EQ(modbus_read_bits(m.get(), 0, 16, bits), 16);
    }
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(Simulator, MasterAtAnotherBaudOrParityIsNotAnswered) {
    struct Line {
        const char *simBaud;
        int baud;
        char parity;
        bool answered;
    } lines[] = {{"19200", 9600, 'E', false}, {"19200", 19200, 'N', false}, {"19200", 19200, 'O', false},
                 {"19200", 19200, 'E', true}, {"115200", 9600, 'E', false}, {"115200", 115200, 'E', true},
                 {"1200", 1200, 'E', true}};
    for (const Line &line : lines) {
        SCOPED_TRACE(std::string(line.simBaud) + " " + std::to_string(line.baud) + line.parity);
        SimProcess sim({"--baud", line.simBaud, "--parity", "even"});
        Master m(modbus_new_rtu(sim.devicePath().toLocal8Bit().constData(), line.baud, line.parity, 8, 1));
        ASSERT_EQ(modbus_connect(m.get()), 0);
        modbus_set_slave(m.get(), 1);
        // No answer is expected on a wrong line, so only a right one needs time to spare.
        modbus_set_response_timeout(m.get(), line.answered ? AnswerTimeoutS : 0, line.answered ? 0 : 100000);
        EXPECT_EQ(modbus_write_bit(m.get(), 1, 1) == 1, line.answered);
        EXPECT_EQ(sim.takeLog(), QStringList{line.answered ? "write-coil 2 1" : "write-coil 2 1 wrong-line"});
        EXPECT_EQ(sim.stateValue("coils").startsWith("01"), line.answered);
    }
}

TEST(Simulator, CountsAndLogsEveryFrameThatReachedIt) {
    SimProcess sim({"--log-frames"});
    Master m = connectTo(sim.devicePath());
    ASSERT_TRUE(m);
    modbus_set_response_timeout(m.get(), 0, 100000);
    const auto hex = [](const std::vector<uint8_t> &frame) {
        QString text = QStringLiteral("frame");
        for (const uint8_t byte : frame)
            text += QStringLiteral(" %1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        return text;
    };
    uint8_t bits[16];
    const std::vector<uint8_t> good = withCrc({1, 2, 0, 0, 0, 16});
    std::vector<uint8_t> badCrc = good;
    badCrc.back() ^= 0x5A;
    const std::vector<uint8_t> otherStation = withCrc({2, 2, 0, 0, 0, 16});

    EXPECT_EQ(modbus_read_input_bits(m.get(), 0, 16, bits), 16);
    ASSERT_EQ(::write(modbus_get_socket(m.get()), badCrc.data(), badCrc.size()),
              static_cast<ssize_t>(badCrc.size()));
    ASSERT_TRUE(sim.waitForLog(hex(badCrc), 5000));
    modbus_set_slave(m.get(), 2);
    EXPECT_EQ(outcome(modbus_read_input_bits(m.get(), 0, 16, bits)), -1);
    modbus_set_slave(m.get(), 1);
    // Each command taken in (its state answered) before the request that meets it goes out: the simulator may
    // read the line before its commands otherwise.
    sim.command("exception 2 1");
    sim.state();
    EXPECT_EQ(outcome(modbus_read_input_bits(m.get(), 0, 16, bits)), 2);
    sim.command("silent 1");
    sim.state();
    EXPECT_EQ(outcome(modbus_read_input_bits(m.get(), 0, 16, bits)), -1);

    EXPECT_EQ(sim.takeLog(),
              (QStringList{hex(good), "read-inputs 1 16", hex(badCrc), hex(otherStation), hex(good),
                           "read-inputs 1 16 exception 2", hex(good), "read-inputs 1 16 silent"}));
    const QStringList counters{"received=5",   "answered=2", "bad-frames=1", "other-station=1",
                               "exceptions=1", "faults=2",   "wrong-line=0"};
    const QString state = sim.state();
    for (const QString &counter : counters)
        EXPECT_TRUE(state.contains(u' ' + counter)) << state.toStdString();
    sim.command("frames off");
    sim.state();
    EXPECT_EQ(modbus_read_input_bits(m.get(), 0, 16, bits), 16);
    EXPECT_TRUE(sim.waitForLog("read-inputs 1 16", 5000));
    EXPECT_EQ(sim.takeLog(), QStringList{"read-inputs 1 16"});
}

// A rate the simulator cannot set on its line is refused, never run at another rate.
TEST(Simulator, RefusesABaudRateItCannotRun) {
    for (const char *baud : {"300", "14400", "250000"}) {
        SCOPED_TRACE(baud);
        QProcess sim;
        sim.start(QCoreApplication::applicationDirPath() + "/qm4107-sim", {"--baud", baud});
        ASSERT_TRUE(sim.waitForFinished(30000));
        EXPECT_EQ(sim.exitCode(), 2);
        EXPECT_TRUE(sim.readAllStandardOutput().isEmpty());
        const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
        EXPECT_TRUE(error.startsWith(QStringLiteral("qm4107-sim: ")) && error.contains(baud))
            << error.toStdString();
    }
}

// What a real line adds to the module's answers, byte for byte as the master's side of the line gets them.
TEST(Simulator, LineBehavioursByteForByte) {
    using Bytes = std::vector<uint8_t>;
    const Bytes read = withCrc({1, 1, 0, 0, 0, 16}), coils = withCrc({1, 1, 2, 0, 0});
    const QString served = QStringLiteral("read-coils 1 16");
    // On a bus: station 5 and station 3 read, as the master's side of the line gets them.
    const Bytes read5 = withCrc({5, 1, 0, 0, 0, 16}), coils5 = withCrc({5, 1, 2, 0, 0});
    const Bytes read3 = withCrc({3, 1, 0, 0, 0, 16});
    Bytes collided = withCrc({3, 1, 2, 0, 0});
    collided.back() ^= 0xA5;
    const QStringList bus{"--stations", "1,5"}, busAtTwoSettings{"--stations", "1,5:19200:even"};
    struct Row {
        const char *command;
        Bytes request;
        int times;               // sent this often, each once the one before is logged
        std::vector<Bytes> back; // all that comes back for them, in order
        QStringList log;
        bool untilBack = false; // sent again until `back` comes, for what takes its time
        QStringList simArgs = {};
    } rows[] = {
        {"echo on", read, 1, {read, coils}, {served}},
        {"noise ff 1", read, 2, {{0xFF}, coils, coils}, {served + " noise", served}},
        {"noise 0x00", read, 2, {{0x00}, coils, {0x00}, coils}, {served + " noise", served + " noise"}},
        {"deaf 20000", read, 2, {coils}, {served, served + " deaf"}},
        {"late 20", read, 2, {coils, coils}, {served + " late", served + " late"}},
        {"burst 2 3", withCrc({1, 3, 0, 0, 0, 3}), 1, {withCrc({1, 3, 6, 0, 0, 0, 3, 0, 0})}, {}, true},
        {"@5 silent", read5, 1, {}, {"station 5 " + served + " silent"}, false, bus},
        {"@1 silent", read5, 1, {coils5}, {"station 5 " + served}, false, bus},
        {"@5 coil 1 1", read5, 1, {withCrc({5, 1, 2, 1, 0})}, {"station 5 " + served}, false, bus},
        {"@5 coil 1 1", read, 1, {coils}, {"station 1 " + served}, false, bus},
        {"echo on", read5, 1, {read5, coils5}, {"station 5 " + served}, false, bus},
        {"deaf 20000",
         read5,
         2,
         {coils5},
         {"station 5 " + served, "station 5 " + served + " deaf"},
         false,
         bus},
        {"#", read5, 1, {}, {"station 5 " + served + " wrong-line"}, false, busAtTwoSettings},
        {"#", read, 1, {coils}, {"station 1 " + served}, false, busAtTwoSettings},
        {"#",
         read3,
         1,
         {collided},
         {"station 3 " + served + " collision", "station 3 " + served + " collision"},
         false,
         {"--stations", "3,3"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.command + (" " + row.simArgs.join(u' ')).toStdString());
        SimProcess sim(QStringList{"-c", row.command} + row.simArgs);
        const int line = ::open(sim.devicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        ASSERT_GE(line, 0);
        pollfd fd{line, POLLIN, 0};
        Bytes back;
        for (const Bytes &piece : row.back)
            back.insert(back.end(), piece.begin(), piece.end());
        QElapsedTimer clock;
        clock.start();
        Bytes got;
        do {
            for (int i = 0; i < row.times; ++i) {
                ASSERT_EQ(::write(line, row.request.data(), row.request.size()), ssize_t(row.request.size()));
                ASSERT_TRUE(sim.waitForLog(QString(), 20000));
            }
            got.assign(back.size(), 0);
            size_t have = 0;
            while (have < got.size() && ::poll(&fd, 1, 20000) > 0)
                have += size_t(std::max<ssize_t>(0, ::read(line, got.data() + have, got.size() - have)));
            got.resize(have);
        } while (row.untilBack && got != back && clock.elapsed() < 20000);
        EXPECT_EQ(got, back);
        const QStringList log = sim.takeSettledLog(); // every answer is out once "state" is answered
        EXPECT_EQ(row.untilBack ? row.log : log, row.log);
        EXPECT_EQ(::poll(&fd, 1, 0), 0) << "more bytes than that";
        ::close(line);
    }
}
