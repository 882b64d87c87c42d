#include "LinkTestSupport.h"
#include "SimFaults.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

// MODBUS485 when the line or the module misbehaves: failure marking, guard elements, late answers, demotion
// of a silent station and its return, a device that goes away.
namespace {
// One kind of exchange the panel makes, with the values a healthy module gives back.
struct Exchange {
    const char *name;
    int blockSize;
    std::function<int32_t(int32_t *)> call;
    int32_t good;
    std::vector<int32_t> goodElements;
    const char *log;
};

std::vector<Exchange> exchanges() {
    return {
        {"Get_4X_UnD8",
         8,
         [](int32_t *e) { return Get_4X_UnD8(1, 1, 1, e); },
         101,
         {101, 102, 103, 104, 105, 106, 107, 108},
         "read-holding-registers 1 8"},
        {"Get_1X_B16", 2, [](int32_t *e) { return Get_1X_B16(1, 1, 1, e); }, 3, {3, 2}, "read-inputs 1 16"},
        {"Get_4X_D1",
         0,
         [](int32_t *) { return Get_4X_D1(1, 1, 256); },
         -1,
         {},
         "read-holding-registers 256 1"},
        {"Set_4X_D1", 0, [](int32_t *) { return Set_4X_D1(1, 1, 9, 1); }, 0, {}, "write-register 9 1"},
    };
}

const QStringList moduleSetup = {"-c", "inputs 1100000001", "-c", "register 1 101", "-c", "register 2 102",
                                 "-c", "register 3 103",    "-c", "register 4 104", "-c", "register 5 105",
                                 "-c", "register 6 106",    "-c", "register 7 107", "-c", "register 8 108",
                                 "-c", "register 256 -1"};

// The exchange's outcome: true when good, false when failed; a value that is neither fails the test.
bool goodOrFailed(const Exchange &x) {
    GuardedBlock block(x.blockSize);
    const int32_t result = x.call(block.elements());
    EXPECT_TRUE(block.guardsIntact()) << x.name;
    if (result == F) {
        if (x.blockSize) {
            EXPECT_EQ(block.values(), std::vector<int32_t>(x.blockSize, F)) << x.name;
        }
        return false;
    }
    EXPECT_EQ(result, x.good) << x.name;
    if (x.blockSize) {
        EXPECT_EQ(block.values(), x.goodElements) << x.name;
    }
    return true;
}

// Only a hang runs into this; how long the library takes is bench/link_bench's business.
constexpr int HangMs = 20000;

// Repeats the exchange until it is good again; false if it never is.
bool becomesGood(const Exchange &x) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < HangMs) {
        if (goodOrFailed(x))
            return true;
        QThread::msleep(20);
    }
    return false;
}
// Reads registers 2-9 until one read is good. Every read must be either failed in each element or exactly
// `expected`: never the late block of registers 1-8. `afterRead` runs after each read.
bool readRegisters2To9UntilGood(const std::vector<int32_t> &expected,
                                const std::function<void()> &afterRead = {}) {
    bool good = false;
    QElapsedTimer clock;
    clock.start();
    while (!good && clock.elapsed() < HangMs) {
        GuardedBlock next(8);
        const int32_t result = Get_4X_UnD8(1, 1, 2, next.elements());
        EXPECT_TRUE(next.guardsIntact());
        good = result != F;
        EXPECT_EQ(next.values(), good ? expected : std::vector<int32_t>(8, F));
        if (afterRead)
            afterRead();
        QThread::msleep(20);
    }
    return good;
}
} // namespace

class Faults : public SimLinkTest {};

TEST_F(Faults, EachFaultFailsOneExchangeCleanly) {
    startSim(moduleSetup);
    for (const SimFault &fault : SimFaults) {
        for (const Exchange &x : exchanges()) {
            SCOPED_TRACE(std::string(fault.command) + " / " + x.name);
            ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK); // what the port learned is forgotten
            readFirst();
            sim().command(fault.command);
            EXPECT_FALSE(goodOrFailed(x));
            // Exactly one request went out: no hidden retries. Settled: the whole answer is on the line.
            EXPECT_EQ(sim().takeSettledLog(), QStringList{QString::fromLatin1(x.log) + fault.logSuffix});
            EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_OK); // a misbehaving module is no port fault
            // The fault was for one request: the module is read normally again, at once unless held back,
            // and nothing of the spoilt answer is taken for the next.
            EXPECT_TRUE(fault.heldBack ? becomesGood(x) : goodOrFailed(x));
            if (fault.teaches) {
                sim().takeSettledLog();
                EXPECT_TRUE(goodOrFailed(x));
                EXPECT_EQ(sim().takeSettledLog(), QStringList{QString::fromLatin1(x.log) + fault.logSuffix});
                sim().command("normal");
            }
            sim().takeLog();
        }
    }
}

TEST_F(Faults, LateAnswerIsNeverTakenForTheNextRequest) {
    startSim(moduleSetup);
    // Answers that come in while the library drains, during the next request, or long after.
    for (int lateMs : {90, 140, 150, 160, 250}) {
        SCOPED_TRACE(lateMs);
        // Each case from the allowance of a fresh open: the case before has taught the port a longer one.
        ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
        // A master held up between sending and listening can still be listening when a slightly late
        // answer comes; that is its own request's answer, and the case is set up again.
        bool firstFailed = false;
        for (int attempt = 0; attempt < 10 && !firstFailed; ++attempt) {
            sim().command(QString("late %1 1").arg(lateMs));
            GuardedBlock first(8);
            firstFailed = Get_4X_UnD8(Port, Station, 1, first.elements()) == F;
            EXPECT_EQ(first.values(), firstFailed ? std::vector<int32_t>(8, F) : exchanges()[0].goodElements);
        }
        ASSERT_TRUE(firstFailed);
        // A write goes out at once, a read of the registers one further on later: neither may see the late
        // block of registers 1-8.
        const int32_t write = Set_4X_D1(Port, Station, 9, lateMs);
        EXPECT_TRUE(write == 0 || write == F);
        EXPECT_TRUE(readRegisters2To9UntilGood({102, 103, 104, 105, 106, 107, 108, lateMs}));
        sim().takeLog();
    }
}

