// The program's three shortcuts, pressed on the real X server, reach the
// hot-key listener once per release.
#include "desktopsession.h"

#include <analyticscollector.h>
#include <hotkeylistener.h>
#include <keyboardshortcuts.h>
#include <mixpanel.h>
#include <resolver.h>
#include <shortcutnames.h>

#include <QGuiApplication>
#include <QUuid>

using desktop::xdotool;

class TestHotkeys : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<HotkeyListening> m_listener;
    QList<TriggeredKeyboardShortcut> m_fired;
    streams::AnyCancellable m_subscription;

    static void press(const QString &chord)
    {
        xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord});
    }

private Q_SLOTS:
    void initTestCase()
    {
        mixpanel::Mixpanel::Configuration configuration;
        // Nobody listens there: events stay queued in the test's own folder.
        configuration.serverUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
        configuration.storageDirectory = m_dir.filePath(QStringLiteral("analytics"));
        auto *analytics = mixpanel::Mixpanel::initialize(QStringLiteral("00112233445566778899aabbccddeeff"),
                                                         QUuid::createUuid().toString(), false, 3600, configuration);
        Resolver::main().setRegistrationRoutine([analytics](Resolver &r) {
            r.register_<HotkeyListener>([] {
                 auto listener = std::make_shared<HotkeyListener>();
                 listener->listen();
                 return listener;
             })
                .implements<HotkeyListening>()
                .scope(Resolver::Scope::Shared);
            r.register_<AnalyticsCollector>([analytics] { return std::make_shared<AnalyticsCollector>(analytics); })
                .implements<AnalyticsCollecting>()
                .scope(Resolver::Scope::Application);
        });
        m_listener = Resolver::main().resolve<HotkeyListening>();
        m_subscription = m_listener->hotkeyPublisher().sink([this](TriggeredKeyboardShortcut k) { m_fired << k; });
        QTest::qWait(300);
    }

    void init() { m_fired.clear(); }

    void eachShortcutFiresOncePerReleaseAlsoUnderNumLock()
    {
        // Find, Reload and Open stay with the applications.
        press(QStringLiteral("ctrl+f"));
        press(QStringLiteral("ctrl+r"));
        press(QStringLiteral("ctrl+o"));
        press(QStringLiteral("ctrl+alt+f"));
        press(QStringLiteral("ctrl+alt+r"));
        press(QStringLiteral("ctrl+alt+o"));
        press(QStringLiteral("Num_Lock"));
        press(QStringLiteral("ctrl+alt+f"));
        press(QStringLiteral("Num_Lock"));
        using K = TriggeredKeyboardShortcut;
        QTRY_COMPARE(m_fired, (QList<K>{K::typoFix, K::rephrase, K::floatingMenu, K::typoFix}));
        QTest::qWait(300);
        QCOMPARE(m_fired.size(), 4);
    }

    void changedShortcutFiresOnTheNewKeysOnly()
    {
        KeyboardShortcuts::setShortcut(KeyboardShortcuts::Shortcut(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier),
                                       ShortcutNames::typoFix());
        press(QStringLiteral("ctrl+alt+f"));
        QTest::qWait(300);
        QVERIFY(m_fired.isEmpty()); // the old keys are let go
        press(QStringLiteral("ctrl+shift+f"));
        QTRY_COMPARE(m_fired, QList<TriggeredKeyboardShortcut>{TriggeredKeyboardShortcut::typoFix});
        KeyboardShortcuts::reset(ShortcutNames::typoFix());
        press(QStringLiteral("ctrl+alt+f"));
        QTRY_COMPARE(m_fired.size(), 2);
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    TestHotkeys test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hotkeys.moc"
