#pragma once

// A client of Mixpanel's HTTP ingestion API. Events are written to a queue
// on disk before anything else happens to them, and leave it only once the
// service accepted the batch that carried them.

#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;

namespace mixpanel {

using Properties = QMap<QString, QString>;

class MixpanelInstance;

// Declared outside Mixpanel: GCC cannot use the member initialisers of a
// nested struct in a default argument of the enclosing class.
struct Configuration
{
    // Ingestion base URL; must be HTTPS unless it is on loopback.
    QUrl serverUrl = QUrl(QStringLiteral("https://api.mixpanel.com"));
    // Where the queue and the identity live; empty means the program's data folder.
    QString storageDirectory;
    // Network access to use; empty means one of the client's own.
    QNetworkAccessManager *network = nullptr;
};

class Mixpanel
{
public:
    using Configuration = mixpanel::Configuration;

    // Makes (or returns) the instance called instanceName and makes it the main instance.
    static MixpanelInstance *initialize(const QString &token, const QString &instanceName,
                                        bool optOutTrackingByDefault, int flushIntervalSeconds,
                                        const Configuration &configuration = {});
    // The most recently initialised instance, or none.
    static MixpanelInstance *mainInstance();
    static MixpanelInstance *getInstance(const QString &instanceName);
    static void removeInstance(const QString &instanceName);
};

// One project's client. Use it from the main thread only.
class MixpanelInstance : public QObject
{
    Q_OBJECT

public:
    // At most this many records go in one request.
    static constexpr int MaxBatchSize = 50;

    ~MixpanelInstance() override;

    QString token() const;
    QString instanceName() const;

    // A random identity kept across starts until identify() replaces it.
    QString distinctId() const;
    // The identity this installation started with, before any identify().
    QString anonymousId() const;
    // Sets the distinct id (persisted). With people on, profile updates are
    // sent for it. Leaving the anonymous identity tracks "$identify".
    void identify(const QString &distinctId, bool usePeople = true);
    bool usePeople() const;
    // Sets properties on the people profile of the identified user ($set).
    void peopleSet(const Properties &properties);

    // Queues an event on disk; nothing is queued while opted out.
    void track(const QString &event, const Properties &properties = {});
    // Sends what is queued now, in batches; flushFinished() tells the outcome.
    void flush();

    bool hasOptedOutTracking() const;
    // Stops tracking and drops what is still queued (persisted).
    void optOutTracking();
    // Resumes tracking (persisted) and tracks "$opt_in".
    void optInTracking();

    int flushInterval() const;
    void setFlushInterval(int seconds);
    QUrl serverUrl() const;
    // False when the server URL was refused; then nothing is ever sent.
    bool isServerUrlAllowed() const;
    QString storageDirectory() const;

    int queuedEventCount() const;
    int queuedPeopleCount() const;
    // Whether the flush timer is running; it runs only while something is queued.
    bool isFlushScheduled() const;
    // The wait the flush timer was started with, in seconds; -1 while it is stopped.
    // It doubles after each failed flush, up to an hour.
    int scheduledFlushDelay() const;
    bool isFlushing() const;

Q_SIGNALS:
    // accepted: every batch of this flush was accepted (or nothing was queued).
    void flushFinished(bool accepted);

private:
    friend class Mixpanel;
    MixpanelInstance(const QString &token, const QString &instanceName,
                     bool optOutTrackingByDefault, int flushIntervalSeconds,
                     const Mixpanel::Configuration &configuration);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace mixpanel
