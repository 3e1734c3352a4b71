#include <analyticscollecting.h>
#include <appdelegate.h>
#include <applicationstateobserver.h>
#include <datastoring.h>
#include <mendoraapp.h>
#include <mixpanel.h>
#include <resolver.h>
#include <sentrysdk.h>

#include <QNetworkAccessManager>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>

namespace {

QTemporaryDir *sandbox = nullptr;
bool launchedDuringConstruction = false;
bool launched = false;

// Keeps the test's preferences, queues and reports out of the real home.
void useSandboxHome(QProcessEnvironment *env = nullptr)
{
    const QString root = sandbox->path();
    const QList<std::pair<const char *, QString>> vars = {
        {"HOME", root},
        {"XDG_CONFIG_HOME", root + QStringLiteral("/config")},
        {"XDG_DATA_HOME", root + QStringLiteral("/data")},
        {"XDG_CACHE_HOME", root + QStringLiteral("/cache")},
    };
    for (const auto &[name, value] : vars) {
        if (env)
            env->insert(QString::fromLatin1(name), value);
        else
            qputenv(name, value.toLocal8Bit());
    }
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void constructingTheDelegateStartsCrashReportingOnly()
    {
        // MendoraApp made the delegate in main(); that resolved the crash reporter.
        QVERIFY(sentry::SentrySDK::isEnabled());
        const sentry::Options &options = sentry::SentrySDK::options();
        QCOMPARE(options.dsn.size(), 92);
        QVERIFY(QRegularExpression(QStringLiteral("^https://fedcba9876543210fedcba9876543210@[a-z0-9.-]+/[0-9]{16}$"))
                    .match(options.dsn)
                    .hasMatch());
        QVERIFY(options.enableTracing);
        QCOMPARE(options.tracesSampleRate, 0.5);
        QVERIFY(options.enableTimeToFullDisplayTracing);
        QVERIFY(options.swiftAsyncStacktraces);
        // Registration builds nothing: analytics starts on its first resolution only.
        QVERIFY(mixpanel::Mixpanel::mainInstance() == nullptr);
    }

    void launchingFinishesOnTheFirstTurnOfTheEventLoop()
    {
        QVERIFY(!launchedDuringConstruction);
        QTRY_VERIFY(launched);
    }

    void registrationsResolveWithTheirScopes()
    {
        Resolver &r = Resolver::main();
        QVERIFY(r.resolve<DataStoring>() != r.resolve<DataStoring>());
        QCOMPARE(r.resolve<QNetworkAccessManager>(), r.resolve<QNetworkAccessManager>());

        auto state = r.resolve<ApplicationStateObservable>();
        QCOMPARE(r.resolve<ApplicationStateObservable>(), state);
        QCOMPARE(static_cast<ApplicationStateObservable *>(r.resolve<ApplicationStateObserver>().get()), state.get());

        auto analytics = r.resolve<AnalyticsCollecting>();
        QCOMPARE(r.resolve<AnalyticsCollecting>(), analytics);
        QVERIFY(mixpanel::Mixpanel::mainInstance() != nullptr);
        QVERIFY(!analytics->distinctId().isEmpty());
        QCOMPARE(mixpanel::Mixpanel::mainInstance()->distinctId(), analytics->distinctId());
    }

    void closingTheLastWindowDoesNotQuit()
    {
        bool quitting = false;
        auto connection = connect(qApp, &QCoreApplication::aboutToQuit, this, [&quitting] { quitting = true; });
        {
            QWidget window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.close();
        }
        QTest::qWait(200);
        QVERIFY(!quitting);
        disconnect(connection);
    }

    void quitsCleanlyOnSignals_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void quitsCleanlyOnSignals()
    {
        QFETCH(int, signal);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        useSandboxHome(&env);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(WUGGIT_BINARY));
        QVERIFY(program.waitForStarted(5000));
        // It idles rather than exiting by itself.
        QVERIFY(!program.waitForFinished(1500));
        QCOMPARE(program.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(program.processId()), signal);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    sandbox = &dir;
    useSandboxHome();
    MendoraApp app(argc, argv);
    QObject::connect(app.appDelegate(), &AppDelegate::didFinishLaunching, [] { launched = true; });
    launchedDuringConstruction = launched;
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
