#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The program's version and build number, fixed when it was built.
class BundleInfo : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString shortVersion READ shortVersion CONSTANT)
    Q_PROPERTY(QString buildNumber READ buildNumber CONSTANT)

public:
    using QObject::QObject;

    static QString shortVersion();
    static QString buildNumber();
    // "v1.2.0 (57)": the only space is the one before the parenthesis.
    Q_INVOKABLE static QString versionLine(const QString &shortVersion, const QString &buildNumber);
};
