#pragma once

// The QML modules the windows' views import (Look, KeyboardShortcuts and
// Wugg.Ui), registered once per process.
namespace Ui {
void registerQmlModules();
}
