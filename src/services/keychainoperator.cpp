#include "keychainoperator.h"
#include "secretservice.h"

#include <buildconfig.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace {

using Outcome = KeychainOutcome;
using Finish = std::function<void(Outcome, QByteArray)>;
// Starts one call to the keychain on the keychain thread; it ends by calling
// finish there, once.
using StartJob = std::function<void(const Finish &finish)>;

// One call's result. Shared with the worker, so a call that stopped waiting
// can still be completed there later.
struct Call
{
    QSemaphore finished;
    std::mutex mutex;
    bool done = false;
    Outcome outcome = Outcome::failed;
    QByteArray data;
    // Set for a call nobody waits for: gets the result on the main thread.
    std::function<void(Outcome, QByteArray)> then;
};

// Tells the user once per run and reason why the keychain is of no use, in
// the log and as a desktop notification.
void tellNoKeychainOnce(Outcome why)
{
    static std::atomic_flag toldNoService, toldLocked, toldSilent;
    QString summary, body;
    switch (why) {
    case Outcome::noService:
        if (toldNoService.test_and_set())
            return;
        summary = QStringLiteral("Wugg it! cannot reach a keychain");
        body = QStringLiteral("There is no Secret Service on the session bus, so your sign-in is not saved: you "
                              "stay signed in for this run only.");
        break;
    case Outcome::locked:
        if (toldLocked.test_and_set())
            return;
        summary = QStringLiteral("Wugg it! cannot use your keyring");
        body = QStringLiteral("The keyring is locked, or unlocking it was declined: a saved sign-in cannot be read "
                              "and a new one is not saved.");
        break;
    case Outcome::silent:
        if (toldSilent.test_and_set())
            return;
        summary = QStringLiteral("Your keyring has not answered Wugg it!");
        body = QStringLiteral("You are signed out for now. If the keyring answers later (once unlocked, for "
                              "example), a saved sign-in is used then.");
        break;
    default:
        return;
    }
    qWarning("%s: %s", qPrintable(summary), qPrintable(body));
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QString::fromLatin1(BuildConfig::kDisplayName) << 0u << QString() << summary << body << QStringList()
           << QVariantMap() << -1;
    // Fire and forget: without a bus or a notification service the warning stays.
    QDBusConnection::sessionBus().send(notify);
}

// QtKeychain says OtherError for "no such service on the bus" as well as for
// anything else; ask the bus which one it is.
bool keychainServiceMissing()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return true;
    for (const char *name : {"org.freedesktop.secrets", "org.kde.kwalletd5", "org.kde.kwalletd6"}) {
        if (bus.interface()->isServiceRegistered(QString::fromLatin1(name)).value())
            return false;
    }
    return true;
}

// D-Bus gives up on a service that stays silent after 25 s: that is no answer either.
constexpr qint64 kSilentMs = 20000;
// How long the end of the program waits for the keychain's queue to empty.
constexpr int kDrainAtExitMs = 3000;

Outcome outcomeOf(QKeychain::Error error, qint64 elapsedMs)
{
    switch (error) {
    case QKeychain::NoError:
        return Outcome::done;
    case QKeychain::EntryNotFound:
        return Outcome::notFound;
    case QKeychain::NoBackendAvailable:
        return Outcome::noService;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return Outcome::locked;
    case QKeychain::OtherError:
        if (elapsedMs >= kSilentMs)
            return Outcome::silent;
        return keychainServiceMissing() ? Outcome::noService : Outcome::failed;
    default:
        return Outcome::failed;
    }
}

// KDE keeps the sessions QtKeychain saved in KWallet's own store, which it
// prefers there; everywhere else QtKeychain used the Secret Service, which
// our own client speaks with the same items.
// Chosen once per process, as QtKeychain chooses its backend.
bool isKdeSession()
{
    static const bool kde = [] {
        const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
        const QByteArray session = qgetenv("DESKTOP_SESSION");
        return desktop == "KDE" || session == "kde" || session == "kde4" || !qgetenv("KDE_FULL_SESSION").isEmpty();
    }();
    return kde;
}

// Every keychain job of the process runs on this one thread, in its own
// event loop: the Secret Service client and QtKeychain answer there, and
// QtKeychain queues its jobs in one process-wide object that belongs to the
// thread of the first job. The caller only waits on a semaphore: no timer
// or socket event of its own thread can run during a call and re-enter
// whoever holds a lock around it.
class KeychainThread
{
public:
    static KeychainThread &instance()
    {
        static KeychainThread thread;
        return thread;
    }

