#pragma once

#include <coroutine>
#include <exception>
#include <utility>

// A step of the walk written as straight-line code: a coroutine that suspends at each turn of the event loop
// and at each question to the engineer. Awaiting a WalkTask runs it and resumes the awaiter when it ends;
// an exception inside it comes out of the co_await. Destroying a suspended task destroys its frame and,
// through the frame's locals, the tasks it was awaiting.
class WalkTask {
public:
    struct promise_type {
        std::coroutine_handle<> continuation;
        std::exception_ptr error;

        WalkTask get_return_object() {
            return WalkTask(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct FinalAwaiter {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> done) noexcept {
                const auto next = done.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        FinalAwaiter final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { error = std::current_exception(); }
    };

    WalkTask() = default;
    WalkTask(WalkTask &&other) noexcept
        : m_handle(std::exchange(other.m_handle, {})) {}
    WalkTask &operator=(WalkTask &&other) noexcept {
        if (this != &other) {
            if (m_handle)
                m_handle.destroy();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    WalkTask(const WalkTask &) = delete;
    WalkTask &operator=(const WalkTask &) = delete;
    ~WalkTask() {
        if (m_handle)
            m_handle.destroy();
    }

    // Runs a task that nobody awaits up to its first suspension.
    void start() { m_handle.resume(); }
    bool done() const { return !m_handle || m_handle.done(); }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiter) noexcept {
        m_handle.promise().continuation = awaiter;
        return m_handle;
    }
    void await_resume() const {
        if (m_handle.promise().error)
            std::rethrow_exception(m_handle.promise().error);
    }

private:
    explicit WalkTask(std::coroutine_handle<promise_type> handle)
        : m_handle(handle) {}

    std::coroutine_handle<promise_type> m_handle;
};
