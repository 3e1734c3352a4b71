#pragma once

#include "backend.h"
#include "userauthentication.h"

#include <memory>

class ApplicationStateObservable;

class AuthService : public UserAuthentication, public std::enable_shared_from_this<AuthService>
{
public:
    class Config : public backend::Endpoint
    {
    public:
        enum class Case { auth, requestOTP, verifyOTP, logout };

        static Config auth(const OauthProviderUser &user);
        static Config requestOTP(QString email);
        static Config verifyOTP(QString email, QString otp);
        static Config logout();

        Case kind() const { return m_case; }
        QString path() const override;
        corvane::HTTPMethod method() const override { return corvane::HTTPMethod::POST; }
        corvane::Parameters parameters() const override { return m_body; }
        std::optional<corvane::Headers> headers() const override { return corvane::Headers{}; }

    private:
        Config(Case c, corvane::Parameters body) : m_case(c), m_body(std::move(body)) {}
        Case m_case;
        corvane::Parameters m_body;
    };

    AuthService(); // fills its fields from the container
    AuthService(std::shared_ptr<corvane::HTTPServing> http, std::shared_ptr<corvane::TokenStoring> tokens,
                std::shared_ptr<ApplicationStateObservable> state);

    QCoro::Task<corvane::AuthenticationResponse> login(OauthProviderUser user) override;
    QCoro::Task<void> requestOTP(QString email) override;
    QCoro::Task<corvane::AuthenticationResponse> verifyOTP(QString email, QString otp) override;
    QCoro::Task<void> logout() override;

    const std::shared_ptr<corvane::HTTPServing> httpService;
    const std::shared_ptr<corvane::TokenStoring> tokenStorage;
    const std::shared_ptr<ApplicationStateObservable> applicationState;

private:
    QCoro::Task<corvane::AuthenticationResponse> signIn(Config config);
};