    // Queues the job behind those before it and waits for it, at most
    // kTimeoutMs.
    std::pair<Outcome, QByteArray> run(StartJob job)
    {
        if (m_stopped.load() || QThread::currentThread() == m_thread)
            return {Outcome::failed, {}};
        auto call = std::make_shared<Call>();
        enqueue(call, std::move(job));
        if (!call->finished.tryAcquire(1, KeychainOperator::kTimeoutMs))
            return {Outcome::silent, {}};
        return {call->outcome, call->data};
    }

    // Queues the job like run() does, but nobody waits for it: then gets the
    // result on the main thread once the job finishes. Unless quiet, a job
    // unanswered after kSlowAnswerMs makes the program say so; its answer
    // still counts when it comes.
    void runLater(StartJob job, std::function<void(Outcome, QByteArray)> then, bool quiet = false)
    {
        if (m_stopped.load())
            return;
        auto call = std::make_shared<Call>();
        call->then = std::move(then);
        enqueue(call, std::move(job));
        if (quiet)
            return;
        QMetaObject::invokeMethod(
            m_anchor, [call] {
                QTimer::singleShot(KeychainOperator::kSlowAnswerMs, [call] {
                    bool done = false;
                    {
                        std::lock_guard lock(call->mutex);
                        done = call->done;
                    }
                    if (!done)
                        tellNoKeychainOnce(Outcome::silent);
                });
            },
            Qt::QueuedConnection);
    }

    // The Secret Service client of this thread; made at its first use.
    SecretServiceClient &secretService()
    {
        if (!m_secretService)
            m_secretService = new SecretServiceClient(QDBusConnection::sessionBus(), m_anchor);
        return *m_secretService;
    }

private:
    KeychainThread()
    {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("keychain"));
        m_thread->start();
        m_anchor = new QObject;
        m_anchor->moveToThread(m_thread);
        qAddPostRoutine([] { instance().stop(); });
    }

    void enqueue(const std::shared_ptr<Call> &call, StartJob job)
    {
        {
            std::lock_guard lock(m_pendingMutex);
            ++m_pending;
        }
        QMetaObject::invokeMethod(
            m_anchor, [this, call, job = std::move(job)] { start(call, job); }, Qt::QueuedConnection);
    }

    // One job at a time, in the order they came, however long one takes: a
    // delete must not overtake the save before it.
    void start(const std::shared_ptr<Call> &call, const StartJob &job)
    {
        m_queue.emplace_back(call, job);
        if (m_queue.size() == 1)
            runFirst();
    }

    void runFirst()
    {
        const auto [call, job] = m_queue.front();
        job([this, call](Outcome outcome, QByteArray data) {
            finish(call, outcome, std::move(data));
            if (m_queue.empty() || m_queue.front().first != call)
                return;
            m_queue.pop_front();
            if (!m_queue.empty())
                runFirst();
        });
    }

    void finish(const std::shared_ptr<Call> &call, Outcome outcome, QByteArray data)
    {
        {
            std::lock_guard lock(call->mutex);
            call->outcome = outcome;
            call->data = std::move(data);
            call->done = true;
        }
        call->finished.release();
        {
            std::lock_guard lock(m_pendingMutex);
            --m_pending;
        }
        m_idle.notify_all();
        if (call->then && !m_stopped.load()) {
            if (QCoreApplication *app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app, [then = call->then, outcome = call->outcome, data = call->data] { then(outcome, data); },
                    Qt::QueuedConnection);
        }
    }

    void stop()
    {
        // A save or delete made just before quitting still reaches a keyring
        // that answers.
        {
            std::unique_lock lock(m_pendingMutex);
            m_idle.wait_for(lock, std::chrono::milliseconds(kDrainAtExitMs), [this] { return m_pending == 0; });
        }
        m_stopped = true;
        m_thread->quit();
        // A job stuck in the keychain may keep the thread; then it stays
        // allocated rather than destroyed while running.
        if (m_thread->wait(3000)) {
            delete m_anchor;
            delete m_thread;
        }
    }

    QThread *m_thread = nullptr;
    QObject *m_anchor = nullptr;
    SecretServiceClient *m_secretService = nullptr; // a child of m_anchor
    std::deque<std::pair<std::shared_ptr<Call>, StartJob>> m_queue; // the first one runs
    // Jobs queued and not finished yet.
    std::mutex m_pendingMutex;
    std::condition_variable m_idle;
    int m_pending = 0;
    std::atomic<bool> m_stopped{false};
};

