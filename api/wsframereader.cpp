#include "api/wsframereader.h"

#include <QIODevice>
#include <QStringDecoder>

namespace corvane {

namespace {

constexpr quint8 Fin = 0x80;
constexpr quint8 ReservedBits = 0x70;
constexpr quint8 OpcodeBits = 0x0F;
constexpr quint8 MaskBit = 0x80;
constexpr quint8 ControlBit = 0x08;
constexpr quint64 MaxControlPayload = 125;
// Two bytes, eight more for the longest length, four of mask.
constexpr qsizetype MaxHeaderBytes = 14;

enum Opcode : quint8 { Continuation = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8, Ping = 0x9, Pong = 0xA };

// The codes an endpoint may send: 1004 to 1006 and 1015 are kept for other uses, 1016 to 2999 and
// from 5000 on are no code.
bool isSendableCloseCode(quint16 code)
{
    return (code >= 1000 && code <= 1014 && (code < 1004 || code > 1006)) || (code >= 3000 && code <= 4999);
}

QString invalidUtf8()
{
    return QStringLiteral("Invalid UTF-8 code encountered.");
}

// The UTF-8 bytes as text; `valid` tells whether they all were.
QString fromUtf8(const QByteArray &bytes, bool &valid)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    valid = !utf8.hasError();
    return text;
}

WsFrameReader::Taken taken(WsFrameReader::Kind kind, const QString &text = QString())
{
    WsFrameReader::Taken taken;
    taken.kind = kind;
    taken.text = text;
    return taken;
}

} // namespace

WsFrameReader::WsFrameReader(quint64 maxMessageBytes)
    : m_maxMessageBytes(maxMessageBytes)
{
}

WsFrameReader::Taken WsFrameReader::fault(QWebSocketProtocol::CloseCode code, const QString &reason)
{
    m_inMessage = false;
    m_messageBytes = 0;
    m_text.clear();
    Taken fault = taken(Kind::Fault);
    fault.code = code;
    fault.reason = reason;
    return fault;
}

bool WsFrameReader::parseHeader(Header &header) const
{
    const qsizetype left = m_buffer.size() - m_at;
    if (left < 2)
        return false;
    const auto byte = [this](qsizetype i) { return quint8(m_buffer.at(m_at + i)); };
    header.fin = (byte(0) & Fin) != 0;
    header.reserved = (byte(0) & ReservedBits) != 0;
    header.opcode = byte(0) & OpcodeBits;
    header.length = byte(1) & 0x7F;
    const int lengthBytes = header.length == 126 ? 2 : header.length == 127 ? 8 : 0;
    const bool masked = (byte(1) & MaskBit) != 0;
    header.bytes = 2 + lengthBytes + (masked ? 4 : 0);
    if (left < header.bytes)
        return false;
    if (lengthBytes > 0) {
        header.length = 0;
        for (int i = 0; i < lengthBytes; ++i)
            header.length = (header.length << 8) | byte(2 + i);
    }
    header.mask = masked ? m_at + header.bytes - 4 : -1;
    header.whole = header.length <= quint64(left - header.bytes);
    return true;
}

void WsFrameReader::feed(const QByteArray &bytes)
{
    m_buffer += bytes;
    m_read += bytes.size();
}

