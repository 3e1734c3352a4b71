#include "cancellation.h"

namespace corvane {

namespace {
thread_local std::shared_ptr<Cancellation> t_current;
}

void Cancellation::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    // A hook may finish a request, which removes hooks: run from a copy.
    const auto hooks = std::move(m_hooks);
    m_hooks.clear();
    for (const auto &[id, hook] : hooks)
        hook();
}

quint64 Cancellation::onCancel(std::function<void()> hook)
{
    if (m_cancelled) {
        hook();
        return 0;
    }
    const quint64 id = ++m_nextId;
    m_hooks.emplace(id, std::move(hook));
    return id;
}

void Cancellation::removeHook(quint64 id)
{
    m_hooks.erase(id);
}

CancellationScope::CancellationScope(std::shared_ptr<Cancellation> cancellation) : m_previous(std::move(t_current))
{
    t_current = std::move(cancellation);
}

CancellationScope::~CancellationScope()
{
    t_current = std::move(m_previous);
}

std::shared_ptr<Cancellation> CancellationScope::current()
{
    return t_current;
}

} // namespace corvane
