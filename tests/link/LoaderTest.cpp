#include "LinkError.h"
#include "MODBUS485.h"
#include "Modbus485Library.h"
#include "ModuleMap.h"
#include "QStringPrinter.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include <unistd.h>

// Modbus485Library: binds MODBUS485 by name from the program's folder, entry points at first use, LinkError
// when either is missing, and a new try at the next call.
TEST(Loader, EveryOperationReachesTheModuleInOrder) {
    auto sim = std::make_unique<SimProcess>(QStringList{"-c", "inputs 0000000011", "-c", "frequency 1 7",
                                                        "-c", "register 9 1", "-c", "register 256 -1"});
    qputenv("MODBUS485_PORT4", sim->devicePath().toLocal8Bit());
    Modbus485Library link;
    const int32_t P = 4, S = 1;
    EXPECT_EQ(link.GetPort_Status(P), MODBUS485_STATUS_NOT_OPEN);
    EXPECT_EQ(link.OpenPort_Modbus(P, 1, 0), MODBUS485_OPEN_OK);
    EXPECT_EQ(link.GetPort_Status(P), MODBUS485_STATUS_OK);
    EXPECT_EQ(link.SetPort_Trace(P, QString()), 0);
    EXPECT_EQ(link.Set_0X_Bit1(P, S, ModuleMap::outputCoil(4)), 0);
    EXPECT_EQ(link.Rst_0X_Bit1(P, S, ModuleMap::outputCoil(2)), 0);
    std::array<int32_t, 2> bits{};
    std::array<int32_t, 8> words{};
    link.Get_0X_B16(P, S, ModuleMap::CoilBlockStart, bits);
    EXPECT_EQ(bits[0], 8);
    link.Get_1X_B16(P, S, ModuleMap::InputBlockStart, bits);
    EXPECT_EQ(bits[0], 0);
    EXPECT_EQ(bits[1], 3);
    EXPECT_EQ(link.Get_3X_UnD8(P, S, ModuleMap::FrequencyBlockStart, words), 7);
    EXPECT_EQ(link.Set_4X_D1(P, S, ModuleMap::presetRegister(2), 500), 0);
    EXPECT_EQ(link.Get_4X_UnD8(P, S, ModuleMap::CounterBlockStart, words), 0);
    EXPECT_EQ(words[4], 500);
    EXPECT_EQ(link.Get_4X_UnD1(P, S, ModuleMap::ClearModeX3Register), 1);
    EXPECT_EQ(link.Get_4X_D1(P, S, ModuleMap::ParityRegister), -1);
    EXPECT_EQ(link.ClosePort_Modbus(P), 0);
    EXPECT_EQ(link.GetPort_Status(P), MODBUS485_STATUS_NOT_OPEN);
    EXPECT_EQ(sim->takeLog(), (QStringList{"read-coils 4 1", "write-coil 4 1", "write-coil 2 0",
                                           "read-coils 1 16", "read-inputs 1 16", "read-input-registers 1 8",
                                           "write-register 5 500", "read-holding-registers 1 8",
                                           "read-holding-registers 9 1", "read-holding-registers 256 1"}));
}

TEST(LoaderMissing, LibraryMissingRaisesLinkErrorUntilItAppears) {
    const QString name = QStringLiteral("MODBUS485_arriving%1").arg(getpid());
    const QString file = QCoreApplication::applicationDirPath() + "/lib" + name + ".so";
    QFile::remove(file);
    Modbus485Library link(name);
    int32_t words[8];
    EXPECT_THROW(link.GetPort_Status(1), LinkError);
    EXPECT_THROW(link.OpenPort_Modbus(1, 1, 0), LinkError);
    EXPECT_THROW(link.Get_4X_UnD8(1, 1, 1, words), LinkError);
    EXPECT_THROW(link.GetPort_Status(1), LinkError); // and again: every call tries
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationDirPath() + "/libMODBUS485.so", file));
    EXPECT_EQ(link.GetPort_Status(9), MODBUS485_STATUS_NOT_OPEN);
    EXPECT_EQ(link.Get_4X_D1(9, 1, 256), MODBUS485_FAILED);
    QFile::remove(file);
}

TEST(LoaderMissing, EntryPointMissingRaisesLinkErrorEachTime) {
    Modbus485Library link(QStringLiteral("modbus485_partial"));
    EXPECT_EQ(link.GetPort_Status(3), 703);
    EXPECT_THROW(link.OpenPort_Modbus(1, 1, 0), LinkError);
    EXPECT_THROW(link.OpenPort_Modbus(1, 1, 0), LinkError);
    EXPECT_THROW(link.Set_4X_D1(1, 1, 256, 0), LinkError);
    // A library older than the diagnostics: the panel resumes past these and shows no text.
    char text[64];
    int32_t values[MODBUS485_COUNTERS];
    EXPECT_THROW(link.GetPort_Info(1, text, sizeof text), LinkError);
    EXPECT_THROW(link.GetPort_Counters(1, values, MODBUS485_COUNTERS), LinkError);
    EXPECT_THROW(link.GetPort_LastRead(1, 1, 2, 1, values, MODBUS485_LASTREAD_VALUES), LinkError);
    EXPECT_THROW(link.SetPort_Turnaround(1, 20), LinkError);
    EXPECT_THROW(link.SetPort_Trace(1, QStringLiteral("trace.log")), LinkError);
    EXPECT_EQ(link.GetPort_Status(4), 704);
}
