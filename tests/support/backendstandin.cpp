#include "backendstandin.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>

// Every request reaches one handler, so unknown paths and wrong methods get
// the same JSON errors as the rest.
class BackendStandIn::Server : public QAbstractHttpServer
{
public:
    explicit Server(BackendStandIn *owner)
        : m_owner(owner)
    {
    }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        m_owner->handle(request, makeResponder(request, socket));
        return true;
    }
    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    BackendStandIn *m_owner;
};

namespace {

// Answers go out without waiting for the client's delayed ACK (Nagle), as a
// real backend's do; otherwise every answer written in two parts arrives
// 40 ms late on loopback.
class LowDelayTcpServer : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr handle) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        addPendingConnection(socket);
    }
};

using Answer = BackendStandIn::Answer;

const QHash<QString, QString> &endpointMethods()
{
    static const QHash<QString, QString> methods = {
        {QStringLiteral("content/fix"), QStringLiteral("POST")},
        {QStringLiteral("content/rephrase"), QStringLiteral("POST")},
        {QStringLiteral("content/translate"), QStringLiteral("POST")},
        {QStringLiteral("metadata/info"), QStringLiteral("GET")},
        {QStringLiteral("user/profile"), QStringLiteral("GET")},
        {QStringLiteral("auth/token"), QStringLiteral("POST")},
        {QStringLiteral("auth/request-otp"), QStringLiteral("POST")},
        {QStringLiteral("auth/verify-otp"), QStringLiteral("POST")},
        {QStringLiteral("auth/logout"), QStringLiteral("POST")},
        {QStringLiteral("auth/refresh"), QStringLiteral("POST")},
    };
    return methods;
}

QString methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return QStringLiteral("GET");
    case QHttpServerRequest::Method::Put: return QStringLiteral("PUT");
    case QHttpServerRequest::Method::Delete: return QStringLiteral("DELETE");
    case QHttpServerRequest::Method::Post: return QStringLiteral("POST");
    case QHttpServerRequest::Method::Head: return QStringLiteral("HEAD");
    case QHttpServerRequest::Method::Options: return QStringLiteral("OPTIONS");
    case QHttpServerRequest::Method::Patch: return QStringLiteral("PATCH");
    case QHttpServerRequest::Method::Connect: return QStringLiteral("CONNECT");
    case QHttpServerRequest::Method::Trace: return QStringLiteral("TRACE");
    default: return QStringLiteral("UNKNOWN");
    }
}

QByteArray jsonBytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Answer ok(const QJsonObject &object)
{
    Answer answer;
    answer.body = jsonBytes(object);
    return answer;
}

Answer okEmpty()
{
    return Answer{};
}

Answer failure(int status, const QString &message, const QString &code = {})
{
    QJsonObject object{{QStringLiteral("error"), message}};
    if (!code.isEmpty())
        object.insert(QStringLiteral("code"), code);
    Answer answer;
    answer.status = status;
    answer.body = jsonBytes(object);
    return answer;
}

Answer unauthorized()
{
    return failure(401, QStringLiteral("Unauthorized"));
}

// False when key is missing or not a string.
bool stringField(const QJsonObject &json, const QString &key, QString &out)
{
    const QJsonValue value = json.value(key);
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

QString randomToken()
{
    std::array<quint32, 8> words;
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), qsizetype(sizeof(words)));
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString normalisedEmail(const QString &email)
{
    return email.trimmed().toLower();
}

QString fixTypos(const QString &text)
{
    static const QHash<QString, QString> corrections = {
        {QStringLiteral("teh"), QStringLiteral("the")},
        {QStringLiteral("recieve"), QStringLiteral("receive")},
        {QStringLiteral("adress"), QStringLiteral("address")},
        {QStringLiteral("wich"), QStringLiteral("which")},
        {QStringLiteral("becuase"), QStringLiteral("because")},
        {QStringLiteral("seperate"), QStringLiteral("separate")},
        {QStringLiteral("definately"), QStringLiteral("definitely")},
        {QStringLiteral("occured"), QStringLiteral("occurred")},
        {QStringLiteral("untill"), QStringLiteral("until")},
        {QStringLiteral("wierd"), QStringLiteral("weird")},
    };
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (!text.at(i).isLetter()) {
            out += text.at(i++);
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && text.at(end).isLetter())
            ++end;
        const QString word = text.mid(i, end - i);
        const auto it = corrections.constFind(word.toLower());
        if (it == corrections.constEnd()) {
            out += word;
        } else {
            QString corrected = *it;
            if (word.size() > 1 && word == word.toUpper())
                corrected = corrected.toUpper();
            else if (word.at(0).isUpper())
                corrected[0] = corrected.at(0).toUpper();
            out += corrected;
        }
        i = end;
    }
    return out;
}

