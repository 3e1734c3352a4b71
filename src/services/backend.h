#pragma once

// Where the backend is and what every request says about the program.

#include <corvane.h>

#include <QString>
#include <QUrl>

#include <optional>

class AnalyticsCollecting;

namespace backend {

// The backend's root, ending in "/". WUGGIT_BACKEND_URL overrides the built-in
// one (for a local stand-in); an override that is not HTTPS or loopback, or
// does not end in "/", is ignored with a warning.
QUrl baseURL();

// The "x-app-version" value: the short version, "0.0.0" when there is none.
QString appVersion(const std::optional<QString> &shortVersion);
// The program's own short version as built.
std::optional<QString> bundleShortVersion();

// Sent with every request through the HTTP service. The distinct id is read
// once, here.
corvane::Headers commonHeaders(AnalyticsCollecting &analytics,
                               const std::optional<QString> &shortVersion = bundleShortVersion());

// Sent with the token renewal, built anew each time; no distinct id.
corvane::Headers renewalHeaders(const std::optional<QString> &shortVersion = bundleShortVersion());

// The part every endpoint description shares: the backend's base URL.
class Endpoint : public corvane::ConfigRequestConvertible
{
public:
    QUrl baseURL() const override { return backend::baseURL(); }
};

} // namespace backend
