#pragma once

// Runs the crash helper while the test's event loop keeps serving the
// stand-in ingest.

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStringList>

#include <sys/resource.h>

struct HelperRun
{
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool finished = false;
};

inline HelperRun runHelper(const QString &mode, const QString &database, const QString &dsn)
{
    QProcess process;
    process.setProgram(QStringLiteral(CRASH_HELPER));
    process.setArguments({mode, database, dsn});
    // No core files from crashes made on purpose.
    process.setChildProcessModifier([] {
        struct rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
    });
    QSignalSpy finished(&process, &QProcess::finished);
    process.start();
    HelperRun run;
    if (!process.waitForStarted(10000))
        return run;
    run.finished = finished.wait(60000);
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

inline QStringList reportsIn(const QString &database, const QString &pattern = QStringLiteral("*.crash"))
{
    return QDir(database).entryList({pattern}, QDir::Files);
}
