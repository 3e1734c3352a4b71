#pragma once

#include <QString>

// Compares two version strings the way release numbers are read: runs of
// digits compare as numbers, other runs as text, a missing run is smaller.
// Returns <0, 0 or >0 like strcmp.
int compareVersions(const QString &a, const QString &b);
