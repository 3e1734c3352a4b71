#include "x11grabber.h"

#include "keysyms.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

// xkb.h names a member "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#define XK_MISCELLANY
#include <X11/keysymdef.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace KeyboardShortcuts::detail {

namespace {

// X sends an auto-repeated key as a release followed at once by a press; a
// release not followed by a press within this time is the real one.
constexpr int kRepeatWindowMs = 25;

constexpr std::uint16_t kModifierBits = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1
                                      | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4
                                      | XCB_MOD_MASK_5;

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;

} // namespace

X11Grabber *X11Grabber::instance()
{
    static QPointer<X11Grabber> grabber;
    static bool warned = false;
    if (grabber)
        return grabber;

    xcb_connection_t *connection = nullptr;
    if (qGuiApp) {
        if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            connection = x11->connection();
    }
    if (!connection) {
        if (!warned) {
            qWarning("KeyboardShortcuts: no X11 connection (platform \"%s\"); global shortcuts are disabled",
                     qPrintable(QGuiApplication::platformName()));
            warned = true;
        }
        return nullptr;
    }
    // A child of the application: it goes with the connection it uses.
    grabber = new X11Grabber(connection, qGuiApp);
    return grabber;
}

X11Grabber::X11Grabber(xcb_connection_t *connection, QObject *parent)
    : QObject(parent), m_connection(connection)
{
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem; xcb_screen_next(&it))
        m_roots.push_back(it.data->root);

    if (const auto *xkb = xcb_get_extension_data(m_connection, &xcb_xkb_id); xkb && xkb->present)
        m_xkbFirstEvent = xkb->first_event;

    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    readModifierMapping();
    qGuiApp->installNativeEventFilter(this);
}

X11Grabber::~X11Grabber()
{
    // Runs while the application goes away, after its connection is closed:
    // the grabs end with the connection, so no request is sent here.
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
}

GrabResult X11Grabber::hold(const QString &name, const std::optional<Shortcut> &shortcut)
{
    if (auto it = m_entries.find(name); it != m_entries.end()) {
        release(*it, lockVariants());
        m_entries.erase(it);
    }
    if (!shortcut)
        return GrabResult::NoKeys;

    auto it = m_entries.insert(name, Entry{*shortcut, {}});
    if (m_suspended)
        return GrabResult::Deferred;
    const GrabResult result = acquire(name, *it);
    if (result != GrabResult::Grabbed)
        reportGrabFailure(name, *shortcut, result);
    return result;
}

void X11Grabber::setSuspended(bool suspended)
{
    if (suspended == m_suspended)
        return;
    m_suspended = suspended;
    if (suspended) {
        for (auto &entry : m_entries)
            release(entry, lockVariants());
        m_down.clear();
        m_pendingRelease.clear();
        return;
    }
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        const GrabResult result = acquire(it.key(), *it);
        if (result != GrabResult::Grabbed)
            reportGrabFailure(it.key(), it->shortcut, result);
    }
}

std::vector<std::uint16_t> X11Grabber::lockVariants() const
{
    std::vector<std::uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (m_numLockMask) {
        variants.push_back(m_numLockMask);
        variants.push_back(XCB_MOD_MASK_LOCK | m_numLockMask);
    }
    return variants;
}

std::vector<X11Grabber::Key> X11Grabber::keysFor(const Shortcut &shortcut) const
{
    std::vector<Key> keys;
    const std::uint32_t keysym = keysymForQtKey(shortcut.key());
    if (!keysym || !m_keySymbols)
        return keys;

    std::uint16_t modifiers = 0;
    const Qt::KeyboardModifiers qt = shortcut.modifiers();
    if (qt & Qt::ShiftModifier)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (qt & Qt::ControlModifier)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (qt & Qt::AltModifier)
        modifiers |= m_altMask;
    if (qt & Qt::MetaModifier)
        modifiers |= m_superMask;

    XcbPtr<xcb_keycode_t> keycodes(xcb_key_symbols_get_keycode(m_keySymbols, keysym));
    std::vector<xcb_keycode_t> unique;
    for (const xcb_keycode_t *kc = keycodes.get(); kc && *kc != XCB_NO_SYMBOL; ++kc) {
        if (std::find(unique.begin(), unique.end(), *kc) == unique.end())
            unique.push_back(*kc);
    }
    for (xcb_window_t root : m_roots) {
        for (xcb_keycode_t kc : unique)
            keys.push_back(Key{root, kc, modifiers});
    }
    return keys;
}

GrabResult X11Grabber::acquire(const QString &name, Entry &entry)
{
    Q_UNUSED(name);
    entry.keys = keysFor(entry.shortcut);
    const std::vector<Key> &keys = entry.keys;
    if (keys.empty())
        return GrabResult::NoKeyCode;

    const std::vector<std::uint16_t> variants = lockVariants();
    std::vector<Key> fresh;
    std::vector<xcb_void_cookie_t> cookies;
    for (const Key &key : keys) {
        if (m_holders.count(key))
            continue; // already ours through another name
        fresh.push_back(key);
        for (std::uint16_t lock : variants) {
            cookies.push_back(xcb_grab_key_checked(m_connection, 0, key.root, key.modifiers | lock,
                                                   key.keycode, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC));
        }
    }

    bool failed = false;
    for (const xcb_void_cookie_t &cookie : cookies) {
        if (XcbPtr<xcb_generic_error_t> error{xcb_request_check(m_connection, cookie)}) {
            if (error->error_code != XCB_ACCESS)
                qWarning("KeyboardShortcuts: XGrabKey failed with X error %d", error->error_code);
            failed = true;
        }
    }
    if (failed) {
        // All or nothing: half a grab would fire with Num Lock but not without.
        for (const Key &key : fresh) {
            for (std::uint16_t lock : variants)
                xcb_ungrab_key(m_connection, key.keycode, key.root, key.modifiers | lock);
        }
        xcb_flush(m_connection);
        return GrabResult::Taken;
    }
    for (const Key &key : keys)
        ++m_holders[key];
    entry.held = true;
    return GrabResult::Grabbed;
}

