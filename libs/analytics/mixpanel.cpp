#include "mixpanel.h"

#include "diskqueue.h"

#include <hostlookup.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>
#include <QUrlQuery>
#include <QUuid>

#include <nlohmann/json.hpp>

#include <optional>

namespace mixpanel {

namespace {

using json = nlohmann::json;

constexpr int DefaultFlushIntervalSeconds = 60;
// Beyond this many waiting records new ones are refused, bounding the disk use.
constexpr int MaxQueuedRecords = 10000;
constexpr int TransferTimeoutMs = 30 * 1000;
constexpr int QuitWaitMs = 2000;
constexpr int MaxBackoffSeconds = 60 * 60;
constexpr int MaxRetryAfterSeconds = 60 * 60;
constexpr const char *LibraryName = "qt";
constexpr const char *LibraryVersion = "1.0";

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

std::string str(const QString &s)
{
    return s.toStdString();
}

QByteArray dump(const json &value)
{
    const std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

bool isAllowedServer(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("https")
            || (scheme == QLatin1String("http") && isLoopbackHost(url.host()));
}

bool isEventRecord(const json &record)
{
    return record.is_object() && record.contains("event") && record["event"].is_string()
            && record.contains("properties") && record["properties"].is_object()
            && record["properties"].contains("token");
}

bool isPeopleRecord(const json &record)
{
    return record.is_object() && record.contains("$token") && record["$token"].is_string()
            && record.contains("$distinct_id") && record["$distinct_id"].is_string();
}

bool boolField(const json &object, const char *key)
{
    return object.contains(key) && object[key].is_boolean() && object[key].get<bool>();
}

enum class Outcome { Accepted, Invalid, Failed };

// Mixpanel answers "1"/"0", or with verbose=1 {"status": 1|0, "error": ...}.
std::optional<int> mixpanelStatus(const QByteArray &body)
{
    const QByteArray trimmed = body.trimmed();
    if (trimmed == "1")
        return 1;
    if (trimmed == "0")
        return 0;
    const auto reply = json::parse(trimmed.cbegin(), trimmed.cend(), nullptr, false);
    if (reply.is_object() && reply.contains("status") && reply["status"].is_number_integer())
        return reply["status"].get<int>();
    return std::nullopt;
}

QString folderNameFor(const QString &token)
{
    QString name = token;
    for (QChar &c : name) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            c = QLatin1Char('_');
    }
    return name.isEmpty() ? QStringLiteral("_") : name;
}

struct Registry
{
    QMap<QString, QPointer<MixpanelInstance>> instances;
    QPointer<MixpanelInstance> main;
};

Registry &registry()
{
    static Registry r;
    return r;
}

} // namespace

struct MixpanelInstance::Private
{
    Private(MixpanelInstance *owner, const QString &projectToken, const QString &name,
            const QString &folder)
        : q(owner)
        , token(projectToken)
        , instanceName(name)
        , storageDirectory(folder)
        , events(folder + QStringLiteral("/events.jsonl"), isEventRecord)
        , people(folder + QStringLiteral("/people.jsonl"), isPeopleRecord)
    {
    }

    MixpanelInstance *q;
    QString token;
    QString instanceName;
    QString storageDirectory;
    QUrl serverUrl;
    bool serverUrlAllowed = false;
    // The configured one, or one of our own once something is sent.
    QNetworkAccessManager *network = nullptr;

    detail::DiskQueue events;
    detail::DiskQueue people;
    // Bumped whenever the queues are emptied, so a late reply cannot remove newer records.
    quint64 queueGeneration = 0;

    QString distinctId;
    QString anonymousId;
    bool identified = false;
    bool usePeople = false;
    // The profile last queued for distinctId by identify().
    json profile;
    std::optional<bool> optedOutChoice;
    bool optOutByDefault = false;

    int flushIntervalSeconds = DefaultFlushIntervalSeconds;
    QTimer timer;
    int failures = 0;
    int retryAfterSeconds = 0;
    bool flushing = false;
    bool flushAgain = false;
    QPointer<QNetworkReply> reply;
    std::shared_ptr<HostLookup> lookup;
    // Halved while the service calls a batch invalid, to find the record it objects to.
    int eventBatchLimit = MaxBatchSize;
    int peopleBatchLimit = MaxBatchSize;
    bool warnedFull = false;

    bool optedOut() const { return optedOutChoice.value_or(optOutByDefault); }
    bool hasQueued() const { return !events.isEmpty() || !people.isEmpty(); }
    QString statePath() const { return storageDirectory + QStringLiteral("/identity.json"); }

