#include "crashhandler.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <boost/stacktrace/safe_dump_to.hpp>

#include <array>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

// Everything below the handler entry point runs inside a signal handler:
// no allocation, no locks, no stdio, only async-signal-safe system calls
// on buffers that were filled in by installCrashHandlers().

namespace sentry::detail {

namespace {

constexpr std::array kFatalSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kMaxFrames = 128;
constexpr std::size_t kAltStackSize = 256 * 1024;

struct HandlerState
{
    struct sigaction previous[kFatalSignals.size()];
    char directory[4096];
    std::size_t directoryLength = 0;
    char header[4096]; // the report lines known before the crash
    std::size_t headerLength = 0;
    char fileStem[64]; // "-<start ms>", appended after the pid
    std::size_t fileStemLength = 0;
    char path[4096 + 128];
    char partialPath[4096 + 128];
    const void *frames[kMaxFrames + 1];
    char io[8192];
};

HandlerState g_state;
std::atomic<int> g_handlingThreads{0};
bool g_installed = false;

// Lets the reporting thread survive a fault of its own while it reads memory
// the crash may have ruined (the unwinder following a smashed stack or a
// wild program counter).
struct FaultGuard
{
    sigjmp_buf resume;
    volatile sig_atomic_t armed = 0;
    volatile pid_t thread = 0;
};

FaultGuard g_guard;

pid_t currentThread()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// Runs work with the fatal signals unblocked; a fault inside it returns here
// with false instead of ending the process half-way through the report.
bool runGuarded(void (*work)(void *), void *argument)
{
    sigset_t fatal;
    sigemptyset(&fatal);
    for (int signal : kFatalSignals)
        sigaddset(&fatal, signal);
    g_guard.thread = currentThread();
    // Saves the signal mask, so jumping back blocks the fatal signals again.
    if (sigsetjmp(g_guard.resume, 1) != 0) {
        g_guard.armed = 0;
        return false;
    }
    g_guard.armed = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    ::pthread_sigmask(SIG_UNBLOCK, &fatal, nullptr);
    work(argument);
    ::pthread_sigmask(SIG_BLOCK, &fatal, nullptr);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_guard.armed = 0;
    return true;
}

volatile std::uintptr_t g_readSink;

void readWord(void *address)
{
    g_readSink = *static_cast<const volatile std::uintptr_t *>(address);
}

bool readable(std::uintptr_t address, std::uintptr_t *value = nullptr)
{
    if (!runGuarded(&readWord, reinterpret_cast<void *>(address)))
        return false;
    if (value)
        *value = g_readSink;
    return true;
}

class Writer
{
public:
    explicit Writer(int fd) : m_fd(fd) {}

