#include "platform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

namespace platform {

namespace {

// Replies from xcb are malloc'ed.
struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t *connection()
{
    if (!qGuiApp)
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c || xcb_connection_has_error(c))
        return nullptr;
    return c;
}

// The program runs on the first screen; several X screens on one display
// are no longer seen on desktops.
constexpr int screenNumber = 0;

xcb_window_t rootWindow(xcb_connection_t *c)
{
    const xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    return it.rem > 0 ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

// The EWMH atoms of Qt's connection, interned once (again if Qt's
// connection changes, as in tests that recreate the application).
xcb_ewmh_connection_t *ewmh(xcb_connection_t *c)
{
    static xcb_ewmh_connection_t atoms{};
    static xcb_connection_t *initialisedFor = nullptr;
    static bool ok = false;
    if (initialisedFor != c) {
        if (initialisedFor && ok)
            xcb_ewmh_connection_wipe(&atoms);
        initialisedFor = c;
        xcb_intern_atom_cookie_t *cookies = xcb_ewmh_init_atoms(c, &atoms);
        ok = cookies && xcb_ewmh_init_atoms_replies(&atoms, cookies, nullptr);
    }
    return ok ? &atoms : nullptr;
}

void roundTrip(xcb_connection_t *c)
{
    // What xcb_aux_sync does, without the extra library: once a reply has
    // come, the server has handled every request sent before.
    xcb_flush(c);
    Reply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

std::optional<QString> wmClassOf(xcb_connection_t *c, xcb_window_t window)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024), nullptr));
    if (!reply || reply->format != 8)
        return std::nullopt;
    const auto *data = static_cast<const char *>(xcb_get_property_value(reply.get()));
    const QByteArray value(data, xcb_get_property_value_length(reply.get()));
    // "instance\0class\0"
    const QList<QByteArray> parts = value.split('\0');
    if (parts.size() < 2 || parts.at(1).isEmpty())
        return std::nullopt;
    // Qt writes WM_CLASS in the local 8-bit encoding; so does most software.
    return QString::fromLocal8Bit(parts.at(1));
}

xcb_window_t windowProperty(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
}

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A timestamp from the server: the time of the PropertyNotify that a
// zero-length append to a window of our own causes. Qt reads the events of
// its connection on its own thread, so this is done on a short-lived
// connection of our own to the same display.
std::optional<xcb_timestamp_t> serverTime()
{
    const QByteArray display = qgetenv("DISPLAY");
    xcb_connection_t *c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return std::nullopt;
    }
    std::optional<xcb_timestamp_t> time;
    if (const xcb_window_t root = rootWindow(c); root != XCB_WINDOW_NONE) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        xcb_change_property(c, XCB_PROP_MODE_APPEND, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(c);
        while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
            const Reply<xcb_generic_event_t> owned(event);
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                time = reinterpret_cast<xcb_property_notify_event_t *>(event)->time;
                break;
            }
        }
        xcb_destroy_window(c, w);
        xcb_flush(c);
    }
    xcb_disconnect(c);
    return time;
}

bool hasXTest(xcb_connection_t *c)
{
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_test_id);
    return ext && ext->present;
}

// Keysyms of the keys chords use; letters are the unshifted ones.
xcb_keysym_t keysymFor(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return xcb_keysym_t('a' + (key - Qt::Key_A));
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return xcb_keysym_t(key); // Latin-1 keysyms are their code points
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return xcb_keysym_t(0xffbe + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Escape: return 0xff1b;
    case Qt::Key_Tab: return 0xff09;
    case Qt::Key_Backspace: return 0xff08;
    case Qt::Key_Return: return 0xff0d;
    case Qt::Key_Enter: return 0xff8d;
    case Qt::Key_Insert: return 0xff63;
    case Qt::Key_Delete: return 0xffff;
    case Qt::Key_Home: return 0xff50;
    case Qt::Key_Left: return 0xff51;
    case Qt::Key_Up: return 0xff52;
    case Qt::Key_Right: return 0xff53;
    case Qt::Key_Down: return 0xff54;
    case Qt::Key_PageUp: return 0xff55;
    case Qt::Key_PageDown: return 0xff56;
    case Qt::Key_End: return 0xff57;
    default: return 0;
    }
}