// Sentences in reverse order behind a fixed lead-in; whitespace around the
// text stays where it was, so a replaced selection keeps its line breaks.
QString rephrase(const QString &text, const QString &instruction)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).isSpace())
        ++begin;
    while (end > begin && text.at(end - 1).isSpace())
        --end;
    if (begin == end)
        return text;

    static const QRegularExpression sentenceBreak(QStringLiteral("(?<=[.!?])\\s+"));
    QStringList sentences = text.mid(begin, end - begin).split(sentenceBreak, Qt::SkipEmptyParts);
    std::reverse(sentences.begin(), sentences.end());

    const QString how = instruction.trimmed();
    const QString leadIn = how.isEmpty() ? QStringLiteral("In other words: ")
                                         : QStringLiteral("In other words (%1): ").arg(how);
    return text.left(begin) + leadIn + sentences.join(QLatin1Char(' ')) + text.mid(end);
}

// Real translations of the sentences the tour's videos show; any other text
// comes back tagged with the language, "[German] text". Whitespace around
// the text stays where it was.
QString translate(const QString &text, const QString &language)
{
    static const QHash<QPair<QString, QString>, QString> known = {
        {{QStringLiteral("german"), QStringLiteral("See you on Monday.")}, QStringLiteral("Wir sehen uns am Montag.")},
        {{QStringLiteral("german"), QStringLiteral("Thanks for the photos.")}, QStringLiteral("Danke für die Fotos.")},
    };
    const QString sentence = text.trimmed();
    const auto it = known.constFind({language.trimmed().toLower(), sentence});
    if (it == known.constEnd() || sentence.isEmpty())
        return QStringLiteral("[%1] %2").arg(language, text);
    const qsizetype begin = text.indexOf(sentence);
    return text.left(begin) + *it + text.mid(begin + sentence.size());
}

} // namespace

QJsonObject BackendStandIn::Tokens::toJson() const
{
    return {{QStringLiteral("accessToken"), accessToken},
            {QStringLiteral("refreshToken"), refreshToken},
            {QStringLiteral("provider"), provider}};
}

BackendStandIn::BackendStandIn(QObject *parent)
    : QObject(parent)
    , m_server(std::make_unique<Server>(this))
{
}

BackendStandIn::~BackendStandIn()
{
    // Responders refer to the server's sockets: drop them first.
    m_silent.clear();
}

bool BackendStandIn::listen(quint16 port)
{
    auto *tcp = new LowDelayTcpServer(m_server.get());
    if (!tcp->listen(QHostAddress::LocalHost, port)) {
        delete tcp;
        return false;
    }
    m_server->bind(tcp);
    m_port = tcp->serverPort();
    return m_port != 0;
}

QUrl BackendStandIn::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}

