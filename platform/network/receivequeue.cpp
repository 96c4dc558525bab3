#include "platform/network/receivequeue.h"

#include <sys/ioctl.h>

namespace corvane {

qint64 ReceiveQueue::waitingBytes(qintptr descriptor)
{
    int waiting = 0;
    if (descriptor < 0 || ::ioctl(int(descriptor), FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

} // namespace corvane
