// The text-action pipeline against the loopback backend, with the capture
// and the window router replaced by recorders (the real capture has its own
// desktop tests, and the end-to-end test drives both for real).

#include <backendstandin.h>
#include <memorykeychain.h>

#include <accessibilityhandler.h>
#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <approuting.h>
#include <backend.h>
#include <contentservice.h>
#include <hotkeylistener.h>
#include <launchatlogin.h>
#include <promptexecutor.h>
#include <resolver.h>
#include <systemsound.h>
#include <textextractor.h>
#include <tokenrefresher.h>
#include <tokenstorage.h>
#include <userdefaults.h>
#include <worker.h>

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct QuietAnalytics : AnalyticsCollecting
{
    void track(const QString &) override {}
    void track(const QString &, const QMap<QString, QString> &) override {}
    QString distinctId() const override { return QStringLiteral("worker-test"); }
};

struct TestHotkeys : HotkeyListening
{
    streams::AnyPublisher<TriggeredKeyboardShortcut> hotkeyPublisher() const override { return subject.eraseToAnyPublisher(); }
    streams::PassthroughSubject<TriggeredKeyboardShortcut> subject;
};

struct TestAccessibility : AccessibilityHandling
{
    std::shared_ptr<AccessibilityElement> focusedElement() override { return nullptr; }
    void requestAccessibilityPermission() override {}
    void updateActiveInputRange(const QString &) override {}
    void replaceSelectedText(const QString &) override {}
};

// Hands out the texts queued by the test (then `selection`) and records what
// is written back. Capture and write-back run the event loop for as long as
// the real ones do with their keystroke pauses, so whatever arrives
// meanwhile is delivered inside them, as it is on a desktop.
struct RecordingExtraction : TextExtraction
{
    std::optional<QString> extractSelectedText() override
    {
        ++captures;
        if (std::exchange(throwOnce, false))
            throw std::runtime_error("capture failed");
        const std::optional<QString> text = selections.isEmpty() ? selection : selections.takeFirst();
        capturing = true;
        QTest::qWait(pauseMs);
        capturing = false;
        return text;
    }
    bool replaceSelectedText(const QString &text) override
    {
        QTest::qWait(pauseMs);
        if (!sourceInFront)
            return false;
        written << text;
        return true;
    }
    void forgetCapture() override {}
    quint32 otherApplicationWindowInFront() const override { return front; }

    quint32 front = 0x400001;
    QList<std::optional<QString>> selections;
    std::optional<QString> selection;
    int pauseMs = 0;
    bool capturing = false;
    bool sourceInFront = true;
    bool throwOnce = false;
    int captures = 0;
    QStringList written;
};

struct RecordingRouter : AppRouting
{
    struct Toast
    {
        QString message;
        std::function<void()> onTap;
        std::chrono::milliseconds duration;
    };

    QSystemTrayIcon *statusItem() const override { return nullptr; }
    void setStatusItem(QSystemTrayIcon *) override {}
    void openSettingsWindow() override { ++settingsOpened; }
    void toggleFloatingMenuWindow() override
    {
        ++menuToggled;
        if (onToggle)
            onToggle();
    }
    void openOnboardingWindow() override {}
    void showToast(const QString &message, std::function<void()> onTap, std::chrono::milliseconds duration) override
    {
        toasts.append({message, std::move(onTap), duration});
    }
    void closeOnboardingWindow() override {}

    QStringList messages() const
    {
        QStringList out;
        for (const auto &t : toasts)
            out << t.message;
        return out;
    }

    QList<Toast> toasts;
    int settingsOpened = 0, menuToggled = 0;
    std::function<void()> onToggle;
};

