#pragma once

#include <QtGlobal>

namespace corvane {

// What the system has received on a connection that the program has not read yet: it reached
// the machine, though no socket object holds it.
class ReceiveQueue
{
public:
    // Bytes waiting on the connected `descriptor`; 0 when it cannot tell.
    static qint64 waitingBytes(qintptr descriptor);
};

} // namespace corvane
