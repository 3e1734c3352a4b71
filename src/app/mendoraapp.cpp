#include "mendoraapp.h"

#include "appdelegate.h"
#include "registerallservices.h"

#include <buildconfig.h>
#include <platform.h>
#include <resolver.h>

#include <QTimer>

namespace {

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

    platform::quitOnTerminationSignals(m_application);
    // The worker asks for it on the way to the tray icon.
    platform::prefetchSyntheticEventSupport();

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
