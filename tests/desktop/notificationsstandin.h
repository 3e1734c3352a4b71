#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

// Receives the desktop notifications sent on a bus of the test's own.
class NotificationsStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList summaries;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &,
                const QStringList &, const QVariantMap &, int)
    {
        summaries << summary;
        return uint(summaries.size());
    }
};
