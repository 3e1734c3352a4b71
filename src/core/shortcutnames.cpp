#include "shortcutnames.h"

namespace ShortcutNames {

using KeyboardShortcuts::Name;
using KeyboardShortcuts::Shortcut;

// With Alt: a global grab takes its keys from every application, and plain
// Ctrl+F, Ctrl+R and Ctrl+O are Find, Reload and Open nearly everywhere.

const Name &typoFix()
{
    static const Name name(QStringLiteral("typoFix"), Shortcut(Qt::Key_F, Qt::ControlModifier | Qt::AltModifier));
    return name;
}

const Name &rephrase()
{
    static const Name name(QStringLiteral("rephrase"), Shortcut(Qt::Key_R, Qt::ControlModifier | Qt::AltModifier));
    return name;
}

const Name &floatingMenu()
{
    static const Name name(QStringLiteral("floatingMenu"), Shortcut(Qt::Key_O, Qt::ControlModifier | Qt::AltModifier));
    return name;
}

} // namespace ShortcutNames
