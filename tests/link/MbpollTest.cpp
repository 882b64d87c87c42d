#include "QStringPrinter.h"
#include "SimProcess.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

// mbpoll, an independent Modbus master, against qm4107-sim: both must agree on frames, numbering and values.
namespace {
struct MbpollRun {
    const char *what;
    QStringList options; // before the device
    QStringList values;  // after it: values to write
    QStringList output;  // lines mbpoll must print
    const char *log;     // the request the simulator served
};

QString runMbpoll(const QString &device, const QStringList &options, const QStringList &values) {
    QProcess mbpoll;
    QStringList args = {"-m", "rtu", "-b", "9600", "-P", "none", "-a", "1", "-1", "-o", "5"};
    args << options << device << values;
    mbpoll.start(QStringLiteral("mbpoll"), args);
    mbpoll.waitForFinished(60000);
    return QString::fromLocal8Bit(mbpoll.readAllStandardOutput() + mbpoll.readAllStandardError());
}
} // namespace

TEST(Mbpoll, AgreesWithTheSimulator) {
    if (QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty())
        GTEST_SKIP() << "mbpoll is not installed";
    SimProcess sim({"-c", "coil 2 1", "-c", "inputs 0000000001", "-c", "frequency 3 50", "-c", "register 9 1",
                    "-c", "register 256 2"});
    ASSERT_FALSE(sim.devicePath().isEmpty());
    const MbpollRun runs[] = {
        {"coils",
         {"-t", "0", "-r", "1", "-c", "5"},
         {},
         {"[1]: \t0", "[2]: \t1", "[3]: \t0"},
         "read-coils 1 5"},
        {"inputs", {"-t", "1", "-r", "9", "-c", "2"}, {}, {"[9]: \t0", "[10]: \t1"}, "read-inputs 9 2"},
        {"input registers",
         {"-t", "3", "-r", "1", "-c", "8"},
         {},
         {"[3]: \t50", "[8]: \t0"},
         "read-input-registers 1 8"},
        {"holding registers",
         {"-t", "4", "-r", "7", "-c", "3"},
         {},
         {"[7]: \t0", "[9]: \t1"},
         "read-holding-registers 7 3"},
        {"parity register", {"-t", "4", "-r", "256"}, {}, {"[256]: \t2"}, "read-holding-registers 256 1"},
        {"write coil", {"-t", "0", "-r", "5"}, {"1"}, {"Written 1 references."}, "write-coil 5 1"},
        {"write register",
         {"-t", "4", "-r", "256"},
         {"1"},
         {"Written 1 references."},
         "write-register 256 1"},
        {"write registers",
         {"-t", "4", "-r", "4"},
         {"100", "200"},
         {"Written 2 references."},
         "write-registers 4 2"},
        {"unmapped register",
         {"-t", "4", "-r", "10"},
         {},
         {"Illegal data address"},
         "read-holding-registers 10 1 exception 2"},
        {"coil not writable",
         {"-t", "0", "-r", "6"},
         {"1"},
         {"Illegal data address"},
         "write-coil 6 1 exception 2"},
    };
    for (const MbpollRun &run : runs) {
        SCOPED_TRACE(run.what);
        const QString output = runMbpoll(sim.devicePath(), run.options, run.values);
        for (const QString &line : run.output)
            EXPECT_TRUE(output.contains(line)) << "missing \"" << line.toStdString() << "\" in:\n"
                                               << output.toStdString();
        EXPECT_EQ(sim.takeLog(), QStringList{QString::fromLatin1(run.log)});
    }
    EXPECT_EQ(sim.stateValue("coils"), "0100100000000000");
    EXPECT_EQ(sim.stateValue("holding-registers"), "0,0,0,100,200,0,0,0,1");
    EXPECT_EQ(sim.stateValue("parity"), "1");
}

TEST(Mbpoll, ProtocolAddressingAgrees) {
    if (QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty())
        GTEST_SKIP() << "mbpoll is not installed";
    SimProcess sim({"--addressing", "protocol", "-c", "register 256 2"});
    // mbpoll -0 sends the number as the protocol address, as MODBUS485_ADDRESSING=protocol does.
    EXPECT_TRUE(runMbpoll(sim.devicePath(), {"-0", "-t", "4", "-r", "256"}, {}).contains("[256]: \t2"));
    EXPECT_TRUE(
        runMbpoll(sim.devicePath(), {"-0", "-t", "0", "-r", "3"}, {"1"}).contains("Written 1 references."));
    EXPECT_EQ(sim.takeLog(), (QStringList{"read-holding-registers 256 1", "write-coil 3 1"}));
    EXPECT_EQ(sim.stateValue("coils"), "0010000000000000");
}
