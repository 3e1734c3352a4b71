#pragma once

// The real program, started against the loopback backend with a private
// configuration, and the keys and pointer a user would use on it.

#include "childprocess.h"
#include "desktopsession.h"

#include <backendstandin.h>

#include <QDir>
#include <QRegularExpression>
#include <QSet>

namespace desktop {

inline void press(const QString &chord)
{
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord});
}

inline void type(const QString &text)
{
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
}

inline QString activeWindowName()
{
    return QString::fromUtf8(
        run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}).trimmed());
}

inline QSet<QByteArray> visibleWindowsOf(const QString &windowClass)
{
    const QByteArray out = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                           QStringLiteral("--class"), windowClass});
    QSet<QByteArray> windows;
    for (const QByteArray &line : out.split('\n')) {
        if (!line.trimmed().isEmpty())
            windows.insert(line.trimmed());
    }
    return windows;
}

inline void screenshot(const QString &name)
{
    const QString shot = QDir::current().filePath(name);
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), shot});
    qInfo("screenshot kept at %s", qPrintable(shot));
}

// The size of an X window, as xdotool reads it.
inline QSize windowSize(const QByteArray &window)
{
    const QByteArray out = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
                                                          QString::fromLatin1(window)});
    const auto value = [&](const char *key) {
        const QRegularExpression line(QStringLiteral("^%1=(\\d+)$").arg(QLatin1String(key)),
                                      QRegularExpression::MultilineOption);
        return line.match(QString::fromLatin1(out)).captured(1).toInt();
    };
    return QSize(value("WIDTH"), value("HEIGHT"));
}

class ProgramUnderTest
{
public:
    explicit ProgramUnderTest(BackendStandIn &backend) : m_backend(backend) {}
    ~ProgramUnderTest() { stop(); }

    bool isValid() const { return m_home.isValid(); }
    QString configPath(const QString &relative = {}) const
    {
        return m_home.filePath(QStringLiteral("config/") + relative);
    }

    // Starts the program and waits until its menu-bar controller is up (its
    // construction asks the backend for the version metadata, on a fresh
    // configuration). usedBefore: past the first actions, which show the
    // usage hint toast.
    bool start(bool usedBefore = false, const QProcessEnvironment &more = {})
    {
        QDir(configPath()).removeRecursively();
        if (usedBefore) {
            QDir().mkpath(configPath(QStringLiteral("Wugg")));
            QFile conf(configPath(QStringLiteral("Wugg/wuggit.conf")));
            if (!conf.open(QIODevice::WriteOnly) || conf.write("[General]\nusageCounterKey=100\n") < 0)
                return false;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WUGGIT_BACKEND_URL"), m_backend.url().toString());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configPath());
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        for (const QString &key : more.keys())
            env.insert(key, more.value(key));
        m_environment = env;
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_backend.clearRequests();
        m_process.start(QStringLiteral(WUGGIT_BINARY), {});
        if (!m_process.waitForStarted(5000))
            return false;
        if (!QTest::qWaitFor([this] { return !m_backend.requestsTo(QStringLiteral("metadata/info")).isEmpty(); },
                             15000))
            return false;
        // Let the grabs and the start-up sound settle.
        QTest::qWait(700);
        return isRunning();
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }

    // The names of the libraries mapped into the running program.
    QSet<QString> loadedLibraries() const
    {
        QSet<QString> names;
        QFile maps(QStringLiteral("/proc/%1/maps").arg(m_process.processId()));
        if (!maps.open(QIODevice::ReadOnly))
            return names;
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const qsizetype slash = line.lastIndexOf('/');
            if (slash >= 0 && line.contains(".so"))
                names.insert(QString::fromUtf8(line.mid(slash + 1)));
        }
        return names;
    }

    void stop() { desktop::endProcess(m_process); }
    // Killed outright, as by kill -9: nothing of it runs to an end.
    void killHard()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The environment of the last start, for another start by hand.
    QProcessEnvironment environment() const { return m_environment; }

private:
    BackendStandIn &m_backend;
    QTemporaryDir m_home;
    QProcess m_process;
    QProcessEnvironment m_environment;
};

} // namespace desktop
