#pragma once

// The services the models resolve, wired to the loopback stand-ins of the
// backend and of Google, with the tokens kept in memory. Each test case gets
// a fresh set in the main container.

#include <backendstandin.h>
#include <googleauthstandin.h>
#include <memorykeychain.h>

#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <authservice.h>
#include <backend.h>
#include <googleauthhandler.h>
#include <googlesignin.h>
#include <metadataservice.h>
#include <resolver.h>
#include <tokenrefresher.h>
#include <tokenstorage.h>
#include <userservice.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

#include <chrono>
#include <functional>

class RecordingAnalytics : public AnalyticsCollecting
{
public:
    void track(const QString &event) override { events.append(event); }
    void track(const QString &event, const QMap<QString, QString> &) override { events.append(event); }
    QString distinctId() const override { return QStringLiteral("distinct-1"); }

    QStringList events;
};

class UiEnvironment : public QObject
{
public:
    inline static const QString ClientId = QStringLiteral("ui-test-client.apps.googleusercontent.com");

    BackendStandIn backend;
    GoogleAuthStandIn google{ClientId};
    QNetworkAccessManager browser;
    std::shared_ptr<QNetworkAccessManager> network = std::make_shared<QNetworkAccessManager>();
    std::shared_ptr<RecordingAnalytics> analytics;
    std::shared_ptr<MemoryKeychain> keychain;
    std::shared_ptr<TokenStorage> tokens;
    std::shared_ptr<ApplicationStateObserver> state;
    std::shared_ptr<corvane::HTTPService> http;
    std::shared_ptr<AuthService> auth;
    std::shared_ptr<GoogleSignIn> googleSignIn;
    std::shared_ptr<GoogleAuthHandler> googleHandler;

    // What a test adds to the container beyond the models' services.
    std::function<void(Resolver &)> moreServices;

    bool start()
    {
        if (!backend.listen() || !google.listen())
            return false;
        qputenv("WUGGIT_BACKEND_URL", backend.url().toString().toUtf8());
        return true;
    }

    // Fresh services, registered in the main container the models resolve from.
    void reset()
    {
        backend.clearRequests();
        google.clear();
        google.setScript(GoogleAuthStandIn::Script::grant);
        analytics = std::make_shared<RecordingAnalytics>();
        keychain = std::make_shared<MemoryKeychain>();
        tokens = std::make_shared<TokenStorage>(keychain);
        state = std::make_shared<ApplicationStateObserver>();
        auto refresher = std::make_shared<TokenRefresher>(tokens, analytics, state);
        http = std::make_shared<corvane::HTTPService>(refresher, tokens, backend::commonHeaders(*analytics), network);
        // A silent backend gives up soon.
        http->setTransferTimeout(std::chrono::milliseconds(1500));
        auth = std::make_shared<AuthService>(http, tokens, state);

        GoogleSignIn::Configuration configuration;
        configuration.clientId = ClientId;
        configuration.authorizationEndpoint = google.authorizationEndpoint();
        configuration.tokenEndpoint = google.tokenEndpoint();
        configuration.timeout = std::chrono::seconds(10);
        // The browser follows Google's redirect back to the program.
        configuration.openBrowser = [this](const QUrl &url) {
            QNetworkReply *reply = browser.get(QNetworkRequest(url));
            QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
            return true;
        };
        googleSignIn = std::make_shared<GoogleSignIn>(configuration);
        googleHandler = std::make_shared<GoogleAuthHandler>(googleSignIn, analytics);

        Resolver &resolver = Resolver::main();
        resolver.reset();
        resolver.setRegistrationRoutine([this](Resolver &r) {
            r.register_<QNetworkAccessManager>([this] { return network; });
            r.register_<AuthService>([this] { return auth; }).implements<UserAuthentication>();
            r.register_<GoogleAuthHandler>([this] { return googleHandler; }).implements<GoogleAuthHandling>();
            r.register_<RecordingAnalytics>([this] { return analytics; }).implements<AnalyticsCollecting>();
            r.register_<TokenStorage>([this] { return tokens; }).implements<corvane::TokenStoring>();
            auto httpService = http;
            r.register_<MetadataService>([httpService] { return std::make_shared<MetadataService>(httpService); })
                .implements<MetadataServing>();
            r.register_<UserService>([httpService] { return std::make_shared<UserService>(httpService); })
                .implements<UserServing>();
            if (moreServices)
                moreServices(r);
        });
    }

    // A session the backend knows, stored as a sign-in would have stored it.
    void signIn(corvane::LoginMethod provider = corvane::LoginMethod::email)
    {
        const auto issued = backend.issueTokens(provider == corvane::LoginMethod::google ? QStringLiteral("google")
                                                                                           : QStringLiteral("email"));
        tokens->saveTokens({issued.accessToken.toStdString(), issued.refreshToken.toStdString(), provider});
    }

    int requestsTo(const char *path) const { return int(backend.requestsTo(QLatin1String(path)).size()); }

    // Queues one answer for the next request to path.
    void answer(const QString &path, int status, const QByteArray &body, int delayMs = 0, bool never = false)
    {
        BackendStandIn::Answer a;
        a.status = status;
        a.body = body;
        a.delayMs = delayMs;
        a.neverAnswer = never;
        backend.script(path, a);
    }
};
