// The survey of a line, on the real library against modules on one simulated bus: what it lists, and how
// many input reads it took (a silent station costs one).
#include "LineSurvey.h"
#include "CountingModbus485.h"
#include "Modbus485Library.h"
#include "QStringPrinter.h"
#include "SimProcess.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Setting = LineSurvey::LineSetting;
constexpr Setting None9600{1, 0}, Odd9600{1, 1}, Even9600{1, 2};

// A module as the survey lists it: "station baud-code parity-code module-parity QM4107? remark".
QString described(const LineSurvey::Module &m) {
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(m.station)
        .arg(m.setting.baudCode)
        .arg(m.setting.parityCode)
        .arg(m.moduleParity)
        .arg(m.qm4107 ? "QM4107" : "-")
        .arg(QString::fromStdString(LineSurvey::remark(m)))
        .trimmed();
}

TEST(LineSurvey, ListsEveryModuleOnTheLine) {
    struct Row {
        const char *name;
        QStringList sim;
        int32_t first, last;
        std::vector<Setting> settings;
        QStringList modules;
        int reads; // input reads: one a station and setting, more for a second look
    } rows[] = {
        {"ThreeModulesOneAtAnotherParity",
         {"--stations", "1,5:9600:even,9"},
         1,
         16,
         {None9600, Even9600},
         {"1 1 0 0 QM4107", "5 1 2 2 QM4107", "9 1 0 0 QM4107"},
         32},
        {"SilentLine", {"-c", "silent"}, 1, 16, {None9600}, {}, 16},
        {"StationRange", {"--stations", "20,30,200"}, 28, 31, {None9600}, {"30 1 0 0 QM4107"}, 4},
        {"SameStationAtTwoSettings",
         {"--stations", "2,2:9600:odd"},
         1,
         3,
         {None9600, Odd9600},
         {"2 1 0 0 QM4107 多个设置均应答", "2 1 1 1 QM4107 多个设置均应答"},
         6},
        // Station 9's two modules answer at once; it alone is asked again, slowly.
        {"TwoModulesAtOneStation",
         {"--stations", "8,9,9"},
         8,
         10,
         {None9600},
         {"8 1 0 0 QM4107", "9 1 0 -1 - 可能站号重复"},
         -1},
        {"RefusesAsNoQM4107Would",
         {"--stations", "4", "-c", "exception 1"},
         4,
         4,
         {None9600},
         {"4 1 0 -1 -"},
         1},
        // Heard only during a later read: the stations asked so far are asked again slowly.
        {"AnswersLate", {"--stations", "3", "-c", "late 100"}, 2, 9, {None9600}, {"3 1 0 0 QM4107"}, -1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SimProcess sim(row.sim);
        ASSERT_FALSE(sim.devicePath().isEmpty());
        qputenv("MODBUS485_PORT6", sim.devicePath().toLocal8Bit());
        Modbus485Library library;
        CountingModbus485 link(library);
        link.recording = true;
        LineSurvey survey(link, 6, row.first, row.last, row.settings);
        LineSurvey::Step step;
        // Driven as qm4107-ports drives it: the only pause is the one the survey asks for (a refused station
        // waits out the library's demotion before it is asked again), in a loop bounded by its step count.
        for (int steps = 0; (step = survey.step()) == LineSurvey::Step::Surveying && steps < 10000; ++steps)
            std::this_thread::sleep_for(std::chrono::milliseconds(survey.waitMs()));
        EXPECT_EQ(step, LineSurvey::Step::Done);
        QStringList modules;
        for (const LineSurvey::Module &module : survey.modules())
            modules << described(module);
        EXPECT_EQ(modules, row.modules);
        if (row.reads >= 0) {
            EXPECT_EQ(link.callsOf(QStringLiteral("Get_1X_B16")), row.reads);
        }
        EXPECT_EQ(link.recorded.back(), QStringLiteral("ClosePort_Modbus(6)"));
    }
    qunsetenv("MODBUS485_PORT6");
}

} // namespace
