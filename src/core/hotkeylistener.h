#pragma once

#include "prompt.h"

#include <resolver.h>
#include <streams.h>

#include <memory>

class AnalyticsCollecting;

namespace KeyboardShortcuts {
class Name;
}

class HotkeyListening
{
public:
    virtual ~HotkeyListening() = default;
    // Each key-up of one of the three named shortcuts.
    virtual streams::AnyPublisher<TriggeredKeyboardShortcut> hotkeyPublisher() const = 0;
};

class HotkeyListener : public HotkeyListening, public std::enable_shared_from_this<HotkeyListener>
{
public:
    HotkeyListener();

    // Registers the key-up handlers; called once the listener is owned by a shared pointer.
    void listen();

    streams::AnyPublisher<TriggeredKeyboardShortcut> hotkeyPublisher() const override;

    // What a key-up of the named shortcut does: record its event, then send it.
    void keyUp(const KeyboardShortcuts::Name &name, TriggeredKeyboardShortcut event, const QString &analyticsEvent);

    Injected<AnalyticsCollecting> analytics;
    streams::PassthroughSubject<TriggeredKeyboardShortcut> onHotkeyReceiveSubject;
};