void X11Grabber::release(Entry &entry, const std::vector<std::uint16_t> &variants)
{
    if (!entry.held)
        return;
    entry.held = false;
    for (const Key &key : entry.keys) {
        auto it = m_holders.find(key);
        if (it == m_holders.end() || --it->second > 0)
            continue;
        m_holders.erase(it);
        for (std::uint16_t lock : variants)
            xcb_ungrab_key(m_connection, key.keycode, key.root, key.modifiers | lock);
    }
    xcb_flush(m_connection);
}

void X11Grabber::readModifierMapping()
{
    m_numLockMask = 0;
    std::uint16_t alt = 0;
    std::uint16_t super = 0;
    XcbPtr<xcb_get_modifier_mapping_reply_t> reply{
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr)};
    if (reply && m_keySymbols) {
        const xcb_keycode_t *keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            const auto bit = std::uint16_t(1u << modifier);
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t kc = keycodes[modifier * perModifier + i];
                if (!kc)
                    continue;
                for (int column = 0; column < 4; ++column) {
                    switch (xcb_key_symbols_get_keysym(m_keySymbols, kc, column)) {
                    case XK_Num_Lock:
                        m_numLockMask = bit;
                        break;
                    case XK_Alt_L:
                    case XK_Alt_R:
                        alt = alt ? alt : bit;
                        break;
                    case XK_Super_L:
                    case XK_Super_R:
                        super = super ? super : bit;
                        break;
                    default:
                        break;
                    }
                }
            }
        }
    }
    m_altMask = alt ? alt : std::uint16_t(XCB_MOD_MASK_1);
    m_superMask = super ? super : std::uint16_t(XCB_MOD_MASK_4);
}

void X11Grabber::scheduleRemap()
{
    if (m_remapPending)
        return;
    m_remapPending = true;
    // Out of the event filter, and once for a burst of notifications.
    QTimer::singleShot(0, this, &X11Grabber::remap);
}

void X11Grabber::remap()
{
    m_remapPending = false;
    // The server also announces a new map each time input switches between
    // keyboards (XTest included); only keys whose codes moved are grabbed anew.
    const std::vector<std::uint16_t> oldVariants = lockVariants();
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    readModifierMapping();
    const bool locksMoved = lockVariants() != oldVariants;

    QList<QString> moved;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (locksMoved || keysFor(it->shortcut) != it->keys)
            moved.append(it.key());
    }
    for (const QString &name : moved) {
        Entry &entry = *m_entries.find(name);
        release(entry, oldVariants);
        for (auto &names : m_down)
            names.remove(name);
    }
    if (m_suspended)
        return;
    for (const QString &name : moved) {
        Entry &entry = *m_entries.find(name);
        const GrabResult result = acquire(name, entry);
        if (result != GrabResult::Grabbed)
            reportGrabFailure(name, entry.shortcut, result);
    }
}

bool X11Grabber::isRoot(xcb_window_t window) const
{
    return std::find(m_roots.begin(), m_roots.end(), window) != m_roots.end();
}

void X11Grabber::handlePress(xcb_window_t root, xcb_keycode_t keycode, std::uint16_t state)
{
    if (m_pendingRelease.remove(keycode))
        return; // auto-repeat: the key never went up

    const auto modifiers = std::uint16_t(state & kModifierBits & ~m_numLockMask);
    const Key pressed{root, keycode, modifiers};
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it->held && std::find(it->keys.begin(), it->keys.end(), pressed) != it->keys.end())
            m_down[keycode].insert(it.key());
    }
}

bool X11Grabber::handleRelease(xcb_window_t root, xcb_keycode_t keycode)
{
    Q_UNUSED(root);
    if (!m_down.contains(keycode))
        return false;
    const quint64 serial = ++m_releaseSerial;
    m_pendingRelease.insert(keycode, serial);
    QTimer::singleShot(kRepeatWindowMs, this, [this, keycode, serial] {
        auto it = m_pendingRelease.find(keycode);
        if (it == m_pendingRelease.end() || *it != serial)
            return;
        m_pendingRelease.erase(it);
        const QSet<QString> names = m_down.take(keycode);
        for (const QString &name : names)
            Q_EMIT released(name);
    });
    return true;
}

bool X11Grabber::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result)
{
    Q_UNUSED(result);
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const std::uint8_t type = event->response_type & 0x7f;

    switch (type) {
    case XCB_KEY_PRESS: {
        const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
        if (!isRoot(key->event))
            return false;
        handlePress(key->root, key->detail, key->state);
        return true;
    }
    case XCB_KEY_RELEASE: {
        const auto *key = reinterpret_cast<const xcb_key_release_event_t *>(event);
        if (!isRoot(key->event))
            return false;
        handleRelease(key->root, key->detail);
        return true;
    }
    case XCB_MAPPING_NOTIFY: {
        const auto *mapping = reinterpret_cast<const xcb_mapping_notify_event_t *>(event);
        if (mapping->request == XCB_MAPPING_KEYBOARD || mapping->request == XCB_MAPPING_MODIFIER)
            scheduleRemap();
        return false;
    }
    default:
        break;
    }

    if (m_xkbFirstEvent && type == m_xkbFirstEvent) {
        // Byte 1 of every XKB event is its kind.
        const std::uint8_t xkbType = reinterpret_cast<const std::uint8_t *>(event)[1];
        if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
            scheduleRemap();
    }
    return false;
}

} // namespace KeyboardShortcuts::detail
