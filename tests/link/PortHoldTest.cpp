#include "LinkTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fstream>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// A port held by one program alone, and a device taken back when it comes back under its path.
namespace {
bool waitForStatus(int32_t status) {
    QElapsedTimer clock;
    clock.start();
    while (GetPort_Status(1) != status && clock.elapsed() < 20000)
        QThread::msleep(10);
    return GetPort_Status(1) == status;
}

// Read calls this process has made: an open retried on each poll reads nothing, while a search for the
// device's holder reads /proc/locks.
long readCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    while (io >> key >> value && key != "syscr:") {
    }
    return value;
}
} // namespace

class PortHold : public SimLinkTest {};

TEST_F(PortHold, SecondProgramIsRefusedWhileTheFirstGoesOn) {
    startSim({"-c", "inputs 11"});
    const QString opener = QCoreApplication::applicationDirPath() + "/modbus485_second_opener";
    QFile comm("/proc/self/comm");
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    const QString us = QString::fromUtf8(comm.readAll().trimmed()) + ' ' +
                       QString::number(QCoreApplication::applicationPid());
    int reads = 0;
    int failed = 0;
    auto readInputs = [&] {
        int32_t inputs[2];
        ++reads;
        failed += Get_1X_B16(Port, Station, 1, inputs) != 3;
    };
    bool skipped = false;
    // Whatever line the second program asks for, and whoever runs it, ours stays as it was. Another user
    // than root may read and write the device, so only the hold refuses it.
    const QByteArray device = sim().devicePath().toLocal8Bit();
    struct stat held {};
    ASSERT_EQ(::stat(device, &held), 0);
    for (const auto &[settings, user] :
         {std::pair{QStringList{"1", "0"}, 0}, {{"2", "2"}, 0}, {{"0", "1"}, 0}, {{"1", "0"}, 65534}}) {
        SCOPED_TRACE((settings.join(' ') + " as user " + QString::number(user)).toStdString());
        if (user != 0 && ::geteuid() != 0) {
            skipped = true; // only root can start a program as another user
            continue;
        }
        ::chmod(device, user != 0 ? 0666 : held.st_mode & 07777);
        QProcess second;
        if (user != 0)
            second.setChildProcessModifier([user] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
                    ::_exit(3);
            });
        second.start(opener, settings);
        ASSERT_TRUE(second.waitForStarted(10000));
        const int before = reads;
        while (!second.waitForFinished(1))
            readInputs();
        while (reads - before < 20)
            readInputs();
        EXPECT_EQ(QString::fromUtf8(second.readAllStandardOutput()),
                  "2\n端口1：" + sim().devicePath() + "（环境变量 MODBUS485_PORT1）\n打开失败：设备被占用（" +
                      us + "）\n");
    }
    ::chmod(device, held.st_mode & 07777);
    EXPECT_EQ(failed, 0) << "of " << reads;
    EXPECT_FALSE(sim().takeLog().join('\n').contains("wrong-line"));
    // Closed, the port is free for the other program; its end, even through _Exit, frees it again.
    ClosePort_Modbus(Port);
    QProcess second;
    second.start(opener, {"1", "0"});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(second.readAllStandardOutput()).endsWith("\n3\n"));
    ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
    int32_t inputs[2];
    EXPECT_EQ(Get_1X_B16(Port, Station, 1, inputs), 3);
    if (skipped)
        GTEST_SKIP() << "the second program as another user needs root";
}

TEST_F(PortHold, DeviceBackUnderItsPathIsTakenBackWithItsCounts) {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyQM");
    const QStringList module = {"--link", link, "--baud", "19200", "--parity", "even", "-c", "register 1 42"};
    m_sim = std::make_unique<SimProcess>(module);
    qputenv("MODBUS485_PORT1", link.toLocal8Bit());
    ASSERT_EQ(OpenPort_Modbus(Port, 2, 2), MODBUS485_OPEN_OK);
    EXPECT_EQ(Get_4X_UnD1(Port, Station, 1), 42);
    m_sim.reset(); // the adapter pulled out
    ASSERT_TRUE(waitForStatus(MODBUS485_STATUS_DEVICE_FAILED));
    EXPECT_EQ(Get_4X_UnD1(Port, Station, 1), F);
    m_sim = std::make_unique<SimProcess>(module); // and plugged back in, but held by another first
    const int other = ::open(m_sim->devicePath().toLocal8Bit(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const long probe = readCalls(), before = readCalls();
    for (int poll = 0; poll < 7; ++poll)
        EXPECT_EQ(GetPort_Status(1), MODBUS485_STATUS_DEVICE_FAILED);
    EXPECT_EQ(readCalls() - before, before - probe) << "the busy device's holder was searched for";
    ::close(other);
    ASSERT_TRUE(waitForStatus(MODBUS485_STATUS_OK));
    EXPECT_EQ(Get_4X_UnD1(Port, Station, 1), 42); // at 19200 even, as the port was opened
    EXPECT_EQ(counters()[MODBUS485_COUNTER_GOOD], 2);
    EXPECT_FALSE(sim().takeLog().join('\n').contains("wrong-line"));
}

TEST_F(PortHold, PseudoTerminalLeftByAProgramEndedAtParityOpensAndSaysSo) {
    startSim({"--parity", "even", "-c", "inputs 11"}, 1, 2);
    ClosePort_Modbus(Port);
    // The other program ends through _Exit with the port open at even parity, as a crash would.
    QProcess second;
    second.start(QCoreApplication::applicationDirPath() + "/modbus485_second_opener", {"1", "2"});
    ASSERT_TRUE(second.waitForFinished(30000));
    ASSERT_EQ(OpenPort_Modbus(Port, 1, 2), MODBUS485_OPEN_OK);
    char info[512];
    GetPort_Info(Port, info, sizeof info);
    EXPECT_TRUE(QString::fromUtf8(info).endsWith("\n伪终端不能保持校验位，已照常打开")) << info;
    int32_t inputs[2];
    EXPECT_EQ(Get_1X_B16(Port, Station, 1, inputs), 3);
    EXPECT_FALSE(sim().takeLog().join('\n').contains("wrong-line"));
}
