#include "launchatlogin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

QString autostartDirectory()
{
    // Relative values are to be ignored, as the base directory spec says.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

// The file to start at login. Inside an AppImage the running executable lives
// in a mount that is gone after logout; the image itself is what to start.
QString programPath()
{
    const QString appImage = qEnvironmentVariable("APPIMAGE");
    if (!appImage.isEmpty() && QDir::isAbsolutePath(appImage) && QFileInfo(appImage).isFile())
        return appImage;
    return QCoreApplication::applicationFilePath();
}

bool holds(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.size() == content.size() && file.readAll() == content;
}

} // namespace

LaunchAtLogin::LaunchAtLogin(const QString &appId, QObject *parent)
    : QObject(parent)
    , m_appId(appId)
    , m_enabled(entryEnabled())
{
}

LaunchAtLogin *LaunchAtLogin::shared(const QString &appId)
{
    static LaunchAtLogin instance(appId.isEmpty() ? QCoreApplication::applicationName() : appId);
    if (!appId.isEmpty() && appId != instance.m_appId)
        qWarning("LaunchAtLogin::shared() already serves \"%s\", not \"%s\"", qPrintable(instance.m_appId),
                 qPrintable(appId));
    return &instance;
}

QString LaunchAtLogin::entryPath() const
{
    return autostartDirectory() + QLatin1Char('/') + m_appId + QStringLiteral(".desktop");
}

void LaunchAtLogin::setEnabled(bool enabled)
{
    if (enabled)
        writeEntry();
    else
        removeEntry();
    refresh();
}

void LaunchAtLogin::refresh()
{
    const bool enabled = entryEnabled();
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Q_EMIT isEnabledChanged(m_enabled);
}

QString LaunchAtLogin::execValue(const QString &program)
{
    // Quoting first, then the escapes of string values: a backslash in a
    // quoted argument ends up as four in the file.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    static const QString escapedInQuotes = QStringLiteral("\"`$\\");
    QString argument;
    const bool quote = std::any_of(program.cbegin(), program.cend(),
                                   [](QChar c) { return reserved.contains(c); });
    if (quote)
        argument += QLatin1Char('"');
    for (const QChar c : program) {
        if (quote && escapedInQuotes.contains(c))
            argument += QLatin1Char('\\');
        argument += c;
    }
    if (quote)
        argument += QLatin1Char('"');

    QString value;
    for (const QChar c : std::as_const(argument)) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else if (c == QLatin1Char('%'))
            value += QStringLiteral("%%");  // not a field code
        else
            value += c;
    }
    return value;
}

bool LaunchAtLogin::entryEnabled() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        // Hidden=true is how a user entry switches autostart off; GNOME also
        // honours its own key.
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            return false;
    }
    return true;
}

bool LaunchAtLogin::writeEntry() const
{
    const QString program = programPath();
    if (program.isEmpty()) {
        qWarning("Cannot turn on launch at login: the path of this program is unknown");
        return false;
    }
    const QString directory = autostartDirectory();
    if (!QDir().mkpath(directory)) {
        qWarning("Cannot turn on launch at login: cannot create %s", qPrintable(directory));
        return false;
    }
    const QByteArray entry = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Wugg it!\n"
                                            "Exec=%1\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(execValue(program))
                                 .toUtf8();
    // Enabling runs at every start; an entry that is already right is not
    // saved again, which would cost an fsync and a rename.
    if (holds(entryPath(), entry))
        return true;
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(entry) < 0 || !file.commit()) {
        qWarning("Cannot turn on launch at login: cannot write %s: %s", qPrintable(entryPath()),
                 qPrintable(file.errorString()));
        return false;
    }
    return true;
}

bool LaunchAtLogin::removeEntry() const
{
    QFile file(entryPath());
    if (!file.exists() || file.remove())
        return true;
    qWarning("Cannot turn off launch at login: cannot remove %s: %s", qPrintable(entryPath()),
             qPrintable(file.errorString()));
    return false;
}
