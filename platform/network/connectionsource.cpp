#include "platform/network/connectionsource.h"

#include <algorithm>

namespace corvane {

QHostAddress connectionSource(const QHostAddress &peer)
{
    bool isIPv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4);
    if (peer.protocol() != QAbstractSocket::IPv6Protocol)
        return peer;
    Q_IPV6ADDR bytes = peer.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes);
}

} // namespace corvane
