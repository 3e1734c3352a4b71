#include "sentrysdk.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTest>

// start() runs once per process, so the cases build on each other in order.
class TestSdk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName(QStringLiteral("sdktest"));
        QCoreApplication::setApplicationVersion(QStringLiteral("3.1"));
    }

    void invalidDsnDisablesWithoutStopping()
    {
        QTest::ignoreMessage(QtWarningMsg,
                             "crash reporting disabled: plain HTTP is only allowed for a loopback host");
        bool configured = false;
        sentry::SentrySDK::start([&](sentry::Options &options) {
            configured = true;
            options.dsn = QStringLiteral("http://0123456789abcdef0123456789abcdef@example.com/42");
            options.tracesSampleRate = 0.5;
        });
        QVERIFY(configured);
        QVERIFY(!sentry::SentrySDK::isEnabled());

        const sentry::Options &options = sentry::SentrySDK::options();
        QCOMPARE(options.releaseName, QStringLiteral("sdktest@3.1"));
        QCOMPARE(options.databasePath,
                 QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/crashreports"));
        QCOMPARE(options.environment, QStringLiteral("production"));
        QCOMPARE(options.tracesSampleRate, 0.5);
    }

    void secondStartIsIgnored()
    {
        QTest::ignoreMessage(QtWarningMsg,
                             "crash reporting: SentrySDK::start() was already called; ignoring this call");
        bool configured = false;
        sentry::SentrySDK::start([&](sentry::Options &options) {
            configured = true;
            options.dsn = QStringLiteral("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42");
        });
        QVERIFY(!configured);
        QVERIFY(!sentry::SentrySDK::isEnabled());
        QCOMPARE(sentry::SentrySDK::options().dsn,
                 QStringLiteral("http://0123456789abcdef0123456789abcdef@example.com/42"));
    }
};

QTEST_GUILESS_MAIN(TestSdk)
#include "tst_sdk.moc"