// Runs a QtKeychain job and finishes with its outcome; readData gives the
// result of a successful one.
void runQtKeychainJob(QKeychain::Job *job, const Finish &finish,
                      std::function<QByteArray(QKeychain::Job *)> readData = {})
{
    job->setInsecureFallback(false); // never a plaintext copy
    job->setAutoDelete(true);
    // Without Qt's GLib dispatcher (QT_NO_GLIB) nothing iterates the context
    // libsecret answers on, and a job through it would never finish.
    if (!QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib")) {
        delete job;
        return finish(Outcome::noService, {});
    }
    QElapsedTimer clock;
    clock.start();
    QObject::connect(job, &QKeychain::Job::finished, job, [finish, readData, clock](QKeychain::Job *j) {
        const Outcome outcome = outcomeOf(j->error(), clock.elapsed());
        finish(outcome, outcome == Outcome::done && readData ? readData(j) : QByteArray());
    });
    job->start();
}

// The jobs of the three calls, through our Secret Service client, or
// through QtKeychain on KDE.
StartJob readJob(const QString &service)
{
    const QString account = QString::fromLatin1(KeychainOperator::kAccount);
    if (!isKdeSession())
        return [service, account](const Finish &finish) {
            KeychainThread::instance().secretService().read(account, service, finish);
        };
    return [service, account](const Finish &finish) {
        auto *job = new QKeychain::ReadPasswordJob(service);
        job->setKey(account);
        runQtKeychainJob(job, finish,
                         [](QKeychain::Job *j) { return static_cast<QKeychain::ReadPasswordJob *>(j)->binaryData(); });
    };
}

StartJob writeJob(const QString &service, const QByteArray &data)
{
    const QString account = QString::fromLatin1(KeychainOperator::kAccount);
    if (!isKdeSession())
        return [service, account, data](const Finish &finish) {
            KeychainThread::instance().secretService().write(account, service, data, finish);
        };
    return [service, account, data](const Finish &finish) {
        auto *job = new QKeychain::WritePasswordJob(service);
        job->setKey(account);
        job->setBinaryData(data);
        runQtKeychainJob(job, finish);
    };
}

StartJob removeJob(const QString &service)
{
    const QString account = QString::fromLatin1(KeychainOperator::kAccount);
    if (!isKdeSession())
        return [service, account](const Finish &finish) {
            KeychainThread::instance().secretService().remove(account, service, finish);
        };
    return [service, account](const Finish &finish) {
        auto *job = new QKeychain::DeletePasswordJob(service);
        job->setKey(account);
        runQtKeychainJob(job, finish);
    };
}

// Queued without waiting for the keychain; the user hears of a failure once it comes.
void runUnwaited(StartJob job)
{
    KeychainThread::instance().runLater(
        std::move(job), [](Outcome outcome, const QByteArray &) { tellNoKeychainOnce(outcome); }, true);
}

std::pair<Outcome, QByteArray> runJob(StartJob job)
{
    auto result = KeychainThread::instance().run(std::move(job));
    tellNoKeychainOnce(result.first);
    return result;
}

} // namespace

void KeychainOperator::saveKeychainData(const QByteArray &data, const QString &service)
{
    // The Secret Service replaces an item whose attributes (service, account)
    // equal those of the new one: a save over an existing item is its update.
    // Binary data: the bytes come back exactly as given.
    runUnwaited(writeJob(service, data));
}

std::optional<QByteArray> KeychainOperator::readKeychainData(const QString &service)
{
    auto [outcome, data] = runJob(readJob(service));
    if (outcome != Outcome::done)
        return std::nullopt;
    return data;
}

void KeychainOperator::readKeychainDataLater(const QString &service,
                                             std::function<void(std::optional<QByteArray>)> done)
{
    KeychainThread::instance().runLater(readJob(service),
                                        [done = std::move(done)](Outcome outcome, const QByteArray &data) {
                                            tellNoKeychainOnce(outcome);
                                            done(outcome == Outcome::done ? std::optional(data) : std::nullopt);
                                        });
}

void KeychainOperator::deleteKeychainData(const QString &service)
{
    runUnwaited(removeJob(service));
}
