#pragma once

#include <keyboardshortcuts.h>

// The program's three named global shortcuts, each made once on first use.
namespace ShortcutNames {

const KeyboardShortcuts::Name &typoFix();      // Control+F
const KeyboardShortcuts::Name &rephrase();     // Control+R
const KeyboardShortcuts::Name &floatingMenu(); // Control+O

} // namespace ShortcutNames
