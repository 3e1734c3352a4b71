#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

#include <memory>

class AnalyticsCollecting;
class GoogleAuthHandling;
class UserAuthentication;

// The sign-in form's model: one field that takes the e-mail address, then the
// one-time password mailed to it; or a Google sign-in. Failures are silent:
// the form only leaves its busy state.
class LoginViewModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString inputFieldValue READ inputFieldValue WRITE setInputFieldValue NOTIFY inputFieldValueChanged)
    Q_PROPERTY(QString inputFieldLabel READ inputFieldLabel NOTIFY inputFieldLabelChanged)
    Q_PROPERTY(QString inputFieldPlaceholder READ inputFieldPlaceholder NOTIFY inputFieldPlaceholderChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(State state READ state WRITE setState NOTIFY stateChanged)
    // The browser round trip of a Google sign-in is under way; the form stays
    // usable meanwhile.
    Q_PROPERTY(bool googleSignInPending READ googleSignInPending NOTIFY googleSignInPendingChanged)
    // The form's window: it comes back to the front after a Google sign-in.
    Q_PROPERTY(QWindow *presentingWindow READ presentingWindow WRITE setPresentingWindow NOTIFY presentingWindowChanged)

public:
    enum class State { Email, OTP };
    Q_ENUM(State)

    explicit LoginViewModel(QObject *parent = nullptr); // resolves its services from the container
    ~LoginViewModel() override;

    QString inputFieldValue() const { return m_inputFieldValue; }
    void setInputFieldValue(const QString &value);
    QString inputFieldLabel() const { return m_inputFieldLabel; }
    QString inputFieldPlaceholder() const { return m_inputFieldPlaceholder; }
    bool loading() const { return m_loading; }
    bool googleSignInPending() const { return m_googleSignInPending; }
    QWindow *presentingWindow() const { return m_presentingWindow; }
    void setPresentingWindow(QWindow *window);
    State state() const { return m_state; }
    // Every assignment applies the step's texts, also the same step again:
    // "Request new OTP" sets Email.
    void setState(State state);
    // The address the one-time password was requested for.
    QString email() const { return m_email; }

    Q_INVOKABLE void submit();
    Q_INVOKABLE void continueWithEmail();
    Q_INVOKABLE void verifyOTP();
    Q_INVOKABLE void signInWithGoogle();
    // Ends a Google sign-in still waiting for the browser, and its listener.
    Q_INVOKABLE void cancelGoogleSignIn();

Q_SIGNALS:
    void inputFieldValueChanged();
    void inputFieldLabelChanged();
    void inputFieldPlaceholderChanged();
    void loadingChanged();
    void stateChanged();
    void googleSignInPendingChanged();
    void presentingWindowChanged();

private:
    void applyState();
    void setInputFieldLabel(const QString &label);
    void setInputFieldPlaceholder(const QString &placeholder);
    void setLoading(bool loading);
    void setGoogleSignInPending(bool pending);

    // The request tasks. They keep the services they use; a model whose view
    // went away meanwhile is simply not written to.
    static QCoro::Task<void> requestOTPTask(QPointer<LoginViewModel> model,
                                            std::shared_ptr<UserAuthentication> auth, QString email);
    static QCoro::Task<void> verifyOTPTask(QPointer<LoginViewModel> model,
                                           std::shared_ptr<UserAuthentication> auth, QString email, QString otp);
    static QCoro::Task<void> googleSignInTask(QPointer<LoginViewModel> model,
                                              std::shared_ptr<UserAuthentication> auth,
                                              std::shared_ptr<GoogleAuthHandling> google,
                                              std::shared_ptr<AnalyticsCollecting> analytics,
                                              QPointer<QWindow> window);

    QString m_inputFieldValue;
    QString m_inputFieldLabel;
    QString m_inputFieldPlaceholder;
    bool m_loading = false;
    bool m_googleSignInPending = false;
    QPointer<QWindow> m_presentingWindow;
    std::shared_ptr<UserAuthentication> m_authService;
    std::shared_ptr<GoogleAuthHandling> m_googleAuthHandler;
    std::shared_ptr<AnalyticsCollecting> m_analyticsCollector;
    QString m_email;
    State m_state = State::Email;
};
