#include "hostlookup.h"

#include <QHostAddress>

#include <thread>

#include <netdb.h>
#include <sys/socket.h>

bool HostLookup::isNeeded(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return false;
    QHostAddress address;
    if (address.setAddress(host))
        return false;
    // Behind a proxy the host need not resolve here; the proxy does that.
    for (const char *name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return false;
    }
    return true;
}

std::shared_ptr<HostLookup> HostLookup::start(const QString &host, QObject *receiver,
                                              std::function<void(bool found)> done)
{
    auto lookup = std::make_shared<HostLookup>();
    lookup->m_receiver = receiver;
    lookup->m_done = std::move(done);
    std::thread([lookup, name = host.toStdString()] {
        addrinfo hints = {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        const bool found = ::getaddrinfo(name.c_str(), "443", &hints, &result) == 0;
        if (result)
            ::freeaddrinfo(result);
        lookup->deliver(found);
    }).detach();
    return lookup;
}

void HostLookup::deliver(bool found)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_receiver)
        return;
    // The queued call holds the lookup: the receiver may cancel and drop it
    // before the call runs.
    QMetaObject::invokeMethod(
        m_receiver,
        [self = shared_from_this(), found] {
            std::function<void(bool)> done;
            {
                const std::lock_guard<std::mutex> relock(self->m_mutex);
                if (self->m_receiver)
                    done = std::exchange(self->m_done, nullptr);
            }
            if (done)
                done(found);
        },
        Qt::QueuedConnection);
}

void HostLookup::cancel()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_receiver = nullptr;
    m_done = nullptr;
}
