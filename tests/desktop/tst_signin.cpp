// Signing in from the settings window of the real program, as a new user
// does: tray menu, "Settings", the form typed into or the Google button
// clicked, then the shortcuts, the launch switch and "Sign Out" of the same
// window. Controls without a key are reached at their known places in the
// window, which tst_settingsview pins down. Then the tour's practice field.

#include "programundertest.h"

#include <backendstandin.h>
#include <googleauthstandin.h>

#include <keychainoperator.h>

#include <QDir>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

using desktop::Mousepad;
using desktop::press;
using desktop::type;
using desktop::xdotool;

namespace {

const QString kTokenService = QStringLiteral("tokenStorage");
const QString kGoogleClientId = QStringLiteral("endtoend.apps.googleusercontent.com");

// Places in the window's content, 400 wide.
const QPoint kGoogleButton(200, 281);
const QPoint kContinueButton(338, 381);
const QPoint kRephraseRecorder(338, 335);
const QPoint kLaunchSwitch(360, 454);
const QPoint kSignOutButton(200, 517);

void clickAt(const QByteArray &window, QPoint place)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(window),
             QString::number(place.x()), QString::number(place.y()), QStringLiteral("click"), QStringLiteral("1")});
}

QStringList autostartEntries(const QString &configPath)
{
    return QDir(configPath + QStringLiteral("autostart")).entryList({QStringLiteral("*.desktop")}, QDir::Files);
}

} // namespace

class TestSignIn : public QObject
{
    Q_OBJECT

    BackendStandIn m_backend;
    GoogleAuthStandIn m_google{kGoogleClientId};
    desktop::ProgramUnderTest m_program{m_backend};
    KeychainOperator m_keychain;
    QByteArray m_settings;

    bool sessionStored() { return m_keychain.readKeychainData(kTokenService).has_value(); }

    // Tray icon, its menu, an entry by its key: the window that then has the focus.
    bool openFromTrayMenu(const QString &entryKey)
    {
        const QSet<QByteArray> icons = desktop::visibleWindowsOf(QStringLiteral("wuggit"));
        if (icons.size() != 1) {
            qWarning("expected the tray icon alone, found %lld windows", qlonglong(icons.size()));
            return false;
        }
        clickAt(*icons.cbegin(), QPoint(8, 8));
        const bool menuOpen = QTest::qWaitFor(
            [&] { return desktop::visibleWindowsOf(QStringLiteral("wuggit")).size() > 1; }, 5000);
        if (!menuOpen)
            return false;
        press(entryKey);
        if (!QTest::qWaitFor([] { return desktop::activeWindowName() == QLatin1String("Wugg it!"); }, 10000))
            return false;
        m_settings = desktop::run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed();
        // The first refresh settles the content.
        QTest::qWait(1000);
        return !m_settings.isEmpty();
    }
    bool openSettings() { return openFromTrayMenu(QStringLiteral("ctrl+s")); }

