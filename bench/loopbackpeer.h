#pragma once

// A WebSocket client on a TCP socket bound to a loopback address of its own (127.0.0.<n>), as
// another machine on the LAN: the server takes only so many connections from one address. It
// answers the server's pings, hands each text message to `received` and answers a close frame.

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>

#include <functional>
#include <utility>

#include "support/wsclientframe.h"

namespace ostrabench {

class LoopbackPeer : public QObject
{
public:
    LoopbackPeer(int n, quint16 port, QObject *parent = nullptr)
        : QObject(parent)
        , m_source(QStringLiteral("127.0.0.%1").arg(n))
        , m_port(port)
    {
        connect(&m_socket, &QTcpSocket::connected, this, [this] {
            m_socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, &LoopbackPeer::take);
        connect(&m_socket, &QTcpSocket::bytesWritten, this, [this] {
            if (written && m_open)
                written();
        });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
            const bool wasOpen = std::exchange(m_open, false);
            if (closed && wasOpen)
                closed();
        });
        open();
    }

    // Connects (again).
    void open()
    {
        m_socket.abort();
        m_in.clear();
        m_open = false;
        m_closing = false;
        m_socket.bind(m_source);
        m_socket.connectToHost(QHostAddress::LocalHost, m_port);
    }

    void abort() { m_socket.abort(); }
    // Handshake done, and no close frame from the server yet.
    bool isOpen() const { return m_open && !m_closing; }
    qint64 bytesToWrite() const { return m_socket.bytesToWrite(); }
    void sendText(const QByteArray &payload) { sendFrame(0x81, payload); }
    // Frames made beforehand, as they are.
    void sendBytes(const QByteArray &frames) { m_socket.write(frames); }

    // One frame with the given first byte (FIN and opcode), its payload unmasked by a zero mask.
    void sendFrame(quint8 opcodeByte, const QByteArray &payload)
    {
        m_socket.write(ostratest::wsClientFrame(opcodeByte, payload, 0));
    }

    std::function<void()> opened;
    std::function<void(const QByteArray &text)> received;
    std::function<void()> written; // some of what was sent has gone
    std::function<void()> closed; // by the server, once open

private:
    void take()
    {
        m_in += m_socket.readAll();
        if (!m_open) {
            const qsizetype end = m_in.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            m_open = true;
            m_in.remove(0, end + 4);
            if (opened)
                opened();
        }
        // Parsed in place and cut once: a flood of small replies comes thousands to a read.
        qsizetype at = 0;
        for (;;) {
            const qsizetype left = m_in.size() - at;
            if (left < 2)
                break;
            quint64 length = quint8(m_in.at(at + 1)) & 0x7F;
            qsizetype header = 2;
            if (length >= 126) {
                const int bytes = length == 126 ? 2 : 8;
                if (left < 2 + bytes)
                    break;
                length = 0;
                for (int i = 0; i < bytes; ++i)
                    length = (length << 8) | quint8(m_in.at(at + 2 + i));
                header += bytes;
            }
            if (quint64(left - header) < length)
                break;
            const quint8 opcode = quint8(m_in.at(at)) & 0x0F;
            const QByteArray payload = m_in.mid(at + header, qsizetype(length));
            at += header + qsizetype(length);
            if (opcode == 0x1 && received) {
                received(payload);
            } else if (opcode == 0x9) {
                sendFrame(0x8A, payload); // pong
            } else if (opcode == 0x8) {
                m_closing = true;
                sendFrame(0x88, payload.left(2));
                m_socket.disconnectFromHost();
                m_in.clear();
                return;
            }
        }
        m_in.remove(0, at);
    }

    QTcpSocket m_socket;
    QHostAddress m_source;
    quint16 m_port = 0;
    QByteArray m_in;
    bool m_open = false;
    bool m_closing = false;
};

} // namespace ostrabench
