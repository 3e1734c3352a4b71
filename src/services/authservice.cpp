#include "authservice.h"

#include <applicationstateobservable.h>
#include <resolver.h>

namespace {

// The user's own JSON object: encoded, read back, and used only if it is an
// object; anything else sends an empty body.
corvane::Parameters userBody(const OauthProviderUser &user)
{
    try {
        const std::string bytes = nlohmann::json(user).dump();
        auto value = nlohmann::json::parse(bytes);
        if (value.is_object())
            return value;
    } catch (const nlohmann::json::exception &) {
    }
    return corvane::Parameters::object();
}

} // namespace

AuthService::Config AuthService::Config::auth(const OauthProviderUser &user)
{
    return Config(Case::auth, userBody(user));
}

AuthService::Config AuthService::Config::requestOTP(QString email)
{
    return Config(Case::requestOTP, {{"email", email.toStdString()}});
}

AuthService::Config AuthService::Config::verifyOTP(QString email, QString otp)
{
    return Config(Case::verifyOTP, {{"email", email.toStdString()}, {"otp", otp.toStdString()}});
}

AuthService::Config AuthService::Config::logout()
{
    return Config(Case::logout, corvane::Parameters::object());
}

QString AuthService::Config::path() const
{
    switch (m_case) {
    case Case::auth:
        return QStringLiteral("auth/token");
    case Case::requestOTP:
        return QStringLiteral("auth/request-otp");
    case Case::verifyOTP:
        return QStringLiteral("auth/verify-otp");
    case Case::logout:
        return QStringLiteral("auth/logout");
    }
    Q_UNREACHABLE();
    return {};
}

AuthService::AuthService()
    : AuthService(Resolver::main().resolve<corvane::HTTPServing>(), Resolver::main().resolve<corvane::TokenStoring>(),
                  Resolver::main().resolve<ApplicationStateObservable>())
{
}

AuthService::AuthService(std::shared_ptr<corvane::HTTPServing> http, std::shared_ptr<corvane::TokenStoring> tokens,
                         std::shared_ptr<ApplicationStateObservable> state)
    : httpService(std::move(http)), tokenStorage(std::move(tokens)), applicationState(std::move(state))
{
}

QCoro::Task<corvane::AuthenticationResponse> AuthService::signIn(Config config)
{
    // The caller may let go of the service while the request runs.
    auto self = shared_from_this();
    auto response = co_await httpService->request<corvane::AuthenticationResponse>(false, config);
    tokenStorage->saveTokens(response);
    applicationState->updateState(ApplicationState::idle());
    co_return response;
}

QCoro::Task<corvane::AuthenticationResponse> AuthService::login(OauthProviderUser user)
{
    return signIn(Config::auth(user));
}

QCoro::Task<void> AuthService::requestOTP(QString email)
{
    return httpService->request(false, Config::requestOTP(std::move(email)));
}

QCoro::Task<corvane::AuthenticationResponse> AuthService::verifyOTP(QString email, QString otp)
{
    return signIn(Config::verifyOTP(std::move(email), std::move(otp)));
}

QCoro::Task<void> AuthService::logout()
{
    auto self = shared_from_this();
    std::exception_ptr failure;
    try {
        co_await httpService->request(true, Config::logout());
    } catch (...) {
        failure = std::current_exception();
    }
    // Signed out locally whatever the backend said.
    tokenStorage->wipeTokens();
    if (failure)
        std::rethrow_exception(failure);
}