constexpr xcb_keysym_t keysymShiftL = 0xffe1;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymSuperL = 0xffeb;

xcb_keycode_t keycodeFor(xcb_key_symbols_t *symbols, xcb_keysym_t keysym)
{
    if (!keysym)
        return 0;
    const Reply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    return codes ? codes.get()[0] : 0;
}

// Keys bound to a modifier, each once.
std::vector<xcb_keycode_t> modifierKeycodes(xcb_connection_t *c)
{
    std::vector<xcb_keycode_t> keys;
    Reply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (!mapping)
        return keys;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int count = xcb_get_modifier_mapping_keycodes_length(mapping.get());
    for (int i = 0; i < count; ++i) {
        if (codes[i] && std::find(keys.begin(), keys.end(), codes[i]) == keys.end())
            keys.push_back(codes[i]);
    }
    return keys;
}

// One bit per keycode, set when the key is down.
using KeyBits = std::array<uint8_t, 32>;

bool isDown(const KeyBits &keys, xcb_keycode_t code)
{
    return keys[code / 8] & (1 << (code % 8));
}

// The keys down as the core protocol, and so every application, sees them.
KeyBits coreKeys(xcb_connection_t *c)
{
    KeyBits keys{};
    if (Reply<xcb_query_keymap_reply_t> keymap{xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr)})
        std::copy(std::begin(keymap->keys), std::end(keymap->keys), keys.begin());
    return keys;
}

// A keyboard behind the core one: a physical keyboard, or the device the
// server feeds XTest's key events through.
struct KeyboardDevice {
    uint8_t id = 0;
    bool xtest = false;
    KeyBits keys{};
};

const xcb_query_extension_reply_t *xinput(xcb_connection_t *c)
{
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_input_id);
    return ext && ext->present ? ext : nullptr;
}

// The slave keyboards and the keys down on each, through XInput 1.x, whose
// QueryDeviceState answers for slave devices. Empty without XInput.
std::vector<KeyboardDevice> keyboardDevices(xcb_connection_t *c)
{
    std::vector<KeyboardDevice> devices;
    if (!xinput(c))
        return devices;
    Reply<xcb_input_list_input_devices_reply_t> list(
        xcb_input_list_input_devices_reply(c, xcb_input_list_input_devices(c), nullptr));
    if (!list)
        return devices;
    const xcb_input_device_info_t *infos = xcb_input_list_input_devices_devices(list.get());
    xcb_str_iterator_t names = xcb_input_list_input_devices_names_iterator(list.get());
    std::vector<xcb_input_query_device_state_cookie_t> cookies;
    for (int i = 0; i < list->devices_len && names.rem > 0; ++i, xcb_str_next(&names)) {
        // Attached slave keyboards; the master is the core keyboard itself.
        if (infos[i].device_use != XCB_INPUT_DEVICE_USE_IS_X_EXTENSION_KEYBOARD)
            continue;
        // The server names the XTest device of each master "<master> XTEST keyboard".
        const QByteArray name(xcb_str_name(names.data), xcb_str_name_length(names.data));
        devices.push_back({infos[i].device_id, name.endsWith(" XTEST keyboard"), {}});
        cookies.push_back(xcb_input_query_device_state(c, infos[i].device_id));
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        Reply<xcb_input_query_device_state_reply_t> state(
            xcb_input_query_device_state_reply(c, cookies[i], nullptr));
        if (!state)
            continue;
        for (auto it = xcb_input_query_device_state_classes_iterator(state.get()); it.rem > 0;
             xcb_input_input_state_next(&it)) {
            if (it.data->class_id == XCB_INPUT_INPUT_CLASS_KEY) {
                const auto *keyState = reinterpret_cast<const xcb_input_key_state_t *>(it.data);
                std::copy(std::begin(keyState->keys), std::end(keyState->keys), devices[i].keys.begin());
            }
        }
    }
    return devices;
}

