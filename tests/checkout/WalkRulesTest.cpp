// The walk's judgements on made-up reads: no line, no clock.
#include "WalkRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace WalkRules;

namespace {

constexpr int32_t F = ModuleMap::Failed;

// "0100000000" is X2 closed; "f" a read that failed.
std::optional<Inputs> inputs(const std::string &bits) {
    if (bits == "f")
        return std::nullopt;
    Inputs read{};
    for (size_t k = 0; k < read.size(); ++k)
        read[k] = bits.at(k) - '0';
    return read;
}

struct InputRow {
    const char *name;
    int input;
    std::vector<std::string> before, after;
    const char *events; // one a read after the prompt: . none, M moved, B back, X crossed
    int crossed;
};

TEST(WalkRules, InputWatch) {
    const InputRow rows[] = {
        {"MovedAndBack",
         2,
         {"0000000000", "0000000000"},
         {"0100000000", "0100000000", "0000000000", "0000000000"},
         ".M.B",
         0},
        {"OneReadIsNoChange", 2, {"0000000000"}, {"0100000000", "0000000000", "0000000000"}, "...", 0},
        {"FailedReadBetweenEqualOnes", 2, {"0000000000"}, {"0100000000", "f", "0100000000"}, "..M", 0},
        {"AnotherInputMoves", 3, {"0000000000"}, {"0001000000", "0001000000"}, ".X", 4},
        {"InputMovingBeforeThePromptLeftOut",
         2,
         {"1000000000", "0000000000", "1000000000"},
         {"1100000000", "1100000000", "0000000000", "0000000000"},
         ".M.B",
         0},
        {"NothingReadBeforeThePrompt",
         2,
         {"f"},
         {"0000000000", "0000000000", "0100000000", "0100000000"},
         "...M",
         0},
    };
    for (const InputRow &row : rows) {
        InputWatch watch(row.input);
        for (const std::string &read : row.before)
            watch.before(inputs(read));
        std::string events;
        for (const std::string &read : row.after)
            events += ".MBX"[static_cast<int>(watch.watch(inputs(read)))];
        EXPECT_EQ(events, row.events) << row.name;
        EXPECT_EQ(watch.crossed(), row.crossed) << row.name;
    }
}

struct CountRow {
    const char *name;
    std::vector<std::pair<qint64, int32_t>> clearReads; // ms after the clear, count
    int pulses;
    std::vector<std::pair<qint64, int32_t>> countReads;
    CountWatch::Verdict last;
};

TEST(WalkRules, CountWatch) {
    using V = CountWatch::Verdict;
    const CountRow rows[] = {
        {"SteadyForTwoSeconds",
         {{100, 5000}, {300, 0}},
         10,
         {{1000, 10}, {2500, 10}, {3000, 10}},
         V::Counted},
        {"SteadyNotLongEnough", {{300, 0}}, 10, {{1000, 10}, {2900, 10}}, V::Waiting},
        {"MoreThanSentIsABounce", {{300, 0}}, 10, {{1000, 5}, {1500, 11}}, V::Bounce},
        {"SteadinessStartsAgainOffTheCount", {{300, 0}}, 10, {{1000, 10}, {1500, 9}, {3100, 10}}, V::Waiting},
        {"FailedReadKeepsTheCount", {{300, 0}}, 10, {{1000, 10}, {2000, F}, {3000, 10}}, V::Counted},
        {"ClearLost", {{100, 5000}, {1000, 5000}, {2100, 5000}}, 10, {}, V::ClearFailed},
        {"ClearNotReadInTime", {{100, F}, {1999, F}, {2000, F}}, 10, {}, V::ClearFailed},
        {"ClearStillWaited", {{100, 5000}, {1900, 5000}}, 10, {}, V::Waiting},
    };
    for (const CountRow &row : rows) {
        CountWatch watch(2000, 2000);
        watch.cleared(0);
        V verdict = V::Waiting;
        for (const auto &[ms, value] : row.clearReads)
            verdict = watch.read(value, ms);
        if (verdict == V::Cleared) {
            watch.expect(row.pulses);
            for (const auto &[ms, value] : row.countReads)
                verdict = watch.read(value, ms);
        }
        EXPECT_EQ(verdict, row.last) << row.name;
    }
}

TEST(WalkRules, FrequencyCheck) {
    const struct {
        int32_t previous, now;
        int hz;
        double tolerance;
        Frequency verdict;
    } rows[] = {
        {0, 0, 50, 5, Frequency::Unsteady},   {F, F, 50, 5, Frequency::Unsteady},
        {50, 51, 50, 5, Frequency::Unsteady}, {50, 50, 50, 5, Frequency::Within},
        {48, 48, 50, 5, Frequency::Within},   {47, 47, 50, 5, Frequency::Off},
        {53, 53, 50, 5, Frequency::Off},      {40, 40, 50, 0, Frequency::Off},
    };
    for (const auto &row : rows)
        EXPECT_EQ(frequencyCheck(row.previous, row.now, row.hz, row.tolerance), row.verdict)
            << row.previous << ' ' << row.now << ' ' << row.hz << ' ' << row.tolerance;
}

TEST(WalkRules, OutputVerdict) {
    const struct {
        ReadBack readBack;
        FieldAnswer field;
        Defect given;
        Verdict verdict;
    } rows[] = {
        {ReadBack::NoAnswer, FieldAnswer::Skipped, Defect::None, {Result::Fail, Defect::Comms}},
        {ReadBack::Wrong, FieldAnswer::Skipped, Defect::None, {Result::Fail, Defect::Module}},
        {ReadBack::Wrong, FieldAnswer::Skipped, Defect::Wiring, {Result::Fail, Defect::Wiring}},
        {ReadBack::Confirmed, FieldAnswer::Moved, Defect::None, {Result::Pass, Defect::None}},
        {ReadBack::Confirmed, FieldAnswer::DidNotMove, Defect::None, {Result::Fail, Defect::FieldDevice}},
        {ReadBack::Confirmed, FieldAnswer::DidNotMove, Defect::Other, {Result::Fail, Defect::Other}},
        {ReadBack::Confirmed, FieldAnswer::Skipped, Defect::None, {Result::Skip, Defect::None}},
    };
    for (const auto &row : rows) {
        const Verdict verdict = outputVerdict(row.readBack, row.field, row.given);
        EXPECT_EQ(verdict.result, row.verdict.result) << int(row.readBack) << int(row.field);
        EXPECT_EQ(verdict.defect, row.verdict.defect) << int(row.readBack) << int(row.field);
    }
}

} // namespace
