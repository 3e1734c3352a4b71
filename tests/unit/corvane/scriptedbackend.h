#pragma once

// Loopback servers for the HTTP client's tests: a scripted HTTP backend that
// records what it received, and a raw TCP server that misbehaves on purpose.

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

class ScriptedBackend
{
public:
    struct Received
    {
        QByteArray method;
        QString path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        // Every value of a header (case-insensitive name), in arrival order.
        QList<QByteArray> values(const QByteArray &name) const
        {
            QList<QByteArray> found;
            for (const auto &[key, value] : headers)
                if (key.compare(name, Qt::CaseInsensitive) == 0)
                    found << value;
            return found;
        }
        QByteArray value(const QByteArray &name) const { return values(name).value(0); }
    };
    struct Answer
    {
        int status = 200;
        QByteArray body = QByteArrayLiteral("{}");
    };

    ScriptedBackend()
    {
        m_server.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            using M = QHttpServerRequest::Method;
            const M m = request.method();
            const QByteArray method = m == M::Get ? "GET" : m == M::Post ? "POST" : m == M::Put ? "PUT" : "OTHER";
            received << Received{method, request.url().path(), request.headers(), request.body()};
            const Answer answer = script ? script(received.last()) : Answer{};
            responder.write(answer.body, QByteArrayLiteral("application/json"),
                            static_cast<QHttpServerResponder::StatusCode>(answer.status));
        });
    }
    bool listen() { return (m_port = m_server.listen(QHostAddress::LocalHost, 0)) != 0; }
    QUrl baseUrl(const QString &prefix = {}) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(prefix));
    }
    quint16 port() const { return m_port; }

    std::function<Answer(const Received &)> script;
    QList<Received> received;

private:
    QHttpServer m_server;
    quint16 m_port = 0;
};

class RawServer : public QObject
{
public:
    enum class Behaviour {
        silent,  // accepts and never answers
        garbage, // answers with something that is not HTTP, then hangs up
        endless, // a 200 without Content-Length, streaming bytesToStream bytes
    };

    explicit RawServer(Behaviour behaviour, qint64 bytesToStream = 0) : m_bytesToStream(bytesToStream)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this, behaviour] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                socket->setParent(this);
                connect(socket, &QTcpSocket::disconnected, this, [this] { clientHungUp = true; });
                if (behaviour == Behaviour::garbage) {
                    connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                        socket->readAll();
                        socket->write("SPEAK FRIEND\r\n\x01\x02\x03\r\n\r\n");
                        socket->disconnectFromHost();
                    });
                } else if (behaviour == Behaviour::endless) {
                    connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                        socket->readAll();
                        if (m_queued > 0)
                            return;
                        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n[");
                        m_queued = 1;
                        feed(socket);
                    });
                    connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket](qint64 written) {
                        bytesHandedOver += written;
                        feed(socket);
                    });
                }
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort())); }

    int connections = 0;
    qint64 bytesHandedOver = 0; // body bytes the kernel accepted, for endless
    bool clientHungUp = false;

private:
    void feed(QTcpSocket *socket)
    {
        // Keep a little queued so the kernel, not this buffer, sets the pace.
        constexpr qint64 chunk = 256 * 1024;
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < chunk
               && m_queued < m_bytesToStream) {
            const qint64 n = std::min(chunk, m_bytesToStream - m_queued);
            socket->write(QByteArray(n, '1'));
            m_queued += n;
        }
        if (m_queued >= m_bytesToStream && socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
    qint64 m_bytesToStream = 0;
    qint64 m_queued = 0;
};
