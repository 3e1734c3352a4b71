#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
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

Q_SIGNALS:
    void inputFieldValueChanged();
    void inputFieldLabelChanged();
    void inputFieldPlaceholderChanged();
    void loadingChanged();
    void stateChanged();

private:
    void applyState();
    void setInputFieldLabel(const QString &label);
    void setInputFieldPlaceholder(const QString &placeholder);
    void setLoading(bool loading);

    // The request tasks. They keep the services they use; a model whose view
    // went away meanwhile is simply not written to.
    static QCoro::Task<void> requestOTPTask(QPointer<LoginViewModel> model,
                                            std::shared_ptr<UserAuthentication> auth, QString email);
    static QCoro::Task<void> verifyOTPTask(QPointer<LoginViewModel> model,
                                           std::shared_ptr<UserAuthentication> auth, QString email, QString otp);
    static QCoro::Task<void> googleSignInTask(QPointer<LoginViewModel> model,
                                              std::shared_ptr<UserAuthentication> auth,
                                              std::shared_ptr<GoogleAuthHandling> google,
                                              std::shared_ptr<AnalyticsCollecting> analytics);

    QString m_inputFieldValue;
    QString m_inputFieldLabel;
    QString m_inputFieldPlaceholder;
    bool m_loading = false;
    std::shared_ptr<UserAuthentication> m_authService;
    std::shared_ptr<GoogleAuthHandling> m_googleAuthHandler;
    std::shared_ptr<AnalyticsCollecting> m_analyticsCollector;
    QString m_email;
    State m_state = State::Email;
};
