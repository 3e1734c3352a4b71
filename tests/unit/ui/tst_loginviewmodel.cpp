// The sign-in form's model against the loopback backend and Google stand-ins:
// what each step sends, what it leaves in the form, and that failures only
// end the busy state.

#include "uienvironment.h"

#include <loginviewmodel.h>

#include <QSignalSpy>

using State = LoginViewModel::State;
Q_DECLARE_METATYPE(GoogleAuthStandIn::Script)

class TestLoginViewModel : public QObject
{
    Q_OBJECT

private:
    UiEnvironment m_env;

    // Asks for a one-time password for email and waits for the OTP step.
    void reachOtpStep(LoginViewModel &model, const QString &email)
    {
        model.setInputFieldValue(email);
        model.submit();
        QTRY_VERIFY_WITH_TIMEOUT(model.state() == State::OTP && !model.loading(), 10000);
    }

    void verifyEmailStep(const LoginViewModel &model)
    {
        QCOMPARE(model.state(), State::Email);
        QCOMPARE(model.inputFieldLabel(), QStringLiteral("Email"));
        QCOMPARE(model.inputFieldPlaceholder(), QStringLiteral("Enter your email"));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_env.start()); }
    void init() { m_env.reset(); }

    void emptyFieldSendsNothingButALoneSpaceIsSent()
    {
        LoginViewModel model;
        verifyEmailStep(model);
        QCOMPARE(model.inputFieldValue(), QString());
        QVERIFY(!model.loading());

        model.submit();
        QVERIFY(!model.loading());
        QVERIFY(m_env.analytics->events.isEmpty());

        model.setInputFieldValue(QStringLiteral(" "));
        model.submit();
        QVERIFY(model.loading());
        QTRY_VERIFY_WITH_TIMEOUT(!model.loading(), 10000);
        // Only the second submit reached the backend, with the space untrimmed.
        const auto sent = m_env.backend.requests();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].path, QStringLiteral("auth/request-otp"));
        QCOMPARE(sent[0].json.value(QStringLiteral("email")).toString(), QStringLiteral(" "));
        QCOMPARE(m_env.analytics->events, QStringList{QStringLiteral("continueWithEmail")});
    }

    void addressesAreSentAsTyped_data()
    {
        QTest::addColumn<QString>("email");
        QTest::newRow("10,000 characters") << QString(9988, QLatin1Char('a')) + QStringLiteral("@example.org");
        QTest::newRow("control characters") << QStringLiteral("a\tb\u0001c\nd@example.org");
        QTest::newRow("surrounding spaces") << QStringLiteral("  ann@example.org ");
    }

    void addressesAreSentAsTyped()
    {
        QFETCH(QString, email);
        m_env.answer(QStringLiteral("auth/request-otp"), 200, "{}");
        LoginViewModel model;
        reachOtpStep(model, email);
        QCOMPARE(m_env.backend.requestsTo(QStringLiteral("auth/request-otp")).value(0).json.value(
                     QStringLiteral("email")).toString(),
                 email);
        QCOMPARE(model.email(), email);
    }

    void successfulRequestSwitchesToOtpStep()
    {
        LoginViewModel model;
        QSignalSpy placeholders(&model, &LoginViewModel::inputFieldPlaceholderChanged);
        reachOtpStep(model, QStringLiteral("ann@example.org"));
        QCOMPARE(model.inputFieldValue(), QString());
        QCOMPARE(model.inputFieldLabel(), QStringLiteral("One Time Password"));
        QCOMPARE(model.inputFieldPlaceholder(), QStringLiteral("Enter the OTP sent to your email"));
        QCOMPARE(model.email(), QStringLiteral("ann@example.org"));
        QCOMPARE(placeholders.size(), 1);
        QVERIFY(!m_env.tokens->accessToken());
    }

    void failedRequestStaysInEmailStep_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("never");
        QTest::newRow("refused") << 422 << 0 << false;
        QTest::newRow("server error") << 500 << 0 << false;
        QTest::newRow("no answer") << 200 << 0 << true;
    }

    void failedRequestStaysInEmailStep()
    {
        QFETCH(int, status);
        QFETCH(int, delayMs);
        QFETCH(bool, never);
        m_env.answer(QStringLiteral("auth/request-otp"), status, R"({"error":"no"})", delayMs, never);
        LoginViewModel model;
        model.setInputFieldValue(QStringLiteral("ann@example.org"));
        model.submit();
        QVERIFY(model.loading());
        QTRY_VERIFY_WITH_TIMEOUT(!model.loading(), 10000);
        verifyEmailStep(model);
        QCOMPARE(model.inputFieldValue(), QStringLiteral("ann@example.org"));
        QCOMPARE(m_env.requestsTo("auth/request-otp"), 1);
    }

    void requestNewOtpReturnsToEmailStepWithoutARequest()
    {
        LoginViewModel model;
        reachOtpStep(model, QStringLiteral("ann@example.org"));
        model.setInputFieldValue(QStringLiteral("123"));
        QSignalSpy states(&model, &LoginViewModel::stateChanged);

        model.setState(State::Email);
        QCOMPARE(states.size(), 1);
        verifyEmailStep(model);
        QCOMPARE(model.inputFieldValue(), QString());
        QCOMPARE(model.email(), QString());
        QVERIFY(!model.loading());
        // The emptied field sends nothing either; the next address starts over.
        model.submit();
        reachOtpStep(model, QStringLiteral("bob@example.org"));
        const auto sent = m_env.backend.requests();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[1].json.value(QStringLiteral("email")).toString(), QStringLiteral("bob@example.org"));
    }

    void wrongPasswordKeepsTheOtpStep_data()
    {
        QTest::addColumn<QString>("path"); // empty: the backend's own refusal
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("never");
        QTest::newRow("wrong password") << QString() << 0 << QByteArray() << false;
        QTest::newRow("server error") << QStringLiteral("auth/verify-otp") << 503 << QByteArray("{}") << false;
        QTest::newRow("garbage") << QStringLiteral("auth/verify-otp") << 200 << QByteArray("<html>ok</html>") << false;
        QTest::newRow("tokens missing") << QStringLiteral("auth/verify-otp") << 200 << QByteArray(R"({"a":1})") << false;
        QTest::newRow("no answer") << QStringLiteral("auth/verify-otp") << 200 << QByteArray() << true;
    }

    void wrongPasswordKeepsTheOtpStep()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, never);
        const QString email = QStringLiteral("ann@example.org");
        LoginViewModel model;
        reachOtpStep(model, email);
        if (!path.isEmpty())
            m_env.answer(path, status, body, 0, never);
        const QString typed = path.isEmpty() ? QStringLiteral("000000x") : m_env.backend.otpFor(email);
        model.setInputFieldValue(typed);
        model.submit();
        QVERIFY(model.loading());
        QTRY_VERIFY_WITH_TIMEOUT(!model.loading(), 10000);
        QCOMPARE(model.state(), State::OTP);
        QCOMPARE(model.inputFieldValue(), typed);
        QCOMPARE(model.email(), email);
        QVERIFY(!m_env.tokens->accessToken());
        QVERIFY(!m_env.tokens->lastSocialLoginProvider());
        const auto sent = m_env.backend.requestsTo(QStringLiteral("auth/verify-otp"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].json.value(QStringLiteral("email")).toString(), email);
        QCOMPARE(sent[0].json.value(QStringLiteral("otp")).toString(), typed);
    }

    void correctPasswordStoresTokensAndStaysBusy()
    {
        const QString email = QStringLiteral("ann@example.org");
        LoginViewModel model;
        reachOtpStep(model, email);
        model.setInputFieldValue(m_env.backend.otpFor(email));
        model.submit();
        QTRY_VERIFY_WITH_TIMEOUT(m_env.tokens->accessToken().has_value(), 10000);
        QCOMPARE(m_env.backend.requestsTo(QStringLiteral("auth/verify-otp")).value(0).status, 200);
        // The form goes only when the signed-in content replaces it.
        QTest::qWait(100);
        QVERIFY(model.loading());
        QCOMPARE(model.state(), State::OTP);
    }

    void twoRapidSubmitsSendTwoRequests()
    {
        m_env.answer(QStringLiteral("auth/request-otp"), 200, "{}", 300);
        LoginViewModel model;
        model.setInputFieldValue(QStringLiteral("ann@example.org"));
        model.submit();
        model.submit();
        QTRY_VERIFY_WITH_TIMEOUT(m_env.requestsTo("auth/request-otp") == 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!model.loading(), 10000);
        QCOMPARE(model.state(), State::OTP);
        QCOMPARE(m_env.analytics->events.count(QStringLiteral("continueWithEmail")), 2);
    }

    void googleSignInExchangesTheAccount()
    {
        m_env.google.setAccount(QStringLiteral("Ann Lee"), QStringLiteral("ann@example.org"));
        LoginViewModel model;
        model.signInWithGoogle();
        // The wait for the browser leaves the e-mail path usable.
        QVERIFY(model.googleSignInPending() && !model.loading());
        QTRY_VERIFY_WITH_TIMEOUT(!model.googleSignInPending() && !model.loading(), 15000);
        const auto sent = m_env.backend.requestsTo(QStringLiteral("auth/token"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].json.value(QStringLiteral("provider")).toString(), QStringLiteral("google"));
        QCOMPARE(sent[0].json.value(QStringLiteral("email")).toString(), QStringLiteral("ann@example.org"));
        QVERIFY(m_env.tokens->lastSocialLoginProvider() == corvane::LoginMethod::google);
        QVERIFY(m_env.analytics->events.contains(QStringLiteral("googleAuthInitiated")));
        verifyEmailStep(model);
    }

    void failedGoogleSignInOnlyEndsTheBusyState_data()
    {
        QTest::addColumn<GoogleAuthStandIn::Script>("script");
        QTest::addColumn<bool>("backendRefuses");
        QTest::addColumn<int>("backendRequests");
        QTest::newRow("cancelled") << GoogleAuthStandIn::Script::deny << false << 0;
        QTest::newRow("token exchange failed") << GoogleAuthStandIn::Script::tokenFailure << false << 0;
        QTest::newRow("backend refuses") << GoogleAuthStandIn::Script::grant << true << 1;
    }

    void failedGoogleSignInOnlyEndsTheBusyState()
    {
        QFETCH(GoogleAuthStandIn::Script, script);
        QFETCH(bool, backendRefuses);
        QFETCH(int, backendRequests);
        m_env.google.setScript(script);
        if (backendRefuses)
            m_env.backend.scriptError(QStringLiteral("auth/token"), 401, QStringLiteral("no"));
        LoginViewModel model;
        reachOtpStep(model, QStringLiteral("ann@example.org"));
        model.setInputFieldValue(QStringLiteral("12"));
        model.signInWithGoogle();
        QVERIFY(model.googleSignInPending());
        QTRY_VERIFY_WITH_TIMEOUT(!model.googleSignInPending() && !model.loading(), 15000);
        QCOMPARE(m_env.requestsTo("auth/token"), backendRequests);
        QCOMPARE(m_env.backend.requests().size(), 1 + backendRequests);
        QVERIFY(!m_env.tokens->accessToken());
        // The step and the field are the user's to go on with.
        QCOMPARE(model.state(), State::OTP);
        QCOMPARE(model.inputFieldValue(), QStringLiteral("12"));
    }
};

QTEST_MAIN(TestLoginViewModel)
#include "tst_loginviewmodel.moc"
