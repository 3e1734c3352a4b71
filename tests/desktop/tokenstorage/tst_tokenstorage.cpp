// Against the session's gnome-keyring; a child process without any Secret Service.

#include "../notificationsstandin.h"

#include <keychainoperator.h>
#include <tokenstorage.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <cstdio>

using corvane::AuthenticationResponse;
using corvane::LoginMethod;

namespace {

const QString kStoreService = QStringLiteral("tokenStorage");
const char *const kNotice = "cannot reach a keychain";
// Any of the notices about the keyring.
const QRegularExpression kAnyNotice(QStringLiteral("cannot reach a keychain|cannot use your keyring|has not answered"));

QByteArray secretTool(const QStringList &args)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), args);
    tool.waitForFinished(10000);
    return tool.readAllStandardOutput().trimmed();
}

// The item's data as another program of the session reads it.
QByteArray lookUp(const QString &service)
{
    return QByteArray::fromBase64(
        secretTool({"lookup", "user", KeychainOperator::kAccount, "server", service, "type", "base64"}));
}

int itemCount(const QString &service)
{
    const QByteArray out = secretTool({"search", "--all", "user", KeychainOperator::kAccount, "server", service});
    return int(out.count("\n[/")) + (out.startsWith("[/") ? 1 : 0);
}

QStringList filesContaining(const QString &root, const QByteArray &needle)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle))
            found << file.fileName();
    }
    return found;
}

// Waits until the store's first read of the keychain has answered: its
// flag is known, and later calls no longer queue behind the read.
bool settled(const TokenStorage &store)
{
    bool known = false;
    auto sub = store.isLoggedIn().sink([&](bool) { known = true; });
    return QTest::qWaitFor([&] { return known; }, 10000);
}

// A store as a restarted program sees it, once its keychain read answered.
struct Restarted
{
    TokenStorage store;
    bool loggedIn = false;
    streams::AnyCancellable sub = store.isLoggedIn().sink([this](bool v) { loggedIn = v; });
    bool read = settled(store);
};

} // namespace


