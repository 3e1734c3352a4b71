#include "googleauthstandin.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUuid>

namespace {

QByteArray base64Url(const QByteArray &bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Form and query values: '+' is a space, as in Google's own parsing.
QUrlQuery formFields(QByteArray encoded)
{
    encoded.replace('+', "%20");
    return QUrlQuery(QString::fromLatin1(encoded));
}

QString field(const QUrlQuery &fields, const char *key)
{
    return fields.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
}

bool isLoopbackRedirect(const QUrl &url)
{
    return url.isValid() && url.scheme() == QLatin1String("http")
        && (url.host() == QLatin1String("127.0.0.1") || url.host() == QLatin1String("::1"))
        && url.port() > 0 && !url.hasFragment();
}

void answerError(QHttpServerResponder &responder, QHttpServerResponder::StatusCode status, const QString &error,
                 const QString &description)
{
    const QJsonObject body{{QStringLiteral("error"), error}, {QStringLiteral("error_description"), description}};
    responder.write(QJsonDocument(body), status);
}

} // namespace

GoogleAuthStandIn::GoogleAuthStandIn(QString clientId, QObject *parent)
    : QObject(parent)
    , m_clientId(std::move(clientId))
{
    m_server.route(QStringLiteral("/authorize"), QHttpServerRequest::Method::Get,
                   [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                       authorize(request, std::move(responder));
                   });
    m_server.route(QStringLiteral("/token"), QHttpServerRequest::Method::Post,
                   [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                       token(request, std::move(responder));
                   });
}

bool GoogleAuthStandIn::listen()
{
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QUrl GoogleAuthStandIn::authorizationEndpoint() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/authorize").arg(m_port));
}

QUrl GoogleAuthStandIn::tokenEndpoint() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/token").arg(m_port));
}

void GoogleAuthStandIn::setAccount(QString name, QString email)
{
    m_name = std::move(name);
    m_email = std::move(email);
}

QList<GoogleAuthStandIn::Request> GoogleAuthStandIn::requests(const QString &endpoint) const
{
    QList<Request> matching;
    for (const Request &request : m_requests) {
        if (request.endpoint == endpoint)
            matching << request;
    }
    return matching;
}

void GoogleAuthStandIn::clear()
{
    m_requests.clear();
    m_code.clear();
    m_pkceVerified = false;
    m_issuedIdToken.clear();
    m_script = Script::grant;
}

void GoogleAuthStandIn::authorize(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    Request record{QStringLiteral("/authorize"), formFields(request.url().query(QUrl::FullyEncoded).toLatin1()), 0, {}};
    const QUrlQuery &q = record.fields;
    const QUrl redirect(field(q, "redirect_uri"));
    static const QRegularExpression challengeShape(QStringLiteral("^[A-Za-z0-9_-]{43}$"));

    if (field(q, "client_id") != m_clientId)
        record.refusal = QStringLiteral("invalid_client");
    else if (field(q, "response_type") != QLatin1String("code"))
        record.refusal = QStringLiteral("unsupported_response_type");
    else if (!isLoopbackRedirect(redirect))
        record.refusal = QStringLiteral("redirect_uri_mismatch");
    else if (field(q, "code_challenge_method") != QLatin1String("S256")
             || !challengeShape.match(field(q, "code_challenge")).hasMatch())
        record.refusal = QStringLiteral("invalid_request: PKCE S256 required");
    else if (!field(q, "scope").split(u' ').contains(QLatin1String("openid")))
        record.refusal = QStringLiteral("invalid_scope");

    if (!record.refusal.isEmpty()) {
        // Google shows an error page and does not redirect.
        record.status = 400;
        m_requests << record;
        responder.write(record.refusal.toUtf8(), "text/plain", QHttpServerResponder::StatusCode::BadRequest);
        return;
    }

    QUrlQuery answer;
    const QString state = field(q, "state");
    switch (m_script) {
    case Script::deny:
        answer.addQueryItem(QStringLiteral("error"), QStringLiteral("access_denied"));
        answer.addQueryItem(QStringLiteral("state"), state);
        break;
    case Script::wrongState:
        m_code = QUuid::createUuid().toString(QUuid::WithoutBraces);
        answer.addQueryItem(QStringLiteral("code"), m_code);
        answer.addQueryItem(QStringLiteral("state"), state + QStringLiteral("x"));
        break;
    default:
        // Google's codes carry a '/', which must survive the round trip.
        m_code = QStringLiteral("4/") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        answer.addQueryItem(QStringLiteral("code"), QString::fromLatin1(QUrl::toPercentEncoding(m_code)));
        answer.addQueryItem(QStringLiteral("state"), state);
        answer.addQueryItem(QStringLiteral("scope"), QStringLiteral("email%20profile%20openid"));
        break;
    }
    m_challenge = field(q, "code_challenge");
    m_redirectUri = redirect.toString();

    QUrl location = redirect;
    location.setQuery(answer.query(QUrl::FullyEncoded), QUrl::StrictMode);
    record.status = 302;
    m_requests << record;
    responder.write({{"Location", location.toEncoded()}}, QHttpServerResponder::StatusCode::Found);
}

