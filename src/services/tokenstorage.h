#pragma once

#include "keychainoperating.h"

#include <corvane.h>
#include <streams.h>

#include <QSemaphore>
#include <QString>

#include <memory>
#include <optional>

// The session's tokens: held in memory, mirrored into one keychain item so
// they survive a restart, and nowhere else. One instance serves the whole
// program. The semaphore is not re-entrant and is held while the stream
// values go out: subscribers must not call back into the store from inside
// their delivery (hand it to the main loop first).
class TokenStorage : public corvane::TokenStoring
{
public:
    // Reads the keychain once, here.
    TokenStorage();
    explicit TokenStorage(std::shared_ptr<KeychainOperating> keychain);

    std::optional<QString> accessToken() const override;
    std::optional<QString> refreshToken() const override;
    streams::AnyPublisher<streams::Void> tokensWiped() const override;
    std::optional<corvane::LoginMethod> lastSocialLoginProvider() const override;
    streams::AnyPublisher<bool> isLoggedIn() const override;
    void wipeTokens() override;
    void saveTokens(const corvane::AuthenticationResponse &tokenResponse) override;

private:
    std::optional<corvane::AuthenticationResponse> authResponse;
    std::shared_ptr<KeychainOperating> keychainOperator;
    const QString keychainAuthService = QStringLiteral("tokenStorage");
    streams::PassthroughSubject<streams::Void> tokensWipedSubject;
    streams::CurrentValueSubject<bool> isLoggedInSubject{false};
    mutable QSemaphore tokenSemaphore{1};
};
