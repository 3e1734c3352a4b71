// What lives on disk: the queue across a kill or a quit, the identity,
// damaged files, and where it is all kept.

#include "analyticstesting.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <utility>

using namespace analyticstesting;

namespace {

// Counts what the client asks of the network.
class CountingNetwork : public QNetworkAccessManager
{
public:
    int requests = 0;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override
    {
        ++requests;
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

// Starts the helper and waits until it has tracked; returns the distinct id it printed.
QString startChild(QProcess &child, const QUrl &url, const QString &storage, int count, const char *mode,
                   int flushSeconds = 60)
{
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(ANALYTICS_CHILD_HELPER),
                {url.toString(), storage, Token, QString::number(count), QString::fromLatin1(mode),
                 QString::number(flushSeconds)});
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
bool ended(QProcess &child)
{
    return child.state() == QProcess::NotRunning || child.waitForFinished(5000);
}

QStringList corruptCopies(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("events.jsonl.corrupt-*")});
}

} // namespace

class TestPersistence : public QObject
{
    Q_OBJECT

    MixpanelInstance *mp = nullptr;

private Q_SLOTS:
    void cleanup() { stop(std::exchange(mp, nullptr)); }

    void queueSurvivesAKill_data()
    {
        QTest::addColumn<bool>("sending"); // killed while a batch waited for its answer
        QTest::newRow("before any flush") << false;
        QTest::newRow("batch unanswered") << true;
    }

    void queueSurvivesAKill()
    {
        QFETCH(bool, sending);
        QTemporaryDir dir;
        AnalyticsStandIn server;
        QVERIFY(server.listen());
        server.setDelay(20000);
        QProcess child;
        QVERIFY(!startChild(child, sending ? server.url() : unreachableUrl(), dir.path(), 4, "hang",
                            sending ? 1 : 60).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), sending ? 1 : 0, 5000);
        child.kill();
        QVERIFY(child.waitForFinished(5000));

