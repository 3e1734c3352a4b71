// Installing: only a complete, correctly signed package replaces the AppImage.

#include "updatertesting.h"

#include <QFile>
#include <QFileInfo>

class TestUpdaterInstall : public QObject
{
    Q_OBJECT

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<SUAppcastItem>(); }
    void cleanup() { qunsetenv("APPIMAGE"); }

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
        auto release = signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"));
        if (fault == QLatin1String("tampered"))
            release.bytes[100] = 'y';
        else if (fault == QLatin1String("otherkey"))
            release.signature = SigningKeys::generate().sign(release.bytes);
        else if (fault == QLatin1String("unsigned"))
            release.signature.clear();
        else if (fault == QLatin1String("garbled"))
            release.signature = QStringLiteral("bm90IGEgc2lnbmF0dXJl");
        else if (fault == QLatin1String("truncated"))
            release.announcedLength = release.bytes.size() + 10;
        else if (fault == QLatin1String("overlong"))
            release.announcedLength = release.bytes.size() - 10;
        f.feed.setReleases({release});

        const QString appImage = f.dir.filePath(QStringLiteral("Wugg_it-x86_64.AppImage"));
        const QByteArray oldBytes("old AppImage");
        writeFile(appImage, oldBytes);
        qputenv("APPIMAGE", QFile::encodeName(appImage));

        auto controller = f.makeController();
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        QSignalSpy failed(controller.get(), &SPUStandardUpdaterController::updateFailed);
        QSignalSpy installed(controller->updater(), &SPUUpdater::installed);
        controller->checkForUpdates();
        QVERIFY(finished.wait());
        QVERIFY(controller->windowModel()->windowVisible());

        controller->windowModel()->install();
        QVERIFY(controller->windowModel()->busy());
        if (expectedMessage.isEmpty()) {
            QVERIFY(installed.wait());
            QCOMPARE(installed.first().at(0).toString(), QFileInfo(appImage).absoluteFilePath());
            QCOMPARE(readAll(appImage), release.bytes);
            QVERIFY(QFileInfo(appImage).isExecutable());
            QCOMPARE(f.relaunched, QStringList{QFileInfo(appImage).absoluteFilePath()});
            QVERIFY(failed.isEmpty());
            // Nothing left behind beside the AppImage.
            QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // AppImage + settings
        } else {
            QVERIFY(failed.wait());
            const QString message = failed.first().at(0).toString();
            QVERIFY2(message.contains(expectedMessage), qPrintable(message));
            QCOMPARE(readAll(appImage), oldBytes);
            QVERIFY(f.relaunched.isEmpty());
            QVERIFY(installed.isEmpty());
            QVERIFY(controller->windowModel()->messageVisible());
            QCOMPARE(controller->windowModel()->messageText(), message);
            QVERIFY(!controller->windowModel()->busy());
            // A rejected package is not kept for later.
            QVERIFY(QDir(f.dir.filePath(QStringLiteral("cache"))).isEmpty());
        }
    }

    void withoutAppImageNothingIsInstalled()
    {
        UpdaterFixture f;
        f.feed.setReleases({signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"))});
        qunsetenv("APPIMAGE");
        auto controller = f.makeController();
        QSignalSpy finished(controller.get(), &SPUStandardUpdaterController::checkFinished);
        QSignalSpy failed(controller.get(), &SPUStandardUpdaterController::updateFailed);
        controller->checkForUpdates();
        QVERIFY(finished.wait());
        controller->windowModel()->install();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().at(0).toString(),
                 QStringLiteral("This copy of Wugg it! was not installed as an AppImage and cannot update itself."));
        QCOMPARE(f.feed.downloadRequests(), 0);
        QVERIFY(f.relaunched.isEmpty());
    }

    void backgroundDownloadIsUsedAndCheckedAgain()
    {
        UpdaterFixture f;
        const auto release = signedRelease(f.keys, QStringLiteral("120"), QStringLiteral("1.2.0"));
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
        QCOMPARE(f.feed.downloadRequests(), 1);

        // Someone alters the cached package after it was verified.
        writeFile(updater->downloadedPackage(), QByteArray(release.bytes).replace('x', 'z'));
        QSignalSpy failed(updater, &SPUUpdater::updateFailed);
        controller->windowModel()->install();
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().at(0).toString().contains(QStringLiteral("signature")));
        QCOMPARE(readAll(appImage), QByteArray("old"));
        QCOMPARE(f.feed.downloadRequests(), 1); // the cached copy was the one judged
    }
};

QTEST_MAIN(TestUpdaterInstall)
#include "tst_updater_install.moc"
