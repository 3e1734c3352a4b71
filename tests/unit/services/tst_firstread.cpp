// The token store's first keychain read, which nobody waits for: what the
// signed-in flag says before and after it answers, the bound after which the
// store counts as signed out, a late answer, and a text action that comes
// meanwhile.

#include <memorykeychain.h>

#include <accessibilityhandler.h>
#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <approuting.h>
#include <contentserving.h>
#include <hotkeylistener.h>
#include <promptexecutor.h>
#include <resolver.h>
#include <textextractor.h>
#include <tokenstorage.h>
#include <userdefaults.h>
#include <worker.h>

#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using corvane::AuthenticationResponse;
using corvane::LoginMethod;

namespace {

const QString kService = QStringLiteral("tokenStorage");
const QString kLogin = QStringLiteral("Please log in to continue.");

QByteArray encoded(const AuthenticationResponse &response)
{
    return QByteArray::fromStdString(nlohmann::json(response).dump());
}

// A keychain that holds a session from an earlier run and has not answered yet.
std::shared_ptr<MemoryKeychain> silentKeychainWithSession()
{
    auto keychain = std::make_shared<MemoryKeychain>();
    keychain->items[kService] = encoded({"stored-access", "stored-refresh", LoginMethod::google});
    keychain->silent = true;
    return keychain;
}

// Every value of the store's signed-in flag, as they come.
struct FlagRecorder
{
    explicit FlagRecorder(const TokenStorage &store)
        : sub(store.isLoggedIn().sink([this](bool v) { values << v; }))
    {
    }
    QList<bool> values;
    streams::AnyCancellable sub;
};

struct QuietAnalytics : AnalyticsCollecting
{
    void track(const QString &) override {}
    void track(const QString &, const QMap<QString, QString> &) override {}
    QString distinctId() const override { return QStringLiteral("first-read-test"); }
};

struct TestHotkeys : HotkeyListening
{
    streams::AnyPublisher<TriggeredKeyboardShortcut> hotkeyPublisher() const override
    {
        return subject.eraseToAnyPublisher();
    }
    streams::PassthroughSubject<TriggeredKeyboardShortcut> subject;
};

struct NoAccessibility : AccessibilityHandling
{
    std::shared_ptr<AccessibilityElement> focusedElement() override { return nullptr; }
    void requestAccessibilityPermission() override {}
    void updateActiveInputRange(const QString &) override {}
    void replaceSelectedText(const QString &) override {}
};

// The selection is always `selection`; what is written back is recorded.
struct RecordingExtraction : TextExtraction
{
    std::optional<QString> extractSelectedText() override
    {
        ++captures;
        return selection;
    }
    bool replaceSelectedText(const QString &text) override
    {
        written << text;
        return true;
    }
    void forgetCapture() override {}

    QString selection = QStringLiteral("teh cat");
    int captures = 0;
    QStringList written;
};

struct RecordingRouter : AppRouting
{
    QSystemTrayIcon *statusItem() const override { return nullptr; }
    void setStatusItem(QSystemTrayIcon *) override {}
    void openSettingsWindow() override {}
    void toggleFloatingMenuWindow() override {}
    void openOnboardingWindow() override {}
    void showToast(const QString &message, std::function<void()>, std::chrono::milliseconds) override
    {
        toasts << message;
    }
    void closeOnboardingWindow() override {}

    QStringList toasts;
};

// Answers at once: the input upper-cased, so the answer shows it went through.
struct UpperCaseContent : ContentServing
{
    QCoro::Task<ContentResponseDTO> fix(QString input) override { co_return ContentResponseDTO{input.toUpper().toStdString()}; }
    QCoro::Task<ContentResponseDTO> rephrase(QString input, std::optional<QString>) override { return fix(input); }
    QCoro::Task<ContentResponseDTO> translate(QString input, QString) override { return fix(input); }
};

} // namespace

class TestFirstRead : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<TestHotkeys> m_hotkeys;
    std::shared_ptr<RecordingExtraction> m_extraction;
    std::shared_ptr<RecordingRouter> m_router;

    // A worker on this store, with the capture, the router and the backend recorded.
    std::shared_ptr<Worker> makeWorker(const std::shared_ptr<TokenStorage> &store)
    {
        m_hotkeys = std::make_shared<TestHotkeys>();
        m_extraction = std::make_shared<RecordingExtraction>();
        m_router = std::make_shared<RecordingRouter>();
        Resolver::main().reset();
        Resolver::main().setRegistrationRoutine([this, store](Resolver &r) {
            r.register_<RecordingRouter>([this] { return m_router; }).implements<AppRouting>();
            r.register_<PromptExecutor>([] { return std::make_shared<PromptExecutor>(); })
                .implements<PromptExecution>()
                .scope(Resolver::Scope::Shared);
            r.register_<TestHotkeys>([this] { return m_hotkeys; }).implements<HotkeyListening>();
            r.register_<UserDefaults>([] { return std::make_shared<UserDefaults>(); }).implements<DataStoring>();
            r.register_<TokenStorage>([store] { return store; }).implements<corvane::TokenStoring>();
            r.register_<UpperCaseContent>([] { return std::make_shared<UpperCaseContent>(); })
                .implements<ContentServing>();
            r.register_<ApplicationStateObserver>([] { return std::make_shared<ApplicationStateObserver>(); })
                .scope(Resolver::Scope::Shared);
            r.register_<NoAccessibility>([] { return std::make_shared<NoAccessibility>(); })
                .implements<AccessibilityHandling>();
            r.register_<RecordingExtraction>([this] { return m_extraction; }).implements<TextExtraction>();
            r.register_<QuietAnalytics>([] { return std::make_shared<QuietAnalytics>(); })
                .implements<AnalyticsCollecting>();
        });
        // Past the counts that show the usage hint, so it stays out of the way.
        UserDefaults().setValue(QStringLiteral("100"), QStringLiteral("usageCounterKey"));
        return std::make_shared<Worker>();
    }

