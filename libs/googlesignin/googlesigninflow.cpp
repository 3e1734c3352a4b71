#include "googlesigninflow.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QWindow>

#include <utility>
#include <vector>

Q_LOGGING_CATEGORY(lcGoogleSignIn, "wugg.googlesignin")

namespace {

using Code = GoogleSignInError::Code;

// Request line and headers of the browser's redirect; anything larger is not it.
constexpr qsizetype MaxRequestBytes = 16 * 1024;
constexpr int TokenRequestTimeoutMs = 60 * 1000;
// How long an answered browser connection may take to drain before it is dropped.
constexpr int AnswerDrainMs = 10 * 1000;
// Any local process can connect: a few at a time, and only for as long as a
// browser needs to send its request.
constexpr int MaxConnections = 16;
constexpr int RequestIdleMs = 5 * 1000;
const QString CallbackPath = QStringLiteral("/");

QByteArray randomUrlSafe(int bytes)
{
    std::vector<quint32> words((bytes + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray raw(reinterpret_cast<const char *>(words.data()), bytes);
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// application/x-www-form-urlencoded, with everything but the unreserved
// characters escaped ('+' in an e-mail hint must not become a space).
QByteArray formEncode(const QList<std::pair<QString, QString>> &fields)
{
    QByteArray out;
    for (const auto &[key, value] : fields) {
        if (!out.isEmpty())
            out += '&';
        out += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    return out;
}

// An OAuth error code is a short token; keep it that way in our messages.
QString sanitizedErrorCode(const QString &code)
{
    QString out;
    for (const QChar c : code) {
        if (out.size() >= 64)
            break;
        if (c.isLetterOrNumber() || c == u'_' || c == u'-' || c == u'.')
            out += c;
    }
    return out.isEmpty() ? QStringLiteral("unknown_error") : out;
}

// The claims of a JWT, unverified: the backend checks the signature.
std::optional<QJsonObject> jwtClaims(const QString &token)
{
    const QStringList parts = token.split(u'.');
    if (parts.size() != 3)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(
        parts[1].toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

QByteArray page(bool succeeded)
{
    QString app = QGuiApplication::applicationDisplayName();
    if (app.isEmpty())
        app = QStringLiteral("the application");
    const QString heading = succeeded ? QStringLiteral("Google sign-in finished")
                                      : QStringLiteral("Google sign-in did not complete");
    const QString text = succeeded ? QStringLiteral("You can close this tab and return to %1.").arg(app)
                                   : QStringLiteral("Return to %1 to try again.").arg(app);
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                          "<body style=\"font-family:sans-serif;text-align:center;margin-top:4em\">"
                          "<h1>%1</h1><p>%2</p></body></html>")
        .arg(heading.toHtmlEscaped(), text.toHtmlEscaped())
        .toUtf8();
}

// Answers the browser and lets the connection drain on its own, so that
// ending the flow does not cut the page off.
void respond(QTcpSocket *socket, int status, const QByteArray &reason, const QByteArray &body)
{
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    answer += "Content-Type: text/html; charset=utf-8\r\n";
    answer += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    answer += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    answer += body;
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    socket->setParent(nullptr);
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(AnswerDrainMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->write(answer);
    socket->disconnectFromHost();
}

} // namespace

GoogleSignInFlow::GoogleSignInFlow(GoogleSignIn *owner, GoogleSignIn::Configuration configuration,
                                   QWindow *presentingWindow, QString hint, GoogleSignIn::Completion completion)
    : m_owner(owner)
    , m_configuration(std::move(configuration))
    , m_window(presentingWindow)
    , m_hint(std::move(hint))
    , m_completion(std::move(completion))
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        fail(Code::timedOut, QStringLiteral("Google sign-in did not finish in time."));
    });
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            accept(socket);
    });
}

GoogleSignInFlow::~GoogleSignInFlow()
{
    if (!m_finished)
        finish(nullptr, std::make_shared<GoogleSignInError>(Code::canceled, QStringLiteral("Google sign-in was cancelled.")));
}

void GoogleSignInFlow::start()
{
    if (m_configuration.clientId.isEmpty()) {
        fail(Code::notConfigured, QStringLiteral("Google sign-in has no client identifier."));
        return;
    }
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        fail(Code::listenFailed,
             QStringLiteral("Google sign-in could not receive the browser's answer: %1").arg(m_server.errorString()));
        return;
    }
    m_redirectUri = QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(CallbackPath);
    m_state = QString::fromLatin1(randomUrlSafe(32));
    m_codeVerifier = randomUrlSafe(64); // 86 characters; PKCE allows 43 to 128
    const QByteArray challenge = QCryptographicHash::hash(m_codeVerifier, QCryptographicHash::Sha256)
                                     .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);

    QList<std::pair<QString, QString>> fields{
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("client_id"), m_configuration.clientId},
        {QStringLiteral("redirect_uri"), m_redirectUri},
        {QStringLiteral("scope"), m_configuration.scopes},
        {QStringLiteral("state"), m_state},
        {QStringLiteral("code_challenge"), QString::fromLatin1(challenge)},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
    };
    if (!m_hint.isEmpty())
        fields.append({QStringLiteral("login_hint"), m_hint});
    QUrl url = m_configuration.authorizationEndpoint;
    QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    if (!query.isEmpty())
        query += '&';
    url.setQuery(QString::fromLatin1(query + formEncode(fields)));

    m_timeout.start(m_configuration.timeout);
    if (!m_configuration.openBrowser)
        openWithXdgOpen(url);
    else if (!m_configuration.openBrowser(url))
        fail(Code::browserUnavailable, QStringLiteral("No web browser could be opened for Google sign-in."));
}