QList<BackendStandIn::Request> BackendStandIn::requestsTo(const QString &path) const
{
    QList<Request> matching;
    for (const Request &request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void BackendStandIn::script(const QString &path, const Answer &answer)
{
    m_scripts[path].append(answer);
}

void BackendStandIn::scriptError(const QString &path, int status, const QString &message,
                                 const QString &code)
{
    script(path, failure(status, message, code));
}

BackendStandIn::Tokens BackendStandIn::issueTokens(const QString &provider)
{
    return startSession(provider);
}

void BackendStandIn::expireAccessTokens()
{
    m_accessTokens.clear();
    for (Session &session : m_sessions)
        session.accessToken.clear();
}

void BackendStandIn::setMetadata(const QString &minVersion, const QString &latestVersion)
{
    m_minVersion = minVersion;
    m_latestVersion = latestVersion;
}

QString BackendStandIn::otpFor(const QString &email) const
{
    return m_otps.value(normalisedEmail(email));
}

void BackendStandIn::handle(const QHttpServerRequest &httpRequest, QHttpServerResponder &&responder)
{
    Request request;
    request.method = methodName(httpRequest.method());
    request.path = httpRequest.url().path();
    while (request.path.startsWith(QLatin1Char('/')))
        request.path.remove(0, 1);
    for (const auto &[name, value] : httpRequest.headers()) {
        const QString key = QString::fromLatin1(name).toLower();
        const QString text = QString::fromLatin1(value);
        const auto existing = request.headers.find(key);
        if (existing == request.headers.end())
            request.headers.insert(key, text);
        else
            *existing += QStringLiteral(", ") + text;
    }
    request.body = httpRequest.body();
    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    if (document.isObject())
        request.json = document.object();

    Answer answer;
    int delayMs = 0;
    auto queued = m_scripts.find(request.path);
    if (queued != m_scripts.end() && !queued->isEmpty()) {
        answer = queued->takeFirst();
        delayMs = answer.delayMs;
    } else {
        answer = answerByDefault(request, delayMs);
    }
    request.status = answer.neverAnswer ? 0 : answer.status;
    m_requests.append(request);
    Q_EMIT requestReceived(request.path);

    auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> socket = held->socket();
    if (answer.neverAnswer) {
        // Held until the client gives up, so the connection stays open and silent.
        m_silent.append(held);
        if (socket) {
            connect(socket, &QTcpSocket::disconnected, this, [this, weak = std::weak_ptr(held)] {
                if (auto responderLeft = weak.lock())
                    m_silent.removeOne(responderLeft);
            });
        }
        return;
    }
    auto write = [this, held, socket, method = request.method, path = request.path, answer] {
        // The client may have given up first.
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            respond(*held, method, path, answer);
    };
    if (delayMs <= 0)
        write();
    else
        QTimer::singleShot(delayMs, this, write);
}

void BackendStandIn::respond(QHttpServerResponder &responder, const QString &method,
                             const QString &path, const Answer &answer)
{
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(answer.status));
    bool typed = false;
    for (auto it = answer.headers.cbegin(); it != answer.headers.cend(); ++it) {
        const QString name = it.key().toLower();
        if (name == QLatin1String("content-length"))
            continue;
        typed = typed || name == QLatin1String("content-type");
        responder.writeHeader(it.key().toLatin1(), it.value().toLatin1());
    }
    if (!typed && !answer.body.isEmpty())
        responder.writeHeader("Content-Type", "application/json");
    responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
    responder.writeBody(answer.body);
    Q_EMIT requestAnswered(method, path, answer.status);
}

BackendStandIn::Answer BackendStandIn::answerByDefault(const Request &request, int &delayMs)
{
    const auto endpoint = endpointMethods().constFind(request.path);
    if (endpoint == endpointMethods().constEnd())
        return failure(404, QStringLiteral("Not found"));
    if (request.method != *endpoint)
        return failure(405, QStringLiteral("Method not allowed"));

    const bool isContent = request.path.startsWith(QLatin1String("content/"));
    if (isContent)
        delayMs = m_contentDelayMs;

    for (const QString &header : {QStringLiteral("x-client-type"), QStringLiteral("x-app-version")}) {
        if (request.headers.value(header).trimmed().isEmpty())
            return failure(400, QStringLiteral("Missing %1 header").arg(header));
    }
    if (request.method == QLatin1String("POST") && !request.body.isEmpty()) {
        if (!request.headers.value(QStringLiteral("content-type"))
                 .startsWith(QLatin1String("application/json")))
            return failure(400, QStringLiteral("Content-Type must be application/json"));
        if (!QJsonDocument::fromJson(request.body).isObject())
            return failure(400, QStringLiteral("Body must be a JSON object"));
    }

    if (isContent)
        return contentAnswer(request);
    if (request.path == QLatin1String("metadata/info")) {
        return ok({{QStringLiteral("minVersion"), m_minVersion},
                   {QStringLiteral("latestVersion"), m_latestVersion}});
    }
    if (request.path == QLatin1String("user/profile")) {
        const QString session = sessionOf(request);
        if (session.isEmpty())
            return unauthorized();
        return ok({{QStringLiteral("provider"), m_sessions.value(session).provider}});
    }
    return authAnswer(request);
}

BackendStandIn::Answer BackendStandIn::contentAnswer(const Request &request)
{
    if (sessionOf(request).isEmpty())
        return unauthorized();
    QString input;
    if (!stringField(request.json, QStringLiteral("input"), input))
        return failure(400, QStringLiteral("\"input\" must be a string"));
    if (request.path == QLatin1String("content/fix"))
        return ok({{QStringLiteral("output"), fixTypos(input)}});

    QString prompt;
    if (!stringField(request.json, QStringLiteral("customPrompt"), prompt))
        return failure(400, QStringLiteral("\"customPrompt\" must be a string"));
    if (request.path == QLatin1String("content/rephrase"))
        return ok({{QStringLiteral("output"), rephrase(input, prompt)}});
    if (prompt.trimmed().isEmpty())
        return failure(400, QStringLiteral("\"customPrompt\" must name the target language"));
    return ok({{QStringLiteral("output"), translate(input, prompt)}});
}

BackendStandIn::Answer BackendStandIn::authAnswer(const Request &request)
{
    const QJsonObject &json = request.json;
    if (request.path == QLatin1String("auth/token")) {
        QString idToken;
        QString provider;
        if (!stringField(json, QStringLiteral("idToken"), idToken) || idToken.isEmpty())
            return failure(400, QStringLiteral("\"idToken\" must be a non-empty string"));
        if (!stringField(json, QStringLiteral("provider"), provider)
            || (provider != QLatin1String("google") && provider != QLatin1String("email")))
            return failure(400, QStringLiteral("\"provider\" must be \"google\" or \"email\""));
        for (const QString &key : {QStringLiteral("name"), QStringLiteral("email")}) {
            if (json.contains(key) && !json.value(key).isString())
                return failure(400, QStringLiteral("\"%1\" must be a string").arg(key));
        }
        return ok(startSession(provider).toJson());
    }

    if (request.path == QLatin1String("auth/request-otp")) {
        QString email;
        if (!stringField(json, QStringLiteral("email"), email) || !email.contains(QLatin1Char('@')))
            return failure(400, QStringLiteral("\"email\" must be an e-mail address"));
        const QString code =
            QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(1000000), 6, 10, QLatin1Char('0'));
        m_otps.insert(normalisedEmail(email), code);
        std::printf("one-time password for %s: %s\n", qPrintable(email.trimmed()), qPrintable(code));
        std::fflush(stdout);
        return okEmpty();
    }

    if (request.path == QLatin1String("auth/verify-otp")) {
        QString email;
        QString otp;
        if (!stringField(json, QStringLiteral("email"), email)
            || !stringField(json, QStringLiteral("otp"), otp))
            return failure(400, QStringLiteral("\"email\" and \"otp\" must be strings"));
        const auto pending = m_otps.constFind(normalisedEmail(email));
        if (pending == m_otps.constEnd() || *pending != otp.trimmed())
            return failure(400, QStringLiteral("Invalid or expired code"));
        m_otps.erase(pending);
        return ok(startSession(QStringLiteral("email")).toJson());
    }

    if (request.path == QLatin1String("auth/logout")) {
        const QString session = sessionOf(request);
        if (session.isEmpty())
            return unauthorized();
        endSession(session);
        return okEmpty();
    }

    // auth/refresh: the refresh token is single-use.
    QString token;
    if (!stringField(json, QStringLiteral("token"), token))
        return failure(400, QStringLiteral("\"token\" must be a string"));
    const QString key = m_refreshTokens.value(token);
    if (key.isEmpty())
        return unauthorized();
    const QString provider = m_sessions.value(key).provider;
    endSession(key);
    return ok(startSession(provider).toJson());
}

QString BackendStandIn::sessionOf(const Request &request) const
{
    const QString authorization = request.headers.value(QStringLiteral("authorization"));
    static const QLatin1String scheme("Bearer ");
    if (!authorization.startsWith(scheme))
        return {};
    return m_accessTokens.value(authorization.mid(scheme.size()).trimmed());
}

BackendStandIn::Tokens BackendStandIn::startSession(const QString &provider)
{
    const QString key = QString::number(++m_sessionCount);
    Session session{randomToken(), randomToken(), provider};
    m_accessTokens.insert(session.accessToken, key);
    m_refreshTokens.insert(session.refreshToken, key);
    m_sessions.insert(key, session);
    return {session.accessToken, session.refreshToken, session.provider};
}

void BackendStandIn::endSession(const QString &key)
{
    const Session session = m_sessions.take(key);
    m_accessTokens.remove(session.accessToken);
    m_refreshTokens.remove(session.refreshToken);
}
