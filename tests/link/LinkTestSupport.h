#pragma once

#include "MODBUS485.h"
#include "OpenDescriptors.h"
#include "QStringPrinter.h"
#include "SimProcess.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

constexpr int32_t F = MODBUS485_FAILED;

// Port 1's counters.
inline std::vector<int32_t> counters() {
    std::vector<int32_t> values(MODBUS485_COUNTERS, -1);
    EXPECT_EQ(GetPort_Counters(1, values.data(), MODBUS485_COUNTERS), MODBUS485_COUNTERS);
    return values;
}

// A receiving area with guard elements on both sides of the block the library may fill.
struct GuardedBlock {
    static constexpr int32_t Guard = 0x5A5A5A5A;
    explicit GuardedBlock(int size)
        : m_size(size) {
        m_storage.fill(Guard);
    }
    int32_t *elements() { return m_storage.data() + 2; }
    std::vector<int32_t> values() const { return {m_storage.begin() + 2, m_storage.begin() + 2 + m_size}; }
    bool guardsIntact() const {
        for (int i = 0; i < static_cast<int>(m_storage.size()); ++i)
            if ((i < 2 || i >= 2 + m_size) && m_storage[i] != Guard)
                return false;
        return true;
    }

private:
    int m_size;
    std::array<int32_t, 16> m_storage{};
};

// MODBUS485 port 1 on a fresh qm4107-sim.
class SimLinkTest : public ::testing::Test {
protected:
    static constexpr int32_t Port = 1;
    static constexpr int32_t Station = 1;

    void startSim(const QStringList &args = {}, int32_t baudCode = 1, int32_t parityCode = 0) {
        m_sim = std::make_unique<SimProcess>(args);
        ASSERT_FALSE(m_sim->devicePath().isEmpty());
        qputenv("MODBUS485_PORT1", m_sim->devicePath().toLocal8Bit());
        ASSERT_EQ(OpenPort_Modbus(Port, baudCode, parityCode), MODBUS485_OPEN_OK);
    }
    void TearDown() override {
        ClosePort_Modbus(Port);
        qunsetenv("MODBUS485_ADDRESSING");
        m_sim.reset();
    }
    SimProcess &sim() { return *m_sim; }
    // Until a read has shown whether the adapter echoes, a write is preceded by one read: a test that
    // asserts a write's own traffic reads first, and leaves that read out of the log.
    void readFirst() {
        EXPECT_NE(Get_1X_Bit1(Port, Station, 1), MODBUS485_FAILED);
        m_sim->takeLog();
    }

    std::unique_ptr<SimProcess> m_sim;
};
