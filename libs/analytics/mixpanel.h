#pragma once

// A client of Mixpanel's HTTP ingestion API. Events are written to a queue
// on disk before anything else happens to them, and leave it only once the
// service accepted the batch that carried them.

#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace mixpanel {

using Properties = QMap<QString, QString>;

class MixpanelInstance;

class Mixpanel
{
public:
    struct Configuration
    {
        // Ingestion base URL; must be HTTPS unless it is on loopback.
        QUrl serverUrl = QUrl(QStringLiteral("https://api.mixpanel.com"));
        // Where the queue and the identity live; empty means the program's data folder.
        QString storageDirectory;
        // Network access to use; empty means one of the client's own.
        QNetworkAccessManager *network = nullptr;
    };

    // Makes (or returns) the instance called instanceName and makes it the main instance.
    static MixpanelInstance *initialize(const QString &token, const QString &instanceName,
                                        bool optOutTrackingByDefault, int flushIntervalSeconds,
                                        const Configuration &configuration = {});
    // The most recently initialised instance, or none.
    static MixpanelInstance *mainInstance();
    static MixpanelInstance *getInstance(const QString &instanceName);
    static void removeInstance(const QString &instanceName);
};

} // namespace mixpanel
