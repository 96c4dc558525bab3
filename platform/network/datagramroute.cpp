#include "platform/network/datagramroute.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkInterface>

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane {

namespace {

QString reasonFor(int error)
{
    switch (error) {
    case ENETUNREACH:
        return QCoreApplication::translate("corvane::DatagramRoute", "network unreachable");
    case EHOSTUNREACH:
        return QCoreApplication::translate("corvane::DatagramRoute", "host unreachable");
    default: {
        // The system's own words, in the lower case the sentence around them wants.
        QString text = QString::fromLocal8Bit(std::strerror(error));
        if (!text.isEmpty())
            text[0] = text.at(0).toLower();
        return text;
    }
    }
}

} // namespace

QString DatagramRoute::sendFailure(const QHostAddress &address, quint16 port)
{
    sockaddr_storage target {};
    socklen_t length = 0;
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4) {
        auto *in = reinterpret_cast<sockaddr_in *>(&target);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(ipv4);
        length = sizeof(sockaddr_in);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&target);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof(bytes.c));
        if (!address.scopeId().isEmpty())
            in6->sin6_scope_id = uint32_t(QNetworkInterface::interfaceIndexFromName(address.scopeId()));
        length = sizeof(sockaddr_in6);
    } else {
        return QCoreApplication::translate("corvane::DatagramRoute", "not an IP address");
    }

    const int fd = ::socket(target.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reasonFor(errno);
    // As the sending socket may: a broadcast address is a target too.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    // Connecting a datagram socket sends nothing; it asks the system for a route.
    const int result = ::connect(fd, reinterpret_cast<const sockaddr *>(&target), length);
    const int error = errno;
    ::close(fd);
    return result == 0 ? QString() : reasonFor(error);
}

} // namespace corvane
