#include "dsn.h"

#include <QHostAddress>
#include <QStringList>

namespace sentry {

namespace {

std::optional<Dsn> fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

bool isAllDigits(const QString &s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

} // namespace

bool isLowerHex(const QString &s, qsizetype length)
{
    if (s.size() != length)
        return false;
    for (QChar c : s)
        if ((c < u'0' || c > u'9') && (c < u'a' || c > u'f'))
            return false;
    return true;
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

std::optional<Dsn> Dsn::parse(const QString &text, QString *error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return fail(error, QStringLiteral("the DSN is empty"));

    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return fail(error, QStringLiteral("the DSN is not a URL: %1").arg(url.errorString()));

    Dsn dsn;
    dsn.original = trimmed;
    dsn.scheme = url.scheme().toLower();
    dsn.host = url.host();
    dsn.port = url.port();
    dsn.publicKey = url.userName();

    if (dsn.scheme != u"https" && dsn.scheme != u"http")
        return fail(error, QStringLiteral("unsupported scheme \"%1\"").arg(dsn.scheme));
    if (dsn.host.isEmpty())
        return fail(error, QStringLiteral("the DSN has no host"));
    // Reports carry stack traces and paths; plain HTTP only for a local stand-in.
    if (dsn.scheme == u"http" && !isLoopbackHost(dsn.host))
        return fail(error, QStringLiteral("plain HTTP is only allowed for a loopback host"));

    if (!isLowerHex(dsn.publicKey, 32))
        return fail(error, QStringLiteral("the public key must be 32 lowercase hex digits"));
    if (!url.password().isEmpty())
        return fail(error, QStringLiteral("secret keys are not supported in a client DSN"));
    if (url.hasQuery() || url.hasFragment())
        return fail(error, QStringLiteral("the DSN must not have a query or fragment"));

    QStringList segments = url.path().split(u'/', Qt::SkipEmptyParts);
    if (segments.isEmpty())
        return fail(error, QStringLiteral("the DSN has no project id"));
    dsn.projectId = segments.takeLast();
    if (!isAllDigits(dsn.projectId))
        return fail(error, QStringLiteral("the project id must be decimal digits"));
    if (url.path().endsWith(u'/'))
        return fail(error, QStringLiteral("the DSN must end with the project id"));
    if (!segments.isEmpty())
        dsn.pathPrefix = u'/' + segments.join(u'/');
    return dsn;
}

QUrl Dsn::envelopeUrl() const
{
    QUrl url;
    url.setScheme(scheme);
    url.setHost(host);
    url.setPort(port);
    url.setPath(pathPrefix + QStringLiteral("/api/") + projectId + QStringLiteral("/envelope/"));
    return url;
}

QByteArray Dsn::authHeader(const QString &client) const
{
    return QStringLiteral("Sentry sentry_version=7, sentry_key=%1, sentry_client=%2")
        .arg(publicKey, client)
        .toUtf8();
}

} // namespace sentry
