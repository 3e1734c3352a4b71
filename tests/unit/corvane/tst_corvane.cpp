#include "scriptedbackend.h"

#include <cancellation.h>
#include <corvane.h>

#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTest>

using namespace corvane;
using Kind = CorvaneError::Kind;
using Answer = ScriptedBackend::Answer;
using Received = ScriptedBackend::Received;

namespace {

const QString kOldToken = QStringLiteral("tok-OLD-1a2b9");
const QString kNewToken = QStringLiteral("tok-NEW-3c4d7");
const QString kRefreshToken = QStringLiteral("ref-5e6f3");
const char *const kSecretBody = "body-secret-8f8f";

struct Note
{
    std::string title;
    int words = 0;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Note, title, words)

class FakeTokenStore : public TokenStoring
{
public:
    std::optional<QString> access = kOldToken;
    std::optional<QString> accessToken() const override { return access; }
    std::optional<QString> refreshToken() const override { return kRefreshToken; }
    streams::AnyPublisher<streams::Void> tokensWiped() const override { return m_wiped.eraseToAnyPublisher(); }
    std::optional<LoginMethod> lastSocialLoginProvider() const override { return std::nullopt; }
    streams::AnyPublisher<bool> isLoggedIn() const override { return m_loggedIn.eraseToAnyPublisher(); }
    void wipeTokens() override { access.reset(); }
    void saveTokens(const AuthenticationResponse &r) override { access = QString::fromStdString(r.accessToken); }

private:
    streams::PassthroughSubject<streams::Void> m_wiped;
    streams::CurrentValueSubject<bool> m_loggedIn{true};
};

class FakeRefresher : public TokenRefreshing
{
public:
    explicit FakeRefresher(std::shared_ptr<FakeTokenStore> store) : m_store(std::move(store)) {}
    enum class Failure { none, plain, corvane };
    Failure failure = Failure::none;
    int delayMs = 0;
    int calls = 0;

    QCoro::Task<void> refresh() override
    {
        ++calls;
        if (delayMs > 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(delayMs));
        if (failure == Failure::plain)
            throw std::runtime_error("renewal refused");
        if (failure == Failure::corvane)
            throw CorvaneError::noResponse(QStringLiteral("renewal unreachable"));
        m_store->saveTokens({kNewToken.toStdString(), kRefreshToken.toStdString(), LoginMethod::email});
    }
    streams::AnyPublisher<streams::Void> tokenRefreshFailure() const override { return m_failure.eraseToAnyPublisher(); }

private:
    std::shared_ptr<FakeTokenStore> m_store;
    streams::PassthroughSubject<streams::Void> m_failure;
};

struct Config : ConfigRequestConvertible
{
    Config(QUrl b, QString p, HTTPMethod m = HTTPMethod::GET, Parameters ps = Parameters::object(),
           std::optional<Headers> h = std::nullopt)
        : base(std::move(b)), where(std::move(p)), how(m), params(std::move(ps)), extra(std::move(h)) {}
    QUrl baseURL() const override { return base; }
    QString path() const override { return where; }
    HTTPMethod method() const override { return how; }
    Parameters parameters() const override { return params; }
    std::optional<Headers> headers() const override { return extra; }
    QUrl base;
    QString where;
    HTTPMethod how;
    Parameters params;
    std::optional<Headers> extra;
};

// Everything logged, and every error text thrown, while the tests ran.
QStringList g_texts;
QtMessageHandler g_previousHandler = nullptr;
int g_corvaneLines = 0;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_corvaneLines += qstrcmp(context.category, "wugg.corvane") == 0;
    g_texts << message;
    g_previousHandler(type, context, message);
}

template<class T>
struct Outcome
{
    bool finished = false;
    std::optional<T> value;
    std::optional<CorvaneError> error;
};

template<class T>
QCoro::Task<void> capture(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> out)
{
    try {
        out->value = co_await std::move(task);
    } catch (const CorvaneError &e) {
        g_texts << QString::fromUtf8(e.what()) << e.localizedDescription();
        out->error = e;
    }
    out->finished = true;
}

template<class T>
std::shared_ptr<Outcome<T>> start(QCoro::Task<T> task)
{
    auto out = std::make_shared<Outcome<T>>();
    capture(std::move(task), out);
    return out;
}

