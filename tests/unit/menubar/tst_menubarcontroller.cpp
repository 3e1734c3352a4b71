#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <approuting.h>
#include <hotkeylistener.h>
#include <menubarcontroller.h>
#include <metadataserving.h>
#include <resolver.h>
#include <userdefaults.h>
#include <worker.h>

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QCoro/QCoroTimer>

using namespace std::chrono_literals;
using Element = ApplicationStateMenuBarElement;

namespace {

// What the stand-ins saw, in order across them.
QStringList *journal = nullptr;

class RecordingRouter : public AppRouting
{
public:
    QSystemTrayIcon *statusItem() const override { return item; }
    void setStatusItem(QSystemTrayIcon *i) override { item = i; }
    void openSettingsWindow() override { *journal << QStringLiteral("openSettingsWindow"); }
    void toggleFloatingMenuWindow() override {}
    void openOnboardingWindow() override { *journal << QStringLiteral("openOnboardingWindow"); }
    void showToast(const QString &, std::function<void()> onTap, std::chrono::milliseconds) override { toasts << onTap; }
    void closeOnboardingWindow() override {}

    QSystemTrayIcon *item = nullptr;
    QList<std::function<void()>> toasts; // their taps
};

struct RecordingAnalytics : AnalyticsCollecting
{
    void track(const QString &event) override { *journal << QStringLiteral("track ") + event; }
    void track(const QString &event, const QMap<QString, QString> &) override { track(event); }
    QString distinctId() const override { return QStringLiteral("test"); }
};

class RecordingMetadata : public MetadataServing
{
public:
    QCoro::Task<Metadata> fetchMetadata() override
    {
        // What the store held when the request went out.
        storedAtRequest << store->string(QString::fromLatin1(MenuBarController::kVersionCheckKey)).value_or(QString());
        co_await QCoro::sleepFor(5ms);
        ++answered;
        if (fails)
            throw std::runtime_error("offline");
        co_return answer;
    }

    std::shared_ptr<DataStoring> store;
    Metadata answer{"1.0.0", "1.0.0"};
    bool fails = false;
    QStringList storedAtRequest;
    int answered = 0;
};

struct SilentHotkeys : HotkeyListening
{
    streams::AnyPublisher<TriggeredKeyboardShortcut> hotkeyPublisher() const override { return {}; }
};

class UrlRecorder : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void open(const QUrl &url) { *journal << QStringLiteral("open ") + url.toString(); }
};

QImage iconImage(QSystemTrayIcon *item)
{
    return item->icon().pixmap(QSize(Element::kImageSize, Element::kImageSize)).toImage().convertToFormat(
        QImage::Format_ARGB32);
}

