// qm4107-ports as the operator runs it: the listing, the user's map, and a scan against qm4107-sim.
#include "LockHolder.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
};

// A scan of a silent line takes seconds; this bound only catches a hang.
constexpr int HangBoundMs = 120000;

class PortsToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        environment.insert(QStringLiteral("MODBUS485_SYSTEM_MAP"),
                           home.filePath(QStringLiteral("no-system-map")));
        // No stray variables from the test run's own environment.
        for (const QString &name : environment.keys())
            if (name.startsWith(QStringLiteral("MODBUS485_PORT")))
                environment.remove(name);
    }

    void start(QProcess &tool, const QStringList &args) {
        tool.setProcessEnvironment(environment);
        tool.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("qm4107-ports")),
                   args);
        tool.waitForStarted();
    }

    ToolRun run(const QStringList &args) {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(tool, args);
        ToolRun result;
        if (!tool.waitForFinished(HangBoundMs)) {
            tool.kill();
            tool.waitForFinished();
            ADD_FAILURE() << "qm4107-ports " << args.join(u' ').toStdString() << " did not finish";
            return result;
        }
        result.exitCode = tool.exitCode();
        result.out = QString::fromUtf8(tool.readAllStandardOutput());
        return result;
    }

    QString userMap() {
        QFile file(home.filePath(QStringLiteral(".config/MODBUS485/ports.conf")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<none>");
    }

    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(PortsToolTest, ListingShowsUsbFieldsPortsAccessAndHolders) {
    // A sysfs with one FTDI adapter, one real UART and one ttyS without hardware.
    QTemporaryDir sysfs, byId;
    const QString usbPort = QStringLiteral("devices/pci0000:00/usb1/1-2/1-2:1.0/ttyUSB7");
    const auto write = [&](const QString &file, const QByteArray &text) {
        QDir().mkpath(QFileInfo(sysfs.filePath(file)).path());
        QFile f(sysfs.filePath(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text + '\n');
    };
    const auto link = [](const QString &target, const QString &name) {
        QDir().mkpath(QFileInfo(name).path());
        ASSERT_TRUE(QFile::link(target, name)) << name.toStdString();
    };
    write(QStringLiteral("devices/pci0000:00/usb1/1-2/idVendor"), "0403");
    write(QStringLiteral("devices/pci0000:00/usb1/1-2/idProduct"), "6001");
    write(QStringLiteral("devices/pci0000:00/usb1/1-2/manufacturer"), "FTDI");
    write(QStringLiteral("devices/pci0000:00/usb1/1-2/product"), "FT232R USB UART");
    write(QStringLiteral("devices/pci0000:00/usb1/1-2/serial"), "A50285BI");
    QDir().mkpath(sysfs.filePath(usbPort + "/tty/ttyUSB7"));
    QDir().mkpath(sysfs.filePath(QStringLiteral("bus/usb-serial/drivers/ftdi_sio")));
    link(sysfs.filePath(QStringLiteral("bus/usb-serial/drivers/ftdi_sio")),
         sysfs.filePath(usbPort + "/driver"));
    link(sysfs.filePath(usbPort), sysfs.filePath(usbPort + "/tty/ttyUSB7/device"));
    link(sysfs.filePath(usbPort + "/tty/ttyUSB7"), sysfs.filePath(QStringLiteral("class/tty/ttyUSB7")));
    for (const char *uart : {"ttyS0", "ttyS1"}) {
        const QString dir = QStringLiteral("devices/platform/serial8250/tty/") + uart;
        write(dir + "/type", uart == std::string("ttyS0") ? "4" : "0");
        link(sysfs.filePath(QStringLiteral("devices/platform/serial8250")), sysfs.filePath(dir + "/device"));
        link(sysfs.filePath(dir), sysfs.filePath(QStringLiteral("class/tty/") + uart));
    }
    const QString adapter = byId.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    link(QStringLiteral("../../ttyUSB7"), adapter);
    environment.insert(QStringLiteral("QM4107_SYSFS"), sysfs.path());
    environment.insert(QStringLiteral("QM4107_BY_ID"), byId.path());

    // Ports from each source: the adapter by its by-id name from the user's map, a busy pseudo-terminal
    // and an idle one, which the listing must not open, from variables, a missing device from the user's map.
    SimProcess sim;
    LockHolder holder(sim.devicePath());
    environment.insert(QStringLiteral("MODBUS485_PORT2"), sim.devicePath());
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString idle = QString::fromLocal8Bit(::ptsname(master));
    environment.insert(QStringLiteral("MODBUS485_PORT6"), idle);
    const int opens = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(opens, idle.toLocal8Bit(), IN_OPEN), 0);
    QDir().mkpath(home.filePath(QStringLiteral(".config/MODBUS485")));
    QFile map(home.filePath(QStringLiteral(".config/MODBUS485/ports.conf")));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write("# adapters\nCOM3=" + adapter.toUtf8() + "\nCOM4=/dev/ttyUSB99\n");
    map.close();

    const ToolRun listing = run({});
    EXPECT_EQ(listing.exitCode, 0);
    const QString userMap = QStringLiteral("from your map ") + map.fileName();
    const QStringList expected{
        "/dev/ttyS0",
        "  port       1 (COM1) from the default",
        "/dev/ttyUSB7  (not present)", // only its sysfs entry is here
        "  by-id      " + adapter,
        "  USB        0403:6001  FTDI  FT232R USB UART  serial A50285BI",
        "  driver     ftdi_sio",
        "  port       3 (COM3) " + userMap + ", as " + adapter,
        sim.devicePath(),
        "  port       2 (COM2) from the variable MODBUS485_PORT2",
        QStringLiteral("  in use     by flock (PID %1)").arg(holder.processId()),
        "/dev/ttyUSB99  (not present)",
        "  port       4 (COM4) " + userMap,
        idle,
        "  port       6 (COM6) from the variable MODBUS485_PORT6",
        "  access     read-write",
        ::geteuid() == 0 ? "  in use     no"
                         : "  in use     not seen", // others' descriptors are closed to us
    };
    qsizetype from = 0;
    for (const QString &line : expected) {
        const qsizetype at = listing.out.indexOf(line + u'\n', from);
        EXPECT_GE(at, 0) << "missing in order: " << line.toStdString() << "\n" << listing.out.toStdString();
        from = at < 0 ? from : at;
    }
    EXPECT_FALSE(listing.out.contains(QStringLiteral("ttyS1"))) << listing.out.toStdString();
    char event[sizeof(inotify_event) + NAME_MAX + 1];
    EXPECT_LT(::read(opens, event, sizeof event), 0) << "the listing opened " << idle.toStdString();
    ::close(opens);
    ::close(master);

    // A system map that is a directory is named as such rather than silently mapping nothing.
    environment.insert(QStringLiteral("MODBUS485_SYSTEM_MAP"), sysfs.path());
    EXPECT_TRUE(run({}).out.startsWith("Warning: the port map " + sysfs.path() +
                                       " is not a regular file and is passed over.\n"));
}

TEST_F(PortsToolTest, MapAndUnmapEditOnlyThePortsLine) {
    SimProcess sim;
    QTemporaryDir byId;
    const QString byIdName = byId.filePath(QStringLiteral("usb-QM_RS485-if00"));
    ASSERT_TRUE(QFile::link(sim.devicePath(), byIdName));
    QDir().mkpath(home.filePath(QStringLiteral(".config/MODBUS485")));
    QFile map(home.filePath(QStringLiteral(".config/MODBUS485/ports.conf")));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write("# mine\nCOM1=/dev/ttyS4\n");
    map.close();

    struct Step {
        QStringList args;
        int exitCode;
        QString file;
    };
    const QString pty = sim.devicePath();
    const std::vector<Step> steps{
        {{"map", "3", pty}, 0, "# mine\nCOM1=/dev/ttyS4\nCOM3=" + pty + "\n"},
        {{"map", "1", pty}, 0, "# mine\nCOM3=" + pty + "\nCOM1=" + pty + "\n"},
        {{"unmap", "3"}, 0, "# mine\nCOM1=" + pty + "\n"},
        {{"unmap", "3"}, 1, "# mine\nCOM1=" + pty + "\n"},
        {{"map", "5", map.fileName()}, 2, "# mine\nCOM1=" + pty + "\n"},
        {{"map", "5", "/dev/ttyUSB99"}, 2, "# mine\nCOM1=" + pty + "\n"},
        {{"map", "0", pty}, 2, "# mine\nCOM1=" + pty + "\n"},
        {{"unmap"}, 2, "# mine\nCOM1=" + pty + "\n"},
    };
    for (const Step &step : steps) {
        EXPECT_EQ(run(step.args).exitCode, step.exitCode) << step.args.join(u' ').toStdString();
        EXPECT_EQ(userMap(), step.file) << step.args.join(u' ').toStdString();
    }

    // A device with a by-id name is mapped by that name, which survives re-plugging.
    environment.insert(QStringLiteral("QM4107_BY_ID"), byId.path());
    EXPECT_EQ(run({"map", "6", pty}).exitCode, 0);
    EXPECT_TRUE(userMap().endsWith("COM6=" + byIdName + "\n")) << userMap().toStdString();
}

TEST_F(PortsToolTest, ScanAndSurveyFindModulesOrSayNothingAnswered) {
    const QString csv = home.filePath(QStringLiteral("survey.csv"));
    const QString csvHead = QStringLiteral("^站号,波特率,校验方式,应答 ms,模块校验设置,QM4107,备注\r\n");
    struct Case {
        QStringList simArgs;
        bool busy;
        int exitCode;
        QString line;
        QStringList toolArgs = {"scan", "5"};
        QString csv = {}; // the file --csv writes, as a pattern
    };
    const std::vector<Case> cases{
        {{"--station", "7", "--baud", "19200", "--parity", "even"},
         false,
         0,
         "port 5: station 7, 19200 baud, 偶校验, answers in "},
        {{"--station", "3", "-c", "exception 2"},
         false,
         0,
         "port 5: station 3, 9600 baud, 无校验, answers in "},
        {{"--station", "4", "-c", "late 300"},
         false,
         0,
         "port 5: station 4, 9600 baud, 无校验, answers in 3"},
        {{"-c", "silent"}, false, 1, "): no module answered\n"},
        {{}, true, 2, "port 5: not scanned: "},
        {{"--stations", "1,5:9600:even,9"},
         false,
         0,
         "站号  波特率  校验方式  应答 ms  模块校验设置  QM4107  备注\n5     9600    偶校验    ",
         {"survey", "5", "--parity", "even", "--csv", csv},
         csvHead + "5,9600,偶校验,\\d+\\.\\d,偶校验,是,\r\n$"},
        {{"--stations", "5:19200:odd,6:19200:odd", "-c", "@6 exception 2"},
         false,
         0,
         "\n6     19200   奇校验    ",
         {"survey", "5", "--all", "--stations", "4-6", "--csv", csv},
         csvHead + "5,19200,奇校验,[0-9.]+,奇校验,是,\r\n6,19200,奇校验,[0-9.]+,,否,\r\n$"},
        {{"-c", "silent"},
         false,
         1,
         "port 5: no module answered, stations 1-3\n",
         {"survey", "5", "--stations", "1-3", "--csv", csv},
         csvHead + "$"},
        {{}, true, 2, "port 5: not surveyed: ", {"survey", "5"}},
        {{}, false, 2, "", {"survey", "5", "--all", "--baud", "9600"}},
        {{}, false, 2, "", {"survey", "5", "--stations", "9-3"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.toolArgs.join(u' ').toStdString());
        QFile::remove(csv);
        SimProcess sim(c.simArgs);
        std::unique_ptr<LockHolder> holder;
        if (c.busy)
            holder = std::make_unique<LockHolder>(sim.devicePath());
        environment.insert(QStringLiteral("MODBUS485_PORT5"), sim.devicePath());
        const ToolRun scan = run(c.toolArgs);
        EXPECT_EQ(scan.exitCode, c.exitCode) << scan.out.toStdString();
        EXPECT_TRUE(scan.out.contains(c.line)) << scan.out.toStdString();
        if (!c.csv.isEmpty()) {
            QFile file(csv);
            EXPECT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray written = file.readAll();
            EXPECT_TRUE(written.startsWith("\xEF\xBB\xBF")); // UTF-8's byte-order mark, for Excel
            EXPECT_TRUE(QRegularExpression(c.csv).match(QString::fromUtf8(written.mid(3))).hasMatch())
                << written.toStdString();
        }
        // The port is released: the simulator's line can be locked again.
        if (!c.busy) {
            EXPECT_EQ(QProcess::execute(QStringLiteral("flock"), {"--nonblock", sim.devicePath(), "true"}),
                      0);
        }
    }
}

TEST_F(PortsToolTest, InterruptedScanOrSurveyReleasesThePort) {
    struct Case {
        QStringList simArgs, toolArgs;
        QStringList out; // in this order
    } cases[] = {
        {{"-c", "silent"}, {"scan", "5"}, {"port 5: scan interrupted, port released"}},
        // What the survey found before is printed first.
        {{"--stations", "2"},
         {"survey", "5", "--all"},
         {"\n2     9600    无校验    ", "port 5: survey interrupted, port released"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.toolArgs.join(u' ').toStdString());
        SimProcess sim(c.simArgs);
        environment.insert(QStringLiteral("MODBUS485_PORT5"), sim.devicePath());
        QProcess tool;
        start(tool, c.toolArgs);
        // Ctrl-C once it is on its second line setting.
        QByteArray progress;
        tool.setReadChannel(QProcess::StandardError);
        const QDeadlineTimer deadline(HangBoundMs);
        while (!progress.contains("奇校验") && !deadline.hasExpired() && tool.state() == QProcess::Running)
            if (tool.waitForReadyRead(1000))
                progress += tool.readAllStandardError();
        ASSERT_TRUE(progress.contains("奇校验")) << progress.toStdString();
        ::kill(static_cast<pid_t>(tool.processId()), SIGINT);
        ASSERT_TRUE(tool.waitForFinished(HangBoundMs));
        EXPECT_EQ(tool.exitCode(), 130);
        const QString out = QString::fromUtf8(tool.readAllStandardOutput());
        qsizetype from = 0;
        for (const QString &line : c.out) {
            from = out.indexOf(line, from);
            EXPECT_GE(from, 0) << "missing in order: " << line.toStdString() << "\n" << out.toStdString();
        }
        EXPECT_EQ(QProcess::execute(QStringLiteral("flock"), {"--nonblock", sim.devicePath(), "true"}), 0);
    }
}

} // namespace
