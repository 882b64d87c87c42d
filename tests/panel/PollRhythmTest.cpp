#include "PollRhythm.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The tooltip's period line from the times the rounds of each poll started.
struct Row {
    const char *name;
    std::vector<int64_t> ioStarts;
    std::vector<int64_t> counterStarts;
    const char *line;
};

std::vector<int64_t> every(int64_t period, int rounds, int64_t from = 0) {
    std::vector<int64_t> starts;
    for (int i = 0; i < rounds; ++i)
        starts.push_back(from + i * period);
    return starts;
}

TEST(PollRhythmTest, TheLinkStatusTooltipNamesBothPeriodsWhileEitherIsSlow) {
    std::vector<int64_t> slowThenKeepingUp = every(2000, 5);
    for (const int64_t t : every(500, 11, 10000))
        slowThenKeepingUp.push_back(t);
    const Row rows[] = {
        {"a line that keeps up", every(500, 30), every(500, 30), ""},
        {"no rounds yet", {}, {}, ""},
        {"exactly 0.6 s is not slow", every(600, 11), every(600, 11), ""},
        {"a slow counter poll", every(1300, 11), every(2600, 11), "轮询周期：输入输出 1.3 s，计数 2.6 s"},
        {"a slow I/O poll alone", every(650, 4), every(500, 4), "轮询周期：输入输出 0.7 s，计数 0.5 s"},
        {"only the last ten rounds count", slowThenKeepingUp, every(500, 16), ""},
        {"one round is not yet a period", {0}, every(900, 3), "轮询周期：输入输出 —，计数 0.9 s"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PollRhythm io, counters;
        for (const int64_t t : row.ioStarts)
            io.roundStarted(t);
        for (const int64_t t : row.counterStarts)
            counters.roundStarted(t);
        EXPECT_EQ(pollPeriodLine(io.periodSeconds(), counters.periodSeconds()), QString::fromUtf8(row.line));
    }
}

} // namespace
