#pragma once

// One interactive sign-in: loopback listener, browser hand-off, redirect,
// code exchange. Private to the library.
//
// Our own on QTcpServer and QNetworkAccessManager rather than QtNetworkAuth:
// the Qt 6.4 authorization-code flow has no PKCE, and a redirect with a wrong
// state or a refused code exchange ends there in a log line, not a signal, so
// the sign-in would only end at the time-out.

#include "googlesignin.h"

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QUrlQuery>

class QNetworkAccessManager;
class QNetworkReply;
class QTcpSocket;

class GoogleSignInFlow : public QObject
{
public:
    GoogleSignInFlow(GoogleSignIn *owner, GoogleSignIn::Configuration configuration, QWindow *presentingWindow,
                     QString hint, GoogleSignIn::Completion completion);
    ~GoogleSignInFlow() override;

    void start();
    // Ends the flow with a cancellation.
    void cancel(const QString &description);

private:
    void openWithXdgOpen(const QUrl &url);
    void accept(QTcpSocket *socket);
    void readRequest(QTcpSocket *socket);
    void handleRedirect(const QUrlQuery &query, QTcpSocket *socket);
    void exchangeCode(const QString &code);
    void tokenAnswered(QNetworkReply *reply);

    void fail(GoogleSignInError::Code code, const QString &description);
    void finish(std::shared_ptr<const GoogleUser> user, std::shared_ptr<const GoogleSignInError> error);

    GoogleSignIn *m_owner;
    const GoogleSignIn::Configuration m_configuration;
    QPointer<QWindow> m_window;
    const QString m_hint;
    GoogleSignIn::Completion m_completion;

    QTcpServer m_server;
    QTimer m_timeout;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_tokenReply;

    QString m_state;
    QByteArray m_codeVerifier;
    QString m_redirectUri;
    bool m_redirectHandled = false;
    bool m_finished = false;
};