void GoogleSignInFlow::openWithXdgOpen(const QUrl &url)
{
    // xdg-open is the desktop's own choice of browser; without it, $BROWSER.
    // Either ends with a failure when no browser runs, or when the browser it
    // ran in the foreground failed; nobody will come back then. It is never
    // killed, not even when the flow ends: it may be the browser's parent.
    QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty())
        program = qEnvironmentVariable("BROWSER").section(u':', 0, 0);
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    const QPointer<GoogleSignInFlow> flow(this);
    const auto failed = [flow] {
        if (flow)
            flow->fail(Code::browserUnavailable, QStringLiteral("No web browser could be opened for Google sign-in."));
    };
    QObject::connect(process, &QProcess::finished, process, [process, failed](int exitCode, QProcess::ExitStatus status) {
        process->deleteLater();
        if (status != QProcess::NormalExit || exitCode != 0)
            failed();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        failed();
    });
    process->start(program, {QString::fromUtf8(url.toEncoded())});
}

void GoogleSignInFlow::cancel(const QString &description)
{
    fail(Code::canceled, description);
}

void GoogleSignInFlow::accept(QTcpSocket *socket)
{
    // Those still unanswered are the server's children (see respond()).
    if (m_server.findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly).size() > MaxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // Until answered; an answered one drains on its own deadline.
    QTimer::singleShot(RequestIdleMs, socket, [socket] {
        if (socket->parent()) {
            socket->abort();
            socket->deleteLater();
        }
    });
}

void GoogleSignInFlow::readRequest(QTcpSocket *socket)
{
    if (m_finished || m_redirectHandled) {
        respond(socket, 410, "Gone", page(false));
        return;
    }
    const QByteArray head = socket->peek(MaxRequestBytes + 1);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() > MaxRequestBytes)
            respond(socket, 431, "Request Header Fields Too Large", page(false));
        return; // the rest is still on its way
    }
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/")) {
        respond(socket, 400, "Bad Request", page(false));
        return;
    }
    if (requestLine[0] != "GET") {
        respond(socket, 405, "Method Not Allowed", page(false));
        return;
    }
    const QByteArray target = requestLine[1];
    const qsizetype question = target.indexOf('?');
    const QByteArray path = target.left(question < 0 ? target.size() : question);
    if (QString::fromLatin1(path) != CallbackPath) {
        respond(socket, 404, "Not Found", {}); // the browser's favicon and the like
        return;
    }
    QByteArray rawQuery = question < 0 ? QByteArray() : target.mid(question + 1);
    rawQuery.replace('+', "%20"); // form encoding: '+' is a space
    handleRedirect(QUrlQuery(QString::fromLatin1(rawQuery)), socket);
}

