// What lives on disk: the queue across a kill or a quit, the identity,
// damaged files, and where it is all kept.

#include "analyticsstandin.h"
#include "analyticstesting.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace analyticstesting;
using mixpanel::MixpanelInstance;

namespace {

// Counts what the client asks of the network.
class CountingNetwork : public QNetworkAccessManager
{
public:
    int requests = 0;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *data) override
    {
        ++requests;
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

} // namespace

class TestPersistence : public QObject
{
    Q_OBJECT

    // Starts the helper and waits until it has tracked; returns the distinct id it printed.
    static QString startChild(QProcess &child, const QUrl &url, const QString &storage, int count,
                              const char *mode, int flushSeconds)
    {
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(ANALYTICS_CHILD_HELPER),
                    {url.toString(), storage, Token, QString::number(count),
                     QString::fromLatin1(mode), QString::number(flushSeconds)});
        if (!child.waitForStarted(5000))
            return {};
        QElapsedTimer clock;
        clock.start();
        while (!child.canReadLine() && clock.elapsed() < 10000)
            QTest::qWait(10); // keeps this process's stand-in answering
        const QByteArray line = child.readLine().trimmed();
        return line.startsWith("tracked ") ? QString::fromLatin1(line.mid(8)) : QString();
    }

    // startChild() runs the event loop, so the helper may be gone already.
    static bool ended(QProcess &child)
    {
        return child.state() == QProcess::NotRunning || child.waitForFinished(5000);
    }

