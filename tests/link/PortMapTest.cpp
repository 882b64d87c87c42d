#include "MODBUS485.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

// Which device a port names (variable, user map, system map, default) and what an open of a bad one says.
namespace {
constexpr int32_t Port = 5; // no other test maps it

// A scratch HOME with the map variables pointing into it; everything restored afterwards.
class PortMap : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "MODBUS485_SYSTEM_MAP", "MODBUS485_PORT5"})
            m_saved.emplace_back(name, qgetenv(name));
        qputenv("HOME", path("home").toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("MODBUS485_PORT5");
        qputenv("MODBUS485_SYSTEM_MAP", path("etc/ports.conf").toLocal8Bit());
    }
    void TearDown() override {
        ClosePort_Modbus(Port);
        for (const auto &[name, value] : m_saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    void write(const QString &relative, const QByteArray &text) {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    std::pair<int32_t, std::string> device() {
        char buffer[256];
        const int32_t source = GetPort_Device(Port, buffer, sizeof buffer);
        return {source, buffer};
    }
    std::string info() {
        char buffer[1024];
        EXPECT_GE(GetPort_Info(Port, buffer, sizeof buffer), 0);
        return buffer;
    }

    QTemporaryDir m_dir;
    std::vector<std::pair<const char *, QByteArray>> m_saved;
};
} // namespace

TEST_F(PortMap, VariableThenUserMapThenSystemMapThenDefault) {
    struct Case {
        const char *name;
        const char *variable; // MODBUS485_PORT5, or nullptr
        const char *xdg;      // XDG_CONFIG_HOME below the scratch folder, or nullptr
        QByteArray xdgMap;    // written to $XDG_CONFIG_HOME/MODBUS485/ports.conf when not empty
        QByteArray homeMap;   // $HOME/.config/MODBUS485/ports.conf
        QByteArray systemMap; // MODBUS485_SYSTEM_MAP
        int32_t source;
        std::string device;
        QString file; // the map file named in the text, "" for none
    } cases[] = {
        {"nothing", nullptr, nullptr, "", "", "", MODBUS485_SOURCE_DEFAULT, "/dev/ttyS4", ""},
        {"system map", nullptr, nullptr, "", "", "COM5=/dev/sys\n", MODBUS485_SOURCE_SYSTEM_MAP, "/dev/sys",
         "etc/ports.conf"},
        {"user map over system map", nullptr, nullptr, "", "COM5=/dev/user\n", "COM5=/dev/sys\n",
         MODBUS485_SOURCE_USER_MAP, "/dev/user", "home/.config/MODBUS485/ports.conf"},
        {"XDG_CONFIG_HOME instead of HOME", nullptr, "xdg", "COM5=/dev/xdg\n", "COM5=/dev/user\n", "",
         MODBUS485_SOURCE_USER_MAP, "/dev/xdg", "xdg/MODBUS485/ports.conf"},
        {"XDG_CONFIG_HOME without a map", nullptr, "xdg", "", "COM5=/dev/user\n", "COM5=/dev/sys\n",
         MODBUS485_SOURCE_SYSTEM_MAP, "/dev/sys", "etc/ports.conf"},
        {"user map for other ports only", nullptr, nullptr, "", "COM4=/dev/four\nCOM50=/dev/fifty\n",
         "COM5=/dev/sys\n", MODBUS485_SOURCE_SYSTEM_MAP, "/dev/sys", "etc/ports.conf"},
        {"variable over both", "/dev/var", nullptr, "", "COM5=/dev/user\n", "COM5=/dev/sys\n",
         MODBUS485_SOURCE_VARIABLE, "/dev/var", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path("home")).removeRecursively();
        QDir(path("xdg")).removeRecursively();
        QFile::remove(path("etc/ports.conf"));
        c.variable ? qputenv("MODBUS485_PORT5", c.variable) : qunsetenv("MODBUS485_PORT5");
        c.xdg ? qputenv("XDG_CONFIG_HOME", path(c.xdg).toLocal8Bit()) : qunsetenv("XDG_CONFIG_HOME");
        if (!c.xdgMap.isEmpty())
            write("xdg/MODBUS485/ports.conf", c.xdgMap);
        if (!c.homeMap.isEmpty())
            write("home/.config/MODBUS485/ports.conf", c.homeMap);
        if (!c.systemMap.isEmpty())
            write("etc/ports.conf", c.systemMap);
        EXPECT_EQ(device(), std::make_pair(c.source, c.device));
        const std::string from = c.source == MODBUS485_SOURCE_DEFAULT    ? "默认"
                                 : c.source == MODBUS485_SOURCE_VARIABLE ? "环境变量 MODBUS485_PORT5"
                                 : c.source == MODBUS485_SOURCE_USER_MAP
                                     ? "用户映射 " + path(c.file).toStdString()
                                     : "系统映射 " + path(c.file).toStdString();
        EXPECT_EQ(info(), "端口5：" + c.device + "（" + from + "）");
    }
}

TEST_F(PortMap, LinesOfTheMap) {
    const QByteArray longComment = "# " + QByteArray(70 * 1024, 'x') + "\n";
    struct Case {
        const char *name;
        QByteArray map;
        std::string device;     // "" for the default
        const char *passedOver; // the map file's line in the text, "" for none
    } cases[] = {
        {"blanks, case, comments, CRLF", "# ports\n\n  com5 =  /dev/ttyUSB0 \r\nCOM6=/dev/six\n",
         "/dev/ttyUSB0", ""},
        {"a later line wins", "COM5=/dev/a\nCOM5=/dev/b\n", "/dev/b", ""},
        {"commented out", "#COM5=/dev/a\n", "", ""},
        {"no device, bad keys", "COM5=\nCOMM5=/dev/a\nCOM=/dev/b\nCOM5x=/dev/c\nPORT5=/dev/d\n", "", ""},
        {"no final newline", "COM5=/dev/last", "/dev/last", ""},
        {"binary", QByteArray("COM5=/dev/a\n\0\x01\x02", 15), "", "不是文本文件，已忽略"},
        {"very long, the line first", "COM5=/dev/early\n" + longComment, "/dev/early",
         "过长，只读了前 64 KiB"},
        {"very long, the line past the limit", longComment + "COM5=/dev/late\n", "", "过长，只读了前 64 KiB"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write("etc/ports.conf", c.map);
        const bool mapped = !c.device.empty();
        EXPECT_EQ(device(), std::make_pair(mapped ? MODBUS485_SOURCE_SYSTEM_MAP : MODBUS485_SOURCE_DEFAULT,
                                           mapped ? c.device : std::string("/dev/ttyS4")));
        const std::string text = info();
        const std::string note =
            *c.passedOver ? "\n映射文件 " + path("etc/ports.conf").toStdString() + " " + c.passedOver : "";
        EXPECT_EQ(text.substr(text.find('\n') == std::string::npos ? text.size() : text.find('\n')), note);
    }
}

TEST_F(PortMap, MapFileThatIsNoFileIsPassedOver) {
    QDir().mkpath(path("etc"));
    ASSERT_EQ(::mkfifo(path("etc/fifo").toLocal8Bit().constData(), 0600), 0);
    write("home/.config/MODBUS485/ports.conf", "COM4=/dev/four\n");
    // Passed over without blocking, and the user's map is still read.
    for (const char *notAFile : {"etc/fifo", "etc"}) {
        SCOPED_TRACE(notAFile);
        qputenv("MODBUS485_SYSTEM_MAP", path(notAFile).toLocal8Bit());
        EXPECT_EQ(device(), std::make_pair(MODBUS485_SOURCE_DEFAULT, std::string("/dev/ttyS4")));
        EXPECT_NE(info().find("\n映射文件 " + path(notAFile).toStdString() + " 不是普通文件，已忽略"),
                  std::string::npos);
        char four[64];
        EXPECT_EQ(GetPort_Device(4, four, sizeof four), MODBUS485_SOURCE_USER_MAP);
        EXPECT_STREQ(four, "/dev/four");
    }
}

TEST_F(PortMap, OpenOfWhatIsNoSerialDeviceSaysWhy) {
    QDir().mkpath(path("dir"));
    ASSERT_EQ(::mkfifo(path("fifo").toLocal8Bit().constData(), 0600), 0);
    write("file", "not a device");
    const struct {
        QString device;
        const char *reason;
    } cases[] = {
        {path("dir"), "打开失败：不是串口设备"},   {path("fifo"), "打开失败：不是串口设备"},
        {path("file"), "打开失败：不是串口设备"},  {"/dev/null", "打开失败：不是串口设备"},
        {path("missing"), "打开失败：设备不存在"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.device.toStdString());
        write("etc/ports.conf", "COM5=" + c.device.toLocal8Bit() + "\n");
        EXPECT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_DEVICE_ERROR);
        EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_NOT_OPEN);
        EXPECT_EQ(info(), "端口5：" + c.device.toStdString() + "（系统映射 " +
                              path("etc/ports.conf").toStdString() + "）\n" + c.reason);
    }
    // A text cut to fit its buffer ends on a whole character.
    char small[8];
    EXPECT_EQ(GetPort_Info(Port, small, sizeof small), 7);
    EXPECT_STREQ(small, "端口5");
    EXPECT_EQ(GetPort_Info(0, small, sizeof small), -1);
    EXPECT_EQ(GetPort_Device(Port, nullptr, 8), -1);
}