void fakeKey(xcb_connection_t *c, uint8_t type, xcb_keycode_t code)
{
    xcb_test_fake_input(c, type, code, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
}

// Presses again a modifier key the chord let go of while the user's finger
// is still on it (the Ctrl of a Ctrl+Alt+F tapped again). The press goes to
// the physical keyboard the key is down on, released there first so that it
// is no repeat: the server ignores a repeated modifier press. Pressed on the
// XTest device instead, the key would stay down there after the user lets
// go, and the next XTest press of it (ours, or xdotool's) would be such an
// ignored repeat. XTest is the fallback when the server refuses.
void pressAgain(xcb_connection_t *c, const KeyboardDevice &device, xcb_keycode_t code)
{
    const uint8_t base = xinput(c)->first_event;
    const auto fake = [&](uint8_t type) {
        return Reply<xcb_generic_error_t>(xcb_request_check(
            c, xcb_test_fake_input_checked(c, type, code, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, device.id)));
    };
    if (fake(base + XCB_INPUT_DEVICE_KEY_RELEASE) || fake(base + XCB_INPUT_DEVICE_KEY_PRESS))
        fakeKey(c, XCB_KEY_PRESS, code);
}

} // namespace

quint32 activeWindow()
{
    xcb_connection_t *c = connection();
    xcb_ewmh_connection_t *e = c ? ewmh(c) : nullptr;
    if (!e)
        return 0;
    xcb_window_t window = XCB_WINDOW_NONE;
    if (!xcb_ewmh_get_active_window_reply(e, xcb_ewmh_get_active_window(e, screenNumber), &window, nullptr))
        return 0;
    return window;
}

std::optional<QString> applicationIdentifier(quint32 window)
{
    xcb_connection_t *c = connection();
    if (!c || window == XCB_WINDOW_NONE)
        return std::nullopt;
    if (auto cls = wmClassOf(c, window))
        return cls;
    // Some toolkits put WM_CLASS only on the group's leader window.
    const xcb_window_t leader = windowProperty(c, window, internAtom(c, "WM_CLIENT_LEADER"));
    if (leader != XCB_WINDOW_NONE && leader != window)
        return wmClassOf(c, leader);
    return std::nullopt;
}

std::optional<QString> frontmostApplicationIdentifier()
{
    const quint32 window = activeWindow();
    return window ? applicationIdentifier(window) : std::nullopt;
}

std::optional<QString> ownApplicationIdentifier()
{
    if (!connection())
        return std::nullopt;
    // Qt's xcb plugin fixes WM_CLASS when it creates its first window, so a
    // window of ours, if there is one, says it best.
    const QWindowList windows = QGuiApplication::allWindows();
    for (QWindow *window : windows) {
        if (window->handle() && window->type() != Qt::ForeignWindow) {
            if (auto cls = applicationIdentifier(quint32(window->winId())))
                return cls;
        }
    }
    // Otherwise the way the plugin forms the class: the application name, or
    // else argv[0]'s file name with its first letter capitalised.
    QString cls = QCoreApplication::applicationName();
    if (cls.isEmpty()) {
        const QStringList arguments = QCoreApplication::arguments();
        if (!arguments.isEmpty())
            cls = QFileInfo(arguments.constFirst()).fileName();
        if (!cls.isEmpty() && cls.at(0).isLower())
            cls[0] = cls.at(0).toUpper();
    }
    if (cls.isEmpty())
        return std::nullopt;
    return cls;
}

bool activateWindow(quint32 window)
{
    xcb_connection_t *c = connection();
    xcb_ewmh_connection_t *e = c ? ewmh(c) : nullptr;
    if (!e || window == XCB_WINDOW_NONE)
        return false;
    // A window manager honours a pager's request (source 2) even when the
    // requesting program is not in front, as ours never is at that moment.
    const xcb_timestamp_t time = serverTime().value_or(XCB_CURRENT_TIME);
    xcb_ewmh_request_change_active_window(e, screenNumber, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, time,
                                          activeWindow());
    roundTrip(c);
    return !xcb_connection_has_error(c);
}

