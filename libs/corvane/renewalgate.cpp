#include "renewalgate.h"

#include "corvane.h"

#include <QCoreApplication>
#include <QHash>
#include <QThread>

#include <coroutine>
#include <vector>

namespace corvane::detail {

namespace {

struct Renewal
{
    bool done = false;
    bool succeeded = false;
    std::vector<std::coroutine_handle<>> waiters;
};

// Suspends until the renewal is over; gives whether it succeeded.
struct Join
{
    std::shared_ptr<Renewal> renewal;
    bool await_ready() const noexcept { return renewal->done; }
    void await_suspend(std::coroutine_handle<> waiter) { renewal->waiters.push_back(waiter); }
    bool await_resume() const noexcept { return renewal->succeeded; }
};

QHash<const void *, std::shared_ptr<Renewal>> &inFlight()
{
    static QHash<const void *, std::shared_ptr<Renewal>> renewals;
    return renewals;
}

} // namespace

QCoro::Task<bool> renewShared(std::shared_ptr<TokenRefreshing> refresher, std::shared_ptr<const void> session)
{
    Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
    // The frame holds the session, so the key cannot be reused while in flight.
    const void *key = session.get();

    // Plain locals only: g++ 12 mishandles the lifetime of if-declared
    // variables and awaited temporaries in coroutines.
    std::shared_ptr<Renewal> running = inFlight().value(key);
    if (running) {
        Join join{running};
        const bool succeeded = co_await join;
        co_return succeeded;
    }

    const auto renewal = std::make_shared<Renewal>();
    inFlight().insert(key, renewal);
    try {
        co_await refresher->refresh();
        renewal->succeeded = true;
    } catch (...) {
        // Whatever went wrong, the waiting requests only learn that it did.
        renewal->succeeded = false;
    }
    renewal->done = true;
    inFlight().remove(key);

    const std::vector<std::coroutine_handle<>> waiters = std::move(renewal->waiters);
    for (const std::coroutine_handle<> waiter : waiters)
        waiter.resume();
    co_return renewal->succeeded;
}

} // namespace corvane::detail
