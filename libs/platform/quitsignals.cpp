#include "platform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

int quitPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    // Async-signal-safe: the event loop picks the byte up and quits normally.
    [[maybe_unused]] auto written = ::write(quitPipe[1], &byte, 1);
}

} // namespace

bool quitOnTerminationSignals(QCoreApplication &application)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitPipe) != 0) {
        qWarning("Cannot watch for SIGTERM and SIGINT: %s", std::strerror(errno));
        return false;
    }
    auto *notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
        char byte;
        [[maybe_unused]] auto readCount = ::read(quitPipe[0], &byte, 1);
        QCoreApplication::quit();
    });

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return true;
}

} // namespace platform
