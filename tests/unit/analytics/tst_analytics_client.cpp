// What the client sends and when: event contents, batching, identities and
// people; records stay queued until the service accepted them; the flush
// timer runs only while something waits to be sent.

#include "analyticstesting.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QTest>

#include <utility>

using namespace analyticstesting;

static const std::optional<bool> Accepted(true), Refused(false);

class TestClient : public QObject, Client
{
    Q_OBJECT

    static void expectStayQueued()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("stay queued")));
    }

private Q_SLOTS:
    void init() { begin(); }
    void cleanup() { end(); }

    void trackedEventArrivesWithItsProperties()
    {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        // The caller cannot override the identity or the token.
        mp->track(QStringLiteral("Opened"), {{QStringLiteral("count"), QStringLiteral("3")},
                                             {QStringLiteral("distinct_id"), QStringLiteral("x")},
                                             {QStringLiteral("token"), QStringLiteral("y")}});
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(flushOnce(), Accepted);

        const QList<QJsonObject> events = server->acceptedEvents();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].value(u"event").toString(), QStringLiteral("Opened"));
        const QJsonObject p = props(events[0]);
        QCOMPARE(p.value(u"token").toString(), Token);
        QCOMPARE(p.value(u"distinct_id").toString(), mp->distinctId());
        const qint64 time = p.value(u"time").toInteger();
        QVERIFY2(time >= before && time <= after, "time must be epoch milliseconds");
        QCOMPARE(p.value(u"count"), QJsonValue(QStringLiteral("3")));
        QCOMPARE(p.value(u"$os").toString(), QStringLiteral("Linux"));
    }

    void manyEventsGoInSeveralBatches()
    {
        QStringList expected;
        for (int i = 0; i < 120; ++i) {
            expected.append(QString::number(i));
            mp->track(QStringLiteral("Step"), {{QStringLiteral("index"), expected.last()}});
        }
        QCOMPARE(flushOnce(), Accepted);
        for (const AnalyticsStandIn::Batch &batch : server->batches())
            QVERIFY(batch.records.size() <= MixpanelInstance::MaxBatchSize);
        QCOMPARE(server->requestCount(), 3);
        QCOMPARE(field(server->acceptedEvents(), "index"), expected);
    }

    void identifyMergesTheAnonymousIdentityAndSendsPeople()
    {
        const QString anonymous = mp->distinctId();
        mp->identify(QStringLiteral("user-42"));
        mp->identify(QStringLiteral("user-43"));
        mp->track(QStringLiteral("After"));
        mp->peopleSet({{QStringLiteral("plan"), QStringLiteral("pro")}});
        QCOMPARE(flushOnce(), Accepted);

        // One $identify only: the second id does not leave an anonymous one.
        const QList<QJsonObject> events = server->acceptedEvents();
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].value(u"event").toString(), QStringLiteral("$identify"));
        QCOMPARE(field(events, "distinct_id"), QStringList({"user-42", "user-43"}));
        QCOMPARE(props(events[0]).value(u"$anon_distinct_id").toString(), anonymous);

        const QList<QJsonObject> people = server->acceptedPeople();
        QCOMPARE(people.size(), 3);
        QCOMPARE(people[0].value(u"$token").toString(), Token);
        QCOMPARE(people[0].value(u"$distinct_id").toString(), QStringLiteral("user-42"));
        QCOMPARE(people[2].value(u"$distinct_id").toString(), QStringLiteral("user-43"));
        QCOMPARE(people[2].value(u"$set").toObject().value(u"plan").toString(), QStringLiteral("pro"));
    }

    void identifyWithoutPeopleSendsNoProfile()
    {
        mp->identify(QStringLiteral("user-7"), false);
        mp->peopleSet({{QStringLiteral("plan"), QStringLiteral("pro")}});
        QCOMPARE(flushOnce(), Accepted);
        QCOMPARE(server->acceptedEvents().size(), 1);
        QVERIFY(server->acceptedPeople().isEmpty());
    }

    void optedOutTracksNothing()
    {
        mp->track(QStringLiteral("Before"));
        mp->optOutTracking();
        QCOMPARE(mp->queuedEventCount(), 0); // what was waiting is dropped too
        mp->track(QStringLiteral("Hidden"));
        mp->identify(QStringLiteral("user-1"));
        QCOMPARE(mp->queuedEventCount() + mp->queuedPeopleCount(), 0);
        QVERIFY(!mp->isFlushScheduled());

        // The choice outlives a restart.
        restart(server->url());
        QVERIFY(mp->hasOptedOutTracking());
        mp->optInTracking();
        mp->track(QStringLiteral("Visible"));
        QCOMPARE(flushOnce(), Accepted);
        QStringList names;
        for (const QJsonObject &event : server->acceptedEvents())
            names.append(event.value(u"event").toString());
        QCOMPARE(names, QStringList({"$opt_in", "Visible"}));
    }

    void optOutByDefaultStartsOptedOut()
    {
        stop(mp);
        mixpanel::Mixpanel::Configuration configuration;
        configuration.serverUrl = server->url();
        configuration.storageDirectory = dir->filePath(QStringLiteral("other"));
        mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("opted-out"), true, 60, configuration);
        mp->track(QStringLiteral("Hidden"));
        QCOMPARE(mp->queuedEventCount(), 0);
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
        QVERIFY(finished.wait(5000));
        QTest::qWait(100);
        QCOMPARE(server->requestCount(), 1);
        QCOMPARE(server->acceptedEvents().size(), 3);
    }

    // The first network access manager of a process is costly; starting
    // the client must not make one.
    void networkIsMadeAtTheFirstSend()
    {
        const auto managers = [this] { return mp->findChildren<QNetworkAccessManager *>().size(); };
        QCOMPARE(managers(), 0);
        QCOMPARE(flushOnce(), Accepted); // nothing queued
        mp->track(QStringLiteral("First"));
        QCOMPARE(managers(), 0);
        QCOMPARE(flushOnce(), Accepted);
        QCOMPARE(managers(), 1);
        mp->track(QStringLiteral("Second"));
        QCOMPARE(flushOnce(), Accepted);
        QCOMPARE(managers(), 1);
        QCOMPARE(server->acceptedEvents().size(), 2);

        // A configured one is used instead.
        QNetworkAccessManager network;
        QSignalSpy requests(&network, &QNetworkAccessManager::finished);
        stop(mp);
        mixpanel::Mixpanel::Configuration configuration;
        configuration.serverUrl = server->url();
        configuration.storageDirectory = dir->path();
        configuration.network = &network;
        mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("configured network"), false, 60,
                                            configuration);
        mp->track(QStringLiteral("Third"));
        QCOMPARE(flushOnce(), Accepted);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(managers(), 0);
        QCOMPARE(server->acceptedEvents().size(), 3);
        stop(std::exchange(mp, nullptr)); // before the network goes
    }

    void failedBatchesStayQueuedAndArriveOnceAccepted_data()
    {
        QTest::addColumn<int>("status"); // 0: nobody listens, and the program restarts
        QTest::newRow("server error") << 500;
        QTest::newRow("rate limited") << 429;
        QTest::newRow("unauthorized") << 401;
        QTest::newRow("unreachable") << 0;
    }

    void failedBatchesStayQueuedAndArriveOnceAccepted()
    {
        QFETCH(int, status);
        if (status)
            server->refuseWith(status);
        else
            restart(unreachableUrl());
        for (int i = 0; i < 60; ++i)
            mp->track(QStringLiteral("Kept"), {{QStringLiteral("index"), QString::number(i)}});
        mp->identify(QStringLiteral("user-1"));

        expectStayQueued();
        QCOMPARE(flushOnce(), Refused);
        QCOMPARE(mp->queuedEventCount(), 61);
        QCOMPARE(mp->queuedPeopleCount(), 1);
        QCOMPARE(server->requestCount(), status ? 1 : 0); // a refused batch ends the flush
        QVERIFY(mp->isFlushScheduled());

        server->refuseWith(0);
        if (!status)
            restart(server->url());
        QCOMPARE(flushOnce(), Accepted);
        QCOMPARE(mp->queuedEventCount() + mp->queuedPeopleCount(), 0);
        QCOMPARE(field(server->acceptedEvents(), "index").first(), QStringLiteral("0"));
        QCOMPARE(server->acceptedEvents().size(), 61);
        QCOMPARE(server->acceptedPeople().size(), 1);
    }

    void retriesBackOffWhileTheTimerKeepsRunning()
    {
        restart(server->url(), 1);
        server->refuseWith(503);
        expectStayQueued();
        expectStayQueued();
        mp->track(QStringLiteral("Retry"));
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount(), 1, 3000);
        // At a fixed one-second interval the next try would come within 1.5 s.
        QTest::qWait(1500);
        QCOMPARE(server->requestCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount(), 2, 3000);
        server->refuseWith(0);
        QTRY_COMPARE_WITH_TIMEOUT(server->acceptedEvents().size(), 1, 6000);
        QTRY_COMPARE(mp->queuedEventCount(), 0);
    }

    // Offline the program must not wake every minute: each failed flush
    // doubles the wait up to an hour, and only a success or a new event
    // brings it back to the interval.
    void failedFlushesBackOffUntilSuccessOrANewEvent_data()
    {
        QTest::addColumn<int>("status"); // 0: nobody listens
        QTest::newRow("unreachable") << 0;
        QTest::newRow("server error") << 503;
    }

    void failedFlushesBackOffUntilSuccessOrANewEvent()
    {
        QFETCH(int, status);
        const auto refuse = [&] {
            if (status)
                server->refuseWith(status);
            else
                restart(unreachableUrl());
        };
        const auto failOnce = [&] {
            expectStayQueued();
            return flushOnce() == Refused;
        };
        refuse();
        mp->track(QStringLiteral("Waiting"));
        QCOMPARE(mp->scheduledFlushDelay(), 60);

        QList<int> delays;
        for (int i = 0; i < 8; ++i) {
            QVERIFY(failOnce());
            delays.append(mp->scheduledFlushDelay());
        }
        QCOMPARE(delays, QList<int>({120, 240, 480, 960, 1920, 3600, 3600, 3600}));

        mp->track(QStringLiteral("New"));
        QCOMPARE(mp->scheduledFlushDelay(), 60);
        QVERIFY(failOnce());
        QVERIFY(failOnce());
        QCOMPARE(mp->scheduledFlushDelay(), 240);

        if (!status)
            return; // this client cannot reach the stand-in later on
        // Once the service is back everything goes out, and the next failure
        // starts again from the interval.
        server->refuseWith(0);
        QCOMPARE(flushOnce(), Accepted);
        QCOMPARE(mp->queuedEventCount(), 0);
        server->refuseWith(status);
        mp->track(QStringLiteral("Later"));
        QVERIFY(failOnce());
        QCOMPARE(mp->scheduledFlushDelay(), 120);
    }

    void invalidRecordIsDroppedAlone()
    {
        server->rejectEventsNamed(QStringLiteral("Broken"));
        for (int i = 0; i < 10; ++i)
            mp->track(i == 6 ? QStringLiteral("Broken") : QStringLiteral("Fine"),
                      {{QStringLiteral("index"), QString::number(i)}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("invalid.*dropping")));
        QCOMPARE(flushOnce(), Accepted);
        QCOMPARE(mp->queuedEventCount(), 0);
        QCOMPARE(field(server->acceptedEvents(), "index"),
                 QStringList({"0", "1", "2", "3", "4", "5", "7", "8", "9"}));
    }

    void eventsTrackedDuringASendAreKept()
    {
        server->setDelay(300);
        mp->track(QStringLiteral("First"));
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        QTRY_COMPARE(server->requestCount(), 1);
        mp->track(QStringLiteral("Second"));
        QVERIFY(finished.wait(5000));
        QCOMPARE(mp->queuedEventCount(), 0);
        QCOMPARE(server->acceptedEvents().size(), 2);
    }

    void trackingStartsTheTimerAndDeliveryStopsIt()
    {
        restart(server->url(), 1);
        QVERIFY(!mp->isFlushScheduled());
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->track(QStringLiteral("Tick"));
        QVERIFY(finished.wait(3000)); // nobody called flush()
        QVERIFY(finished.first().first().toBool());
        QVERIFY(!mp->isFlushScheduled());
        QTest::qWait(1500);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(server->requestCount(), 1);
    }

    void laterEventsDoNotPostponeTheFlush()
    {
        restart(server->url(), 1);
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->track(QStringLiteral("Early"));
        QTest::qWait(600);
        mp->track(QStringLiteral("Late"));
        // Restarting the timer at each event would push the flush past 1.6 s.
        QVERIFY(finished.wait(900));
        QCOMPARE(server->acceptedEvents().size(), 2);
    }

    void changedIntervalApplies()
    {
        mp->track(QStringLiteral("Waiting"));
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->setFlushInterval(1);
        QVERIFY(finished.wait(3000));
        QCOMPARE(server->acceptedEvents().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestClient)
#include "tst_analytics_client.moc"
