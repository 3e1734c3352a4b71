#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

// Looks a host up before a request to it, on a thread of its own that
// nobody waits for: getaddrinfo cannot be cancelled, and a resolver that
// never answers must not hold up the quit, as Qt's own lookups do at exit.
// Offline the lookup fails here, before the network stack loads TLS and the
// proxy support for a request that cannot go anywhere.
class HostLookup : public std::enable_shared_from_this<HostLookup>
{
public:
    // Whether host has to be looked up here: not for an address, localhost,
    // or while a proxy from the environment resolves names.
    static bool isNeeded(const QString &host);

    // Calls done(found) once, on receiver's thread, unless cancelled first.
    static std::shared_ptr<HostLookup> start(const QString &host, QObject *receiver,
                                             std::function<void(bool found)> done);

    // No answer after this. Call it before the receiver goes away.
    void cancel();

private:
    std::mutex m_mutex;
    QObject *m_receiver = nullptr;
    std::function<void(bool)> m_done;

    void deliver(bool found);
};
