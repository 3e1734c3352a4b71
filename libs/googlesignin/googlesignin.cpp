#include "googlesignin.h"

#include "googlesigninflow.h"

#include <buildconfig.h>

#include <QHostAddress>

GoogleSignInError::GoogleSignInError(Code code, QString description)
    : m_code(code)
    , m_description(std::move(description))
    , m_what(m_description.toUtf8())
{
}

GoogleSignIn::Configuration::Configuration() = default;

namespace {

// Only https, or http to this machine: the codes and tokens never cross a
// network in the clear.
void overrideEndpoint(QUrl &endpoint, const char *variable)
{
    const QString value = qEnvironmentVariable(variable);
    if (value.isEmpty())
        return;
    const QUrl url(value, QUrl::StrictMode);
    const bool loopback = QHostAddress(url.host()).isLoopback() || url.host() == QLatin1String("localhost");
    if (url.isValid() && (url.scheme() == QLatin1String("https") || (url.scheme() == QLatin1String("http") && loopback)))
        endpoint = url;
    else
        qWarning("%s is not an https URL (or http on loopback); using Google's", variable);
}

} // namespace

std::shared_ptr<GoogleSignIn> GoogleSignIn::shared()
{
    // The desktop client's identifier is built in, as the platform library
    // would read it from the application's information list.
    static const std::shared_ptr<GoogleSignIn> instance = [] {
        Configuration configuration;
        configuration.clientId = QString::fromUtf8(BuildConfig::kGoogleClientId);
        // A stand-in of Google's servers, for tests and development.
        if (const QString id = qEnvironmentVariable("WUGGIT_GOOGLE_CLIENT_ID"); !id.isEmpty())
            configuration.clientId = id;
        overrideEndpoint(configuration.authorizationEndpoint, "WUGGIT_GOOGLE_AUTHORIZATION_URL");
        overrideEndpoint(configuration.tokenEndpoint, "WUGGIT_GOOGLE_TOKEN_URL");
        return std::make_shared<GoogleSignIn>(std::move(configuration));
    }();
    return instance;
}

GoogleSignIn::GoogleSignIn(Configuration configuration)
    : m_configuration(std::move(configuration))
{
}

GoogleSignIn::~GoogleSignIn()
{
    if (m_flow)
        m_flow->cancel(QStringLiteral("Google sign-in was cancelled."));
}

void GoogleSignIn::setConfiguration(Configuration configuration)
{
    m_configuration = std::move(configuration);
}

void GoogleSignIn::signIn(QWindow *presentingWindow, const QString &hint, Completion completion)
{
    if (m_flow)
        m_flow->cancel(QStringLiteral("Google sign-in was cancelled because another sign-in started."));
    auto *flow = new GoogleSignInFlow(this, m_configuration, presentingWindow, hint, std::move(completion));
    m_flow = flow;
    flow->start(); // may end at once (no browser, no port); flowEnded clears m_flow then
}

void GoogleSignIn::signOut()
{
    m_currentUser.reset();
    if (m_flow)
        m_flow->cancel(QStringLiteral("Google sign-in was cancelled by signing out."));
}

void GoogleSignIn::flowEnded(GoogleSignInFlow *flow, std::shared_ptr<const GoogleUser> user)
{
    if (m_flow == flow)
        m_flow = nullptr;
    if (user)
        m_currentUser = std::move(user);
}
