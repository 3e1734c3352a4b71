#pragma once

// The keychain as memory, for tests of the token store's own logic; the real
// keyring has a desktop test of its own. Header-only: include it only from
// tests that link the services library.

#include <keychainoperating.h>

#include <QMap>

#include <deque>
#include <functional>

class MemoryKeychain : public KeychainOperating
{
public:
    void saveKeychainData(const QByteArray &data, const QString &service) override
    {
        run([this, data, service] { items[service] = data; });
    }
    std::optional<QByteArray> readKeychainData(const QString &service) override
    {
        if (!items.contains(service))
            return std::nullopt;
        return items.value(service);
    }
    void readKeychainDataLater(const QString &service, std::function<void(std::optional<QByteArray>)> done) override
    {
        ++readsAsked;
        run([this, service, done = std::move(done)] { done(readKeychainData(service)); });
    }
    void deleteKeychainData(const QString &service) override
    {
        run([this, service] { items.remove(service); });
    }

    // A keyring that keeps its callers waiting: while set, every call but
    // the blocking read queues until answer() (or for ever), in the order made.
    bool silent = false;
    // Answers what waits, in order; the keyring answers at once from then on.
    void answer()
    {
        silent = false;
        while (!m_queue.empty()) {
            auto call = std::move(m_queue.front());
            m_queue.pop_front();
            call();
        }
    }

    QMap<QString, QByteArray> items;
    int readsAsked = 0;

private:
    void run(std::function<void()> call)
    {
        if (silent || !m_queue.empty())
            m_queue.push_back(std::move(call));
        else
            call();
    }

    std::deque<std::function<void()>> m_queue;
};
