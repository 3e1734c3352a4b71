// A helper process crashes with the reporter started; a second run of the
// same program delivers the report to a stand-in ingest.

#include "crashtestutil.h"
#include "ingeststandin.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void crashIsRecordedAndDeliveredAtNextStart_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("function");
        QTest::addColumn<bool>("functionIsInnermost");
        QTest::newRow("null write") << QStringLiteral("segv") << SIGSEGV << QStringLiteral("SIGSEGV")
                                    << QStringLiteral("wuggHelperCrashByNullWrite") << true;
        QTest::newRow("abort") << QStringLiteral("abort") << SIGABRT << QStringLiteral("SIGABRT")
                               << QStringLiteral("wuggHelperAbortOnPurpose") << false;
        QTest::newRow("stack overflow") << QStringLiteral("overflow") << SIGSEGV << QStringLiteral("SIGSEGV")
                                        << QStringLiteral("wuggHelperRecurseForever") << true;
    }

    void crashIsRecordedAndDeliveredAtNextStart()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, type);
        QFETCH(QString, function);
        QFETCH(bool, functionIsInnermost);

        QTemporaryDir database;
        QVERIFY(database.isValid());
        IngestStandIn ingest;
        QVERIFY(ingest.listen());

        const HelperRun crash = runHelper(mode, database.path(), ingest.dsn());
        QVERIFY2(crash.finished, crash.err.constData());
        QCOMPARE(crash.exitStatus, QProcess::CrashExit);
        QCOMPARE(crash.exitCode, signal); // died by the signal itself, not by our handler
        QVERIFY(!crash.out.contains("still alive"));
        QCOMPARE(ingest.requestCount(), 0); // nothing pending before the crash

        const QStringList reports = reportsIn(database.path());
        QCOMPARE(reports.size(), 1);
        QVERIFY(reportsIn(database.path(), QStringLiteral("*.tmp")).isEmpty());
        QFile reportFile(database.filePath(reports.first()));
        QVERIFY(reportFile.open(QIODevice::ReadOnly));
        const QByteArray report = reportFile.readAll();
        QVERIFY(report.contains("\nsignal " + QByteArray::number(signal) + '\n'));
        QVERIFY(report.contains("\nmaps\n"));
        const qsizetype idAt = report.indexOf("\nevent_id ") + 10;
        const QString reportEventId = QString::fromLatin1(report.mid(idAt, 32));

        const HelperRun deliver = runHelper(QStringLiteral("deliver"), database.path(), ingest.dsn());
        QVERIFY2(deliver.finished, deliver.err.constData());
        QCOMPARE(deliver.exitStatus, QProcess::NormalExit);
        QCOMPARE(deliver.out.trimmed(), QByteArray("delivered=1 kept=0 set_aside=0"));
        QCOMPARE(ingest.problems(), QStringList());
        QCOMPARE(ingest.acceptedEvents().size(), 1);
        QVERIFY(reportsIn(database.path()).isEmpty());

        const QJsonObject event = ingest.acceptedEvents().first();
        QCOMPARE(event.value(u"event_id").toString(), reportEventId);
        QCOMPARE(event.value(u"platform").toString(), QStringLiteral("native"));
        QCOMPARE(event.value(u"level").toString(), QStringLiteral("fatal"));
        QCOMPARE(event.value(u"release").toString(), QStringLiteral("crashhelper@2.5"));
        QCOMPARE(event.value(u"environment").toString(), QStringLiteral("test"));
        const QJsonObject os = event.value(u"contexts").toObject().value(u"os").toObject();
        QCOMPARE(os.value(u"name").toString(), QStringLiteral("Linux"));
        QCOMPARE(os.value(u"version").toString(), QSysInfo::kernelVersion());
        const QJsonObject tracing = event.value(u"extra").toObject().value(u"sdk_options").toObject();
        QCOMPARE(tracing.value(u"enable_tracing").toBool(), true);
        QCOMPARE(tracing.value(u"traces_sample_rate").toDouble(), 0.25);

        const QJsonArray exceptions = event.value(u"exception").toObject().value(u"values").toArray();
        QCOMPARE(exceptions.size(), 1);
        const QJsonObject exception = exceptions.first().toObject();
        QCOMPARE(exception.value(u"type").toString(), type);
        const QJsonObject mechanism = exception.value(u"mechanism").toObject();
        QCOMPARE(mechanism.value(u"type").toString(), QStringLiteral("signalhandler"));
        QCOMPARE(mechanism.value(u"handled").toBool(true), false);
        QCOMPARE(mechanism.value(u"meta").toObject().value(u"signal").toObject().value(u"number").toInt(), signal);

        // Oldest first: main comes before the function that crashed.
        const QJsonArray frames = exception.value(u"stacktrace").toObject().value(u"frames").toArray();
        QVERIFY(!frames.isEmpty());
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
        if (functionIsInnermost)
            QCOMPARE(crashedAt, frames.size() - 1);
        // A stack overflow runs out of frames before it reaches main.
        if (mode != u"overflow") {
            QVERIFY2(mainAt >= 0, "no frame names main");
            QVERIFY(mainAt < crashedAt);
        }
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
