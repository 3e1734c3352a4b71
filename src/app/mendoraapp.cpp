#include "mendoraapp.h"

#include "appdelegate.h"
#include "registerallservices.h"

#include <buildconfig.h>
#include <platform.h>
#include <resolver.h>

#include <menubarcontroller.h>

#include <QTimer>

#include <cstdio>

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

    // A second tray icon, analytics queue and set of grabs helps nobody.
    if (!m_singleInstance.acquire([this] { openSettings(); })) {
        m_anotherCopyRuns = true;
        return;
    }

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
    if (m_anotherCopyRuns)
        return 0;
    return QApplication::exec();
}

void MendoraApp::openSettings()
{
    if (MenuBarController *controller = m_appDelegate->menuBarController()) {
        controller->showSettings();
        return;
    }
    // Asked while still starting: once the tray is up.
    QObject::connect(m_appDelegate.get(), &AppDelegate::didFinishLaunching, m_appDelegate.get(),
                     [this] { openSettings(); }, Qt::SingleShotConnection);
}

std::optional<int> MendoraApp::answerCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            std::printf("Usage: %s [--help] [--version]\n\n"
                        "%s lives in the system tray. Select text in any application and press\n"
                        "Ctrl+Alt+F to fix typos, Ctrl+Alt+R to rephrase, or Ctrl+Alt+O for the prompt\n"
                        "menu (the keys can be changed in Settings). Started while it already runs,\n"
                        "it opens the running copy's Settings window instead.\n",
                        BuildConfig::kAppId, BuildConfig::kDisplayName);
            return 0;
        }
        if (argument == "--version" || argument == "-v") {
            std::printf("%s %s\n", BuildConfig::kDisplayName, BuildConfig::kShortVersion);
            return 0;
        }
    }
    return std::nullopt;
}
