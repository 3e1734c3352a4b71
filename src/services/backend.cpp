#include "backend.h"

#include "analyticscollecting.h"

#include <buildconfig.h>

#include <QDebug>

namespace backend {

QUrl baseURL()
{
    static const QUrl builtIn(QString::fromUtf8(BuildConfig::kBackendUrl));
    const QByteArray override = qgetenv("WUGGIT_BACKEND_URL");
    if (override.isEmpty())
        return builtIn;
    const QUrl url(QString::fromUtf8(override), QUrl::StrictMode);
    if (url.isValid() && url.path().endsWith(QLatin1Char('/')) && corvane::isAllowedBaseUrl(url))
        return url;
    static bool warned = false;
    if (!warned) {
        warned = true;
        qWarning("WUGGIT_BACKEND_URL is not an https URL (or http on loopback) ending in \"/\"; "
                 "using the built-in backend");
    }
    return builtIn;
}

QString appVersion(const std::optional<QString> &shortVersion)
{
    if (shortVersion && !shortVersion->isEmpty())
        return *shortVersion;
    return QStringLiteral("0.0.0");
}

std::optional<QString> bundleShortVersion()
{
    const QString version = QString::fromUtf8(BuildConfig::kShortVersion);
    if (version.isEmpty())
        return std::nullopt;
    return version;
}

corvane::Headers commonHeaders(AnalyticsCollecting &analytics, const std::optional<QString> &shortVersion)
{
    return {
        {QStringLiteral("x-app-version"), appVersion(shortVersion)},
        {QStringLiteral("x-client-type"), QStringLiteral("macOS")},
        {QStringLiteral("x-distinct-id"), analytics.distinctId()},
    };
}

corvane::Headers renewalHeaders(const std::optional<QString> &shortVersion)
{
    return {
        {QStringLiteral("x-client-type"), QStringLiteral("macOS")},
        {QStringLiteral("Content-Type"), QStringLiteral("application/json")},
        {QStringLiteral("x-app-version"), appVersion(shortVersion)},
    };
}

} // namespace backend
