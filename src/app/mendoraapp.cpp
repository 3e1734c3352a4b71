#include "mendoraapp.h"

#include "appdelegate.h"
#include "registerallservices.h"

#include <buildconfig.h>
#include <resolver.h>

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int quitPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    // Async-signal-safe: the event loop picks the byte up and quits normally.
    [[maybe_unused]] auto written = ::write(quitPipe[1], &byte, 1);
}

// Global shortcuts, synthetic keys and the active window are X11 matters:
// on a Wayland session the program runs through XWayland.
int &preferX11(int &argc)
{
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && qEnvironmentVariableIsSet("DISPLAY")
        && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    return argc;
}

} // namespace

MendoraApp::MendoraApp(int &argc, char **argv) : m_application(preferX11(argc), argv)
{
    QApplication::setApplicationName(QString::fromLatin1(BuildConfig::kAppId));
    QApplication::setOrganizationName(QString::fromLatin1(BuildConfig::kOrganization));
    QApplication::setApplicationDisplayName(QString::fromLatin1(BuildConfig::kDisplayName));
    QApplication::setApplicationVersion(QString::fromLatin1(BuildConfig::kShortVersion));
    QApplication::setDesktopFileName(QString::fromLatin1(BuildConfig::kAppId));
    // A tray program: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    installQuitSignals();

    Resolver::main().setRegistrationRoutine(registerAllServices);
    m_appDelegate = std::make_unique<AppDelegate>();

    QTimer::singleShot(0, m_appDelegate.get(), [this] { m_appDelegate->applicationDidFinishLaunching(); });
    QObject::connect(&m_application, &QCoreApplication::aboutToQuit, m_appDelegate.get(),
                     [this] { m_appDelegate->applicationWillTerminate(); });
}

MendoraApp::~MendoraApp()
{
    m_appDelegate.reset();
    // Services go before the application object they may still use.
    Resolver::main().reset();
}

int MendoraApp::exec()
{
    return QApplication::exec();
}

void MendoraApp::installQuitSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitPipe) != 0) {
        qWarning("Cannot watch for SIGTERM and SIGINT: %s", std::strerror(errno));
        return;
    }
    m_quitNotifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &m_application);
    QObject::connect(m_quitNotifier, &QSocketNotifier::activated, &m_application, [] {
        char byte;
        [[maybe_unused]] auto readCount = ::read(quitPipe[0], &byte, 1);
        QCoreApplication::quit();
    });

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
