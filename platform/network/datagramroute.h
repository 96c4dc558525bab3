#pragma once

#include <QString>

class QHostAddress;

namespace corvane {

// Stands in for the reason a failed send gives: QUdpSocket::writeDatagram reports only that a
// datagram did not leave, where the system knows why (no route to that network, for example).
class DatagramRoute
{
public:
    // Why this PC cannot send a datagram to `address`:`port` now, in a few words ("network
    // unreachable"); empty when the system has a way there.
    static QString sendFailure(const QHostAddress &address, quint16 port);
};

} // namespace corvane
