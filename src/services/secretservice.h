#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// What became of one call to the keychain.
enum class KeychainOutcome {
    done,
    notFound,
    noService, // no Secret Service on the bus (or no bus at all)
    locked,    // the keyring is locked and stays so: the unlock was declined
    silent,    // the keychain has not answered
    failed,
};

// A client of the freedesktop Secret Service over QtDBus, the bus the tray
// already holds: no GLib D-Bus stack, no crypto library and no threads of its
// own. Items live in the default collection and are found by their
// attributes; they are the items QtKeychain writes (schema
// "org.qt.keychain", attributes user, server and type, the data base64 when
// the type says so), so a session saved by either is read by the other.
//
// Secrets travel in a "plain" session: the transport is the user's own
// session bus, and whoever can read it can ask the service for the item just
// as well. That spares every start a key exchange and the libraries for it.
//
// Every call answers exactly once, on the thread the client lives in, which
// needs an event loop. A locked item or collection is unlocked through the
// service's prompt, however long the user takes to answer it. A service
// that leaves the bus meanwhile, or answers in a shape the protocol does
// not have, ends the call as failed at once.
class SecretServiceClient : public QObject
{
public:
    using Done = std::function<void(KeychainOutcome, QByteArray)>;

    explicit SecretServiceClient(QDBusConnection bus, QObject *parent = nullptr);

    void read(const QString &account, const QString &service, Done done);
    // Replaces the item of the same account and service, if there is one.
    void write(const QString &account, const QString &service, const QByteArray &data, Done done);
    // Deletes every item of the account and service; none is no error.
    void remove(const QString &account, const QString &service, Done done);

private:
    struct Job;
    using Reply = std::function<void(const QDBusMessage &)>;

    // Calls for job, unless it ended meanwhile; a reply of another signature
    // than the protocol's comes as an error.
    void call(const std::shared_ptr<Job> &job, QDBusMessage message, const char *signature, Reply then);
    // Runs job from its first call: again after a lost session.
    void start(const std::shared_ptr<Job> &job);
    void withSession(const std::shared_ptr<Job> &job, std::function<void()> then);
    // Reads the first item of the first of types that has one.
    void readOfType(const std::shared_ptr<Job> &job, const QStringList &types);
    void unlock(const std::shared_ptr<Job> &job, const QList<QDBusObjectPath> &objects,
                std::function<void(QList<QDBusObjectPath>)> then);
    void prompt(const std::shared_ptr<Job> &job, const QDBusObjectPath &path,
                std::function<void(const QVariant &result)> then);
    void readFirst(const std::shared_ptr<Job> &job, const QList<QDBusObjectPath> &items, const QString &type);
    void createItem(const std::shared_ptr<Job> &job, const QString &collection, bool retried);
    void createCollection(const std::shared_ptr<Job> &job);
    void removeAll(const std::shared_ptr<Job> &job);
    void deleteEach(const std::shared_ptr<Job> &job, QList<QDBusObjectPath> items);
    // Ends job with the outcome a D-Bus error stands for; a lost session is
    // opened again and the job restarted once.
    void fail(const std::shared_ptr<Job> &job, const QDBusMessage &error);

    QDBusConnection m_bus;
    QDBusObjectPath m_session; // empty until opened
    std::vector<std::weak_ptr<Job>> m_running; // started, perhaps ended
};
