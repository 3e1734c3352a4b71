#include "fakekeyboard.h"

#include <xcb/xtest.h>

#include <cstdlib>

FakeKeyboard::FakeKeyboard()
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
}

FakeKeyboard::~FakeKeyboard()
{
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
    if (m_connection)
        xcb_disconnect(m_connection);
}

xcb_keycode_t FakeKeyboard::keycode(std::uint32_t keysym)
{
    // The map may have changed since the last look.
    xcb_key_symbols_free(m_keySymbols);
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(m_keySymbols, keysym);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    return code == XCB_NO_SYMBOL ? 0 : code;
}

void FakeKeyboard::fake(std::uint8_t type, xcb_keycode_t keycode)
{
    xcb_test_fake_input(m_connection, type, keycode, XCB_CURRENT_TIME, m_root, 0, 0, 0);
    sync();
}

void FakeKeyboard::tap(const std::vector<std::uint32_t> &keysyms)
{
    for (std::uint32_t keysym : keysyms)
        pressKeysym(keysym);
    for (auto it = keysyms.rbegin(); it != keysyms.rend(); ++it)
        releaseKeysym(*it);
}

std::uint16_t FakeKeyboard::modifierState() const
{
    auto *reply = xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr);
    const std::uint16_t mask = reply ? reply->mask : 0;
    std::free(reply);
    return mask & 0xff;
}

bool FakeKeyboard::grab(xcb_keycode_t keycode, std::uint16_t modifiers)
{
    xcb_generic_error_t *error = xcb_request_check(
        m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const bool ok = !error;
    std::free(error);
    return ok;
}

void FakeKeyboard::ungrab(xcb_keycode_t keycode, std::uint16_t modifiers)
{
    xcb_ungrab_key(m_connection, keycode, m_root, modifiers);
    sync();
}

xcb_keycode_t FakeKeyboard::unusedKeycode() const
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, std::uint8_t(count)), nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int per = reply->keysyms_per_keycode;
    xcb_keycode_t found = 0;
    // From the top: the low codes are the ones real keyboards use.
    for (int i = count - 1; i >= 0 && !found; --i) {
        bool empty = true;
        for (int j = 0; j < per; ++j)
            empty = empty && syms[i * per + j] == XCB_NO_SYMBOL;
        if (empty)
            found = xcb_keycode_t(setup->min_keycode + i);
    }
    std::free(reply);
    return found;
}

void FakeKeyboard::mapKeycode(xcb_keycode_t keycode, std::uint32_t keysym)
{
    const xcb_keysym_t syms[1] = {keysym};
    xcb_change_keyboard_mapping(m_connection, 1, keycode, 1, syms);
    sync();
}

void FakeKeyboard::sync() const
{
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}
