#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>

// One release offered by the appcast feed.
struct SUAppcastItem
{
    QString title;
    QString version;            // sparkle:version, the build compared
    QString shortVersionString; // shown to people
    QUrl releaseNotesLink;
    QUrl enclosureUrl;
    qint64 enclosureLength = -1;
    QString enclosureType;
    QString edSignature;        // base64, may be empty

    QString displayVersion() const
    {
        return shortVersionString.isEmpty() ? version : shortVersionString;
    }
};

struct SUAppcast
{
    QList<SUAppcastItem> items;
    QString error; // empty when the feed parsed
};

// Reads an RSS appcast. Items without a version or enclosure are dropped.
SUAppcast parseAppcast(const QByteArray &xml);

// The item with the highest version, or nullptr when there is none.
const SUAppcastItem *newestItem(const SUAppcast &appcast);

Q_DECLARE_METATYPE(SUAppcastItem)
