#pragma once

// Runs a coroutine task to its end on the event loop and keeps what it gave:
// its value or what it threw. (QCoro::waitFor never returns when a task
// throws after it suspended.) Header-only; include it from tests that link
// QCoro.

#include <QCoro/QCoroTask>
#include <QTest>

#include <exception>
#include <optional>
#include <type_traits>

template<class T>
struct SettledTask
{
    using Value = std::conditional_t<std::is_void_v<T>, bool, T>;

    std::optional<Value> value; // for a void task: true once it returned
    std::exception_ptr failure;
};

namespace detail {

template<class T>
QCoro::Task<void> settleInto(QCoro::Task<T> task, SettledTask<T> &out, bool &done)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            out.value = true;
        } else {
            out.value = co_await std::move(task);
        }
    } catch (...) {
        out.failure = std::current_exception();
    }
    done = true;
}

} // namespace detail

// Stops the test run when the task does not end in time.
template<class T>
SettledTask<T> settle(QCoro::Task<T> task, int timeoutMs = 60000)
{
    SettledTask<T> out;
    bool done = false;
    auto running = detail::settleInto(std::move(task), out, done);
    if (!QTest::qWaitFor([&done] { return done; }, timeoutMs))
        qFatal("a task never ended");
    return out;
}
