#include "windowsmodule.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

namespace WindowsModule {

namespace {

struct State
{
    bool tried = false;
    const Entries *entries = nullptr;
    QString error;
};

State &state()
{
    static State s;
    return s;
}

QStringList candidates()
{
    QStringList files;
    const QString named = qEnvironmentVariable("WUGGIT_WINDOWS_MODULE");
    if (!named.isEmpty())
        return {named};
    if (QCoreApplication::instance())
        files << QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kFileName);
#ifdef WUGG_WINDOWS_MODULE_BUILD_PATH
    // Tests and benchmarks run from other folders of the build tree.
    files << QStringLiteral(WUGG_WINDOWS_MODULE_BUILD_PATH);
#endif
    return files;
}

} // namespace

const Entries *load()
{
    State &s = state();
    if (s.tried)
        return s.entries;
    s.tried = true;
    QStringList errors;
    for (const QString &file : candidates()) {
        if (!QFileInfo::exists(file)) {
            errors << file + QStringLiteral(": no such file");
            continue;
        }
        // Never unloaded: its windows, types and resources stay registered.
        // It takes the program's own libraries from the program; each symbol
        // is bound now, so one the program lacks fails the load here rather
        // than the first call that needs it.
        QLibrary library(file);
        library.setLoadHints(QLibrary::PreventUnloadHint | QLibrary::ResolveAllSymbolsHint);
        auto entries = reinterpret_cast<EntriesFunction>(library.resolve(kEntriesSymbol));
        if (entries) {
            s.entries = entries();
            return s.entries;
        }
        errors << library.errorString();
    }
    s.error = errors.join(QStringLiteral("; "));
    qCritical("Cannot load the windows of Wugg it!: %s", qPrintable(s.error));
    return nullptr;
}

QString loadError()
{
    return state().error;
}

bool isLoaded()
{
    return state().entries != nullptr;
}

} // namespace WindowsModule

DeferredRouter::DeferredRouter(Resolver &resolver) : m_resolver(resolver) {}

DeferredRouter::~DeferredRouter() = default;

AppRouting *DeferredRouter::router()
{
    if (!m_router) {
        if (const WindowsModule::Entries *entries = WindowsModule::load()) {
            m_router.reset(entries->makeRouter(&m_resolver));
            m_router->setStatusItem(m_statusItem);
        } else if (!m_failureShown && m_statusItem && m_statusItem->isVisible()) {
            // A damaged installation: without this, clicks on Settings and
            // the shortcuts would do nothing at all, with no word why.
            m_failureShown = true;
            m_statusItem->showMessage(QStringLiteral("Wugg it!"),
                                      QStringLiteral("The windows could not be loaded, so Settings, the prompt menu "
                                                     "and messages cannot open; reinstalling should mend it.\n%1")
                                          .arg(WindowsModule::loadError()),
                                      QSystemTrayIcon::Warning);
        }
    }
    return m_router.get();
}

QSystemTrayIcon *DeferredRouter::statusItem() const
{
    return m_statusItem;
}

void DeferredRouter::setStatusItem(QSystemTrayIcon *item)
{
    m_statusItem = item;
    if (m_router)
        m_router->setStatusItem(item);
}

void DeferredRouter::openSettingsWindow()
{
    if (AppRouting *r = router())
        r->openSettingsWindow();
}

void DeferredRouter::toggleFloatingMenuWindow()
{
    if (AppRouting *r = router())
        r->toggleFloatingMenuWindow();
}

void DeferredRouter::openOnboardingWindow()
{
    if (AppRouting *r = router())
        r->openOnboardingWindow();
}

void DeferredRouter::showToast(const QString &message, std::function<void()> onTap, std::chrono::milliseconds duration)
{
    // Without a tray icon shown there is nothing to hang a toast under: the
    // router would drop it, so nothing needs loading for it.
    if (!m_router && (!m_statusItem || !m_statusItem->isVisible()))
        return;
    if (AppRouting *r = router())
        r->showToast(message, std::move(onTap), duration);
}

void DeferredRouter::closeOnboardingWindow()
{
    // Nothing to close before any window was made.
    if (m_router)
        m_router->closeOnboardingWindow();
}
