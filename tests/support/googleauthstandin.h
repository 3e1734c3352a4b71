#pragma once

// A loopback stand-in of Google's OAuth 2.0 authorization server for
// installed apps: GET /authorize redirects to the loopback redirect URI with a
// code, POST /token exchanges that code (checking PKCE) for tokens with an
// unsigned, JWT-shaped ID token. Every request is recorded.

#include <QHttpServer>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

class GoogleAuthStandIn : public QObject
{
    Q_OBJECT

public:
    enum class Script {
        grant,                 // the user consents
        deny,                  // redirect with error=access_denied
        wrongState,            // redirect with a state that is not the one sent
        tokenFailure,          // the token endpoint answers 503
        idTokenWithoutProfile, // the ID token has no name and e-mail claims
        noIdToken,             // the token answer has no id_token
    };

    struct Request
    {
        QString endpoint; // "/authorize" or "/token"
        QUrlQuery fields; // query of /authorize, form of /token
        int status = 0;   // what the stand-in answered
        QString refusal;  // why it refused, empty when it did not
    };

    explicit GoogleAuthStandIn(QString clientId, QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port; false if that failed.
    bool listen();
    QUrl authorizationEndpoint() const;
    QUrl tokenEndpoint() const;

    void setScript(Script script) { m_script = script; }
    void setAccount(QString name, QString email);

    QList<Request> requests() const { return m_requests; }
    QList<Request> requests(const QString &endpoint) const;
    // True when the last code exchange presented the verifier of the challenge.
    bool pkceVerified() const { return m_pkceVerified; }
    // The tokens of the last successful exchange.
    QString issuedIdToken() const { return m_issuedIdToken; }

    void clear();

private:
    void authorize(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void token(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    QString idToken(bool withProfile) const;

    QHttpServer m_server;
    quint16 m_port = 0;
    const QString m_clientId;
    Script m_script = Script::grant;
    QString m_name = QStringLiteral("Ada Lovelace");
    QString m_email = QStringLiteral("ada@example.com");

    // The one outstanding grant.
    QString m_code;
    QString m_challenge;
    QString m_redirectUri;

    bool m_pkceVerified = false;
    QString m_issuedIdToken;
    QList<Request> m_requests;
};
