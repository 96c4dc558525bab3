#pragma once

#include <QString>
#include <QtGlobal>

namespace corvane {

// Takes connections from a listening socket's queue, in place of QTcpServer's accepting:
// QTcpServer keeps the first error its socket engine ever saw, so once a queue has run empty
// it cannot tell a lack of descriptors from an empty queue and polls the queue without pause.
class AcceptQueue
{
public:
    enum class Outcome { Accepted, Empty, Failed };

    struct Next
    {
        Outcome outcome = Outcome::Empty;
        qintptr descriptor = -1; // the connection's, when accepted
        QString error; // why not, when failed (no descriptor left, for one)
    };

    // The next connection queued on `listener`, not inherited by child processes. Connections
    // that failed while queued are skipped.
    static Next takeNext(qintptr listener);
    // Closes a taken connection that nothing took over.
    static void release(qintptr descriptor);
};

} // namespace corvane