    void raw(const char *data, std::size_t length)
    {
        while (length > 0 && m_ok) {
            const ssize_t n = ::write(m_fd, data, length);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                m_ok = false;
                return;
            }
            data += n;
            length -= static_cast<std::size_t>(n);
        }
    }
    void str(const char *s) { raw(s, std::strlen(s)); }
    void dec(std::uint64_t value)
    {
        char buf[24];
        std::size_t i = sizeof buf;
        do {
            buf[--i] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        raw(buf + i, sizeof buf - i);
    }
    void sdec(std::int64_t value)
    {
        if (value < 0) {
            str("-");
            dec(static_cast<std::uint64_t>(-(value + 1)) + 1);
        } else {
            dec(static_cast<std::uint64_t>(value));
        }
    }
    void hex(std::uintptr_t value)
    {
        char buf[2 + 2 * sizeof value];
        std::size_t i = sizeof buf;
        do {
            buf[--i] = "0123456789abcdef"[value & 0xf];
            value >>= 4;
        } while (value != 0);
        buf[--i] = 'x';
        buf[--i] = '0';
        raw(buf + i, sizeof buf - i);
    }
    void line(const char *key, std::uint64_t value)
    {
        str(key);
        str(" ");
        dec(value);
        str("\n");
    }
    void hexLine(const char *key, std::uintptr_t value)
    {
        str(key);
        str(" ");
        hex(value);
        str("\n");
    }
    bool ok() const { return m_ok; }

private:
    int m_fd;
    bool m_ok = true;
};

// Appends text to a fixed buffer; false when it doesn't fit.
bool append(char *buffer, std::size_t capacity, std::size_t &length, const char *text,
            std::size_t textLength)
{
    if (length + textLength + 1 > capacity)
        return false;
    std::memcpy(buffer + length, text, textLength);
    length += textLength;
    buffer[length] = '\0';
    return true;
}

std::size_t formatDec(char *out, std::uint64_t value)
{
    char buf[24];
    std::size_t i = sizeof buf;
    do {
        buf[--i] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::memcpy(out, buf + i, sizeof buf - i);
    return sizeof buf - i;
}

void buildPaths()
{
    HandlerState &s = g_state;
    std::size_t length = 0;
    s.path[0] = '\0';
    append(s.path, sizeof s.path, length, s.directory, s.directoryLength);
    append(s.path, sizeof s.path, length, "/", 1);
    char pid[24];
    append(s.path, sizeof s.path, length, pid, formatDec(pid, static_cast<std::uint64_t>(::getpid())));
    append(s.path, sizeof s.path, length, s.fileStem, s.fileStemLength);
    std::memcpy(s.partialPath, s.path, length + 1);
    std::size_t partialLength = length;
    append(s.path, sizeof s.path, length, kReportSuffix, sizeof kReportSuffix - 1);
    append(s.partialPath, sizeof s.partialPath, partialLength, kPartialSuffix,
           sizeof kPartialSuffix - 1);
}

std::uintptr_t programCounter(void *context)
{
    if (!context)
        return 0;
    const auto *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#else
    return 0;
#endif
}

void copyProcessMaps(Writer &out)
{
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    for (;;) {
        const ssize_t n = ::read(fd, g_state.io, sizeof g_state.io);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.raw(g_state.io, static_cast<std::size_t>(n));
    }
    ::close(fd);
}

// Where the interrupted code would have gone on, for a program counter the
// unwinder cannot read: a call through a wild pointer has just saved it on
// the stack (x86-64) or in the link register (AArch64). Rewrites the context
// so the unwinder starts from the caller; the saved registers put it back.
struct SteppedContext
{
    std::uintptr_t pc = 0;
    std::uintptr_t sp = 0;
};

bool stepToCaller(void *context, SteppedContext *saved)
{
    if (!context)
        return false;
    auto *uc = static_cast<ucontext_t *>(context);
#if defined(__x86_64__)
    const auto sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
    std::uintptr_t returnAddress = 0;
    if (!readable(sp, &returnAddress) || returnAddress == 0)
        return false;
    saved->pc = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    saved->sp = sp;
    uc->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(returnAddress);
    uc->uc_mcontext.gregs[REG_RSP] = static_cast<greg_t>(sp + sizeof returnAddress);
    return true;
#elif defined(__aarch64__)
    if (uc->uc_mcontext.regs[30] == 0)
        return false;
    saved->pc = uc->uc_mcontext.pc;
    saved->sp = uc->uc_mcontext.sp;
    uc->uc_mcontext.pc = uc->uc_mcontext.regs[30];
    return true;
#else
    Q_UNUSED(saved);
    return false;
#endif
}

void restoreContext(void *context, const SteppedContext &saved)
{
    auto *uc = static_cast<ucontext_t *>(context);
#if defined(__x86_64__)
    uc->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(saved.pc);
    uc->uc_mcontext.gregs[REG_RSP] = static_cast<greg_t>(saved.sp);
#elif defined(__aarch64__)
    uc->uc_mcontext.pc = saved.pc;
    uc->uc_mcontext.sp = saved.sp;
#else
    Q_UNUSED(uc);
    Q_UNUSED(saved);
#endif
}

void unwindIntoFrames(void *)
{
    boost::stacktrace::safe_dump_to(g_state.frames, sizeof g_state.frames);
}

// The frames unwound so far, also when the unwinder faulted part-way.
std::size_t unwindGuarded()
{
    std::memset(g_state.frames, 0, sizeof g_state.frames);
    runGuarded(&unwindIntoFrames, nullptr);
    std::size_t count = 0;
    while (count < kMaxFrames && g_state.frames[count])
        ++count;
    return count;
}

void writeReport(int signal, const siginfo_t *info, void *context)
{
    HandlerState &s = g_state;
    // Recomputed here so a forked child doesn't overwrite its parent's report.
    buildPaths();

    const int fd = ::open(s.partialPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    Writer out(fd);
    out.raw(s.header, s.headerLength);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    out.line("time_ms", static_cast<std::uint64_t>(now.tv_sec) * 1000u
                            + static_cast<std::uint64_t>(now.tv_nsec / 1000000));
    out.line("pid", static_cast<std::uint64_t>(::getpid()));
    out.line("signal", static_cast<std::uint64_t>(signal));
    out.str("code ");
    out.sdec(info ? info->si_code : 0);
    out.str("\n");
    out.hexLine("address", info ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0);
    const std::uintptr_t pc = programCounter(context);
    out.hexLine("pc", pc);

    SteppedContext stepped;
    const bool fromCaller = pc != 0 && !readable(pc) && stepToCaller(context, &stepped);
    const std::uintptr_t resumedAt = programCounter(context);
    const std::size_t unwound = unwindGuarded();
    if (fromCaller)
        restoreContext(context, stepped);

    // From the interrupted frame outwards, without the handler's own. When
    // the unwinder never got that far, the interrupted frame is all we know.
    std::size_t first = 0;
    bool reached = true;
    if (pc != 0) {
        first = unwound;
        for (std::size_t i = 0; i < unwound; ++i) {
            if (reinterpret_cast<std::uintptr_t>(s.frames[i]) == resumedAt) {
                first = i;
                break;
            }
        }
        reached = first < unwound;
    }
    std::uintptr_t known[2];
    std::size_t knownCount = 0;
    if (fromCaller || !reached)
        known[knownCount++] = pc;
    if (fromCaller && !reached)
        known[knownCount++] = resumedAt;
    out.line("frames", knownCount + unwound - first);
    for (std::size_t i = 0; i < knownCount; ++i) {
        out.hex(known[i]);
        out.str("\n");
    }
    for (std::size_t i = first; i < unwound; ++i) {
        out.hex(reinterpret_cast<std::uintptr_t>(s.frames[i]));
        out.str("\n");
    }
    out.str("maps\n");
    copyProcessMaps(out);
    out.str("end-of-report\n");
    const bool complete = out.ok();
    ::fsync(fd);
    ::close(fd);
    // A report left under its temporary name means the write didn't finish.
    if (complete)
        ::rename(s.partialPath, s.path);
}

std::size_t indexOf(int signal)
{
    for (std::size_t i = 0; i < kFatalSignals.size(); ++i)
        if (kFatalSignals[i] == signal)
            return i;
    return kFatalSignals.size();
}

void restorePreviousHandler(int signal)
{
    const std::size_t i = indexOf(signal);
    struct sigaction action{};
    if (i < kFatalSignals.size())
        action = g_state.previous[i];
    // An ignored fatal signal would fault again forever; die normally instead.
    if (i >= kFatalSignals.size()
        || (!(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_IGN)) {
        std::memset(&action, 0, sizeof action);
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
    }
    ::sigaction(signal, &action, nullptr);
}

void onFatalSignal(int signal, siginfo_t *info, void *context)
{
    // A fault while the report is read from damaged memory: back to the
    // report, which goes on with what it has.
    if (g_guard.armed && g_guard.thread == currentThread())
        siglongjmp(g_guard.resume, 1);
    if (g_handlingThreads.fetch_add(1) == 0) {
        const int savedErrno = errno;
        writeReport(signal, info, context);
        errno = savedErrno;
    } else {
        // Another thread is writing the report and will end the process.
        timespec pause{10, 0};
        while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
    }
    for (int fatal : kFatalSignals)
        restorePreviousHandler(fatal);
    // Pending until the handler returns (the signal is blocked while it runs);
    // a hardware fault would fault again anyway. Either way the process dies
    // the way it would have without us.
    ::raise(signal);
}

} // namespace

bool installCrashHandlers(const CrashHandlerSetup &setup, QString *error)
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (g_installed)
        return fail(QStringLiteral("crash handlers are already installed"));

    HandlerState &s = g_state;
    const QByteArray directory = QFile::encodeName(setup.directory);
    s.directoryLength = 0;
    if (!append(s.directory, sizeof s.directory, s.directoryLength, directory.constData(),
                static_cast<std::size_t>(directory.size())))
        return fail(QStringLiteral("the report folder path is too long"));

    const QByteArray stem = '-' + QByteArray::number(QDateTime::currentMSecsSinceEpoch());
    s.fileStemLength = 0;
    append(s.fileStem, sizeof s.fileStem, s.fileStemLength, stem.constData(),
           static_cast<std::size_t>(stem.size()));

    auto oneLine = [](QByteArray value) {
        value.replace('\n', ' ').replace('\r', ' ');
        return value;
    };
    utsname uts{};
    ::uname(&uts);
    const QByteArray executable = QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    QByteArray header;
    header += "wugg-crash 1\n";
    header += "event_id " + oneLine(setup.eventId) + '\n';
    header += "release " + oneLine(setup.release) + '\n';
    header += "environment " + oneLine(setup.environment) + '\n';
    header += "executable " + oneLine(executable) + '\n';
    header += "os_release " + oneLine(uts.release) + '\n';
    header += "os_version " + oneLine(uts.version) + '\n';
    header += "machine " + oneLine(uts.machine) + '\n';
    header += "started_ms " + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '\n';
    s.headerLength = 0;
    if (!append(s.header, sizeof s.header, s.headerLength, header.constData(),
                static_cast<std::size_t>(header.size())))
        return fail(QStringLiteral("the report header is too long"));

    // A stack overflow leaves no room on the thread's stack for the handler.
    void *altStack = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (altStack == MAP_FAILED)
        return fail(QStringLiteral("could not allocate the alternate signal stack"));
    stack_t stack{};
    stack.ss_sp = altStack;
    stack.ss_size = kAltStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(altStack, kAltStackSize);
        return fail(QStringLiteral("sigaltstack failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    }

    // The first unwind may load and initialise unwinder state; do that now
    // rather than inside the handler.
    boost::stacktrace::safe_dump_to(s.frames, sizeof s.frames);

    struct sigaction action{};
    action.sa_sigaction = &onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    // A second fatal signal while writing the report takes the default action.
    for (int fatal : kFatalSignals)
        sigaddset(&action.sa_mask, fatal);
    for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
        if (::sigaction(kFatalSignals[i], &action, &s.previous[i]) != 0)
            return fail(QStringLiteral("sigaction(%1) failed").arg(kFatalSignals[i]));
    }
    g_installed = true;
    return true;
}

} // namespace sentry::detail
