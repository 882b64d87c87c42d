// The module scan step by step over a scripted module: where it is found, how many reads that took, and
// the waits it asked for.
#include "ModuleScan.h"
#include "MODBUS485.h"
#include "RecordingModbus485.h"

#include <gtest/gtest.h>

namespace {

enum class Answers { AtOnce, OnlyLate, WithException, AfterRefusal, Never };

// A module at one station and line setting. A late answer turns up as a stray frame during the next read.
class ScriptedModule : public RecordingModbus485 {
public:
    Answers answers = Answers::AtOnce;
    int32_t station = 0, baudCode = 0, parityCode = 0;

protected:
    int32_t call(const QString &operation, std::initializer_list<int32_t> args, std::span<int32_t> elements,
                 const Pass &pass) override {
        const int32_t result = RecordingModbus485::call(operation, args, elements, pass);
        const int32_t *a = std::data(args);
        if (operation == u"OpenPort_Modbus")
            m_setting = {a[1], a[2]};
        if (operation == u"SetPort_Turnaround")
            m_turnaroundMs = a[1];
        if (operation != u"Get_1X_B16")
            return result;
        counters.resize(MODBUS485_COUNTERS);
        counters[MODBUS485_COUNTER_STRAY] += m_lateOnLine ? 1 : 0;
        m_lateOnLine = false;
        int32_t outcome = MODBUS485_OUTCOME_NO_ANSWER;
        if (a[1] == station && m_setting == std::pair{baudCode, parityCode}) {
            if (answers == Answers::AtOnce || (answers == Answers::AfterRefusal && m_refused) ||
                (answers == Answers::OnlyLate && m_turnaroundMs >= 1000))
                outcome = MODBUS485_OUTCOME_GOOD;
            else if (answers == Answers::WithException)
                outcome = MODBUS485_OUTCOME_EXCEPTION;
            else if (answers == Answers::AfterRefusal)
                outcome = MODBUS485_OUTCOME_DEMOTED;
            m_refused = true;
            m_lateOnLine = answers == Answers::OnlyLate && outcome != MODBUS485_OUTCOME_GOOD;
        }
        lastRead = {outcome, 0, 1500, 0};
        return outcome == MODBUS485_OUTCOME_GOOD ? 0 : MODBUS485_FAILED;
    }

private:
    std::pair<int32_t, int32_t> m_setting{-1, -1};
    int32_t m_turnaroundMs = 0;
    bool m_refused = false, m_lateOnLine = false;
};

TEST(ModuleScan, FindsTheModuleOneExchangePerStep) {
    struct Case {
        const char *name;
        Answers answers;
        int32_t station, baudCode, parityCode;
        bool openFails;
        ModuleScan::Step result;
        int reads;    // input reads sent
        int waitedMs; // waits asked for between steps
    };
    const Case cases[] = {
        // 9600 baud with three parities and 19200 with two come first: 80 stations asked before.
        {"AnswersAtOnce", Answers::AtOnce, 3, 2, 2, false, ModuleScan::Step::Found, 83, 0},
        // Heard only at station 6's read; 1-6 are asked again slowly.
        {"AnswersOnlyLate", Answers::OnlyLate, 5, 1, 0, false, ModuleScan::Step::Found, 11, 0},
        {"ExceptionReplyCounts", Answers::WithException, 9, 1, 1, false, ModuleScan::Step::Found, 25, 0},
        {"RefusedThenAskedAgain", Answers::AfterRefusal, 2, 1, 0, false, ModuleScan::Step::Found, 3,
         MODBUS485_DEMOTION_MS},
        {"NothingAnswers", Answers::Never, 1, 1, 0, false, ModuleScan::Step::NothingAnswered, 9 * 16, 0},
        {"CannotOpen", Answers::AtOnce, 1, 1, 0, true, ModuleScan::Step::CannotOpen, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedModule module;
        module.answers = c.answers;
        module.station = c.station;
        module.baudCode = c.baudCode;
        module.parityCode = c.parityCode;
        module.info = "打开失败：设备被占用（other 42）";
        if (c.openFails)
            module.scriptResults(QStringLiteral("OpenPort_Modbus"), {MODBUS485_OPEN_DEVICE_ERROR});
        ModuleScan scan(module, 7);
        ModuleScan::Step step;
        int waitedMs = 0;
        for (int steps = 0; (step = scan.step()) == ModuleScan::Step::Scanning && steps < 1000; ++steps)
            waitedMs += scan.waitMs();
        EXPECT_EQ(step, c.result);
        EXPECT_EQ(module.callsOf(QStringLiteral("Get_1X_B16")).size(), c.reads);
        EXPECT_EQ(waitedMs, c.waitedMs);
        EXPECT_EQ(module.calls.back(), QStringLiteral("ClosePort_Modbus(7)"));
        if (c.result == ModuleScan::Step::Found) {
            EXPECT_EQ(scan.found().station, c.station);
            EXPECT_EQ(scan.found().baudCode, c.baudCode);
            EXPECT_EQ(scan.found().parityCode, c.parityCode);
            EXPECT_EQ(scan.found().answerUs, 1500);
        }
        if (c.openFails) {
            EXPECT_EQ(scan.openError(), module.info.toStdString());
        }
    }
}

} // namespace
