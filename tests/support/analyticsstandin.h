#pragma once

// A loopback stand-in of Mixpanel's ingestion API (/track and /engage).
// It checks requests the way the service does, answers like it, records
// every batch and can be told to refuse or to answer late.

#include <QHttpServer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class AnalyticsStandIn : public QObject
{
    Q_OBJECT

public:
    struct Batch
    {
        QString endpoint;          // "/track" or "/engage"
        int status = 0;            // what the stand-in answered
        QList<QJsonObject> records;
    };

    explicit AnalyticsStandIn(QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port; false if that failed.
    bool listen();
    quint16 port() const { return m_port; }
    QUrl url() const;

    // Answer every request with this HTTP status (0: answer normally).
    void refuseWith(int statusCode) { m_refuseStatus = statusCode; }
    // Answer this many milliseconds late.
    void setDelay(int milliseconds) { m_delayMs = milliseconds; }
    // Refuse as invalid (400) any batch holding an event of this name.
    void rejectEventsNamed(const QString &name) { m_rejectedEvent = name; }

    QList<Batch> batches() const { return m_batches; }
    int requestCount() const { return int(m_batches.size()); }
    // Records of the batches answered with success, in arrival order.
    QList<QJsonObject> acceptedEvents() const { return accepted(QStringLiteral("/track")); }
    QList<QJsonObject> acceptedPeople() const { return accepted(QStringLiteral("/engage")); }

Q_SIGNALS:
    void batchReceived();

private:
    void handle(const QString &endpoint, const QHttpServerRequest &request,
                QHttpServerResponder &&responder);
    QList<QJsonObject> accepted(const QString &endpoint) const;

    QHttpServer m_server;
    quint16 m_port = 0;
    int m_refuseStatus = 0;
    int m_delayMs = 0;
    QString m_rejectedEvent;
    QList<Batch> m_batches;
};