    void loadState();
    void saveState() const;
    json defaultProperties() const;
    void enqueue(detail::DiskQueue &queue, const json &record);
    void enqueuePeople(const char *operation, const json &properties);
    void schedule();
    void sendNext();
    void lookUpThenSend();
    void onLookedUp(bool found);
    void abandonLookup();
    void failed(const QString &why, const QByteArray &retryAfterHeader);
    void onReply(QNetworkReply *finished, detail::DiskQueue *queue, int *limit, int count,
                 quint64 generation);
    void finish(bool accepted);
    void finishLater(bool accepted);
    void aboutToQuit();
};

void MixpanelInstance::Private::loadState()
{
    QFile file(statePath());
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray content = file.readAll();
        file.close();
        const auto state = json::parse(content.cbegin(), content.cend(), nullptr, false);
        if (state.is_object() && state.contains("distinct_id") && state["distinct_id"].is_string()
            && !state["distinct_id"].get<std::string>().empty()) {
            distinctId = QString::fromStdString(state["distinct_id"].get<std::string>());
            anonymousId = state.contains("anonymous_id") && state["anonymous_id"].is_string()
                    ? QString::fromStdString(state["anonymous_id"].get<std::string>())
                    : distinctId;
            identified = boolField(state, "identified");
            usePeople = boolField(state, "people");
            if (state.contains("opted_out") && state["opted_out"].is_boolean())
                optedOutChoice = state["opted_out"].get<bool>();
            if (state.contains("profile") && state["profile"].is_object())
                profile = state["profile"];
            return;
        }
        const QString aside = statePath() + QStringLiteral(".corrupt-")
                + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
        qWarning("analytics: the identity file %s is unreadable; set aside as %s, "
                 "starting with a new identity",
                 qPrintable(statePath()), qPrintable(aside));
        if (!QFile::rename(statePath(), aside))
            QFile::remove(statePath());
    }
    distinctId = newUuid();
    anonymousId = distinctId;
    identified = false;
    usePeople = false;
    saveState();
}

void MixpanelInstance::Private::saveState() const
{
    json state = {
        {"distinct_id", str(distinctId)},
        {"anonymous_id", str(anonymousId)},
        {"identified", identified},
        {"people", usePeople},
    };
    if (optedOutChoice)
        state["opted_out"] = *optedOutChoice;
    if (!profile.is_null())
        state["profile"] = profile;
    QSaveFile file(statePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(dump(state)) < 0 || !file.commit())
        qWarning("analytics: cannot save %s: %s", qPrintable(statePath()),
                 qPrintable(file.errorString()));
}

json MixpanelInstance::Private::defaultProperties() const
{
    json properties = {
        {"$os", "Linux"},
        {"$os_version", str(QSysInfo::productVersion())},
        {"mp_lib", LibraryName},
        {"$lib_version", LibraryVersion},
        {"$device_id", str(anonymousId)},
    };
    const QString version = QCoreApplication::applicationVersion();
    if (!version.isEmpty())
        properties["$app_version_string"] = str(version);
    if (identified)
        properties["$user_id"] = str(distinctId);
    return properties;
}

void MixpanelInstance::Private::enqueue(detail::DiskQueue &queue, const json &record)
{
    if (queue.size() >= MaxQueuedRecords) {
        if (!warnedFull)
            qWarning("analytics: %d records are waiting to be sent; dropping new ones",
                     queue.size());
        warnedFull = true;
        return;
    }
    warnedFull = false;
    queue.append(dump(record));
    if (failures > 0) {
        // Something new to send: try again soon rather than after the long wait.
        failures = 0;
        if (!flushing)
            schedule();
    } else if (!timer.isActive()) {
        schedule();
    }
}

void MixpanelInstance::Private::enqueuePeople(const char *operation, const json &properties)
{
    enqueue(people, json{
                            {"$token", str(token)},
                            {"$distinct_id", str(distinctId)},
                            {"$time", QDateTime::currentMSecsSinceEpoch()},
                            {operation, properties},
                    });
}

void MixpanelInstance::Private::schedule()
{
    if (!serverUrlAllowed || flushing || !hasQueued()) {
        timer.stop();
        return;
    }
    qint64 delay = flushIntervalSeconds;
    if (failures > 0)
        delay = qMin<qint64>(delay << qMin(failures, 12),
                             qMax(flushIntervalSeconds, MaxBackoffSeconds));
    delay = qMax<qint64>(delay, retryAfterSeconds);
    timer.start(std::chrono::seconds(delay));
}

