#pragma once

// A loopback stand-in of the product's backend. Without a script it behaves
// like a small real backend: it checks the client headers, the bearer token
// and the bodies, keeps sessions, sends one-time passwords to stdout instead
// of by mail, and transforms text deterministically. Tests can queue answers
// per path, answer late or never, and read every request back.

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;

class BackendStandIn : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QString method;                  // "GET", "POST", ...
        QString path;                    // without the leading slash: "content/fix"
        QMap<QString, QString> headers;  // names in lower case
        QByteArray body;
        QJsonObject json;                // the body when it is a JSON object, else empty
        int status = 0;                  // what the stand-in answered (or will answer)
    };

    struct Answer
    {
        int status = 200;
        QByteArray body;
        QMap<QString, QString> headers;  // Content-Type defaults to application/json
        int delayMs = 0;
        bool neverAnswer = false;        // keep the connection open and silent
    };

    struct Tokens
    {
        QString accessToken;
        QString refreshToken;
        QString provider;                // "email" or "google"
        QJsonObject toJson() const;      // {"accessToken","refreshToken","provider"}
    };

    explicit BackendStandIn(QObject *parent = nullptr);
    ~BackendStandIn() override;

    // Listens on 127.0.0.1; port 0 picks a free one. False if that failed.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_port; }
    // The base URL, with the trailing "/".
    QUrl url() const;

    QList<Request> requests() const { return m_requests; }
    QList<Request> requestsTo(const QString &path) const;
    void clearRequests() { m_requests.clear(); }

    // Queues one answer for the next request to path (FIFO per path); requests
    // beyond the queue get the default behaviour. A scripted answer replaces
    // every check and effect of the default one.
    void script(const QString &path, const Answer &answer);
    // {"error": message} plus "code" when given.
    void scriptError(const QString &path, int status, const QString &message,
                     const QString &code = {});

    // A fresh session, as a sign-in would have made it.
    Tokens issueTokens(const QString &provider = QStringLiteral("email"));
    // Every current access token stops working until renewed.
    void expireAccessTokens();
    void setMetadata(const QString &minVersion, const QString &latestVersion);
    // The pending one-time password for email, empty if none.
    QString otpFor(const QString &email) const;
    // Default content answers come this many milliseconds late.
    void setContentDelay(int milliseconds) { m_contentDelayMs = milliseconds; }

Q_SIGNALS:
    void requestReceived(const QString &path);
    // Emitted when the answer has been written (not for unanswered requests).
    void requestAnswered(const QString &method, const QString &path, int status);

private:
    class Server;
    struct Session
    {
        QString accessToken;   // empty once expired
        QString refreshToken;
        QString provider;
    };

    void handle(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    Answer answerByDefault(const Request &request, int &delayMs);
    Answer contentAnswer(const Request &request);
    Answer authAnswer(const Request &request);
    QString sessionOf(const Request &request) const;   // key of the bearer's session, or empty
    Tokens startSession(const QString &provider);
    void endSession(const QString &key);
    void respond(QHttpServerResponder &responder, const QString &method,
                 const QString &path, const Answer &answer);

    std::unique_ptr<Server> m_server;
    quint16 m_port = 0;
    QList<Request> m_requests;
    QHash<QString, QList<Answer>> m_scripts;
    QHash<QString, Session> m_sessions;          // by session key
    QHash<QString, QString> m_accessTokens;      // token -> session key
    QHash<QString, QString> m_refreshTokens;     // token -> session key
    QHash<QString, QString> m_otps;              // normalised e-mail -> code
    QList<std::shared_ptr<QHttpServerResponder>> m_silent;  // neverAnswer responders
    quint64 m_sessionCount = 0;
    QString m_minVersion = QStringLiteral("1.0.0");
    QString m_latestVersion = QStringLiteral("1.0.0");
    int m_contentDelayMs = 0;
};
