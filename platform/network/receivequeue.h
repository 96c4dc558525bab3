#pragma once

#include <QByteArray>

namespace corvane {

// What the system has received on a connection that the program has not read yet: it reached
// the machine, though no socket object holds it.
class ReceiveQueue
{
public:
    // Bytes waiting on the connected `descriptor`; 0 when it cannot tell.
    static qint64 waitingBytes(qintptr descriptor);
    // The first of them, `maxBytes` at most, left waiting; empty when it cannot tell.
    static QByteArray peek(qintptr descriptor, qint64 maxBytes);
};

} // namespace corvane