void MixpanelInstance::Private::sendNext()
{
    detail::DiskQueue *queue = nullptr;
    int *limit = nullptr;
    QString endpoint;
    if (!events.isEmpty()) {
        queue = &events;
        limit = &eventBatchLimit;
        endpoint = QStringLiteral("/track");
    } else if (!people.isEmpty()) {
        queue = &people;
        limit = &peopleBatchLimit;
        endpoint = QStringLiteral("/engage");
    } else {
        finish(true);
        return;
    }

    const QList<QByteArray> batch = queue->head(*limit);
    QByteArray body = "[";
    body += batch.join(',');
    body += ']';

    QUrl url = serverUrl;
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + endpoint);
    url.setQuery(QStringLiteral("verbose=1"));

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(TransferTimeoutMs);

    // Made at the first send: a process's first network access manager is
    // costly, and most starts have nothing to send for a while.
    if (!network)
        network = new QNetworkAccessManager(q);
    QNetworkReply *sent = network->post(request, body);
    reply = sent;
    const int count = int(batch.size());
    const quint64 generation = queueGeneration;
    QObject::connect(sent, &QNetworkReply::finished, q, [this, sent, queue, limit, count, generation] {
        onReply(sent, queue, limit, count, generation);
    });
}

void MixpanelInstance::Private::onReply(QNetworkReply *finished, detail::DiskQueue *queue,
                                        int *limit, int count, quint64 generation)
{
    finished->deleteLater();
    if (reply == finished)
        reply = nullptr;

    const int status = finished->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = finished->isOpen() ? finished->readAll() : QByteArray();
    const std::optional<int> answer = status > 0 ? mixpanelStatus(body) : std::nullopt;

    Outcome outcome = Outcome::Failed;
    if (status >= 200 && status < 300 && answer == 1)
        outcome = Outcome::Accepted;
    else if (status == 400 && answer == 0)
        outcome = Outcome::Invalid;

    const bool current = generation == queueGeneration;
    switch (outcome) {
    case Outcome::Accepted:
        if (current)
            queue->removeHead(count);
        *limit = MaxBatchSize;
        failures = 0;
        retryAfterSeconds = 0;
        sendNext();
        return;
    case Outcome::Invalid:
        if (count > 1) {
            // Narrow down to the record the service refuses rather than drop good ones.
            *limit = qMax(1, count / 2);
        } else {
            qWarning("analytics: %s refused a record as invalid (%s); dropping it: %s",
                     qPrintable(finished->url().toString(QUrl::RemoveQuery)),
                     body.trimmed().constData(),
                     current ? queue->head(1).value(0).constData() : "");
            if (current)
                queue->removeHead(1);
            *limit = MaxBatchSize;
        }
        sendNext();
        return;
    case Outcome::Failed:
        break;
    }

    failed(finished->error() == QNetworkReply::OperationCanceledError
                   ? QString()
                   : QStringLiteral("sending to %1 failed (HTTP %2, %3)")
                             .arg(finished->url().toString(QUrl::RemoveQuery))
                             .arg(status)
                             .arg(finished->errorString()),
           finished->rawHeader("Retry-After"));
}

void MixpanelInstance::Private::failed(const QString &why, const QByteArray &retryAfterHeader)
{
    ++failures;
    bool seconds = false;
    const int retryAfter = retryAfterHeader.trimmed().toInt(&seconds);
    retryAfterSeconds = seconds ? qBound(0, retryAfter, MaxRetryAfterSeconds) : 0;
    if (!why.isEmpty())
        qWarning("analytics: %s; %d record(s) stay queued", qPrintable(why),
                 events.size() + people.size());
    finish(false);
}

void MixpanelInstance::Private::lookUpThenSend()
{
    const QString host = serverUrl.host();
    if (!HostLookup::isNeeded(host)) {
        sendNext();
        return;
    }
    abandonLookup(); // one answer at a time
    lookup = HostLookup::start(host, q, [this](bool found) { onLookedUp(found); });
}

void MixpanelInstance::Private::onLookedUp(bool found)
{
    lookup.reset();
    if (!flushing)
        return;
    if (found)
        sendNext();
    else
        failed(QStringLiteral("cannot look up %1").arg(serverUrl.host()), {});
}

void MixpanelInstance::Private::abandonLookup()
{
    if (!lookup)
        return;
    lookup->cancel();
    lookup.reset();
}

void MixpanelInstance::Private::finish(bool accepted)
{
    flushing = false;
    schedule();
    Q_EMIT q->flushFinished(accepted);
    // A flush asked for while one was running also covers what was queued meanwhile.
    if (flushAgain) {
        flushAgain = false;
        if (accepted && hasQueued())
            QTimer::singleShot(0, q, [this] { q->flush(); });
    }
}

