#include "singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int requestPipe[2] = {-1, -1};

void onRequest(int)
{
    const char byte = 1;
    // Async-signal-safe: the event loop reads the byte.
    [[maybe_unused]] auto written = ::write(requestPipe[1], &byte, 1);
}

bool listenForRequests(std::function<void()> openSettings)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requestPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(requestPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [openSettings = std::move(openSettings)] {
        char byte;
        [[maybe_unused]] auto readCount = ::read(requestPipe[0], &byte, 1);
        openSettings();
    });
    struct sigaction action = {};
    action.sa_handler = onRequest;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGUSR1, &action, nullptr) == 0;
}

} // namespace

QString SingleInstance::lockFileName()
{
    const QFileInfo preferences(QSettings().fileName());
    return preferences.path() + QLatin1Char('/') + QCoreApplication::applicationName() + QStringLiteral(".lock");
}

bool SingleInstance::acquire(std::function<void()> openSettings)
{
    // Listening before the lock is taken: a later start that finds the lock
    // may signal at once, and SIGUSR1 would otherwise end this process.
    if (!listenForRequests(std::move(openSettings)))
        qWarning("Cannot listen for later starts; they will not open the settings");

    const QString file = lockFileName();
    QDir().mkpath(QFileInfo(file).path());
    m_lock = std::make_unique<QLockFile>(file);
    // Held as long as the program runs, however long that is.
    m_lock->setStaleLockTime(0);
    // A copy that is replacing itself after an update is still quitting.
    const int waitMs = qEnvironmentVariableIsSet("WUGGIT_REPLACING") ? 10000 : 0;
    qunsetenv("WUGGIT_REPLACING");
    if (m_lock->tryLock(waitMs))
        return true;
    qint64 holder = 0;
    if (m_lock->error() != QLockFile::LockFailedError || !m_lock->getLockInfo(&holder, nullptr, nullptr)
        || holder <= 0) {
        // No lock to be had here (a read-only folder?): better two copies than none.
        qWarning("Cannot lock %s; running without checking for another copy", qPrintable(file));
        return true;
    }
    ::kill(pid_t(holder), SIGUSR1);
    return false;
}
