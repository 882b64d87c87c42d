#include "LinkTestSupport.h"

#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <functional>

// MODBUS485 against qm4107-sim on a pseudo-terminal: every operation, both item numberings, argument checks.
namespace {
struct Operation {
    const char *name;
    int blockSize; // receiving elements, 0 for single-item operations
    std::function<int32_t(int32_t *)> call;
    int32_t result;
    std::vector<int32_t> elements;
    const char *log; // the request the simulator must have served, "" for none
};

void runTable(SimProcess &sim, const std::vector<Operation> &table) {
    for (const Operation &op : table) {
        SCOPED_TRACE(op.name);
        GuardedBlock block(op.blockSize);
        EXPECT_EQ(op.call(block.elements()), op.result);
        if (op.blockSize) {
            EXPECT_EQ(block.values(), op.elements);
            EXPECT_TRUE(block.guardsIntact());
        }
        const QStringList expected = *op.log ? QStringList{QString::fromLatin1(op.log)} : QStringList{};
        EXPECT_EQ(sim.takeLog(), expected);
    }
}
} // namespace

class Modbus485 : public SimLinkTest {};

TEST_F(Modbus485, EveryOperationWithReferenceNumbers) {
    startSim({"-c", "inputs 1010000001", "-c", "coil 2 1",          "-c", "coil 5 1",
              "-c", "coil 12 1",         "-c", "frequency 1 11",    "-c", "frequency 2 12",
              "-c", "frequency 3 13",    "-c", "frequency 8 65000", "-c", "register 1 101",
              "-c", "register 2 102",    "-c", "register 3 103",    "-c", "register 4 104",
              "-c", "register 5 105",    "-c", "register 6 106",    "-c", "register 7 107",
              "-c", "register 8 65535",  "-c", "register 9 109",    "-c", "register 256 -2"});
    const int32_t P = Port, S = Station;
    const std::vector<Operation> table = {
        {"Get_0X_B16", 2, [&](int32_t *e) { return Get_0X_B16(P, S, 1, e); }, 18, {18, 8}, "read-coils 1 16"},
        {"Get_1X_B16", 2, [&](int32_t *e) { return Get_1X_B16(P, S, 1, e); }, 5, {5, 2}, "read-inputs 1 16"},
        {"Get_3X_UnD8",
         8,
         [&](int32_t *e) { return Get_3X_UnD8(P, S, 1, e); },
         11,
         {11, 12, 13, 0, 0, 0, 0, 65000},
         "read-input-registers 1 8"},
        {"Get_3X_D8",
         8,
         [&](int32_t *e) { return Get_3X_D8(P, S, 1, e); },
         11,
         {11, 12, 13, 0, 0, 0, 0, -536},
         "read-input-registers 1 8"},
        {"Get_4X_UnD8",
         8,
         [&](int32_t *e) { return Get_4X_UnD8(P, S, 1, e); },
         101,
         {101, 102, 103, 104, 105, 106, 107, 65535},
         "read-holding-registers 1 8"},
        {"Get_4X_UnD8 from 2",
         8,
         [&](int32_t *e) { return Get_4X_UnD8(P, S, 2, e); },
         102,
         {102, 103, 104, 105, 106, 107, 65535, 109},
         "read-holding-registers 2 8"},
        {"Get_4X_D8",
         8,
         [&](int32_t *e) { return Get_4X_D8(P, S, 1, e); },
         101,
         {101, 102, 103, 104, 105, 106, 107, -1},
         "read-holding-registers 1 8"},
        {"Get_4X_UnD1 9",
         0,
         [&](int32_t *) { return Get_4X_UnD1(P, S, 9); },
         109,
         {},
         "read-holding-registers 9 1"},
        {"Get_4X_UnD1 256",
         0,
         [&](int32_t *) { return Get_4X_UnD1(P, S, 256); },
         65534,
         {},
         "read-holding-registers 256 1"},
        {"Get_4X_D1 256",
         0,
         [&](int32_t *) { return Get_4X_D1(P, S, 256); },
         -2,
         {},
         "read-holding-registers 256 1"},
        {"Get_3X_UnD1",
         0,
         [&](int32_t *) { return Get_3X_UnD1(P, S, 2); },
         12,
         {},
         "read-input-registers 2 1"},
        {"Get_3X_D1", 0, [&](int32_t *) { return Get_3X_D1(P, S, 8); }, -536, {}, "read-input-registers 8 1"},
        {"Get_0X_Bit1 on", 0, [&](int32_t *) { return Get_0X_Bit1(P, S, 2); }, 1, {}, "read-coils 2 1"},
        {"Get_0X_Bit1 off", 0, [&](int32_t *) { return Get_0X_Bit1(P, S, 3); }, 0, {}, "read-coils 3 1"},
        {"Get_1X_Bit1", 0, [&](int32_t *) { return Get_1X_Bit1(P, S, 10); }, 1, {}, "read-inputs 10 1"},
        {"Set_0X_Bit1", 0, [&](int32_t *) { return Set_0X_Bit1(P, S, 3); }, 0, {}, "write-coil 3 1"},
        {"Rst_0X_Bit1", 0, [&](int32_t *) { return Rst_0X_Bit1(P, S, 2); }, 0, {}, "write-coil 2 0"},
        {"Set_4X_D1 parity",
         0,
         [&](int32_t *) { return Set_4X_D1(P, S, 256, 2); },
         0,
         {},
         "write-register 256 2"},
        {"Set_4X_D1 negative",
         0,
         [&](int32_t *) { return Set_4X_D1(P, S, 5, -1); },
         0,
         {},
         "write-register 5 65535"},
        {"Set_4X_D1 clears count",
         0,
         [&](int32_t *) { return Set_4X_D1(P, S, 2, 0); },
         0,
         {},
         "write-register 2 0"},
        {"Set_4X_D1 preset",
         0,
         [&](int32_t *) { return Set_4X_D1(P, S, 4, 65535); },
         0,
         {},
         "write-register 4 65535"},
        {"refused read",
         0,
         [&](int32_t *) { return Get_4X_D1(P, S, 10); },
         F,
         {},
         "read-holding-registers 10 1 exception 2"},
        {"refused write",
         0,
         [&](int32_t *) { return Set_0X_Bit1(P, S, 6); },
         F,
         {},
         "write-coil 6 1 exception 2"},
        {"refused block",
         8,
         [&](int32_t *e) { return Get_3X_UnD8(P, S, 2, e); },
         F,
         {F, F, F, F, F, F, F, F},
         "read-input-registers 2 8 exception 2"},
    };
    runTable(sim(), table);
    EXPECT_EQ(sim().stateValue("coils"), "0010100000010000");
    EXPECT_EQ(sim().stateValue("holding-registers"), "101,0,103,65535,65535,106,107,65535,109");
    EXPECT_EQ(sim().stateValue("parity"), "2");
}

