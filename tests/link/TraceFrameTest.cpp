// The library's trace against what reached the module: qm4107-sim logs each frame it receives in hex.
#include "LinkTestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

class TraceFrameTest : public SimLinkTest {
protected:
    void TearDown() override {
        qunsetenv("MODBUS485_TRACE");
        SimLinkTest::TearDown();
    }
};

TEST_F(TraceFrameTest, EachTracedRequestIsTheFrameTheModuleReceived) {
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("trace.log"));
    qputenv("MODBUS485_TRACE", trace.toLocal8Bit());
    startSim({"--log-frames"});
    int32_t block[8];
    // Every kind of request the panel makes, and answers that go wrong on the way back.
    Get_1X_B16(Port, Station, 1, block);
    Get_0X_B16(Port, Station, 1, block);
    Set_0X_Bit1(Port, Station, 3);
    sim().command(QStringLiteral("corrupt-crc 1"));
    Get_3X_UnD8(Port, Station, 1, block);
    Set_4X_D1(Port, Station, 256, 2);
    sim().command(QStringLiteral("exception 2 1"));
    Get_4X_UnD8(Port, Station, 1, block);
    Get_4X_D1(Port, Station, 256);
    ASSERT_TRUE(sim().waitForLog(QStringLiteral("read-holding-registers 256 1"), 10000));

    QStringList received;
    for (const QString &line : sim().takeLog())
        if (line.startsWith(QStringLiteral("frame ")))
            received << line.mid(6);
    QFile file(trace);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList sent;
    const QRegularExpression request(QStringLiteral(" \\| request ((?:[0-9A-F]{2} ?)+) \\| "));
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
        sent << request.match(line).captured(1).trimmed();
    EXPECT_EQ(sent.size(), 7);
    EXPECT_EQ(sent, received);
}

} // namespace
