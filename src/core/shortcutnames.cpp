#include "shortcutnames.h"

namespace ShortcutNames {

using KeyboardShortcuts::Name;
using KeyboardShortcuts::Shortcut;

const Name &typoFix()
{
    static const Name name(QStringLiteral("typoFix"), Shortcut(Qt::Key_F, Qt::ControlModifier));
    return name;
}

const Name &rephrase()
{
    static const Name name(QStringLiteral("rephrase"), Shortcut(Qt::Key_R, Qt::ControlModifier));
    return name;
}

const Name &floatingMenu()
{
    static const Name name(QStringLiteral("floatingMenu"), Shortcut(Qt::Key_O, Qt::ControlModifier));
    return name;
}

} // namespace ShortcutNames
