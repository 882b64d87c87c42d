#pragma once

#include "Modbus485.h"

#include <QObject>
#include <QPointer>

#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

// Where a window's exchanges with the module are made. A window asks for a unit (one or more library calls
// that the line carries without a break) and returns; when the unit is done, its continuation runs on the
// asker's thread. InlineLink makes the unit at once on the caller's thread; ThreadedLink makes it on a
// thread of its own, one unit at a time, so the window never waits on the line.
class ExchangeLink {
public:
    // An operator's request goes ahead of every poll unit not yet started; within a priority, in order.
    enum class Priority { Poll, Operator };
    // Names an asked unit, so that one not yet started can be dropped; 0 names none.
    using AskId = uint64_t;
    using Unit = std::function<void(Modbus485 &)>;
    using Done = std::function<void()>;

    virtual ~ExchangeLink() = default;

    // Asks for `unit` on `port`; `done`, if any, runs afterwards on `context`'s thread, unless `context` is
    // gone or the link has been stopped.
    virtual AskId post(Priority priority, int32_t port, Unit unit, QObject *context, Done done) = 0;
    // Drops a unit that has not started; false when it has started or is unknown.
    virtual bool drop(AskId id) = 0;
    // Starts nothing more and delivers no further continuation; a unit already on the line finishes.
    virtual void stop() = 0;
    // True when units are made at once on the asker's thread.
    virtual bool isInline() const = 0;

    // The port's diagnostics in the library's own shapes. Inline they are asked of the library (and raise
    // LinkError as it does); threaded they come from the copy kept after each unit on the port (an empty
    // unit makes a fresh one), without a call.
    virtual int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) = 0;
    virtual int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) = 0;
    virtual int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start,
                                     int32_t *values, int32_t count) = 0;

    template <class Call> class Asked;

    // For a coroutine: `co_await link.ask(port, context, [&](Modbus485 &m) { return m.Get_4X_D1(...); })`
    // gives the call's result on `context`'s thread, or raises what the call raised (LinkError) there.
    template <class Call>
    Asked<Call> ask(int32_t port, QObject *context, Call call, Priority priority = Priority::Operator) {
        return Asked<Call>(*this, port, context, std::move(call), priority);
    }
};

// The awaitable of ExchangeLink::ask. Destroying a suspended coroutine abandons its ask: the unit may still
// be made, but nothing is resumed.
template <class Call> class ExchangeLink::Asked {
public:
    using Result = std::invoke_result_t<Call &, Modbus485 &>;

    Asked(ExchangeLink &link, int32_t port, QObject *context, Call call, Priority priority)
        : m_link(link)
        , m_port(port)
        , m_context(context)
        , m_priority(priority)
        , m_state(std::make_shared<State>(std::move(call))) {}
    Asked(Asked &&) noexcept = default;
    Asked(const Asked &) = delete;
    ~Asked() {
        if (m_state)
            m_state->abandoned = true;
    }

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> awaiter) {
        m_state->awaiter = awaiter;
        m_link.post(
            m_priority, m_port,
            [state = m_state](Modbus485 &library) {
                try {
                    if constexpr (std::is_void_v<Result>)
                        state->call(library);
                    else
                        state->result = state->call(library);
                } catch (...) {
                    state->error = std::current_exception();
                }
            },
            m_context,
            [state = m_state] {
                state->finished = true;
                if (state->suspended && !state->abandoned)
                    state->awaiter.resume();
            });
        // Made at once (inline): go on without suspending.
        if (m_state->finished)
            return false;
        m_state->suspended = true;
        return true;
    }
    Result await_resume() {
        if (m_state->error)
            std::rethrow_exception(m_state->error);
        if constexpr (!std::is_void_v<Result>)
            return std::move(*m_state->result);
    }

private:
    struct State {
        explicit State(Call c)
            : call(std::move(c)) {}
        Call call;
        std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
        std::exception_ptr error;
        std::coroutine_handle<> awaiter;
        bool finished = false;
        bool suspended = false;
        bool abandoned = false;
    };

    ExchangeLink &m_link;
    int32_t m_port;
    QObject *m_context;
    Priority m_priority;
    std::shared_ptr<State> m_state;
};

// Makes every unit at once on the caller's thread and asks the library itself for diagnostics.
class InlineLink : public ExchangeLink {
public:
    explicit InlineLink(Modbus485 &library)
        : m_library(library) {}

    AskId post(Priority, int32_t, Unit unit, QObject *context, Done done) override {
        if (m_stopped)
            return 0;
        const QPointer<QObject> alive(context);
        unit(m_library);
        if (done && (!context || alive) && !m_stopped)
            done();
        return 0;
    }
    bool drop(AskId) override { return false; }
    void stop() override { m_stopped = true; }
    bool isInline() const override { return true; }

    int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) override {
        return m_library.GetPort_Info(port, buffer, size);
    }
    int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) override {
        return m_library.GetPort_Counters(port, values, count);
    }
    int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start, int32_t *values,
                             int32_t count) override {
        return m_library.GetPort_LastRead(port, station, function, start, values, count);
    }

private:
    Modbus485 &m_library;
    bool m_stopped = false;
};
