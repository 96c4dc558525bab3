#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace ostratest {

// A tiny HTTP server on 127.0.0.1 (free port) for tests: every GET is answered by `handler`,
// which by default serves the responses given with setResponse and a 404 for any other path.
class HttpServer
{
public:
    HttpServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            }
        });
    }
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    static QByteArray ok(const QByteArray &body, int status = 200)
    {
        return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: " + QByteArray::number(body.size())
               + "\r\nCache-Control: max-age=86400\r\nConnection: close\r\n\r\n" + body;
    }

    // A response without a length: the body ends when the connection closes.
    static QByteArray unsized(const QByteArray &body)
    {
        return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
    }

    // The whole response for a request path such as "/repo/main/VERSION.md".
    void setResponse(const QString &path, const QByteArray &response) { m_responses.insert(path, response); }

    // Returns the whole HTTP response for a request path.
    std::function<QByteArray(const QString &)> handler = [this](const QString &path) {
        return m_responses.value(path, ok("not found", 404));
    };
    QStringList requests;
    // What each request sent before its body: request line and headers.
    QList<QByteArray> heads;

private:
    void serve(QTcpSocket *socket)
    {
        const QByteArray buffered = socket->property("buffered").toByteArray() + socket->readAll();
        const int end = buffered.indexOf("\r\n\r\n");
        socket->setProperty("buffered", buffered);
        if (end < 0)
            return;
        heads.append(buffered.left(end));
        requests.append(QString::fromLatin1(buffered.split(' ').value(1)));
        socket->write(handler(requests.last()));
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QString, QByteArray> m_responses;
};

} // namespace ostratest
