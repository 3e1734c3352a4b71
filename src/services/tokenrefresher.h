#pragma once

#include "backend.h"

#include <resolver.h>
#include <streams.h>

#include <QNetworkAccessManager>

#include <functional>
#include <memory>

class AnalyticsCollecting;
class ApplicationStateObservable;

// Exchanges the stored refresh token for new tokens. It sends its request on
// the network access manager itself, never through the HTTP service, so a
// renewal can never wait on itself; it keeps the service's rules all the same
// (no backend but https or loopback, no answer beyond the size limit). A
// renewal the backend refuses (400 to 599) ends the session.
class TokenRefresher : public corvane::TokenRefreshing, public std::enable_shared_from_this<TokenRefresher>
{
public:
    class Config : public backend::Endpoint
    {
    public:
        enum class Case { refresh };
        static Config refresh(QString token, QUrl base)
        {
            return Config(std::move(token), std::move(base));
        }

        Case kind() const { return Case::refresh; }
        QUrl baseURL() const override { return m_base; }
        QString path() const override { return QStringLiteral("auth/refresh"); }
        corvane::HTTPMethod method() const override { return corvane::HTTPMethod::POST; }
        corvane::Parameters parameters() const override { return {{"token", m_token.toStdString()}}; }
        std::optional<corvane::Headers> headers() const override { return backend::renewalHeaders(); }

    private:
        Config(QString token, QUrl base) : m_token(std::move(token)), m_base(std::move(base)) {}
        QString m_token;
        QUrl m_base;
    };

    static constexpr int kTimeoutMs = 30000;

    TokenRefresher(); // fills its fields from the container
    TokenRefresher(std::shared_ptr<corvane::TokenStoring> tokens, std::shared_ptr<AnalyticsCollecting> analytics,
                   std::shared_ptr<ApplicationStateObservable> state, Resolver &resolver = Resolver::main());

    QCoro::Task<void> refresh() override;
    streams::AnyPublisher<streams::Void> tokenRefreshFailure() const override;

    WeakLazyInjected<QNetworkAccessManager> httpHandler;
    // Where renewals go: the backend's base URL, read anew for each.
    std::function<QUrl()> backendURL = backend::baseURL;
    const std::shared_ptr<corvane::TokenStoring> tokenStorage;
    const std::shared_ptr<AnalyticsCollecting> analyticsCollector;
    const std::shared_ptr<ApplicationStateObservable> applicationStateObserver;
    streams::PassthroughSubject<streams::Void> tokenRefreshFailureSubject;

private:
    void handleAnswer(int status, const QByteArray &body);
    void fail(const QString &description);
};
