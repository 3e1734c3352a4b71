#include "secretservice.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QPointer>

#include <limits>
#include <mutex>

namespace {

const QString kServiceName = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString kCollectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString kItemInterface = QStringLiteral("org.freedesktop.Secret.Item");
const QString kPromptInterface = QStringLiteral("org.freedesktop.Secret.Prompt");
const QString kDefaultCollection = QStringLiteral("/org/freedesktop/secrets/aliases/default");

// QtKeychain's item schema: binary data is stored base64 under type "base64",
// text as it is under "plaintext".
const QString kSchema = QStringLiteral("org.qt.keychain");
const QString kBinaryType = QStringLiteral("base64");
const QString kTextType = QStringLiteral("plaintext");

using Attributes = QMap<QString, QString>;

struct Secret
{
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Secret &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Secret &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

bool isNone(const QDBusObjectPath &path)
{
    return path.path().isEmpty() || path.path() == QLatin1String("/");
}

QDBusMessage method(const QString &path, const QString &interface, const QString &name)
{
    return QDBusMessage::createMethodCall(kServiceName, path, interface, name);
}

KeychainOutcome outcomeOf(const QDBusMessage &error)
{
    const QString name = error.errorName();
    if (name == QLatin1String("org.freedesktop.Secret.Error.IsLocked"))
        return KeychainOutcome::locked;
    if (name == QLatin1String("org.freedesktop.Secret.Error.NoSuchObject"))
        return KeychainOutcome::notFound;
    if (name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn.")))
        return KeychainOutcome::noService; // activation failed
    switch (QDBusError(error).type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return KeychainOutcome::silent;
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
        return KeychainOutcome::noService;
    default:
        return KeychainOutcome::failed;
    }
}

bool isGone(const QDBusMessage &error)
{
    return error.errorName() == QLatin1String("org.freedesktop.Secret.Error.NoSuchObject")
        || QDBusError(error).type() == QDBusError::UnknownObject;
}

} // namespace

// Waits for one prompt's Completed signal. QtDBus delivers signals only to
// slots, hence this small receiver. It takes the signal whatever its
// signature: one that does not match must end the wait as well.
class PromptReceiver : public QObject
{
    Q_OBJECT
public:
    // Not called for a malformed signal: then failed is.
    std::function<void(bool dismissed, const QVariant &result)> completed;
    std::function<void()> failed;

public Q_SLOTS:
    void onCompleted(const QDBusMessage &message)
    {
        auto then = std::exchange(completed, nullptr);
        auto fail = std::exchange(failed, nullptr);
        if (message.signature() != QLatin1String("bv")) {
            if (fail)
                fail();
        } else if (then) {
            then(message.arguments().value(0).toBool(), message.arguments().value(1).value<QDBusVariant>().variant());
        }
        deleteLater();
    }
};

Q_DECLARE_METATYPE(Secret)

struct SecretServiceClient::Job
{
    enum class Kind { read, write, remove };
    Kind kind;
    QString account;
    QString service;
    QByteArray data;
    Done done;
    bool restarted = false;
    // The receiver of the prompt the job waits for, if any.
    QPointer<PromptReceiver> prompt = nullptr;

    bool finished() const { return !done; }

    void finish(KeychainOutcome outcome, QByteArray result = {})
    {
        if (prompt)
            prompt->deleteLater();
        if (auto then = std::exchange(done, nullptr))
            then(outcome, std::move(result));
    }

    Attributes attributes(const QString &type = {}) const
    {
        Attributes attributes{{QStringLiteral("user"), account}, {QStringLiteral("server"), service}};
        if (!type.isEmpty())
            attributes.insert(QStringLiteral("type"), type);
        return attributes;
    }
};

SecretServiceClient::SecretServiceClient(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        qDBusRegisterMetaType<Secret>();
        qDBusRegisterMetaType<Attributes>();
    });
    // A service that leaves the bus, or hands its name over, answers none
    // of the calls and prompts still open with it: they end now.
    auto *owner = new QDBusServiceWatcher(kServiceName, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this, [this](const QString &, const QString &old) {
        if (old.isEmpty())
            return;
        m_session = {};
        const auto running = std::exchange(m_running, {});
        for (const std::weak_ptr<Job> &weak : running) {
            if (const auto job = weak.lock())
                job->finish(KeychainOutcome::failed);
        }
    });
}

void SecretServiceClient::call(const std::shared_ptr<Job> &job, QDBusMessage message, const char *signature,
                               Reply then)
{
    // Without a bus QtDBus gives a call that never finishes: answer it from
    // the event loop all the same, so every job ends the same way.
    if (!m_bus.isConnected()) {
        QMetaObject::invokeMethod(
            this,
            [then = std::move(then)] {
                then(QDBusMessage::createError(QDBusError::Disconnected, QStringLiteral("no session bus")));
            },
            Qt::QueuedConnection);
        return;
    }
    // No timeout: a keyring that answers late, however late, is still heard
    // (the caller stops waiting on its own), and the calls queued behind
    // one keep their order.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, std::numeric_limits<int>::max()), this);
    const QString member = message.member();
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, job, signature, member, then = std::move(then)] {
        watcher->deleteLater();
        // Ended meanwhile, by a service that left.
        if (job->finished())
            return;
        const QDBusMessage reply = watcher->reply();
        // An answer of another shape is no answer: reading it would make up data.
        if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() != QLatin1String(signature))
            return then(QDBusMessage::createError(
                QDBusError::InvalidSignature,
                QStringLiteral("%1 answered with signature \"%2\"").arg(member, reply.signature())));
        then(reply);
    });
}