const QString kLogin = QStringLiteral("Please log in to continue.");
const QString kHint = QStringLiteral("Wugging it!... The wuggy shows you the progress.");

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private:
    BackendStandIn m_backend;
    std::shared_ptr<QNetworkAccessManager> m_network = std::make_shared<QNetworkAccessManager>();
    std::shared_ptr<TestHotkeys> m_hotkeys;
    std::shared_ptr<RecordingExtraction> m_extraction;
    std::shared_ptr<RecordingRouter> m_router;
    std::shared_ptr<TokenStorage> m_tokens;
    std::shared_ptr<ApplicationStateObserver> m_state;
    std::shared_ptr<Worker> m_worker;
    QList<ApplicationState> m_states;
    streams::Cancellables m_subscriptions;

    void signIn()
    {
        const auto issued = m_backend.issueTokens();
        m_tokens->saveTokens({issued.accessToken.toStdString(), issued.refreshToken.toStdString(),
                              corvane::LoginMethod::email});
    }

    void press(TriggeredKeyboardShortcut shortcut) { m_hotkeys->subject.send(shortcut); }
    // From a timer, so that it can come while a capture runs its event loop.
    void pressLater(int ms, TriggeredKeyboardShortcut shortcut)
    {
        QTimer::singleShot(ms, Qt::PreciseTimer, &m_backend, [this, shortcut] { press(shortcut); });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_backend.listen());
        qputenv("WUGGIT_BACKEND_URL", m_backend.url().toString().toUtf8());
    }

    void init()
    {
        QSettings().clear();
        m_backend.clearRequests();
        m_backend.setContentDelay(0);
        m_hotkeys = std::make_shared<TestHotkeys>();
        m_extraction = std::make_shared<RecordingExtraction>();
        m_router = std::make_shared<RecordingRouter>();
        m_tokens = std::make_shared<TokenStorage>(std::make_shared<MemoryKeychain>());
        m_state = std::make_shared<ApplicationStateObserver>();
        Resolver::main().reset();
        Resolver::main().setRegistrationRoutine([this](Resolver &r) {
            r.register_<QNetworkAccessManager>([this] { return m_network; });
            r.register_<corvane::HTTPService>([this] {
                 auto refresher = std::make_shared<TokenRefresher>(m_tokens, std::make_shared<QuietAnalytics>(), m_state);
                 QuietAnalytics analytics;
                 return std::make_shared<corvane::HTTPService>(refresher, m_tokens, backend::commonHeaders(analytics),
                                                               m_network);
             }).implements<corvane::HTTPServing>();
            r.register_<RecordingRouter>([this] { return m_router; }).implements<AppRouting>();
            r.register_<PromptExecutor>([] { return std::make_shared<PromptExecutor>(); })
                .implements<PromptExecution>()
                .scope(Resolver::Scope::Shared);
            r.register_<TestHotkeys>([this] { return m_hotkeys; }).implements<HotkeyListening>();
            r.register_<UserDefaults>([] { return std::make_shared<UserDefaults>(); }).implements<DataStoring>();
            r.register_<TokenStorage>([this] { return m_tokens; }).implements<corvane::TokenStoring>();
            r.register_<ContentService>([] { return std::make_shared<ContentService>(); }).implements<ContentServing>();
            r.register_<ApplicationStateObserver>([this] { return m_state; });
            r.register_<TestAccessibility>([] { return std::make_shared<TestAccessibility>(); })
                .implements<AccessibilityHandling>();
            r.register_<RecordingExtraction>([this] { return m_extraction; }).implements<TextExtraction>();
            r.register_<QuietAnalytics>([] { return std::make_shared<QuietAnalytics>(); })
                .implements<AnalyticsCollecting>();
        });
        m_worker = std::make_shared<Worker>();
        // Past the counts that show the usage hint, so it stays out of the way.
        UserDefaults().setValue(QStringLiteral("100"), QStringLiteral("usageCounterKey"));
        m_states.clear();
        m_subscriptions.clear();
        m_state->applicationStatePublisher()
            .sink([this](const ApplicationState &s) { m_states << s; })
            .store(m_subscriptions);
    }

    void cleanup()
    {
        m_subscriptions.clear();
        m_worker.reset();
        Resolver::main().reset();
    }

    void startupDefaults()
    {
        // init() made a worker on an empty preference store: a first start,
        // which switches launch at login on. A chosen style stays; so does
        // launch at login switched off after the first start.
        UserDefaults defaults;
        QCOMPARE(defaults.string(QStringLiteral("menuBarIconStylePreferenceKey")), QStringLiteral("colored"));
        QVERIFY(LaunchAtLogin::shared()->isEnabled());
        defaults.setValue(QStringLiteral("minimal"), QStringLiteral("menuBarIconStylePreferenceKey"));
        LaunchAtLogin::shared()->setEnabled(false);
        QSignalSpy sounds(&SystemSound::zorble(), &SystemSound::played);
        Worker second;
        QCOMPARE(defaults.string(QStringLiteral("menuBarIconStylePreferenceKey")), QStringLiteral("minimal"));
        QVERIFY(!LaunchAtLogin::shared()->isEnabled());
        QCOMPARE(sounds.size(), 1);
    }

    void signedOutGetsTheLoginToastAndNoCapture()
    {
        m_extraction->selections << QStringLiteral("teh cat");
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_router->toasts.size(), 1);
        QCOMPARE(m_router->toasts[0].message, kLogin);
        QCOMPARE(m_router->toasts[0].duration, std::chrono::milliseconds(3000));
        QCOMPARE(m_extraction->captures, 0);
        m_router->toasts[0].onTap();
        QCOMPARE(m_router->settingsOpened, 1);

        // Signing in runs the refused action once, in the window it was pressed in.
        signIn();
        QTRY_COMPARE(m_extraction->written, QStringList{QStringLiteral("the cat")});
        QCOMPARE(m_extraction->captures, 1);
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).size(), 1);

        // A sign-out runs and says nothing; signing in again runs nothing
        // that ran before, nor an action refused in a window since left.
        m_tokens->wipeTokens();
        signIn();
        m_tokens->wipeTokens();
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_router->messages().count(kLogin), 2);
        m_extraction->front = 0x400002;
        signIn();
        QTest::qWait(300);
        QCOMPARE(m_router->messages().count(kLogin), 2);
        QCOMPARE(m_extraction->captures, 1);
    }

    void successWritesBackAfterTheStateSaysSo()
    {
        signIn();
        m_extraction->selections << QStringLiteral("one") << QStringLiteral("two");
        press(TriggeredKeyboardShortcut::rephrase);
        QTRY_COMPARE(m_extraction->written.size(), 1);
        QVERIFY(m_states.contains(ApplicationState::inProgress()));
        QCOMPARE(m_states.last(), ApplicationState::success());
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/rephrase")).size(), 1);
        QVERIFY(!m_extraction->written[0].isEmpty() && m_extraction->written[0] != QLatin1String("one"));
        QTRY_COMPARE_WITH_TIMEOUT(m_states.last(), ApplicationState::idle(), 4000);

        // Nothing selected: the action ends silently.
        m_extraction->selections = {std::optional<QString>()};
        const int before = m_states.size();
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_extraction->captures, 2);
        QTest::qWait(100);
        QCOMPARE(m_states.size(), before);
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).size(), 0);
    }

    void aCaptureThatThrowsDoesNotHoldUpTheNext()
    {
        signIn();
        m_extraction->throwOnce = true;
        press(TriggeredKeyboardShortcut::typoFix);
        bool thrown = false;
        try {
            // The throw leaves the event loop through this wait.
            static_cast<void>(QTest::qWaitFor([this] { return m_extraction->captures == 1; }));
        } catch (const std::runtime_error &) {
            thrown = true;
        }
        QVERIFY(thrown);
        m_extraction->selections << QStringLiteral("teh");
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_extraction->written, QStringList{QStringLiteral("the")});
    }

    void onlyTheLatestAnswerIsWrittenBack()
    {
        signIn();
        m_backend.setContentDelay(400);
        m_extraction->selections << QStringLiteral("first text") << QStringLiteral("second text");
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_backend.requests().size(), 1);
        Resolver::main().resolve<PromptExecution>()->execute(Prompt::translate(QStringLiteral("German")));
        QTRY_COMPARE(m_backend.requests().size(), 2);
        QTRY_COMPARE(m_extraction->written.size(), 1);
        QTest::qWait(600);
        QCOMPARE(m_extraction->written, QStringList{QStringLiteral("[German] second text")});
    }

    void twoQuotesAreNotWrittenBack()
    {
        signIn();
        m_backend.script(QStringLiteral("content/fix"), {200, "{\"output\":\"\\\"\\\"\"}", {}, 0, false});
        m_extraction->selections << QStringLiteral("x");
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_states.last(), ApplicationState::success());
        QTest::qWait(50);
        QVERIFY(m_extraction->written.isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<ApplicationState>("state");
        QTest::addColumn<QString>("toast");

        QTest::newRow("needs update") << 426 << QStringLiteral("AppRequiresUpdate")
                                      << ApplicationState::error(ApplicationStateError::AppRequiresUpdate)
                                      << QStringLiteral("A new version of Wugg it! is available. Please update to continue.");
        QTest::newRow("other api error") << 500 << QString() << ApplicationState::error(ApplicationStateError::ApiError)
                                         << QString();
        QTest::newRow("undecodable answer") << 0 << QString() << ApplicationState::error(ApplicationStateError::ApiError)
                                   << QString();
    }

    void failures()
    {
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(ApplicationState, state);
        QFETCH(QString, toast);

        signIn();
        if (status)
            m_backend.scriptError(QStringLiteral("content/fix"), status, QStringLiteral("refused"), code);
        else
            m_backend.script(QStringLiteral("content/fix"), BackendStandIn::Answer{200, "{\"out", {}, 0, false});
        QSignalSpy sounds(&SystemSound::zorble(), &SystemSound::played);
        m_extraction->selections << QStringLiteral("x");
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_states.last(), state);
        QTRY_COMPARE(sounds.size(), 1);
        QCOMPARE(m_router->messages(), toast.isEmpty() ? QStringList() : QStringList{toast});
        QVERIFY(m_extraction->written.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_states.last(), ApplicationState::idle(), 4000);
    }

    void usageHint()
    {
        UserDefaults().setValue(std::nullopt, QStringLiteral("usageCounterKey"));
        QList<int> hintedAt;
        for (int action = 1; action <= 26; ++action) {
            const int before = int(m_router->toasts.size());
            m_worker->countUsage();
            if (m_router->toasts.size() > before) {
                QCOMPARE(m_router->toasts.last().message, kHint);
                hintedAt << action;
            }
        }
        QCOMPARE(hintedAt, (QList<int>{1, 3, 7, 15, 25}));
        QCOMPARE(UserDefaults().string(QStringLiteral("usageCounterKey")), QStringLiteral("26"));
        // The demonstration: in progress at once, success 3 s later.
        QCOMPARE(m_states.last(), ApplicationState::inProgress());
        QTRY_COMPARE_WITH_TIMEOUT(m_states.last(), ApplicationState::success(), 4000);
    }

    void usageCounterThatIsNotANumber_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("next");
        QTest::newRow("word") << QStringLiteral("many") << QStringLiteral("1");
        QTest::newRow("plus") << QStringLiteral("+2") << QStringLiteral("3");
        QTest::newRow("negative") << QStringLiteral("-5") << QStringLiteral("-4");
        QTest::newRow("too large") << QStringLiteral("9223372036854775808") << QStringLiteral("1");
    }

    void usageCounterThatIsNotANumber()
    {
        QFETCH(QString, stored);
        QFETCH(QString, next);
        UserDefaults().setValue(stored, QStringLiteral("usageCounterKey"));
        m_worker->countUsage();
        QCOMPARE(UserDefaults().string(QStringLiteral("usageCounterKey")), next);
        QVERIFY(!m_router->messages().contains(kHint));
    }

    void floatingMenuShortcutTogglesTheMenu()
    {
        press(TriggeredKeyboardShortcut::floatingMenu);
        press(TriggeredKeyboardShortcut::typoFix);
        QCOMPARE(m_router->menuToggled, 1);
    }

    void theMenuWaitsForACaptureToEnd()
    {
        // The menu would take the focus from the window being read.
        signIn();
        m_extraction->pauseMs = 200;
        m_extraction->selection = QStringLiteral("teh");
        bool toggledDuringCapture = false;
        m_router->onToggle = [&] { toggledDuringCapture = m_extraction->capturing; };
        pressLater(0, TriggeredKeyboardShortcut::typoFix);
        pressLater(70, TriggeredKeyboardShortcut::floatingMenu);
        QTRY_COMPARE(m_router->menuToggled, 1);
        QVERIFY(!toggledDuringCapture);
        QCOMPARE(m_extraction->captures, 1);
        QTRY_COMPARE(m_extraction->written, QStringList{QStringLiteral("the")});
        m_router->onToggle = nullptr;
    }

    // A second shortcut pressed while the first one's capture still runs.
    void aShortcutDuringACaptureWins()
    {
        signIn();
        m_extraction->pauseMs = 200;
        m_extraction->selections << QStringLiteral("teh cat") << QStringLiteral("a dog");
        pressLater(0, TriggeredKeyboardShortcut::typoFix);
        pressLater(70, TriggeredKeyboardShortcut::rephrase);
        QTRY_COMPARE(m_extraction->written.size(), 1);
        QTest::qWait(300);
        QCOMPARE(m_extraction->written, QStringList{QStringLiteral("In other words: a dog")});
        // The replaced capture never reached the backend.
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).size(), 0);
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/rephrase")).size(), 1);
    }

    // An answer that comes back while a newer action is capturing.
    void anOlderAnswerDuringANewerCaptureIsDropped()
    {
        signIn();
        m_extraction->pauseMs = 200;
        m_backend.setContentDelay(300);
        m_extraction->selections << QStringLiteral("teh cat") << QStringLiteral("a dog");
        // The fix request goes out after its 200 ms capture; its answer is
        // due 300 ms later, while the rephrase is being captured.
        pressLater(0, TriggeredKeyboardShortcut::typoFix);
        pressLater(400, TriggeredKeyboardShortcut::rephrase);
        QTRY_COMPARE(m_extraction->written.size(), 1);
        QTest::qWait(500);
        QCOMPARE(m_extraction->written, QStringList{QStringLiteral("In other words: a dog")});
        const auto rephrase = m_backend.requestsTo(QStringLiteral("content/rephrase"));
        QCOMPARE(rephrase.size(), 1);
        QCOMPARE(rephrase[0].json.value(QStringLiteral("input")).toString(), QStringLiteral("a dog"));
        QCOMPARE(m_states.last(), ApplicationState::success());
    }

    void aBurstOfPressesSendsAFewRequestsAndWritesOnce()
    {
        signIn();
        m_extraction->pauseMs = 200;
        m_backend.setContentDelay(100);
        for (int i = 0; i < 50; ++i) {
            QTimer::singleShot(i * 80, Qt::PreciseTimer, &m_backend, [this, i] {
                m_extraction->selection = QStringLiteral("teh %1").arg(i);
                press(TriggeredKeyboardShortcut::typoFix);
            });
        }
        QTRY_COMPARE(m_extraction->written.size(), 1);
        QTest::qWait(800);
        QCOMPARE(m_extraction->written, QStringList{QStringLiteral("the 49")});
        QVERIFY2(m_backend.requestsTo(QStringLiteral("content/fix")).size() <= 3,
                 qPrintable(QString::number(m_backend.requestsTo(QStringLiteral("content/fix")).size())));
    }

    // Each renewal stores the tokens again; that is not a new sign-in.
    void aRenewalDoesNotRunTheLastPromptAgain()
    {
        signIn();
        m_extraction->selection = QStringLiteral("teh cat");
        m_backend.expireAccessTokens();
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_extraction->written.size(), 1);
        QTest::qWait(500);
        QCOMPARE(m_extraction->captures, 1);
        QCOMPARE(m_extraction->written, QStringList{QStringLiteral("the cat")});
        QCOMPARE(m_backend.requestsTo(QStringLiteral("auth/refresh")).size(), 1);
        // The rejected request and its one repetition after the renewal.
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).size(), 2);
        QCOMPARE(UserDefaults().string(QStringLiteral("usageCounterKey")), QStringLiteral("101"));
    }

    void anAnswerForAWindowNoLongerInFrontIsNotWritten()
    {
        signIn();
        m_extraction->selection = QStringLiteral("teh cat");
        m_extraction->sourceInFront = false;
        press(TriggeredKeyboardShortcut::typoFix);
        QTRY_COMPARE(m_router->toasts.size(), 1);
        QCOMPARE(m_router->toasts[0].message, Worker::kNotWrittenBackMessage);
        QVERIFY(m_extraction->written.isEmpty());
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("WuggTest"));
    app.setApplicationName(QStringLiteral("tst_worker"));
    TestWorker test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_worker.moc"
