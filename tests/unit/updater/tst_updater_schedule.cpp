// The daily schedule, remembered across restarts through the settings file.

#include "updatertesting.h"

class TestUpdaterSchedule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nothingBeforeStartOrWhenOff()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"))});
        auto controller = f.makeController(false);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        QVERIFY(!controller->updater()->nextScheduledCheckDate().isValid());

        auto stopped = f.makeController(true); // started, but automatic checks are off
        QVERIFY(!stopped->updater()->nextScheduledCheckDate().isValid());
        QTest::qWait(250);
        QCOMPARE(f.feed.feedRequests(), 0);
    }

    void firstCheckAfterTheDelay()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("110"), QStringLiteral("1.1.0"))});
        auto controller = f.makeController(true);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        QCOMPARE(controller->updater()->nextScheduledCheckDate(), f.now.addMSecs(50));
        QSignalSpy requested(&f.feed, &UpdateFeedStandIn::feedRequested);
        QVERIFY(requested.wait(2000));
        QCOMPARE(f.feed.feedRequests(), 1);
        // The next one is a whole interval after this check.
        QTRY_COMPARE(controller->updater()->nextScheduledCheckDate(), f.now.addDays(1));
    }

    void intervalRememberedAcrossRestarts()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("110"), QStringLiteral("1.1.0"))});
        const QDateTime firstCheck = f.now;
        {
            auto controller = f.makeController(true);
            QSignalSpy finished(controller->updater(), &SPUUpdater::checkFinished);
            controller->updater()->setAutomaticallyChecksForUpdates(true);
            QVERIFY(finished.wait());
            QCOMPARE(controller->updater()->lastUpdateCheckDate(), firstCheck);
        }
        QCOMPARE(f.feed.feedRequests(), 1);

        f.now = firstCheck.addSecs(23 * 3600);
        {
            auto controller = f.makeController(true);
            controller->updater()->setAutomaticallyChecksForUpdates(true);
            QCOMPARE(controller->updater()->nextScheduledCheckDate(), firstCheck.addDays(1));
            QTest::qWait(300);
            QCOMPARE(f.feed.feedRequests(), 1);
        }

        f.now = firstCheck.addSecs(25 * 3600);
        {
            auto controller = f.makeController(true);
            QSignalSpy finished(controller->updater(), &SPUUpdater::checkFinished);
            controller->updater()->setAutomaticallyChecksForUpdates(true);
            QCOMPARE(controller->updater()->nextScheduledCheckDate(), f.now.addMSecs(50));
            QVERIFY(finished.wait());
            QCOMPARE(f.feed.feedRequests(), 2);
            QCOMPARE(controller->updater()->lastUpdateCheckDate(), f.now);
        }
    }

    void userCheckMovesTheSchedule()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("110"), QStringLiteral("1.1.0"))});
        auto controller = f.makeController(true);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        f.now = f.now.addSecs(3600);
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        controller->checkForUpdates();
        QVERIFY(finished.wait());
        QCOMPARE(f.feed.feedRequests(), 1);
        QCOMPARE(controller->updater()->nextScheduledCheckDate(), f.now.addDays(1));
        QTest::qWait(200); // the pending first check was replaced, not added
        QCOMPARE(f.feed.feedRequests(), 1);
    }

    void clockMovedBackDoesNotStallChecks()
    {
        UpdaterFixture f;
        auto controller = f.makeController(false);
        controller->checkForUpdates(); // stores "now" as the last check
        f.now = f.now.addDays(-10);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        controller->startUpdater();
        QCOMPARE(controller->updater()->nextScheduledCheckDate(), f.now.addDays(1));
    }
};

QTEST_MAIN(TestUpdaterSchedule)
#include "tst_updater_schedule.moc"