QImage frame(Element::State state, UserPreferences::MenuBarIconStyle style, Element::AnimationPhase phase)
{
    return Element{state, style, phase}.image().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestMenuBarController : public QObject
{
    Q_OBJECT

private:
    QStringList m_journal;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<RecordingRouter> m_router;
    std::shared_ptr<RecordingMetadata> m_metadata;
    std::shared_ptr<UserDefaults> m_store;
    std::shared_ptr<ApplicationStateObserver> m_state;
    // 786000000.123 s after the reference date: the stored text must keep the fraction.
    const QDateTime m_start = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(786000000123);
    QDateTime m_now = m_start;
    UrlRecorder m_urls;

    std::unique_ptr<MenuBarController> makeController(std::optional<QString> appVersion = QStringLiteral("1.0.0"),
                                                      const QString &communityLink = {})
    {
        auto env = MenuBarController::defaultEnvironment();
        env.clock = [this] { return m_now; };
        env.appVersion = appVersion;
        if (!communityLink.isEmpty())
            env.communityLink = communityLink;
        env.updaterOptions.feedUrl = QUrl(QStringLiteral("http://updates.invalid/appcast.xml"));
        env.updaterOptions.settingsPath = m_dir->filePath(QStringLiteral("updater.ini"));
        env.updaterOptions.cacheFolder = m_dir->filePath(QStringLiteral("cache"));
        env.updaterOptions.showWindows = false;
        return std::make_unique<MenuBarController>(std::move(env));
    }

    QString stored() const { return m_store->string(QString::fromLatin1(MenuBarController::kVersionCheckKey)).value_or(QString()); }
    QString nowText() const { return MenuBarController::decimalText(MenuBarController::secondsSinceReferenceDate(m_now)); }

private Q_SLOTS:
    void initTestCase()
    {
        journal = &m_journal;
        for (const QString &scheme : {QStringLiteral("https"), QStringLiteral("mailto")})
            QDesktopServices::setUrlHandler(scheme, &m_urls, "open");
    }
    void cleanupTestCase()
    {
        for (const QString &scheme : {QStringLiteral("https"), QStringLiteral("mailto")})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void init()
    {
        m_now = m_start;
        m_journal.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_router = std::make_shared<RecordingRouter>();
        m_store = std::make_shared<UserDefaults>(m_dir->filePath(QStringLiteral("prefs.conf")));
        m_metadata = std::make_shared<RecordingMetadata>();
        m_metadata->store = m_store;
        m_state = std::make_shared<ApplicationStateObserver>();
        Resolver::main().reset();
        Resolver::main().setRegistrationRoutine([this](Resolver &r) {
            r.register_<SilentHotkeys>([] { return std::make_shared<SilentHotkeys>(); }).implements<HotkeyListening>();
            r.register_<Worker>([] { return std::shared_ptr<Worker>(); }); // held, never called
            r.register_<ApplicationStateObserver>([this] { return m_state; }).implements<ApplicationStateObservable>();
            r.register_<RecordingAnalytics>([] { return std::make_shared<RecordingAnalytics>(); }).implements<AnalyticsCollecting>();
            r.register_<UserDefaults>([this] { return m_store; }).implements<DataStoring>();
            r.register_<RecordingRouter>([this] { return m_router; }).implements<AppRouting>();
            r.register_<RecordingMetadata>([this] { return m_metadata; }).implements<MetadataServing>();
        });
    }

    void menuActionsThenTheirEvent_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("communityLink");
        QTest::addColumn<QStringList>("expected");
        // Empty: the built-in link.
        QTest::newRow("Settings") << 0 << "" << QStringList{"openSettingsWindow", "track showSettings"};
        QTest::newRow("How to Use?") << 1 << "" << QStringList{"openOnboardingWindow", "track showOnboarding"};
        QTest::newRow("Join Our Community") << 4 << "" << QStringList{"open https://discord.gg/wuggit", "track joinCommunity"};
        QTest::newRow("Help") << 5 << "" << QStringList{"open mailto:support@wugg.it", "track contactSupport"};
        QTest::newRow("invalid link") << 4 << "https://exa mple.com" << QStringList{"track joinCommunity"};
    }

    void menuActionsThenTheirEvent()
    {
        QFETCH(int, index);
        QFETCH(QString, communityLink);
        QFETCH(QStringList, expected);
        auto controller = makeController(QStringLiteral("1.0.0"), communityLink);
        if (communityLink.contains(u' '))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not a valid link")));
        controller->statusItemMenu()->actions().at(index)->trigger();
        QCOMPARE(m_journal, expected);
    }

    void wiringAndUpdateChecksFromTheMenuAndTheToast()
    {
        auto controller = makeController();
        QCOMPARE(m_router->item, controller->statusItem());
        QCOMPARE(controller->statusItem()->contextMenu(), controller->statusItemMenu());
        QVERIFY(controller->updaterController()->updater()->isStarted());
        QVERIFY(controller->versionCheckTimer()->isActive() && !controller->versionCheckTimer()->isSingleShot());
        QSignalSpy userChecks(controller->updaterController(), &SPUStandardUpdaterController::checkFinished);
        controller->statusItemMenu()->actions().at(2)->trigger();
        QCOMPARE(userChecks.size(), 1);

        // A scheduled check found an update: the toast, whose tap checks as the user would.
        controller->standardUserDriverWillHandleShowingUpdate(true, SUAppcastItem{}, SPUUserUpdateState{false});
        QCOMPARE(m_router->toasts.size(), 1);
        m_router->toasts[0]();
        QCOMPARE(userChecks.size(), 2);
        // The user's own check shows the updater's window and no toast.
        controller->standardUserDriverWillHandleShowingUpdate(true, SUAppcastItem{}, SPUUserUpdateState{true});
        QCOMPARE(m_router->toasts.size(), 1);
    }

    void versionCheckOncePerDay_data()
    {
        QTest::addColumn<QString>("storedText"); // empty: no key
        QTest::addColumn<bool>("checks");
        const double now = MenuBarController::secondsSinceReferenceDate(m_now);
        QTest::newRow("fresh install") << QString() << true;
        QTest::newRow("86399 s ago") << MenuBarController::decimalText(now - 86399.0) << false;
        QTest::newRow("86399.001 s ago") << MenuBarController::decimalText(now - 86399.001) << true;
        QTest::newRow("clock set back") << MenuBarController::decimalText(now + 1000.0) << false;
        QTest::newRow("not a number") << "yesterday" << true;
        QTest::newRow("number and more") << "786000000.5s" << true;
    }

    void versionCheckOncePerDay()
    {
        QFETCH(QString, storedText);
        QFETCH(bool, checks);
        if (!storedText.isEmpty())
            m_store->setValue(storedText, QString::fromLatin1(MenuBarController::kVersionCheckKey));
        auto controller = makeController();
        if (!checks) {
            QCOMPARE(m_metadata->storedAtRequest.size(), 0);
            QCOMPARE(stored(), storedText);
            return;
        }
        // The time is stored, as text that reads back exactly, before the request leaves.
        QCOMPARE(m_metadata->storedAtRequest, QStringList{nowText()});
        QCOMPARE(stored(), QStringLiteral("786000000.123"));

        // Later the same day: nothing; the next day: again.
        m_now = m_now.addMSecs(86399000);
        controller->pollVersion();
        QCOMPARE(m_metadata->storedAtRequest.size(), 1);
        m_now = m_now.addMSecs(1);
        controller->pollVersion();
        QCOMPARE(m_metadata->storedAtRequest.size(), 2);
        QCOMPARE(stored(), nowText());
    }

    void updateToastForNewerVersions_data()
    {
        QTest::addColumn<QString>("latest");
        QTest::addColumn<QString>("app"); // empty: the version cannot be told
        QTest::addColumn<QString>("mishap");
        QTest::addColumn<bool>("toast");
        QTest::newRow("2.0 after 1.9.9") << "2.0" << "1.9.9" << "" << true;
        QTest::newRow("1.0.0 same") << "1.0.0" << "1.0.0" << "" << false;
        QTest::newRow("1.10 after 1.9") << "1.10" << "1.9" << "" << true;
        QTest::newRow("1.9 before 1.10") << "1.9" << "1.10" << "" << false;
        QTest::newRow("request failed") << "2.0" << "1.0" << "fails" << false;
        QTest::newRow("no app version") << "2.0" << "" << "" << false;
        QTest::newRow("controller gone") << "9.0" << "1.0" << "gone" << false;
    }
    void updateToastForNewerVersions()
    {
        QFETCH(QString, latest);
        QFETCH(QString, app);
        QFETCH(QString, mishap);
        QFETCH(bool, toast);
        m_metadata->answer = Metadata{"0.1", latest.toStdString()};
        m_metadata->fails = mishap == u"fails";
        auto controller = makeController(app.isEmpty() ? std::nullopt : std::optional(app));
        if (mishap == u"gone")
            controller.reset();
        QTRY_COMPARE(m_metadata->answered, 1);
        QTest::qWait(10);
        QCOMPARE(m_router->toasts.size(), toast ? 1 : 0);
    }

    void iconBlinks_data()
    {
        using S = Element::State;
        using St = UserPreferences::MenuBarIconStyle;
        QTest::addColumn<QString>("preference");
        QTest::addColumn<ApplicationState>("state");
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<QImage>("first");
        QTest::addColumn<QImage>("second");
        const auto p1 = Element::AnimationPhase::phase1, p2 = Element::AnimationPhase::phase2;
        const QImage plain = frame(S::idle, St::colored, p1);
        const QImage success = frame(S::success, St::colored, p1);
        QTest::newRow("colored success") << "colored" << ApplicationState::success() << 1000 << success << plain;
        QTest::newRow("default error") << "" << ApplicationState::error(ApplicationStateError::ApiError) << 500
                                       << frame(S::error, St::colored, p1) << plain;
        QTest::newRow("minimal in progress") << "minimal" << ApplicationState::inProgress() << 200
                                             << frame(S::inProgress, St::minimal, p1) << frame(S::inProgress, St::minimal, p2);
        QTest::newRow("Minimal is colored") << "Minimal" << ApplicationState::success() << 1000 << success << plain;
    }

    void iconBlinks()
    {
        QFETCH(QString, preference);
        QFETCH(ApplicationState, state);
        QFETCH(int, intervalMs);
        QFETCH(QImage, first);
        QFETCH(QImage, second);
        if (!preference.isEmpty())
            m_store->setValue(preference, QString::fromLatin1(UserPreferences::kMenuBarIconStyleKey));
        auto controller = makeController();
        QSystemTrayIcon *item = controller->statusItem();
        QTRY_VERIFY(!item->icon().isNull()); // idle arrives on the next turn
        QVERIFY(!controller->iconRefreshTimer());

        m_state->applicationStateSubject.send(state);
        QTRY_VERIFY(controller->iconRefreshTimer());
        QTimer *timer = controller->iconRefreshTimer();
        QCOMPARE(timer->interval(), intervalMs);
        QCOMPARE(iconImage(item), first);
        // The first two ticks, sped up: the interval is checked above. A busy
        // machine may let more pass before the check looks.
        QList<QImage> ticks;
        connect(timer, &QTimer::timeout, this, [&ticks, item] {
            if (ticks.size() < 2)
                ticks << iconImage(item);
        });
        timer->setInterval(20);
        QTRY_COMPARE(ticks.size(), 2);
        QCOMPARE(ticks, (QList<QImage>{second, first}));
    }

    void newStateStopsTheOldTimer()
    {
        auto controller = makeController();
        m_state->applicationStateSubject.send(ApplicationState::inProgress());
        QTRY_VERIFY(controller->iconRefreshTimer());
        QPointer<QTimer> old = controller->iconRefreshTimer();
        m_state->applicationStateSubject.send(ApplicationState::success());
        QTRY_COMPARE(controller->iconRefreshTimer() ? controller->iconRefreshTimer()->interval() : 0, 1000);
        QVERIFY(!old);

        // Signed out: exactly the idle icon, standing still.
        m_state->applicationStateSubject.send(ApplicationState::unauthenticated());
        QTRY_VERIFY(!controller->iconRefreshTimer());
        QCOMPARE(iconImage(controller->statusItem()),
                 frame(Element::State::idle, UserPreferences::MenuBarIconStyle::colored, Element::AnimationPhase::phase1));
    }

    // Last: it runs and ends the application's own event loop.
    void quitEndsTheApplication()
    {
        auto controller = makeController();
        QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
        QTimer::singleShot(0, controller.get(), [&controller] { controller->statusItemMenu()->actions().at(7)->trigger(); });
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); }); // a hang fails instead
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(quitting.size(), 1);
        QVERIFY(m_journal.isEmpty());
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestMenuBarController test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_menubarcontroller.moc"
