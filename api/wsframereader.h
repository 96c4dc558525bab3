#pragma once

#include <QByteArray>
#include <QString>
#include <QWebSocketProtocol>

class QIODevice;

namespace corvane {

// Takes a client's WebSocket frames from its TCP socket, one frame per call, so that its caller
// decides how many it takes in a pass of the event loop (QWebSocket takes every message its socket
// holds at once). A text message's UTF-8 is checked once the message is whole: a character may
// be split between two of its frames (QWebSocket refuses that). Pings are answered here; a close
// frame's code and reason are checked as a text message is.
class WsFrameReader
{
public:
    enum class Kind {
        None, // no whole frame in the socket
        Fragment, // a frame taken, its message not yet whole
        Ping, // answered
        Text,
        Binary,
        Pong,
        Close,
        Fault, // the client must be closed with `code` and `reason`
    };

    struct Taken
    {
        Kind kind = Kind::None;
        QString text;
        QWebSocketProtocol::CloseCode code = QWebSocketProtocol::CloseCodeNormal;
        QString reason;
    };

    // A message longer than `maxMessageBytes` is refused before its payload is taken in.
    explicit WsFrameReader(quint64 maxMessageBytes);

    // The next frame, if the socket holds all of it; a ping is answered when `answerPings`.
    Taken next(QIODevice *socket, bool answerPings = true);
    // Bytes of the stream that were read from the socket before it was handed over.
    void feed(const QByteArray &bytes);
    // Where in the stream the frames taken so far end, and how much of it was read from the socket.
    qint64 takenBytes() const { return m_read - (m_buffer.size() - m_at); }
    qint64 readBytes() const { return m_read; }

    // A server's close frame (unmasked), its reason cut to fit.
    static QByteArray closeFrame(QWebSocketProtocol::CloseCode code, const QString &reason);

private:
    struct Header
    {
        bool fin = false;
        bool reserved = false;
        quint8 opcode = 0;
        quint64 length = 0;
        qsizetype bytes = 0;
        qsizetype mask = -1; // where its mask is in the buffer; -1 without
        bool whole = false; // its payload is in the buffer too
    };

    // The header of the frame at the front of the buffer; false when not all of it is there.
    bool parseHeader(Header &header) const;
    Taken fault(QWebSocketProtocol::CloseCode code, const QString &reason);

    quint64 m_maxMessageBytes = 0;
    bool m_inMessage = false; // a data frame without FIN came, its continuations are due
    bool m_binary = false;
    quint64 m_messageBytes = 0;
    QByteArray m_text; // the text message's payload so far
    // Bytes taken from the socket, at most a largest frame; those before m_at are done.
    QByteArray m_buffer;
    qsizetype m_at = 0;
    qint64 m_read = 0;
};

} // namespace corvane
