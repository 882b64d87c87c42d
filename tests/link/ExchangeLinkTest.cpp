// A coroutine awaiting the link's answers, inline and on the link's thread: the call's result comes back on
// the asker's thread, a LinkError raised by the call comes out of the co_await, and a coroutine destroyed
// while it waits is never resumed.
#include "CallingModbus485.h"
#include "LinkError.h"
#include "ThreadedLink.h"

#include <QCoreApplication>
#include <QObject>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <coroutine>
#include <memory>
#include <optional>
#include <string>

namespace {

// The module's register 256 holds 2; with `missing` every call raises as with no library.
class ParityModule : public CallingModbus485 {
public:
    bool missing = false;
    int32_t GetPort_Info(int32_t, char *, int32_t) override { return 0; }
    int32_t GetPort_Counters(int32_t, int32_t *, int32_t) override { return 0; }
    int32_t GetPort_LastRead(int32_t, int32_t, int32_t, int32_t, int32_t *, int32_t) override { return 0; }

protected:
    int32_t call(const QString &operation, std::initializer_list<int32_t>, std::span<int32_t>,
                 const Pass &) override {
        if (missing)
            throw LinkError("MODBUS485 missing");
        return operation == QStringLiteral("Get_4X_D1") ? 2 : 0;
    }
};

// A coroutine that runs at once and keeps its frame until destroyed.
struct Started {
    struct promise_type {
        Started get_return_object() { return {std::coroutine_handle<promise_type>::from_promise(*this)}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
    std::coroutine_handle<promise_type> handle;
};

struct Outcome {
    std::optional<int32_t> value;
    std::string error;
    bool resumedOnItsThread = false;
};

Started readParity(ExchangeLink &link, QObject *context, Outcome &outcome) {
    try {
        outcome.value = co_await link.ask(1, context, [](Modbus485 &m) { return m.Get_4X_D1(1, 1, 256); });
    } catch (const LinkError &e) {
        outcome.error = e.what();
    }
    outcome.resumedOnItsThread = QThread::currentThread() == context->thread();
}

TEST(ExchangeLinkTest, ACoroutineGetsTheAnswerOrTheErrorOnItsOwnThread) {
    struct Row {
        bool threaded;
        bool missing;
        bool destroyWhileWaiting;
        std::optional<int32_t> value;
        const char *error;
    };
    const Row rows[] = {
        {false, false, false, 2, ""},          {false, true, false, std::nullopt, "MODBUS485 missing"},
        {true, false, false, 2, ""},           {true, true, false, std::nullopt, "MODBUS485 missing"},
        {true, false, true, std::nullopt, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.threaded << row.missing << row.destroyWhileWaiting);
        ParityModule module;
        module.missing = row.missing;
        std::unique_ptr<ExchangeLink> link;
        if (row.threaded)
            link = std::make_unique<ThreadedLink>(module);
        else
            link = std::make_unique<InlineLink>(module);
        QObject context;
        Outcome outcome;
        Started task = readParity(*link, &context, outcome);
        if (row.destroyWhileWaiting)
            task.handle.destroy();
        // A marker asked after the coroutine's ask comes back after it.
        bool back = false;
        link->post(
            ExchangeLink::Priority::Operator, 1, [](Modbus485 &) {}, &context, [&] { back = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return back; }, 30000));
        EXPECT_EQ(outcome.value, row.value);
        EXPECT_EQ(outcome.error, row.error);
        EXPECT_EQ(outcome.resumedOnItsThread, !row.destroyWhileWaiting);
        if (!row.destroyWhileWaiting)
            task.handle.destroy();
    }
}

} // namespace
