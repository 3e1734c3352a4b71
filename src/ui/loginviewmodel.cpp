#include "loginviewmodel.h"

#include <analyticscollecting.h>
#include <googleauthhandling.h>
#include <resolver.h>
#include <userauthentication.h>

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QWindow>


LoginViewModel::LoginViewModel(QObject *parent)
    : QObject(parent)
    , m_authService(Resolver::main().resolve<UserAuthentication>())
    , m_googleAuthHandler(Resolver::main().resolve<GoogleAuthHandling>())
    , m_analyticsCollector(Resolver::main().resolve<AnalyticsCollecting>())
{
    applyState();
}

LoginViewModel::~LoginViewModel()
{
    // The form went away (signed in by e-mail, window closed): nobody waits
    // for the browser any more.
    cancelGoogleSignIn();
}

// The tasks run on the main thread's event loop, so every write of a
// published field below happens there.

QCoro::Task<void> LoginViewModel::requestOTPTask(QPointer<LoginViewModel> model, std::shared_ptr<UserAuthentication> auth,
                             QString email)
{
    try {
        co_await auth->requestOTP(email);
    } catch (...) {
        if (model)
            model->setLoading(false);
        co_return;
    }
    if (!model)
        co_return;
    model->setState(LoginViewModel::State::OTP);
    model->setInputFieldValue(QString());
    model->setLoading(false);
}

QCoro::Task<void> LoginViewModel::verifyOTPTask(QPointer<LoginViewModel> model, std::shared_ptr<UserAuthentication> auth, QString email,
                         QString otp)
{
    try {
        co_await auth->verifyOTP(email, otp);
    } catch (...) {
        if (model)
            model->setLoading(false);
    }
    // On success the form stays busy until the signed-in content replaces it.
}

QCoro::Task<void> LoginViewModel::googleSignInTask(QPointer<LoginViewModel> model, std::shared_ptr<UserAuthentication> auth,
                               std::shared_ptr<GoogleAuthHandling> google,
                               std::shared_ptr<AnalyticsCollecting> analytics, QPointer<QWindow> window)
{
    analytics->track(QStringLiteral("googleAuthInitiated"));
    // Presented from the form's own window, which the sign-in brings back to
    // the front once the browser is done; a hidden stand-in when there is none.
    std::unique_ptr<QWindow> standIn;
    if (!window) {
        standIn = std::make_unique<QWindow>();
        standIn->setGeometry(0, 0, 0, 0);
        window = standIn.get();
    }
    try {
        const OauthProviderUser user = co_await google->signIn(window.data(), QStringLiteral(""));
        if (model) {
            model->setGoogleSignInPending(false);
            model->setLoading(true);
        }
        co_await auth->login(user);
    } catch (...) {
        // The handler records a failed Google sign-in itself.
    }
    if (model) {
        model->setGoogleSignInPending(false);
        model->setLoading(false);
    }
}

void LoginViewModel::setInputFieldValue(const QString &value)
{
    if (m_inputFieldValue == value)
        return;
    m_inputFieldValue = value;
    Q_EMIT inputFieldValueChanged();
}

void LoginViewModel::setInputFieldLabel(const QString &label)
{
    if (m_inputFieldLabel == label)
        return;
    m_inputFieldLabel = label;
    Q_EMIT inputFieldLabelChanged();
}

void LoginViewModel::setInputFieldPlaceholder(const QString &placeholder)
{
    if (m_inputFieldPlaceholder == placeholder)
        return;
    m_inputFieldPlaceholder = placeholder;
    Q_EMIT inputFieldPlaceholderChanged();
}

void LoginViewModel::setLoading(bool loading)
{
    if (m_loading == loading)
        return;
    m_loading = loading;
    Q_EMIT loadingChanged();
}

void LoginViewModel::setGoogleSignInPending(bool pending)
{
    if (m_googleSignInPending == pending)
        return;
    m_googleSignInPending = pending;
    Q_EMIT googleSignInPendingChanged();
}

void LoginViewModel::setPresentingWindow(QWindow *window)
{
    if (m_presentingWindow == window)
        return;
    m_presentingWindow = window;
    Q_EMIT presentingWindowChanged();
}

void LoginViewModel::setState(State state)
{
    const bool changed = m_state != state;
    m_state = state;
    applyState();
    if (changed)
        Q_EMIT stateChanged();
}

void LoginViewModel::applyState()
{
    switch (m_state) {
    case State::OTP:
        setInputFieldValue(QString());
        setInputFieldLabel(tr("One Time Password"));
        setInputFieldPlaceholder(tr("Enter the OTP sent to your email"));
        break;
    case State::Email:
        m_email.clear();
        setInputFieldValue(QString());
        setInputFieldLabel(tr("Email"));
        setInputFieldPlaceholder(tr("Enter your email"));
        break;
    }
}

void LoginViewModel::submit()
{
    // Nothing is trimmed: a field of spaces is sent as it is. A request that
    // is still running does not hold back another one.
    if (m_inputFieldValue.isEmpty())
        return;
    if (m_state == State::OTP)
        verifyOTP();
    else
        continueWithEmail();
}

void LoginViewModel::continueWithEmail()
{
    m_analyticsCollector->track(QStringLiteral("continueWithEmail"));
    m_email = m_inputFieldValue;
    setLoading(true);
    requestOTPTask(QPointer<LoginViewModel>(this), m_authService, m_email);
}

void LoginViewModel::verifyOTP()
{
    setLoading(true);
    verifyOTPTask(QPointer<LoginViewModel>(this), m_authService, m_email, m_inputFieldValue);
}

void LoginViewModel::signInWithGoogle()
{
    // Only the exchange with the backend makes the form busy; the wait for
    // the browser, however long, does not.
    setGoogleSignInPending(true);
    googleSignInTask(QPointer<LoginViewModel>(this), m_authService, m_googleAuthHandler, m_analyticsCollector,
                     m_presentingWindow);
}

void LoginViewModel::cancelGoogleSignIn()
{
    if (m_googleSignInPending)
        m_googleAuthHandler->signOut();
}