private Q_SLOTS:
    void cleanup() { Resolver::main().reset(); }

    void flagUnknownUntilTheReadAnswers_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("a session stored") << true;
        QTest::newRow("nothing stored") << false;
    }
    void flagUnknownUntilTheReadAnswers()
    {
        QFETCH(bool, stored);
        auto keychain = silentKeychainWithSession();
        if (!stored)
            keychain->items.clear();
        TokenStorage store(keychain, 1h);
        FlagRecorder flag(store);
        QCOMPARE(keychain->readsAsked, 1);
        QTest::qWait(100);
        QCOMPARE(flag.values, QList<bool>());
        QCOMPARE(store.accessToken(), std::nullopt);

        keychain->answer();
        QCOMPARE(flag.values, QList<bool>{stored});
        QCOMPARE(store.accessToken(), stored ? std::optional(QStringLiteral("stored-access")) : std::nullopt);
        QCOMPARE(store.lastSocialLoginProvider(), stored ? std::optional(LoginMethod::google) : std::nullopt);
        FlagRecorder late(store); // a later subscriber hears it at once
        QCOMPARE(late.values, QList<bool>{stored});
    }

    void boundSignsOutForNowAndALateAnswerSignsIn()
    {
        auto keychain = silentKeychainWithSession();
        TokenStorage store(keychain, 200ms);
        FlagRecorder flag(store);
        QTRY_COMPARE(flag.values, QList<bool>{false});
        QCOMPARE(store.accessToken(), std::nullopt);

        keychain->answer();
        QCOMPARE(flag.values, QList<bool>({false, true}));
        QCOMPARE(store.refreshToken(), QStringLiteral("stored-refresh"));
    }

    void userDecisionBeforeTheLateAnswerWins_data()
    {
        QTest::addColumn<bool>("signIn");
        QTest::addColumn<bool>("afterBound");
        QTest::newRow("sign-in after the bound") << true << true;
        QTest::newRow("sign-out after the bound") << false << true;
        QTest::newRow("sign-in before the bound") << true << false;
    }
    void userDecisionBeforeTheLateAnswerWins()
    {
        QFETCH(bool, signIn);
        QFETCH(bool, afterBound);
        auto keychain = silentKeychainWithSession();
        TokenStorage store(keychain, afterBound ? 100ms : 400ms);
        FlagRecorder flag(store);
        if (afterBound)
            QTRY_COMPARE(flag.values, QList<bool>{false});
        const AuthenticationResponse mine{"my-access", "my-refresh", LoginMethod::email};
        if (signIn)
            store.saveTokens(mine);
        else
            store.wipeTokens();
        QTest::qWait(600); // past the bound in every row
        keychain->answer();

        QList<bool> expected = afterBound ? QList<bool>{false} : QList<bool>();
        expected << signIn;
        QCOMPARE(flag.values, expected);
        QCOMPARE(store.accessToken(), signIn ? std::optional(QStringLiteral("my-access")) : std::nullopt);
        // The save or delete was queued behind the read, and reached the keyring after it.
        QCOMPARE(keychain->items.value(kService), signIn ? encoded(mine) : QByteArray());
    }

    void promptWaitsForTheFlagThenRuns()
    {
        auto keychain = silentKeychainWithSession();
        auto store = std::make_shared<TokenStorage>(keychain, 1h);
        auto worker = makeWorker(store);
        m_hotkeys->subject.send(TriggeredKeyboardShortcut::typoFix);
        QTest::qWait(300);
        QCOMPARE(m_router->toasts, QStringList());
        QCOMPARE(m_extraction->captures, 0);

        keychain->answer();
        QTRY_COMPARE(m_extraction->written, QStringList{QStringLiteral("TEH CAT")});
        QCOMPARE(m_extraction->captures, 1);
        QCOMPARE(m_router->toasts, QStringList());
    }

    void promptAfterTheBoundMeetsTheSignedOutState()
    {
        auto keychain = silentKeychainWithSession();
        auto store = std::make_shared<TokenStorage>(keychain, 300ms);
        auto worker = makeWorker(store);
        m_hotkeys->subject.send(TriggeredKeyboardShortcut::typoFix);
        QTest::qWait(100);
        QCOMPARE(m_router->toasts, QStringList());
        QTRY_COMPARE(m_router->toasts, QStringList{kLogin});
        QCOMPARE(m_extraction->captures, 0);

        // An in-memory sign-in of this run makes the shortcut work.
        store->saveTokens({"my-access", "my-refresh", LoginMethod::email});
        m_extraction->selection = QStringLiteral("recieve");
        m_hotkeys->subject.send(TriggeredKeyboardShortcut::typoFix);
        QTRY_VERIFY(m_extraction->written.contains(QStringLiteral("RECIEVE")));
        QCOMPARE(m_router->toasts, QStringList{kLogin});
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("WuggTest"));
    app.setApplicationName(QStringLiteral("tst_firstread"));
    TestFirstRead test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_firstread.moc"