TEST_F(Modbus485, ProtocolAddressesPassUnchanged) {
    qputenv("MODBUS485_ADDRESSING", "protocol");
    startSim({"--addressing", "protocol", "-c", "register 1 7", "-c", "register 8 8"});
    const int32_t P = Port, S = Station;
    readFirst(); // a write's traffic is its own once a read has shown whether the adapter echoes
    const std::vector<Operation> table = {
        {"Set_0X_Bit1 3", 0, [&](int32_t *) { return Set_0X_Bit1(P, S, 3); }, 0, {}, "write-coil 3 1"},
        {"Get_0X_B16 from 1",
         2,
         [&](int32_t *e) { return Get_0X_B16(P, S, 1, e); },
         4,
         {4, 0},
         "read-coils 1 16"},
        {"Get_0X_B16 from 0",
         2,
         [&](int32_t *e) { return Get_0X_B16(P, S, 0, e); },
         F,
         {F, F},
         "read-coils 0 16 exception 2"},
        {"Get_4X_UnD8 from 1",
         8,
         [&](int32_t *e) { return Get_4X_UnD8(P, S, 1, e); },
         7,
         {7, 0, 0, 0, 0, 0, 0, 8},
         "read-holding-registers 1 8"},
        {"Set_4X_D1 256",
         0,
         [&](int32_t *) { return Set_4X_D1(P, S, 256, 1); },
         0,
         {},
         "write-register 256 1"},
        {"Get_4X_D1 256",
         0,
         [&](int32_t *) { return Get_4X_D1(P, S, 256); },
         1,
         {},
         "read-holding-registers 256 1"},
        {"item 0 is not in the map",
         0,
         [&](int32_t *) { return Set_4X_D1(P, S, 0, 1); },
         F,
         {},
         "write-register 0 1 exception 2"},
    };
    runTable(sim(), table);
    // Coil 3 is the third of the block that starts at 1 (protocol addressing on both sides).
    EXPECT_EQ(sim().stateValue("coils"), "0010000000000000");
}

