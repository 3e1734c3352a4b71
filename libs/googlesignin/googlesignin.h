#pragma once

// Google sign-in for a desktop program: OAuth 2.0 for installed apps. The
// system browser shows Google's consent page, Google redirects back to a
// listener on the loopback interface, and the authorization code is exchanged
// (with PKCE) for tokens. The ID token is what the backend wants; it verifies
// the signature, so this side only reads the profile claims from it.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QWindow;

class GoogleSignInFlow;

// Why a sign-in ended without a user.
class GoogleSignInError : public std::exception
{
public:
    enum class Code {
        canceled,           // another sign-in or a sign-out ended this one
        accessDenied,       // Google answered with an error (the user said no, ...)
        stateMismatch,      // the redirect did not belong to this sign-in
        timedOut,           // the browser never came back
        browserUnavailable, // no browser could be opened
        listenFailed,       // no loopback port to receive the redirect on
        network,            // the token endpoint could not be reached
        tokenExchangeFailed, // the token endpoint refused the code
        invalidResponse,    // an answer that could not be read
        notConfigured,      // no client identifier
    };

    GoogleSignInError(Code code, QString description);

    Code code() const { return m_code; }
    // A sentence for people; never holds a token or the code.
    QString description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Code m_code;
    QString m_description;
    QByteArray m_what;
};

struct GoogleProfileData
{
    QString name;
    QString email;
};

struct GoogleToken
{
    QString tokenString;
};

struct GoogleUser
{
    std::optional<GoogleProfileData> profile; // absent when the ID token has no name or e-mail
    std::optional<GoogleToken> idToken;       // absent when Google sent none
    GoogleToken accessToken;
};

struct GoogleSignInResult
{
    std::shared_ptr<const GoogleUser> user;
};

class GoogleSignIn
{
public:
    struct Configuration
    {
        QString clientId;
        QUrl authorizationEndpoint{QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth")};
        QUrl tokenEndpoint{QStringLiteral("https://oauth2.googleapis.com/token")};
        QString scopes = QStringLiteral("openid email profile");
        std::chrono::milliseconds timeout = std::chrono::minutes(5);
        // Shows the authorization page; false when no browser could be started.
        // Unset: xdg-open (or $BROWSER), whose failure ends the sign-in.
        std::function<bool(const QUrl &)> openBrowser;

        Configuration();
    };

    // Exactly one of the two is set.
    using Completion = std::function<void(std::shared_ptr<const GoogleSignInResult> result,
                                          std::shared_ptr<const GoogleSignInError> error)>;

    // The process-wide instance.
    static std::shared_ptr<GoogleSignIn> shared();

    explicit GoogleSignIn(Configuration configuration = {});
    ~GoogleSignIn();
    GoogleSignIn(const GoogleSignIn &) = delete;
    GoogleSignIn &operator=(const GoogleSignIn &) = delete;

    const Configuration &configuration() const { return m_configuration; }
    // Applies from the next sign-in on.
    void setConfiguration(Configuration configuration);

    // Runs the interactive sign-in. The completion is called exactly once,
    // always from the event loop and never from within this call. A sign-in
    // still running is cancelled first. When it succeeds the presenting
    // window is raised again, since the browser took the focus.
    void signIn(QWindow *presentingWindow, const QString &hint, Completion completion);

    // Forgets the signed-in user and the tokens kept in memory, and cancels a
    // running sign-in.
    void signOut();

    std::shared_ptr<const GoogleUser> currentUser() const { return m_currentUser; }
    bool isSigningIn() const { return m_flow != nullptr; }

private:
    friend class GoogleSignInFlow;
    void flowEnded(GoogleSignInFlow *flow, std::shared_ptr<const GoogleUser> user);

    Configuration m_configuration;
    GoogleSignInFlow *m_flow = nullptr;
    std::shared_ptr<const GoogleUser> m_currentUser;
};
