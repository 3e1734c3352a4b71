#include "corvane.h"

#include "cancellation.h"
#include "renewalgate.h"

#include <hostlookup.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QThread>

#include <QCoro/QCoroNetworkReply>

#include <atomic>
#include <coroutine>

// Debug lines (method, path, status) are off unless QT_LOGGING_RULES turns them on.
Q_LOGGING_CATEGORY(lcCorvane, "wugg.corvane", QtInfoMsg)

namespace corvane {

// ---------------------------------------------------------------------------
// Small pieces

QByteArray verb(HTTPMethod method)
{
    switch (method) {
    case HTTPMethod::GET:
        return QByteArrayLiteral("GET");
    case HTTPMethod::POST:
        return QByteArrayLiteral("POST");
    case HTTPMethod::PUT:
        return QByteArrayLiteral("PUT");
    }
    return QByteArrayLiteral("GET");
}

QNetworkRequest networkRequest(const URLRequest &request, std::chrono::milliseconds timeout)
{
    QNetworkRequest wire(request.url);
    wire.setTransferTimeout(int(timeout.count()));
    wire.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    wire.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    wire.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
        wire.setRawHeader(it.key().toUtf8(), it.value().toUtf8());
    return wire;
}

bool isAllowedBaseUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https")
        return true;
    if (scheme != u"http")
        return false;
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// ---------------------------------------------------------------------------
// CorvaneError

CorvaneError::CorvaneError(Kind kind, QString message, int status, std::optional<DomainErrorCode> code)
    : m_kind(kind), m_message(std::move(message)), m_status(status), m_code(std::move(code))
{
    QString what = localizedDescription();
    if (m_kind != Kind::api && !m_message.isEmpty())
        what += QStringLiteral(" (%1)").arg(m_message);
    m_what = what.toUtf8();
}

CorvaneError CorvaneError::serializationError(QString underlying)
{
    return CorvaneError(Kind::serializationError, std::move(underlying), 0, std::nullopt);
}

CorvaneError CorvaneError::invalidErrorBody(int status)
{
    return CorvaneError(Kind::invalidErrorBody, {}, status, std::nullopt);
}

CorvaneError CorvaneError::noResponse(QString underlying)
{
    return CorvaneError(Kind::noResponse, std::move(underlying), 0, std::nullopt);
}

CorvaneError CorvaneError::unauthorized()
{
    return CorvaneError(Kind::unauthorized, {}, 0, std::nullopt);
}

CorvaneError CorvaneError::api(QString message, int status, std::optional<DomainErrorCode> code)
{
    return CorvaneError(Kind::api, std::move(message), status, std::move(code));
}

CorvaneError CorvaneError::unknown(QString underlying)
{
    return CorvaneError(Kind::unknown, std::move(underlying), 0, std::nullopt);
}

QString CorvaneError::localizedDescription() const
{
    switch (m_kind) {
    case Kind::serializationError:
        return QStringLiteral("The data exchanged with the server was not in the expected format.");
    case Kind::invalidErrorBody:
        return QStringLiteral("The server reported an error (status %1) that could not be read.").arg(m_status);
    case Kind::noResponse:
        return QStringLiteral("The server could not be reached.");
    case Kind::unauthorized:
        return QStringLiteral("Your session has expired. Please sign in again.");
    case Kind::api:
        if (!m_message.isEmpty())
            return m_message;
        return QStringLiteral("The server refused the request (status %1).").arg(m_status);
    case Kind::unknown:
        break;
    }
    return QStringLiteral("An unknown error occurred.");
}

// ---------------------------------------------------------------------------
// Building requests

URLRequest ConfigRequestConvertible::asURLRequest() const
{
    URLRequest request;
    request.url = baseURL().resolved(QUrl(path()));
    request.method = method();

    const Parameters params = parameters();
    if (!params.is_object())
        throw CorvaneError::serializationError(
            QStringLiteral("the parameters of %1 are not a JSON object").arg(path()));
    if (request.method != HTTPMethod::GET) {
        try {
            request.body = QByteArray::fromStdString(params.dump());
        } catch (const nlohmann::json::exception &e) {
            throw CorvaneError::serializationError(QString::fromUtf8(e.what()));
        }
        request.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    }
    if (const std::optional<Headers> extra = headers()) {
        for (auto it = extra->cbegin(); it != extra->cend(); ++it)
            request.headers.insert(it.key(), it.value());
    }
    return request;
}

// ---------------------------------------------------------------------------
// HTTPService

struct HTTPService::Answer
{
    enum class Failure { none, transport, tooLarge };
    Failure failure = Failure::none;
    int status = 0;
    QByteArray body;
    QString problem; // transport failures: Qt's description, which never holds headers or bodies
};

namespace {

// Small, so Qt holds back the rest of a long answer instead of buffering it.
constexpr qint64 kReadChunkBytes = 64 * 1024;

struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const
    {
        // The reply may be the one whose finished signal is resuming us.
        reply->deleteLater();
    }
};

// Errors that mean no (complete) HTTP answer arrived, as opposed to an HTTP
// status Qt also reports as an error.
bool isTransportError(QNetworkReply::NetworkError error)
{
    // Qt reports some statuses (400 among them) as protocol errors; those still
    // came with an answer. Network and proxy errors, and a broken answer, did not.
    const int code = int(error);
    return (code > 0 && code < 200) || error == QNetworkReply::ProtocolFailure;
}

// The error answer's body: {"error": string, "code": optional string}.
CorvaneError decodeErrorAnswer(int status, const QByteArray &body)
{
    const nlohmann::json json = nlohmann::json::parse(body.cbegin(), body.cend(), nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return CorvaneError::invalidErrorBody(status);
    const auto error = json.find("error");
    if (error == json.end() || !error->is_string())
        return CorvaneError::invalidErrorBody(status);
    std::optional<DomainErrorCode> code;
    if (const auto c = json.find("code"); c != json.end() && !c->is_null()) {
        if (!c->is_string())
            return CorvaneError::invalidErrorBody(status);
        code = DomainErrorCode(QString::fromStdString(c->get<std::string>()));
    }
    return CorvaneError::api(QString::fromStdString(error->get<std::string>()), status, std::move(code));
}

} // namespace

namespace {

// Set once a request of this process has had an answer from a server. Until
// then each request looks its host up first: offline it fails there, before
// Qt loads TLS and the proxy support for a request that cannot go anywhere,
// and the day's first check at start-up does not load them before the tray
// is up.
std::atomic<bool> g_answered{false};

// Resumes a request once its host is looked up, or at once when the request
// is cancelled meanwhile.
class HostLookupAwaiter
{
public:
    enum class Result { pending, found, notFound, cancelled };

