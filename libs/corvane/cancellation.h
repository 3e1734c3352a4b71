#pragma once

#include <QtGlobal>

#include <functional>
#include <map>
#include <memory>

namespace corvane {

// Lets a caller abandon the requests it started: cancel() aborts every
// request still on the wire that was started under it, and a request that has
// not gone out yet fails at once. Abandoned requests end as noResponse.
class Cancellation
{
public:
    void cancel();
    bool isCancelled() const { return m_cancelled; }

    // Runs onCancel when cancel() is called (at once if it was); the hook is
    // removed by the returned id.
    quint64 onCancel(std::function<void()> hook);
    void removeHook(quint64 id);

private:
    bool m_cancelled = false;
    quint64 m_nextId = 0;
    std::map<quint64, std::function<void()>> m_hooks;
};

// Makes a cancellation the current one of this thread while it lives. The
// client's requests run synchronously up to their first wait, so a request
// started inside the scope picks it up, whatever services it passes through.
class CancellationScope
{
public:
    explicit CancellationScope(std::shared_ptr<Cancellation> cancellation);
    ~CancellationScope();
    CancellationScope(const CancellationScope &) = delete;
    CancellationScope &operator=(const CancellationScope &) = delete;

    static std::shared_ptr<Cancellation> current();

private:
    std::shared_ptr<Cancellation> m_previous;
};

} // namespace corvane
