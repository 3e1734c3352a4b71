#pragma once

// Starting the program when the user logs in: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<app id>.desktop (~/.config when unset).
// The entry on disk is the only state; isEnabled mirrors it.

#include <QObject>
#include <QString>

class LaunchAtLogin : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)

public:
    explicit LaunchAtLogin(const QString &appId, QObject *parent = nullptr);

    // The process-wide instance. The first call fixes the app id (empty: the
    // application name); later calls return the same instance.
    static LaunchAtLogin *shared(const QString &appId = {});

    bool isEnabled() const { return m_enabled; }
    // True writes the entry for the running executable, false removes it. A
    // failure is logged and isEnabled keeps what the disk says.
    void setEnabled(bool enabled);
    // Reads the entry again, for changes made outside the program.
    Q_INVOKABLE void refresh();

    QString appId() const { return m_appId; }
    QString entryPath() const;

    // The Exec value that starts program, quoted and escaped for a desktop entry.
    static QString execValue(const QString &program);

Q_SIGNALS:
    void isEnabledChanged(bool isEnabled);

private:
    bool entryEnabled() const;
    bool writeEntry() const;
    bool removeEntry() const;

    QString m_appId;
    bool m_enabled = false;
};
