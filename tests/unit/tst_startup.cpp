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
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>

namespace {

QTemporaryDir *sandbox = nullptr;
bool launchedDuringConstruction = false;
bool launched = false;

// Keeps the test's preferences, queues and reports out of the real home;
// the child started by the signal test inherits it.
void useSandboxHome()
{
    const QString root = sandbox->path();
    qputenv("HOME", root.toLocal8Bit());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, (root + u'/' + QLatin1String(name)).toLocal8Bit());
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startupOrderAndScopes()
    {
        // The delegate made in main() started crash reporting but no analytics,
        // and finished launching only on the first turn of the event loop.
        QVERIFY(sentry::SentrySDK::isEnabled());
        QVERIFY(mixpanel::Mixpanel::mainInstance() == nullptr);
        QVERIFY(!launchedDuringConstruction);
        QTRY_VERIFY(launched);

        Resolver &r = Resolver::main();
        QVERIFY(r.resolve<DataStoring>() != r.resolve<DataStoring>());
        QCOMPARE(r.resolve<QNetworkAccessManager>(), r.resolve<QNetworkAccessManager>());
        auto state = r.resolve<ApplicationStateObservable>();
        QCOMPARE(static_cast<ApplicationStateObservable *>(r.resolve<ApplicationStateObserver>().get()), state.get());
        auto analytics = r.resolve<AnalyticsCollecting>();
        QCOMPARE(r.resolve<AnalyticsCollecting>(), analytics);
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
        disconnect(connection);
        QVERIFY(!quitting);
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
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // A configuration of its own: this test is a copy of the program too,
        // holding the sandbox's, and a second copy would only defer to it.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox->filePath(QStringLiteral("child-config")));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(WUGGIT_BINARY));
        QVERIFY(program.waitForStarted(5000));
        // It idles rather than exiting by itself.
        QVERIFY(!program.waitForFinished(1500));
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
