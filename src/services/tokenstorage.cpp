#include "tokenstorage.h"

#include "keychainoperator.h"

#include <QTimer>

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

TokenStorage::TokenStorage(std::shared_ptr<KeychainOperating> keychain, std::chrono::milliseconds firstReadBound)
    : keychainOperator(std::move(keychain))
{
    const std::weak_ptr<int> weak = alive;
    // Armed first: a keychain that answers at once still wins over it.
    QTimer::singleShot(firstReadBound, [this, weak] {
        if (weak.lock())
            firstReadOverdue();
    });
    keychainOperator->readKeychainDataLater(keychainAuthService, [this, weak](std::optional<QByteArray> data) {
        if (weak.lock())
            receiveFirstRead(data);
    });
}

void TokenStorage::receiveFirstRead(const std::optional<QByteArray> &data)
{
    std::optional<corvane::AuthenticationResponse> stored;
    if (data) {
        try {
            stored = nlohmann::json::parse(data->cbegin(), data->cend()).get<corvane::AuthenticationResponse>();
        } catch (const nlohmann::json::exception &) {
            // Undecodable: nothing usable is stored.
        }
    }
    Hold hold(tokenSemaphore);
    if (userDecided)
        return;
    if (stored) {
        // A loaded response signs in, even one with an empty access token.
        authResponse = std::move(stored);
        isLoggedInSubject.send(true);
    } else if (!isLoggedInSubject.value()) {
        isLoggedInSubject.send(false);
    }
}

void TokenStorage::firstReadOverdue()
{
    Hold hold(tokenSemaphore);
    if (!isLoggedInSubject.value())
        isLoggedInSubject.send(false);
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
    return isLoggedInSubject.eraseToAnyPublisher().compactMap([](const std::optional<bool> &v) { return v; });
}

void TokenStorage::wipeTokens()
{
    Hold hold(tokenSemaphore);
    userDecided = true;
    authResponse.reset();
    keychainOperator->deleteKeychainData(keychainAuthService);
    isLoggedInSubject.send(false);
    tokensWipedSubject.send(streams::Void{});
}

void TokenStorage::saveTokens(const corvane::AuthenticationResponse &tokenResponse)
{
    Hold hold(tokenSemaphore);
    userDecided = true;
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