    HostLookupAwaiter(QString host, std::shared_ptr<Cancellation> cancellation)
        : m_host(std::move(host)), m_cancellation(std::move(cancellation))
    {
    }
    // Moved into the coroutine's frame before it waits.
    HostLookupAwaiter(HostLookupAwaiter &&) = default;
    HostLookupAwaiter &operator=(HostLookupAwaiter &&) = delete;

    ~HostLookupAwaiter()
    {
        // The request may be dropped while it waits.
        if (m_state && m_state->lookup)
            m_state->lookup->cancel();
        if (m_cancellation && m_hook)
            m_cancellation->removeHook(*m_hook);
    }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> waiting)
    {
        m_state->waiting = waiting;
        const std::weak_ptr<State> weak = m_state;
        m_state->lookup = HostLookup::start(m_host, QCoreApplication::instance(), [weak](bool found) {
            finish(weak, found ? Result::found : Result::notFound);
        });
        if (m_cancellation) {
            // Never resumed from inside cancel().
            m_hook = m_cancellation->onCancel([weak] {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [weak] { finish(weak, Result::cancelled); }, Qt::QueuedConnection);
            });
        }
    }

    Result await_resume() const noexcept { return m_state->result; }

private:
    struct State
    {
        std::coroutine_handle<> waiting;
        std::shared_ptr<HostLookup> lookup;
        Result result = Result::pending;
    };

    static void finish(const std::weak_ptr<State> &weak, Result result)
    {
        const std::shared_ptr<State> state = weak.lock();
        if (!state || state->result != Result::pending)
            return;
        state->result = result;
        state->lookup->cancel();
        state->waiting.resume();
    }

    QString m_host;
    std::shared_ptr<Cancellation> m_cancellation;
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::optional<quint64> m_hook;
};

} // namespace

