#pragma once

#include <approuting.h>
#include <resolver.h>

#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class QObject;
class UpdateWindowModel;

// The program's windows (settings, floating menu, onboarding, toasts and the
// update offer) and everything they need, Qt Quick and QML among it, live in
// a module of their own that is loaded the first time one of them is shown
// (FFmpeg's libraries only while a video plays). A tray program that shows no
// window never loads them.
namespace WindowsModule {

// What the module offers, as the symbol kEntriesSymbol returns it.
struct Entries
{
    // The router that makes the windows and toasts, registering what its
    // windows resolve first. The caller owns it.
    AppRouting *(*makeRouter)(Resolver *resolver);
    // The update offer and message windows bound to model; the returned
    // object owns them and is the caller's.
    QObject *(*makeUpdateWindows)(UpdateWindowModel *model);
};

inline constexpr const char *kEntriesSymbol = "wugg_windows_module_entries";
using EntriesFunction = const Entries *(*)();

// The module's file name beside the program.
inline constexpr const char *kFileName = "wuggit-windows.so";

// Loads the module on the first call; null (and logged once) when it cannot
// be loaded. WUGGIT_WINDOWS_MODULE names another file to load instead, for
// development.
const Entries *load();

// Why load() failed; empty when it did not.
QString loadError();

// Whether load() has loaded it in this process.
bool isLoaded();

} // namespace WindowsModule

// Stands in for the router until a window or toast is really wanted, then
// loads the windows module and hands everything to the router it makes.
class DeferredRouter : public AppRouting
{
public:
    explicit DeferredRouter(Resolver &resolver = Resolver::main());
    ~DeferredRouter() override;

    QSystemTrayIcon *statusItem() const override;
    void setStatusItem(QSystemTrayIcon *item) override;
    void openSettingsWindow() override;
    void toggleFloatingMenuWindow() override;
    void openOnboardingWindow() override;
    void showToast(const QString &message, std::function<void()> onTap,
                   std::chrono::milliseconds duration) override;
    void closeOnboardingWindow() override;

    // The router of the module, once something needed it; null before.
    AppRouting *loadedRouter() const { return m_router.get(); }

private:
    AppRouting *router();

    Resolver &m_resolver;
    QPointer<QSystemTrayIcon> m_statusItem;
    std::unique_ptr<AppRouting> m_router;
    // The tray has said once that the module could not be loaded.
    bool m_failureShown = false;
};
