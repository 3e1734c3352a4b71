// SecretServiceClient against an in-memory Secret Service on a private bus:
// the locked items, prompts, lost sessions and missing collections that the
// real keyring of the test session cannot be driven into.

#include <keychainoperator.h>
#include <secretservice.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using Attributes = QMap<QString, QString>;

char *toString(KeychainOutcome outcome)
{
    static const char *const names[] = {"done", "notFound", "noService", "locked", "silent", "failed"};
    return qstrdup(names[int(outcome)]);
}

namespace {

const QString kName = "org.freedesktop.secrets";
const QString kRoot = "/org/freedesktop/secrets";
const QString kLogin = kRoot + "/collection/login";
const QString kNoSession = "org.freedesktop.Secret.Error.NoSession";
const QString kNoSuchObject = "org.freedesktop.Secret.Error.NoSuchObject";

struct Behaviour
{
    int promptDelayMs = 0;
    int openSessionDelayMs = 0;
    bool dismissPrompts = false;
    int noSessionAnswers = 0;           // calls with a session that find every one forgotten; -1: all
    QString brokenBy;                   // "leaving" in prompts, "Completed" or replies of the wrong shape
    QString defaultCollection = kLogin; // empty: none yet
};

// A Secret Service holding its items in memory: plain sessions, one
// collection at most, and prompts that answer themselves after a delay.
class StandInService : public QDBusVirtualObject, public Behaviour
{
public:
    struct Item
    {
        QString label;
        Attributes attributes;
        QByteArray secret;
        bool locked = false;
    };
    QMap<QString, Item> items; // by path
    QMap<QString, int> calls;  // by method

    void reset()
    {
        static_cast<Behaviour &>(*this) = {};
        items.clear();
        calls.clear();
    }

    QString add(const Item &item)
    {
        const QString path = kLogin + '/' + QString::number(++m_serial);
        items.insert(path, item);
        return path;
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        const QString member = message.member(), path = message.path();
        const QVariantList args = message.arguments();
        ++calls[member];
        const auto reply = [&](const QVariantList &out) { return bus.send(message.createReply(out)); };
        const auto error = [&](const QString &name) { return bus.send(message.createErrorReply(name, member)); };
        const auto object = [](const QString &p) { return QVariant::fromValue(QDBusObjectPath(p)); };

        if (member == "OpenSession") {
            m_sessions << kRoot + "/session/" + QString::number(++m_serial);
            const QDBusMessage opened =
                message.createReply({QVariant::fromValue(QDBusVariant(QString())), object(m_sessions.last())});
            QTimer::singleShot(openSessionDelayMs, this, [bus, opened] { bus.send(opened); });
            return true;
        }
        if (member == "SearchItems") {
            const auto wanted = qdbus_cast<Attributes>(args.value(0));
            QList<QDBusObjectPath> unlocked, locked;
            for (auto it = items.cbegin(); it != items.cend(); ++it) {
                if (std::all_of(wanted.keyValueBegin(), wanted.keyValueEnd(),
                                [&](const auto &kv) { return it->attributes.value(kv.first) == kv.second; }))
                    (it->locked ? locked : unlocked) << QDBusObjectPath(it.key());
            }
            return reply({QVariant::fromValue(unlocked), QVariant::fromValue(locked)});
        }
        if (member == "Unlock") {
            const auto objects = qdbus_cast<QList<QDBusObjectPath>>(args.value(0));
            return reply({QVariant::fromValue(QList<QDBusObjectPath>()), prompt([this, objects] {
                              for (const QDBusObjectPath &o : objects)
                                  items[o.path()].locked = false;
                              return QVariant::fromValue(objects);
                          })});
        }
        if (member == "CreateCollection") {
            return reply({object("/"), prompt([this, object] { return object(defaultCollection = kLogin); })});
        }
        if (member == "Prompt") {
            const auto answer = m_prompts.take(path);
            if (!answer)
                return error(kNoSuchObject);
            QTimer::singleShot(promptDelayMs, this, [bus, path, answer, dismiss = dismissPrompts, how = brokenBy] {
                QDBusMessage completed = QDBusMessage::createSignal(path, "org.freedesktop.Secret.Prompt", "Completed");
                completed << dismiss;
                if (how != "Completed")
                    completed << QVariant::fromValue(QDBusVariant(dismiss ? QVariant(QString()) : answer()));
                if (how == "leaving")
                    QDBusConnection(bus).unregisterService(kName);
                else
                    bus.send(completed);
            });
            return reply({});
        }
        if (member == "CreateItem") {
            if ((path == kRoot + "/aliases/default" ? defaultCollection : path) != kLogin)
                return error(kNoSuchObject);
            const auto properties = qdbus_cast<QVariantMap>(args.value(0));
            QDBusObjectPath session;
            QByteArray parameters;
            QString contentType;
            Item item{properties.value("org.freedesktop.Secret.Item.Label").toString(),
                      qdbus_cast<Attributes>(properties.value("org.freedesktop.Secret.Item.Attributes")), {}, false};
            const auto secret = args.value(1).value<QDBusArgument>();
            secret.beginStructure();
            secret >> session >> parameters >> item.secret >> contentType;
            secret.endStructure();
            if (lost(session))
                return error(kNoSession);
            if (args.value(2).toBool())
                items.removeIf([&](const auto &it) { return it.value().attributes == item.attributes; });
            if (brokenBy == "replies")
                return reply({object(add(item))});
            return reply({object(add(item)), object("/")});
        }
        if (!items.contains(path))
            return error(kNoSuchObject);
        if (member == "GetSecret") {
            const auto session = args.value(0).value<QDBusObjectPath>();
            if (lost(session))
                return error(kNoSession);
            if (items[path].locked)
                return error("org.freedesktop.Secret.Error.IsLocked");
            if (brokenBy == "replies")
                return reply({items[path].secret});
            QDBusArgument secret;
            secret.beginStructure();
            secret << session << QByteArray() << items[path].secret << QString("text/plain");
            secret.endStructure();
            return reply({QVariant::fromValue(secret)});
        }
        if (member == "Delete") {
            items.remove(path);
            return reply({object("/")});
        }
        return false;
    }

private:
    // Whether the session is unknown: never opened, or forgotten as by a restart.
    bool lost(const QDBusObjectPath &session)
    {
        if (noSessionAnswers != 0) {
            noSessionAnswers -= noSessionAnswers > 0 ? 1 : 0;
            m_sessions.clear();
        }
        return !m_sessions.contains(session.path());
    }