HTTPService::HTTPService(std::shared_ptr<TokenRefreshing> tokenRefresher, std::shared_ptr<TokenStoring> tokenStorage,
                         Headers commonHeaders, std::shared_ptr<QNetworkAccessManager> network)
    : HTTPService(std::move(tokenRefresher), std::move(tokenStorage), std::move(commonHeaders),
                  NetworkSource([network = std::move(network)] {
                      return network ? network : std::make_shared<QNetworkAccessManager>();
                  }))
{
}

HTTPService::HTTPService(std::shared_ptr<TokenRefreshing> tokenRefresher, std::shared_ptr<TokenStoring> tokenStorage,
                         Headers commonHeaders, NetworkSource networkSource)
    : m_tokenRefresher(std::move(tokenRefresher)),
      m_tokenStorage(std::move(tokenStorage)),
      m_commonHeaders(std::move(commonHeaders)),
      m_networkSource(std::move(networkSource))
{
}

QNetworkAccessManager &HTTPService::network()
{
    if (!m_network) {
        m_network = m_networkSource ? m_networkSource() : nullptr;
        if (!m_network)
            m_network = std::make_shared<QNetworkAccessManager>();
    }
    return *m_network;
}

void HTTPService::setTransferTimeout(std::chrono::milliseconds timeout)
{
    m_transferTimeout = timeout;
}

QCoro::Task<QByteArray> HTTPService::send(bool authenticated, URLRequest request)
{
    // The caller may drop its reference while the request is on the way.
    const std::shared_ptr<HTTPService> self = weak_from_this().lock();
    Q_ASSERT(QThread::currentThread() == network().thread());
    // Read before the first wait, while the caller's scope is still current.
    const std::shared_ptr<Cancellation> cancellation = CancellationScope::current();

    requireAllowedBaseUrl(request.url);

    std::optional<QString> token;
    if (authenticated) {
        token = m_tokenStorage ? m_tokenStorage->accessToken() : std::nullopt;
        if (!token || token->isEmpty())
            throw CorvaneError::unauthorized();
    }

    Answer answer = co_await transmit(request, token, cancellation);
    if (authenticated && answer.failure == Answer::Failure::none && answer.status == 401) {
        co_await renewOnce(*token);
        const std::optional<QString> renewed = m_tokenStorage->accessToken();
        if (!renewed || renewed->isEmpty())
            throw CorvaneError::unauthorized();
        answer = co_await transmit(request, renewed, cancellation);
    }

    switch (answer.failure) {
    case Answer::Failure::transport:
        throw CorvaneError::noResponse(answer.problem);
    case Answer::Failure::tooLarge:
        throw answerTooLarge();
    case Answer::Failure::none:
        break;
    }
    if (answer.status >= 200 && answer.status < 300)
        co_return answer.body;
    if (answer.status == 401)
        throw CorvaneError::unauthorized();
    throw decodeErrorAnswer(answer.status, answer.body);
}

