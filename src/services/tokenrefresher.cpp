#include "tokenrefresher.h"

#include "analyticscollecting.h"

#include <applicationstateobservable.h>

#include <QNetworkReply>
#include <QPointer>

namespace {

// Aborts the requests the manager has running right now, on the next turn of
// the loop. The list is taken before the renewal's own request exists, so it
// is never among them.
void cancelRunningRequests(QNetworkAccessManager &network)
{
    QList<QPointer<QNetworkReply>> running;
    for (auto *reply : network.findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly)) {
        if (reply->isRunning())
            running.append(reply);
    }
    if (running.isEmpty())
        return;
    QMetaObject::invokeMethod(
        &network,
        [running] {
            for (const auto &reply : running) {
                if (reply && reply->isRunning())
                    reply->abort();
            }
        },
        Qt::QueuedConnection);
}

QString describe(const std::exception &e)
{
    if (auto *corvaneError = dynamic_cast<const corvane::CorvaneError *>(&e))
        return corvaneError->localizedDescription();
    return QString::fromUtf8(e.what());
}

} // namespace

TokenRefresher::TokenRefresher()
    : TokenRefresher(Resolver::main().resolve<corvane::TokenStoring>(), Resolver::main().resolve<AnalyticsCollecting>(),
                     Resolver::main().resolve<ApplicationStateObservable>())
{
}

TokenRefresher::TokenRefresher(std::shared_ptr<corvane::TokenStoring> tokens,
                               std::shared_ptr<AnalyticsCollecting> analytics,
                               std::shared_ptr<ApplicationStateObservable> state, Resolver &resolver)
    : httpHandler(resolver)
    , tokenStorage(std::move(tokens))
    , analyticsCollector(std::move(analytics))
    , applicationStateObserver(std::move(state))
{
}

streams::AnyPublisher<streams::Void> TokenRefresher::tokenRefreshFailure() const
{
    return tokenRefreshFailureSubject.eraseToAnyPublisher();
}

QCoro::Task<void> TokenRefresher::refresh()
{
    auto self = shared_from_this();
    const std::shared_ptr<QNetworkAccessManager> network = httpHandler.get();
    if (network)
        cancelRunningRequests(*network);

    const std::optional<QString> refreshToken = tokenStorage->refreshToken();
    if (!refreshToken || !network) {
        tokenRefreshFailureSubject.send({});
        throw corvane::CorvaneError::unauthorized();
    }

    try {
        const corvane::URLRequest request = Config::refresh(*refreshToken, backendURL()).asURLRequest();
        // Held to the client's rules: never to a backend it would refuse.
        corvane::requireAllowedBaseUrl(request.url);
        // A redirect is an answer to judge, not to follow.
        const QNetworkRequest wire = corvane::networkRequest(request, std::chrono::milliseconds(kTimeoutMs));

        std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(
            network->sendCustomRequest(wire, corvane::verb(request.method), request.body),
            [](QNetworkReply *r) { r->deleteLater(); });
        // And no more of the answer than the client would read.
        const corvane::CappedBody answer = co_await corvane::readCapped(reply.get());
        if (answer.tooLarge)
            throw corvane::answerTooLarge();

        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid()) {
            throw reply->error() == QNetworkReply::NoError
                ? corvane::CorvaneError::noResponse()
                : corvane::CorvaneError::noResponse(reply->errorString());
        }
        handleAnswer(status.toInt(), answer.body);
    } catch (const std::exception &e) {
        fail(describe(e));
        throw;
    }
}

void TokenRefresher::handleAnswer(int status, const QByteArray &body)
{
    if (status >= 200 && status <= 299) {
        auto response = corvane::HTTPServing::decode<corvane::AuthenticationResponse>(body);
        tokenStorage->saveTokens(response);
        return;
    }
    if (status >= 400 && status <= 599) {
        tokenStorage->wipeTokens();
        applicationStateObserver->updateState(ApplicationState::error(ApplicationStateError::SessionExpired));
        tokenRefreshFailureSubject.send({});
        if (status == 401)
            throw corvane::CorvaneError::unauthorized();
        try {
            const auto error = nlohmann::json::parse(body.cbegin(), body.cend()).get<corvane::BaseErrorResponse>();
            throw corvane::CorvaneError::api(QString::fromStdString(error.error), status);
        } catch (const nlohmann::json::exception &) {
            throw corvane::CorvaneError::invalidErrorBody(status);
        }
    }
    throw corvane::CorvaneError::unknown(QStringLiteral("unexpected HTTP status %1").arg(status));
}

void TokenRefresher::fail(const QString &description)
{
    tokenRefreshFailureSubject.send({});
    analyticsCollector->track(QStringLiteral("TokenRefreshFailure"), {{QStringLiteral("error"), description}});
}
