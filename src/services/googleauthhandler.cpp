#include "googleauthhandler.h"

#include <resolver.h>

#include <QtGlobal>

#include <coroutine>

namespace {

// Suspends the caller until the sign-in library calls its completion, and
// resumes it exactly once with what the completion brought.
class SignInCompletion
{
public:
    struct Outcome
    {
        std::shared_ptr<const GoogleSignInResult> result;
        std::shared_ptr<const GoogleSignInError> error;
    };

    SignInCompletion(GoogleSignIn &library, QWindow *window, QString hint)
        : m_library(library)
        , m_window(window)
        , m_hint(std::move(hint))
    {
    }
    SignInCompletion(SignInCompletion &&) = default; // the task's promise takes awaitables by value
    SignInCompletion(const SignInCompletion &) = delete;
    SignInCompletion &operator=(const SignInCompletion &) = delete;

    // A caller torn down while waiting must not be resumed later.
    ~SignInCompletion()
    {
        if (m_suspended && m_shared)
            m_shared->waiting = {};
    }

    bool await_ready() const noexcept { return false; }

    bool await_suspend(std::coroutine_handle<> caller)
    {
        m_library.signIn(m_window, m_hint, [shared = m_shared](auto result, auto error) {
            if (shared->done) {
                qWarning("Google sign-in: a completion arrived twice; the second one is ignored");
                return;
            }
            shared->done = true;
            shared->outcome = {std::move(result), std::move(error)};
            if (auto waiting = std::exchange(shared->waiting, {}))
                waiting.resume();
        });
        if (m_shared->done)
            return false; // completed within the call: carry on without suspending
        m_shared->waiting = caller;
        m_suspended = true;
        return true;
    }

    Outcome await_resume() { return std::move(m_shared->outcome); }

private:
    struct Shared
    {
        bool done = false;
        std::coroutine_handle<> waiting;
        Outcome outcome;
    };

    GoogleSignIn &m_library;
    QWindow *m_window;
    QString m_hint;
    bool m_suspended = false;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};

} // namespace

IncompleteGoogleUserError::IncompleteGoogleUserError()
    : std::runtime_error("Google sign-in finished without the account's name, e-mail address and ID token.")
{
}

GoogleAuthHandler::GoogleAuthHandler()
    : GoogleAuthHandler(Injected<GoogleSignIn>().get(), Injected<AnalyticsCollecting>().get())
{
}

GoogleAuthHandler::GoogleAuthHandler(std::shared_ptr<GoogleSignIn> handler_,
                                     std::shared_ptr<AnalyticsCollecting> analyticsCollector_)
    : handler(std::move(handler_))
    , analyticsCollector(std::move(analyticsCollector_))
{
}

QCoro::Task<OauthProviderUser> GoogleAuthHandler::signIn(QWindow *presenting, QString hint)
{
    // Both fields stay alive for the whole wait even if this handler goes.
    const auto library = handler;
    const auto analytics = analyticsCollector;
    const SignInCompletion::Outcome outcome = co_await SignInCompletion(*library, presenting, std::move(hint));

    if (outcome.error) {
        analytics->track(QStringLiteral("googleAuthFailed"), {{QStringLiteral("error"), outcome.error->description()}});
        throw GoogleSignInError(*outcome.error);
    }
    const GoogleUser *user = outcome.result ? outcome.result->user.get() : nullptr;
    if (!user || !user->profile || !user->idToken)
        throw IncompleteGoogleUserError();

    analytics->track(QStringLiteral("googleAuthSuccessful"));
    co_return OauthProviderUser{
        user->profile->name.toStdString(),
        user->idToken->tokenString.toStdString(),
        user->profile->email.toStdString(),
        corvane::LoginMethod::google,
    };
}

void GoogleAuthHandler::signOut()
{
    handler->signOut();
}