template<class T>
std::shared_ptr<Outcome<T>> run(QCoro::Task<T> task)
{
    auto out = start(std::move(task));
    if (!QTest::qWaitFor([&] { return out->finished; }, 10000))
        qWarning("the request did not finish in time");
    return out;
}

Answer noteAnswer() { return {200, QByteArrayLiteral(R"({"title":"draft","words":3})")}; }

// Accepts only the renewed token.
Answer acceptNewToken(const Received &r)
{
    return r.value("Authorization") == "Bearer " + kNewToken.toUtf8() ? noteAnswer()
                                                                      : Answer{401, R"({"error":"expired"})"};
}

} // namespace

Q_DECLARE_METATYPE(HTTPMethod)
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(FakeRefresher::Failure)

class TestCorvane : public QObject
{
    Q_OBJECT

private:
    ScriptedBackend m_backend;
    std::shared_ptr<FakeTokenStore> m_store;
    std::shared_ptr<FakeRefresher> m_refresher;
    std::shared_ptr<QNetworkAccessManager> m_network;

    std::shared_ptr<HTTPService> service(std::shared_ptr<QNetworkAccessManager> network = {})
    {
        return std::make_shared<HTTPService>(m_refresher, m_store,
                                             Headers{{QStringLiteral("x-client-type"), QStringLiteral("linux")}},
                                             network ? network : m_network);
    }
    Kind failureKind(const Config &config, bool authenticated = true)
    {
        const auto out = run(service()->request<Note>(authenticated, config));
        return out->error ? out->error->kind() : Kind::unknown;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("wugg.corvane.debug=true"));
        g_previousHandler = qInstallMessageHandler(recordMessage);
        QVERIFY(m_backend.listen());
    }

    void init()
    {
        m_store = std::make_shared<FakeTokenStore>();
        m_refresher = std::make_shared<FakeRefresher>(m_store);
        m_network = std::make_shared<QNetworkAccessManager>();
        m_backend.received.clear();
        m_backend.script = {};
    }

    // A host that does not resolve fails before any network manager, and so
    // TLS, is made. First of the requests: any answered one lets later
    // requests skip the lookup.
    void unresolvedHostFailsBeforeTheNetwork()
    {
        int made = 0;
        auto http = std::make_shared<HTTPService>(m_refresher, m_store, Headers{}, HTTPService::NetworkSource([&made] {
                                                      ++made;
                                                      return std::make_shared<QNetworkAccessManager>();
                                                  }));
        const auto out = run(http->request<Note>(true, Config(QUrl(QStringLiteral("https://backend.invalid/")), "v1/note")));
        QVERIFY(out->error);
        QCOMPARE(out->error->kind(), Kind::noResponse);
        QVERIFY2(out->error->message().contains(u"backend.invalid"), qPrintable(out->error->message()));
        QCOMPARE(made, 0);

        // The network is made at the first request that goes out, once.
        m_backend.script = [](const Received &) { return noteAnswer(); };
        for (int i = 0; i < 2; ++i) {
            const auto sent = run(http->request<Note>(true, Config(m_backend.baseUrl(), "v1/note")));
            QVERIFY(sent->value);
        }
        QCOMPARE(made, 1);
    }

    void allowedUrls_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << "https://api.wugg.it/" << true;
        QTest::newRow("http 127/8") << "http://127.3.4.5/" << true;
        QTest::newRow("http ::1") << "http://[::1]:9000/" << true;
        QTest::newRow("http localhost") << "http://LocalHost:1/" << true;
        QTest::newRow("http remote") << "http://api.wugg.it/" << false;
        QTest::newRow("localhost lookalike") << "http://localhost.evil.example/" << false;
        QTest::newRow("loopback lookalike") << "http://127.0.0.1.evil.example/" << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1/" << false;
    }
    void allowedUrls()
    {
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QCOMPARE(isAllowedBaseUrl(QUrl(url)), allowed);
    }

    void buildsRequests_data()
    {
        QTest::addColumn<HTTPMethod>("method");
        QTest::addColumn<bool>("authenticated");
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<QByteArray>("expectedBody");
        QTest::addColumn<QString>("clientType"); // from the config; empty: none
        QTest::newRow("GET anonymous") << HTTPMethod::GET << false << QByteArray("{\"q\":1}") << QByteArray() << "";
        QTest::newRow("POST body") << HTTPMethod::POST << true
                                   << QByteArray(R"({ "text" : "body-secret-8f8f", "n" : 2 })")
                                   << QByteArray(R"({"n":2,"text":"body-secret-8f8f"})") << "";
        QTest::newRow("PUT empty") << HTTPMethod::PUT << false << QByteArray("{}") << QByteArray("{}") << "override";
    }
    void buildsRequests()
    {
        QFETCH(HTTPMethod, method);
        QFETCH(bool, authenticated);
        QFETCH(QByteArray, params);
        QFETCH(QByteArray, expectedBody);
        QFETCH(QString, clientType);
        std::optional<Headers> headers;
        if (!clientType.isEmpty())
            headers = Headers{{QStringLiteral("X-Client-Type"), clientType}};
        const Config config(m_backend.baseUrl(QStringLiteral("api/")), QStringLiteral("v1/notes"), method,
                            nlohmann::json::parse(params.toStdString()), headers);

        QVERIFY(!run(service()->send(authenticated, config.asURLRequest()))->error);
        QCOMPARE(m_backend.received.size(), 1);
        const auto &got = m_backend.received.first();
        QCOMPARE(got.method, verb(method));
        QCOMPARE(got.path, QStringLiteral("/api/v1/notes"));
        QCOMPARE(got.body, expectedBody);
        QCOMPARE(got.value("Content-Type"), expectedBody.isEmpty() ? QByteArray() : QByteArray("application/json"));
        QCOMPARE(got.value("Accept"), QByteArray("application/json"));
        QCOMPARE(got.values("x-client-type"), QList<QByteArray>{clientType.isEmpty() ? "linux" : clientType.toUtf8()});
        QCOMPARE(got.value("Authorization"), authenticated ? "Bearer " + kOldToken.toUtf8() : QByteArray());
    }

    void refusesBadRequestsBeforeSending()
    {
        const Config arrayParams(m_backend.baseUrl(), "v1/x", HTTPMethod::POST, nlohmann::json::array({1, 2}));
        QCOMPARE(failureKind(arrayParams, false), Kind::serializationError);
        m_store->access.reset();
        QCOMPARE(failureKind(Config(m_backend.baseUrl(), "v1/x")), Kind::unauthorized);
        QCOMPARE(m_backend.received.size(), 0);
    }

    void renewal_data()
    {
        QTest::addColumn<bool>("authenticated");
        QTest::addColumn<bool>("newTokenAccepted");
        QTest::addColumn<FakeRefresher::Failure>("failure");
        QTest::addColumn<QStringList>("expectedAuthorizations");
        const QString oldAuth = "Bearer " + kOldToken, newAuth = "Bearer " + kNewToken;
        using F = FakeRefresher::Failure;
        QTest::newRow("renewed and repeated") << true << true << F::none << QStringList{oldAuth, newAuth};
        QTest::newRow("refused again") << true << false << F::none << QStringList{oldAuth, newAuth};
        QTest::newRow("renewal throws") << true << true << F::plain << QStringList{oldAuth};
        QTest::newRow("renewal throws CorvaneError") << true << true << F::corvane << QStringList{oldAuth};
        QTest::newRow("anonymous 401") << false << true << F::none << QStringList{QString()};
    }
    void renewal()
    {
        QFETCH(bool, authenticated);
        QFETCH(bool, newTokenAccepted);
        QFETCH(FakeRefresher::Failure, failure);
        QFETCH(QStringList, expectedAuthorizations);
        m_refresher->failure = failure;
        m_backend.script = [&](const Received &r) {
            return newTokenAccepted ? acceptNewToken(r) : Answer{401, R"({"error":"expired"})"};
        };

        const auto out = run(service()->request<Note>(authenticated, Config(m_backend.baseUrl(), "v1/note")));
        QCOMPARE(m_refresher->calls, authenticated ? 1 : 0);
        QStringList authorizations;
        for (const auto &r : m_backend.received)
            authorizations << QString::fromUtf8(r.value("Authorization"));
        QCOMPARE(authorizations, expectedAuthorizations);
        const bool succeeds = authenticated && newTokenAccepted && failure == FakeRefresher::Failure::none;
        QCOMPARE(out->value.has_value(), succeeds);
        if (!succeeds)
            QCOMPARE(out->error->kind(), Kind::unauthorized);
    }

    void concurrentRejectionsShareOneRenewal_data()
    {
        QTest::addColumn<int>("renewalMs");
        QTest::newRow("second 401 while renewing") << 300;
        QTest::newRow("second 401 after renewal") << 0;
    }
    void concurrentRejectionsShareOneRenewal()
    {
        QFETCH(int, renewalMs);
        m_refresher->delayMs = renewalMs;
        m_backend.script = acceptNewToken;
        // Two services, as two resolutions would make them: each with its own
        // network and its own refresher, over the one token store.
        auto otherRefresher = std::make_shared<FakeRefresher>(m_store);
        otherRefresher->delayMs = renewalMs;
        const auto other = std::make_shared<HTTPService>(otherRefresher, m_store, Headers{},
                                                         std::make_shared<QNetworkAccessManager>());
        const auto a = start(service(std::make_shared<QNetworkAccessManager>())
                                 ->request<Note>(true, Config(m_backend.baseUrl(), "a")));
        const auto b = start(other->request<Note>(true, Config(m_backend.baseUrl(), "b")));
        QTRY_VERIFY_WITH_TIMEOUT(a->finished && b->finished, 10000);
        QVERIFY(a->value && b->value);
        QCOMPARE(m_refresher->calls + otherRefresher->calls, 1);
        QCOMPARE(m_backend.received.size(), 4);
    }

    void failedAnswers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("code");
        QTest::newRow("with code") << 426 << QByteArray(R"({"error":"Please update","code":"AppRequiresUpdate"})")
                                   << Kind::api << "Please update" << "AppRequiresUpdate";
        QTest::newRow("without code") << 500 << QByteArray(R"({"error":"Something broke"})") << Kind::api
                                      << "Something broke" << "";
        QTest::newRow("html") << 503 << QByteArray("<html>busy</html>") << Kind::invalidErrorBody << "" << "";
        QTest::newRow("error not a string") << 404 << QByteArray(R"({"error":5})") << Kind::invalidErrorBody << ""
                                            << "";
        // Not a raw string: moc miscounts braces inside those.
        QTest::newRow("malformed") << 200 << QByteArray("{\"title\":\"tok-NEW-3c4d7") << Kind::serializationError
                                   << "" << "";
        QTest::newRow("wrong type") << 200 << QByteArray(R"({"title":"draft","words":"three"})")
                                    << Kind::serializationError << "" << "";
        QTest::newRow("missing field") << 200 << QByteArray(R"({"title":"draft"})") << Kind::serializationError << ""
                                       << "";
        QTest::newRow("empty") << 200 << QByteArray() << Kind::serializationError << "" << "";
        // A valid note, padded past the limit.
        QTest::newRow("10 MB declared") << 200 << noteAnswer().body + QByteArray(10 * 1024 * 1024, ' ')
                                        << Kind::serializationError << "" << "";
    }
    void failedAnswers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Kind, kind);
        QFETCH(QString, message);
        QFETCH(QString, code);
        m_backend.script = [&](const Received &) { return Answer{status, body}; };

        const auto out = run(service()->request<Note>(true, Config(m_backend.baseUrl(), "v1/note")));
        QVERIFY(out->error);
        QCOMPARE(out->error->kind(), kind);
        if (status != 200)
            QCOMPARE(out->error->status(), status);
        if (kind == Kind::api) {
            QCOMPARE(out->error->localizedDescription(), message);
            QCOMPARE(out->error->domainCode().has_value(), !code.isEmpty());
            if (!code.isEmpty())
                QVERIFY(*out->error->domainCode() == DomainErrorCode(code));
        }
        QCOMPARE(m_refresher->calls, 0);
    }

    void streamedAnswerIsCutOff()
    {
        constexpr qint64 streamed = 64 * 1024 * 1024;
        RawServer endless(RawServer::Behaviour::endless, streamed);
        QVERIFY(endless.listen());
        const auto out = run(service()->send(false, Config(endless.baseUrl(), "big").asURLRequest()));
        QVERIFY(out->error);
        QCOMPARE(out->error->kind(), Kind::serializationError);
        QTRY_VERIFY(endless.clientHungUp);
        QVERIFY2(endless.bytesHandedOver < streamed / 2, qPrintable(QString::number(endless.bytesHandedOver)));
    }

    void transportFailures_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("never answers") << "silent";
        QTest::newRow("speaks garbage") << "garbage";
        QTest::newRow("refused port") << "refused";
        QTest::newRow("https to plain http") << "tls";
    }
    void transportFailures()
    {
        QFETCH(QString, target);
        RawServer silent(RawServer::Behaviour::silent), garbage(RawServer::Behaviour::garbage);
        QTcpServer closed;
        QVERIFY(silent.listen() && garbage.listen() && closed.listen(QHostAddress::LocalHost, 0));
        closed.close();
        const QMap<QString, QUrl> urls{
            {"silent", silent.baseUrl()},
            {"garbage", garbage.baseUrl()},
            {"refused", QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort())},
            {"tls", QStringLiteral("https://127.0.0.1:%1/").arg(m_backend.port())},
        };
        auto http = service();
        http->setTransferTimeout(std::chrono::milliseconds(400));
        QElapsedTimer clock;
        clock.start();
        const auto out = run(http->request<Note>(true, Config(urls[target], "v1/note")));
        QVERIFY(out->error);
        QCOMPARE(out->error->kind(), Kind::noResponse);
        QVERIFY2(clock.elapsed() < 5000, "the transfer timeout was not applied");
        QCOMPARE(m_backend.received.size(), 0);
    }

    void refusesPlainHttpToOtherHosts()
    {
        // Anything sent would reach this "proxy".
        RawServer trap(RawServer::Behaviour::silent);
        QVERIFY(trap.listen());
        m_network->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", quint16(trap.baseUrl().port())));
        const QUrl remote(QStringLiteral("http://backend.example.com/"));
        const auto out = run(service()->request<Note>(true, Config(remote, "v1/note")));
        QVERIFY(out->error);
        QCOMPARE(out->error->kind(), Kind::noResponse);
        QVERIFY(out->error->message().contains(u"backend.example.com"));
        QTest::qWait(200);
        QCOMPARE(trap.connections, 0);

        // The trap itself works.
        std::unique_ptr<QNetworkReply> reply(m_network->get(QNetworkRequest(remote)));
        QTRY_COMPARE(trap.connections, 1);
    }

    // A request started under a cancellation ends when it is cancelled, on
    // the wire too, and one started after the cancellation never goes out.
    void cancelledRequestsEnd()
    {
        RawServer silent(RawServer::Behaviour::silent);
        QVERIFY(silent.listen());
        auto cancellation = std::make_shared<Cancellation>();
        auto http = service();
        std::optional<QCoro::Task<Note>> task;
        {
            const CancellationScope scope(cancellation);
            task = http->request<Note>(true, Config(silent.baseUrl(), "v1/note"));
        }
        QTRY_COMPARE(silent.connections, 1);
        QElapsedTimer clock;
        clock.start();
        cancellation->cancel();
        const auto out = run(std::move(*task));
        QVERIFY(out->error);
        QCOMPARE(out->error->kind(), Kind::noResponse);
        QVERIFY2(clock.elapsed() < 5000, "the request ran on to its time-out");
        QTRY_VERIFY(silent.clientHungUp);

        {
            const CancellationScope scope(cancellation);
            task = http->request<Note>(true, Config(silent.baseUrl(), "v1/note"));
        }
        const auto late = run(std::move(*task));
        QVERIFY(late->error);
        QCOMPARE(late->error->kind(), Kind::noResponse);
        QCOMPARE(silent.connections, 1);
    }

    void survivesBeingDropped()
    {
        m_backend.script = [](const Received &) { return noteAnswer(); };
        // Its own network, which goes with it.
        auto http = std::make_shared<HTTPService>(m_refresher, m_store, Headers{});
        auto task = http->request<Note>(true, Config(m_backend.baseUrl(), "v1/note"));
        http.reset();
        const auto out = run(std::move(task));
        QVERIFY(out->value);
        QCOMPARE(out->value->words, 3);
    }

    // Kept last: looks at everything the tests above made the library say.
    void logsHoldNoSecrets()
    {
        QVERIFY(g_corvaneLines > 0);
        for (const QString &text : std::as_const(g_texts))
            for (const QString &secret : {kOldToken, kNewToken, kRefreshToken, QString(kSecretBody), QString("Bearer")})
                QVERIFY2(!text.contains(secret), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestCorvane)
#include "tst_corvane.moc"