WsFrameReader::Taken WsFrameReader::next(QIODevice *socket, bool answerPings)
{
    Header header;
    if (!parseHeader(header) || !header.whole) {
        // What the socket holds, up to the largest frame: asking past what it holds also has it
        // take more from the system once it had stopped, full.
        m_buffer.remove(0, m_at);
        m_at = 0;
        // A socket closed under us (its connection reset) has nothing more, and says so in the log;
        // one that has gone left what it held with us.
        if (!socket || !socket->isReadable())
            return {};
        const QByteArray read = socket->read(qint64(m_maxMessageBytes) + MaxHeaderBytes - m_buffer.size());
        m_read += read.size();
        m_buffer += read;
        if (!parseHeader(header))
            return {};
    }
    using namespace QWebSocketProtocol;
    if (header.reserved)
        return fault(CloseCodeProtocolError, QStringLiteral("Reserved bits set"));
    const bool control = (header.opcode & ControlBit) != 0;
    if (control) {
        if (header.opcode != Close && header.opcode != Ping && header.opcode != Pong)
            return fault(CloseCodeProtocolError, QStringLiteral("Unknown opcode"));
        if (!header.fin)
            return fault(CloseCodeProtocolError, QStringLiteral("Control frames cannot be fragmented"));
        if (header.length > MaxControlPayload)
            return fault(CloseCodeProtocolError, QStringLiteral("Control frame is too big"));
    } else {
        if (header.opcode != Continuation && header.opcode != Text && header.opcode != Binary)
            return fault(CloseCodeProtocolError, QStringLiteral("Unknown opcode"));
        if ((header.opcode == Continuation) != m_inMessage)
            return fault(CloseCodeProtocolError,
                         m_inMessage ? QStringLiteral("Expected a continuation frame")
                                     : QStringLiteral("Received Continuation frame, while there is nothing to continue."));
        // Refused from its length alone, before its payload is taken in.
        if (header.length > m_maxMessageBytes - m_messageBytes)
            return fault(CloseCodeTooMuchData, QStringLiteral("Received message is too big."));
    }
    if (!header.whole)
        return {};
    QByteArray payload = m_buffer.mid(m_at + header.bytes, qsizetype(header.length));
    if (header.mask >= 0) {
        const char *mask = m_buffer.constData() + header.mask;
        char *bytes = payload.data();
        for (qsizetype i = 0; i < payload.size(); ++i)
            bytes[i] = char(bytes[i] ^ mask[i & 3]);
    }
    m_at += header.bytes + qsizetype(header.length);

    switch (header.opcode) {
    case Ping: {
        QByteArray pong;
        pong.append(char(Fin | Pong));
        pong.append(char(payload.size()));
        // Pings taken after the connection was reset go unanswered.
        if (answerPings && socket && socket->isWritable())
            socket->write(pong + payload);
        return taken(Kind::Ping);
    }
    case Pong:
        return taken(Kind::Pong);
    case Close: {
        // None, or a code and a reason, as for the close frames we send.
        if (payload.size() == 1)
            return fault(CloseCodeProtocolError, QStringLiteral("Payload of close frame is too small."));
        if (payload.isEmpty())
            return taken(Kind::Close);
        const quint16 code = quint16(quint8(payload.at(0)) << 8 | quint8(payload.at(1)));
        if (!isSendableCloseCode(code))
            return fault(CloseCodeProtocolError, QStringLiteral("Invalid close code %1.").arg(code));
        bool valid = false;
        fromUtf8(payload.mid(2), valid);
        if (!valid)
            return fault(CloseCodeWrongDatatype, invalidUtf8());
        return taken(Kind::Close);
    }
    default:
        break;
    }
    if (header.opcode != Continuation) {
        m_inMessage = true;
        m_binary = header.opcode == Binary;
    }
    m_messageBytes += header.length;
    if (!m_binary)
        m_text += payload;
    if (!header.fin)
        return taken(Kind::Fragment);
    m_inMessage = false;
    m_messageBytes = 0;
    if (m_binary)
        return taken(Kind::Binary);
    bool valid = false;
    const QString text = fromUtf8(m_text, valid);
    m_text.clear();
    if (!valid)
        return fault(CloseCodeWrongDatatype, invalidUtf8());
    return taken(Kind::Text, text);
}

QByteArray WsFrameReader::closeFrame(QWebSocketProtocol::CloseCode code, const QString &reason)
{
    QByteArray payload;
    payload.append(char(quint16(code) >> 8));
    payload.append(char(quint16(code) & 0xFF));
    payload.append(reason.toUtf8().left(int(MaxControlPayload) - 2));
    QByteArray frame;
    frame.append(char(Fin | Close));
    frame.append(char(payload.size()));
    return frame + payload;
}

} // namespace corvane
