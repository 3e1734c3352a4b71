// The program's side of the backend API against the loopback stand-in: what
// each request sends, how a renewal ends, and what sign-in and sign-out
// leave behind.

#include <backendstandin.h>
#include <memorykeychain.h>
#include <settledtask.h>

#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <authservice.h>
#include <backend.h>
#include <contentservice.h>
#include <keychainoperating.h>
#include <metadataservice.h>
#include <resolver.h>
#include <tokenrefresher.h>
#include <tokenstorage.h>
#include <userservice.h>

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTest>

using Kind = corvane::CorvaneError::Kind;
Q_DECLARE_METATYPE(Kind)

namespace {

class RecordingAnalytics : public AnalyticsCollecting
{
public:
    void track(const QString &event) override { events.append({event, {}}); }
    void track(const QString &event, const QMap<QString, QString> &properties) override
    {
        events.append({event, properties});
    }
    QString distinctId() const override { return id; }

    QString id = QStringLiteral("distinct-1");
    QList<QPair<QString, QMap<QString, QString>>> events;
};

template<class T>
typename SettledTask<T>::Value await(QCoro::Task<T> task)
{
    auto settled = settle(std::move(task));
    if (settled.failure)
        std::rethrow_exception(settled.failure);
    return *settled.value;
}

// The CorvaneError the task threw; none (and a warning) otherwise.
template<class T>
std::optional<corvane::CorvaneError> failureOf(QCoro::Task<T> task)
{
    try {
        if (auto failure = settle(std::move(task)).failure)
            std::rethrow_exception(failure);
        qWarning("the task did not fail");
    } catch (const corvane::CorvaneError &e) {
        return e;
    } catch (const std::exception &e) {
        qWarning("not a CorvaneError: %s", e.what());
    }
    return std::nullopt;
}

QJsonObject object(std::initializer_list<std::pair<const char *, QString>> fields)
{
    QJsonObject out;
    for (const auto &[key, value] : fields)
        out.insert(QLatin1String(key), value);
    return out;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private:
    BackendStandIn m_backend;
    std::shared_ptr<QNetworkAccessManager> m_network;
    std::shared_ptr<RecordingAnalytics> m_analytics;
    std::shared_ptr<MemoryKeychain> m_keychain;
    std::shared_ptr<TokenStorage> m_tokens;
    std::shared_ptr<ApplicationStateObserver> m_state;
    std::shared_ptr<TokenRefresher> m_refresher;
    std::shared_ptr<corvane::HTTPService> m_http;
    std::shared_ptr<AuthService> m_auth;
    int m_failures = 0;
    streams::Cancellables m_subscriptions;

    corvane::AuthenticationResponse signInAtBackend()
    {
        const auto issued = m_backend.issueTokens();
        const corvane::AuthenticationResponse tokens{issued.accessToken.toStdString(), issued.refreshToken.toStdString(),
                                                     corvane::LoginMethod::email};
        m_tokens->saveTokens(tokens);
        return tokens;
    }

    int failureEvents() const
    {
        return int(std::count_if(m_analytics->events.cbegin(), m_analytics->events.cend(),
                                 [](const auto &e) { return e.first == QLatin1String("TokenRefreshFailure"); }));
    }

    void scriptRenewal(int status, const QByteArray &body)
    {
        BackendStandIn::Answer answer;
        answer.status = status;
        answer.body = body;
        if (status == 302)
            answer.headers.insert(QStringLiteral("Location"), m_backend.url().toString() + QStringLiteral("auth/refresh"));
        m_backend.script(QStringLiteral("auth/refresh"), answer);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_backend.listen());
        qputenv("WUGGIT_BACKEND_URL", m_backend.url().toString().toUtf8());
        m_network = std::make_shared<QNetworkAccessManager>();
        Resolver::main().setRegistrationRoutine([this](Resolver &r) {
            r.register_<QNetworkAccessManager>([this] { return m_network; });
        });
    }

    void init()
    {
        m_backend.clearRequests();
        m_analytics = std::make_shared<RecordingAnalytics>();
        m_keychain = std::make_shared<MemoryKeychain>();
        m_tokens = std::make_shared<TokenStorage>(m_keychain);
        m_state = std::make_shared<ApplicationStateObserver>();
        m_refresher = std::make_shared<TokenRefresher>(m_tokens, m_analytics, m_state);
        m_http = std::make_shared<corvane::HTTPService>(m_refresher, m_tokens, backend::commonHeaders(*m_analytics),
                                                        m_network);
        m_auth = std::make_shared<AuthService>(m_http, m_tokens, m_state);
        m_failures = 0;
        m_subscriptions.clear();
        m_refresher->tokenRefreshFailure().sink([this](streams::Void) { ++m_failures; }).store(m_subscriptions);
    }

