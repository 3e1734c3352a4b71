#include "suappcastitem.h"

#include "versioncompare.h"

#include <QXmlStreamReader>

namespace {

const QString SparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

bool isSparkle(const QXmlStreamReader &xml, QLatin1String name)
{
    return xml.namespaceUri() == SparkleNamespace && xml.name() == name;
}

void readEnclosure(const QXmlStreamReader &xml, SUAppcastItem &item)
{
    const QXmlStreamAttributes attributes = xml.attributes();
    item.enclosureUrl = QUrl(attributes.value(QLatin1String("url")).toString().trimmed());
    bool ok = false;
    const qint64 length = attributes.value(QLatin1String("length")).toLongLong(&ok);
    item.enclosureLength = ok ? length : -1;
    item.enclosureType = attributes.value(QLatin1String("type")).toString();
    item.edSignature = attributes.value(SparkleNamespace, QLatin1String("edSignature")).toString();
    // Older feeds put the version on the enclosure.
    const QString version = attributes.value(SparkleNamespace, QLatin1String("version")).toString();
    if (item.version.isEmpty())
        item.version = version;
    const QString shortVersion = attributes.value(SparkleNamespace, QLatin1String("shortVersionString")).toString();
    if (item.shortVersionString.isEmpty())
        item.shortVersionString = shortVersion;
}

SUAppcastItem readItem(QXmlStreamReader &xml)
{
    SUAppcastItem item;
    while (xml.readNextStartElement()) {
        if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1String("title")) {
            item.title = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QLatin1String("version"))) {
            item.version = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QLatin1String("shortVersionString"))) {
            item.shortVersionString = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QLatin1String("releaseNotesLink"))) {
            item.releaseNotesLink = QUrl(xml.readElementText().trimmed());
        } else if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1String("enclosure")) {
            readEnclosure(xml, item);
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    return item;
}

} // namespace

SUAppcast parseAppcast(const QByteArray &data)
{
    SUAppcast appcast;
    QXmlStreamReader xml(data);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("rss")) {
        appcast.error = xml.hasError() ? xml.errorString() : QStringLiteral("not an RSS feed");
        return appcast;
    }
    bool sawChannel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("channel")) {
            xml.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("item")) {
                SUAppcastItem item = readItem(xml);
                if (!item.version.isEmpty() && item.enclosureUrl.isValid() && !item.enclosureUrl.isEmpty())
                    appcast.items.append(item);
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    if (xml.hasError()) {
        appcast.error = xml.errorString();
        appcast.items.clear();
    } else if (!sawChannel) {
        appcast.error = QStringLiteral("the feed has no channel");
    }
    return appcast;
}

const SUAppcastItem *newestItem(const SUAppcast &appcast)
{
    const SUAppcastItem *best = nullptr;
    for (const SUAppcastItem &item : appcast.items) {
        if (!best || compareVersions(item.version, best->version) > 0)
            best = &item;
    }
    return best;
}
