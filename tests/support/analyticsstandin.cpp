#include "analyticsstandin.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <memory>

namespace {

// The service's own limit per request.
constexpr int MaxRecordsPerRequest = 2000;

QString checkRecord(const QString &endpoint, const QJsonObject &record)
{
    if (endpoint == QLatin1String("/track")) {
        if (!record.value(QLatin1String("event")).isString())
            return QStringLiteral("event name missing");
        const QJsonObject properties = record.value(QLatin1String("properties")).toObject();
        if (properties.value(QLatin1String("token")).toString().isEmpty())
            return QStringLiteral("token missing");
        return {};
    }
    if (record.value(QLatin1String("$token")).toString().isEmpty())
        return QStringLiteral("$token missing");
    if (record.value(QLatin1String("$distinct_id")).toString().isEmpty())
        return QStringLiteral("$distinct_id missing");
    return {};
}

} // namespace

AnalyticsStandIn::AnalyticsStandIn(QObject *parent)
    : QObject(parent)
{
    for (const QString &endpoint : {QStringLiteral("/track"), QStringLiteral("/engage")}) {
        m_server.route(endpoint, QHttpServerRequest::Method::Post,
                       [this, endpoint](const QHttpServerRequest &request,
                                        QHttpServerResponder &&responder) {
                           handle(endpoint, request, std::move(responder));
                       });
    }
}

bool AnalyticsStandIn::listen()
{
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QUrl AnalyticsStandIn::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

void AnalyticsStandIn::handle(const QString &endpoint, const QHttpServerRequest &request,
                              QHttpServerResponder &&responder)
{
    Batch batch;
    batch.endpoint = endpoint;
    QString error;

    const QByteArray contentType = request.value("Content-Type");
    const QJsonDocument document = QJsonDocument::fromJson(request.body());
    if (!contentType.startsWith("application/json")) {
        error = QStringLiteral("unsupported content type");
    } else if (!document.isArray()) {
        error = QStringLiteral("body is not a JSON array");
    } else if (document.array().size() > MaxRecordsPerRequest) {
        error = QStringLiteral("too many records");
    } else {
        const QJsonArray records = document.array();
        for (const QJsonValue &value : records) {
            batch.records.append(value.toObject());
            if (error.isEmpty())
                error = value.isObject() ? checkRecord(endpoint, value.toObject())
                                         : QStringLiteral("record is not an object");
            if (error.isEmpty() && !m_rejectedEvent.isEmpty()
                && value.toObject().value(QLatin1String("event")).toString() == m_rejectedEvent)
                error = QStringLiteral("invalid event");
        }
    }

    batch.status = m_refuseStatus ? m_refuseStatus : (error.isEmpty() ? 200 : 400);
    const bool ok = batch.status >= 200 && batch.status < 300;
    if (m_refuseStatus && error.isEmpty())
        error = QStringLiteral("refused");

    QByteArray body;
    if (QUrlQuery(request.url()).queryItemValue(QStringLiteral("verbose")) == QLatin1String("1")) {
        QJsonObject answer{{QStringLiteral("status"), ok ? 1 : 0}};
        answer.insert(QStringLiteral("error"), ok ? QJsonValue() : QJsonValue(error));
        body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    } else {
        body = ok ? "1" : "0";
    }
    const auto status = static_cast<QHttpServerResponder::StatusCode>(batch.status);
    m_batches.append(batch);
    Q_EMIT batchReceived();

    if (m_delayMs <= 0) {
        responder.write(body, "application/json", status);
        return;
    }
    // The client may give up first; write only if the connection is still there.
    auto late = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> socket = late->socket();
    QTimer::singleShot(m_delayMs, this, [late, socket, body, status] {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            late->write(body, "application/json", status);
    });
}

QList<QJsonObject> AnalyticsStandIn::accepted(const QString &endpoint) const
{
    QList<QJsonObject> records;
    for (const Batch &batch : m_batches) {
        if (batch.endpoint == endpoint && batch.status >= 200 && batch.status < 300)
            records.append(batch.records);
    }
    return records;
}
