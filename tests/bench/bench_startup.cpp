// Start-up time, idle memory and idle wake-ups of the program.
//
// bench_startup <probe> <floor-probe> [runs] [idle-seconds] [silent-keyring]
//
// Every figure is given against the floor of the stack: a bare Qt tray
// program of the same packages, run alternately with the program.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <optional>
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

struct Started
{
    double idleMs = -1;
    double trayMs = -1;
};

// Starts probe and reads its two clock lines; the process is left running.
std::optional<Started> start(QProcess &program, const QString &probe, const QStringList &arguments = {})
{
    Started started;
    const double before = monotonicSeconds();
    program.start(probe, arguments);
    for (double *field : {&started.idleMs, &started.trayMs}) {
        if (!program.canReadLine() && !program.waitForReadyRead(40000)) {
            std::fprintf(stderr, "%s: no %s line\n", qPrintable(probe), field == &started.idleMs ? "idle" : "tray");
            return std::nullopt;
        }
        const QByteArray line = program.readLine().trimmed();
        const QByteArray expected = field == &started.idleMs ? "idle " : "tray ";
        if (!line.startsWith(expected)) {
            std::fprintf(stderr, "%s: unexpected output: %s\n", qPrintable(probe), line.constData());
            return std::nullopt;
        }
        *field = (line.mid(5).toDouble() - before) * 1000.0;
    }
    return started;
}

void stop(QProcess &program, bool mustQuitCleanly)
{
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    if (!program.waitForFinished(10000))
        program.kill();
    if (mustQuitCleanly && (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)) {
        std::fprintf(stderr, "the program did not quit cleanly on SIGTERM\n");
        std::exit(1);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One start of probe, stopped once it has shown its tray icon.
std::optional<Started> startOnce(const QString &probe, const QProcessEnvironment &env, bool mustQuitCleanly)
{
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto started = start(program, probe);
    if (started)
        stop(program, mustQuitCleanly);
    return started;
}

// The median of program / floor over runs made side by side: a machine
// whose speed drifts while the benchmark runs moves both of a pair alike.
double pairedRatio(const std::vector<double> &program, const std::vector<double> &floor)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < program.size() && i < floor.size(); ++i)
        ratios.push_back(program[i] / floor[i]);
    return median(ratios);
}

struct Idle
{
    long rssKb = -1;
    long rssAfterKb = -1;
    long wakeups = -1;
    long switches = -1;
    long threads = -1;
};

