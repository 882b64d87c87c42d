// survey_bench: prints how long LineSurvey takes, on the real library against qm4107-sim --wire on a
// pseudo-terminal:
//  (a) stations 1-16 at 9600 baud, no parity, on a silent line (target under 1.2 s);
//  (b) the same on a line with three modules, at stations 1, 5 and 9, each read in full once found;
//  (c) stations 1-16 at all nine settings on a silent line (target under 10 s).
// (a) and (b) are run three times and their median printed.
// Run from the build: bin/survey_bench
#include "LineSurvey.h"
#include "Modbus485Library.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int32_t Port = 1;

struct Run {
    double seconds = 0;
    std::size_t modules = 0;
};

Run survey(const QStringList &simArgs, std::vector<LineSurvey::LineSetting> settings) {
    SimProcess sim(QStringList{"--wire"} + simArgs);
    qputenv("MODBUS485_PORT1", sim.devicePath().toLocal8Bit());
    Modbus485Library link;
    LineSurvey lineSurvey(link, Port, LineSurvey::FirstStation, LineSurvey::LastStation, std::move(settings));
    QElapsedTimer clock;
    clock.start();
    while (lineSurvey.step() == LineSurvey::Step::Surveying)
        std::this_thread::sleep_for(std::chrono::milliseconds(lineSurvey.waitMs()));
    return {clock.nsecsElapsed() / 1e9, lineSurvey.modules().size()};
}

Run median(const QStringList &simArgs) {
    std::vector<Run> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(survey(simArgs, {LineSurvey::DefaultSetting}));
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    return runs[1];
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const Run silent = median({"-c", "silent"});
    std::printf(
        "(a) stations 1-16, 9600 baud, no parity, silent line: %.2f s, %zu modules (target under 1.2 s)\n",
        silent.seconds, silent.modules);
    const Run three = median({"--stations", "1,5,9"});
    std::printf("(b) stations 1-16, 9600 baud, no parity, three modules: %.2f s, %zu modules\n",
                three.seconds, three.modules);
    const Run all = survey({"-c", "silent"}, LineSurvey::allSettings());
    std::printf(
        "(c) stations 1-16, all nine settings, silent line: %.2f s, %zu modules (target under 10 s)\n",
        all.seconds, all.modules);
    return 0;
}
