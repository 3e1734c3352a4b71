#pragma once

// The keychain as memory, for tests of the token store's own logic; the real
// keyring has a desktop test of its own. Header-only: include it only from
// tests that link the services library.

#include <keychainoperating.h>

#include <QMap>

class MemoryKeychain : public KeychainOperating
{
public:
    void saveKeychainData(const QByteArray &data, const QString &service) override { items[service] = data; }
    std::optional<QByteArray> readKeychainData(const QString &service) override
    {
        if (!items.contains(service))
            return std::nullopt;
        return items.value(service);
    }
    void deleteKeychainData(const QString &service) override { items.remove(service); }

    QMap<QString, QByteArray> items;
};