    bool fixesInMousepad(const QString &chord, const QString &path)
    {
        Mousepad editor;
        if (!editor.open(QStringLiteral("Teh text.\n"), 1, 0))
            return false;
        press(QStringLiteral("shift+End"));
        const qsizetype before = m_backend.requestsTo(path).size();
        press(chord);
        const bool sent = QTest::qWaitFor([&] { return m_backend.requestsTo(path).size() > before; }, 10000);
        const bool written = sent && QTest::qWaitFor([&] { return editor.contents() != QLatin1String("Teh text.\n"); },
                                                     10000);
        if (!written)
            qWarning("%s sent %s: %d, the editor holds: %s", qPrintable(chord), qPrintable(path), sent,
                     qPrintable(editor.contents()));
        return written;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_backend.listen());
        QVERIFY(m_google.listen());
        QVERIFY(m_program.isValid());
    }

    void init() { m_keychain.deleteKeychainData(kTokenService); }

    void cleanup()
    {
        m_program.stop();
        m_keychain.deleteKeychainData(kTokenService);
    }

    void byEmailThenTheSettingsOfTheSameWindow()
    {
        QVERIFY(m_program.start(true));
        // The tray alone never loads what only windows need.
        const auto windowStack = [this] {
            QStringList found;
            for (const QString &library : m_program.loadedLibraries()) {
                for (const char *name : {"libQt6Quick.so", "libQt6Qml.so", "libavformat.so", "wuggit-windows.so"})
                    if (library.startsWith(QLatin1String(name)))
                        found << library;
            }
            found.sort();
            return found;
        };
        QVERIFY(!m_program.loadedLibraries().isEmpty());
        QCOMPARE(windowStack(), QStringList());
        QVERIFY(openSettings());
        QVERIFY2(windowStack().size() >= 3, qPrintable(windowStack().join(u' ')));
        const QSize signedOut = desktop::windowSize(m_settings);
        QCOMPARE(signedOut.width(), 400);

        // The field has the focus: e-mail, Return, the mailed password, Return.
        const QString email = QStringLiteral("new.user@example.org");
        type(email);
        press(QStringLiteral("Return"));
        QVERIFY(QTest::qWaitFor([&] { return !m_backend.otpFor(email).isEmpty(); }, 10000));
        QTest::qWait(500);
        type(m_backend.otpFor(email));
        press(QStringLiteral("Return"));
        QVERIFY(QTest::qWaitFor([&] { return sessionStored(); }, 10000));
        // Read at start and saved now, over the bus the tray already holds:
        // neither libsecret nor GLib's D-Bus stack came with the keyring.
        for (const QString &library : m_program.loadedLibraries())
            QVERIFY2(!library.startsWith(QLatin1String("libsecret-1.so"))
                         && !library.startsWith(QLatin1String("libgio-2.0.so")),
                     qPrintable(library));
        QVERIFY(QTest::qWaitFor([&] { return desktop::windowSize(m_settings).height() > signedOut.height(); }, 10000));
        desktop::screenshot(QStringLiteral("signin-signed-in.png"));

        // The shortcuts work at once, without a restart.
        QVERIFY(fixesInMousepad(QStringLiteral("ctrl+alt+f"), QStringLiteral("content/fix")));

        // A combination recorded for rephrase is the one that works.
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(m_settings)});
        clickAt(m_settings, kRephraseRecorder);
        press(QStringLiteral("ctrl+alt+y"));
        QTest::qWait(500);
        QVERIFY(fixesInMousepad(QStringLiteral("ctrl+alt+y"), QStringLiteral("content/rephrase")));
        const qsizetype rephrased = m_backend.requestsTo(QStringLiteral("content/rephrase")).size();
        {
            Mousepad editor;
            QVERIFY(editor.open(QStringLiteral("Old keys.\n"), 1, 0));
            press(QStringLiteral("shift+End"));
            press(QStringLiteral("ctrl+alt+r"));
            QTest::qWait(1500);
            QCOMPARE(m_backend.requestsTo(QStringLiteral("content/rephrase")).size(), rephrased);
        }

        // The first start enabled launch at login; the switch turns it off and on.
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(m_settings)});
        QCOMPARE(autostartEntries(m_program.configPath()).size(), 1);
        clickAt(m_settings, kLaunchSwitch);
        QVERIFY(QTest::qWaitFor([&] { return autostartEntries(m_program.configPath()).isEmpty(); }, 5000));
        clickAt(m_settings, kLaunchSwitch);
        QVERIFY(QTest::qWaitFor([&] { return autostartEntries(m_program.configPath()).size() == 1; }, 5000));

        // Signing out wipes the keyring item and brings the form back.
        clickAt(m_settings, kSignOutButton);
        QVERIFY(QTest::qWaitFor([&] { return !sessionStored(); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return desktop::windowSize(m_settings) == signedOut; }, 10000));
        QCOMPARE(m_backend.requestsTo(QStringLiteral("auth/logout")).size(), 1);

        // Signing in again, with a click on Continue: the password lands in
        // the field, and nothing of the form goes out as text to work on.
        const auto contentRequests = [this] {
            return m_backend.requestsTo(QStringLiteral("content/fix")).size()
                 + m_backend.requestsTo(QStringLiteral("content/rephrase")).size();
        };
        const qsizetype worked = contentRequests();
        type(email);
        clickAt(m_settings, kContinueButton);
        QVERIFY(QTest::qWaitFor([&] { return m_backend.requestsTo(QStringLiteral("auth/request-otp")).size() == 2; },
                                10000));
        QTest::qWait(500);
        type(m_backend.otpFor(email));
        desktop::screenshot(QStringLiteral("signin-otp-typed-after-continue.png"));
        press(QStringLiteral("Return"));
        QVERIFY(QTest::qWaitFor([&] { return sessionStored(); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return desktop::windowSize(m_settings).height() > signedOut.height(); }, 10000));
        QTest::qWait(1000);
        QCOMPARE(contentRequests(), worked);

        // The prompt menu's keys, recorded for rephrase: refused, in words.
        const QSize signedIn = desktop::windowSize(m_settings);
        clickAt(m_settings, kRephraseRecorder);
        press(QStringLiteral("ctrl+alt+o"));
        QVERIFY(QTest::qWaitFor([&] { return desktop::windowSize(m_settings).height() > signedIn.height(); }, 5000));
        desktop::screenshot(QStringLiteral("signin-shortcut-taken.png"));
    }

    void withGoogleThroughTheBrowser()
    {
        QProcessEnvironment google;
        google.insert(QStringLiteral("WUGGIT_GOOGLE_CLIENT_ID"), kGoogleClientId);
        google.insert(QStringLiteral("WUGGIT_GOOGLE_AUTHORIZATION_URL"), m_google.authorizationEndpoint().toString());
        google.insert(QStringLiteral("WUGGIT_GOOGLE_TOKEN_URL"), m_google.tokenEndpoint().toString());
        // The test browser, however the URL is opened: Qt goes through
        // xdg-open where it is installed, which prefers the registered
        // handler of https (through the desktop's own opener, if it knows
        // the desktop) to $BROWSER.
        google.insert(QStringLiteral("BROWSER"), QStringLiteral(TESTBROWSER_BINARY));
        QTemporaryDir browser;
        QVERIFY(QDir(browser.path()).mkpath(QStringLiteral("applications")));
        QFile entry(browser.filePath(QStringLiteral("applications/wugg-testbrowser.desktop")));
        QFile defaults(browser.filePath(QStringLiteral("mimeapps.list")));
        QVERIFY(entry.open(QIODevice::WriteOnly) && defaults.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Test browser\nExec=" TESTBROWSER_BINARY " %u\n"
                    "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
        defaults.write("[Default Applications]\nx-scheme-handler/http=wugg-testbrowser.desktop\n"
                       "x-scheme-handler/https=wugg-testbrowser.desktop\n");
        entry.close();
        defaults.close();
        const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
        google.insert(QStringLiteral("XDG_CONFIG_DIRS"),
                      browser.path() + QLatin1Char(':') + system.value(QStringLiteral("XDG_CONFIG_DIRS"), QStringLiteral("/etc/xdg")));
        google.insert(QStringLiteral("XDG_DATA_DIRS"),
                      browser.path() + QLatin1Char(':')
                          + system.value(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("/usr/local/share:/usr/share")));
        for (const char *desktop : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
            google.insert(QString::fromLatin1(desktop), QString());
        QVERIFY(m_program.start(true, google));
        QVERIFY(openSettings());
        const QSize signedOut = desktop::windowSize(m_settings);

        clickAt(m_settings, kGoogleButton);
        QVERIFY(QTest::qWaitFor([&] { return sessionStored(); }, 20000));
        QVERIFY(m_google.pkceVerified());
        QVERIFY(QTest::qWaitFor([&] { return desktop::windowSize(m_settings).height() > signedOut.height(); }, 10000));
        QVERIFY(fixesInMousepad(QStringLiteral("ctrl+alt+f"), QStringLiteral("content/fix")));
    }

    void theToursPracticeFieldIsFixedInPlace()
    {
        const auto tokens = m_backend.issueTokens();
        m_keychain.saveKeychainData(QJsonDocument(tokens.toJson()).toJson(QJsonDocument::Compact), kTokenService);
        QVERIFY(m_program.start(true));
        QVERIFY(openFromTrayMenu(QStringLiteral("ctrl+h")));
        QCOMPARE(desktop::windowSize(m_settings).width(), 550);

        // The field has the focus: type, select, fix.
        type(QStringLiteral("Teh cat sat."));
        press(QStringLiteral("shift+Home"));
        press(QStringLiteral("ctrl+alt+f"));
        QVERIFY(QTest::qWaitFor([&] { return !m_backend.requestsTo(QStringLiteral("content/fix")).isEmpty(); }, 10000));
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).value(0).json.value(QLatin1String("input")),
                 QStringLiteral("Teh cat sat."));
        QTest::qWait(1000);
        desktop::screenshot(QStringLiteral("tour-practice-fixed.png"));

        // What the field holds, copied out as a user would.
        press(QStringLiteral("ctrl+a"));
        press(QStringLiteral("ctrl+c"));
        QVERIFY(QTest::qWaitFor([] { return desktop::clipboardAsSeenByOthers() == "The cat sat."; }, 5000));
    }
};

QTEST_MAIN(TestSignIn)
#include "tst_signin.moc"