void GoogleSignInFlow::handleRedirect(const QUrlQuery &query, QTcpSocket *socket)
{
    const auto value = [&query](const char *key) {
        return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
    };
    const QString state = value("state");
    const QString error = value("error");
    const QString code = value("code");

    // Not the redirect of this sign-in (any local process can knock): it is
    // turned away, and the flow waits on for the real one.
    if (state.isEmpty() || state != m_state) {
        qCInfo(lcGoogleSignIn) << "Google sign-in: a request without this sign-in's state was turned away";
        respond(socket, 400, "Bad Request", page(false));
        return;
    }
    m_redirectHandled = true;
    m_server.close(); // one answer per sign-in

    if (!error.isEmpty()) {
        respond(socket, 200, "OK", page(false));
        if (error == QLatin1String("access_denied"))
            fail(Code::accessDenied, QStringLiteral("Google sign-in was cancelled in the browser."));
        else
            fail(Code::accessDenied, QStringLiteral("Google refused the sign-in (%1).").arg(sanitizedErrorCode(error)));
        return;
    }
    if (code.isEmpty()) {
        respond(socket, 400, "Bad Request", page(false));
        fail(Code::invalidResponse, QStringLiteral("Google's answer carried no authorization code."));
        return;
    }
    respond(socket, 200, "OK", page(true));
    exchangeCode(code);
}

void GoogleSignInFlow::exchangeCode(const QString &code)
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(m_configuration.tokenEndpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(TokenRequestTimeoutMs);
    const QByteArray body = formEncode({
        {QStringLiteral("code"), code},
        {QStringLiteral("code_verifier"), QString::fromLatin1(m_codeVerifier)},
        {QStringLiteral("client_id"), m_configuration.clientId},
        {QStringLiteral("redirect_uri"), m_redirectUri},
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
    });
    QNetworkReply *reply = m_network->post(request, body);
    m_tokenReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { tokenAnswered(reply); });
}

void GoogleSignInFlow::tokenAnswered(QNetworkReply *reply)
{
    reply->deleteLater();
    m_tokenReply.clear();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    if (status == 0) {
        fail(Code::network, QStringLiteral("Google could not be reached: %1").arg(reply->errorString()));
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonObject answer = document.object();
    if (status < 200 || status >= 300) {
        const QString error = answer.value(QLatin1String("error")).toString();
        fail(Code::tokenExchangeFailed,
             QStringLiteral("Google did not accept the sign-in (HTTP %1%2).")
                 .arg(status)
                 .arg(error.isEmpty() ? QString() : QStringLiteral(", ") + sanitizedErrorCode(error)));
        return;
    }
    const QString accessToken = answer.value(QLatin1String("access_token")).toString();
    if (!document.isObject() || accessToken.isEmpty()) {
        fail(Code::invalidResponse, QStringLiteral("Google's token answer could not be read."));
        return;
    }

    auto user = std::make_shared<GoogleUser>();
    user->accessToken.tokenString = accessToken;
    const QString idToken = answer.value(QLatin1String("id_token")).toString();
    if (!idToken.isEmpty()) {
        const auto claims = jwtClaims(idToken);
        if (!claims) {
            fail(Code::invalidResponse, QStringLiteral("Google's ID token could not be read."));
            return;
        }
        user->idToken = GoogleToken{idToken};
        const QString name = claims->value(QLatin1String("name")).toString();
        const QString email = claims->value(QLatin1String("email")).toString();
        if (!name.isEmpty() && !email.isEmpty())
            user->profile = GoogleProfileData{name, email};
    }
    finish(std::move(user), nullptr);
}

void GoogleSignInFlow::fail(GoogleSignInError::Code code, const QString &description)
{
    qCInfo(lcGoogleSignIn).noquote() << "Google sign-in ended:" << description;
    finish(nullptr, std::make_shared<GoogleSignInError>(code, description));
}

void GoogleSignInFlow::finish(std::shared_ptr<const GoogleUser> user, std::shared_ptr<const GoogleSignInError> error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timeout.stop();
    m_server.close();
    if (m_tokenReply) {
        disconnect(m_tokenReply, nullptr, this, nullptr);
        m_tokenReply->abort();
        m_tokenReply->deleteLater();
    }
    if (GoogleSignIn *owner = std::exchange(m_owner, nullptr))
        owner->flowEnded(this, user);

    if (user && m_window) {
        // The browser took the focus; hand it back to the window that asked.
        m_window->raise();
        m_window->requestActivate();
    }

    std::shared_ptr<const GoogleSignInResult> result;
    if (user)
        result = std::make_shared<GoogleSignInResult>(GoogleSignInResult{std::move(user)});
    auto deliver = [completion = std::move(m_completion), result, error] {
        if (completion)
            completion(result, error);
    };
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(deliver), Qt::QueuedConnection);
    else
        deliver();
    deleteLater();
}
