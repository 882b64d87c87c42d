// MODBUS485 against qm4107-sim behaving like real lines: a slow module, an adapter that hears itself, a byte
// ahead of each answer, a module deaf for a while after its answer.
#include "LinkTestSupport.h"

#include <QElapsedTimer>
#include <QMap>
#include <QThread>

namespace {
class RealLines : public SimLinkTest {};
} // namespace

TEST_F(RealLines, ReadRightByAGenerousDeadlineNeverWrongAndWrittenOnce) {
    const char *lines[] = {"late 80", "late 300", "echo on", "noise ff", "deaf 10"};
    for (const char *line : lines) {
        SCOPED_TRACE(line);
        startSim({"-c", "register 1 101", "-c", "register 8 108", "-c", "inputs 1100000001", "-c", line});
        QElapsedTimer clock;
        clock.start();
        int right = 0; // poll periods in which every read and the write were right
        for (int32_t n = 1; right < 3 && clock.elapsed() < 30000; ++n) {
            GuardedBlock registers(8);
            const int32_t read = Get_4X_UnD8(Port, Station, 1, registers.elements());
            EXPECT_TRUE(registers.guardsIntact());
            if (read != MODBUS485_FAILED) { // never a wrong value
                EXPECT_EQ(registers.values(), (std::vector<int32_t>{101, 0, 0, 0, 0, 0, 0, 108}));
            }
            int32_t inputs[2];
            const int32_t readInputs = Get_1X_B16(Port, Station, 1, inputs);
            if (readInputs != MODBUS485_FAILED) {
                EXPECT_EQ(inputs[0] | inputs[1] << 8, 0x203);
            }
            const int32_t write = Set_4X_D1(Port, Station, 9, n);
            // Right in the end, never wrong, written once. Whether a line right once stays right depends here
            // on how a loaded machine stretches the simulator's own deaf time: the scripted line holds that.
            right += read != MODBUS485_FAILED && readInputs != MODBUS485_FAILED && write == 0 ? 1 : 0;
            QThread::msleep(300); // this wait's poll interval, about as often as the window polls
        }
        EXPECT_EQ(right, 3);
        // Every write the module heard, it heard once: none was sent a second time.
        QMap<QString, int> heard;
        for (const QString &entry : sim().takeSettledLog())
            if (entry.startsWith(QStringLiteral("write-register 9 ")) &&
                !entry.endsWith(QStringLiteral(" deaf")))
                ++heard[entry.section(u' ', 2, 2)];
        for (auto it = heard.cbegin(); it != heard.cend(); ++it)
            EXPECT_EQ(it.value(), 1) << it.key().toStdString();
        ClosePort_Modbus(Port);
        m_sim.reset();
    }
}
