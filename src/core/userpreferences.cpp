#include "userpreferences.h"

namespace UserPreferences {

QString rawValue(MenuBarIconStyle style)
{
    switch (style) {
    case MenuBarIconStyle::colored:
        return QStringLiteral("colored");
    case MenuBarIconStyle::minimal:
        return QStringLiteral("minimal");
    }
    return {};
}

std::optional<MenuBarIconStyle> menuBarIconStyleFromRawValue(const QString &raw)
{
    for (auto style : {MenuBarIconStyle::colored, MenuBarIconStyle::minimal}) {
        if (raw == rawValue(style))
            return style;
    }
    return std::nullopt;
}

} // namespace UserPreferences