// Lets start-up work settle, then watches the idle process.
Idle watchIdle(const QProcess &program, int idleSeconds)
{
    Idle idle;
    QThread::sleep(3);
    idle.rssKb = statusField(program.processId(), "VmRSS");
    idle.threads = statusField(program.processId(), "Threads");
    // The main thread's voluntary switches, sampled every 50 ms: a wake-up
    // is a run of samples in which they grew (one timer that does some
    // work switches several times, but wakes the program once).
    const long switchesBefore = statusField(program.processId(), "voluntary_ctxt_switches");
    long last = switchesBefore;
    bool waking = false;
    idle.wakeups = 0;
    for (int i = 0; i < idleSeconds * 20; ++i) {
        QThread::msleep(50);
        const long now = statusField(program.processId(), "voluntary_ctxt_switches");
        if (now > last && !waking)
            ++idle.wakeups;
        waking = now > last;
        last = now;
    }
    idle.switches = last - switchesBefore;
    idle.rssAfterKb = statusField(program.processId(), "VmRSS");
    return idle;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <probe> <floor-probe> [runs] [idle-seconds] [silent-keyring]\n", argv[0]);
        return 2;
    }
    const QString probe = QString::fromLocal8Bit(argv[1]);
    const QString floorProbe = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 10;
    const int idleSeconds = argc > 4 ? std::max(1, atoi(argv[4])) : 65;
    const QString silentKeyring = argc > 5 ? QString::fromLocal8Bit(argv[5]) : QString();

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        env.insert(QString::fromLatin1(var), home.path());

    // Alternated, so that a noisy neighbour costs both alike.
    std::vector<double> idleMs, trayMs, floorIdleMs, floorTrayMs;
    for (int i = 0; i < runs; ++i) {
        for (const bool isFloor : {true, false}) {
            const auto started = startOnce(isFloor ? floorProbe : probe, env, !isFloor);
            if (!started)
                return 1;
            (isFloor ? floorIdleMs : idleMs).push_back(started->idleMs);
            (isFloor ? floorTrayMs : trayMs).push_back(started->trayMs);
        }
    }

    Idle idle, floorIdle;
    for (const bool isFloor : {true, false}) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (!start(program, isFloor ? floorProbe : probe))
            return 1;
        (isFloor ? floorIdle : idle) = watchIdle(program, idleSeconds);
        stop(program, !isFloor);
    }

    // The tray with a keyring that takes the Secret Service's name and never answers.
    std::vector<double> silentTrayMs, silentFloorTrayMs;
    if (!silentKeyring.isEmpty()) {
        // A private bus, on which the silent keyring owns the name: the
        // session's own keyring never gives it up.
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                  QStringLiteral("--print-address=1")});
        if (!bus.waitForReadyRead(10000)) {
            std::fprintf(stderr, "no private D-Bus daemon\n");
            return 1;
        }
        QProcessEnvironment silentEnv = env;
        silentEnv.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(bus.readLine().trimmed()));
        for (int i = 0; i < std::min(runs, 5); ++i) {
            QProcess keyring;
            keyring.setProcessEnvironment(silentEnv);
            keyring.start(silentKeyring);
            if (!keyring.waitForReadyRead(10000) || !keyring.readLine().startsWith("ready")) {
                std::fprintf(stderr, "the silent keyring did not start\n");
                return 1;
            }
            const auto floorStarted = startOnce(floorProbe, env, false);
            const auto started = floorStarted ? startOnce(probe, silentEnv, true) : std::nullopt;
            if (!started)
                return 1;
            silentFloorTrayMs.push_back(floorStarted->trayMs);
            silentTrayMs.push_back(started->trayMs);
            keyring.kill();
            keyring.waitForFinished();
        }
        bus.kill();
        bus.waitForFinished();
    }

    // CPU while the icon blinks at its fastest (0.2 s), over the same span.
    double blinkCpuPercent = -1;
    {
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (!start(program, probe, {QStringLiteral("--blink")}))
            return 1;
        QThread::sleep(2);
        const long ticks = sysconf(_SC_CLK_TCK);
        const double before = cpuSeconds(program.processId(), ticks);
        const double wallBefore = monotonicSeconds();
        QThread::sleep(static_cast<unsigned long>(std::min(idleSeconds, 20)));
        blinkCpuPercent = (cpuSeconds(program.processId(), ticks) - before) / (monotonicSeconds() - wallBefore) * 100.0;
        stop(program, true);
    }

    const double floorTray = median(floorTrayMs);
    std::printf("start-up ratios: the median of %d runs each made right after one of the floor\n", runs);
    std::printf("start to idle event loop: median %.1f ms, floor %.1f ms: %.2f x the floor\n", median(idleMs),
                median(floorIdleMs), pairedRatio(idleMs, floorIdleMs));
    std::printf("start to tray icon shown: median %.1f ms, floor %.1f ms: %.2f x the floor (target <= 1.3)\n",
                median(trayMs), floorTray, pairedRatio(trayMs, floorTrayMs));
    if (!silentTrayMs.empty())
        std::printf("start to tray icon, keyring never answers: median %.1f ms, floor %.1f ms: %.2f x the floor "
                    "(target <= 1.3)\n",
                    median(silentTrayMs), median(silentFloorTrayMs), pairedRatio(silentTrayMs, silentFloorTrayMs));
    std::printf("idle resident memory: %.1f MB, floor %.1f MB: %.2f x the floor (target <= 1.3)\n",
                double(idle.rssKb) / 1024.0, double(floorIdle.rssKb) / 1024.0,
                double(idle.rssKb) / double(floorIdle.rssKb));
    std::printf("resident memory at the end of the idle span: %.1f MB, floor %.1f MB: %.2f x the floor\n",
                double(idle.rssAfterKb) / 1024.0, double(floorIdle.rssAfterKb) / 1024.0,
                double(idle.rssAfterKb) / double(floorIdle.rssAfterKb));
    std::printf("threads at idle: %ld, floor %ld\n", idle.threads, floorIdle.threads);
    std::printf("idle wake-ups of the main thread: %ld in %d s (%ld switches), floor %ld (%ld switches) "
                "(target: at most one a minute)\n",
                idle.wakeups, idleSeconds, idle.switches, floorIdle.wakeups, floorIdle.switches);
    std::printf("CPU while the icon blinks every 0.2 s: %.2f %% of one core (target < 1 %%)\n", blinkCpuPercent);
    return 0;
}
