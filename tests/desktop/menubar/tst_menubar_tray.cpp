// The tray icon of the menu bar controller in the session's tray (trayer,
// XEmbed), clicked and typed at with xdotool: a left click opens the menu
// under the icon, and the keys shown beside its entries work while it is open.

#include "../desktopsession.h"

#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <approuter.h>
#include <hotkeylistener.h>
#include <menubarcontroller.h>
#include <metadataserving.h>
#include <resolver.h>
#include <userdefaults.h>
#include <worker.h>

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QQuickWindow>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

namespace {

struct SilentAnalytics : AnalyticsCollecting
{
    void track(const QString &) override {}
    void track(const QString &, const QMap<QString, QString> &) override {}
    QString distinctId() const override { return QStringLiteral("test"); }
};

struct NoMetadata : MetadataServing
{
    QCoro::Task<Metadata> fetchMetadata() override { co_return Metadata{"1.0.0", "1.0.0"}; }
};

struct SilentHotkeys : HotkeyListening
{
    streams::AnyPublisher<TriggeredKeyboardShortcut> hotkeyPublisher() const override { return {}; }
};

// The links the menu opened, by scheme.
class LinkRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url.scheme(); }
};

} // namespace

class TestMenuBarTray : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LinkRecorder m_links;
    std::shared_ptr<AppRouter> m_router;
    std::unique_ptr<MenuBarController> m_controller;

    QMenu *menu() const { return m_controller->statusItemMenu(); }
    QRect icon() const { return m_controller->statusItem()->geometry(); }
    // What the menu's entries brought about so far.
    QStringList effects() const
    {
        QStringList out;
        for (QQuickWindow *window : {m_router->settingsWindow(), m_router->onboardingWindow()}) {
            if (window && window->isVisible())
                out << window->objectName();
        }
        for (const QString &scheme : m_links.opened)
            out << QStringLiteral("open ") + scheme;
        return out;
    }

    static void click(const QRect &where, int button)
    {
        desktop::xdotool({QStringLiteral("mousemove"), QString::number(where.center().x()),
                          QString::number(where.center().y()), QStringLiteral("click"), QString::number(button)});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        for (const QString &scheme : {QStringLiteral("https"), QStringLiteral("mailto")})
            QDesktopServices::setUrlHandler(scheme, &m_links, "open");

        auto store = std::make_shared<UserDefaults>(m_dir.filePath(QStringLiteral("prefs.conf")));
        auto state = std::make_shared<ApplicationStateObserver>();
        Resolver::main().setRegistrationRoutine([=, this](Resolver &r) {
            r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); });
            r.register_<AppRouter>([this] { return m_router; }).implements<AppRouting>();
            r.register_<SilentHotkeys>([] { return std::make_shared<SilentHotkeys>(); }).implements<HotkeyListening>();
            r.register_<Worker>([] { return std::shared_ptr<Worker>(); }); // held, never called
            r.register_<ApplicationStateObserver>([state] { return state; }).implements<ApplicationStateObservable>();
            r.register_<SilentAnalytics>([] { return std::make_shared<SilentAnalytics>(); })
                .implements<AnalyticsCollecting>();
            r.register_<UserDefaults>([store] { return store; }).implements<DataStoring>();
            r.register_<NoMetadata>([] { return std::make_shared<NoMetadata>(); }).implements<MetadataServing>();
        });

        // Its windows, empty, stand for the real settings and onboarding.
        m_router = std::make_shared<AppRouter>();

        auto env = MenuBarController::defaultEnvironment();
        env.updaterOptions.feedUrl = QUrl(QStringLiteral("http://updates.invalid/appcast.xml"));
        env.updaterOptions.settingsPath = m_dir.filePath(QStringLiteral("updater.ini"));
        env.updaterOptions.cacheFolder = m_dir.filePath(QStringLiteral("cache"));
        env.updaterOptions.showWindows = false;
        m_controller = std::make_unique<MenuBarController>(std::move(env));
        // Shown with the first state; the tray embeds it a moment later and
        // only then moves it from the screen's corner to its place.
        QTRY_VERIFY_WITH_TIMEOUT(!icon().isEmpty() && icon().topLeft() != QPoint(0, 0), 10000);
        // It reports that place before it is mapped there: a click lands
        // only once the pointer is seen over it.
        desktop::xdotool({QStringLiteral("mousemove"), QString::number(icon().center().x()),
                          QString::number(icon().center().y())});
        QWidget *tray = nullptr;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->inherits("QSystemTrayIconSys"))
                tray = window;
        }
        QVERIFY(tray);
        QTRY_VERIFY_WITH_TIMEOUT(tray->underMouse(), 10000);
    }

    void cleanupTestCase()
    {
        m_controller.reset();
        m_router.reset();
        for (const QString &scheme : {QStringLiteral("https"), QStringLiteral("mailto")})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    // Every case starts with the menu and the windows closed.
    void cleanup()
    {
        menu()->close();
        for (QQuickWindow *window : {m_router->settingsWindow(), m_router->onboardingWindow()}) {
            if (window)
                window->close();
        }
        m_links.opened.clear();
    }

    void leftClickOpensTheMenuUnderTheIcon()
    {
        click(icon(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(menu()->isVisible(), 5000);
        // The tray sits at the top of the screen: the menu hangs right below the icon.
        const QRect placed = menu()->geometry();
        QVERIFY2(placed.top() > icon().bottom() - 2 && placed.top() - icon().bottom() < 10,
                 qPrintable(QStringLiteral("menu at %1,%2 for an icon ending at %3")
                                .arg(placed.left()).arg(placed.top()).arg(icon().bottom())));
        QVERIFY(placed.left() <= icon().right());

        // A click on the icon while the menu is open closes it for good.
        click(icon(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!menu()->isVisible(), 5000);
        QTest::qWait(500);
        QVERIFY(!menu()->isVisible());

        // And the next one opens it again.
        click(icon(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(menu()->isVisible(), 5000);
        QVERIFY(effects().isEmpty());
    }

    void keyShownBesideAnEntryTriggersItWhileTheMenuIsOpen_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("effect");
        QTest::newRow("Settings") << "Settings" << "ctrl+s" << "SettingsWindow";
        QTest::newRow("How to Use?") << "How to Use?" << "ctrl+h" << "OnboardingWindow";
        QTest::newRow("Join Our Community") << "Join Our Community" << "ctrl+c" << "open https";
        QTest::newRow("Help") << "Help" << "ctrl+p" << "open mailto";
    }

    void keyShownBesideAnEntryTriggersItWhileTheMenuIsOpen()
    {
        QFETCH(QString, entry);
        QFETCH(QString, keys);
        QFETCH(QString, effect);
        // The hint beside the entry is the key that is pressed.
        const QList<QAction *> actions = menu()->actions();
        const auto action = std::find_if(actions.cbegin(), actions.cend(), [&](QAction *a) { return a->text() == entry; });
        QVERIFY(action != actions.cend());
        QCOMPARE((*action)->shortcut().toString().toLower(), keys);

        // Opened the way the tray always could, so that this stands on its own.
        click(icon(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(menu()->isVisible(), 5000);
        desktop::xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
        QTRY_COMPARE_WITH_TIMEOUT(effects(), QStringList{effect}, 5000);
        // Closed as a click on the entry would close it.
        QTRY_VERIFY_WITH_TIMEOUT(!menu()->isVisible(), 5000);
    }
};

QTEST_MAIN(TestMenuBarTray)
#include "tst_menubar_tray.moc"
