#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace sentry {

// A parsed client key: https://<public key>@<host>[:port][/prefix]/<project id>.
struct Dsn
{
    QString original;
    QString scheme;
    QString publicKey;
    QString host;
    int port = -1;
    QString pathPrefix; // empty, or "/something" for self-hosted ingests below a path
    QString projectId;

    // Returns nullopt and a reason in *error when the DSN can't be used.
    static std::optional<Dsn> parse(const QString &text, QString *error = nullptr);

    QUrl envelopeUrl() const;
    QByteArray authHeader(const QString &client) const;
};

// Exactly length lowercase hex digits (keys and event ids), checked without
// a regular expression: this runs at every start.
bool isLowerHex(const QString &s, qsizetype length);
bool isLoopbackHost(const QString &host);

} // namespace sentry
