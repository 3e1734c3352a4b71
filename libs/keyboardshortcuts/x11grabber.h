#pragma once

// Passive key grabs on the root windows through Qt's own xcb connection.

#include "keyboardshortcuts.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QObject>
#include <QSet>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <compare>
#include <map>
#include <optional>
#include <vector>

namespace KeyboardShortcuts::detail {

// Warns and emits Notifier::grabFailed for keys that could not be held.
void reportGrabFailure(const QString &name, const Shortcut &shortcut, GrabResult result);

class X11Grabber final : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // The grabber of the running QGuiApplication, created on first use;
    // nullptr (after one warning) when the application is not on X11.
    static X11Grabber *instance();

    ~X11Grabber() override;

    // Holds the keys of shortcut for name in place of what name held;
    // nullopt lets go. Failures are reported (warning and grabFailed).
    GrabResult hold(const QString &name, const std::optional<Shortcut> &shortcut);

    // While suspended nothing is held; the wanted keys are kept and grabbed
    // again on resume.
    void setSuspended(bool suspended);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

Q_SIGNALS:
    // The keys of name went up (once per physical press and release).
    void released(const QString &name);

private:
    struct Key
    {
        xcb_window_t root;
        xcb_keycode_t keycode;
        std::uint16_t modifiers; // without the lock modifiers
        auto operator<=>(const Key &) const = default;
    };
    struct Entry
    {
        Shortcut shortcut;
        std::vector<Key> keys; // what the keyboard map makes of it
        bool held = false;
    };

    X11Grabber(xcb_connection_t *connection, QObject *parent);

    GrabResult acquire(const QString &name, Entry &entry);
    void release(Entry &entry, const std::vector<std::uint16_t> &lockVariants);
    std::vector<Key> keysFor(const Shortcut &shortcut) const;
    std::vector<std::uint16_t> lockVariants() const;
    void readModifierMapping();
    void scheduleRemap();
    void remap();
    void handlePress(xcb_window_t root, xcb_keycode_t keycode, std::uint16_t state);
    bool handleRelease(xcb_window_t root, xcb_keycode_t keycode);
    bool isRoot(xcb_window_t window) const;

    xcb_connection_t *m_connection;
    xcb_key_symbols_t *m_keySymbols = nullptr;
    std::vector<xcb_window_t> m_roots;
    std::uint8_t m_xkbFirstEvent = 0;
    std::uint16_t m_numLockMask = 0;
    std::uint16_t m_altMask = XCB_MOD_MASK_1;
    std::uint16_t m_superMask = XCB_MOD_MASK_4;
    bool m_suspended = false;
    bool m_remapPending = false;

    QHash<QString, Entry> m_entries;
    std::map<Key, int> m_holders; // names sharing one grab
    QHash<xcb_keycode_t, QSet<QString>> m_down; // pressed keys and whose they are
    QHash<xcb_keycode_t, quint64> m_pendingRelease; // release waiting to be told from auto-repeat
    quint64 m_releaseSerial = 0;
};

} // namespace KeyboardShortcuts::detail
