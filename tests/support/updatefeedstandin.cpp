#include "updatefeedstandin.h"

#include <QHostAddress>
#include <QXmlStreamWriter>

namespace {
const QString SparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
}

UpdateFeedStandIn::UpdateFeedStandIn(QObject *parent)
    : QObject(parent)
{
    m_server.route(QStringLiteral("/appcast.xml"), QHttpServerRequest::Method::Get, [this] {
        ++m_feedRequests;
        Q_EMIT feedRequested();
        if (m_feedStatus != 0)
            return QHttpServerResponse(QHttpServerResponse::StatusCode(m_feedStatus));
        return QHttpServerResponse(QByteArrayLiteral("application/rss+xml"), m_feed);
    });
    m_server.route(QStringLiteral("/files/<arg>"), QHttpServerRequest::Method::Get, [this](const QString &name) {
        ++m_downloadRequests;
        Q_EMIT downloadRequested(name);
        const auto found = m_files.constFind(name);
        if (found == m_files.constEnd())
            return QHttpServerResponse(QHttpServerResponse::StatusCode::NotFound);
        return QHttpServerResponse(QByteArrayLiteral("application/octet-stream"), found.value());
    });
}

bool UpdateFeedStandIn::listen()
{
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QUrl UpdateFeedStandIn::feedUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_port));
}

QUrl UpdateFeedStandIn::fileUrl(const QString &fileName) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/files/%2").arg(m_port).arg(fileName));
}

void UpdateFeedStandIn::setReleases(const QList<Release> &releases)
{
    m_files.clear();
    m_feed.clear();
    QXmlStreamWriter xml(&m_feed);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeNamespace(SparkleNamespace, QStringLiteral("sparkle"));
    xml.writeStartElement(QStringLiteral("rss"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("channel"));
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Wugg it! updates"));
    for (const Release &release : releases) {
        m_files.insert(release.fileName, release.bytes);
        xml.writeStartElement(QStringLiteral("item"));
        xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Version ") + release.shortVersion);
        xml.writeTextElement(SparkleNamespace, QStringLiteral("version"), release.version);
        xml.writeTextElement(SparkleNamespace, QStringLiteral("shortVersionString"), release.shortVersion);
        xml.writeTextElement(SparkleNamespace, QStringLiteral("releaseNotesLink"),
                             QStringLiteral("https://example.org/notes/") + release.version);
        xml.writeEmptyElement(QStringLiteral("enclosure"));
        xml.writeAttribute(QStringLiteral("url"), fileUrl(release.fileName).toString());
        const qint64 length = release.announcedLength >= 0 ? release.announcedLength : release.bytes.size();
        xml.writeAttribute(QStringLiteral("length"), QString::number(length));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("application/x-executable"));
        if (!release.signature.isEmpty())
            xml.writeAttribute(SparkleNamespace, QStringLiteral("edSignature"), release.signature);
        xml.writeEndElement(); // item
    }
    xml.writeEndElement(); // channel
    xml.writeEndElement(); // rss
    xml.writeEndDocument();
}

void UpdateFeedStandIn::setRawFeed(const QByteArray &body)
{
    m_files.clear();
    m_feed = body;
}
