#include "platform/network/receivequeue.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

namespace corvane {

qint64 ReceiveQueue::waitingBytes(qintptr descriptor)
{
    int waiting = 0;
    if (descriptor < 0 || ::ioctl(int(descriptor), FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

QByteArray ReceiveQueue::peek(qintptr descriptor, qint64 maxBytes)
{
    QByteArray bytes(qsizetype(maxBytes), Qt::Uninitialized);
    const ssize_t got = descriptor < 0 ? -1 : ::recv(int(descriptor), bytes.data(), size_t(bytes.size()), MSG_PEEK | MSG_DONTWAIT);
    bytes.resize(got > 0 ? qsizetype(got) : 0);
    return bytes;
}

} // namespace corvane