    static QStringList indexes(const QList<QJsonObject> &events)
    {
        QStringList result;
        for (const QJsonObject &event : events)
            result.append(props(event).value(QLatin1String("index")).toString());
        return result;
    }

private Q_SLOTS:
    void eventsSurviveAKillBeforeAnyFlush()
    {
        QTemporaryDir dir;
        QProcess child;
        QVERIFY(!startChild(child, unreachableUrl(), dir.path(), 5, "hang", 60).isEmpty());
        child.kill();
        QVERIFY(child.waitForFinished(5000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        AnalyticsStandIn server;
        QVERIFY(server.listen());
        MixpanelInstance *mp = start(dir.path(), server.url(), 1);
        QCOMPARE(mp->queuedEventCount(), 5);
        QVERIFY(mp->isFlushScheduled()); // leftovers go out without waiting for new events
        QTRY_COMPARE_WITH_TIMEOUT(server.acceptedEvents().size(), 5, 5000);
        QCOMPARE(indexes(server.acceptedEvents()), QStringList({"0", "1", "2", "3", "4"}));
        QVERIFY(allDistinct(insertIds(server.acceptedEvents())));
        QTRY_COMPARE(mp->queuedEventCount(), 0);
        stop(mp);
    }

    void unansweredBatchSurvivesAKill()
    {
        QTemporaryDir dir;
        AnalyticsStandIn server;
        QVERIFY(server.listen());
        server.setDelay(20000);
        QProcess child;
        QVERIFY(!startChild(child, server.url(), dir.path(), 4, "hang", 1).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 5000);
        child.kill();
        QVERIFY(child.waitForFinished(5000));

        server.setDelay(0);
        MixpanelInstance *mp = start(dir.path(), server.url());
        QCOMPARE(mp->queuedEventCount(), 4);
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        QVERIFY(finished.wait(5000));
        QCOMPARE(server.requestCount(), 2);
        const QList<QJsonObject> resent = server.batches().at(1).records;
        QCOMPARE(indexes(resent), QStringList({"0", "1", "2", "3"}));
        // The same insert ids both times, so the service can drop the repeat.
        QCOMPARE(insertIds(resent), insertIds(server.batches().at(0).records));
        stop(mp);
    }

    void quitSendsWhatIsQueued()
    {
        QTemporaryDir dir;
        AnalyticsStandIn server;
        QVERIFY(server.listen());
        QProcess child;
        QSignalSpy finished(&child, &QProcess::finished);
        QVERIFY(!startChild(child, server.url(), dir.path(), 3, "quit", 60).isEmpty());
        QVERIFY(finished.wait(8000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(indexes(server.acceptedEvents()), QStringList({"0", "1", "2"}));

        MixpanelInstance *mp = start(dir.path(), server.url());
        QCOMPARE(mp->queuedEventCount(), 0);
        stop(mp);
    }

    void quitDoesNotWaitLongForASlowService()
    {
        QTemporaryDir dir;
        AnalyticsStandIn server;
        QVERIFY(server.listen());
        server.setDelay(15000);
        QProcess child;
        QSignalSpy finished(&child, &QProcess::finished);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!startChild(child, server.url(), dir.path(), 3, "quit", 60).isEmpty());
        QVERIFY(finished.wait(8000));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(server.requestCount(), 1);

        server.setDelay(0);
        MixpanelInstance *mp = start(dir.path(), server.url());
        QCOMPARE(mp->queuedEventCount(), 3);
        stop(mp);
    }

    void distinctIdIsKeptAcrossStarts()
    {
        QTemporaryDir dir;
        QProcess first;
        const QString id = startChild(first, unreachableUrl(), dir.path(), 0, "quit", 60);
        QVERIFY(ended(first));
        QVERIFY(!QUuid::fromString(id).isNull());
        QProcess second;
        QCOMPARE(startChild(second, unreachableUrl(), dir.path(), 0, "quit", 60), id);
        QVERIFY(ended(second));

        MixpanelInstance *mp = start(dir.path(), unreachableUrl());
        QCOMPARE(mp->distinctId(), id);
        mp->identify(QStringLiteral("user-9"), false);
        stop(mp);
        mp = start(dir.path(), unreachableUrl());
        QCOMPARE(mp->distinctId(), QStringLiteral("user-9"));
        QCOMPARE(mp->anonymousId(), id);
        QVERIFY(!mp->usePeople());
        stop(mp);

        QTemporaryDir elsewhere;
        mp = start(elsewhere.path(), unreachableUrl());
        QVERIFY(mp->distinctId() != id);
        stop(mp);
    }

    void corruptQueueIsSetAside_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::addColumn<int>("kept");
        QTest::newRow("garbage line") << QByteArray("{not json at all\n") << 2;
        QTest::newRow("truncated last line") << QByteArray("{\"event\":\"Cut\",\"propert") << 2;
        QTest::newRow("zeroed block") << QByteArray(64, '\0') << 2;
        QTest::newRow("valid JSON, not an event") << QByteArray("[1,2,3]\n{\"event\":5}\n") << 2;
        QTest::newRow("all garbage") << QByteArray() << 0;
    }

    void corruptQueueIsSetAside()
    {
        QFETCH(QByteArray, damage);
        QFETCH(int, kept);
        QTemporaryDir dir;
        MixpanelInstance *mp = start(dir.path(), unreachableUrl());
        if (kept > 0) {
            mp->track(QStringLiteral("Good"), {{QStringLiteral("index"), QStringLiteral("0")}});
            mp->track(QStringLiteral("Good"), {{QStringLiteral("index"), QStringLiteral("1")}});
        }
        stop(mp);

        QFile queue(dir.filePath(QStringLiteral("events.jsonl")));
        if (kept == 0) {
            QVERIFY(queue.open(QIODevice::WriteOnly | QIODevice::Truncate));
            queue.write("\x89PNG\r\n\x1a\n\xff\xfe garbage");
        } else {
            QVERIFY(queue.open(QIODevice::Append));
            queue.write(damage);
        }
        queue.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("set aside")));
        AnalyticsStandIn server;
        QVERIFY(server.listen());
        mp = start(dir.path(), server.url());
        QCOMPARE(mp->queuedEventCount(), kept);
        const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("events.jsonl.corrupt-*")});
        QCOMPARE(aside.size(), 1);

        mp->track(QStringLiteral("Good"), {{QStringLiteral("index"), QStringLiteral("new")}});
        QCOMPARE(mp->queuedEventCount(), kept + 1);
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        QVERIFY(finished.wait(5000));
        QVERIFY(finished.first().first().toBool());
        QStringList expected = kept ? QStringList({"0", "1"}) : QStringList();
        expected.append(QStringLiteral("new"));
        QCOMPARE(indexes(server.acceptedEvents()), expected);
        stop(mp);

        // The repaired queue reads cleanly the next time.
        mp = start(dir.path(), server.url());
        QCOMPARE(mp->queuedEventCount(), 0);
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("events.jsonl.corrupt-*")}).size(), 1);
        stop(mp);
    }

    void corruptIdentityGivesANewOne()
    {
        QTemporaryDir dir;
        QFile identity(dir.filePath(QStringLiteral("identity.json")));
        QVERIFY(identity.open(QIODevice::WriteOnly));
        identity.write("{\"distinct_id\": 17, \"identified\": \"yes\"");
        identity.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("identity")));
        MixpanelInstance *mp = start(dir.path(), unreachableUrl());
        const QString id = mp->distinctId();
        QVERIFY(!QUuid::fromString(id).isNull());
        stop(mp);
        mp = start(dir.path(), unreachableUrl());
        QCOMPARE(mp->distinctId(), id);
        stop(mp);
    }

    void serverUrlMustBeHttpsOffLoopback_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << "https://api.mixpanel.com" << true;
        QTest::newRow("https eu") << "https://api-eu.mixpanel.com/" << true;
        QTest::newRow("http loopback v4") << "http://127.0.0.1:9" << true;
        QTest::newRow("http loopback v6") << "http://[::1]:9" << true;
        QTest::newRow("http localhost") << "http://localhost:9" << true;
        QTest::newRow("http remote") << "http://api.mixpanel.com" << false;
        QTest::newRow("http lookalike") << "http://127.0.0.1.example.com" << false;
        QTest::newRow("http private address") << "http://192.168.1.10" << false;
        QTest::newRow("ftp loopback") << "ftp://127.0.0.1" << false;
        QTest::newRow("no host") << "https://" << false;
    }

    void serverUrlMustBeHttpsOffLoopback()
    {
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QTemporaryDir dir;
        CountingNetwork network;
        mixpanel::Mixpanel::Configuration configuration;
        configuration.serverUrl = QUrl(url);
        configuration.storageDirectory = dir.path();
        configuration.network = &network;
        if (!allowed)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refusing the server")));
        auto *mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("url-check"), false, 60,
                                                  configuration);
        QCOMPARE(mp->isServerUrlAllowed(), allowed);
        if (allowed) {
            QCOMPARE(mp->serverUrl(), QUrl(url));
            stop(mp);
            return;
        }
        mp->track(QStringLiteral("Kept"));
        QCOMPARE(mp->queuedEventCount(), 1); // kept for a build with a usable address
        QVERIFY(!mp->isFlushScheduled());
        QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
        mp->flush();
        QVERIFY(finished.wait(2000));
        QVERIFY(!finished.first().first().toBool());
        QCOMPARE(network.requests, 0);
        stop(mp);
    }

    void defaultStorageIsKeyedByToken()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString expected = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                + QStringLiteral("/mixpanel/") + Token;
        QDir(expected).removeRecursively();
        mixpanel::Mixpanel::Configuration configuration;
        configuration.serverUrl = unreachableUrl();
        auto *mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("first-name"), false, 60,
                                                  configuration);
        QCOMPARE(mp->storageDirectory(), expected);
        mp->track(QStringLiteral("Kept"));
        const QString id = mp->distinctId();
        stop(mp);

        mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("another-name"), false, 60,
                                            configuration);
        QCOMPARE(mp->queuedEventCount(), 1);
        QCOMPARE(mp->distinctId(), id);
        stop(mp);
        QVERIFY(QDir(expected).removeRecursively());
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "tst_analytics_persistence.moc"
