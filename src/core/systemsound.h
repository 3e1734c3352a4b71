#pragma once

#include <QObject>
#include <QString>

class QSoundEffect;

// A short sound of the program's own, played from its resources. Without an
// audio device it stays silent; that is never an error.
class SystemSound : public QObject
{
    Q_OBJECT

public:
    // The program's feedback sound.
    static SystemSound &zorble();

    void play();

Q_SIGNALS:
    // Each time play() was asked for, whether or not a device made it heard.
    void played();

private:
    explicit SystemSound(const QString &resource);
    QString m_resource;
    QSoundEffect *m_effect = nullptr;
};
