// The real program started against a keyring that never answers: the
// silentkeyring program owns org.freedesktop.secrets on a bus of the test's
// own, which the program is given as its session bus. The tray icon comes
// up anyway, the user hears why nothing is saved, and the program is usable
// signed out: the sign-in form, an OTP sign-in kept in memory, and a
// shortcut in mousepad that fixes the selection.

#include "notificationsstandin.h"
#include "programundertest.h"

#include <backendstandin.h>

#include <QDBusConnection>
#include <QRegularExpression>
#include <QTemporaryDir>

using desktop::Mousepad;
using desktop::press;
using desktop::type;
using desktop::xdotool;

class TestSilentKeyring : public QObject
{
    Q_OBJECT

    BackendStandIn m_backend;
    desktop::ProgramUnderTest m_program{m_backend};
    QTemporaryDir m_busDir;
    QProcess m_bus;
    QProcess m_keyring;
    QString m_busAddress;
    NotificationsStandIn m_notifications;
    const QString m_connection = QStringLiteral("tst-silentkeyring-bus");

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_backend.listen());
        QVERIFY(m_program.isValid());
        // A bus with no service files: nothing else can be started for the name.
        QFile config(m_busDir.filePath(QStringLiteral("bus.conf")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + m_busDir.path().toUtf8()
                     + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                       "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                       "<allow own=\"*\"/></policy></busconfig>");
        config.close();
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                     QStringLiteral("--config-file=") + config.fileName()});
        QVERIFY(m_bus.waitForReadyRead(5000));
        m_busAddress = QString::fromUtf8(m_bus.readLine().trimmed());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        m_keyring.setProcessEnvironment(env);
        m_keyring.start(QStringLiteral(SILENTKEYRING_BINARY), {});
        QVERIFY(m_keyring.waitForReadyRead(10000));
        QCOMPARE(m_keyring.readLine().trimmed(), QByteArray("ready"));

        QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, m_connection);
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_notifications,
                                   QDBusConnection::ExportAllSlots));
    }

    void cleanupTestCase()
    {
        m_program.stop();
        QDBusConnection::disconnectFromBus(m_connection);
        for (QProcess *process : {&m_keyring, &m_bus})
            desktop::endProcess(*process);
    }

    void startsAndWorksSignedOut()
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        // start() waits for the menu-bar controller's first request (15 s at most).
        QVERIFY(m_program.start(true, env));
        QTRY_COMPARE_WITH_TIMEOUT(desktop::visibleWindowsOf(QStringLiteral("wuggit")).size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(m_notifications.summaries, QStringList{QStringLiteral("Your keyring has not answered Wugg it!")},
                                  15000);

        // Settings from the tray menu: the sign-in form, whose field has the focus.
        const QByteArray icon = *desktop::visibleWindowsOf(QStringLiteral("wuggit")).cbegin();
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(icon),
                 QStringLiteral("8"), QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(desktop::visibleWindowsOf(QStringLiteral("wuggit")).size() > 1, 5000);
        press(QStringLiteral("ctrl+s"));
        QTRY_COMPARE_WITH_TIMEOUT(desktop::activeWindowName(), QStringLiteral("Wugg it!"), 10000);
        const QByteArray settings = desktop::run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed();
        QTest::qWait(1000);
        const QSize signedOut = desktop::windowSize(settings);

        const QString email = QStringLiteral("locked.out@example.org");
        type(email);
        press(QStringLiteral("Return"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_backend.otpFor(email).isEmpty(), 10000);
        QTest::qWait(500);
        type(m_backend.otpFor(email));
        press(QStringLiteral("Return"));
        // Signed in for this run: the window turns into the settings.
        QTRY_VERIFY_WITH_TIMEOUT(desktop::windowSize(settings).height() > signedOut.height(), 10000);

        Mousepad editor;
        QVERIFY(editor.open(QStringLiteral("Teh text.\n"), 1, 0));
        press(QStringLiteral("shift+End"));
        press(QStringLiteral("ctrl+alt+f"));
        QTRY_COMPARE_WITH_TIMEOUT(editor.contents(), QStringLiteral("The text.\n"), 10000);
        QVERIFY(m_program.isRunning());
    }
};

QTEST_MAIN(TestSilentKeyring)
#include "tst_silentkeyring.moc"
