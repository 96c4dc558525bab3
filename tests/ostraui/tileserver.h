#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QHostAddress>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace ostratest {

// A tiny HTTP server on 127.0.0.1 that answers tile GETs through a replaceable handler.
class TileServer
{
public:
    TileServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            }
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    static QByteArray png(const QColor &color)
    {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(color);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        image.save(&buffer, "PNG");
        return bytes;
    }

    static QByteArray ok(const QByteArray &body, int status = 200)
    {
        return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: " + QByteArray::number(body.size())
               + "\r\nCache-Control: max-age=86400\r\nConnection: close\r\n\r\n" + body;
    }

    // Returns the whole HTTP response for a request path such as "/16/1/2.png".
    std::function<QByteArray(const QString &)> handler = [](const QString &) { return ok(png(QColor(220, 40, 40))); };
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
};

} // namespace ostratest
