#pragma once

#include <QString>

struct SUAppcastItem;

// Checks a downloaded package against the feed's claim and our signing key.
// Returns an empty string when it may be installed, otherwise why not, in
// plain words.
QString verifyPackage(const QString &path, const SUAppcastItem &item, const QString &publicKeyBase64);

// Puts a verified package in place of the running AppImage named by
// $APPIMAGE. Returns an empty string on success, otherwise why not.
// On success installedPath holds the replaced AppImage.
QString installAppImage(const QString &verifiedPackage, QString *installedPath);
