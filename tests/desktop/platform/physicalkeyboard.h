#pragma once

// Xvfb's own keyboard, pressed as a person at it would: XTest sends the key
// events as XInput device events of that slave device rather than of the
// XTest device, so the server keeps them apart from synthetic keystrokes.

#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>

namespace testing {

class PhysicalKeyboard
{
public:
    PhysicalKeyboard()
    {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        m_c = x11 ? x11->connection() : nullptr;
        const xcb_query_extension_reply_t *ext = m_c ? xcb_get_extension_data(m_c, &xcb_input_id) : nullptr;
        if (!ext || !ext->present)
            return;
        m_eventBase = ext->first_event;
        xcb_input_list_input_devices_reply_t *list =
            xcb_input_list_input_devices_reply(m_c, xcb_input_list_input_devices(m_c), nullptr);
        if (!list)
            return;
        const xcb_input_device_info_t *infos = xcb_input_list_input_devices_devices(list);
        xcb_str_iterator_t names = xcb_input_list_input_devices_names_iterator(list);
        for (int i = 0; i < list->devices_len && names.rem > 0; ++i, xcb_str_next(&names)) {
            if (QByteArray(xcb_str_name(names.data), xcb_str_name_length(names.data)) == "Xvfb keyboard")
                m_device = infos[i].device_id;
        }
        std::free(list);
    }

    bool isValid() const { return m_device != 0; }

    bool press(xcb_keysym_t keysym) { return send(XCB_INPUT_DEVICE_KEY_PRESS, keysym); }
    bool release(xcb_keysym_t keysym) { return send(XCB_INPUT_DEVICE_KEY_RELEASE, keysym); }
    bool tap(xcb_keysym_t keysym) { return press(keysym) && release(keysym); }

    // Down as every application sees it: the core keyboard's state.
    bool isDownForApplications(xcb_keysym_t keysym) const
    {
        const xcb_keycode_t code = keycode(keysym);
        xcb_query_keymap_reply_t *keymap = xcb_query_keymap_reply(m_c, xcb_query_keymap(m_c), nullptr);
        const bool down = code && keymap && (keymap->keys[code / 8] & (1 << (code % 8)));
        std::free(keymap);
        return down;
    }

private:
    xcb_keycode_t keycode(xcb_keysym_t keysym) const
    {
        const std::unique_ptr<xcb_key_symbols_t, void (*)(xcb_key_symbols_t *)> symbols(xcb_key_symbols_alloc(m_c),
                                                                                        xcb_key_symbols_free);
        xcb_keycode_t *codes = symbols ? xcb_key_symbols_get_keycode(symbols.get(), keysym) : nullptr;
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }

    bool send(uint8_t event, xcb_keysym_t keysym)
    {
        const xcb_keycode_t code = keycode(keysym);
        if (!isValid() || !code)
            return false;
        xcb_generic_error_t *error = xcb_request_check(
            m_c, xcb_test_fake_input_checked(m_c, uint8_t(m_eventBase + event), code, XCB_CURRENT_TIME,
                                             XCB_WINDOW_NONE, 0, 0, m_device));
        const bool ok = !error;
        std::free(error);
        return ok;
    }

    xcb_connection_t *m_c = nullptr;
    uint8_t m_eventBase = 0;
    uint8_t m_device = 0;
};

} // namespace testing