void SecretServiceClient::fail(const std::shared_ptr<Job> &job, const QDBusMessage &error)
{
    // The service forgot our session (it was restarted): open a new one and
    // run the same job again, so that a service losing every session ends
    // it after this one more try instead of starting it anew for ever. A
    // removal uses no session.
    if (error.errorName() == QLatin1String("org.freedesktop.Secret.Error.NoSession") && !job->restarted
        && job->kind != Job::Kind::remove) {
        job->restarted = true;
        m_session = {};
        return start(job);
    }
    job->finish(outcomeOf(error));
}

void SecretServiceClient::start(const std::shared_ptr<Job> &job)
{
    std::erase_if(m_running, [](const std::weak_ptr<Job> &weak) { return weak.expired(); });
    m_running.push_back(job);
    switch (job->kind) {
    case Job::Kind::read:
        // Binary items first: what this program writes.
        return withSession(job, [this, job] { readOfType(job, {kBinaryType, kTextType}); });
    case Job::Kind::write:
        return withSession(job, [this, job] { createItem(job, kDefaultCollection, false); });
    case Job::Kind::remove:
        return removeAll(job);
    }
}

void SecretServiceClient::withSession(const std::shared_ptr<Job> &job, std::function<void()> then)
{
    if (!m_session.path().isEmpty())
        return then();
    QDBusMessage open = method(kServicePath, kServiceInterface, QStringLiteral("OpenSession"));
    open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
    call(job, open, "vo", [this, job, then = std::move(then)](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return fail(job, reply);
        m_session = reply.arguments().value(1).value<QDBusObjectPath>();
        then();
    });
}

void SecretServiceClient::prompt(const std::shared_ptr<Job> &job, const QDBusObjectPath &path,
                                 std::function<void(const QVariant &)> then)
{
    // Listening before the prompt is shown, so that no answer is missed.
    auto *receiver = new PromptReceiver;
    receiver->setParent(this);
    receiver->completed = [job, then = std::move(then)](bool dismissed, const QVariant &result) {
        job->prompt = nullptr;
        if (dismissed)
            return job->finish(KeychainOutcome::locked);
        then(result);
    };
    receiver->failed = [job] { job->finish(KeychainOutcome::failed); };
    if (!m_bus.connect(kServiceName, path.path(), kPromptInterface, QStringLiteral("Completed"), receiver,
                       SLOT(onCompleted(QDBusMessage)))) {
        delete receiver;
        return job->finish(KeychainOutcome::failed);
    }
    job->prompt = receiver;
    QDBusMessage show = method(path.path(), kPromptInterface, QStringLiteral("Prompt"));
    show << QString(); // no parent window
    call(job, show, "", [this, job](const QDBusMessage &reply) {
        if (reply.type() == QDBusMessage::ReplyMessage)
            return; // the answer comes with Completed
        fail(job, reply); // which drops the receiver
    });
}

void SecretServiceClient::unlock(const std::shared_ptr<Job> &job, const QList<QDBusObjectPath> &objects,
                                 std::function<void(QList<QDBusObjectPath>)> then)
{
    QDBusMessage message = method(kServicePath, kServiceInterface, QStringLiteral("Unlock"));
    message << QVariant::fromValue(objects);
    call(job, message, "aoo", [this, job, then = std::move(then)](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return fail(job, reply);
        const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
        const auto promptPath = reply.arguments().value(1).value<QDBusObjectPath>();
        if (isNone(promptPath))
            return then(unlocked);
        prompt(job, promptPath, [then](const QVariant &result) {
            then(qdbus_cast<QList<QDBusObjectPath>>(result));
        });
    });
}

void SecretServiceClient::read(const QString &account, const QString &service, Done done)
{
    start(std::make_shared<Job>(Job{Job::Kind::read, account, service, {}, std::move(done)}));
}

void SecretServiceClient::readOfType(const std::shared_ptr<Job> &job, const QStringList &types)
{
    if (types.isEmpty())
        return job->finish(KeychainOutcome::notFound);
    QDBusMessage search = method(kServicePath, kServiceInterface, QStringLiteral("SearchItems"));
    search << QVariant::fromValue(job->attributes(types.first()));
    call(job, search, "aoao", [this, job, types](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return fail(job, reply);
        const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
        const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(1));
        if (unlocked.isEmpty() && locked.isEmpty())
            return readOfType(job, types.mid(1));
        if (!unlocked.isEmpty())
            return readFirst(job, unlocked, types.first());
        unlock(job, locked, [this, job, type = types.first()](const QList<QDBusObjectPath> &now) {
            if (now.isEmpty())
                return job->finish(KeychainOutcome::locked);
            readFirst(job, now, type);
        });
    });
}

