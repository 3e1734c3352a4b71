#include "reportuploader.h"

#include "crashhandler.h"
#include "crashreport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace sentry {

namespace {

constexpr qint64 kMaxReportSize = 16 * 1024 * 1024;
constexpr int kTransferTimeoutMs = 30000;

} // namespace

Disposition dispositionFor(QNetworkReply::NetworkError error, int httpStatus)
{
    if (httpStatus >= 200 && httpStatus < 300)
        return Disposition::Delete;
    // 400: the ingest can't parse the envelope; 413: it is too large. Neither
    // changes by sending the same bytes again.
    if (httpStatus == 400 || httpStatus == 413)
        return Disposition::SetAside;
    // Everything else — no answer, rate limiting (429), a server error, a
    // revoked or mistyped key — may pass later; the report waits.
    Q_UNUSED(error);
    return Disposition::Keep;
}

ReportUploader::ReportUploader(const Dsn &dsn, const Options &options,
                               QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), m_dsn(dsn), m_options(options), m_network(network)
{
}

void ReportUploader::start()
{
    if (m_running)
        return;
    m_running = true;
    m_summary = {};

    // Suffixes are matched here rather than by name filters, which would
    // compile regular expressions at every start.
    QDir dir(m_options.databasePath);
    const QStringList files = dir.entryList(QDir::Files, QDir::Time | QDir::Reversed);
    // Leftovers of a crash while the report was being written.
    for (const QString &name : files)
        if (name.endsWith(QLatin1String(detail::kPartialSuffix)))
            setAside(dir.filePath(name), corruptFolder(), QStringLiteral("incomplete report"));

    m_queue.clear();
    for (const QString &name : files)
        if (name.endsWith(QLatin1String(detail::kReportSuffix)))
            m_queue << dir.filePath(name);
    next();
}

void ReportUploader::next()
{
    if (m_queue.isEmpty()) {
        finish();
        return;
    }
    send(m_queue.takeFirst());
}

void ReportUploader::send(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("crash reporting: cannot read %s: %s", qPrintable(path), qPrintable(file.errorString()));
        ++m_summary.kept;
        next();
        return;
    }
    if (file.size() > kMaxReportSize) {
        file.close();
        setAside(path, corruptFolder(), QStringLiteral("report too large"));
        next();
        return;
    }
    const QByteArray data = file.readAll();
    file.close();

    QString error;
    const std::optional<detail::CrashReport> report = detail::parseReport(data, &error);
    if (!report) {
        setAside(path, corruptFolder(), error);
        next();
        return;
    }

    const auto frames = detail::symbolise(*report, detail::currentProcessMaps());
    const QByteArray event = detail::buildEvent(*report, frames, m_options);
    const QByteArray envelope = detail::buildEnvelope(event, report->eventId, m_dsn.original,
                                                      QDateTime::currentDateTimeUtc());

    QNetworkRequest request(m_dsn.envelopeUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-sentry-envelope"));
    request.setRawHeader("X-Sentry-Auth",
                         m_dsn.authHeader(QStringLiteral("%1/%2").arg(QLatin1String(kClientName),
                                                                     QLatin1String(kClientVersion))));
    request.setTransferTimeout(kTransferTimeoutMs);
    // Made only now: most starts have nothing to send, and a process's first
    // network access manager is costly.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkReply *reply = m_network->post(request, envelope);
    connect(reply, &QNetworkReply::finished, this, [this, reply, path] { onReplyFinished(reply, path); });
}

void ReportUploader::onReplyFinished(QNetworkReply *reply, const QString &path)
{
    reply->deleteLater();
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    switch (dispositionFor(reply->error(), status)) {
    case Disposition::Delete:
        if (!QFile::remove(path))
            qWarning("crash reporting: sent %s but could not delete it", qPrintable(path));
        ++m_summary.delivered;
        next();
        return;
    case Disposition::SetAside:
        setAside(path, rejectedFolder(), QStringLiteral("the ingest rejected it with HTTP %1").arg(status));
        next();
        return;
    case Disposition::Keep:
        break;
    }
    if (status != 0)
        qWarning("crash reporting: the ingest answered HTTP %d; keeping %d report(s) for later", status,
                 static_cast<int>(m_queue.size()) + 1);
    else
        qWarning("crash reporting: ingest unreachable (%s); keeping %d report(s) for later",
                 qPrintable(reply->errorString()), static_cast<int>(m_queue.size()) + 1);
    // The rest would meet the same answer; they wait with this one.
    m_summary.kept += 1 + static_cast<int>(m_queue.size());
    m_queue.clear();
    finish();
}

void ReportUploader::setAside(const QString &path, const QString &folder, const QString &reason)
{
    qWarning("crash reporting: setting aside %s (%s)", qPrintable(path), qPrintable(reason));
    const QFileInfo info(path);
    QDir dir = info.dir();
    if (dir.mkpath(folder)) {
        QString target = dir.filePath(folder + u'/' + info.fileName());
        for (int n = 1; QFile::exists(target); ++n)
            target = dir.filePath(QStringLiteral("%1/%2-%3").arg(folder, info.fileName()).arg(n));
        if (QFile::rename(path, target)) {
            ++m_summary.setAside;
            return;
        }
    }
    // Out of the queue under a name it no longer matches; never deleted unsent.
    if (QFile::rename(path, path + QStringLiteral(".") + folder)) {
        ++m_summary.setAside;
        return;
    }
    qWarning("crash reporting: could not move %s out of the queue", qPrintable(path));
    ++m_summary.kept;
}

void ReportUploader::finish()
{
    m_running = false;
    Q_EMIT finished(m_summary);
}

} // namespace sentry
