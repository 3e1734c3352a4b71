#include "settingsviewmodel.h"

#include <buildconfig.h>
#include <cancellation.h>
#include <corvane.h>
#include <googleauthhandling.h>
#include <metadataserving.h>
#include <resolver.h>
#include <userauthentication.h>
#include <userserving.h>

SettingsViewModel::SettingsViewModel(QObject *parent)
    : SettingsViewModel(QString::fromLatin1(BuildConfig::kShortVersion), parent)
{
}

SettingsViewModel::SettingsViewModel(std::optional<QString> appVersion, QObject *parent)
    : QObject(parent)
    , m_authService(Resolver::main().resolve<UserAuthentication>())
    , m_metadataService(Resolver::main().resolve<MetadataServing>())
    , m_userService(Resolver::main().resolve<UserServing>())
    , m_googleAuthHandler(Resolver::main().resolve<GoogleAuthHandling>())
    , m_tokenStorage(Resolver::main().resolve<corvane::TokenStoring>())
    , m_appVersion(appVersion && !appVersion->isEmpty() ? appVersion : std::nullopt)
{
    // The keychain has not answered yet: signed out for now, the form shows
    // until it does. (A known flag is sent to a new subscriber at once.)
    bool flagKnown = false;
    m_tokenStorage->isLoggedIn().sink([&flagKnown](const bool &) { flagKnown = true; }).cancel();
    if (!flagKnown)
        m_userStartingFlow = UserStartingFlow::Unauthenticated;

    // Delivered on a later turn of the main loop, the first value too. The
    // subscription ends with the model, so `this` is never used after it.
    m_tokenStorage->isLoggedIn()
        .receiveOnMain()
        .sink([this](const bool &loggedIn) {
            // Stored first: the refresh started below reads it.
            m_userLoggedIn = loggedIn;
            if (loggedIn)
                refresh();
            else
                setUserStartingFlow(UserStartingFlow::Unauthenticated);
        })
        .store(m_cancellables);
}

SettingsViewModel::~SettingsViewModel() = default;

void SettingsViewModel::setLoading(bool loading)
{
    if (m_loading == loading)
        return;
    m_loading = loading;
    Q_EMIT loadingChanged();
}

void SettingsViewModel::setUserStartingFlow(UserStartingFlow flow)
{
    if (m_userStartingFlow == flow)
        return;
    m_userStartingFlow = flow;
    Q_EMIT userStartingFlowChanged();
}

void SettingsViewModel::refresh()
{
    // A refresh or a sign-out is running: this one is dropped.
    if (m_loading)
        return;
    setLoading(true);
    refreshTask(QPointer<SettingsViewModel>(this), m_metadataService, m_userService, m_appVersion);
}

QCoro::Task<void> SettingsViewModel::refreshTask(QPointer<SettingsViewModel> model,
                                                 std::shared_ptr<MetadataServing> metadataService,
                                                 std::shared_ptr<UserServing> userService,
                                                 std::optional<QString> appVersion)
{
    // The metadata request runs beside the rest; a refresh that ends before
    // waiting for it abandons it, and still waits for it to wind down.
    auto cancellation = std::make_shared<corvane::Cancellation>();
    std::optional<QCoro::Task<Metadata>> metadata;
    {
        const corvane::CancellationScope scope(cancellation);
        metadata.emplace(metadataService->fetchMetadata());
    }
    bool metadataAwaited = false;

    // Every early end breaks out to the clean-up of the child below.
    do {
        if (appVersion) {
            bool fetched = true;
            try {
                co_await std::move(*metadata);
            } catch (...) {
                fetched = false;
            }
            metadataAwaited = true;
            if (!fetched) {
                if (model)
                    model->setLoading(false);
                break;
            }
        }
        if (!model)
            break;
        if (!model->m_userLoggedIn) {
            model->setLoading(false);
            break;
        }
        bool profileFetched = true;
        try {
            co_await userService->fetchProfile();
        } catch (...) {
            profileFetched = false;
        }
        if (!model)
            break;
        if (profileFetched)
            model->setUserStartingFlow(UserStartingFlow::Cleared);
        model->setLoading(false);
    } while (false);

    if (!metadataAwaited) {
        cancellation->cancel();
        try {
            co_await std::move(*metadata);
        } catch (...) {
            // Abandoned: its answer is not wanted.
        }
    }
}

void SettingsViewModel::signOutUser()
{
    // No guard: the views disable "Sign Out" while the model is busy.
    setLoading(true);
    signOutTask(QPointer<SettingsViewModel>(this), m_authService, m_googleAuthHandler, m_tokenStorage);
}

QCoro::Task<void> SettingsViewModel::signOutTask(QPointer<SettingsViewModel> model,
                                                 std::shared_ptr<UserAuthentication> authService,
                                                 std::shared_ptr<GoogleAuthHandling> googleAuthHandler,
                                                 std::shared_ptr<corvane::TokenStoring> tokenStorage)
{
    // logout() wipes the tokens whatever the answer; the signed-in flag then
    // turns every window back to the sign-in form.
    const std::optional<corvane::LoginMethod> provider = tokenStorage->lastSocialLoginProvider();
    if (provider) {
        try {
            co_await authService->logout();
            // Out of Google only once the backend let the user go.
            if (*provider == corvane::LoginMethod::google)
                googleAuthHandler->signOut();
        } catch (...) {
            // Signed out locally all the same.
        }
    }
    if (model)
        model->setLoading(false);
}
