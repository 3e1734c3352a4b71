#pragma once

// A second X client for the tests: types through XTest, grabs keys as
// another application would, and edits the keyboard map.

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <vector>

class FakeKeyboard
{
public:
    FakeKeyboard();
    ~FakeKeyboard();
    FakeKeyboard(const FakeKeyboard &) = delete;
    FakeKeyboard &operator=(const FakeKeyboard &) = delete;

    bool isValid() const { return m_connection && m_keySymbols; }
    xcb_keycode_t keycode(std::uint32_t keysym);

    void press(xcb_keycode_t keycode) { fake(XCB_KEY_PRESS, keycode); }
    void release(xcb_keycode_t keycode) { fake(XCB_KEY_RELEASE, keycode); }
    void pressKeysym(std::uint32_t keysym) { press(keycode(keysym)); }
    void releaseKeysym(std::uint32_t keysym) { release(keycode(keysym)); }
    // Presses the keysyms in order, then releases them in reverse.
    void tap(const std::vector<std::uint32_t> &keysyms);

    // Modifier and lock state the server reports for the pointer.
    std::uint16_t modifierState() const;

    // A passive grab of this client on the root window; false on BadAccess.
    bool grab(xcb_keycode_t keycode, std::uint16_t modifiers);
    void ungrab(xcb_keycode_t keycode, std::uint16_t modifiers);

    // A key code with no symbols at all, 0 if every one is used.
    xcb_keycode_t unusedKeycode() const;
    // Gives keycode the single symbol keysym (0 clears it).
    void mapKeycode(xcb_keycode_t keycode, std::uint32_t keysym);

    // Waits until the server has handled every request sent so far.
    void sync() const;

private:
    void fake(std::uint8_t type, xcb_keycode_t keycode);
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_key_symbols_t *m_keySymbols = nullptr;
};