QCoro::Task<HTTPService::Answer> HTTPService::transmit(const URLRequest &request, const std::optional<QString> &token,
                                                       std::shared_ptr<Cancellation> cancellation)
{
    const auto notSent = [](QString problem) {
        Answer answer;
        answer.failure = Answer::Failure::transport;
        answer.problem = std::move(problem);
        return answer;
    };
    if (cancellation && cancellation->isCancelled())
        co_return notSent(QStringLiteral("cancelled"));
    if (!g_answered.load() && QCoreApplication::instance() && HostLookup::isNeeded(request.url.host())) {
        switch (co_await HostLookupAwaiter(request.url.host(), cancellation)) {
        case HostLookupAwaiter::Result::found:
        case HostLookupAwaiter::Result::pending:
            break;
        case HostLookupAwaiter::Result::notFound:
            qCDebug(lcCorvane) << verb(request.method).constData() << request.url.path() << "host not found";
            co_return notSent(QStringLiteral("Host %1 not found").arg(request.url.host()));
        case HostLookupAwaiter::Result::cancelled:
            co_return notSent(QStringLiteral("cancelled"));
        }
    }
    QNetworkRequest wire = networkRequest(request, m_transferTimeout);
    // The request's own headers win over the common ones (names compare
    // case-insensitively).
    for (auto it = m_commonHeaders.cbegin(); it != m_commonHeaders.cend(); ++it) {
        if (!wire.hasRawHeader(it.key().toUtf8()))
            wire.setRawHeader(it.key().toUtf8(), it.value().toUtf8());
    }
    wire.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
    if (token)
        wire.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + token->toUtf8());

    QNetworkReply *raw = nullptr;
    switch (request.method) {
    case HTTPMethod::GET:
        raw = network().get(wire);
        break;
    case HTTPMethod::POST:
        raw = network().post(wire, request.body);
        break;
    case HTTPMethod::PUT:
        raw = network().put(wire, request.body);
        break;
    }
    const std::unique_ptr<QNetworkReply, ReplyDeleter> reply(raw);
    // Aborted on the next turn of the loop, so that cancel() never resumes
    // the caller from inside itself.
    const quint64 cancelHook = cancellation ? cancellation->onCancel([r = QPointer<QNetworkReply>(raw)] {
        if (r) {
            QMetaObject::invokeMethod(
                r.data(), [r] { if (r && r->isRunning()) r->abort(); }, Qt::QueuedConnection);
        }
    }) : 0;

    CappedBody read = co_await readCapped(raw);
    if (cancellation)
        cancellation->removeHook(cancelHook);
    // We are inside the reply's finished signal; should this be the last
    // reference to the network, it must not be destroyed until that returns.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [network = m_network] {}, Qt::QueuedConnection);

    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.status != 0)
        g_answered.store(true);
    if (read.tooLarge) {
        answer.failure = Answer::Failure::tooLarge;
        qCDebug(lcCorvane) << verb(request.method).constData() << request.url.path() << "answer too large";
    } else if (isTransportError(reply->error()) || answer.status == 0) {
        answer.failure = Answer::Failure::transport;
        answer.problem = reply->error() == QNetworkReply::OperationCanceledError
            ? QStringLiteral("no progress for %1 ms, or cancelled").arg(m_transferTimeout.count())
            : reply->errorString();
        qCDebug(lcCorvane) << verb(request.method).constData() << request.url.path() << "failed:" << answer.problem;
    } else {
        answer.body = std::move(read.body);
        qCDebug(lcCorvane) << verb(request.method).constData() << request.url.path() << answer.status;
    }
    co_return answer;
}

void requireAllowedBaseUrl(const QUrl &url)
{
    if (!isAllowedBaseUrl(url)) {
        throw CorvaneError::noResponse(
            QStringLiteral("refused to send to %1://%2: only https, or http to this machine, is allowed")
                .arg(url.scheme(), url.host()));
    }
}

CorvaneError answerTooLarge()
{
    return CorvaneError::serializationError(QStringLiteral("the answer is larger than %1 MiB and was not read")
                                                .arg(HTTPService::kMaxResponseBytes / (1024 * 1024)));
}

QCoro::Task<CappedBody> readCapped(QNetworkReply *reply)
{
    reply->setReadBufferSize(kReadChunkBytes);
    // Collected as it arrives; an oversized answer is stopped as soon as it shows.
    CappedBody read;
    const auto stopIfTooLarge = [&read, reply](qint64 size) {
        if (size > HTTPService::kMaxResponseBytes && !read.tooLarge) {
            read.tooLarge = true;
            reply->abort();
        }
    };
    // abort() finishes the reply at once and so may resume us: it comes last.
    const QMetaObject::Connection onHeaders =
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [stopIfTooLarge, reply] {
            bool known = false;
            const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
            if (known)
                stopIfTooLarge(length);
        });
    const QMetaObject::Connection onData =
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&read, stopIfTooLarge, reply] {
            if (read.tooLarge)
                return;
            read.body += reply->readAll();
            stopIfTooLarge(read.body.size());
        });

    co_await reply;
    // Only ours: Qt's own connections still have to tell its network thread.
    QObject::disconnect(onHeaders);
    QObject::disconnect(onData);

    // A reply that failed before any answer is closed, with nothing to read.
    if (!read.tooLarge && reply->isOpen()) {
        read.body += reply->readAll();
        read.tooLarge = read.body.size() > HTTPService::kMaxResponseBytes;
    }
    if (read.tooLarge)
        read.body.clear();
    co_return read;
}

QCoro::Task<void> HTTPService::renewOnce(const QString &rejectedToken)
{
    // Someone renewed while the rejected request was under way.
    const std::optional<QString> current = m_tokenStorage->accessToken();
    if (current && !current->isEmpty() && *current != rejectedToken)
        co_return;

    const bool renewed = co_await detail::renewShared(m_tokenRefresher, m_tokenStorage);
    if (!renewed)
        throw CorvaneError::unauthorized();
}

} // namespace corvane
