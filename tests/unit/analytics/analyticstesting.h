#pragma once

#include "analyticsstandin.h"
#include "mixpanel.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUuid>

#include <memory>
#include <optional>

namespace analyticstesting {

using mixpanel::MixpanelInstance;

inline const QString Token = QStringLiteral("feedc0dedeadbeeffeedc0dedeadbeef");

// A loopback port nobody listens on: connections are refused at once.
inline QUrl unreachableUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
}

// A fresh instance name each time, as the program does.
inline MixpanelInstance *start(const QString &storage, const QUrl &server, int flushSeconds = 60)
{
    mixpanel::Mixpanel::Configuration configuration;
    configuration.serverUrl = server;
    configuration.storageDirectory = storage;
    return mixpanel::Mixpanel::initialize(Token, QUuid::createUuid().toString(), false, flushSeconds,
                                          configuration);
}

inline void stop(MixpanelInstance *instance)
{
    if (instance)
        mixpanel::Mixpanel::removeInstance(instance->instanceName());
}

inline QJsonObject props(const QJsonObject &event) { return event.value(u"properties").toObject(); }

inline QStringList field(const QList<QJsonObject> &events, const char *name)
{
    QStringList values;
    for (const QJsonObject &event : events)
        values.append(props(event).value(QLatin1String(name)).toString());
    return values;
}

inline bool allDistinct(const QStringList &values)
{
    return QSet<QString>(values.cbegin(), values.cend()).size() == values.size();
}

// One instance against its own stand-in and folder.
struct Client
{
    std::unique_ptr<AnalyticsStandIn> server;
    std::unique_ptr<QTemporaryDir> dir;
    MixpanelInstance *mp = nullptr;

    ~Client() { end(); }

    void begin(int flushSeconds = 60)
    {
        server = std::make_unique<AnalyticsStandIn>();
        if (!server->listen())
            qFatal("the analytics stand-in could not listen");
        dir = std::make_unique<QTemporaryDir>();
        mp = start(dir->path(), server->url(), flushSeconds);
    }

    // A new start on the same folder.
    void restart(const QUrl &url, int flushSeconds = 60)
    {
        stop(mp);
        mp = start(dir->path(), url, flushSeconds);
    }

    void end()
    {
        stop(mp);
        mp = nullptr;
        server.reset();
        dir.reset();
    }

    // The outcome of one flush, or nothing if none finished in time.
    std::optional<bool> flushOnce()
    {
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        if (!finished.wait(5000))
            return std::nullopt;
        return finished.first().first().toBool();
    }
};

} // namespace analyticstesting
