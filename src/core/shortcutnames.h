#pragma once

#include <keyboardshortcuts.h>

// The program's three named global shortcuts, each made once on first use.
namespace ShortcutNames {

const KeyboardShortcuts::Name &typoFix();      // Control+Alt+F
const KeyboardShortcuts::Name &rephrase();     // Control+Alt+R
const KeyboardShortcuts::Name &floatingMenu(); // Control+Alt+O

} // namespace ShortcutNames
