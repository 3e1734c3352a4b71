#pragma once

#include <QByteArray>
#include <QString>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>

// Secret items of the user's keychain, one per service name. Failures are
// not reported: a failed save or delete leaves things as they were, a failed
// read reads as nothing stored. Saves and deletes do not wait for the
// keychain; every call reaches it in the order made.
class KeychainOperating
{
public:
    virtual ~KeychainOperating() = default;

    virtual void saveKeychainData(const QByteArray &data, const QString &service) = 0;
    virtual std::optional<QByteArray> readKeychainData(const QString &service) = 0;
    // The same read without waiting for it: done gets what readKeychainData
    // would have given, on the main thread, whenever the keychain answers
    // (never, if it never does). Calls made after it are queued behind it.
    virtual void readKeychainDataLater(const QString &service,
                                       std::function<void(std::optional<QByteArray>)> done) = 0;
    virtual void deleteKeychainData(const QString &service) = 0;

    // The stored item decoded from JSON; none when it is missing or does not
    // decode as T (every field of T is required).
    template<class T>
    std::optional<T> readKeychainValue(const QString &service)
    {
        const std::optional<QByteArray> data = readKeychainData(service);
        if (!data)
            return std::nullopt;
        try {
            return nlohmann::json::parse(data->cbegin(), data->cend()).template get<T>();
        } catch (const nlohmann::json::exception &) {
            return std::nullopt;
        }
    }
};
