#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// A short sound of the program's own, played from its resources by the
// desktop's sound player (PipeWire's, PulseAudio's or ALSA's command-line
// player): the tray program never loads an audio stack of its own for one
// short sound, and the player is gone once it has played. Without a player
// or an audio device it stays silent; that is never an error.
class SystemSound : public QObject
{
    Q_OBJECT

public:
    // The program's feedback sound.
    static SystemSound &zorble();

    // The players tried, in order; the first found on PATH plays.
    static QStringList players();

    void play();

Q_SIGNALS:
    // Each time play() was asked for, whether or not a device made it heard.
    void played();

private:
    SystemSound(const QString &resource, const QString &fileName);
    // The sound as a file a player can open, written on first use.
    QString soundFile();

    QString m_resource;
    QString m_fileName;
    QString m_file;
    qint64 m_size = -1;
};
