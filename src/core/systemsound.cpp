#include "systemsound.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

SystemSound &SystemSound::zorble()
{
    static auto *sound = new SystemSound(QStringLiteral(":/sounds/zorble.wav"), QStringLiteral("zorble.wav"));
    return *sound;
}

QStringList SystemSound::players()
{
    return {QStringLiteral("pw-play"), QStringLiteral("paplay"), QStringLiteral("aplay")};
}

SystemSound::SystemSound(const QString &resource, const QString &fileName) : m_resource(resource), m_fileName(fileName)
{
    // Lives as long as the application object.
    if (auto *app = QCoreApplication::instance())
        setParent(app);
}

QString SystemSound::soundFile()
{
    // Checked each time, cheaply: the cache may be cleaned or damaged meanwhile.
    if (!m_file.isEmpty() && QFileInfo(m_file).size() == m_size)
        return m_file;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/sounds");
    const QString path = folder + QLatin1Char('/') + m_fileName;
    QFile resource(m_resource);
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = resource.readAll();
    QFile existing(path);
    if (!existing.open(QIODevice::ReadOnly) || existing.readAll() != data) {
        // Written whole or not at all: a player never opens half a file.
        QSaveFile file(path);
        if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size()
            || !file.commit())
            return {};
    }
    m_file = path;
    m_size = data.size();
    return m_file;
}

void SystemSound::play()
{
    QString player;
    for (const QString &candidate : players()) {
        player = QStandardPaths::findExecutable(candidate);
        if (!player.isEmpty())
            break;
    }
    const QString file = player.isEmpty() ? QString() : soundFile();
    // Detached: nothing waits for the player, and it never outlives its sound by much.
    if (!file.isEmpty() && !QProcess::startDetached(player, {file}))
        qDebug("Cannot start %s to play a sound", qPrintable(player));
    Q_EMIT played();
}
