#pragma once

#include <QByteArray>

namespace ostratest {

// One WebSocket frame as a client must send it: `first` holds FIN and the opcode, the payload is
// masked with `mask` (a zero mask leaves it as it is).
inline QByteArray wsClientFrame(quint8 first, const QByteArray &payload, quint32 mask = 0x11223344)
{
    QByteArray frame;
    frame.append(char(first));
    const quint64 n = quint64(payload.size());
    if (n < 126) {
        frame.append(char(0x80 | n));
    } else if (n < 65536) {
        frame.append(char(0x80 | 126));
        frame.append(char(n >> 8));
        frame.append(char(n & 0xFF));
    } else {
        frame.append(char(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((n >> shift) & 0xFF));
    }
    const char key[4] = {char(mask >> 24), char(mask >> 16), char(mask >> 8), char(mask)};
    frame.append(key, 4);
    const qsizetype header = frame.size();
    frame.append(payload);
    char *bytes = frame.data() + header;
    for (qsizetype i = 0; i < payload.size(); ++i)
        bytes[i] = char(bytes[i] ^ key[i & 3]);
    return frame;
}

} // namespace ostratest
