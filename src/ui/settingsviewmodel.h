#pragma once

#include <streams.h>

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>

class GoogleAuthHandling;
class MetadataServing;
class UserAuthentication;
class UserServing;
namespace corvane {
class TokenStoring;
}

// Tells the settings and onboarding windows whether to show the sign-in form
// or the signed-in content, and signs out. Each window makes its own; each
// follows the token store's signed-in flag on its own.
class SettingsViewModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(UserStartingFlow userStartingFlow READ userStartingFlow NOTIFY userStartingFlowChanged)

public:
    // What a window shows. Capitalised: QML reaches only capitalised keys.
    enum class UserStartingFlow {
        Unauthenticated, // nobody is signed in: the sign-in form
        Cleared,         // signed in and the profile fetched: the signed-in content
    };
    Q_ENUM(UserStartingFlow)

    explicit SettingsViewModel(QObject *parent = nullptr); // resolves its services from the container
    // The version whose metadata a refresh waits for; none: it does not wait.
    SettingsViewModel(std::optional<QString> appVersion, QObject *parent = nullptr);
    ~SettingsViewModel() override;

    bool loading() const { return m_loading; }
    UserStartingFlow userStartingFlow() const { return m_userStartingFlow; }

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void signOutUser();

Q_SIGNALS:
    void loadingChanged();
    void userStartingFlowChanged();

private:
    void setLoading(bool loading);
    void setUserStartingFlow(UserStartingFlow flow);

    static QCoro::Task<void> refreshTask(QPointer<SettingsViewModel> model,
                                         std::shared_ptr<MetadataServing> metadataService,
                                         std::shared_ptr<UserServing> userService,
                                         std::optional<QString> appVersion);
    static QCoro::Task<void> signOutTask(QPointer<SettingsViewModel> model,
                                         std::shared_ptr<UserAuthentication> authService,
                                         std::shared_ptr<GoogleAuthHandling> googleAuthHandler,
                                         std::shared_ptr<corvane::TokenStoring> tokenStorage);

    std::shared_ptr<UserAuthentication> m_authService;
    std::shared_ptr<MetadataServing> m_metadataService;
    std::shared_ptr<UserServing> m_userService;
    std::shared_ptr<GoogleAuthHandling> m_googleAuthHandler;
    std::shared_ptr<corvane::TokenStoring> m_tokenStorage;
    std::optional<QString> m_appVersion;
    bool m_userLoggedIn = false;
    bool m_loading = false;
    UserStartingFlow m_userStartingFlow = UserStartingFlow::Cleared;
    streams::Cancellables m_cancellables;
};
