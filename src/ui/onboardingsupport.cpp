#include "onboardingsupport.h"

#include <approuting.h>
#include <resolver.h>
#include <shortcutnames.h>

AppRouting *OnboardingWindowManager::appRouter()
{
    if (!m_appRouter)
        m_appRouter = Resolver::main().resolve<AppRouting>();
    return m_appRouter.get();
}

void OnboardingWindowManager::closeOnboardingWindow()
{
    if (AppRouting *router = appRouter())
        router->closeOnboardingWindow();
}

StoredShortcuts::StoredShortcuts(QObject *parent)
    : QObject(parent)
{
    connect(KeyboardShortcuts::notifier(), &KeyboardShortcuts::Notifier::shortcutChanged, this, [this] {
        ++m_revision;
        Q_EMIT revisionChanged();
    });
}

QString StoredShortcuts::description(const QString &name)
{
    const KeyboardShortcuts::Name *known = nullptr;
    if (name == ShortcutNames::typoFix().rawValue())
        known = &ShortcutNames::typoFix();
    else if (name == ShortcutNames::rephrase().rawValue())
        known = &ShortcutNames::rephrase();
    else if (name == ShortcutNames::floatingMenu().rawValue())
        known = &ShortcutNames::floatingMenu();
    if (!known)
        return {};
    const auto shortcut = KeyboardShortcuts::getShortcut(*known);
    return shortcut ? shortcut->description() : QString();
}
