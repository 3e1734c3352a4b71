#pragma once

#include "backend.h"

#include <resolver.h>
#include <streams.h>

#include <QNetworkAccessManager>

#include <memory>

class AnalyticsCollecting;
class ApplicationStateObservable;

// Exchanges the stored refresh token for new tokens. It sends its request on
// the network access manager itself, never through the HTTP service, so a
// renewal can never wait on itself. A renewal the backend refuses (400 to
// 599) ends the session.
class TokenRefresher : public corvane::TokenRefreshing, public std::enable_shared_from_this<TokenRefresher>
{
public:
    class Config : public backend::Endpoint
    {
    public:
        enum class Case { refresh };
        static Config refresh(QString token) { return Config(std::move(token)); }

        Case kind() const { return Case::refresh; }
        QString path() const override { return QStringLiteral("auth/refresh"); }
        corvane::HTTPMethod method() const override { return corvane::HTTPMethod::POST; }
        corvane::Parameters parameters() const override { return {{"token", m_token.toStdString()}}; }
        std::optional<corvane::Headers> headers() const override { return backend::renewalHeaders(); }

    private:
        explicit Config(QString token) : m_token(std::move(token)) {}
        QString m_token;
    };

    static constexpr int kTimeoutMs = 30000;

    TokenRefresher(); // fills its fields from the container
    TokenRefresher(std::shared_ptr<corvane::TokenStoring> tokens, std::shared_ptr<AnalyticsCollecting> analytics,
                   std::shared_ptr<ApplicationStateObservable> state, Resolver &resolver = Resolver::main());

    QCoro::Task<void> refresh() override;
    streams::AnyPublisher<streams::Void> tokenRefreshFailure() const override;

    WeakLazyInjected<QNetworkAccessManager> httpHandler;
    const std::shared_ptr<corvane::TokenStoring> tokenStorage;
    const std::shared_ptr<AnalyticsCollecting> analyticsCollector;
    const std::shared_ptr<ApplicationStateObservable> applicationStateObserver;
    streams::PassthroughSubject<streams::Void> tokenRefreshFailureSubject;

private:
    void handleAnswer(int status, const QByteArray &body);
    void fail(const QString &description);
};
