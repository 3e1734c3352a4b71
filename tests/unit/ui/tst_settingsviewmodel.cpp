// The settings and onboarding windows' model against the loopback backend:
// which requests a refresh and a sign-out send, and what the windows show.

#include "uienvironment.h"

#include <settledtask.h>
#include <settingsviewmodel.h>

using Flow = SettingsViewModel::UserStartingFlow;

class TestSettingsViewModel : public QObject
{
    Q_OBJECT

private:
    UiEnvironment m_env;

    // Whether the model has been loading since the watch began: a quick
    // answer can start and end the loading between two looks at it.
    class LoadingWatch
    {
    public:
        explicit LoadingWatch(SettingsViewModel &model) : m_seen(model.loading())
        {
            QObject::connect(&model, &SettingsViewModel::loadingChanged, &m_context,
                             [this, &model] { m_seen = m_seen || model.loading(); });
        }
        bool seen() const { return m_seen; }

    private:
        bool m_seen;
        QObject m_context;
    };

    static void waitIdle(const SettingsViewModel &model)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!model.loading(), 10000);
    }

    // A model that has taken in the signed-in flag and finished what it started.
    static void waitSettled(SettingsViewModel &model, Flow flow)
    {
        QTRY_VERIFY_WITH_TIMEOUT(model.userStartingFlow() == flow && !model.loading(), 10000);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_env.start()); }
    void init() { m_env.reset(); }

    void aNewModelFollowsTheStoredSession()
    {
        SettingsViewModel signedOut;
        // The first value comes on a later turn of the main loop.
        QCOMPARE(signedOut.userStartingFlow(), Flow::Cleared);
        QVERIFY(!signedOut.loading());
        QTRY_COMPARE_WITH_TIMEOUT(signedOut.userStartingFlow(), Flow::Unauthenticated, 10000);
        QVERIFY(!signedOut.loading());
        QVERIFY(m_env.backend.requests().isEmpty());

        m_env.signIn();
        SettingsViewModel signedIn;
        QTRY_VERIFY_WITH_TIMEOUT(signedIn.loading(), 10000);
        waitSettled(signedIn, Flow::Cleared);
        QCOMPARE(m_env.requestsTo("metadata/info"), 2); // the live signed-out model refreshed too
        QCOMPARE(m_env.requestsTo("user/profile"), 2);
        waitSettled(signedOut, Flow::Cleared);
    }

    void everyLiveModelRefreshesOnItsOwnProfile()
    {
        SettingsViewModel first;
        SettingsViewModel second;
        QTRY_VERIFY_WITH_TIMEOUT(first.userStartingFlow() == Flow::Unauthenticated
                                     && second.userStartingFlow() == Flow::Unauthenticated,
                                 10000);
        // One of the two profile requests fails: that window keeps the form.
        m_env.backend.scriptError(QStringLiteral("user/profile"), 500, QStringLiteral("down"));
        m_env.signIn();
        QTRY_COMPARE_WITH_TIMEOUT(m_env.requestsTo("user/profile"), 2, 10000);
        waitIdle(first);
        waitIdle(second);
        QCOMPARE(int(first.userStartingFlow() == Flow::Cleared) + int(second.userStartingFlow() == Flow::Cleared), 1);

        // A later refresh of the one left behind succeeds.
        SettingsViewModel &behind = first.userStartingFlow() == Flow::Cleared ? second : first;
        behind.refresh();
        waitSettled(behind, Flow::Cleared);
    }

    void aRefreshWhileBusySendsNothing()
    {
        m_env.signIn();
        SettingsViewModel model;
        const LoadingWatch watch(model);
        QTRY_VERIFY_WITH_TIMEOUT(watch.seen(), 10000);
        waitSettled(model, Flow::Cleared);
        m_env.backend.clearRequests();

        m_env.answer(QStringLiteral("metadata/info"), 200, R"({"minVersion":"1.0.0","latestVersion":"1.0.0"})", 300);
        model.refresh();
        QVERIFY(model.loading());
        model.refresh();
        waitSettled(model, Flow::Cleared);
        QCOMPARE(m_env.requestsTo("metadata/info"), 1);
        QCOMPARE(m_env.requestsTo("user/profile"), 1);

        m_env.answer(QStringLiteral("auth/logout"), 200, "{}", 300);
        model.signOutUser();
        model.refresh();
        waitSettled(model, Flow::Unauthenticated);
        QCOMPARE(m_env.requestsTo("metadata/info"), 1);
        QCOMPARE(m_env.requestsTo("auth/logout"), 1);
    }

    void aRefreshWhileSignedOutFetchesNoProfile()
    {
        SettingsViewModel model;
        waitSettled(model, Flow::Unauthenticated);
        model.refresh();
        QVERIFY(model.loading());
        QTRY_COMPARE_WITH_TIMEOUT(m_env.requestsTo("metadata/info"), 1, 10000);
        waitIdle(model);
        QCOMPARE(model.userStartingFlow(), Flow::Unauthenticated);
        QCOMPARE(m_env.requestsTo("user/profile"), 0);
    }

    void aFailedMetadataRequestSkipsTheProfile_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("never");
        QTest::newRow("refused") << 503 << QByteArray(R"({"error":"down"})") << false;
        QTest::newRow("garbage") << 200 << QByteArray("not json") << false;
        QTest::newRow("no answer") << 200 << QByteArray() << true;
    }

    void aFailedMetadataRequestSkipsTheProfile()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, never);
        SettingsViewModel model;
        waitSettled(model, Flow::Unauthenticated);
        m_env.answer(QStringLiteral("metadata/info"), status, body, 0, never);
        const LoadingWatch watch(model);
        m_env.signIn();
        QTRY_VERIFY_WITH_TIMEOUT(watch.seen(), 10000);
        waitIdle(model);
        QCOMPARE(m_env.requestsTo("metadata/info"), 1);
        QCOMPARE(m_env.requestsTo("user/profile"), 0);
        // A freshly signed-in user still sees the form until a later refresh.
        QCOMPARE(model.userStartingFlow(), Flow::Unauthenticated);
        model.refresh();
        waitSettled(model, Flow::Cleared);
    }

    void withoutAVersionTheProfileDoesNotWaitForTheMetadata()
    {
        m_env.answer(QStringLiteral("metadata/info"), 200, {}, 0, true);
        m_env.signIn();
        SettingsViewModel model(std::nullopt);
        const LoadingWatch watch(model);
        QTRY_VERIFY_WITH_TIMEOUT(watch.seen(), 10000);
        waitSettled(model, Flow::Cleared);
        QCOMPARE(m_env.requestsTo("user/profile"), 1);
    }

    void aModelGoneDuringItsRefreshIsLeftAlone()
    {
        m_env.signIn();
        auto model = std::make_unique<SettingsViewModel>();
        m_env.answer(QStringLiteral("metadata/info"), 200, R"({"minVersion":"1.0.0","latestVersion":"1.0.0"})", 300);
        QTRY_VERIFY_WITH_TIMEOUT(model->loading(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(m_env.requestsTo("metadata/info"), 1, 10000);
        model.reset();
        // The metadata answer comes back to a task whose model is gone.
        QTest::qWait(600);
        QCOMPARE(m_env.requestsTo("user/profile"), 0);
    }

    void signOutWipesTheSessionWhateverTheAnswer_data()
    {
        QTest::addColumn<bool>("google");
        QTest::addColumn<int>("status"); // 0: the backend's own answer
        QTest::addColumn<bool>("never");
        QTest::addColumn<bool>("outOfGoogle");
        QTest::newRow("e-mail") << false << 0 << false << false;
        QTest::newRow("e-mail, refused") << false << 500 << false << false;
        QTest::newRow("e-mail, no answer") << false << 200 << true << false;
        QTest::newRow("google") << true << 0 << false << true;
        QTest::newRow("google, refused") << true << 500 << false << false;
    }

    void signOutWipesTheSessionWhateverTheAnswer()
    {
        QFETCH(bool, google);
        QFETCH(int, status);
        QFETCH(bool, never);
        QFETCH(bool, outOfGoogle);
        if (google) {
            const auto signedIn = settle(m_env.googleHandler->signIn(nullptr, QString()));
            QVERIFY(!signedIn.failure);
            QVERIFY(m_env.googleSignIn->currentUser());
        }
        m_env.signIn(google ? corvane::LoginMethod::google : corvane::LoginMethod::email);
        SettingsViewModel model;
        const LoadingWatch watch(model);
        QTRY_VERIFY_WITH_TIMEOUT(watch.seen(), 10000);
        waitSettled(model, Flow::Cleared);
        if (status)
            m_env.answer(QStringLiteral("auth/logout"), status, R"({"error":"no"})", 0, never);

        model.signOutUser();
        QVERIFY(model.loading());
        waitSettled(model, Flow::Unauthenticated);
        QCOMPARE(m_env.requestsTo("auth/logout"), 1);
        QVERIFY(!m_env.tokens->accessToken());
        QVERIFY(!m_env.tokens->lastSocialLoginProvider());
        if (google)
            QCOMPARE(m_env.googleSignIn->currentUser() == nullptr, outOfGoogle);

        // A later sign-in refreshes the model as usual.
        m_env.signIn();
        waitSettled(model, Flow::Cleared);
    }

    void signOutWithNothingStoredSendsNothing()
    {
        SettingsViewModel model;
        waitSettled(model, Flow::Unauthenticated);
        model.signOutUser();
        waitIdle(model);
        // A refresh afterwards is the only traffic.
        model.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(m_env.requestsTo("metadata/info"), 1, 10000);
        waitIdle(model);
        QCOMPARE(m_env.backend.requests().size(), 1);
    }
};

QTEST_MAIN(TestSettingsViewModel)
#include "tst_settingsviewmodel.moc"
