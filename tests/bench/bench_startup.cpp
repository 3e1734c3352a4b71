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
#include <unistd.h>
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

// User plus system CPU time of a process, in seconds.
double cpuSeconds(qint64 pid, long ticksPerSecond)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold spaces: state is field 3,
    // utime 14 and stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(ticksPerSecond);
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
    std::vector<double> trayMs;
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
        if (!program.canReadLine() && !program.waitForReadyRead(10000)) {
            std::fprintf(stderr, "the tray never showed the icon\n");
            return 1;
        }
        const QByteArray trayLine = program.readLine().trimmed();
        if (!trayLine.startsWith("tray ")) {
            std::fprintf(stderr, "unexpected output: %s\n", trayLine.constData());
            return 1;
        }
        trayMs.push_back((trayLine.mid(5).toDouble() - before) * 1000.0);

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

    // CPU while the icon blinks at its fastest (0.2 s), over the same span.
    double blinkCpuPercent = -1;
    {
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(probe, {QStringLiteral("--blink")});
        while (program.waitForReadyRead(10000)) {
            if (program.readAll().contains("tray "))
                break;
        }
        QThread::sleep(2);
        const long ticks = sysconf(_SC_CLK_TCK);
        const double before = cpuSeconds(program.processId(), ticks);
        const double wallBefore = monotonicSeconds();
        QThread::sleep(static_cast<unsigned long>(std::min(idleSeconds, 20)));
        blinkCpuPercent = (cpuSeconds(program.processId(), ticks) - before) / (monotonicSeconds() - wallBefore) * 100.0;
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        program.waitForFinished(10000);
    }

    std::sort(startMs.begin(), startMs.end());
    std::sort(trayMs.begin(), trayMs.end());
    std::printf("start to idle event loop: median %.1f ms, min %.1f ms, max %.1f ms over %d runs (target < 100 ms)\n",
                startMs[startMs.size() / 2], startMs.front(), startMs.back(), runs);
    std::printf("start to tray icon shown: median %.1f ms, min %.1f ms, max %.1f ms (target < 200 ms)\n",
                trayMs[trayMs.size() / 2], trayMs.front(), trayMs.back());
    std::printf("idle resident memory with the tray icon: %.1f MB (target < 50 MB)\n", double(rssKb) / 1024.0);
    std::printf("CPU while the icon blinks every 0.2 s: %.2f %% of one core (target < 1 %%)\n", blinkCpuPercent);
    std::printf("idle wake-ups: %ld in %d s (target: at most one a minute)\n", wakeups, idleSeconds);
    return 0;
}
