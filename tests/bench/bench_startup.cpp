// Start-up time, idle memory and idle wake-ups of the program.
//
// bench_startup <probe> [runs] [idle-seconds]
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A field of /proc/<pid>/status, such as VmRSS (kB) or voluntary_ctxt_switches.
long statusField(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <probe> [runs] [idle-seconds]\n", argv[0]);
        return 2;
    }
    const QString probe = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    const int idleSeconds = argc > 3 ? std::max(1, atoi(argv[3])) : 65;

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        env.insert(QString::fromLatin1(var), home.path());

    std::vector<double> startMs;
    long rssKb = -1;
    long wakeups = -1;
    for (int i = 0; i < runs; ++i) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const double before = monotonicSeconds();
        program.start(probe);
        if (!program.waitForStarted(5000) || !program.waitForReadyRead(10000)) {
            std::fprintf(stderr, "the program did not reach its event loop\n");
            return 1;
        }
        const QByteArray line = program.readLine().trimmed();
        if (!line.startsWith("idle ")) {
            std::fprintf(stderr, "unexpected output: %s\n", line.constData());
            return 1;
        }
        startMs.push_back((line.mid(5).toDouble() - before) * 1000.0);

        if (i == runs - 1) {
            // Let start-up work settle, then watch the idle process.
            QThread::sleep(3);
            rssKb = statusField(program.processId(), "VmRSS");
            const long switchesBefore = statusField(program.processId(), "voluntary_ctxt_switches");
            QThread::sleep(static_cast<unsigned long>(idleSeconds));
            wakeups = statusField(program.processId(), "voluntary_ctxt_switches") - switchesBefore;
        }
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        if (!program.waitForFinished(10000) || program.exitCode() != 0) {
            std::fprintf(stderr, "the program did not quit cleanly on SIGTERM\n");
            return 1;
        }
    }

    std::sort(startMs.begin(), startMs.end());
    std::printf("start to idle event loop: median %.1f ms, min %.1f ms, max %.1f ms over %d runs (target < 100 ms)\n",
                startMs[startMs.size() / 2], startMs.front(), startMs.back(), runs);
    std::printf("idle resident memory: %.1f MB (target < 40 MB)\n", double(rssKb) / 1024.0);
    std::printf("idle wake-ups: %ld in %d s (target: at most one a minute)\n", wakeups, idleSeconds);
    return 0;
}
