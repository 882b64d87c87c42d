#include "MODBUS485.h"
#include "SimFaults.h"
#include "WineSim.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

// MODBUS485.dll on Windows (under Wine) against qm4107-sim on a COM port: COM names, a missing or busy port,
// each fault of the module failing one exchange cleanly, late answers, a device that goes away.
// run-wine-tests maps COM5 and COM12 to the simulator, whose holding registers 1-8 hold 101-107 and 65535.
namespace {
constexpr int32_t F = MODBUS485_FAILED;
constexpr int32_t Port = 5;
constexpr int32_t HighPort = 12;
constexpr int32_t Station = 1;
const std::vector<int32_t> Registers1To8 = {101, 102, 103, 104, 105, 106, 107, 65535};
const std::vector<int32_t> AllFailed(8, F);

using Clock = std::chrono::steady_clock;
long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Reads holding registers from `start` until the read is good; every read must be all failed or exactly
// `expected`. False after `limitMs`.
bool readUntilGood(int32_t port, int32_t start, const std::vector<int32_t> &expected, int limitMs) {
    const auto begin = Clock::now();
    while (millisecondsSince(begin) < limitMs) {
        std::vector<int32_t> block(8, 0);
        const int32_t result = Get_4X_UnD8(port, Station, start, block.data());
        if (result != F) {
            EXPECT_EQ(block, expected);
            return block == expected;
        }
        EXPECT_EQ(block, AllFailed);
        Sleep(20);
    }
    return false;
}

class Wine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sim.isRunning()) << "run by tests/windows/run-wine-tests";
        ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
        m_sim.takeLog();
    }
    void TearDown() override { ClosePort_Modbus(Port); }

    WineSim m_sim;
};
} // namespace

// A port held by another program cannot be shown here: Wine does not keep a COM port to one opener.
TEST_F(Wine, PortsOpenByComNumberAndFailCleanly) {
    ClosePort_Modbus(Port);
    const auto start = Clock::now();
    // Ports above 9 need the \\.\ form of their name.
    EXPECT_EQ(OpenPort_Modbus(HighPort, 1, 0), MODBUS485_OPEN_OK);
    EXPECT_TRUE(readUntilGood(HighPort, 1, Registers1To8, 10000));
    EXPECT_EQ(ClosePort_Modbus(HighPort), 0);
    // A port that does not exist.
    EXPECT_EQ(OpenPort_Modbus(200, 1, 0), MODBUS485_OPEN_DEVICE_ERROR);
    EXPECT_EQ(GetPort_Status(200), MODBUS485_STATUS_NOT_OPEN);
    EXPECT_LT(millisecondsSince(start), 20000); // only to catch a hang
}

TEST_F(Wine, EachFaultFailsOneExchangeCleanly) {
    for (const SimFault &fault : SimFaults) {
        SCOPED_TRACE(fault.command);
        ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK); // what the port learned is forgotten
        m_sim.command(fault.command);
        std::vector<int32_t> block(8, 0);
        EXPECT_EQ(Get_4X_UnD8(Port, Station, 1, block.data()), F);
        EXPECT_EQ(block, AllFailed);
        // One request went out, no hidden retries; a misbehaving module is no port fault.
        EXPECT_EQ(m_sim.takeLog(),
                  std::vector<std::string>{std::string("read-holding-registers 1 8") + fault.logSuffix});
        EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_OK);
        EXPECT_TRUE(readUntilGood(Port, 1, Registers1To8, 10000));
        if (fault.teaches) {
            // Learned: the slow module's next read is good at its first attempt.
            m_sim.takeLog();
            EXPECT_EQ(Get_4X_UnD8(Port, Station, 1, block.data()), Registers1To8[0]);
            m_sim.command("normal");
        }
        m_sim.takeLog();
    }
}

TEST_F(Wine, LateAnswerIsNeverTakenForTheNextRequest) {
    // Answers that come in while the line is cleared, during the next request, or long after it.
    for (int lateMs : {90, 150, 250}) {
        SCOPED_TRACE(lateMs);
        m_sim.command("late " + std::to_string(lateMs) + " 1");
        std::vector<int32_t> first(8, 0);
        const bool firstFailed = Get_4X_UnD8(Port, Station, 1, first.data()) == F;
        EXPECT_EQ(first, firstFailed ? AllFailed : Registers1To8);
        // A write straight after the failed read goes out; an answer too late to be cleared before it may
        // fail it, but is never taken for its answer.
        const int32_t write = Set_4X_D1(Port, Station, 9, lateMs);
        EXPECT_TRUE(write == 0 || write == F) << write;
        EXPECT_TRUE(m_sim.waitForLog("write-register 9 " + std::to_string(lateMs), 10000));
        // A read of registers 2-9 never shows the late block of registers 1-8.
        EXPECT_TRUE(readUntilGood(Port, 2, {102, 103, 104, 105, 106, 107, 65535, lateMs}, 10000));
        m_sim.takeLog();
    }
}

// Last: the simulator's device goes away for good.
TEST_F(Wine, DeviceThatGoesAwayTurnsStatusTwo) {
    ASSERT_TRUE(readUntilGood(Port, 1, Registers1To8, 10000));
    m_sim.command("close-device");
    const auto start = Clock::now();
    std::vector<int32_t> block(8, 0);
    while (GetPort_Status(Port) == MODBUS485_STATUS_OK && millisecondsSince(start) < 20000) {
        Get_4X_UnD8(Port, Station, 1, block.data());
        Sleep(20);
    }
    EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_DEVICE_FAILED);
    EXPECT_EQ(Get_4X_UnD8(Port, Station, 1, block.data()), F);
    EXPECT_EQ(ClosePort_Modbus(Port), 0);
    EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_NOT_OPEN);
}
