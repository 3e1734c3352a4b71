#pragma once

#include <QColor>

namespace Look {

// The background of the settings, onboarding and floating-menu windows and
// of their content; the windows draw white text on it.
QColor primaryBackground();

// The colour of divider lines, a little lighter than the background.
QColor dividerBackground();

// Registers the QML module "Look" (Colors, ColoredToggleStyle, Hiding,
// FocusableTextField); call once before loading QML that imports it.
void registerQmlModule();

} // namespace Look