void MixpanelInstance::Private::finishLater(bool accepted)
{
    QTimer::singleShot(0, q, [this, accepted] { Q_EMIT q->flushFinished(accepted); });
}

void MixpanelInstance::Private::aboutToQuit()
{
    if (!serverUrlAllowed || (!flushing && !hasQueued()))
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(q, &MixpanelInstance::flushFinished, &loop, &QEventLoop::quit);
    if (!flushing)
        q->flush();
    if (flushing) {
        deadline.start(QuitWaitMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    // What is unsent stays on disk for the next start.
    if (reply)
        reply->abort();
    if (lookup) {
        abandonLookup();
        flushing = false;
    }
}

MixpanelInstance::MixpanelInstance(const QString &token, const QString &instanceName,
                                   bool optOutTrackingByDefault, int flushIntervalSeconds,
                                   const Mixpanel::Configuration &configuration)
{
    QString folder = configuration.storageDirectory;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                + QStringLiteral("/mixpanel/") + folderNameFor(token);
    folder = QDir::cleanPath(QDir(folder).absolutePath());
    if (!QDir().mkpath(folder))
        qWarning("analytics: cannot create %s", qPrintable(folder));
    // Only the user reads what the program recorded about them.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner);

    d = std::make_unique<Private>(this, token, instanceName, folder);
    d->optOutByDefault = optOutTrackingByDefault;
    d->flushIntervalSeconds = flushIntervalSeconds > 0 ? flushIntervalSeconds
                                                       : DefaultFlushIntervalSeconds;
    d->serverUrl = configuration.serverUrl;
    d->serverUrlAllowed = isAllowedServer(d->serverUrl);
    if (!d->serverUrlAllowed)
        qWarning("analytics: refusing the server %s: it must be HTTPS unless on loopback; "
                 "nothing will be sent",
                 qPrintable(d->serverUrl.toString()));
    d->network = configuration.network;

    d->timer.setSingleShot(true);
    d->timer.setTimerType(Qt::VeryCoarseTimer);
    connect(&d->timer, &QTimer::timeout, this, &MixpanelInstance::flush);
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { d->aboutToQuit(); });

    d->loadState();
    d->events.load();
    d->people.load();
    if (d->optedOut() && d->hasQueued()) {
        d->events.clear();
        d->people.clear();
    }
    d->schedule();
}

MixpanelInstance::~MixpanelInstance()
{
    d->abandonLookup();
    if (d->reply) {
        disconnect(d->reply, nullptr, this, nullptr);
        d->reply->abort();
        d->reply->deleteLater();
    }
}

QString MixpanelInstance::token() const
{
    return d->token;
}

QString MixpanelInstance::instanceName() const
{
    return d->instanceName;
}

QString MixpanelInstance::distinctId() const
{
    return d->distinctId;
}

QString MixpanelInstance::anonymousId() const
{
    return d->anonymousId;
}

void MixpanelInstance::identify(const QString &distinctId, bool usePeople)
{
    if (distinctId.trimmed().isEmpty()) {
        qWarning("analytics: ignoring identify() with an empty id");
        return;
    }
    const QString previous = d->distinctId;
    const bool wasAnonymous = !d->identified;
    const bool changed = distinctId != previous || usePeople != d->usePeople
        || d->identified != (distinctId != d->anonymousId);
    d->distinctId = distinctId;
    d->identified = distinctId != d->anonymousId;
    d->usePeople = usePeople;
    // Every start identifies again, mostly as the same user with the same
    // profile: no write, and no profile queued (a synced write) and sent, then.
    json profile;
    if (usePeople && !d->optedOut()) {
        profile = {{"$os", "Linux"}, {"$os_version", str(QSysInfo::productVersion())}};
        const QString version = QCoreApplication::applicationVersion();
        if (!version.isEmpty())
            profile["$app_version_string"] = str(version);
    }
    const bool setProfile = !profile.is_null() && (distinctId != previous || profile != d->profile);
    if (setProfile)
        d->profile = profile;
    if (changed || setProfile)
        d->saveState();
    if (d->optedOut())
        return;
    if (distinctId != previous && wasAnonymous)
        track(QStringLiteral("$identify"), {{QStringLiteral("$anon_distinct_id"), previous}});
    if (setProfile)
        d->enqueuePeople("$set", profile);
}

bool MixpanelInstance::usePeople() const
{
    return d->usePeople;
}

void MixpanelInstance::peopleSet(const Properties &properties)
{
    if (d->optedOut() || !d->usePeople || properties.isEmpty())
        return;
    json set = json::object();
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        set[str(it.key())] = str(it.value());
    d->enqueuePeople("$set", set);
}

void MixpanelInstance::track(const QString &event, const Properties &properties)
{
    if (d->optedOut())
        return;
    if (event.isEmpty()) {
        qWarning("analytics: ignoring an event without a name");
        return;
    }
    json props = d->defaultProperties();
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        props[str(it.key())] = str(it.value());
    // These belong to the client; a caller's property of the same name is overridden.
    props["token"] = str(d->token);
    props["distinct_id"] = str(d->distinctId);
    props["time"] = QDateTime::currentMSecsSinceEpoch();
    props["$insert_id"] = str(QUuid::createUuid().toString(QUuid::Id128));
    d->enqueue(d->events, json{{"event", str(event)}, {"properties", props}});
}

void MixpanelInstance::flush()
{
    if (!d->serverUrlAllowed) {
        d->finishLater(false);
        return;
    }
    if (d->flushing) {
        d->flushAgain = true;
        return;
    }
    if (!d->hasQueued()) {
        d->finishLater(true);
        return;
    }
    d->timer.stop();
    d->flushing = true;
    d->lookUpThenSend();
}

bool MixpanelInstance::hasOptedOutTracking() const
{
    return d->optedOut();
}

void MixpanelInstance::optOutTracking()
{
    d->optedOutChoice = true;
    // The queued profile goes with the queue: it is to be set again.
    d->profile = json();
    d->saveState();
    ++d->queueGeneration;
    if (d->reply)
        d->reply->abort();
    d->events.clear();
    d->people.clear();
    d->schedule();
}

void MixpanelInstance::optInTracking()
{
    const bool wasOut = d->optedOut();
    d->optedOutChoice = false;
    d->saveState();
    if (wasOut)
        track(QStringLiteral("$opt_in"));
}

int MixpanelInstance::flushInterval() const
{
    return d->flushIntervalSeconds;
}

void MixpanelInstance::setFlushInterval(int seconds)
{
    d->flushIntervalSeconds = seconds > 0 ? seconds : DefaultFlushIntervalSeconds;
    if (d->timer.isActive() && d->failures == 0)
        d->schedule();
}

QUrl MixpanelInstance::serverUrl() const
{
    return d->serverUrl;
}

bool MixpanelInstance::isServerUrlAllowed() const
{
    return d->serverUrlAllowed;
}

QString MixpanelInstance::storageDirectory() const
{
    return d->storageDirectory;
}

int MixpanelInstance::queuedEventCount() const
{
    return d->events.size();
}

int MixpanelInstance::queuedPeopleCount() const
{
    return d->people.size();
}

bool MixpanelInstance::isFlushScheduled() const
{
    return d->timer.isActive();
}

int MixpanelInstance::scheduledFlushDelay() const
{
    return d->timer.isActive() ? d->timer.interval() / 1000 : -1;
}

bool MixpanelInstance::isFlushing() const
{
    return d->flushing;
}

MixpanelInstance *Mixpanel::initialize(const QString &token, const QString &instanceName,
                                       bool optOutTrackingByDefault, int flushIntervalSeconds,
                                       const Configuration &configuration)
{
    Registry &r = registry();
    if (MixpanelInstance *existing = r.instances.value(instanceName)) {
        r.main = existing;
        return existing;
    }
    auto *instance = new MixpanelInstance(token, instanceName, optOutTrackingByDefault,
                                          flushIntervalSeconds, configuration);
    for (const auto &other : std::as_const(r.instances)) {
        if (other && other->storageDirectory() == instance->storageDirectory())
            qWarning("analytics: instances %s and %s share the queue in %s",
                     qPrintable(other->instanceName()), qPrintable(instanceName),
                     qPrintable(instance->storageDirectory()));
    }
    // Owned by the application so it goes before the network stack does.
    if (auto *app = QCoreApplication::instance())
        instance->setParent(app);
    r.instances.insert(instanceName, instance);
    r.main = instance;
    return instance;
}

MixpanelInstance *Mixpanel::mainInstance()
{
    return registry().main;
}

MixpanelInstance *Mixpanel::getInstance(const QString &instanceName)
{
    return registry().instances.value(instanceName);
}

void Mixpanel::removeInstance(const QString &instanceName)
{
    Registry &r = registry();
    QPointer<MixpanelInstance> instance = r.instances.take(instanceName);
    if (r.main == instance)
        r.main = nullptr;
    delete instance.data();
}

} // namespace mixpanel
