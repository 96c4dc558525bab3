#pragma once

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <memory>

#include "support/wsclientframe.h"

namespace ostratest {

// A WebSocket client of the API on 127.0.0.1 that keeps every text message it receives,
// parsed. QWebSocket answers the server's pings by itself.
class WsTestClient
{
public:
    WsTestClient() : socket(std::make_unique<QWebSocket>())
    {
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, [this](const QString &text) {
            received.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QObject::connect(socket.get(), &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray &) { ++binaryReceived; });
    }

    bool open(quint16 port, int timeoutMs = 5000)
    {
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        return QTest::qWaitFor([this] { return socket->state() == QAbstractSocket::ConnectedState; }, timeoutMs);
    }

    bool isConnected() const { return socket->state() == QAbstractSocket::ConnectedState; }

    void send(const QJsonObject &message)
    {
        socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    }

    // The next message not yet taken; an empty object when none arrives in time.
    QJsonObject next(int timeoutMs = 5000)
    {
        if (!QTest::qWaitFor([this] { return taken < received.size(); }, timeoutMs))
            return {};
        return received.at(taken++);
    }

    // Sends a request and returns its reply: the next message that is not a push.
    QJsonObject request(const QString &event, const QJsonObject &data = {}, int timeoutMs = 5000)
    {
        skipAll();
        send({{QStringLiteral("event"), event}, {QStringLiteral("data"), data}});
        for (;;) {
            const QJsonObject message = next(timeoutMs);
            if (!message.value(QStringLiteral("event")).toString().startsWith(QLatin1String("event_")))
                return message;
        }
    }

    bool subscribe(const QStringList &events)
    {
        const QJsonObject reply = request(QStringLiteral("action_subscribe"),
                                          {{QStringLiteral("events"), QJsonArray::fromStringList(events)}});
        return reply.value(QStringLiteral("success")).toBool();
    }

    // Messages received so far and not yet taken with next().
    QList<QJsonObject> pending() const { return received.mid(taken); }
    void skipAll() { taken = received.size(); }

    std::unique_ptr<QWebSocket> socket;
    QList<QJsonObject> received;
    qsizetype taken = 0;
    int binaryReceived = 0;
};

// A bare TCP client that speaks just enough WebSocket to be a client: it never answers pings
// and, once told to, stops reading, so it plays a silent or a stalled client.
class RawWsClient
{
public:
    // The TCP connection and the opening handshake, with `extraHeaders` (each ending in CRLF)
    // added; true when the server switched protocols. Its answer's status line is kept in `status`.
    bool open(quint16 port, const QByteArray &extraHeaders = QByteArray(), int timeoutMs = 5000)
    {
        return connectFrom(QHostAddress::LocalHost, port, timeoutMs) && handshake(extraHeaders, timeoutMs);
    }

    // The TCP connection alone, from `source` (on loopback any 127.x.y.z is this machine's),
    // to the loopback address of its protocol.
    bool connectFrom(const QHostAddress &source, quint16 port, int timeoutMs = 5000)
    {
        if (!socket.bind(source))
            return false;
        const bool ipv6 = source.protocol() == QAbstractSocket::IPv6Protocol;
        socket.connectToHost(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, port);
        return socket.waitForConnected(timeoutMs);
    }

    // `after`: frames sent in the same write as the request.
    bool handshake(const QByteArray &extraHeaders = QByteArray(), int timeoutMs = 5000, const QByteArray &after = QByteArray())
    {
        sendRequest(extraHeaders, after);
        return answered(timeoutMs);
    }

    // The opening request, handed to the system before this returns.
    void sendRequest(const QByteArray &extraHeaders = QByteArray(), const QByteArray &after = QByteArray())
    {
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                     + extraHeaders + "\r\n" + after);
        socket.flush();
    }

    // Whether the server switched protocols.
    bool answered(int timeoutMs = 5000)
    {
        QByteArray answer;
        const bool ok = QTest::qWaitFor([&] {
            answer += socket.readAll();
            return answer.contains("\r\n\r\n") || socket.state() != QAbstractSocket::ConnectedState;
        }, timeoutMs);
        status = answer.left(answer.indexOf("\r\n"));
        received = answer.mid(answer.indexOf("\r\n\r\n") + 4);
        return ok && answer.startsWith("HTTP/1.1 101");
    }

    // Everything received after the handshake so far.
    QByteArray readAll()
    {
        received += socket.readAll();
        return received;
    }

    void sendText(const QByteArray &payload) { sendFrame(0x81, payload); }

    // One masked frame with FIN and the given opcode byte, as a client must send it.
    void sendFrame(quint8 opcodeByte, const QByteArray &payload)
    {
        socket.write(wsClientFrame(opcodeByte, payload));
        socket.flush();
    }

    // From now on nothing more is taken from the kernel: the server's sends back up.
    void stopReading()
    {
        socket.setReadBufferSize(1);
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    }

    void resumeReading() { socket.setReadBufferSize(0); }

    struct Frame
    {
        quint8 opcode;
        QByteArray payload;
    };

    // The whole frames received so far (a server's frames are unmasked).
    QList<Frame> frames()
    {
        const QByteArray bytes = readAll();
        QList<Frame> found;
        qsizetype at = 0;
        while (at + 2 <= bytes.size()) {
            qint64 length = quint8(bytes.at(at + 1)) & 0x7F;
            qsizetype header = 2;
            const int lengthBytes = length == 126 ? 2 : length == 127 ? 8 : 0;
            if (at + header + lengthBytes > bytes.size())
                break;
            if (lengthBytes > 0) {
                length = 0;
                for (int i = 0; i < lengthBytes; ++i)
                    length = (length << 8) | quint8(bytes.at(at + 2 + i));
                header += lengthBytes;
            }
            if (at + header + length > bytes.size())
                break;
            found.append({quint8(quint8(bytes.at(at)) & 0x0F), bytes.mid(at + header, length)});
            at += header + length;
        }
        return found;
    }

    // The close frame's code, and its reason in `reason`; -1 when none has come.
    int closeCode(QByteArray *reason = nullptr)
    {
        for (const Frame &frame : frames()) {
            if (frame.opcode != 0x8 || frame.payload.size() < 2)
                continue;
            if (reason)
                *reason = frame.payload.mid(2);
            return (quint8(frame.payload.at(0)) << 8) | quint8(frame.payload.at(1));
        }
        return -1;
    }

    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }

    QTcpSocket socket;
    QByteArray received;
    QByteArray status;
};

} // namespace ostratest