    QVariant prompt(std::function<QVariant()> answer)
    {
        const QString path = kRoot + "/prompt/" + QString::number(++m_serial);
        m_prompts.insert(path, std::move(answer));
        return QVariant::fromValue(QDBusObjectPath(path));
    }

    int m_serial = 0;
    QStringList m_sessions;
    QMap<QString, std::function<QVariant()>> m_prompts;
};

// One call's answer; "silent" while the client gives none.
struct Answer
{
    KeychainOutcome outcome = KeychainOutcome::silent;
    QByteArray data;
    bool given = false;
};

Answer perform(SecretServiceClient &client, const QString &operation, const QByteArray &data = "data")
{
    auto answer = std::make_shared<Answer>();
    auto done = [answer](KeychainOutcome outcome, QByteArray result) { *answer = {outcome, std::move(result), true}; };
    if (operation == "read")
        client.read("alice", "tokens", done);
    else if (operation == "write")
        client.write("alice", "tokens", data, done);
    else
        client.remove("alice", "tokens", done);
    return QTest::qWaitFor([&] { return answer->given; }, 15000) ? *answer : Answer();
}

// An item as QtKeychain stores it.
StandInService::Item keychainItem(const QString &type, const QByteArray &secret, bool locked = false)
{
    return {"tokens", {{"user", "alice"}, {"server", "tokens"}, {"type", type}}, secret, locked};
}

} // namespace

class TestSecretService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_daemon;
    StandInService m_service;

    static QDBusConnection serviceBus() { return QDBusConnection("stand-in"); }
    static QDBusConnection clientBus() { return QDBusConnection("client"); }

