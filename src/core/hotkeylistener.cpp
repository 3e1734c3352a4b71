#include "hotkeylistener.h"

#include "shortcutnames.h"

#include <analyticscollecting.h>
#include <keyboardshortcuts.h>

HotkeyListener::HotkeyListener() = default;

void HotkeyListener::listen()
{
    struct Entry
    {
        const KeyboardShortcuts::Name &name;
        TriggeredKeyboardShortcut event;
        const char *analyticsEvent;
    };
    const Entry entries[] = {
        {ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix, "keyboardShortcutTriggeredFixTypo"},
        {ShortcutNames::rephrase(), TriggeredKeyboardShortcut::rephrase, "keyboardShortcutTriggeredRephrase"},
        {ShortcutNames::floatingMenu(), TriggeredKeyboardShortcut::floatingMenu,
         "keyboardShortcutTriggeredFloatingMenu"},
    };
    // The handlers stay registered for the life of the process; once the
    // listener is gone they do nothing.
    std::weak_ptr<HotkeyListener> weakSelf = weak_from_this();
    for (const Entry &entry : entries) {
        KeyboardShortcuts::onKeyUp(entry.name, [weakSelf, &name = entry.name, event = entry.event,
                                                analyticsEvent = QString::fromLatin1(entry.analyticsEvent)] {
            if (auto self = weakSelf.lock())
                self->keyUp(name, event, analyticsEvent);
        });
    }
}

streams::AnyPublisher<TriggeredKeyboardShortcut> HotkeyListener::hotkeyPublisher() const
{
    return onHotkeyReceiveSubject.eraseToAnyPublisher();
}

void HotkeyListener::keyUp(const KeyboardShortcuts::Name &name, TriggeredKeyboardShortcut event,
                           const QString &analyticsEvent)
{
    const auto shortcut = KeyboardShortcuts::getShortcut(name);
    if (shortcut)
        analytics->track(analyticsEvent, {{QStringLiteral("key"), shortcut->description()}});
    else
        analytics->track(analyticsEvent);
    onHotkeyReceiveSubject.send(event);
}
