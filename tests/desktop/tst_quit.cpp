// The real program ends promptly and cleanly however its surroundings go:
// a DNS server that never answers the ingest host's lookup, an X server that
// goes away before, during or after the final analytics flush. The analytics
// queue it had is still on disk afterwards.

#include "childprocess.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <unistd.h>

namespace {

// The analytics flush at quit gives up after 2 s; the rest is margin.
constexpr int QuitBoundMs = 5000;
const QHostAddress SilentResolver(QStringLiteral("127.0.0.77"));

// Records waiting in the program's analytics queues under dataHome.
int queuedRecords(const QString &dataHome)
{
    int count = 0;
    QDirIterator it(dataHome, {QStringLiteral("*.jsonl")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            if (!line.startsWith('{') || !line.trimmed().endsWith('}'))
                return -1;
            ++count;
        }
    }
    return count;
}

} // namespace

class TestQuit : public QObject
{
    Q_OBJECT

    QUdpSocket m_resolver;
    QTemporaryDir m_dir;
    QProcess m_xserver;
    QString m_display;

    bool startXServer()
    {
        int n = 300;
        while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))
               || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
            ++n;
        m_display = QStringLiteral(":%1").arg(n);
        m_xserver.start(QStringLiteral("Xvfb"), {m_display, QStringLiteral("-screen"), QStringLiteral("0"),
                                                 QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                                 QStringLiteral("tcp")});
        return m_xserver.waitForStarted(5000)
                && QTest::qWaitFor([n] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)); },
                                   10000);
    }

    void stopXServer() { desktop::endProcess(m_xserver); }

private Q_SLOTS:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("needs root for a private mount namespace and the resolver port");
        // Bound and never read: queries to it get neither an answer nor a refusal.
        QVERIFY2(m_resolver.bind(SilentResolver, 53), qPrintable(m_resolver.errorString()));
        QVERIFY(m_dir.isValid());
        QFile resolv(m_dir.filePath(QStringLiteral("resolv.conf")));
        QVERIFY(resolv.open(QIODevice::WriteOnly));
        resolv.write("nameserver " + SilentResolver.toString().toLatin1() + "\n");
    }

    void cleanup() { stopXServer(); }

    void endsCleanlyWithItsQueue_data()
    {
        QTest::addColumn<QString>("xserverGoes"); // relative to SIGTERM
        QTest::newRow("X server stays") << QString();
        QTest::newRow("X server gone before") << QStringLiteral("before");
        QTest::newRow("X server gone during the final flush") << QStringLiteral("during");
        QTest::newRow("X server gone after") << QStringLiteral("after");
    }

    void endsCleanlyWithItsQueue()
    {
        QFETCH(QString, xserverGoes);
        QVERIFY(startXServer());
        QTemporaryDir home;
        const QString dataHome = home.filePath(QStringLiteral("data"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        // The backend on loopback, where nobody answers: only the ingest host needs DNS.
        env.insert(QStringLiteral("WUGGIT_BACKEND_URL"), QStringLiteral("http://127.0.0.1:9/"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        // Its own view of /etc/resolv.conf, naming the resolver that never answers.
        program.start(QStringLiteral("unshare"),
                      {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("mount --bind \"$0\" /etc/resolv.conf && exec \"$1\""),
                       m_dir.filePath(QStringLiteral("resolv.conf")), QStringLiteral(WUGGIT_BINARY)});
        QVERIFY(program.waitForStarted(5000));
        // Started: its analytics identity and first record are on disk.
        QTRY_VERIFY_WITH_TIMEOUT(queuedRecords(dataHome) > 0, 15000);
        QTest::qWait(2000);
        QVERIFY(program.state() == QProcess::Running);
        const int queued = queuedRecords(dataHome);

        QElapsedTimer clock;
        if (xserverGoes == QLatin1String("before")) {
            stopXServer();
            clock.start();
        } else {
            clock.start();
            ::kill(pid_t(program.processId()), SIGTERM);
            if (xserverGoes == QLatin1String("during")) {
                QTest::qWait(500);
                QVERIFY2(program.state() == QProcess::Running, "the final flush should still be waiting");
                stopXServer();
            }
        }
        QVERIFY2(program.waitForFinished(QuitBoundMs * 3), "the program did not end");
        const qint64 elapsed = clock.elapsed();
        if (xserverGoes == QLatin1String("after"))
            stopXServer();

        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(elapsed < QuitBoundMs, qPrintable(QStringLiteral("it took %1 ms to end").arg(elapsed)));
        QCOMPARE(queuedRecords(dataHome), queued);
    }
};

QTEST_GUILESS_MAIN(TestQuit)
#include "tst_quit.moc"
