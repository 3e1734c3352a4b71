#pragma once

// A loopback stand-in of the update server: it serves an appcast built from
// scripted releases (or raw bytes) and the releases' packages, and counts
// what was asked for.

#include <QByteArray>
#include <QHash>
#include <QHttpServer>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class UpdateFeedStandIn : public QObject
{
    Q_OBJECT

public:
    struct Release
    {
        QString version;            // sparkle:version
        QString shortVersion;       // sparkle:shortVersionString
        QString fileName;           // served at /files/<fileName>
        QByteArray bytes;           // what the download returns
        qint64 announcedLength = -1; // enclosure length; -1: the real size
        QString signature;          // base64 edSignature; empty: none
    };

    explicit UpdateFeedStandIn(QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port; false if that failed.
    bool listen();
    QUrl feedUrl() const;
    QUrl fileUrl(const QString &fileName) const;

    // The feed lists these releases, in the order given.
    void setReleases(const QList<Release> &releases);
    // The feed answers exactly these bytes (e.g. something broken).
    void setRawFeed(const QByteArray &body);
    // Answer the feed with this HTTP status instead (0: answer normally).
    void refuseFeedWith(int statusCode) { m_feedStatus = statusCode; }

    int feedRequests() const { return m_feedRequests; }
    int downloadRequests() const { return m_downloadRequests; }

Q_SIGNALS:
    void feedRequested();
    void downloadRequested(const QString &fileName);

private:
    QHttpServer m_server;
    quint16 m_port = 0;
    QByteArray m_feed;
    QHash<QString, QByteArray> m_files;
    int m_feedStatus = 0;
    int m_feedRequests = 0;
    int m_downloadRequests = 0;
};
