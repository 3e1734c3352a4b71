#pragma once

// One token renewal at a time per session (token store), shared by every
// request that meets a 401 while it runs, whichever service or refresher
// object it came through: a second renewal would spend a refresh token the
// first one already rotated, and the backend would end the session. Lives
// outside HTTPService because services are made per resolution while the
// token they renew is the process's.

#include <QCoro/QCoroTask>

#include <memory>

namespace corvane {

class TokenRefreshing;

namespace detail {

// Runs refresher->refresh(), or joins the renewal already running for the
// same session. True when it completed; a throwing refresh() gives false to
// every request waiting on it. Main thread only.
QCoro::Task<bool> renewShared(std::shared_ptr<TokenRefreshing> refresher, std::shared_ptr<const void> session);

} // namespace detail
} // namespace corvane
