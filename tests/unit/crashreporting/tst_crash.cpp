// A helper process crashes with the reporter started; a second run of the
// same program delivers the report. Then how pending reports fare with the
// ingest's answers, and how bad files are kept out of the queue.

#include "crashtestutil.h"
#include "dsn.h"
#include "ingeststandin.h"
#include "reportuploader.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using sentry::DeliverySummary;
using sentry::ReportUploader;

Q_DECLARE_METATYPE(sentry::DeliverySummary)

class TestCrashReporting : public QObject
{
    Q_OBJECT

    QByteArray m_report; // a complete report of a SIGSEGV in the helper

    static void writeFile(const QString &path, const QByteArray &data)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(data), data.size());
    }

    // One pass over the folder; -1 everywhere if it did not finish.
    // networks: how many network access managers the uploader made.
    static DeliverySummary deliver(const QString &database, const QString &dsnText, qsizetype *networks = nullptr)
    {
        sentry::Options options;
        options.databasePath = database;
        ReportUploader uploader(*sentry::Dsn::parse(dsnText), options, nullptr);
        QSignalSpy finished(&uploader, &ReportUploader::finished);
        uploader.start();
        const bool done = finished.size() > 0 || finished.wait(30000);
        if (networks)
            *networks = uploader.findChildren<QNetworkAccessManager *>().size();
        return done ? finished.first().first().value<DeliverySummary>() : DeliverySummary{-1, -1, -1};
    }

    static QJsonArray framesOf(const QJsonObject &event)
    {
        return event.value(u"exception").toObject().value(u"values").toArray().first().toObject()
            .value(u"stacktrace").toObject().value(u"frames").toArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<DeliverySummary>();
        QTemporaryDir database;
        const HelperRun crash = runHelper(QStringLiteral("segv"), database.path(),
                                          QStringLiteral("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42"));
        QVERIFY2(crash.finished, crash.err.constData());
        const QStringList reports = reportsIn(database.path());
        QCOMPARE(reports.size(), 1);
        QFile file(database.filePath(reports.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_report = file.readAll();
    }

    void crashIsRecordedAndDeliveredAtNextStart_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("function");
        QTest::addColumn<bool>("innermost");
        QTest::addColumn<bool>("reachesMain");
        QTest::newRow("null write") << "segv" << SIGSEGV << "wuggHelperCrashByNullWrite" << true << true;
        QTest::newRow("abort") << "abort" << SIGABRT << "wuggHelperAbortOnPurpose" << false << true;
        // A stack overflow runs out of frames before it reaches main.
        QTest::newRow("stack overflow") << "overflow" << SIGSEGV << "wuggHelperRecurseForever" << true << false;
        // The unwinder cannot read code at a wild address; the crashing
        // frame is the address itself, its caller the one that made the call.
        QTest::newRow("call through garbage") << "wildcall" << SIGSEGV << "wuggHelperCallThroughGarbage" << false
                                              << true;
#if defined(__x86_64__)
        // Nothing above the faulting frame can be read.
        QTest::newRow("bad stack pointer") << "badstack" << SIGSEGV << "wuggHelperFaultWithBadStackPointer"
                                           << true << false;
#endif
    }

    void crashIsRecordedAndDeliveredAtNextStart()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, function);
        QFETCH(bool, innermost);
        QFETCH(bool, reachesMain);
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());

        const HelperRun crash = runHelper(mode, database.path(), ingest.dsn());
        QVERIFY2(crash.finished, crash.err.constData());
        QCOMPARE(crash.exitStatus, QProcess::CrashExit);
        QCOMPARE(crash.exitCode, signal); // died by the signal itself, not by our handler
        QVERIFY(!crash.out.contains("still alive"));
        QCOMPARE(ingest.requestCount(), 0);

        const QStringList reports = reportsIn(database.path());
        QCOMPARE(reports.size(), 1);
        QVERIFY(reportsIn(database.path(), QStringLiteral("*.tmp")).isEmpty());
        QFile reportFile(database.filePath(reports.first()));
        QVERIFY(reportFile.open(QIODevice::ReadOnly));
        const QByteArray report = reportFile.readAll();
        QVERIFY(report.contains("\nsignal " + QByteArray::number(signal) + '\n'));
        const QString reportEventId = QString::fromLatin1(report.mid(report.indexOf("\nevent_id ") + 10, 32));

        const HelperRun deliver = runHelper(QStringLiteral("deliver"), database.path(), ingest.dsn());
        QVERIFY2(deliver.finished, deliver.err.constData());
        QCOMPARE(deliver.out.trimmed(), QByteArray("delivered=1 kept=0 set_aside=0"));
        QCOMPARE(ingest.problems(), QStringList());
        QCOMPARE(ingest.acceptedEvents().size(), 1);
        QVERIFY(reportsIn(database.path()).isEmpty());

        const QJsonObject event = ingest.acceptedEvents().first();
        QCOMPARE(event.value(u"event_id").toString(), reportEventId);
        QCOMPARE(event.value(u"release").toString(), QStringLiteral("crashhelper@2.5"));
        const QJsonObject exception = event.value(u"exception").toObject().value(u"values").toArray().first().toObject();
        const QJsonObject mechanism = exception.value(u"mechanism").toObject();
        QCOMPARE(mechanism.value(u"handled").toBool(true), false);
        QCOMPARE(mechanism.value(u"meta").toObject().value(u"signal").toObject().value(u"number").toInt(), signal);

        // Oldest first: main comes before the function that crashed.
        const QJsonArray frames = framesOf(event);
        const QString helperPath = QFileInfo(QStringLiteral(CRASH_HELPER)).canonicalFilePath();
        qsizetype mainAt = -1, crashedAt = -1;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            const QJsonObject frame = frames[i].toObject();
            QVERIFY(frame.value(u"instruction_addr").toString().startsWith(u"0x"));
            const QString name = frame.value(u"function").toString();
            if (name == u"main" && frame.value(u"package").toString() == helperPath)
                mainAt = i;
            if (name.startsWith(function)) {
                QCOMPARE(frame.value(u"package").toString(), helperPath);
                QVERIFY(frame.value(u"in_app").toBool());
                QVERIFY(frame.value(u"filename").toString().endsWith(u"crashhelper.cpp"));
                crashedAt = i;
            }
        }
        QVERIFY2(crashedAt >= 0, "no frame names the crashing function");
        if (innermost)
            QCOMPARE(crashedAt, frames.size() - 1);
        if (mode == u"wildcall") {
            QCOMPARE(crashedAt, frames.size() - 2);
            QCOMPARE(frames.last().toObject().value(u"instruction_addr").toString(), QStringLiteral("0x1230"));
            QVERIFY(!frames.last().toObject().contains(u"package"));
        }
        if (reachesMain)
            QVERIFY2(mainAt >= 0 && mainAt < crashedAt, "main is missing or after the crash");
    }

    void acceptedReportIsDeleted()
    {
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        writeFile(database.filePath(QStringLiteral("1-1.crash")), m_report);

        const DeliverySummary summary = deliver(database.path(), ingest.dsn());
        QCOMPARE(summary.delivered, 1);
        QCOMPARE(ingest.problems(), QStringList());
        QCOMPARE(ingest.acceptedEvents().size(), 1);
        QVERIFY(reportsIn(database.path()).isEmpty());

        // The helper is not loaded here: its frames keep module and address
        // but must not be named after whatever this process has there.
        const QString helperPath = QFileInfo(QStringLiteral(CRASH_HELPER)).canonicalFilePath();
        int helperFrames = 0;
        for (const QJsonValue &value : framesOf(ingest.acceptedEvents().first())) {
            const QJsonObject frame = value.toObject();
            if (frame.value(u"package").toString() != helperPath)
                continue;
            ++helperFrames;
            QVERIFY(frame.value(u"instruction_addr").toString().startsWith(u"0x"));
            QVERIFY(!frame.contains(u"function"));
        }
        QVERIFY(helperFrames >= 2);
    }

    void refusedReportsAreKeptOrSetAside_data()
    {
        QTest::addColumn<int>("status"); // 0: nobody listens
        QTest::newRow("503") << 503;
        QTest::newRow("429") << 429;
        QTest::newRow("403") << 403;
        QTest::newRow("unreachable") << 0;
        QTest::newRow("400 malformed") << 400;
        QTest::newRow("413 too large") << 413;
    }

    void refusedReportsAreKeptOrSetAside()
    {
        QFETCH(int, status);
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        ingest.refuseWith(status);
        QString dsn = ingest.dsn();
        if (!status) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            dsn = QStringLiteral("http://0123456789abcdef0123456789abcdef@127.0.0.1:%1/42").arg(probe.serverPort());
        }
        writeFile(database.filePath(QStringLiteral("1-1.crash")), m_report);
        writeFile(database.filePath(QStringLiteral("2-2.crash")), m_report);
        const DeliverySummary summary = deliver(database.path(), dsn);
        QCOMPARE(summary.delivered, 0);

        if (status == 400 || status == 413) {
            // The ingest will never take these: out of the queue, but kept.
            QCOMPARE(summary.setAside, 2);
            QVERIFY(reportsIn(database.path()).isEmpty());
            QCOMPARE(reportsIn(database.filePath(ReportUploader::rejectedFolder())).size(), 2);
            return;
        }
        QCOMPARE(summary.kept, 2);
        // The second is not tried against an ingest that just refused.
        QCOMPARE(ingest.requestCount(), status ? 1 : 0);
        QCOMPARE(reportsIn(database.path()).size(), 2);

        // Accepted at the next start.
        ingest.refuseWith(0);
        QCOMPARE(deliver(database.path(), ingest.dsn()).delivered, 2);
        QVERIFY(reportsIn(database.path()).isEmpty());
    }

    // Starting the reporter must not cost a network access manager unless a
    // report goes out.
    void networkIsMadeOnlyToSend_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("delivered");
        QTest::addColumn<int>("setAside");
        QTest::newRow("nothing pending") << QStringList() << 0 << 0;
        QTest::newRow("only corrupt") << QStringList({"1-1.crash", "2-2.crash.tmp"}) << 0 << 2;
        QTest::newRow("one report") << QStringList({"1-1.crash"}) << 1 << 0;
    }

    void networkIsMadeOnlyToSend()
    {
        QFETCH(QStringList, files);
        QFETCH(int, delivered);
        QFETCH(int, setAside);
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        for (const QString &name : std::as_const(files))
            writeFile(database.filePath(name), setAside ? QByteArray("garbage\n") : m_report);
        qsizetype networks = -1;
        const DeliverySummary summary = deliver(database.path(), ingest.dsn(), &networks);
        QCOMPARE(summary.delivered, delivered);
        QCOMPARE(summary.setAside, setAside);
        QCOMPARE(summary.kept, 0);
        QCOMPARE(ingest.acceptedEvents().size(), delivered);
        QCOMPARE(networks, qsizetype(delivered));
    }

    void corruptReportsAreSetAsideAndGoodOneDelivered()
    {
        QTemporaryDir database;
        IngestStandIn ingest;
        QVERIFY(ingest.listen());
        QByteArray badFrames = m_report;
        badFrames.replace("\nframes ", "\nframes 9999");
        writeFile(database.filePath(QStringLiteral("1-1.crash")), QByteArray("\x7f" "ELF garbage\n"));
        writeFile(database.filePath(QStringLiteral("2-2.crash")), m_report.left(m_report.size() / 2));
        writeFile(database.filePath(QStringLiteral("3-3.crash.tmp")), m_report);
        writeFile(database.filePath(QStringLiteral("4-4.crash")), badFrames);
        writeFile(database.filePath(QStringLiteral("5-5.crash")), m_report);

        const DeliverySummary summary = deliver(database.path(), ingest.dsn());
        QCOMPARE(summary.delivered, 1);
        QCOMPARE(summary.setAside, 4);
        QCOMPARE(ingest.acceptedEvents().size(), 1);
        QVERIFY(reportsIn(database.path(), QStringLiteral("*")).isEmpty());
        QStringList corrupt = reportsIn(database.filePath(ReportUploader::corruptFolder()), QStringLiteral("*"));
        corrupt.sort();
        QCOMPARE(corrupt, QStringList({"1-1.crash", "2-2.crash", "3-3.crash.tmp", "4-4.crash"}));
    }
};

QTEST_GUILESS_MAIN(TestCrashReporting)
#include "tst_crash.moc"
