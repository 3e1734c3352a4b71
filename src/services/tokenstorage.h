#pragma once

#include "keychainoperator.h"

#include <corvane.h>
#include <streams.h>

#include <QSemaphore>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

// The session's tokens: held in memory, mirrored into one keychain item so
// they survive a restart, and nowhere else. One instance serves the whole
// program. The semaphore is not re-entrant and is held while the stream
// values go out: subscribers must not call back into the store from inside
// their delivery (hand it to the main loop first).
//
// The keychain is read once, without waiting for it. isLoggedIn() sends
// nothing until that read answers or `firstReadBound` passes; after the
// bound the store counts as signed out for now, and a later answer still
// signs in, unless the user has signed in or out meanwhile. Made and used
// on the main thread.
class TokenStorage : public corvane::TokenStoring
{
public:
    static constexpr std::chrono::milliseconds kFirstReadBound{KeychainOperator::kSlowAnswerMs};

    TokenStorage();
    explicit TokenStorage(std::shared_ptr<KeychainOperating> keychain,
                          std::chrono::milliseconds firstReadBound = kFirstReadBound);

    std::optional<QString> accessToken() const override;
    std::optional<QString> refreshToken() const override;
    streams::AnyPublisher<streams::Void> tokensWiped() const override;
    std::optional<corvane::LoginMethod> lastSocialLoginProvider() const override;
    streams::AnyPublisher<bool> isLoggedIn() const override;
    void wipeTokens() override;
    void saveTokens(const corvane::AuthenticationResponse &tokenResponse) override;

private:
    void receiveFirstRead(const std::optional<QByteArray> &data);
    void firstReadOverdue();

    std::optional<corvane::AuthenticationResponse> authResponse;
    std::shared_ptr<KeychainOperating> keychainOperator;
    const QString keychainAuthService = QStringLiteral("tokenStorage");
    streams::PassthroughSubject<streams::Void> tokensWipedSubject;
    // None: not known yet.
    streams::CurrentValueSubject<std::optional<bool>> isLoggedInSubject{std::nullopt};
    // A save or wipe came first: the first read's answer no longer counts.
    bool userDecided = false;
    mutable QSemaphore tokenSemaphore{1};
    // The callbacks of the read and the bound hold it weakly: gone, the store is.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
};
