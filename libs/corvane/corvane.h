#pragma once

// The backend HTTP client: request descriptions go in, decoded records or a
// thrown CorvaneError come out. Authenticated requests carry the access
// token; a 401 renews the token once and repeats the request once.

#include <streams.h>

#include <QCoro/QCoroTask>
#include <QByteArray>
#include <QMap>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

class QNetworkAccessManager;
class QNetworkReply;

namespace corvane {

class Cancellation;

enum class HTTPMethod { GET, POST, PUT };

QByteArray verb(HTTPMethod method);

enum class LoginMethod { email, google };

// Written as "email" / "google". Any other value does not decode (the
// library's enum macro would silently read it as the first case).
inline void to_json(nlohmann::json &j, LoginMethod method)
{
    j = method == LoginMethod::google ? "google" : "email";
}

inline void from_json(const nlohmann::json &j, LoginMethod &method)
{
    const auto &text = j.get_ref<const nlohmann::json::string_t &>();
    if (text == "email")
        method = LoginMethod::email;
    else if (text == "google")
        method = LoginMethod::google;
    else
        throw nlohmann::json::other_error::create(501, "unknown login method \"" + text + "\"", &j);
}

// What the backend answers to a sign-in, a one-time-password check and a renewal.
struct AuthenticationResponse
{
    std::string accessToken;
    std::string refreshToken;
    LoginMethod provider = LoginMethod::email;

    friend bool operator==(const AuthenticationResponse &, const AuthenticationResponse &) = default;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(AuthenticationResponse, accessToken, refreshToken, provider)

// The body of an error answer. "code", when present, is the domain code.
struct BaseErrorResponse
{
    std::string error;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(BaseErrorResponse, error)

// A machine-readable reason the backend gives beside its message.
class DomainErrorCode
{
public:
    explicit DomainErrorCode(QString code) : m_code(std::move(code)) {}
    static DomainErrorCode appRequiresUpdate() { return DomainErrorCode(QStringLiteral("AppRequiresUpdate")); }

    const QString &rawValue() const { return m_code; }
    friend bool operator==(const DomainErrorCode &, const DomainErrorCode &) = default;

private:
    QString m_code;
};

// Every failure the client throws.
class CorvaneError : public std::exception
{
public:
    enum class Kind {
        serializationError, // the answer (or the request body) could not be coded
        invalidErrorBody,   // an error answer whose body is not a BaseErrorResponse
        noResponse,         // no answer: refused, unreachable, timed out, TLS failure, cancelled
        unauthorized,       // 401 that renewal could not cure, or no token to send
        api,                // an error answer with its message, status and domain code
        unknown,
    };

    static CorvaneError serializationError(QString underlying);
    static CorvaneError invalidErrorBody(int status);
    static CorvaneError noResponse(QString underlying = {});
    static CorvaneError unauthorized();
    static CorvaneError api(QString message, int status, std::optional<DomainErrorCode> code = std::nullopt);
    static CorvaneError unknown(QString underlying = {});

    Kind kind() const { return m_kind; }
    // For api: the backend's message; for the others: the underlying cause, if any.
    const QString &message() const { return m_message; }
    // For api and invalidErrorBody: the HTTP status; 0 otherwise.
    int status() const { return m_status; }
    const std::optional<DomainErrorCode> &domainCode() const { return m_code; }

    // A readable description, used in logs and analytics. Never holds a token.
    QString localizedDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    CorvaneError(Kind kind, QString message, int status, std::optional<DomainErrorCode> code);

    Kind m_kind;
    QString m_message;
    int m_status = 0;
    std::optional<DomainErrorCode> m_code;
    QByteArray m_what;
};

// A request as it goes on the wire.
struct URLRequest
{
    QUrl url;
    HTTPMethod method = HTTPMethod::GET;
    QMap<QString, QString> headers;
    QByteArray body; // empty: no body
};

using Parameters = nlohmann::json; // a JSON object; empty object: no parameters
using Headers = QMap<QString, QString>;

// One endpoint of the backend.
class ConfigRequestConvertible
{
public:
    virtual ~ConfigRequestConvertible() = default;

    virtual QUrl baseURL() const = 0;
    virtual QString path() const = 0; // relative to baseURL
    virtual HTTPMethod method() const = 0;
    virtual Parameters parameters() const = 0;
    virtual std::optional<Headers> headers() const = 0;

    // The default: baseURL + path; POST and PUT send the parameters as a
    // JSON object ("application/json"), GET sends none. Throws
    // CorvaneError::serializationError for parameters that are not an object.
    virtual URLRequest asURLRequest() const;
};

// The session's tokens as the client needs them.
class TokenStoring
{
public:
    virtual ~TokenStoring() = default;

