#pragma once

#include "mixpanel.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QSet>
#include <QTcpServer>
#include <QUrl>
#include <QUuid>

namespace analyticstesting {

inline const QString Token = QStringLiteral("feedc0dedeadbeeffeedc0dedeadbeef");

// A loopback port nobody listens on: connections are refused at once.
inline QUrl unreachableUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

// Starts an instance the way the program does: a fresh instance name each time.
inline mixpanel::MixpanelInstance *start(const QString &storage, const QUrl &server,
                                         int flushIntervalSeconds = 60,
                                         const QString &token = Token)
{
    mixpanel::Mixpanel::Configuration configuration;
    configuration.serverUrl = server;
    configuration.storageDirectory = storage;
    return mixpanel::Mixpanel::initialize(token, QUuid::createUuid().toString(), false,
                                          flushIntervalSeconds, configuration);
}

inline void stop(mixpanel::MixpanelInstance *instance)
{
    if (instance)
        mixpanel::Mixpanel::removeInstance(instance->instanceName());
}

inline QJsonObject props(const QJsonObject &event)
{
    return event.value(QLatin1String("properties")).toObject();
}

inline QStringList insertIds(const QList<QJsonObject> &events)
{
    QStringList ids;
    for (const QJsonObject &event : events)
        ids.append(props(event).value(QLatin1String("$insert_id")).toString());
    return ids;
}

inline bool allDistinct(const QStringList &values)
{
    return QSet<QString>(values.cbegin(), values.cend()).size() == values.size();
}

} // namespace analyticstesting