        server.setDelay(0);
        mp = start(dir.path(), server.url(), 1);
        QCOMPARE(mp->queuedEventCount(), 4);
        QVERIFY(mp->isFlushScheduled()); // leftovers go out without waiting for new events
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), sending ? 2 : 1, 5000);
        const QList<QJsonObject> sent = server.batches().constLast().records;
        QCOMPARE(field(sent, "index"), QStringList({"0", "1", "2", "3"}));
        QVERIFY(allDistinct(field(sent, "$insert_id")));
        // The same insert ids both times, so the service can drop the repeat.
        QCOMPARE(field(sent, "$insert_id"), field(server.batches().constFirst().records, "$insert_id"));
        QTRY_COMPARE(mp->queuedEventCount(), 0);
    }

    void quitSendsWhatIsQueuedWithoutWaitingLong_data()
    {
        QTest::addColumn<int>("delay");
        QTest::newRow("prompt service") << 0;
        QTest::newRow("slow service") << 15000;
    }

    void quitSendsWhatIsQueuedWithoutWaitingLong()
    {
        QFETCH(int, delay);
        QTemporaryDir dir;
        AnalyticsStandIn server;
        QVERIFY(server.listen());
        server.setDelay(delay);
        QProcess child;
        QSignalSpy finished(&child, &QProcess::finished);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!startChild(child, server.url(), dir.path(), 3, "quit").isEmpty());
        QVERIFY(finished.wait(8000));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(server.requestCount(), 1);

        // What the slow service never answered is still queued.
        server.setDelay(0);
        mp = start(dir.path(), server.url());
        QCOMPARE(mp->queuedEventCount(), delay ? 3 : 0);
        if (!delay)
            QCOMPARE(field(server.acceptedEvents(), "index"), QStringList({"0", "1", "2"}));
    }

    void distinctIdIsKeptAcrossStarts()
    {
        QTemporaryDir dir;
        QProcess first, second;
        const QString id = startChild(first, unreachableUrl(), dir.path(), 0, "quit");
        QVERIFY(ended(first));
        QVERIFY(!QUuid::fromString(id).isNull());
        QCOMPARE(startChild(second, unreachableUrl(), dir.path(), 0, "quit"), id);
        QVERIFY(ended(second));

        mp = start(dir.path(), unreachableUrl());
        mp->identify(QStringLiteral("user-9"), false);
        stop(std::exchange(mp, nullptr));
        mp = start(dir.path(), unreachableUrl());
        QCOMPARE(mp->distinctId(), QStringLiteral("user-9"));
        QCOMPARE(mp->anonymousId(), id);
        QVERIFY(!mp->usePeople());
    }

    // Every start identifies; the profile is queued only when it is new.
    void profileIsQueuedOnlyWhenItChanges()
    {
        QTemporaryDir dir;
        const auto queuedProfiles = [&dir] {
            QFile queue(dir.filePath(QStringLiteral("people.jsonl")));
            return queue.open(QIODevice::ReadOnly) ? queue.readAll().count("\"$set\"") : qsizetype(0);
        };
        const QString version = QCoreApplication::applicationVersion();
        const auto restart = [&] {
            stop(std::exchange(mp, nullptr));
            mp = start(dir.path(), unreachableUrl());
            mp->identify(QStringLiteral("user-5"), true);
        };

        QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
        restart();
        QCOMPARE(queuedProfiles(), 1);
        restart();
        QCOMPARE(queuedProfiles(), 1);

        QCoreApplication::setApplicationVersion(QStringLiteral("1.1"));
        restart();
        QCOMPARE(queuedProfiles(), 2);
        mp->identify(QStringLiteral("user-6"), true);
        QCOMPARE(queuedProfiles(), 3);

        // Opting out drops the queue, profile and all: opted in again, it is queued anew.
        mp->optOutTracking();
        mp->optInTracking();
        restart();
        QCOMPARE(queuedProfiles(), 1);
        QCoreApplication::setApplicationVersion(version);
    }

    void corruptQueueIsSetAside_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::addColumn<int>("kept"); // 0: the damage replaces the whole file
        QTest::newRow("truncated last line") << QByteArray("{\"event\":\"Cut\",\"propert") << 2;
        QTest::newRow("zeroed block") << QByteArray(64, '\0') << 2;
        QTest::newRow("valid JSON, not an event") << QByteArray("[1,2,3]\n{\"event\":5}\n") << 2;
        QTest::newRow("all garbage") << QByteArray("\x89PNG\r\n\x1a\n\xff\xfe garbage") << 0;
    }

    void corruptQueueIsSetAside()
    {
        QFETCH(QByteArray, damage);
        QFETCH(int, kept);
        Client c;
        c.begin();
        c.restart(unreachableUrl());
        for (int i = 0; i < kept; ++i)
            c.mp->track(QStringLiteral("Good"), {{QStringLiteral("index"), QString::number(i)}});
        stop(std::exchange(c.mp, nullptr));
        QFile queue(c.dir->filePath(QStringLiteral("events.jsonl")));
        QVERIFY(queue.open(kept ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(queue.write(damage), damage.size());
        queue.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("set aside")));
        c.mp = start(c.dir->path(), c.server->url());
        QCOMPARE(c.mp->queuedEventCount(), kept);
        QCOMPARE(corruptCopies(c.dir->path()).size(), 1);
        c.mp->track(QStringLiteral("Good"), {{QStringLiteral("index"), QStringLiteral("new")}});
        QCOMPARE(c.flushOnce(), std::optional<bool>(true));
        QStringList expected = kept ? QStringList({"0", "1"}) : QStringList();
        QCOMPARE(field(c.server->acceptedEvents(), "index"), expected << QStringLiteral("new"));

        // The repaired queue reads cleanly the next time.
        c.restart(c.server->url());
        QCOMPARE(c.mp->queuedEventCount(), 0);
        QCOMPARE(corruptCopies(c.dir->path()).size(), 1);
    }

    void corruptIdentityGivesANewOne()
    {
        QTemporaryDir dir;
        QFile identity(dir.filePath(QStringLiteral("identity.json")));
        QVERIFY(identity.open(QIODevice::WriteOnly) && identity.write("{\"distinct_id\": 17, \"identified\"") > 0);
        identity.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("identity")));
        mp = start(dir.path(), unreachableUrl());
        const QString id = mp->distinctId();
        QVERIFY(!QUuid::fromString(id).isNull());
        stop(std::exchange(mp, nullptr));
        mp = start(dir.path(), unreachableUrl());
        QCOMPARE(mp->distinctId(), id);
    }

    void serverUrlMustBeHttpsOffLoopback_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << "https://api-eu.mixpanel.com/" << true;
        QTest::newRow("http loopback v6") << "http://[::1]:9" << true;
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
        mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("url-check"), false, 60, configuration);
        QCOMPARE(mp->isServerUrlAllowed(), allowed);
        if (!allowed) {
            mp->track(QStringLiteral("Kept"));
            QCOMPARE(mp->queuedEventCount(), 1); // kept for a build with a usable address
            QVERIFY(!mp->isFlushScheduled());
            QSignalSpy finished(mp, &MixpanelInstance::flushFinished);
            mp->flush();
            QVERIFY(finished.wait(2000));
            QVERIFY(!finished.first().first().toBool());
            QCOMPARE(network.requests, 0);
        }
        stop(std::exchange(mp, nullptr)); // before the network goes
    }

    void defaultStorageIsKeyedByToken()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString expected = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                + QStringLiteral("/mixpanel/") + Token;
        QDir(expected).removeRecursively();
        mixpanel::Mixpanel::Configuration configuration;
        configuration.serverUrl = unreachableUrl();
        mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("first-name"), false, 60, configuration);
        QCOMPARE(mp->storageDirectory(), expected);
        mp->track(QStringLiteral("Kept"));
        const QString id = mp->distinctId();
        stop(std::exchange(mp, nullptr));

        mp = mixpanel::Mixpanel::initialize(Token, QStringLiteral("another-name"), false, 60, configuration);
        QCOMPARE(mp->queuedEventCount(), 1);
        QCOMPARE(mp->distinctId(), id);
        stop(std::exchange(mp, nullptr));
        QVERIFY(QDir(expected).removeRecursively());
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "tst_analytics_persistence.moc"
