#pragma once

#include <QString>

#include <optional>

namespace UserPreferences {

// How the status icon is drawn; stored as its raw value.
enum class MenuBarIconStyle {
    colored,
    minimal,
};

inline constexpr const char *kMenuBarIconStyleKey = "menuBarIconStylePreferenceKey";

QString rawValue(MenuBarIconStyle style);
// Any string other than an exact raw value yields no style.
std::optional<MenuBarIconStyle> menuBarIconStyleFromRawValue(const QString &raw);

} // namespace UserPreferences
