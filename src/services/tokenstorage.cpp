#include "tokenstorage.h"

#include "keychainoperator.h"

namespace {

// Holds the semaphore for one scope.
class Hold
{
public:
    explicit Hold(QSemaphore &semaphore) : m_semaphore(semaphore) { m_semaphore.acquire(); }
    ~Hold() { m_semaphore.release(); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

private:
    QSemaphore &m_semaphore;
};

} // namespace

TokenStorage::TokenStorage() : TokenStorage(std::make_shared<KeychainOperator>()) {}

TokenStorage::TokenStorage(std::shared_ptr<KeychainOperating> keychain) : keychainOperator(std::move(keychain))
{
    // Nobody else sees this object yet: no semaphore for the first assignment.
    authResponse = keychainOperator->readKeychainValue<corvane::AuthenticationResponse>(keychainAuthService);
    bool signedIn = false;
    {
        Hold hold(tokenSemaphore);
        // A loaded response signs in, even one with an empty access token.
        signedIn = authResponse.has_value();
    }
    isLoggedInSubject.send(signedIn);
}

std::optional<QString> TokenStorage::accessToken() const
{
    Hold hold(tokenSemaphore);
    if (!authResponse)
        return std::nullopt;
    return QString::fromStdString(authResponse->accessToken);
}

std::optional<QString> TokenStorage::refreshToken() const
{
    Hold hold(tokenSemaphore);
    if (!authResponse)
        return std::nullopt;
    return QString::fromStdString(authResponse->refreshToken);
}

streams::AnyPublisher<streams::Void> TokenStorage::tokensWiped() const
{
    return tokensWipedSubject.eraseToAnyPublisher();
}

std::optional<corvane::LoginMethod> TokenStorage::lastSocialLoginProvider() const
{
    Hold hold(tokenSemaphore);
    if (!authResponse)
        return std::nullopt;
    return authResponse->provider;
}

streams::AnyPublisher<bool> TokenStorage::isLoggedIn() const
{
    return isLoggedInSubject.eraseToAnyPublisher();
}

void TokenStorage::wipeTokens()
{
    Hold hold(tokenSemaphore);
    authResponse.reset();
    keychainOperator->deleteKeychainData(keychainAuthService);
    isLoggedInSubject.send(false);
    tokensWipedSubject.send(streams::Void{});
}

void TokenStorage::saveTokens(const corvane::AuthenticationResponse &tokenResponse)
{
    Hold hold(tokenSemaphore);
    authResponse = tokenResponse;
    std::optional<QByteArray> encoded;
    try {
        encoded = QByteArray::fromStdString(nlohmann::json(tokenResponse).dump());
    } catch (const nlohmann::json::exception &) {
        // Not valid UTF-8: the session lasts for this run only.
    }
    if (encoded)
        keychainOperator->saveKeychainData(*encoded, keychainAuthService);
    isLoggedInSubject.send(true);
}