    virtual std::optional<QString> accessToken() const = 0;
    virtual std::optional<QString> refreshToken() const = 0;
    virtual streams::AnyPublisher<streams::Void> tokensWiped() const = 0;
    virtual std::optional<LoginMethod> lastSocialLoginProvider() const = 0;
    virtual streams::AnyPublisher<bool> isLoggedIn() const = 0;
    virtual void wipeTokens() = 0;
    virtual void saveTokens(const AuthenticationResponse &tokenResponse) = 0;
};

// Exchanges the refresh token for new tokens and stores them.
class TokenRefreshing
{
public:
    virtual ~TokenRefreshing() = default;

    // Completes only when new tokens were received and stored; throws otherwise.
    virtual QCoro::Task<void> refresh() = 0;
    virtual streams::AnyPublisher<streams::Void> tokenRefreshFailure() const = 0;
};

class HTTPServing
{
public:
    virtual ~HTTPServing() = default;

    // Sends the request and gives the body of a 2xx answer; throws CorvaneError.
    virtual QCoro::Task<QByteArray> send(bool authenticated, URLRequest request) = 0;

    // Sends the request and decodes the answer as T (void: no result). The
    // request is built before the first suspension, so the config may be a
    // temporary.
    template<class T = void>
    QCoro::Task<T> request(bool authenticated, const ConfigRequestConvertible &requestConfig)
    {
        URLRequest built = requestConfig.asURLRequest();
        QByteArray body = co_await send(authenticated, std::move(built));
        if constexpr (!std::is_void_v<T>)
            co_return decode<T>(body);
    }

    // Decodes a JSON body as T; every field of T is required.
    template<class T>
    static T decode(const QByteArray &body)
    {
        try {
            return nlohmann::json::parse(body.cbegin(), body.cend()).get<T>();
        } catch (const nlohmann::json::parse_error &e) {
            // Its message quotes the answer, which may hold tokens.
            throw CorvaneError::serializationError(
                QStringLiteral("the answer is not valid JSON (byte %1)").arg(qulonglong(e.byte)));
        } catch (const nlohmann::json::exception &e) {
            throw CorvaneError::serializationError(QString::fromUtf8(e.what()));
        }
    }
};

class HTTPService : public HTTPServing, public std::enable_shared_from_this<HTTPService>
{
public:
    // Answers larger than this are refused rather than held in memory.
    static constexpr qint64 kMaxResponseBytes = 4 * 1024 * 1024;
    static constexpr int kTimeoutMs = 30000;

    // Gives the network access manager at the first request: the first one
    // of a process is costly to make, and a start that sends nothing should not.
    using NetworkSource = std::function<std::shared_ptr<QNetworkAccessManager>()>;

    HTTPService(std::shared_ptr<TokenRefreshing> tokenRefresher, std::shared_ptr<TokenStoring> tokenStorage,
                Headers commonHeaders, std::shared_ptr<QNetworkAccessManager> network = {});
    HTTPService(std::shared_ptr<TokenRefreshing> tokenRefresher, std::shared_ptr<TokenStoring> tokenStorage,
                Headers commonHeaders, NetworkSource networkSource);

    QCoro::Task<QByteArray> send(bool authenticated, URLRequest request) override;

    // How long a transfer may stall before it fails with noResponse.
    void setTransferTimeout(std::chrono::milliseconds timeout);

private:
    struct Answer;
    QCoro::Task<Answer> transmit(const URLRequest &request, const std::optional<QString> &token,
                                 std::shared_ptr<Cancellation> cancellation);
    QCoro::Task<void> renewOnce(const QString &rejectedToken);
    QNetworkAccessManager &network();

    std::shared_ptr<TokenRefreshing> m_tokenRefresher;
    std::shared_ptr<TokenStoring> m_tokenStorage;
    Headers m_commonHeaders;
    NetworkSource m_networkSource;
    std::shared_ptr<QNetworkAccessManager> m_network;
    std::chrono::milliseconds m_transferTimeout{kTimeoutMs};
};

// Only https, or http on a loopback host, may carry tokens.
bool isAllowedBaseUrl(const QUrl &url);
// Throws noResponse, naming the scheme and host, for a URL isAllowedBaseUrl refuses.
void requireAllowedBaseUrl(const QUrl &url);

// A reply's body, read as it arrives and held to HTTPService::kMaxResponseBytes:
// an answer whose Content-Length or received body goes beyond that is aborted
// at once and gives no body. To be called as soon as the request is sent; it
// ends when the reply has finished.
struct CappedBody
{
    QByteArray body;
    bool tooLarge = false;
};
QCoro::Task<CappedBody> readCapped(QNetworkReply *reply);
// The error for an answer over that limit.
CorvaneError answerTooLarge();

// The wire form of a request: its URL and its own headers, the transfer
// time-out, redirects answered rather than followed (a redirect must not
// carry a token to wherever it points), and no cache.
QNetworkRequest networkRequest(const URLRequest &request, std::chrono::milliseconds timeout);

} // namespace corvane
