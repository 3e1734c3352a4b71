#pragma once

// Loopback servers for the HTTP client's tests: a scripted HTTP backend that
// records what it received, and a raw TCP server that misbehaves on purpose.

#include <QByteArray>
#include <QHttpServer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class ScriptedBackend : public QObject
{
    Q_OBJECT

public:
    struct Received
    {
        QByteArray method;
        QString path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        // The values of a header, matched case-insensitively, in arrival order.
        QList<QByteArray> values(const QByteArray &name) const;
        QByteArray value(const QByteArray &name) const { return values(name).value(0); }
    };

    struct Answer
    {
        int status = 200;
        QByteArray body = QByteArrayLiteral("{}");
    };
    using Script = std::function<Answer(const Received &)>;

    ScriptedBackend();

    bool listen();
    // http://127.0.0.1:<port>/<prefix>
    QUrl baseUrl(const QString &prefix = {}) const;
    quint16 port() const { return m_port; }

    void setScript(Script script) { m_script = std::move(script); }
    QList<Received> received;

private:
    QHttpServer m_server;
    quint16 m_port = 0;
    Script m_script;
};

class RawServer : public QObject
{
    Q_OBJECT

public:
    enum class Behaviour {
        silent,    // accepts and never answers
        garbage,   // answers with something that is not HTTP, then hangs up
        endless,   // a 200 without Content-Length, streaming bytesToStream bytes
    };

    explicit RawServer(Behaviour behaviour, qint64 bytesToStream = 0);

    bool listen();
    QUrl baseUrl() const;

    int connections = 0;
    qint64 bytesHandedOver = 0; // body bytes the kernel accepted, for endless
    bool clientHungUp = false;

private:
    void feed(QTcpSocket *socket);

    QTcpServer m_server;
    Behaviour m_behaviour;
    qint64 m_bytesToStream = 0;
    qint64 m_queued = 0;
};