void GoogleAuthStandIn::token(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    Request record{QStringLiteral("/token"), formFields(request.body()), 0, {}};
    const QUrlQuery &f = record.fields;
    const QString verifier = field(f, "code_verifier");
    static const QRegularExpression verifierShape(QStringLiteral("^[A-Za-z0-9._~-]{43,128}$"));
    m_pkceVerified = verifierShape.match(verifier).hasMatch()
        && QString::fromLatin1(base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)))
            == m_challenge;

    if (!request.value("Content-Type").startsWith("application/x-www-form-urlencoded"))
        record.refusal = QStringLiteral("invalid_request: not a form");
    else if (field(f, "grant_type") != QLatin1String("authorization_code"))
        record.refusal = QStringLiteral("unsupported_grant_type");
    else if (field(f, "client_id") != m_clientId)
        record.refusal = QStringLiteral("invalid_client");
    else if (m_code.isEmpty() || field(f, "code") != m_code)
        record.refusal = QStringLiteral("invalid_grant: unknown code");
    else if (field(f, "redirect_uri") != m_redirectUri)
        record.refusal = QStringLiteral("redirect_uri_mismatch");
    else if (!m_pkceVerified)
        record.refusal = QStringLiteral("invalid_grant: code_verifier");

    if (!record.refusal.isEmpty()) {
        record.status = 400;
        m_requests << record;
        const QString error = record.refusal.section(u':', 0, 0);
        answerError(responder, QHttpServerResponder::StatusCode::BadRequest, error, record.refusal);
        return;
    }
    m_code.clear(); // codes are good for one exchange

    if (m_script == Script::tokenFailure) {
        record.status = 503;
        m_requests << record;
        answerError(responder, QHttpServerResponder::StatusCode::ServiceUnavailable,
                    QStringLiteral("temporarily_unavailable"), QStringLiteral("try again later"));
        return;
    }

    QJsonObject answer{
        {QStringLiteral("access_token"), QStringLiteral("ya29.standin-") + QUuid::createUuid().toString(QUuid::Id128)},
        {QStringLiteral("expires_in"), 3599},
        {QStringLiteral("token_type"), QStringLiteral("Bearer")},
        {QStringLiteral("scope"), QStringLiteral("openid https://www.googleapis.com/auth/userinfo.email "
                                                 "https://www.googleapis.com/auth/userinfo.profile")},
    };
    m_issuedIdToken.clear();
    if (m_script != Script::noIdToken) {
        m_issuedIdToken = idToken(m_script != Script::idTokenWithoutProfile);
        answer.insert(QStringLiteral("id_token"), m_issuedIdToken);
    }
    record.status = 200;
    m_requests << record;
    responder.write(QJsonDocument(answer));
}

QString GoogleAuthStandIn::idToken(bool withProfile) const
{
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("RS256")},
                             {QStringLiteral("kid"), QStringLiteral("standin")},
                             {QStringLiteral("typ"), QStringLiteral("JWT")}};
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QJsonObject claims{{QStringLiteral("iss"), QStringLiteral("https://accounts.google.com")},
                       {QStringLiteral("aud"), m_clientId},
                       {QStringLiteral("azp"), m_clientId},
                       {QStringLiteral("sub"), QStringLiteral("104857600000000000001")},
                       {QStringLiteral("iat"), now},
                       {QStringLiteral("exp"), now + 3600}};
    if (withProfile) {
        claims.insert(QStringLiteral("name"), m_name);
        claims.insert(QStringLiteral("email"), m_email);
        claims.insert(QStringLiteral("email_verified"), true);
    }
    // Unsigned: the part after the last dot only has the shape of a signature.
    return QString::fromLatin1(base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact)) + '.'
                               + base64Url(QJsonDocument(claims).toJson(QJsonDocument::Compact)) + '.'
                               + base64Url("standin-signature"));
}