QList<quint32> clientWindows()
{
    xcb_connection_t *c = connection();
    xcb_ewmh_connection_t *e = c ? ewmh(c) : nullptr;
    if (!e)
        return {};
    xcb_ewmh_get_windows_reply_t list{};
    bool stacking = true;
    if (!xcb_ewmh_get_client_list_stacking_reply(e, xcb_ewmh_get_client_list_stacking(e, screenNumber), &list,
                                                 nullptr)) {
        // Not every window manager keeps the stacking list; the plain one
        // is in the order of mapping.
        stacking = false;
        if (!xcb_ewmh_get_client_list_reply(e, xcb_ewmh_get_client_list(e, screenNumber), &list, nullptr))
            return {};
    }
    QList<quint32> windows;
    windows.reserve(qsizetype(list.windows_len));
    for (uint32_t i = 0; i < list.windows_len; ++i)
        windows.append(list.windows[i]);
    xcb_ewmh_get_windows_reply_wipe(&list);
    // The stacking list runs bottom to top.
    if (stacking)
        std::reverse(windows.begin(), windows.end());
    return windows;
}

bool primarySelectionOwnedBy(quint32 window)
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = c ? rootWindow(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (root == XCB_WINDOW_NONE || window == XCB_WINDOW_NONE || window == root)
        return false;
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, XCB_ATOM_PRIMARY), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE)
        return false;
    // The window's ancestors up to the root: the last is the frame a
    // reparenting window manager holds it in (or the window itself).
    const auto ancestry = [&](xcb_window_t w) {
        std::vector<xcb_window_t> chain;
        while (w != XCB_WINDOW_NONE && w != root && chain.size() < 64) {
            chain.push_back(w);
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
            w = tree ? tree->parent : xcb_window_t(XCB_WINDOW_NONE);
        }
        return chain;
    };
    // Terminals own the selection with a child of their client window.
    const std::vector<xcb_window_t> ownerChain = ancestry(owner->owner);
    if (std::find(ownerChain.begin(), ownerChain.end(), window) != ownerChain.end())
        return true;
    const std::vector<xcb_window_t> windowChain = ancestry(window);
    return !ownerChain.empty() && !windowChain.empty() && ownerChain.back() == windowChain.back();
}

bool canPostSyntheticEvents()
{
    xcb_connection_t *c = connection();
    return c && hasXTest(c);
}

void prefetchSyntheticEventSupport()
{
    if (xcb_connection_t *c = connection())
        xcb_prefetch_extension_data(c, &xcb_test_id);
}