    void contentRequestsSendTheirBodies()
    {
        signInAtBackend();
        ContentService content(m_http);
        await(content.fix(QStringLiteral("Teh cat")));
        await(content.rephrase(QStringLiteral("one"), std::nullopt));
        await(content.rephrase(QStringLiteral("two"), QStringLiteral("shorter")));
        await(content.translate(QStringLiteral("three"), QStringLiteral("Brazilian Portuguese")));

        const auto fix = m_backend.requestsTo(QStringLiteral("content/fix"));
        QCOMPARE(fix.size(), 1);
        QCOMPARE(fix[0].method, QStringLiteral("POST"));
        QCOMPARE(fix[0].json, object({{"input", "Teh cat"}}));
        const auto rephrase = m_backend.requestsTo(QStringLiteral("content/rephrase"));
        QCOMPARE(rephrase.size(), 2);
        QCOMPARE(rephrase[0].json, object({{"input", "one"}, {"customPrompt", ""}}));
        QCOMPARE(rephrase[1].json, object({{"input", "two"}, {"customPrompt", "shorter"}}));
        // The language goes exactly as typed, under "customPrompt", and nowhere else.
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/translate")).value(0).json,
                 object({{"input", "three"}, {"customPrompt", "Brazilian Portuguese"}}));
    }

    void theTokenGoesOnlyWhereItBelongs()
    {
        const auto tokens = signInAtBackend();
        ContentService content(m_http);
        MetadataService metadata(m_http);
        await(content.fix(QStringLiteral("x")));
        QVERIFY(!await(metadata.fetchMetadata()).latestVersion.empty());
        QCOMPARE(await(UserService(m_http).fetchProfile()).provider, corvane::LoginMethod::email);
        await(m_auth->requestOTP(QStringLiteral("ann@example.org")));
        await(m_auth->verifyOTP(QStringLiteral("ann@example.org"), m_backend.otpFor(QStringLiteral("ann@example.org"))));
        await(m_auth->logout());
        // The distinct id stays as first read.
        m_analytics->id = QStringLiteral("distinct-2");
        await(metadata.fetchMetadata());

        const QStringList withToken{"content/fix", "user/profile", "auth/logout"};
        const QStringList withoutToken{"metadata/info", "auth/request-otp", "auth/verify-otp"};
        const auto requests = m_backend.requests();
        QCOMPARE(requests.size(), 7);
        for (const auto &request : requests) {
            QVERIFY2(withToken.contains(request.path) || withoutToken.contains(request.path), qPrintable(request.path));
            const QString authorization = request.headers.value(QStringLiteral("authorization"));
            QVERIFY2(authorization.startsWith(QLatin1String("Bearer ")) == withToken.contains(request.path),
                     qPrintable(request.path));
            QCOMPARE(request.headers.value(QStringLiteral("x-client-type")), QStringLiteral("macOS"));
            QCOMPARE(request.headers.value(QStringLiteral("x-app-version")), QStringLiteral("1.0.0"));
            QCOMPARE(request.headers.value(QStringLiteral("x-distinct-id")), QStringLiteral("distinct-1"));
        }
        QCOMPARE(requests[0].headers.value(QStringLiteral("authorization")),
                 QStringLiteral("Bearer ") + QString::fromStdString(tokens.accessToken));
    }

    void signInBodyIsTheUsersObject()
    {
        const OauthProviderUser user{"Ann Lee", "id-token-1", "ann@example.org", corvane::LoginMethod::google};
        const auto response = await(m_auth->login(user));
        const auto sent = m_backend.requestsTo(QStringLiteral("auth/token"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].json, object({{"name", "Ann Lee"}, {"idToken", "id-token-1"},
                                       {"email", "ann@example.org"}, {"provider", "google"}}));
        QVERIFY(m_tokens->lastSocialLoginProvider() == corvane::LoginMethod::google);
        QCOMPARE(m_tokens->accessToken().value_or(QString()), QString::fromStdString(response.accessToken));
    }

    void expiredAccessTokenIsRenewedAndRepeated()
    {
        const auto before = signInAtBackend();
        m_backend.expireAccessTokens();
        QCOMPARE(QString::fromStdString(await(ContentService(m_http).fix(QStringLiteral("teh"))).output),
                 QStringLiteral("the"));
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).size(), 2);
        const auto renewal = m_backend.requestsTo(QStringLiteral("auth/refresh"));
        QCOMPARE(renewal.size(), 1);
        QCOMPARE(renewal[0].json, object({{"token", QString::fromStdString(before.refreshToken)}}));
        QVERIFY(!renewal[0].headers.contains(QStringLiteral("x-distinct-id")));
        QCOMPARE(renewal[0].headers.value(QStringLiteral("content-type")), QStringLiteral("application/json"));
        QVERIFY(m_tokens->accessToken() != QString::fromStdString(before.accessToken));
        QCOMPARE(m_failures, 0);
        QVERIFY(m_analytics->events.isEmpty());
    }

    void refusedRenewal_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Kind>("thrown");
        QTest::newRow("401 unread body") << 401 << QByteArray("not json") << Kind::unauthorized;
        QTest::newRow("503 with error") << 503 << QByteArray(R"({"error":"Down for maintenance"})") << Kind::api;
        QTest::newRow("503 without error") << 503 << QByteArray(R"({"message":"Down"})") << Kind::invalidErrorBody;
    }

    // Refused: the session ends, and the failure is counted twice, tracked once.
    void refusedRenewal()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Kind, thrown);
        const auto tokens = signInAtBackend();
        QList<bool> loggedIn;
        int wiped = 0;
        m_tokens->isLoggedIn().sink([&](bool v) { loggedIn << v; }).store(m_subscriptions);
        m_tokens->tokensWiped().sink([&](streams::Void) { ++wiped; }).store(m_subscriptions);
        QList<ApplicationState> states;
        m_state->applicationStatePublisher().sink([&](const ApplicationState &s) { states << s; }).store(m_subscriptions);
        scriptRenewal(status, body);
        QElapsedTimer clock;
        clock.start();
        const auto error = failureOf(m_refresher->refresh());
        QVERIFY(error);
        QCOMPARE(error->kind(), thrown);
        if (thrown == Kind::api) {
            QCOMPARE(error->message(), QStringLiteral("Down for maintenance"));
            QCOMPARE(error->status(), status);
        }
        QVERIFY(!m_tokens->accessToken());
        QCOMPARE(loggedIn, (QList<bool>{true, false}));
        QCOMPARE(wiped, 1);
        QCOMPARE(m_failures, 2);
        QCOMPARE(failureEvents(), 1);
        const QString description = m_analytics->events.last().second.value(QStringLiteral("error"));
        QVERIFY(!description.isEmpty() && !description.contains(QString::fromStdString(tokens.refreshToken)));
        // The session-expired state turns unauthenticated three seconds later.
        if (status != 401)
            return;
        QTRY_COMPARE_WITH_TIMEOUT(states.size(), 3, 5000);
        QVERIFY(clock.elapsed() >= 2900);
        QCOMPARE(states, (QList<ApplicationState>{ApplicationState::idle(),
                                                  ApplicationState::error(ApplicationStateError::SessionExpired),
                                                  ApplicationState::unauthenticated()}));
    }

    void renewalThatKeepsTheSession_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        // Empty: the stand-in; "gone": nobody listens; else a base URL the
        // renewal must refuse, with the stand-in as the network's proxy.
        QTest::addColumn<QString>("backend");
        QTest::addColumn<Kind>("thrown");
        QTest::addColumn<QString>("says"); // in the error's message
        QTest::newRow("302") << 302 << QByteArray() << "" << Kind::unknown << "";
        QTest::newRow("200 undecodable") << 200 << QByteArray(R"({"accessToken":"a"})") << ""
                                         << Kind::serializationError << "";
        QTest::newRow("200 unknown provider")
            << 200 << QByteArray(R"({"accessToken":"a","refreshToken":"r","provider":"carrier pigeon"})") << ""
            << Kind::serializationError << "";
        // Valid tokens, but more than any answer may be.
        const QByteArray padding(corvane::HTTPService::kMaxResponseBytes, 'x');
        QTest::newRow("200 too large")
            << 200 << QByteArray(R"({"accessToken":"a","refreshToken":"r","provider":"email","padding":")") + padding + "\"}"
            << "" << Kind::serializationError << "MiB";
        QTest::newRow("backend gone") << 0 << QByteArray() << "gone" << Kind::noResponse << "";
        QTest::newRow("plain http elsewhere")
            << 0 << QByteArray() << "http://backend.example/" << Kind::noResponse << "http://backend.example";
    }

    // Not refused: tokens and state stay; one failure, one event.
    void renewalThatKeepsTheSession()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, backend);
        QFETCH(Kind, thrown);
        QFETCH(QString, says);
        const auto tokens = signInAtBackend();
        QTcpServer closed;
        if (backend == u"gone") {
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            closed.close();
            qputenv("WUGGIT_BACKEND_URL", "http://127.0.0.1:" + QByteArray::number(closed.serverPort()) + '/');
        } else if (!backend.isEmpty()) {
            m_refresher->backendURL = [backend] { return QUrl(backend); };
            m_network->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), m_backend.port()));
        } else {
            scriptRenewal(status, body);
        }
        const auto error = failureOf(m_refresher->refresh());
        qputenv("WUGGIT_BACKEND_URL", m_backend.url().toString().toUtf8());
        m_network->setProxy(QNetworkProxy());
        QVERIFY(error);
        QCOMPARE(error->kind(), thrown);
        QVERIFY2(error->message().contains(says), qPrintable(error->message()));
        QCOMPARE(m_tokens->accessToken().value_or(QString()), QString::fromStdString(tokens.accessToken));
        QCOMPARE(m_tokens->refreshToken().value_or(QString()), QString::fromStdString(tokens.refreshToken));
        QCOMPARE(m_state->applicationStateSubject.value(), ApplicationState::idle());
        QCOMPARE(m_failures, 1);
        QCOMPARE(failureEvents(), 1);
        // A redirect is not followed, and nothing leaves for a refused backend.
        QCOMPARE(m_backend.requestsTo(QStringLiteral("auth/refresh")).size(), backend.isEmpty() ? 1 : 0);
    }

    void renewalWithoutARefreshToken()
    {
        const auto error = failureOf(m_refresher->refresh());
        QVERIFY(error);
        QCOMPARE(error->kind(), Kind::unauthorized);
        QCOMPARE(m_failures, 1);
        QCOMPARE(failureEvents(), 0);
        QVERIFY(m_backend.requests().isEmpty());
    }

    void oneTimePasswordSignIn()
    {
        m_state->updateState(ApplicationState::unauthenticated());
        QStringList order;
        m_tokens->isLoggedIn().sink([&](bool v) { order << (v ? "in" : "out"); }).store(m_subscriptions);
        m_state->applicationStatePublisher()
            .sink([&](const ApplicationState &s) {
                if (s == ApplicationState::idle())
                    order << QStringLiteral("idle");
            })
            .store(m_subscriptions);
        const QString email = QStringLiteral("bo@example.org");
        await(m_auth->requestOTP(email));

        // A wrong code changes nothing.
        const auto wrong = failureOf(m_auth->verifyOTP(email, QStringLiteral("000000x")));
        QVERIFY(wrong);
        QCOMPARE(wrong->kind(), Kind::api);
        QCOMPARE(order, QStringList{"out"});
        QCOMPARE(m_state->applicationStateSubject.value(), ApplicationState::unauthenticated());
        QVERIFY(m_keychain->items.isEmpty());

        await(m_auth->verifyOTP(email, m_backend.otpFor(email)));
        QCOMPARE(order, (QStringList{"out", "in", "idle"}));
        QVERIFY(m_keychain->items.contains(QStringLiteral("tokenStorage")));
    }

    void signOutThatFailsStillSignsOut_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("401 after renewal") << 401;
        QTest::newRow("500") << 500;
        QTest::newRow("no answer") << 0;
    }
    void signOutThatFailsStillSignsOut()
    {
        QFETCH(int, status);
        signInAtBackend();
        QList<bool> loggedIn;
        m_tokens->isLoggedIn().sink([&](bool v) { loggedIn << v; }).store(m_subscriptions);
        BackendStandIn::Answer answer{status, R"({"error":"no"})", {}, 0, status == 0};
        m_http->setTransferTimeout(std::chrono::milliseconds(300));
        m_backend.script(QStringLiteral("auth/logout"), answer);
        if (status == 401)
            m_backend.script(QStringLiteral("auth/logout"), answer); // the repeat after renewal
        QVERIFY(failureOf(m_auth->logout()));
        QCOMPARE(loggedIn.last(), false);
        QVERIFY(!m_tokens->accessToken());
        QVERIFY(!m_keychain->items.contains(QStringLiteral("tokenStorage")));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
