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
    // Returns the whole HTTP response for a request path such as "/16/1/2.png".
    using Handler = std::function<QByteArray(const QString &path)>;

    TileServer()
    {
        handler = [](const QString &) { return ok(png(QColor(220, 40, 40))); };
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            }
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    static QByteArray png(const QColor &color, int side = 256)
    {
        QImage image(side, side, QImage::Format_RGB32);
        image.fill(color);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    static QByteArray response(int status, const QByteArray &reason, const QByteArray &body,
                               const QByteArray &type)
    {
        return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type
               + "\r\nContent-Length: " + QByteArray::number(body.size())
               + "\r\nCache-Control: max-age=86400\r\nConnection: close\r\n\r\n" + body;
    }
    static QByteArray ok(const QByteArray &body, const QByteArray &type = "image/png")
    {
        return response(200, "OK", body, type);
    }
    static QByteArray notFound() { return response(404, "Not Found", "no tile", "text/plain"); }

    Handler handler;
    QStringList requests;
    QStringList userAgents;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray buffered = socket->property("buffered").toByteArray() + socket->readAll();
        const int end = buffered.indexOf("\r\n\r\n");
        if (end < 0) {
            socket->setProperty("buffered", buffered);
            return;
        }
        const QList<QByteArray> lines = buffered.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        const QString path = QString::fromLatin1(requestLine.value(1));
        for (const QByteArray &line : lines) {
            if (line.toLower().startsWith("user-agent:"))
                userAgents.append(QString::fromLatin1(line.mid(11).trimmed()));
        }
        requests.append(path);
        socket->write(handler(path));
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
};

} // namespace ostratest
