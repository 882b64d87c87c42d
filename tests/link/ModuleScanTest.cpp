// The module scan step by step over a scripted module: where it is found, how many reads that took, and
// the waits it asked for.
#include "ModuleScan.h"
#include "MODBUS485.h"
#include "RecordingModbus485.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

enum class Answers { AtOnce, OnlyLate, WithException, AfterRefusal, Never, PortBusy };

struct Case {
    const char *name;
    Answers answers;
    int32_t station, baudCode, parityCode; // where the module is
    ModuleScan::Step result;
    int reads;    // input reads sent
    int waitedMs; // waits asked for between steps
};

// The module of one case. A late answer turns up as a stray frame during the next read.
class ScriptedModule : public RecordingModbus485 {
public:
    explicit ScriptedModule(const Case &c)
        : m_case(c) {
        info = "打开失败：设备被占用（other 42）";
        if (c.answers == Answers::PortBusy)
            scriptResults(QStringLiteral("OpenPort_Modbus"), {MODBUS485_OPEN_DEVICE_ERROR});
    }

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
        const Answers how = m_case.answers;
        if (a[1] == m_case.station && m_setting == std::pair{m_case.baudCode, m_case.parityCode}) {
            if (how == Answers::AtOnce || (how == Answers::AfterRefusal && m_refused) ||
                (how == Answers::OnlyLate && m_turnaroundMs >= 1000))
                outcome = MODBUS485_OUTCOME_GOOD;
            else if (how == Answers::WithException)
                outcome = MODBUS485_OUTCOME_EXCEPTION;
            else if (how == Answers::AfterRefusal)
                outcome = MODBUS485_OUTCOME_DEMOTED;
            m_refused = true;
            m_lateOnLine = how == Answers::OnlyLate && outcome != MODBUS485_OUTCOME_GOOD;
        }
        lastRead = {outcome, 0, 1500, 0};
        return outcome == MODBUS485_OUTCOME_GOOD ? 0 : MODBUS485_FAILED;
    }

private:
    const Case &m_case;
    std::pair<int32_t, int32_t> m_setting{-1, -1};
    int32_t m_turnaroundMs = 0;
    bool m_refused = false, m_lateOnLine = false;
};

TEST(ModuleScan, FindsTheModuleOneExchangePerStep) {
    using Step = ModuleScan::Step;
    const Case cases[] = {
        // 9600 baud with three parities and 19200 with two come first: 80 stations asked before.
        {"AnswersAtOnce", Answers::AtOnce, 3, 2, 2, Step::Found, 83, 0},
        // Heard only at station 6's read; 1-6 are asked again slowly.
        {"AnswersOnlyLate", Answers::OnlyLate, 5, 1, 0, Step::Found, 11, 0},
        {"ExceptionReplyCounts", Answers::WithException, 9, 1, 1, Step::Found, 25, 0},
        {"RefusedThenAskedAgain", Answers::AfterRefusal, 2, 1, 0, Step::Found, 3, MODBUS485_DEMOTION_MS},
        {"NothingAnswers", Answers::Never, 1, 1, 0, Step::NothingAnswered, 9 * 16, 0},
        {"CannotOpen", Answers::PortBusy, 1, 1, 0, Step::CannotOpen, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedModule module(c);
        ModuleScan scan(module, 7);
        Step step;
        int waitedMs = 0;
        for (int steps = 0; (step = scan.step()) == Step::Scanning && steps < 1000; ++steps)
            waitedMs += scan.waitMs();
        EXPECT_EQ(step, c.result);
        EXPECT_EQ(module.callsOf(QStringLiteral("Get_1X_B16")).size(), c.reads);
        EXPECT_EQ(waitedMs, c.waitedMs);
        EXPECT_EQ(module.calls.back(), QStringLiteral("ClosePort_Modbus(7)"));
        const ModuleScan::Found &f = scan.found();
        if (step == Step::Found) {
            EXPECT_EQ(std::tuple(f.station, f.baudCode, f.parityCode, f.answerUs),
                      std::tuple(c.station, c.baudCode, c.parityCode, 1500));
        }
        EXPECT_EQ(scan.openError(), step == Step::CannotOpen ? module.info.toStdString() : std::string());
    }
}

} // namespace
