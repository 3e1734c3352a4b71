#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The program's named sounds, for the views.
class Sounds : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Plays the sound of that name; an unknown name plays nothing.
    Q_INVOKABLE void play(const QString &name);
};
