#include "scriptedbackend.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    default:
        return "OTHER";
    }
}

} // namespace

QList<QByteArray> ScriptedBackend::Received::values(const QByteArray &name) const
{
    QList<QByteArray> found;
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            found << value;
    return found;
}

ScriptedBackend::ScriptedBackend()
{
    m_server.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        Received r{methodName(request.method()), request.url().path(), request.headers(), request.body()};
        received << r;
        const Answer answer = m_script ? m_script(r) : Answer{};
        responder.write(answer.body, QByteArrayLiteral("application/json"),
                        static_cast<QHttpServerResponder::StatusCode>(answer.status));
    });
}

bool ScriptedBackend::listen()
{
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QUrl ScriptedBackend::baseUrl(const QString &prefix) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(prefix));
}

RawServer::RawServer(Behaviour behaviour, qint64 bytesToStream)
    : m_behaviour(behaviour), m_bytesToStream(bytesToStream)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++connections;
            socket->setParent(this);
            connect(socket, &QTcpSocket::disconnected, this, [this] { clientHungUp = true; });
            switch (m_behaviour) {
            case Behaviour::silent:
                break;
            case Behaviour::garbage:
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    socket->write("SPEAK FRIEND\r\n\x01\x02\x03\r\n\r\n");
                    socket->disconnectFromHost();
                });
                break;
            case Behaviour::endless:
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
                break;
            }
        }
    });
}

void RawServer::feed(QTcpSocket *socket)
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

bool RawServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl RawServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort()));
}