bool postKeyChord(Qt::KeyboardModifiers modifiers, Qt::Key key)
{
    xcb_connection_t *c = connection();
    if (!c || !hasXTest(c))
        return false;
    // The keymap can change at any time (layout switch); read it fresh.
    const std::unique_ptr<xcb_key_symbols_t, void (*)(xcb_key_symbols_t *)> symbols(xcb_key_symbols_alloc(c),
                                                                                    xcb_key_symbols_free);
    if (!symbols)
        return false;

    std::vector<xcb_keycode_t> chord;
    const std::pair<Qt::KeyboardModifier, xcb_keysym_t> modifierKeys[] = {
        {Qt::ControlModifier, keysymControlL},
        {Qt::ShiftModifier, keysymShiftL},
        {Qt::AltModifier, keysymAltL},
        {Qt::MetaModifier, keysymSuperL},
    };
    for (const auto &[modifier, keysym] : modifierKeys) {
        if (!(modifiers & modifier))
            continue;
        const xcb_keycode_t code = keycodeFor(symbols.get(), keysym);
        if (!code)
            return false;
        chord.push_back(code);
    }
    const xcb_keycode_t keyCode = keycodeFor(symbols.get(), keysymFor(key));
    if (!keyCode)
        return false;
    chord.push_back(keyCode);

    // Exactly the modifiers asked for: whatever else is held (Ctrl of the
    // user's Ctrl+F, say) would turn Ctrl+C into something else. Also let go
    // of any left down on the XTest device only, by the fallback below: its
    // next press would be ignored as a repeat.
    const std::vector<xcb_keycode_t> modifierCodes = modifierKeycodes(c);
    const KeyBits core = coreKeys(c);
    const std::vector<KeyboardDevice> before = keyboardDevices(c);
    for (const xcb_keycode_t code : modifierCodes) {
        const bool leftByXTest = std::any_of(before.begin(), before.end(), [&](const KeyboardDevice &d) {
            return d.xtest && isDown(d.keys, code);
        });
        if (isDown(core, code) || leftByXTest)
            fakeKey(c, XCB_KEY_RELEASE, code);
    }
    for (const xcb_keycode_t code : chord)
        fakeKey(c, XCB_KEY_PRESS, code);
    for (auto it = chord.rbegin(); it != chord.rend(); ++it)
        fakeKey(c, XCB_KEY_RELEASE, *it);
    roundTrip(c);

    // The modifiers the user still holds count again, or their next key
    // comes without them. Only those down on a physical keyboard now: one
    // let go of meanwhile would be stuck down if pressed. Held by XTest (a
    // tool like xdotool), they stay released. With none held on a keyboard
    // before the chord there is nothing to look for (and no round trips).
    const bool heldOnAKeyboard = std::any_of(before.begin(), before.end(), [&](const KeyboardDevice &d) {
        return !d.xtest && std::any_of(modifierCodes.begin(), modifierCodes.end(),
                                       [&](xcb_keycode_t code) { return isDown(d.keys, code); });
    });
    if (!heldOnAKeyboard)
        return !xcb_connection_has_error(c);
    const KeyBits coreAfter = coreKeys(c);
    const std::vector<KeyboardDevice> after = keyboardDevices(c);
    for (const xcb_keycode_t code : modifierCodes) {
        if (isDown(coreAfter, code))
            continue;
        const auto held = std::find_if(after.begin(), after.end(), [&](const KeyboardDevice &d) {
            return !d.xtest && isDown(d.keys, code);
        });
        if (held != after.end())
            pressAgain(c, *held, code);
    }
    roundTrip(c);
    return !xcb_connection_has_error(c);
}

// Shift+Home, chosen by trying the candidates in the applications the
// program pastes into, with three cases: caret inside a paragraph, at the
// start of an empty paragraph, at the start of a non-empty one.
//
// - Ctrl+Shift+Up: in mousepad (GtkSourceView, GTK 3) it goes to the start
//   of the PREVIOUS paragraph from anywhere but the first line, so from the
//   middle of "Third paragraph" it selected "\nThird " (the empty paragraph
//   above included), and from the start of an empty paragraph it selected
//   the whole paragraph before it. In QTextEdit, QPlainTextEdit and a QML
//   TextArea it does nothing at all: Qt has no start-of-block key on X11.
//   Alt+Shift+Up (the macOS binding) also does nothing in Qt.
// - Shift+Home: selected exactly "Third " from the middle, nothing at the
//   start of an empty or of a non-empty paragraph, and the whole line from
//   its end, in mousepad and in all three Qt editors alike. Chromium and
//   Firefox bind it the same way in text areas (to the visual line start),
//   and Ctrl+Shift+Up there is a paragraph move like GTK's.
// - Sequences that rebuild a paragraph move out of GTK's Ctrl+Up/Down
//   (e.g. Shift+Right, Ctrl+Shift+Up) fixed the empty paragraph in mousepad
//   but still overshot from the middle, and would leave Qt with a stray
//   character selected because the Ctrl moves do nothing there.
//
// The cost: Home goes to the start of the visual line, so in a paragraph
// that wraps only its last visual line is selected (seen in mousepad with
// word wrap on and in QTextEdit). Nothing pressed from outside does better
// in Qt, which has no paragraph-start key on X11.
bool postSelectToParagraphStart()
{
    return postKeyChord(Qt::ShiftModifier, Qt::Key_Home);
}

} // namespace platform
