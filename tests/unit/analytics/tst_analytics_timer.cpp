// The flush timer runs only while something waits to be sent.

#include "analyticsstandin.h"
#include "analyticstesting.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace analyticstesting;
using mixpanel::MixpanelInstance;

class TestTimer : public QObject
{
    Q_OBJECT

    std::unique_ptr<AnalyticsStandIn> server;
    std::unique_ptr<QTemporaryDir> dir;
    MixpanelInstance *mp = nullptr;

private Q_SLOTS:
    void init()
    {
        server = std::make_unique<AnalyticsStandIn>();
        QVERIFY(server->listen());
        dir = std::make_unique<QTemporaryDir>();
        mp = start(dir->path(), server->url(), 1);
    }

    void cleanup()
    {
        stop(mp);
        mp = nullptr;
        server.reset();
        dir.reset();
    }

    void idleInstanceHasNoTimer()
    {
        QCOMPARE(mp->flushInterval(), 1);
        QVERIFY(!mp->isFlushScheduled());
        QTest::qWait(1500);
        QCOMPARE(server->requestCount(), 0);
    }

    void trackingStartsTheTimerAndDeliveryStopsIt()
    {
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->track(QStringLiteral("Tick"));
        QVERIFY(mp->isFlushScheduled());
        QVERIFY(finished.wait(3000)); // nobody called flush()
        QVERIFY(finished.first().first().toBool());
        QCOMPARE(server->acceptedEvents().size(), 1);
        QVERIFY(!mp->isFlushScheduled());
        QTest::qWait(1500);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(server->requestCount(), 1);
    }

    void laterEventsDoNotPostponeTheFlush()
    {
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->track(QStringLiteral("Early"));
        QTest::qWait(600);
        mp->track(QStringLiteral("Late"));
        // Restarting the timer at each event would push the flush past 1.6 s.
        QVERIFY(finished.wait(900));
        QCOMPARE(server->acceptedEvents().size(), 2);
    }

    void timerKeepsRunningWhileDeliveryFails()
    {
        server->refuseWith(503);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("stay queued")));
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->track(QStringLiteral("Pending"));
        QVERIFY(finished.wait(3000));
        QVERIFY(!finished.first().first().toBool());
        QVERIFY(mp->isFlushScheduled());
        QCOMPARE(mp->queuedEventCount(), 1);
    }

    void changedIntervalApplies()
    {
        stop(mp);
        mp = start(dir->path(), server->url(), 60);
        QCOMPARE(mp->flushInterval(), 60);
        mp->track(QStringLiteral("Waiting"));
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->setFlushInterval(1);
        QCOMPARE(mp->flushInterval(), 1);
        QVERIFY(finished.wait(3000));
        QCOMPARE(server->acceptedEvents().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTimer)
#include "tst_analytics_timer.moc"
