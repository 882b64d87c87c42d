#include "QStringPrinter.h"
#include "SimProcess.h"

#include <modbus/modbus.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QThread>

#include <functional>
#include <memory>

// qm4107-sim against plain libmodbus as an independent master.
namespace {
struct ModbusDeleter {
    void operator()(modbus_t *ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Master = std::unique_ptr<modbus_t, ModbusDeleter>;

Master connectTo(const QString &device, int station = 1) {
    Master ctx(modbus_new_rtu(device.toLocal8Bit().constData(), 9600, 'N', 8, 1));
    if (!ctx || modbus_connect(ctx.get()) != 0)
        return nullptr;
    modbus_set_slave(ctx.get(), station);
    modbus_set_response_timeout(ctx.get(), 0, 300000);
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
    QThread::msleep(50);
    ASSERT_EQ(modbus_read_registers(m.get(), 1, 1, regs), 1);
    EXPECT_GE(regs[0], 20);
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
            EXPECT_TRUE(second.waitForLog("read-coils 1 16", 1000));
            EXPECT_TRUE(first.takeLog().isEmpty());
        }
        // The second took the name; the first leaves it alone, and the second removed its own.
        EXPECT_FALSE(QFileInfo::exists(link));
        EXPECT_FALSE(QFileInfo(link).isSymLink());
    }
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}
