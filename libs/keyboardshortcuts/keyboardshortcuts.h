#pragma once

// Named global shortcuts: defaults, key-up handlers, display text, and the
// user's choices stored in the preferences under "KeyboardShortcuts_<name>".
// Global grabs go through X11 on the root window.

#include <QObject>
#include <QString>
#include <Qt>

#include <functional>
#include <optional>

namespace KeyboardShortcuts {

// A key with its modifiers, e.g. Control+F.
class Shortcut
{
public:
    Shortcut(Qt::Key key, Qt::KeyboardModifiers modifiers);

    Qt::Key key() const { return m_key; }
    Qt::KeyboardModifiers modifiers() const { return m_modifiers; }

    // Display text, e.g. "Ctrl+F".
    QString description() const;

    // The text kept in the preferences ("Ctrl+F"), the same on every locale.
    QString portableText() const;
    // Reads portableText() back; nullopt for empty, unknown or multi-key text.
    static std::optional<Shortcut> fromPortableText(const QString &text);

    friend bool operator==(const Shortcut &a, const Shortcut &b)
    {
        return a.m_key == b.m_key && a.m_modifiers == b.m_modifiers;
    }

private:
    Qt::Key m_key;
    Qt::KeyboardModifiers m_modifiers;
};

// A named shortcut; the name is the storage key, the default applies until
// the user chooses other keys (or none).
class Name
{
public:
    explicit Name(const QString &rawValue, std::optional<Shortcut> defaultShortcut = std::nullopt);

    const QString &rawValue() const { return m_rawValue; }
    const std::optional<Shortcut> &defaultShortcut() const { return m_default; }

private:
    QString m_rawValue;
    std::optional<Shortcut> m_default;
};

// What became of the keys of a name on the X server.
enum class GrabResult {
    Grabbed,     // held on the root window; handlers run on key-up
    NoKeys,      // nothing assigned, nothing to hold
    Deferred,    // stored; held once a handler exists and recording has ended
    Taken,       // another client holds the combination
    NoKeyCode,   // no key of the current keyboard map produces it
    NoX11,       // not on X11: global shortcuts are unavailable
};

// Runs action on the main thread each time the shortcut named name is released.
void onKeyUp(const Name &name, std::function<void()> action);

// Drops every handler of name and lets go of its keys.
void removeHandlers(const Name &name);

// The keys now assigned to the name: the user's choice, or the default.
std::optional<Shortcut> getShortcut(const Name &name);

// Stores the user's choice; nullopt means "no keys" (not the default). The
// keys are grabbed at once if the name has handlers.
GrabResult setShortcut(std::optional<Shortcut> shortcut, const Name &name);

// Another name whose keys are shortcut now, if any (names seen so far).
std::optional<QString> nameHolding(const Shortcut &shortcut, const QString &exceptRawName);

// Forgets the user's choice: the default applies again.
GrabResult reset(const Name &name);

// The default a Name with this raw value was declared with, if any was seen.
std::optional<Shortcut> defaultShortcut(const QString &rawName);

// While disabled (nested: every disable needs its enable) no key is held, so
// a recorder sees the keys of existing shortcuts and no handler runs.
void disableGlobalShortcuts();
void enableGlobalShortcuts();
bool globalShortcutsEnabled();

class Notifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    // The stored keys of name changed (set, cleared or reset).
    void shortcutChanged(const QString &name);
    // The keys of name could not be held (taken by another client, or no
    // key produces them); description is their display text.
    void grabFailed(const QString &name, const QString &description);
};

Notifier *notifier();

} // namespace KeyboardShortcuts
