// Crashes on purpose with the crash reporter started, or starts it to
// deliver what an earlier run left behind.
//
//   crashreporting_helper segv|abort|overflow|wildcall|badstack|deliver <database path> <dsn>

#include "sentrysdk.h"

#include <QCoreApplication>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Names the tests look for in the delivered stack traces.
[[gnu::noinline]] void wuggHelperCrashByNullWrite();
[[gnu::noinline]] void wuggHelperAbortOnPurpose();
[[gnu::noinline]] unsigned wuggHelperRecurseForever(unsigned depth);
[[gnu::noinline]] void wuggHelperCallThroughGarbage();
[[gnu::noinline]] void wuggHelperFaultWithBadStackPointer();

int *volatile g_nowhere = nullptr;
volatile unsigned g_never = UINT_MAX;
// Below vm.mmap_min_addr, so never mapped.
void (*volatile g_garbageFunction)() = reinterpret_cast<void (*)()>(0x1230);

void wuggHelperCrashByNullWrite()
{
    *g_nowhere = 42;
    std::fputs("still alive after the null write\n", stderr);
}

void wuggHelperAbortOnPurpose()
{
    std::abort();
}

unsigned wuggHelperRecurseForever(unsigned depth)
{
    volatile char pad[1024];
    pad[depth % sizeof pad] = static_cast<char>(depth);
    if (depth == g_never)
        return 0;
    return wuggHelperRecurseForever(depth + 1) + static_cast<unsigned char>(pad[depth % sizeof pad]);
}

void wuggHelperCallThroughGarbage()
{
    g_garbageFunction();
    std::fputs("still alive after the wild call\n", stderr);
}

// A stack pointer that points nowhere: every frame the unwinder reads above
// the faulting one is unreadable.
void wuggHelperFaultWithBadStackPointer()
{
#if defined(__x86_64__)
    asm volatile("movq $0x40, %%rsp\n\t"
                 "xorl %%ebp, %%ebp\n\t"
                 "movq $0, (%%rbp)" ::: "memory");
#else
    std::fputs("badstack is only written for x86-64\n", stderr);
    std::exit(5);
#endif
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("crashhelper"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.5"));
    if (argc != 4) {
        std::fputs("usage: crashreporting_helper segv|abort|overflow|wildcall|badstack|deliver <database path> <dsn>\n", stderr);
        return 2;
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString database = QString::fromLocal8Bit(argv[2]);
    const QString dsn = QString::fromLocal8Bit(argv[3]);

    sentry::SentrySDK::start([&](sentry::Options &options) {
        options.dsn = dsn;
        options.databasePath = database;
        options.onPendingReportsHandled = [mode](const sentry::DeliverySummary &summary) {
            if (mode != u"deliver")
                return;
            std::printf("delivered=%d kept=%d set_aside=%d\n", summary.delivered, summary.kept,
                        summary.setAside);
            std::fflush(stdout);
            QCoreApplication::exit(0);
        };
    });
    if (!sentry::SentrySDK::isEnabled()) {
        std::fputs("crash reporting is not enabled\n", stderr);
        return 3;
    }

    if (mode == u"segv")
        wuggHelperCrashByNullWrite();
    else if (mode == u"abort")
        wuggHelperAbortOnPurpose();
    else if (mode == u"overflow")
        return static_cast<int>(wuggHelperRecurseForever(0));
    else if (mode == u"wildcall")
        wuggHelperCallThroughGarbage();
    else if (mode == u"badstack")
        wuggHelperFaultWithBadStackPointer();
    else if (mode == u"deliver")
        return app.exec();
    else
        return 2;
    return 4;
}