TEST_F(Faults, LateAnswerMeetingALaterReadIsNotTakenWhenTheRightOneLags) {
    // On a real line an answer that follows another comes a whole frame time behind it, not at once.
    startSim(QStringList{"--wire"} + moduleSetup);
    sim().command("late 200 1");
    GuardedBlock first(8);
    EXPECT_EQ(Get_4X_UnD8(Port, Station, 1, first.elements()), F);
    // The module stalls before its late answer: a write goes unanswered and the station's demotion runs out.
    const auto pid = static_cast<pid_t>(sim().processId());
    ::kill(pid, SIGSTOP);
    EXPECT_EQ(Set_4X_D1(Port, Station, 9, 77), F);
    // Not a race: the next read must find the demotion over, and a busy machine only makes this longer.
    QThread::msleep(MODBUS485_DEMOTION_MS + 20);
    // It comes back while the next read waits: the late block of registers 1-8 arrives first, with the
    // write's answer and this read's own answer one frame time after another behind it.
    std::thread resume([pid] {
        QThread::msleep(15);
        ::kill(pid, SIGCONT);
    });
    const bool good = readRegisters2To9UntilGood({102, 103, 104, 105, 106, 107, 108, 77}, [&resume] {
        if (resume.joinable())
            resume.join();
    });
    if (resume.joinable())
        resume.join();
    EXPECT_TRUE(good);
}

TEST_F(Faults, SilentStationIsDemotedAndComesBack) {
    startSim(moduleSetup);
    sim().command("silent");
    // One poll period's reads: only one goes out, the rest fail at once.
    int32_t words[8];
    EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_OK);
    EXPECT_EQ(Get_1X_B16(Port, Station, 1, words), F);
    EXPECT_EQ(Get_0X_B16(Port, Station, 1, words), F);
    EXPECT_EQ(Get_3X_UnD8(Port, Station, 1, words), F);
    EXPECT_EQ(Get_4X_UnD8(Port, Station, 1, words), F);
    EXPECT_EQ(Get_4X_UnD1(Port, Station, 9), F);
    EXPECT_EQ(Get_4X_D1(Port, Station, 256), F);
    EXPECT_EQ(sim().takeLog(), QStringList{"read-inputs 1 16 silent"});
    // Writes always go out.
    EXPECT_EQ(Set_0X_Bit1(Port, Station, 1), F);
    EXPECT_EQ(Rst_0X_Bit1(Port, Station, 1), F);
    EXPECT_EQ(sim().takeLog(), (QStringList{"write-coil 1 1 silent", "write-coil 1 0 silent"}));
    // Polled over a second or more, the station gets probes, one a demotion period at most: the bound is
    // taken from the time that really passed, however slow the machine.
    QElapsedTimer clock;
    clock.start();
    int probes = 0;
    while (clock.elapsed() < 1000 || probes == 0) {
        Get_1X_B16(Port, Station, 1, words);
        Get_4X_UnD8(Port, Station, 1, words);
        probes = static_cast<int>(sim().takeLog().size()) + probes;
        ASSERT_LT(clock.elapsed(), HangMs);
        QThread::msleep(100);
    }
    EXPECT_LE(probes, clock.elapsed() / MODBUS485_DEMOTION_MS + 1);
    // Back once it answers again.
    sim().command("normal");
    EXPECT_TRUE(becomesGood(exchanges()[0]));
}

TEST_F(Faults, DeviceThatGoesAwayTurnsStatusNonZero) {
    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "simulator killed" : "device closed");
        startSim(moduleSetup);
        ASSERT_EQ(GetPort_Status(Port), MODBUS485_STATUS_OK);
        if (killed)
            ::kill(static_cast<pid_t>(sim().processId()), SIGKILL);
        else
            sim().command("close-device");
        QElapsedTimer clock;
        clock.start();
        while (GetPort_Status(Port) == MODBUS485_STATUS_OK && clock.elapsed() < HangMs)
            QThread::msleep(5);
        EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_DEVICE_FAILED);
        clock.restart();
        for (const Exchange &x : exchanges())
            EXPECT_FALSE(goodOrFailed(x)) << x.name;
        EXPECT_LT(clock.elapsed(), HangMs);
        EXPECT_EQ(ClosePort_Modbus(Port), 0);
        EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_NOT_OPEN);
        // The device is gone for good: opening it again fails cleanly.
        EXPECT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_DEVICE_ERROR);
        EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_NOT_OPEN);
        m_sim.reset();
    }
}

TEST_F(Faults, OneProbeAtATimeAcrossThreads) {
    startSim(moduleSetup);
    sim().command("silent");
    std::vector<std::thread> pollers;
    std::atomic<int> failed{0};
    for (int t = 0; t < 4; ++t)
        pollers.emplace_back([&] {
            int32_t words[8];
            for (int i = 0; i < 3; ++i)
                failed += Get_4X_UnD8(Port, Station, 1, words) == F;
        });
    for (std::thread &poller : pollers)
        poller.join();
    EXPECT_EQ(failed, 12);
    EXPECT_EQ(sim().takeLog(), QStringList{"read-holding-registers 1 8 silent"});
}
