// How pending reports are handled by the ingest's answers, and how bad
// files are kept out of the queue. Reports come from a real crash of the
// helper program.

#include "crashtestutil.h"
#include "dsn.h"
#include "ingeststandin.h"
#include "reportuploader.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using sentry::DeliverySummary;
using sentry::ReportUploader;

Q_DECLARE_METATYPE(sentry::DeliverySummary)

class TestDelivery : public QObject
{
    Q_OBJECT

private:
    QByteArray m_report; // a complete report of a SIGSEGV in the helper

    void writeFile(const QString &path, const QByteArray &data)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(data), data.size());
    }

    // Runs one pass over the folder against the given DSN.
    DeliverySummary deliver(const QString &database, const QString &dsnText)
    {
        const auto dsn = sentry::Dsn::parse(dsnText);
        if (!dsn) {
            qWarning("bad test DSN %s", qPrintable(dsnText));
            return {-1, -1, -1};
        }
        sentry::Options options;
        options.databasePath = database;
        options.releaseName = QStringLiteral("delivery@1");
        options.environment = QStringLiteral("test");
        ReportUploader uploader(*dsn, options, nullptr);
        QSignalSpy finished(&uploader, &ReportUploader::finished);
        uploader.start();
        if (!finished.wait(30000))
            return {-1, -1, -1};
        return finished.first().first().value<DeliverySummary>();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<DeliverySummary>();
        QTemporaryDir database;
        QVERIFY(database.isValid());
        const HelperRun crash = runHelper(QStringLiteral("segv"), database.path(),
                                          QStringLiteral("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42"));
        QVERIFY2(crash.finished, crash.err.constData());
        QCOMPARE(crash.exitStatus, QProcess::CrashExit);
        const QStringList reports = reportsIn(database.path());
        QCOMPARE(reports.size(), 1);
        QFile file(database.filePath(reports.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_report = file.readAll();
    }

    void acceptedReportIsDeleted()
    {
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        writeFile(database.filePath(QStringLiteral("1-1.crash")), m_report);

        const DeliverySummary summary = deliver(database.path(), ingest.dsn());
        QCOMPARE(summary.delivered, 1);
        QCOMPARE(summary.kept, 0);
        QCOMPARE(ingest.problems(), QStringList());
        QCOMPARE(ingest.acceptedEvents().size(), 1);
        QVERIFY(!QFile::exists(database.filePath(QStringLiteral("1-1.crash"))));

        // The helper is not loaded here: its frames keep module and address
        // but get no name, while frames in shared libraries both processes map
        // (libc) can still be named.
        const QString helperPath = QFileInfo(QStringLiteral(CRASH_HELPER)).canonicalFilePath();
        const QJsonArray frames = ingest.acceptedEvents()
                                      .first()
                                      .value(u"exception").toObject()
                                      .value(u"values").toArray().first().toObject()
                                      .value(u"stacktrace").toObject()
                                      .value(u"frames").toArray();
        int helperFrames = 0;
        for (const QJsonValue &value : frames) {
            const QJsonObject frame = value.toObject();
            if (frame.value(u"package").toString() != helperPath)
                continue;
            ++helperFrames;
            QVERIFY(frame.value(u"instruction_addr").toString().startsWith(u"0x"));
            QVERIFY(!frame.contains(u"function"));
        }
        QVERIFY(helperFrames >= 2);
    }

    void refusingIngestKeepsReport_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("503") << 503;
        QTest::newRow("500") << 500;
        QTest::newRow("429") << 429;
        QTest::newRow("403") << 403;
    }

    void refusingIngestKeepsReport()
    {
        QFETCH(int, status);
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        ingest.refuseWith(status);
        writeFile(database.filePath(QStringLiteral("1-1.crash")), m_report);
        writeFile(database.filePath(QStringLiteral("2-2.crash")), m_report);

        const DeliverySummary summary = deliver(database.path(), ingest.dsn());
        QCOMPARE(summary.delivered, 0);
        QCOMPARE(summary.kept, 2);
        // The second is not tried against an ingest that just refused.
        QCOMPARE(ingest.requestCount(), 1);
        QCOMPARE(ingest.problems(), QStringList());
        QCOMPARE(reportsIn(database.path()).size(), 2);

        // Accepted at the next start.
        ingest.refuseWith(0);
        const DeliverySummary later = deliver(database.path(), ingest.dsn());
        QCOMPARE(later.delivered, 2);
        QVERIFY(reportsIn(database.path()).isEmpty());
    }

    void unreachableIngestKeepsReport()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = probe.serverPort();
        probe.close();

        QTemporaryDir database;
        writeFile(database.filePath(QStringLiteral("1-1.crash")), m_report);
        const DeliverySummary summary =
            deliver(database.path(),
                    QStringLiteral("http://0123456789abcdef0123456789abcdef@127.0.0.1:%1/42").arg(closedPort));
        QCOMPARE(summary.kept, 1);
        QCOMPARE(summary.delivered, 0);
        QCOMPARE(reportsIn(database.path()), QStringList{QStringLiteral("1-1.crash")});
    }

    void malformedRejectionIsSetAside_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("400") << 400;
        QTest::newRow("413") << 413;
    }

    void malformedRejectionIsSetAside()
    {
        QFETCH(int, status);
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        ingest.refuseWith(status);
        writeFile(database.filePath(QStringLiteral("1-1.crash")), m_report);

        const DeliverySummary summary = deliver(database.path(), ingest.dsn());
        QCOMPARE(summary.setAside, 1);
        QCOMPARE(summary.kept, 0);
        QVERIFY(reportsIn(database.path()).isEmpty());
        QVERIFY(QFile::exists(database.filePath(ReportUploader::rejectedFolder() + QStringLiteral("/1-1.crash"))));
    }

    void corruptReportsAreSetAsideAndGoodOneDelivered()
    {
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        writeFile(database.filePath(QStringLiteral("1-1.crash")), QByteArray("\x7f" "ELF garbage\n"));
        writeFile(database.filePath(QStringLiteral("2-2.crash")), m_report.left(m_report.size() / 2));
        writeFile(database.filePath(QStringLiteral("3-3.crash.tmp")), m_report);
        QByteArray badFrames = m_report;
        badFrames.replace("\nframes ", "\nframes 9999");
        writeFile(database.filePath(QStringLiteral("4-4.crash")), badFrames);
        writeFile(database.filePath(QStringLiteral("5-5.crash")), m_report);

        const DeliverySummary summary = deliver(database.path(), ingest.dsn());
        QCOMPARE(summary.delivered, 1);
        QCOMPARE(summary.setAside, 4);
        QCOMPARE(ingest.acceptedEvents().size(), 1);
        QVERIFY(reportsIn(database.path(), QStringLiteral("*")).isEmpty());
        QStringList corrupt = reportsIn(database.filePath(ReportUploader::corruptFolder()), QStringLiteral("*"));
        corrupt.sort();
        QCOMPARE(corrupt, (QStringList{QStringLiteral("1-1.crash"), QStringLiteral("2-2.crash"),
                                      QStringLiteral("3-3.crash.tmp"), QStringLiteral("4-4.crash")}));
    }
};

QTEST_GUILESS_MAIN(TestDelivery)
#include "tst_delivery.moc"
