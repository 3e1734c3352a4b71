// The updater against a loopback feed: what the user and the schedule are
// told, skipping versions, the QML windows, the daily schedule kept in the
// settings file, and installing only a complete, correctly signed package.

#include "updatertesting.h"

#include <updatewindow.h>
#include <look.h>

#include <QQuickWindow>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWindow>

using Outcome = SPUUpdater::Outcome;

class TestUpdater : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<SUAppcastItem>(); }
    void cleanup() { qunsetenv("APPIMAGE"); }

    // Offline, a check fails at its host lookup, before the network stack
    // loads TLS for a request that cannot go anywhere. First, while nothing
    // else of this process has loaded TLS.
    void offlineCheckFailsBeforeTls()
    {
        const auto tlsLoaded = [] {
            QFile maps(QStringLiteral("/proc/self/maps"));
            return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libqopensslbackend");
        };
        QVERIFY(!tlsLoaded());
        // Not the fixture: its feed server loads TLS.
        QTemporaryDir dir;
        SPUUpdaterOptions o;
        o.feedUrl = QUrl(QStringLiteral("https://updates.invalid/appcast.xml")); // never resolves
        o.currentVersion = QStringLiteral("110");
        o.settingsPath = dir.filePath(QStringLiteral("updater.ini"));
        o.cacheFolder = dir.filePath(QStringLiteral("cache"));
        o.showWindows = false;
        SPUUpdaterDelegate updaterDelegate;
        RecordingUserDriverDelegate userDelegate;
        SPUStandardUpdaterController controller(false, &updaterDelegate, &userDelegate, o);
        userDelegate.model = controller.windowModel();
        QSignalSpy finished(&controller, &SPUStandardUpdaterController::checkFinished);
        controller.checkForUpdates();
        QVERIFY(finished.wait(30000));
        QCOMPARE(outcome(finished), Outcome::Failed);
        const QString told = finished.first().at(1).toString();
        QVERIFY2(told.contains(QLatin1String("could not reach the update server")), qPrintable(told));
        QVERIFY(!tlsLoaded());
    }

    void userCheckTellsTheOutcome_data()
    {
        QTest::addColumn<QString>("feedVersion");
        QTest::addColumn<bool>("newer");
        QTest::newRow("newer") << "120" << true;
        QTest::newRow("equal") << "110" << false;
        QTest::newRow("newer by number not text") << "1000" << true;
    }

    void userCheckTellsTheOutcome()
    {
        QFETCH(QString, feedVersion);
        QFETCH(bool, newer);
        UpdaterFixture f;
        f.offer(feedVersion);
        auto controller = f.makeController();
        QCOMPARE(userCheck(*controller), Checked(newer ? Outcome::UpdateAvailable : Outcome::UpToDate));
        QCOMPARE(controller->windowModel()->windowVisible(), newer);
        QCOMPARE(controller->windowModel()->messageVisible(), !newer);
        QCOMPARE(f.userDelegate.notices.size(), newer ? 1 : 0);
        if (newer) {
            const auto notice = f.userDelegate.notices.first();
            QVERIFY(notice.userInitiated && notice.handleShowingUpdate);
            QCOMPARE(notice.version, feedVersion);
            QVERIFY(!notice.windowVisibleBefore); // sent before the window appears
        }
        QCOMPARE(f.feed.downloadRequests(), 0); // a look at the feed is not a download
    }

    void scheduledCheckIsQuieterThanAUserCheck_data()
    {
        QTest::addColumn<QString>("feedVersion");
        QTest::addColumn<bool>("autoDownload");
        QTest::newRow("gentle reminder") << "120" << false;
        QTest::newRow("downloaded first") << "120" << true;
        QTest::newRow("up to date: says nothing") << "110" << true;
    }

    void scheduledCheckIsQuieterThanAUserCheck()
    {
        QFETCH(QString, feedVersion);
        QFETCH(bool, autoDownload);
        const bool newer = feedVersion == u"120";
        UpdaterFixture f;
        f.userDelegate.gentle = !autoDownload;
        f.offer(feedVersion);
        auto controller = f.makeController();
        SPUUpdater *updater = controller->updater();
        QSignalSpy found(updater, &SPUUpdater::updateFound);
        QSignalSpy finished(updater, &SPUUpdater::checkFinished);
        QSignalSpy told(controller.get(), &SPUStandardUpdaterController::checkFinished);
        updater->setAutomaticallyChecksForUpdates(true);
        updater->setAutomaticallyDownloadsUpdates(autoDownload);
        controller->startUpdater();

        QVERIFY(newer ? found.wait() : finished.wait());
        QCOMPARE(outcome(finished), newer ? Outcome::UpdateAvailable : Outcome::UpToDate);
        QCOMPARE(updater->lastUpdateCheckDate(), f.now);
        QVERIFY(told.isEmpty());
        QVERIFY(!controller->windowModel()->messageVisible());
        QCOMPARE(controller->windowModel()->windowVisible(), newer);
        QCOMPARE(f.userDelegate.notices.size(), newer ? 1 : 0);
        QCOMPARE(f.feed.downloadRequests(), newer && autoDownload ? 1 : 0);
        if (!newer)
            return;
        QVERIFY(!f.userDelegate.notices.first().userInitiated);
        QVERIFY(!f.userDelegate.notices.first().windowVisibleBefore);
        QCOMPARE(controller->windowModel()->takesFocus(), autoDownload);
        if (autoDownload) {
            QVERIFY(updater->downloadedPackage().startsWith(f.dir.filePath(QStringLiteral("cache"))));
            QCOMPARE(readAll(updater->downloadedPackage()), signedRelease(f.keys, feedVersion).bytes);
        }
    }

    void failedCheckIsReported_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("feedUrl"); // empty: the stand-in
        QTest::addColumn<QString>("message");
        QTest::newRow("html") << QByteArray("<html><body>Bad gateway</body></html>") << 0 << ""
                              << "The update information from the server could not be read.";
        QTest::newRow("refused") << QByteArray() << 503 << "" << "could not reach the update server";
        QTest::newRow("plain http off loopback") << QByteArray() << 0 << "http://updates.example.org/appcast.xml"
                                                 << "https";
    }

    void failedCheckIsReported()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, feedUrl);
        QFETCH(QString, message);
        UpdaterFixture f;
        if (!body.isEmpty())
            f.feed.setRawFeed(body);
        if (status)
            f.feed.refuseFeedWith(status);
        auto o = f.options();
        if (!feedUrl.isEmpty())
            o.feedUrl = QUrl(feedUrl);
        auto controller = f.makeController(o, false);
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        controller->checkForUpdates();
        if (feedUrl.isEmpty())
            QVERIFY(finished.wait());
        QCOMPARE(finished.size(), 1); // a refused address fails before any network use
        QCOMPARE(outcome(finished), Outcome::Failed);
        const QString told = finished.first().at(1).toString();
        QVERIFY2(told.contains(message), qPrintable(told));
        QVERIFY(controller->windowModel()->messageVisible());
        QCOMPARE(controller->windowModel()->messageText(), told);
        QVERIFY(f.userDelegate.notices.isEmpty());
    }

    void skippedVersionOnlyHidesScheduledOffers()
    {
        UpdaterFixture f;
        f.offer(QStringLiteral("120"));
        auto controller = f.makeController();
        QCOMPARE(backgroundCheck(controller->updater()), Checked(Outcome::UpdateAvailable));
        controller->windowModel()->skipThisVersion();
        QVERIFY(!controller->windowModel()->windowVisible());

        // A fresh start reads the skip from the settings file.
        controller.reset();
        f.userDelegate.notices.clear();
        controller = f.makeController();
        QCOMPARE(backgroundCheck(controller->updater()), Checked(Outcome::UpToDate));
        QVERIFY(f.userDelegate.notices.isEmpty());
        QVERIFY(!controller->windowModel()->windowVisible());
        QCOMPARE(userCheck(*controller), Checked(Outcome::UpdateAvailable));
        QCOMPARE(f.userDelegate.notices.size(), 1);

        // A release newer than the skipped one is offered again.
        f.offer(QStringLiteral("130"));
        QCOMPARE(backgroundCheck(controller->updater()), Checked(Outcome::UpdateAvailable));
        QCOMPARE(f.userDelegate.notices.size(), 2);
        QCOMPARE(f.userDelegate.notices.last().version, QStringLiteral("130"));
    }

    void windowsComeFromQml()
    {
        UpdaterFixture f;
        f.offer(QStringLiteral("120"));
        auto o = f.options();
        o.showWindows = true;
        o.makeWindows = UpdateWindow::make;
        Look::registerQmlModule(); // as the program's windows module does first
        auto controller = f.makeController(o, false);
        QVERIFY(userCheck(*controller));

        auto findWindow = [](const QString &name) -> QWindow * {
            for (QWindow *window : QGuiApplication::topLevelWindows())
                if (window->objectName() == name)
                    return window;
            return nullptr;
        };
        auto *updateWindow = qobject_cast<QQuickWindow *>(findWindow(QStringLiteral("updateWindow")));
        QWindow *message = findWindow(QStringLiteral("updateMessage"));
        QVERIFY(updateWindow && message);
        QTRY_VERIFY(updateWindow->isVisible());
        QVERIFY(!message->isVisible());
        QCOMPARE(updateWindow->color(), Look::primaryBackground()); // the program's dark windows
        QVERIFY(updateWindow->grabWindow().save(QDir::current().filePath(QStringLiteral("update-window.png"))));

        // Escape reminds later: it hides without skipping.
        QTRY_COMPARE(QGuiApplication::focusWindow(), updateWindow);
        QTest::keyClick(updateWindow, Qt::Key_Escape);
        QTRY_VERIFY(!updateWindow->isVisible());
        QVERIFY(controller->updater()->skippedVersion().isEmpty());

        f.offer(QStringLiteral("110"));
        QVERIFY(userCheck(*controller));
        QTRY_VERIFY(message->isVisible());
        QCOMPARE(message->title(), QStringLiteral("You're up to date"));
        QTRY_COMPARE(QGuiApplication::focusWindow(), message);
        QVERIFY(qobject_cast<QQuickWindow *>(message)->grabWindow().save(QDir::current().filePath(QStringLiteral("update-message.png"))));
        QTest::keyClick(message, Qt::Key_Return);
        QTRY_VERIFY(!message->isVisible());
    }

    void nothingBeforeStartOrWhenOff()
    {
        UpdaterFixture f;
        f.offer(QStringLiteral("120"));
        auto controller = f.makeController(false);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        QVERIFY(!controller->updater()->nextScheduledCheckDate().isValid());

        auto stopped = f.makeController(true); // started, but automatic checks are off
        QVERIFY(!stopped->updater()->nextScheduledCheckDate().isValid());
        QTest::qWait(250);
        QCOMPARE(f.feed.feedRequests(), 0);
    }

    void firstCheckAfterTheDelayThenDailyAcrossRestarts_data()
    {
        QTest::addColumn<int>("hoursLater");
        QTest::newRow("not yet due") << 23;
        QTest::newRow("due") << 25;
    }

    void firstCheckAfterTheDelayThenDailyAcrossRestarts()
    {
        QFETCH(int, hoursLater);
        UpdaterFixture f;
        f.offer(QStringLiteral("110"));
        const QDateTime firstCheck = f.now;
        {
            auto controller = f.makeController(true);
            SPUUpdater *updater = controller->updater();
            QSignalSpy finished(updater, &SPUUpdater::checkFinished);
            updater->setAutomaticallyChecksForUpdates(true);
            QCOMPARE(updater->nextScheduledCheckDate(), f.now.addMSecs(50));
            QVERIFY(finished.wait(2000));
            QCOMPARE(updater->lastUpdateCheckDate(), f.now);
            QTRY_COMPARE(updater->nextScheduledCheckDate(), f.now.addDays(1)); // a whole interval after this check
        }
        f.now = firstCheck.addSecs(hoursLater * 3600);
        const bool due = hoursLater >= 24;
        auto controller = f.makeController(true);
        QSignalSpy finished(controller->updater(), &SPUUpdater::checkFinished);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        QCOMPARE(controller->updater()->nextScheduledCheckDate(), due ? f.now.addMSecs(50) : firstCheck.addDays(1));
        QCOMPARE(finished.wait(300), due);
        QCOMPARE(f.feed.feedRequests(), due ? 2 : 1);
    }

    void userCheckMovesTheSchedule()
    {
        UpdaterFixture f;
        f.offer(QStringLiteral("110"));
        auto controller = f.makeController(true);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        f.now = f.now.addSecs(3600);
        QVERIFY(userCheck(*controller));
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

    void installOnlyVerifiedPackages_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("expectedMessage"); // empty: installs
        QTest::newRow("good signature") << "" << "";
        QTest::newRow("signature over other bytes") << "tampered" << "signature does not match";
        QTest::newRow("signed with another key") << "otherkey" << "signature does not match";
        QTest::newRow("missing signature") << "unsigned" << "not signed";
        QTest::newRow("malformed signature") << "garbled" << "signature is malformed";
        QTest::newRow("truncated download") << "truncated" << "incomplete";
        QTest::newRow("longer than announced") << "overlong" << "larger than announced";
    }

    void installOnlyVerifiedPackages()
    {
        QFETCH(QString, fault);
        QFETCH(QString, expectedMessage);
        UpdaterFixture f;
        auto release = signedRelease(f.keys, QStringLiteral("120"));
        if (fault == u"tampered")
            release.bytes[100] = 'y';
        else if (fault == u"otherkey")
            release.signature = SigningKeys().sign(release.bytes);
        else if (fault == u"unsigned")
            release.signature.clear();
        else if (fault == u"garbled")
            release.signature = QStringLiteral("bm90IGEgc2lnbmF0dXJl");
        else if (fault == u"truncated")
            release.announcedLength = release.bytes.size() + 10;
        else if (fault == u"overlong")
            release.announcedLength = release.bytes.size() - 10;
        f.feed.setReleases({release});

        const QString appImage = QFileInfo(f.dir.filePath(QStringLiteral("Wugg_it-x86_64.AppImage"))).absoluteFilePath();
        writeFile(appImage, "old AppImage");
        qputenv("APPIMAGE", QFile::encodeName(appImage));

        auto controller = f.makeController();
        QSignalSpy failed(controller.get(), &SPUStandardUpdaterController::updateFailed);
        QSignalSpy installed(controller->updater(), &SPUUpdater::installed);
        QCOMPARE(userCheck(*controller), Checked(Outcome::UpdateAvailable));
        controller->windowModel()->install();
        QVERIFY(controller->windowModel()->busy());
        if (expectedMessage.isEmpty()) {
            QVERIFY(installed.wait());
            QCOMPARE(readAll(appImage), release.bytes);
            QVERIFY(QFileInfo(appImage).isExecutable());
            QCOMPARE(f.relaunched, QStringList{appImage});
            // Nothing left behind beside the AppImage and the settings.
            QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
        } else {
            QVERIFY(failed.wait());
            const QString message = failed.first().at(0).toString();
            QVERIFY2(message.contains(expectedMessage), qPrintable(message));
            QCOMPARE(readAll(appImage), QByteArray("old AppImage"));
            QVERIFY(f.relaunched.isEmpty());
            QCOMPARE(controller->windowModel()->messageText(), message);
            QVERIFY(!controller->windowModel()->busy());
            // A rejected package is not kept for later.
            QVERIFY(QDir(f.dir.filePath(QStringLiteral("cache"))).isEmpty());
        }
    }

    void withoutAppImageNothingIsInstalled()
    {
        UpdaterFixture f;
        f.offer(QStringLiteral("120"));
        auto controller = f.makeController();
        QSignalSpy failed(controller.get(), &SPUStandardUpdaterController::updateFailed);
        QCOMPARE(userCheck(*controller), Checked(Outcome::UpdateAvailable));
        controller->windowModel()->install();
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().at(0).toString().contains(QStringLiteral("not installed as an AppImage")));
        QCOMPARE(f.feed.downloadRequests(), 0);
        QVERIFY(f.relaunched.isEmpty());
    }

    void alteredDownloadIsRejectedDroppedAndFetchedAgain()
    {
        UpdaterFixture f;
        const auto release = signedRelease(f.keys, QStringLiteral("120"));
        f.feed.setReleases({release});
        const QString appImage = f.dir.filePath(QStringLiteral("Wugg.AppImage"));
        writeFile(appImage, "old");
        qputenv("APPIMAGE", QFile::encodeName(appImage));

        auto controller = f.makeController();
        SPUUpdater *updater = controller->updater();
        updater->setAutomaticallyDownloadsUpdates(true);
        QSignalSpy found(updater, &SPUUpdater::updateFound);
        updater->checkForUpdatesInBackground();
        QVERIFY(found.wait());

        // Someone alters the cached package after it was verified.
        const QString cached = updater->downloadedPackage();
        writeFile(cached, QByteArray(release.bytes).replace('x', 'z'));
        QSignalSpy failed(updater, &SPUUpdater::updateFailed);
        QSignalSpy installed(updater, &SPUUpdater::installed);
        controller->windowModel()->install();
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().at(0).toString().contains(QStringLiteral("signature")));
        QCOMPARE(readAll(appImage), QByteArray("old"));
        QCOMPARE(f.feed.downloadRequests(), 1); // the cached copy was the one judged
        // ...and it is not offered to the next attempt.
        QVERIFY(!QFileInfo::exists(cached));
        QVERIFY(updater->downloadedPackage().isEmpty());

        controller->windowModel()->install();
        QVERIFY(installed.wait());
        QCOMPARE(f.feed.downloadRequests(), 2);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(readAll(appImage), release.bytes);
        QCOMPARE(f.relaunched, QStringList{appImage});
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
