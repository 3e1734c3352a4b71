#pragma once

// Qt key codes and modifiers in X11 terms.

#include <Qt>

#include <cstdint>

namespace KeyboardShortcuts::detail {

// The keysym X11 gives the key, 0 when there is none we know of.
std::uint32_t keysymForQtKey(Qt::Key key);

// Keys that only modify others; never a shortcut on their own.
bool isModifierKey(int key);

} // namespace KeyboardShortcuts::detail
