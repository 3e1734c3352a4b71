#pragma once

#include "suappcastitem.h"

#include <QObject>
#include <QString>
#include <QUrl>

// What the update window and the message dialog show. The QML only binds
// to this, so tests can press the buttons through it.
class UpdateWindowModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool windowVisible READ windowVisible NOTIFY changed)
    Q_PROPERTY(bool takesFocus READ takesFocus NOTIFY changed)
    Q_PROPERTY(QString version READ version NOTIFY changed)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(QUrl releaseNotesLink READ releaseNotesLink NOTIFY changed)
    Q_PROPERTY(bool busy READ busy NOTIFY changed)
    Q_PROPERTY(bool messageVisible READ messageVisible NOTIFY changed)
    Q_PROPERTY(QString messageTitle READ messageTitle NOTIFY changed)
    Q_PROPERTY(QString messageText READ messageText NOTIFY changed)

public:
    explicit UpdateWindowModel(QString currentVersion, QObject *parent = nullptr);

    bool windowVisible() const { return m_windowVisible; }
    bool takesFocus() const { return m_takesFocus; }
    QString version() const { return m_item.displayVersion(); }
    QString currentVersion() const { return m_currentVersion; }
    QUrl releaseNotesLink() const { return m_item.releaseNotesLink; }
    bool busy() const { return m_busy; }
    bool messageVisible() const { return m_messageVisible; }
    QString messageTitle() const { return m_messageTitle; }
    QString messageText() const { return m_messageText; }
    const SUAppcastItem &item() const { return m_item; }

    void showUpdate(const SUAppcastItem &item, bool takesFocus);
    void showMessage(const QString &title, const QString &text);
    void setBusy(bool busy);

    // The window's buttons.
    Q_INVOKABLE void install();
    Q_INVOKABLE void remindLater();
    Q_INVOKABLE void skipThisVersion();
    Q_INVOKABLE void dismissMessage();

Q_SIGNALS:
    void changed();
    void installRequested();
    void skipRequested(const QString &version);

private:
    QString m_currentVersion;
    SUAppcastItem m_item;
    bool m_windowVisible = false;
    bool m_takesFocus = true;
    bool m_busy = false;
    bool m_messageVisible = false;
    QString m_messageTitle;
    QString m_messageText;
};