private Q_SLOTS:
    void initTestCase()
    {
        // A bus of its own with no service files: nothing gets activated on it.
        QFile config(m_dir.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + m_dir.path().toUtf8()
                     + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                       "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        m_daemon.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + config.fileName()});
        QVERIFY(m_daemon.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(m_daemon.readLine().trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8()); // the keychain's own connection
        QDBusConnection service = QDBusConnection::connectToBus(address, "stand-in");
        QVERIFY(service.registerVirtualObject("/", &m_service, QDBusConnection::SubPath));
        QVERIFY(QDBusConnection::connectToBus(address, "client").isConnected());
    }

    void init()
    {
        m_service.reset();
        if (!serviceBus().interface()->isServiceRegistered(kName))
            QVERIFY(serviceBus().registerService(kName));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus("client");
        QDBusConnection::disconnectFromBus("stand-in");
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    // Calls made while the keyring is slow to answer do not wait, yet reach it
    // in their order: the delete does not overtake the save before it.
    void keychainCallsKeepTheirOrderBehindASlowAnswer()
    {
        m_service.openSessionDelayMs = 3000;
        KeychainOperator keychain;
        bool read = false;
        QElapsedTimer clock;
        clock.start();
        keychain.saveKeychainData("saved", "order");
        keychain.deleteKeychainData("order");
        keychain.readKeychainDataLater("order", [&](std::optional<QByteArray>) { read = true; });
        // Back before the keyring could have answered the first of them.
        QVERIFY2(clock.elapsed() < m_service.openSessionDelayMs, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!read);
        QTRY_VERIFY_WITH_TIMEOUT(read, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(m_service.calls.value("Delete"), 1, 10000);
        QCOMPARE(m_service.calls.value("CreateItem"), 1);
        QVERIFY(m_service.items.isEmpty());
    }

    // Later than the bus's own 25 s: a keyring that answers that late (a
    // daemon busy at login) is still heard.
    void answerAfterTheBusTimeoutIsTaken()
    {
        m_service.add(keychainItem("base64", QByteArray("late").toBase64()));
        m_service.openSessionDelayMs = 27000;
        SecretServiceClient client(clientBus());
        Answer answer;
        client.read("alice", "tokens", [&](KeychainOutcome outcome, QByteArray data) {
            answer = {outcome, std::move(data), true};
        });
        QTRY_VERIFY_WITH_TIMEOUT(answer.given, 40000);
        QCOMPARE(answer.outcome, KeychainOutcome::done);
        QCOMPARE(answer.data, QByteArray("late"));
    }

    void lockedItemIsReadOnceThePromptCompletes_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("dismissed");
        QTest::newRow("answered at once") << 0 << false;
        QTest::newRow("answered later") << 2500 << false;
        QTest::newRow("dismissed") << 100 << true;
    }
    void lockedItemIsReadOnceThePromptCompletes()
    {
        QFETCH(int, delayMs);
        QFETCH(bool, dismissed);
        m_service.promptDelayMs = delayMs;
        m_service.dismissPrompts = dismissed;
        m_service.add(keychainItem("base64", QByteArray("tok\0en", 6).toBase64(), true));
        SecretServiceClient client(clientBus());
        const Answer answer = perform(client, "read");
        QCOMPARE(answer.outcome, dismissed ? KeychainOutcome::locked : KeychainOutcome::done);
        QCOMPARE(answer.data, dismissed ? QByteArray() : QByteArray("tok\0en", 6));
        QCOMPARE(m_service.calls.value("Prompt"), 1);
        QCOMPARE(m_service.calls.value("GetSecret"), dismissed ? 0 : 1);
    }

    void brokenServiceEndsTheCallAsFailed_data()
    {
        QTest::addColumn<QString>("brokenBy");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("locked");
        QTest::newRow("leaves the bus in a prompt") << "leaving" << "read" << true;
        QTest::newRow("Completed of another signature") << "Completed" << "read" << true;
        QTest::newRow("GetSecret of another signature") << "replies" << "read" << false;
        QTest::newRow("CreateItem of another signature") << "replies" << "write" << false;
    }
    // Within the wait of perform(): the queue of calls behind it goes on.
    void brokenServiceEndsTheCallAsFailed()
    {
        QFETCH(QString, brokenBy);
        QFETCH(QString, operation);
        QFETCH(bool, locked);
        m_service.brokenBy = brokenBy;
        m_service.add(keychainItem("base64", QByteArray("tokens").toBase64(), locked));
        SecretServiceClient client(clientBus());
        const Answer answer = perform(client, operation);
        QCOMPARE(answer.outcome, KeychainOutcome::failed);
        QCOMPARE(answer.data, QByteArray());
    }

    void lostSessionIsOpenedAgainOnce_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("noSessionAnswers");
        QTest::addColumn<KeychainOutcome>("outcome");
        for (const char *operation : {"read", "write"}) {
            QTest::addRow("%s, forgotten once", operation) << QString(operation) << 1 << KeychainOutcome::done;
            QTest::addRow("%s, never kept", operation) << QString(operation) << -1 << KeychainOutcome::failed;
        }
    }
    void lostSessionIsOpenedAgainOnce()
    {
        QFETCH(QString, operation);
        QFETCH(int, noSessionAnswers);
        QFETCH(KeychainOutcome, outcome);
        const bool read = operation == "read";
        if (read)
            m_service.add(keychainItem("plaintext", "secret"));
        m_service.noSessionAnswers = noSessionAnswers;
        SecretServiceClient client(clientBus());
        const Answer answer = perform(client, operation, "secret");
        QCOMPARE(answer.outcome, outcome);
        QCOMPARE(answer.data, outcome == KeychainOutcome::done && read ? QByteArray("secret") : QByteArray());
        QCOMPARE(m_service.calls.value("OpenSession"), 2);
        QCOMPARE(m_service.calls.value(read ? "GetSecret" : "CreateItem"), 2);
        QCOMPARE(m_service.items.size(), outcome == KeychainOutcome::done || read ? 1 : 0);
    }

    void readsWhatQtKeychainWrote_data()
    {
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<QByteArray>("binary");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plaintext") << QByteArray("caf\xC3\xA9 au lait") << QByteArray() << QByteArray("caf\xC3\xA9 au lait");
        QTest::newRow("base64") << QByteArray() << QByteArray("\0\x01\xFF", 3) << QByteArray("\0\x01\xFF", 3);
        QTest::newRow("both") << QByteArray("older text") << QByteArray("newer") << QByteArray("newer");
    }
    void readsWhatQtKeychainWrote()
    {
        QFETCH(QByteArray, plaintext);
        QFETCH(QByteArray, binary);
        QFETCH(QByteArray, expected);
        if (!plaintext.isEmpty())
            m_service.add(keychainItem("plaintext", plaintext));
        if (!binary.isEmpty())
            m_service.add(keychainItem("base64", binary.toBase64()));
        SecretServiceClient client(clientBus());
        const Answer answer = perform(client, "read");
        QCOMPARE(answer.outcome, KeychainOutcome::done);
        QCOMPARE(answer.data, expected);
    }

    void writeCreatesTheMissingDefaultCollection()
    {
        m_service.defaultCollection.clear();
        m_service.promptDelayMs = 200;
        SecretServiceClient client(clientBus());
        QCOMPARE(perform(client, "write", QByteArray("first\0", 6)).outcome, KeychainOutcome::done);
        QCOMPARE(m_service.calls.value("CreateCollection"), 1);
        QCOMPARE(m_service.defaultCollection, kLogin);
        QCOMPARE(m_service.items.size(), 1);
        QVERIFY(m_service.items.firstKey().startsWith(kLogin + '/'));
        const StandInService::Item item = m_service.items.first();
        QCOMPARE(item.label, "tokens");
        QCOMPARE(item.attributes, (Attributes{{"user", "alice"}, {"server", "tokens"}, {"type", "base64"},
                                              {"xdg:schema", "org.qt.keychain"}}));
        QCOMPARE(item.secret, QByteArray("first\0", 6).toBase64());

        QCOMPARE(perform(client, "write", "second").outcome, KeychainOutcome::done);
        QCOMPARE(m_service.items.size(), 1);
        QCOMPARE(m_service.calls.value("CreateCollection"), 1);
        QCOMPARE(perform(client, "read").data, QByteArray("second"));
    }

    void removeDeletesOnlyWhatItMay_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("dismissed");
        QTest::newRow("nothing stored") << false << false << false;
        QTest::newRow("unlocked") << true << false << false;
        QTest::newRow("locked, unlock answered") << true << true << false;
        QTest::newRow("locked, unlock dismissed") << true << true << true;
    }
    // Only ever the account's items; none while any of them stays locked.
    void removeDeletesOnlyWhatItMay()
    {
        QFETCH(bool, stored);
        QFETCH(bool, locked);
        QFETCH(bool, dismissed);
        m_service.dismissPrompts = dismissed;
        StandInService::Item other = keychainItem("base64", "other");
        other.attributes["server"] = "elsewhere";
        m_service.add(other);
        if (stored) {
            m_service.add(keychainItem("base64", "a"));
            m_service.add(keychainItem("plaintext", "b", locked));
        }
        SecretServiceClient client(clientBus());
        QCOMPARE(perform(client, "remove").outcome, dismissed ? KeychainOutcome::locked : KeychainOutcome::done);
        QCOMPARE(m_service.items.size(), dismissed ? 3 : 1);
        QCOMPARE(m_service.calls.value("Prompt"), locked ? 1 : 0);
        QCOMPARE(m_service.items.first().attributes, other.attributes);
    }

    void withoutServiceEveryCallAnswersNoService_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("operation");
        for (const bool connected : {true, false}) {
            for (const char *operation : {"read", "write", "remove"})
                QTest::addRow("%s, %s", connected ? "no owner" : "no bus", operation) << connected << QString(operation);
        }
    }
    void withoutServiceEveryCallAnswersNoService()
    {
        QFETCH(bool, connected);
        QFETCH(QString, operation);
        QVERIFY(serviceBus().unregisterService(kName));
        {
            SecretServiceClient client(connected ? clientBus()
                                                 : QDBusConnection::connectToBus("unix:path=" + m_dir.filePath("none"),
                                                                                 "nowhere"));
            QCOMPARE(perform(client, operation).outcome, KeychainOutcome::noService);
        }
        QDBusConnection::disconnectFromBus("nowhere");
        QVERIFY(m_service.calls.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSecretService)

#include "tst_secretservice.moc"
