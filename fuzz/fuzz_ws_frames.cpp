// A client's WebSocket bytes after the handshake, as the API server takes them: handed to the
// frame reader in pieces of the input's choosing, each frame taken as soon as it is whole, until
// the reader faults or a close frame comes (the server stops reading then). The first byte
// chooses the pieces and, by its top bit, a message limit of one control frame's size, so that
// the limit across fragments is reached within the input's length.
#include <QIODevice>

#include <algorithm>
#include <cstdlib>

#include "api/websocketserver.h"
#include "api/wsframereader.h"
#include "fuzzhost.h"

namespace {

// What has arrived from the client so far; what the reader writes back (pongs) is counted.
class ArrivedBytes : public QIODevice
{
public:
    ArrivedBytes() { open(QIODevice::ReadWrite); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_arrived.size() - m_at + QIODevice::bytesAvailable(); }
    void arrive(const QByteArray &bytes) { m_arrived += bytes; }
    qint64 written = 0;

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 length = std::min<qint64>(maxSize, m_arrived.size() - m_at);
        std::copy_n(m_arrived.constData() + m_at, length, data);
        m_at += length;
        return length;
    }
    qint64 writeData(const char *, qint64 maxSize) override
    {
        written += maxSize;
        return maxSize;
    }

private:
    QByteArray m_arrived;
    qsizetype m_at = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ostrafuzz::initHost();
    if (size < 1)
        return 0;
    const quint64 limit = (data[0] & 0x80) ? 125 : corvane::WebSocketServer::MaxMessageBytes;
    corvane::WsFrameReader reader(limit);
    ArrivedBytes socket;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    using Kind = corvane::WsFrameReader::Kind;
    for (const QByteArray &piece : ostrafuzz::pieces(bytes, data[0])) {
        socket.arrive(piece);
        for (;;) {
            const corvane::WsFrameReader::Taken taken = reader.next(&socket);
            if (taken.kind == Kind::None)
                break;
            if (taken.kind == Kind::Fault || taken.kind == Kind::Close)
                return 0;
            // A message is never longer than the limit, in characters no more than its bytes.
            if (taken.kind == Kind::Text && quint64(taken.text.size()) > limit)
                std::abort();
        }
    }
    return 0;
}
