// What the client sends: event contents, batching, identities and people.

#include "analyticsstandin.h"
#include "analyticstesting.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace analyticstesting;
using mixpanel::MixpanelInstance;

class TestBatches : public QObject
{
    Q_OBJECT

    std::unique_ptr<AnalyticsStandIn> server;
    std::unique_ptr<QTemporaryDir> dir;
    MixpanelInstance *mp = nullptr;

    bool flushAndWait()
    {
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        return finished.wait(5000) && finished.first().first().toBool();
    }

private Q_SLOTS:
    void init()
    {
        server = std::make_unique<AnalyticsStandIn>();
        QVERIFY(server->listen());
        dir = std::make_unique<QTemporaryDir>();
        mp = start(dir->path(), server->url());
    }

    void cleanup()
    {
        stop(mp);
        mp = nullptr;
        server.reset();
        dir.reset();
    }

    void trackedEventArrivesWithItsProperties()
    {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        mp->track(QStringLiteral("Opened"), {{QStringLiteral("source"), QStringLiteral("tray")},
                                             {QStringLiteral("count"), QStringLiteral("3")}});
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(mp->queuedEventCount(), 1);
        QVERIFY(flushAndWait());
        QCOMPARE(mp->queuedEventCount(), 0);

        const QList<QJsonObject> events = server->acceptedEvents();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].value(QLatin1String("event")).toString(), QStringLiteral("Opened"));
        const QJsonObject p = props(events[0]);
        QCOMPARE(p.value(QLatin1String("token")).toString(), Token);
        QCOMPARE(p.value(QLatin1String("distinct_id")).toString(), mp->distinctId());
        QVERIFY(!QUuid::fromString(mp->distinctId()).isNull());
        const qint64 time = p.value(QLatin1String("time")).toInteger();
        QVERIFY2(time >= before && time <= after, "time must be epoch milliseconds");
        QVERIFY(!p.value(QLatin1String("$insert_id")).toString().isEmpty());
        QCOMPARE(p.value(QLatin1String("source")).toString(), QStringLiteral("tray"));
        QVERIFY(p.value(QLatin1String("count")).isString());
        QCOMPARE(p.value(QLatin1String("count")).toString(), QStringLiteral("3"));
        QCOMPARE(p.value(QLatin1String("$os")).toString(), QStringLiteral("Linux"));
        QVERIFY(!p.value(QLatin1String("mp_lib")).toString().isEmpty());
    }

    void callerCannotOverrideTheIdentity()
    {
        mp->track(QStringLiteral("Spoof"), {{QStringLiteral("distinct_id"), QStringLiteral("x")},
                                            {QStringLiteral("token"), QStringLiteral("y")}});
        QVERIFY(flushAndWait());
        const QJsonObject p = props(server->acceptedEvents().value(0));
        QCOMPARE(p.value(QLatin1String("distinct_id")).toString(), mp->distinctId());
        QCOMPARE(p.value(QLatin1String("token")).toString(), Token);
    }

    void manyEventsGoInSeveralBatches()
    {
        for (int i = 0; i < 120; ++i)
            mp->track(QStringLiteral("Step"), {{QStringLiteral("index"), QString::number(i)}});
        QVERIFY(flushAndWait());

        int trackRequests = 0;
        for (const AnalyticsStandIn::Batch &batch : server->batches()) {
            QVERIFY(batch.records.size() <= MixpanelInstance::MaxBatchSize);
            trackRequests += batch.endpoint == QLatin1String("/track");
        }
        QCOMPARE(trackRequests, 3);
        const QList<QJsonObject> events = server->acceptedEvents();
        QCOMPARE(events.size(), 120);
        for (int i = 0; i < events.size(); ++i)
            QCOMPARE(props(events[i]).value(QLatin1String("index")).toString(), QString::number(i));
        QVERIFY(allDistinct(insertIds(events)));
    }

    void identifyMergesTheAnonymousIdentityAndSendsPeople()
    {
        const QString anonymous = mp->distinctId();
        mp->identify(QStringLiteral("user-42"));
        QCOMPARE(mp->distinctId(), QStringLiteral("user-42"));
        mp->identify(QStringLiteral("user-43"));
        mp->track(QStringLiteral("After"));
        mp->peopleSet({{QStringLiteral("plan"), QStringLiteral("pro")}});
        QVERIFY(flushAndWait());

        const QList<QJsonObject> events = server->acceptedEvents();
        QCOMPARE(events.size(), 2); // one $identify only: the second id does not leave an anonymous one
        QCOMPARE(events[0].value(QLatin1String("event")).toString(), QStringLiteral("$identify"));
        QCOMPARE(props(events[0]).value(QLatin1String("distinct_id")).toString(), QStringLiteral("user-42"));
        QCOMPARE(props(events[0]).value(QLatin1String("$anon_distinct_id")).toString(), anonymous);
        QCOMPARE(props(events[1]).value(QLatin1String("distinct_id")).toString(), QStringLiteral("user-43"));

        const QList<QJsonObject> people = server->acceptedPeople();
        QCOMPARE(people.size(), 3);
        for (const QJsonObject &record : people)
            QCOMPARE(record.value(QLatin1String("$token")).toString(), Token);
        QCOMPARE(people[0].value(QLatin1String("$distinct_id")).toString(), QStringLiteral("user-42"));
        QCOMPARE(people[2].value(QLatin1String("$distinct_id")).toString(), QStringLiteral("user-43"));
        QCOMPARE(people[2].value(QLatin1String("$set")).toObject().value(QLatin1String("plan")).toString(),
                 QStringLiteral("pro"));
    }

    void identifyWithoutPeopleSendsNoProfile()
    {
        mp->identify(QStringLiteral("user-7"), false);
        mp->peopleSet({{QStringLiteral("plan"), QStringLiteral("pro")}});
        QCOMPARE(mp->queuedPeopleCount(), 0);
        QVERIFY(flushAndWait());
        QCOMPARE(server->acceptedEvents().size(), 1);
        QVERIFY(server->acceptedPeople().isEmpty());
    }

    void optedOutTracksNothing()
    {
        QVERIFY(!mp->hasOptedOutTracking());
        mp->track(QStringLiteral("Before"));
        mp->optOutTracking();
        QVERIFY(mp->hasOptedOutTracking());
        QCOMPARE(mp->queuedEventCount(), 0); // what was waiting is dropped too
        mp->track(QStringLiteral("Hidden"));
        mp->identify(QStringLiteral("user-1"));
        QCOMPARE(mp->queuedEventCount() + mp->queuedPeopleCount(), 0);
        QVERIFY(!mp->isFlushScheduled());

        // The choice outlives a restart.
        stop(mp);
        mp = start(dir->path(), server->url());
        QVERIFY(mp->hasOptedOutTracking());
        mp->optInTracking();
        mp->track(QStringLiteral("Visible"));
        QVERIFY(flushAndWait());
        QStringList names;
        for (const QJsonObject &event : server->acceptedEvents())
            names.append(event.value(QLatin1String("event")).toString());
        QCOMPARE(names, QStringList({QStringLiteral("$opt_in"), QStringLiteral("Visible")}));
    }

    void optOutByDefaultStartsOptedOut()
    {
        QTemporaryDir other;
        mixpanel::Mixpanel::Configuration configuration;
        configuration.serverUrl = server->url();
        configuration.storageDirectory = other.path();
        auto *out = mixpanel::Mixpanel::initialize(Token, QStringLiteral("opted-out"), true, 60,
                                                   configuration);
        QVERIFY(out->hasOptedOutTracking());
        out->track(QStringLiteral("Hidden"));
        QCOMPARE(out->queuedEventCount(), 0);
        stop(out);
    }

    void flushesDoNotOverlap()
    {
        server->setDelay(300);
        for (int i = 0; i < 3; ++i)
            mp->track(QStringLiteral("Slow"));
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        mp->flush();
        mp->flush();
        QVERIFY(mp->isFlushing());
        QVERIFY(finished.wait(5000));
        QTest::qWait(100);
        QCOMPARE(server->requestCount(), 1);
        QCOMPARE(server->acceptedEvents().size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestBatches)
#include "tst_analytics_batches.moc"