TEST_F(Modbus485, MixedNumberingsShiftByOne) {
    // A library set for protocol addresses in front of a module documented with reference numbers.
    qputenv("MODBUS485_ADDRESSING", "protocol");
    startSim();
    readFirst();
    EXPECT_EQ(Set_0X_Bit1(Port, Station, 3), 0);
    EXPECT_EQ(sim().takeLog(), QStringList{"write-coil 4 1"});
}

TEST_F(Modbus485, BadArgumentsFailCleanlyOffTheLine) {
    startSim();
    qputenv("MODBUS485_PORT3", "/nonexistent/qm4107-port");
    const int32_t P = Port, S = Station;
    const int32_t Big = std::numeric_limits<int32_t>::max(), Small = std::numeric_limits<int32_t>::min();
    const std::vector<Operation> table = {
        {"open port 0",
         0,
         [](int32_t *) { return OpenPort_Modbus(0, 1, 0); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"open port -1",
         0,
         [](int32_t *) { return OpenPort_Modbus(-1, 1, 0); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"open huge port",
         0,
         [&](int32_t *) { return OpenPort_Modbus(Big, 1, 0); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"open port 256",
         0,
         [](int32_t *) { return OpenPort_Modbus(256, 1, 0); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"baud code 3",
         0,
         [](int32_t *) { return OpenPort_Modbus(2, 3, 0); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"baud code -1",
         0,
         [](int32_t *) { return OpenPort_Modbus(2, -1, 0); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"parity code 3",
         0,
         [](int32_t *) { return OpenPort_Modbus(2, 1, 3); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"parity code min",
         0,
         [&](int32_t *) { return OpenPort_Modbus(2, 1, Small); },
         MODBUS485_OPEN_BAD_ARGUMENT,
         {},
         ""},
        {"missing device",
         0,
         [](int32_t *) { return OpenPort_Modbus(3, 1, 0); },
         MODBUS485_OPEN_DEVICE_ERROR,
         {},
         ""},
        {"status of port 0",
         0,
         [](int32_t *) { return GetPort_Status(0); },
         MODBUS485_STATUS_NOT_OPEN,
         {},
         ""},
        {"status never opened",
         0,
         [](int32_t *) { return GetPort_Status(2); },
         MODBUS485_STATUS_NOT_OPEN,
         {},
         ""},
        {"close never opened", 0, [](int32_t *) { return ClosePort_Modbus(2); }, 0, {}, ""},
        {"close port -5", 0, [](int32_t *) { return ClosePort_Modbus(-5); }, 1, {}, ""},
        {"read never opened", 0, [](int32_t *) { return Get_4X_D1(2, 1, 256); }, F, {}, ""},
        {"block never opened", 2, [](int32_t *e) { return Get_1X_B16(2, 1, 1, e); }, F, {F, F}, ""},
        {"port 0", 0, [&](int32_t *) { return Set_0X_Bit1(0, S, 1); }, F, {}, ""},
        {"port min",
         8,
         [&](int32_t *e) { return Get_4X_UnD8(Small, S, 1, e); },
         F,
         {F, F, F, F, F, F, F, F},
         ""},
        {"station 0 (broadcast)", 0, [&](int32_t *) { return Set_0X_Bit1(P, 0, 1); }, F, {}, ""},
        {"station -1", 0, [&](int32_t *) { return Get_4X_UnD1(P, -1, 1); }, F, {}, ""},
        {"station 248", 2, [&](int32_t *e) { return Get_0X_B16(P, 248, 1, e); }, F, {F, F}, ""},
        {"station huge", 0, [&](int32_t *) { return Set_4X_D1(P, Big, 1, 1); }, F, {}, ""},
        {"coil 0", 0, [&](int32_t *) { return Set_0X_Bit1(P, S, 0); }, F, {}, ""},
        {"register -1", 0, [&](int32_t *) { return Get_4X_D1(P, S, -1); }, F, {}, ""},
        {"register 65537", 0, [&](int32_t *) { return Get_4X_D1(P, S, 65537); }, F, {}, ""},
        {"block past 65536",
         8,
         [&](int32_t *e) { return Get_4X_UnD8(P, S, 65530, e); },
         F,
         {F, F, F, F, F, F, F, F},
         ""},
        {"bit block past 65536", 2, [&](int32_t *e) { return Get_1X_B16(P, S, 65530, e); }, F, {F, F}, ""},
        {"value 65536", 0, [&](int32_t *) { return Set_4X_D1(P, S, 4, 65536); }, F, {}, ""},
        {"value -32769", 0, [&](int32_t *) { return Set_4X_D1(P, S, 4, -32769); }, F, {}, ""},
        {"null elements", 0, [&](int32_t *) { return Get_4X_UnD8(P, S, 1, nullptr); }, F, {}, ""},
        {"null bit elements", 0, [&](int32_t *) { return Get_0X_B16(P, S, 1, nullptr); }, F, {}, ""},
        {"still works",
         0,
         [&](int32_t *) { return Get_4X_UnD1(P, S, 1); },
         0,
         {},
         "read-holding-registers 1 1"},
    };
    runTable(sim(), table);
}

TEST_F(Modbus485, ReopenAndCloseAreHarmlessAndLeakNothing) {
    startSim();
    const int before = openDescriptors();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(OpenPort_Modbus(Port, i % 3, (i / 3) % 3), MODBUS485_OPEN_OK) << "cycle " << i;
        if (i % 10 == 0) { // reopening an open port
            ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK) << "cycle " << i;
        }
        ASSERT_EQ(ClosePort_Modbus(Port), 0);
        if (i % 10 == 0) { // closing a closed port
            ASSERT_EQ(ClosePort_Modbus(Port), 0);
        }
    }
    EXPECT_LT(openDescriptors(), before); // the port that was open at the start is closed now
    EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_NOT_OPEN);
    EXPECT_EQ(Get_4X_UnD1(Port, Station, 1), F);
    ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(GetPort_Status(Port), MODBUS485_STATUS_OK);
    readFirst();
    EXPECT_EQ(Set_0X_Bit1(Port, Station, 1), 0);
    EXPECT_EQ(sim().takeLog(), QStringList{"write-coil 1 1"});
}

TEST_F(Modbus485, ReopenTakesTheNewLineSettings) {
    startSim({"--baud", "19200", "--parity", "odd", "-c", "register 256 1"});
    struct Settings {
        int32_t baudCode, parityCode;
        int32_t expected;
        const char *log;
    } settings[] = {
        {1, 1, F, "read-holding-registers 256 1 wrong-line"}, // 9600 odd
        {2, 2, F, "read-holding-registers 256 1 wrong-line"}, // 19200 even
        {2, 0, F, "read-holding-registers 256 1 wrong-line"}, // 19200 none
        {2, 1, 1, "read-holding-registers 256 1"},            // 19200 odd: the module's own
        {0, 1, F, "read-holding-registers 256 1 wrong-line"}, // 4800 odd
    };
    for (const Settings &s : settings) {
        SCOPED_TRACE(s.log);
        ASSERT_EQ(OpenPort_Modbus(Port, s.baudCode, s.parityCode), MODBUS485_OPEN_OK); // open port: reopened
        EXPECT_EQ(Get_4X_D1(Port, Station, 256), s.expected);
        EXPECT_EQ(sim().takeLog(), QStringList{s.log});
    }
}
