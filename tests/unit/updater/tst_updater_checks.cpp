// Checking the feed: what the user and the schedule are told, skipping
// versions, and the QML windows.

#include "updatertesting.h"

#include <QGuiApplication>
#include <QWindow>

using Outcome = SPUUpdater::Outcome;

class TestUpdaterChecks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<SUAppcastItem>(); }

    void userCheckTellsTheOutcome_data()
    {
        QTest::addColumn<QString>("feedVersion");
        QTest::addColumn<int>("expected");
        QTest::newRow("newer") << "120" << int(Outcome::UpdateAvailable);
        QTest::newRow("equal") << "110" << int(Outcome::UpToDate);
        QTest::newRow("older") << "109" << int(Outcome::UpToDate);
        QTest::newRow("newer by number not text") << "1000" << int(Outcome::UpdateAvailable);
    }

    void userCheckTellsTheOutcome()
    {
        QFETCH(QString, feedVersion);
        QFETCH(int, expected);
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, feedVersion, QStringLiteral("1.x"))});
        auto controller = f.makeController();
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);

        controller->checkForUpdates();
        QVERIFY(finished.wait());
        QCOMPARE(int(finished.first().at(0).value<Outcome>()), expected);
        UpdateWindowModel *model = controller->windowModel();
        if (expected == int(Outcome::UpdateAvailable)) {
            QCOMPARE(f.userDelegate.notices.size(), 1);
            const auto notice = f.userDelegate.notices.first();
            QVERIFY(notice.userInitiated);
            QVERIFY(notice.handleShowingUpdate);
            QCOMPARE(notice.version, feedVersion);
            QVERIFY(!notice.windowVisibleBefore); // sent before the window appears
            QVERIFY(model->windowVisible());
            QVERIFY(!model->messageVisible());
            QCOMPARE(model->item().version, feedVersion);
        } else {
            QVERIFY(f.userDelegate.notices.isEmpty());
            QVERIFY(!model->windowVisible());
            QVERIFY(model->messageVisible());
            QVERIFY(model->messageText().contains(QStringLiteral("newest version")));
        }
        // A look at the feed is not a download.
        QCOMPARE(f.feed.downloadRequests(), 0);
    }

    void scheduledCheckNotifiesWithoutUserFlag()
    {
        UpdaterFixture f;
        f.userDelegate.gentle = true;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"))});
        auto controller = f.makeController();
        QSignalSpy found(controller->updater(), &SPUUpdater::updateFound);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        controller->startUpdater();

        QVERIFY(found.wait());
        QCOMPARE(f.userDelegate.notices.size(), 1);
        QVERIFY(!f.userDelegate.notices.first().userInitiated);
        QVERIFY(!f.userDelegate.notices.first().windowVisibleBefore);
        UpdateWindowModel *model = controller->windowModel();
        QVERIFY(model->windowVisible());
        QCOMPARE(model->version(), QStringLiteral("1.2.0"));
        QCOMPARE(model->releaseNotesLink(), QUrl(QStringLiteral("https://example.org/notes/120")));
        QVERIFY(!model->takesFocus()); // gentle reminder
        QCOMPARE(f.feed.downloadRequests(), 0); // automatic downloads are off
        QCOMPARE(controller->updater()->lastUpdateCheckDate(), f.now);
    }

    void scheduledCheckDownloadsFirstWhenAllowed()
    {
        UpdaterFixture f;
        const auto release = signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"));
        f.feed.setReleases({release});
        auto controller = f.makeController();
        SPUUpdater *updater = controller->updater();
        QSignalSpy found(updater, &SPUUpdater::updateFound);
        updater->setAutomaticallyChecksForUpdates(true);
        updater->setAutomaticallyDownloadsUpdates(true);
        QVERIFY(updater->automaticallyChecksForUpdates());
        QVERIFY(updater->automaticallyDownloadsUpdates());
        controller->startUpdater();

        QVERIFY(found.wait());
        QCOMPARE(f.feed.downloadRequests(), 1);
        const QString package = updater->downloadedPackage();
        QVERIFY(package.startsWith(f.dir.filePath(QStringLiteral("cache"))));
        QFile file(package);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), release.bytes);
        QCOMPARE(f.userDelegate.notices.size(), 1);
        QVERIFY(!f.userDelegate.notices.first().userInitiated);
        QVERIFY(controller->windowModel()->windowVisible());
        QVERIFY(controller->windowModel()->takesFocus());
    }

    void scheduledCheckStaysQuietWhenUpToDate()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("110"), QStringLiteral("1.1.0"))});
        auto controller = f.makeController();
        QSignalSpy finished(controller->updater(), &SPUUpdater::checkFinished);
        QSignalSpy told(controller.get(), &SPUStandardUpdaterController::checkFinished);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        controller->startUpdater();

        QVERIFY(finished.wait());
        QCOMPARE(finished.first().at(0).value<Outcome>(), Outcome::UpToDate);
        QCOMPARE(finished.first().at(2).toBool(), false);
        QVERIFY(told.isEmpty());
        QVERIFY(!controller->windowModel()->messageVisible());
        QVERIFY(f.userDelegate.notices.isEmpty());
    }

    void unreadableFeedIsReported_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("html") << QByteArray("<html><body>Bad gateway</body></html>");
        QTest::newRow("cut short") << QByteArray(
            R"(<rss xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel><item>)");
    }

    void unreadableFeedIsReported()
    {
        QFETCH(QByteArray, body);
        UpdaterFixture f;
        f.feed.setRawFeed(body);
        auto controller = f.makeController();
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);

        controller->checkForUpdates();
        QVERIFY(finished.wait());
        QCOMPARE(finished.first().at(0).value<Outcome>(), Outcome::Failed);
        QCOMPARE(finished.first().at(1).toString(),
                 QStringLiteral("The update information from the server could not be read."));
        QVERIFY(controller->windowModel()->messageVisible());
        QCOMPARE(controller->windowModel()->messageText(), finished.first().at(1).toString());
        QVERIFY(f.userDelegate.notices.isEmpty());
    }

    void serverRefusalIsReported()
    {
        UpdaterFixture f;
        f.feed.refuseFeedWith(503);
        auto controller = f.makeController();
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        controller->checkForUpdates();
        QVERIFY(finished.wait());
        QCOMPARE(finished.first().at(0).value<Outcome>(), Outcome::Failed);
        QVERIFY(finished.first().at(1).toString().contains(QStringLiteral("could not reach the update server")));
    }

    void plainHttpOffLoopbackIsRefused()
    {
        UpdaterFixture f;
        auto o = f.options();
        o.feedUrl = QUrl(QStringLiteral("http://updates.example.org/appcast.xml"));
        auto controller = f.makeController(o, false);
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        controller->checkForUpdates();
        QCOMPARE(finished.size(), 1); // refused before any network use
        QCOMPARE(finished.first().at(0).value<Outcome>(), Outcome::Failed);
        QVERIFY(finished.first().at(1).toString().contains(QStringLiteral("https")));
    }

    void skippedVersionOnlyHidesScheduledOffers()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"))});
        auto controller = f.makeController();
        SPUUpdater *updater = controller->updater();
        QSignalSpy finished(updater, &SPUUpdater::checkFinished);

        updater->checkForUpdatesInBackground();
        QVERIFY(finished.wait());
        QVERIFY(controller->windowModel()->windowVisible());
        controller->windowModel()->skipThisVersion();
        QVERIFY(!controller->windowModel()->windowVisible());
        QCOMPARE(updater->skippedVersion(), QStringLiteral("120"));

        // A fresh start reads the skip from the settings file.
        controller.reset();
        f.userDelegate.notices.clear();
        controller = f.makeController();
        updater = controller->updater();
        QSignalSpy again(updater, &SPUUpdater::checkFinished);
        updater->checkForUpdatesInBackground();
        QVERIFY(again.wait());
        QCOMPARE(again.first().at(0).value<Outcome>(), Outcome::UpToDate);
        QVERIFY(f.userDelegate.notices.isEmpty());
        QVERIFY(!controller->windowModel()->windowVisible());

        controller->checkForUpdates();
        QVERIFY(again.wait());
        QCOMPARE(again.last().at(0).value<Outcome>(), Outcome::UpdateAvailable);
        QCOMPARE(f.userDelegate.notices.size(), 1);
        QVERIFY(f.userDelegate.notices.first().userInitiated);

        // A release newer than the skipped one is offered again.
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("130"), QStringLiteral("1.3.0"))});
        updater->checkForUpdatesInBackground();
        QVERIFY(again.wait());
        QCOMPARE(again.last().at(0).value<Outcome>(), Outcome::UpdateAvailable);
        QCOMPARE(f.userDelegate.notices.size(), 2);
        QCOMPARE(f.userDelegate.notices.last().version, QStringLiteral("130"));
    }

    void remindLaterHidesWithoutSkipping()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"))});
        auto controller = f.makeController();
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        controller->checkForUpdates();
        QVERIFY(finished.wait());
        controller->windowModel()->remindLater();
        QVERIFY(!controller->windowModel()->windowVisible());
        QVERIFY(controller->updater()->skippedVersion().isEmpty());
    }

    void windowsComeFromQml()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"))});
        auto o = f.options();
        o.showWindows = true;
        auto controller = f.makeController(o, false);
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        controller->checkForUpdates();
        QVERIFY(finished.wait());

        auto findWindow = [](const QString &name) -> QWindow * {
            const auto windows = QGuiApplication::topLevelWindows();
            for (QWindow *window : windows) {
                if (window->objectName() == name)
                    return window;
            }
            return nullptr;
        };
        QWindow *updateWindow = findWindow(QStringLiteral("updateWindow"));
        QVERIFY(updateWindow);
        QTRY_VERIFY(updateWindow->isVisible());
        QWindow *message = findWindow(QStringLiteral("updateMessage"));
        QVERIFY(message);
        QVERIFY(!message->isVisible());

        controller->windowModel()->remindLater();
        QTRY_VERIFY(!updateWindow->isVisible());

        // Now up to date: the small dialog says so.
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("110"), QStringLiteral("1.1.0"))});
        controller->checkForUpdates();
        QVERIFY(finished.wait());
        QTRY_VERIFY(message->isVisible());
        QCOMPARE(message->title(), QStringLiteral("You're up to date"));
    }
};

QTEST_MAIN(TestUpdaterChecks)
#include "tst_updater_checks.moc"
