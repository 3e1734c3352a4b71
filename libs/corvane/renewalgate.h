#pragma once

// One token renewal at a time per refresher, shared by every request that
// meets a 401 while it runs. Lives outside HTTPService because services are
// made per resolution while the token they renew is the process's.

#include <QCoro/QCoroTask>

#include <memory>

namespace corvane {

class TokenRefreshing;

namespace detail {

// Runs refresher->refresh(), or joins the renewal already running for the
// same refresher. True when it completed; a throwing refresh() gives false to
// every request waiting on it. Main thread only.
QCoro::Task<bool> renewShared(std::shared_ptr<TokenRefreshing> refresher);

} // namespace detail
} // namespace corvane
