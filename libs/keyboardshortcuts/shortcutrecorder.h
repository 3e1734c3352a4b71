#pragma once

// The model behind the Recorder control: shows the keys of a name and
// records new ones from the key events its window receives.

#include "keyboardshortcuts.h"

#include <QHash>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace KeyboardShortcuts {

// Registers the QML module "KeyboardShortcuts" (Recorder); call before
// loading QML that imports it.
void registerQmlModule();

class ShortcutRecorder : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(bool recording READ isRecording NOTIFY recordingChanged)
    Q_PROPERTY(bool hasShortcut READ hasShortcut NOTIFY shortcutChanged)
    // Display text of the keys, "" when there are none.
    Q_PROPERTY(QString shortcutText READ shortcutText NOTIFY shortcutChanged)
    // The modifiers held while recording, e.g. "Ctrl+Alt+".
    Q_PROPERTY(QString pendingText READ pendingText NOTIFY pendingTextChanged)
    // What the name's action is called: another recorder that is given this
    // name's keys says by this title whose they are.
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    // Why the last recorded keys cannot be used, "" when they can.
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)

public:
    explicit ShortcutRecorder(QQuickItem *parent = nullptr);
    ~ShortcutRecorder() override;

    QString name() const { return m_name; }
    void setName(const QString &name);
    QString title() const { return m_title; }
    void setTitle(const QString &title);
    bool isRecording() const { return m_recording; }
    bool hasShortcut() const;
    QString shortcutText() const;
    QString pendingText() const { return m_pendingText; }
    QString errorText() const { return m_errorText; }

    Q_INVOKABLE void startRecording();
    Q_INVOKABLE void stopRecording();
    // Stores "no keys" for the name.
    Q_INVOKABLE void clear();

Q_SIGNALS:
    void nameChanged();
    void titleChanged();
    void recordingChanged();
    void shortcutChanged();
    void pendingTextChanged();
    void errorTextChanged();
    // New keys were recorded and stored.
    void recorded();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    Name currentName() const;
    void store(const std::optional<Shortcut> &shortcut);
    void setPendingText(const QString &text);
    void setErrorText(const QString &text);
    // Titles by name, as the recorders were given them.
    static QHash<QString, QString> &titles();

    QString m_name;
    QString m_title;
    bool m_recording = false;
    QString m_pendingText;
    QString m_errorText;
};

} // namespace KeyboardShortcuts
