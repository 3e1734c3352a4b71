#pragma once

#include "dsn.h"
#include "sentrysdk.h"

#include <QNetworkReply>
#include <QObject>
#include <QStringList>

class QNetworkAccessManager;

namespace sentry {

// What to do with a report after an upload attempt.
enum class Disposition {
    Delete,   // accepted
    Keep,     // try again at the next start
    SetAside, // the ingest will never accept these bytes
};

Disposition dispositionFor(QNetworkReply::NetworkError error, int httpStatus);

// Sends the reports pending in a folder, one after the other.
class ReportUploader : public QObject
{
    Q_OBJECT
public:
    ReportUploader(const Dsn &dsn, const Options &options, QNetworkAccessManager *network,
                   QObject *parent = nullptr);

    void start();

    static QString corruptFolder() { return QStringLiteral("corrupt"); }
    static QString rejectedFolder() { return QStringLiteral("rejected"); }

Q_SIGNALS:
    void finished(const sentry::DeliverySummary &summary);

private:
    void next();
    void send(const QString &path);
    void onReplyFinished(QNetworkReply *reply, const QString &path);
    void setAside(const QString &path, const QString &folder, const QString &reason);
    void finish();

    Dsn m_dsn;
    Options m_options;
    QNetworkAccessManager *m_network; // the given one, or ours once a report is sent
    QStringList m_queue;
    DeliverySummary m_summary;
    bool m_running = false;
};

} // namespace sentry
