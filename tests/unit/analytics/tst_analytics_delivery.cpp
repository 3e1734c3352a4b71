// Records stay queued until the service accepted them.

#include "analyticsstandin.h"
#include "analyticstesting.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace analyticstesting;
using mixpanel::MixpanelInstance;

class TestDelivery : public QObject
{
    Q_OBJECT

    std::unique_ptr<AnalyticsStandIn> server;
    std::unique_ptr<QTemporaryDir> dir;
    MixpanelInstance *mp = nullptr;

    // The outcome of one flush, or nothing if none finished in time.
    std::optional<bool> flushOnce()
    {
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        if (!finished.wait(5000))
            return std::nullopt;
        return finished.first().first().toBool();
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

    void refusedBatchesStayQueuedAndArriveOnceAccepted_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("service unavailable") << 503;
        QTest::newRow("server error") << 500;
        QTest::newRow("rate limited") << 429;
        QTest::newRow("unauthorized") << 401;
    }

    void refusedBatchesStayQueuedAndArriveOnceAccepted()
    {
        QFETCH(int, status);
        server->refuseWith(status);
        for (int i = 0; i < 60; ++i)
            mp->track(QStringLiteral("Kept"), {{QStringLiteral("index"), QString::number(i)}});
        mp->identify(QStringLiteral("user-1"));

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("stay queued")));
        QCOMPARE(flushOnce(), std::optional<bool>(false));
        QCOMPARE(mp->queuedEventCount(), 61);
        QCOMPARE(mp->queuedPeopleCount(), 1);
        QCOMPARE(server->requestCount(), 1); // a refused batch ends the flush
        QVERIFY(mp->isFlushScheduled());

        server->refuseWith(0);
        QCOMPARE(flushOnce(), std::optional<bool>(true));
        QCOMPARE(mp->queuedEventCount(), 0);
        QCOMPARE(mp->queuedPeopleCount(), 0);
        const QList<QJsonObject> events = server->acceptedEvents();
        QCOMPARE(events.size(), 61);
        QVERIFY(allDistinct(insertIds(events)));
        QCOMPARE(server->acceptedPeople().size(), 1);
    }

    void unreachableServiceKeepsTheQueueAcrossRestarts()
    {
        stop(mp);
        mp = start(dir->path(), unreachableUrl());
        for (int i = 0; i < 3; ++i)
            mp->track(QStringLiteral("Offline"), {{QStringLiteral("index"), QString::number(i)}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("stay queued")));
        QCOMPARE(flushOnce(), std::optional<bool>(false));
        QCOMPARE(mp->queuedEventCount(), 3);

        stop(mp);
        mp = start(dir->path(), server->url());
        QCOMPARE(mp->queuedEventCount(), 3);
        QCOMPARE(flushOnce(), std::optional<bool>(true));
        const QList<QJsonObject> events = server->acceptedEvents();
        QCOMPARE(events.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(props(events[i]).value(QLatin1String("index")).toString(), QString::number(i));
    }

    void retriesBackOff()
    {
        stop(mp);
        mp = start(dir->path(), server->url(), 1);
        server->refuseWith(503);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("stay queued")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("stay queued")));
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

    void invalidRecordIsDroppedAlone()
    {
        server->rejectEventsNamed(QStringLiteral("Broken"));
        for (int i = 0; i < 10; ++i)
            mp->track(i == 6 ? QStringLiteral("Broken") : QStringLiteral("Fine"),
                      {{QStringLiteral("index"), QString::number(i)}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("invalid.*dropping")));
        QCOMPARE(flushOnce(), std::optional<bool>(true));
        QCOMPARE(mp->queuedEventCount(), 0);

        QStringList indexes;
        for (const QJsonObject &event : server->acceptedEvents())
            indexes.append(props(event).value(QLatin1String("index")).toString());
        QCOMPARE(indexes, QStringList({"0", "1", "2", "3", "4", "5", "7", "8", "9"}));
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
};

QTEST_GUILESS_MAIN(TestDelivery)
#include "tst_analytics_delivery.moc"