void SecretServiceClient::readFirst(const std::shared_ptr<Job> &job, const QList<QDBusObjectPath> &items,
                                    const QString &type)
{
    QDBusMessage get = method(items.first().path(), kItemInterface, QStringLiteral("GetSecret"));
    get << QVariant::fromValue(m_session);
    call(job, get, "(oayays)", [this, job, type](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return fail(job, reply);
        const Secret secret = qdbus_cast<Secret>(reply.arguments().value(0));
        job->finish(KeychainOutcome::done,
                    type == kBinaryType ? QByteArray::fromBase64(secret.value) : secret.value);
    });
}

void SecretServiceClient::write(const QString &account, const QString &service, const QByteArray &data, Done done)
{
    start(std::make_shared<Job>(Job{Job::Kind::write, account, service, data, std::move(done)}));
}

void SecretServiceClient::createItem(const std::shared_ptr<Job> &job, const QString &collection, bool retried)
{
    Attributes attributes = job->attributes(kBinaryType);
    attributes.insert(QStringLiteral("xdg:schema"), kSchema);
    const QVariantMap properties{
        {QStringLiteral("org.freedesktop.Secret.Item.Label"), job->service},
        {QStringLiteral("org.freedesktop.Secret.Item.Attributes"), QVariant::fromValue(attributes)},
    };
    QDBusMessage create = method(collection, kCollectionInterface, QStringLiteral("CreateItem"));
    create << properties << QVariant::fromValue(Secret{m_session, {}, job->data.toBase64(), QStringLiteral("text/plain")})
           << true; // replace the item of the same attributes
    call(job, create, "oo", [this, job, collection, retried](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            if (!retried && reply.errorName() == QLatin1String("org.freedesktop.Secret.Error.IsLocked")) {
                return unlock(job, {QDBusObjectPath(collection)}, [this, job, collection](const auto &unlocked) {
                    if (unlocked.isEmpty())
                        return job->finish(KeychainOutcome::locked);
                    createItem(job, collection, true);
                });
            }
            // A keyring without a default collection yet: make one, as every
            // other client of the service does.
            if (!retried && collection == kDefaultCollection && isGone(reply))
                return createCollection(job);
            return fail(job, reply);
        }
        const auto promptPath = reply.arguments().value(1).value<QDBusObjectPath>();
        if (isNone(promptPath))
            return job->finish(KeychainOutcome::done);
        prompt(job, promptPath, [job](const QVariant &) { job->finish(KeychainOutcome::done); });
    });
}

void SecretServiceClient::createCollection(const std::shared_ptr<Job> &job)
{
    QDBusMessage create = method(kServicePath, kServiceInterface, QStringLiteral("CreateCollection"));
    create << QVariantMap{{QStringLiteral("org.freedesktop.Secret.Collection.Label"), QStringLiteral("Login")}}
           << QStringLiteral("default");
    call(job, create, "oo", [this, job](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return fail(job, reply);
        const auto collection = reply.arguments().value(0).value<QDBusObjectPath>();
        if (!isNone(collection))
            return createItem(job, collection.path(), true);
        prompt(job, reply.arguments().value(1).value<QDBusObjectPath>(), [this, job](const QVariant &result) {
            createItem(job, result.value<QDBusObjectPath>().path(), true);
        });
    });
}

void SecretServiceClient::remove(const QString &account, const QString &service, Done done)
{
    start(std::make_shared<Job>(Job{Job::Kind::remove, account, service, {}, std::move(done)}));
}

void SecretServiceClient::removeAll(const std::shared_ptr<Job> &job)
{
    QDBusMessage search = method(kServicePath, kServiceInterface, QStringLiteral("SearchItems"));
    search << QVariant::fromValue(job->attributes()); // of every type
    call(job, search, "aoao", [this, job](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return fail(job, reply);
        const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
        const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(1));
        if (locked.isEmpty())
            return deleteEach(job, unlocked);
        unlock(job, locked, [this, job, unlocked, count = locked.size()](const QList<QDBusObjectPath> &now) {
            if (now.size() < count)
                return job->finish(KeychainOutcome::locked);
            deleteEach(job, unlocked + now);
        });
    });
}

void SecretServiceClient::deleteEach(const std::shared_ptr<Job> &job, QList<QDBusObjectPath> items)
{
    if (items.isEmpty())
        return job->finish(KeychainOutcome::done);
    const QDBusObjectPath item = items.takeFirst();
    call(job, method(item.path(), kItemInterface, QStringLiteral("Delete")), "o",
         [this, job, items](const QDBusMessage &reply) {
             if (reply.type() != QDBusMessage::ReplyMessage) {
                 if (isGone(reply)) // deleted meanwhile
                     return deleteEach(job, items);
                 return fail(job, reply);
             }
             const auto promptPath = reply.arguments().value(0).value<QDBusObjectPath>();
             if (isNone(promptPath))
                 return deleteEach(job, items);
             prompt(job, promptPath, [this, job, items](const QVariant &) { deleteEach(job, items); });
         });
}

#include "secretservice.moc"