class TestTokenStorage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // The session's keyring answers: no notice may be given.
        QTest::failOnWarning(kAnyNotice);
        KeychainOperator().deleteKeychainData(kStoreService);
    }
    void cleanup() { KeychainOperator().deleteKeychainData(kStoreService); }

    void restartReadsTheLastSave_data()
    {
        QTest::addColumn<LoginMethod>("provider");
        QTest::newRow("email") << LoginMethod::email;
        QTest::newRow("google") << LoginMethod::google;
    }
    void restartReadsTheLastSave()
    {
        QFETCH(LoginMethod, provider);
        const AuthenticationResponse stale{"old-access", "old-refresh", LoginMethod::google};
        const AuthenticationResponse latest{"access-\xC3\xA9", "refresh-2", provider};
        {
            TokenStorage first;
            QVERIFY(settled(first));
            QCOMPARE(first.lastSocialLoginProvider(), std::nullopt);
            first.saveTokens(stale);
            first.saveTokens(latest);
            QCOMPARE(first.lastSocialLoginProvider(), provider);
        }
        Restarted second;
        QVERIFY(second.read);
        QVERIFY(second.loggedIn);
        QCOMPARE(second.store.accessToken(), QString::fromUtf8("access-\xC3\xA9"));
        QCOMPARE(second.store.lastSocialLoginProvider(), provider);
        QCOMPARE(nlohmann::json::parse(lookUp(kStoreService).toStdString()).get<AuthenticationResponse>(), latest);
        QCOMPARE(itemCount(kStoreService), 1);
    }

    void saveReplacesTheItem()
    {
        const QString service = QStringLiteral("tst-replace-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        KeychainOperator keychain;
        keychain.saveKeychainData(QByteArray("first\0bytes", 11), service);
        keychain.saveKeychainData(QByteArray("second\0bytes", 12), service);
        QCOMPARE(KeychainOperator().readKeychainData(service), QByteArray("second\0bytes", 12));
        QCOMPARE(lookUp(service), QByteArray("second\0bytes", 12));
        QCOMPARE(itemCount(service), 1);
        keychain.deleteKeychainData(service);
        QCOMPARE(keychain.readKeychainData(service), std::nullopt);
    }

    void wipeSignalsEvenWithNothingStored()
    {
        for (bool stored : {false, true}) {
            TokenStorage store;
            QVERIFY(settled(store));
            if (stored)
                store.saveTokens({"a", "r", LoginMethod::google});
            QStringList events;
            auto loggedIn = store.isLoggedIn().sink([&](bool v) { events << (v ? "true" : "false"); });
            auto wiped = store.tokensWiped().sink([&](streams::Void) { events << "wiped"; });
            events.clear();
            store.wipeTokens();
            QCOMPARE(events, QStringList({"false", "wiped"}));
            QCOMPARE(store.lastSocialLoginProvider(), std::nullopt);
            QCOMPARE(itemCount(kStoreService), 0);
            QVERIFY(!Restarted().loggedIn);
        }
    }

    void undecodableItemStartsSignedOut_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::newRow("not JSON") << QByteArray("not json");
        QTest::newRow("wrong type") << QByteArray(R"({"accessToken":1,"refreshToken":"r","provider":"email"})");
    }
    void undecodableItemStartsSignedOut()
    {
        QFETCH(QByteArray, item);
        KeychainOperator().saveKeychainData(item, kStoreService);
        Restarted restarted;
        QVERIFY(!restarted.loggedIn);
        QCOMPARE(restarted.store.refreshToken(), std::nullopt);
        QCOMPARE(lookUp(kStoreService), item); // stays until the next save
        restarted.store.saveTokens({"a2", "r2", LoginMethod::email});
        QCOMPARE(Restarted().store.accessToken(), QStringLiteral("a2"));
        QCOMPARE(itemCount(kStoreService), 1);
    }

    void keychainCallsKeepTheCallersLoopOut()
    {
        TokenStorage store;
        QVERIFY(settled(store));
        bool fired = false;
        QTimer::singleShot(0, this, [&] { fired = true; });
        store.saveTokens({"loop-a", "loop-r", LoginMethod::email});
        QVERIFY(!fired);
        QVERIFY(lookUp(kStoreService).contains("loop-a")); // the calls did reach the keyring
        store.wipeTokens();
        QVERIFY(!fired);
        QTRY_VERIFY(fired);
    }

    void withoutSecretService_data()
    {
        QTest::addColumn<bool>("withBus");
        QTest::newRow("no session bus") << false;
        QTest::newRow("bus without a Secret Service") << true;
    }
    void withoutSecretService()
    {
        QFETCH(bool, withBus);
        QTemporaryDir home;
        const QByteArray token = "tok-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        for (const char *var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            env.insert(QString::fromLatin1(var), home.filePath(QString::fromLatin1(var)));
        env.insert(QStringLiteral("TST_TOKENSTORAGE_CHILD"), QString::fromLatin1(token));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + home.filePath("no-bus"));

        QProcess bus;
        NotificationsStandIn notifications;
        const QString connectionName = QStringLiteral("tst-private-bus");
        if (withBus) {
            // A bus with no service files: nothing can be activated on it.
            QFile config(home.filePath("bus.conf"));
            QVERIFY(config.open(QIODevice::WriteOnly));
            config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + home.path().toUtf8()
                         + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>");
            config.close();
            bus.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + config.fileName()});
            QVERIFY(bus.waitForReadyRead(5000));
            const QString address = QString::fromUtf8(bus.readLine().trimmed());
            QDBusConnection connection = QDBusConnection::connectToBus(address, connectionName);
            QVERIFY(connection.registerService(QStringLiteral("org.freedesktop.Notifications")));
            QVERIFY(connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                              QDBusConnection::ExportAllSlots));
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        }

        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 60000);
        const QByteArray errors = child.readAllStandardError();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, errors.constData());
        QCOMPARE(errors.count(kNotice), 1);
        if (withBus) {
            QTest::qWait(200);
            QCOMPARE(notifications.summaries.size(), 1);
            QDBusConnection::disconnectFromBus(connectionName);
            bus.terminate();
            bus.waitForFinished();
        }
        QCOMPARE(filesContaining(home.path(), token), QStringList());
        QCOMPARE(filesContaining(qEnvironmentVariable("HOME"), token), QStringList());
    }
};

// The child of withoutSecretService: the session must hold for the run.
static int runWithoutSecretService()
{
    const std::string token = qEnvironmentVariable("TST_TOKENSTORAGE_CHILD").toStdString();
    QStringList faults;
    QElapsedTimer clock;
    clock.start();
    {
        TokenStorage store;
        bool loggedIn = true;
        auto sub = store.isLoggedIn().sink([&](bool v) { loggedIn = v; });
        if (!settled(store))
            faults << QStringLiteral("the first read never answered");
        if (loggedIn)
            faults << QStringLiteral("signed in at start");
        store.saveTokens({token, token + "-refresh", LoginMethod::google});
        store.saveTokens({token, token + "-refresh", LoginMethod::google}); // fails again, told once
        if (!loggedIn)
            faults << QStringLiteral("not signed in after the save");
        if (store.refreshToken() != QString::fromStdString(token + "-refresh"))
            faults << QStringLiteral("the tokens are not kept for the run");
        if (TokenStorage().accessToken())
            faults << QStringLiteral("a restart found the session");
    }
    if (clock.elapsed() > 10000)
        faults << QStringLiteral("the failing calls waited %1 ms").arg(clock.elapsed());
    QTest::qWait(300); // lets the notice leave before the process ends
    for (const QString &fault : faults)
        std::fprintf(stderr, "FAULT: %s\n", qPrintable(fault));
    return faults.isEmpty() ? 0 : 1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("TST_TOKENSTORAGE_CHILD"))
        return runWithoutSecretService();
    TestTokenStorage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tokenstorage.moc"
