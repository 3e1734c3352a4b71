// SecretServiceClient against an in-memory Secret Service on a private bus:
// the locked items, prompts, lost sessions and missing collections a real
// keyring of the test session cannot be driven into.

#include <secretservice.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
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

const QString kName = QStringLiteral("org.freedesktop.secrets");
const QString kRoot = QStringLiteral("/org/freedesktop/secrets");
const QString kAlias = kRoot + QStringLiteral("/aliases/default");
const QString kLogin = kRoot + QStringLiteral("/collection/login");
const QString kNoSession = QStringLiteral("org.freedesktop.Secret.Error.NoSession");
const QString kLabelKey = QStringLiteral("org.freedesktop.Secret.Item.Label");
const QString kAttributesKey = QStringLiteral("org.freedesktop.Secret.Item.Attributes");

struct WireSecret
{
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument &operator<<(QDBusArgument &argument, const WireSecret &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, WireSecret &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(WireSecret)

namespace {

// A Secret Service holding its items in memory: plain sessions, one
// collection at most, and prompts that answer themselves after a delay.
class StandInService : public QDBusVirtualObject
{
public:
    struct Item
    {
        QString label;
        Attributes attributes;
        QByteArray secret;
        bool locked = false;
    };

    int promptDelayMs = 0;
    bool dismissPrompts = false;
    int noSessionAnswers = 0; // GetSecret calls that find every session forgotten; -1: all
    QString defaultCollection = kLogin; // empty: none yet
    QMap<QString, Item> items;          // by path
    QMap<QString, int> calls;           // by method

    void reset()
    {
        promptDelayMs = 0;
        dismissPrompts = false;
        noSessionAnswers = 0;
        defaultCollection = kLogin;
        items.clear();
        calls.clear();
    }

    QString add(const Item &item)
    {
        const QString path = kLogin + QLatin1Char('/') + QString::number(++m_serial);
        items.insert(path, item);
        return path;
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        const QString member = message.member();
        const QString path = message.path();
        const QVariantList args = message.arguments();
        ++calls[member];
        const auto reply = [&](const QVariantList &out) { return bus.send(message.createReply(out)); };
        const auto error = [&](const QString &name) { return bus.send(message.createErrorReply(name, member)); };
        const auto object = [](const QString &p) { return QVariant::fromValue(QDBusObjectPath(p)); };

        if (member == QLatin1String("OpenSession")) {
            m_sessions << kRoot + QStringLiteral("/session/") + QString::number(++m_serial);
            return reply({QVariant::fromValue(QDBusVariant(QString())), object(m_sessions.last())});
        }
        if (member == QLatin1String("SearchItems")) {
            const auto wanted = qdbus_cast<Attributes>(args.value(0));
            QList<QDBusObjectPath> unlocked, locked;
            for (auto it = items.cbegin(); it != items.cend(); ++it) {
                const bool matches = std::all_of(wanted.keyValueBegin(), wanted.keyValueEnd(), [&](const auto &kv) {
                    return it->attributes.value(kv.first) == kv.second;
                });
                if (matches)
                    (it->locked ? locked : unlocked) << QDBusObjectPath(it.key());
            }
            return reply({QVariant::fromValue(unlocked), QVariant::fromValue(locked)});
        }
        if (member == QLatin1String("Unlock")) {
            const auto objects = qdbus_cast<QList<QDBusObjectPath>>(args.value(0));
            return reply({QVariant::fromValue(QList<QDBusObjectPath>()), prompt([this, objects] {
                              for (const QDBusObjectPath &o : objects)
                                  items[o.path()].locked = false;
                              return QVariant::fromValue(objects);
                          })});
        }
        if (member == QLatin1String("CreateCollection")) {
            return reply({object(QStringLiteral("/")), prompt([this, object] {
                              defaultCollection = kLogin;
                              return object(kLogin);
                          })});
        }
        if (member == QLatin1String("Prompt")) {
            const auto answer = m_prompts.take(path);
            if (!answer)
                return error(QStringLiteral("org.freedesktop.Secret.Error.NoSuchObject"));
            QTimer::singleShot(promptDelayMs, this, [bus, path, answer, dismiss = dismissPrompts] {
                QDBusMessage completed = QDBusMessage::createSignal(
                    path, QStringLiteral("org.freedesktop.Secret.Prompt"), QStringLiteral("Completed"));
                completed << dismiss << QVariant::fromValue(QDBusVariant(dismiss ? QVariant(QString()) : answer()));
                bus.send(completed);
            });
            return reply({});
        }
        if (member == QLatin1String("CreateItem")) {
            if ((path == kAlias ? defaultCollection : path) != kLogin)
                return error(QStringLiteral("org.freedesktop.Secret.Error.NoSuchObject"));
            const auto properties = qdbus_cast<QVariantMap>(args.value(0));
            const auto secret = qdbus_cast<WireSecret>(args.value(1));
            if (!m_sessions.contains(secret.session.path()))
                return error(kNoSession);
            const Item item{properties.value(kLabelKey).toString(),
                            qdbus_cast<Attributes>(properties.value(kAttributesKey)), secret.value};
            if (args.value(2).toBool())
                items.removeIf([&](const auto &it) { return it.value().attributes == item.attributes; });
            return reply({object(add(item)), object(QStringLiteral("/"))});
        }
        if (!items.contains(path))
            return error(QStringLiteral("org.freedesktop.Secret.Error.NoSuchObject"));
        if (member == QLatin1String("GetSecret")) {
            if (noSessionAnswers != 0) {
                if (noSessionAnswers > 0)
                    --noSessionAnswers;
                m_sessions.clear();
            }
            const QDBusObjectPath session = args.value(0).value<QDBusObjectPath>();
            if (!m_sessions.contains(session.path()))
                return error(kNoSession);
            if (items[path].locked)
                return error(QStringLiteral("org.freedesktop.Secret.Error.IsLocked"));
            return reply({QVariant::fromValue(WireSecret{session, {}, items[path].secret, QStringLiteral("text/plain")})});
        }
        if (member == QLatin1String("Delete")) {
            items.remove(path);
            return reply({object(QStringLiteral("/"))});
        }
        return false;
    }

private:
    QVariant prompt(std::function<QVariant()> answer)
    {
        const QString path = kRoot + QStringLiteral("/prompt/") + QString::number(++m_serial);
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
    auto done = [answer](KeychainOutcome outcome, QByteArray result) {
        *answer = {outcome, std::move(result), true};
    };
    if (operation == QLatin1String("read"))
        client.read(QStringLiteral("alice"), QStringLiteral("tokens"), done);
    else if (operation == QLatin1String("write"))
        client.write(QStringLiteral("alice"), QStringLiteral("tokens"), data, done);
    else
        client.remove(QStringLiteral("alice"), QStringLiteral("tokens"), done);
    return QTest::qWaitFor([&] { return answer->given; }, 15000) ? *answer : Answer();
}

StandInService::Item keychainItem(const QString &type, const QByteArray &secret, bool locked = false)
{
    return {QStringLiteral("tokens"),
            {{QStringLiteral("user"), QStringLiteral("alice")},
             {QStringLiteral("server"), QStringLiteral("tokens")},
             {QStringLiteral("type"), type}},
            secret,
            locked};
}

} // namespace

class TestSecretService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    StandInService m_service;

    QDBusConnection serviceBus() const { return QDBusConnection(QStringLiteral("stand-in")); }
    QDBusConnection clientBus() const { return QDBusConnection(QStringLiteral("client")); }

private Q_SLOTS:
    void initTestCase()
    {
        qDBusRegisterMetaType<WireSecret>();
        qDBusRegisterMetaType<Attributes>();
        // A bus of its own with no service files: nothing gets activated on it.
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + m_dir.path().toUtf8()
                     + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                       "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                        QStringLiteral("--config-file=") + config.fileName()});
        QVERIFY(m_daemon.waitForReadyRead(5000));
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("stand-in"));
        QVERIFY(service.registerVirtualObject(QStringLiteral("/"), &m_service, QDBusConnection::SubPath));
        QVERIFY(QDBusConnection::connectToBus(m_address, QStringLiteral("client")).isConnected());
    }

    void init()
    {
        m_service.reset();
        if (!serviceBus().interface()->isServiceRegistered(kName))
            QVERIFY(serviceBus().registerService(kName));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
        m_daemon.terminate();
        m_daemon.waitForFinished();
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
        m_service.add(keychainItem(QStringLiteral("base64"), QByteArray("tok\0en", 6).toBase64(), true));
        SecretServiceClient client(clientBus());
        const Answer answer = perform(client, QStringLiteral("read"));
        QCOMPARE(answer.outcome, dismissed ? KeychainOutcome::locked : KeychainOutcome::done);
        QCOMPARE(answer.data, dismissed ? QByteArray() : QByteArray("tok\0en", 6));
        QCOMPARE(m_service.calls.value(QStringLiteral("Prompt")), 1);
        QCOMPARE(m_service.calls.value(QStringLiteral("GetSecret")), dismissed ? 0 : 1);
    }

    void lostSessionIsOpenedAgainOnce_data()
    {
        QTest::addColumn<int>("noSessionAnswers");
        QTest::addColumn<KeychainOutcome>("outcome");
        QTest::newRow("forgotten once") << 1 << KeychainOutcome::done;
        QTest::newRow("never kept") << -1 << KeychainOutcome::failed;
    }
    void lostSessionIsOpenedAgainOnce()
    {
        QFETCH(int, noSessionAnswers);
        QFETCH(KeychainOutcome, outcome);
        m_service.noSessionAnswers = noSessionAnswers;
        m_service.add(keychainItem(QStringLiteral("plaintext"), "secret"));
        SecretServiceClient client(clientBus());
        const Answer answer = perform(client, QStringLiteral("read"));
        QCOMPARE(answer.outcome, outcome);
        QCOMPARE(answer.data, outcome == KeychainOutcome::done ? QByteArray("secret") : QByteArray());
        QCOMPARE(m_service.calls.value(QStringLiteral("OpenSession")), 2);
        QCOMPARE(m_service.calls.value(QStringLiteral("GetSecret")), 2);
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
            m_service.add(keychainItem(QStringLiteral("plaintext"), plaintext));
        if (!binary.isEmpty())
            m_service.add(keychainItem(QStringLiteral("base64"), binary.toBase64()));
        SecretServiceClient client(clientBus());
        const Answer answer = perform(client, QStringLiteral("read"));
        QCOMPARE(answer.outcome, KeychainOutcome::done);
        QCOMPARE(answer.data, expected);
    }

    void writeCreatesTheMissingDefaultCollection()
    {
        m_service.defaultCollection.clear();
        m_service.promptDelayMs = 200;
        SecretServiceClient client(clientBus());
        QCOMPARE(perform(client, QStringLiteral("write"), QByteArray("first\0", 6)).outcome, KeychainOutcome::done);
        QCOMPARE(m_service.calls.value(QStringLiteral("CreateCollection")), 1);
        QCOMPARE(m_service.defaultCollection, kLogin);
        QCOMPARE(m_service.items.size(), 1);
        const StandInService::Item item = m_service.items.first();
        QVERIFY(m_service.items.firstKey().startsWith(kLogin + QLatin1Char('/')));
        QCOMPARE(item.label, QStringLiteral("tokens"));
        QCOMPARE(item.attributes, (Attributes{{QStringLiteral("user"), QStringLiteral("alice")},
                                              {QStringLiteral("server"), QStringLiteral("tokens")},
                                              {QStringLiteral("type"), QStringLiteral("base64")},
                                              {QStringLiteral("xdg:schema"), QStringLiteral("org.qt.keychain")}}));
        QCOMPARE(item.secret, QByteArray("first\0", 6).toBase64());

        QCOMPARE(perform(client, QStringLiteral("write"), "second").outcome, KeychainOutcome::done);
        QCOMPARE(m_service.items.size(), 1);
        QCOMPARE(m_service.calls.value(QStringLiteral("CreateCollection")), 1);
        QCOMPARE(perform(client, QStringLiteral("read")).data, QByteArray("second"));
    }

    void removeDeletesOnlyWhatItMay_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("dismissed");
        QTest::addColumn<KeychainOutcome>("outcome");
        QTest::addColumn<int>("left");
        QTest::newRow("nothing stored") << false << false << false << KeychainOutcome::done << 1;
        QTest::newRow("unlocked") << true << false << false << KeychainOutcome::done << 1;
        QTest::newRow("locked, unlock answered") << true << true << false << KeychainOutcome::done << 1;
        QTest::newRow("locked, unlock dismissed") << true << true << true << KeychainOutcome::locked << 3;
    }
    void removeDeletesOnlyWhatItMay()
    {
        QFETCH(bool, stored);
        QFETCH(bool, locked);
        QFETCH(bool, dismissed);
        QFETCH(KeychainOutcome, outcome);
        QFETCH(int, left);
        m_service.dismissPrompts = dismissed;
        StandInService::Item other = keychainItem(QStringLiteral("base64"), "other");
        other.attributes[QStringLiteral("server")] = QStringLiteral("elsewhere");
        m_service.add(other);
        if (stored) {
            m_service.add(keychainItem(QStringLiteral("base64"), "a"));
            m_service.add(keychainItem(QStringLiteral("plaintext"), "b", locked));
        }
        SecretServiceClient client(clientBus());
        QCOMPARE(perform(client, QStringLiteral("remove")).outcome, outcome);
        QCOMPARE(m_service.items.size(), left);
        QCOMPARE(m_service.calls.value(QStringLiteral("Prompt")), locked ? 1 : 0);
        QVERIFY(m_service.items.first().attributes == other.attributes);
    }

    void withoutServiceEveryCallAnswersNoService_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("operation");
        for (const bool connected : {true, false}) {
            for (const char *operation : {"read", "write", "remove"}) {
                QTest::addRow("%s, %s", connected ? "no owner" : "no bus", operation)
                    << connected << QString::fromLatin1(operation);
            }
        }
    }
    void withoutServiceEveryCallAnswersNoService()
    {
        QFETCH(bool, connected);
        QFETCH(QString, operation);
        QVERIFY(serviceBus().unregisterService(kName));
        const QString name = QStringLiteral("nowhere");
        {
            SecretServiceClient client(connected ? clientBus()
                                                 : QDBusConnection::connectToBus(
                                                       QStringLiteral("unix:path=") + m_dir.filePath("none"), name));
            QCOMPARE(perform(client, operation).outcome, KeychainOutcome::noService);
        }
        QDBusConnection::disconnectFromBus(name);
        QCOMPARE(m_service.calls, (QMap<QString, int>()));
    }
};

QTEST_GUILESS_MAIN(TestSecretService)

#include "tst_secretservice.moc"
