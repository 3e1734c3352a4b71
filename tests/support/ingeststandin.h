#pragma once

// A loopback stand-in of Sentry's envelope ingest (POST /api/<project>/envelope/).
// It checks the envelope and auth header the way the ingest does, answers
// like it, records every attempt and can be told to refuse.

#include <QHttpServer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class IngestStandIn : public QObject
{
    Q_OBJECT

public:
    struct Attempt
    {
        int status = 0;      // what the stand-in answered
        QString problem;     // why it was malformed; empty when well-formed
        QJsonObject envelopeHeader;
        QJsonObject itemHeader;
        QJsonObject event;
    };

    explicit IngestStandIn(const QString &publicKey = QStringLiteral("0123456789abcdef0123456789abcdef"),
                           const QString &projectId = QStringLiteral("42"), QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port; false if that failed.
    bool listen();
    quint16 port() const { return m_port; }
    // The DSN a client should use to reach this stand-in.
    QString dsn() const;

    // Answer well-formed envelopes with this HTTP status (0: accept with 200).
    void refuseWith(int statusCode) { m_refuseStatus = statusCode; }

    QList<Attempt> attempts() const { return m_attempts; }
    int requestCount() const { return int(m_attempts.size()); }
    // Events of the envelopes answered with 200, in arrival order.
    QList<QJsonObject> acceptedEvents() const;
    // Protocol violations seen so far.
    QStringList problems() const;

Q_SIGNALS:
    void envelopeReceived();

private:
    QHttpServerResponse handle(const QString &projectId, const QHttpServerRequest &request);
    QString check(const QString &projectId, const QHttpServerRequest &request, Attempt &attempt) const;

    QHttpServer m_server;
    QString m_publicKey;
    QString m_projectId;
    quint16 m_port = 0;
    int m_refuseStatus = 0;
    QList<Attempt> m_attempts;
};
