#include "platform/network/acceptqueue.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane {

AcceptQueue::Next AcceptQueue::takeNext(qintptr listener)
{
    for (;;) {
        const int descriptor = ::accept4(int(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor >= 0)
            return {Outcome::Accepted, descriptor, QString()};
        switch (errno) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return {};
        // The connection's own failure, reported here: it is gone, the next one may be fine.
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case EPERM:
        case ENETDOWN:
        case ENETUNREACH:
        case EHOSTDOWN:
        case EHOSTUNREACH:
        case ENOPROTOOPT:
        case ENONET:
        case EOPNOTSUPP:
            continue;
        default:
            return {Outcome::Failed, -1, QString::fromLocal8Bit(std::strerror(errno))};
        }
    }
}

void AcceptQueue::release(qintptr descriptor)
{
    ::close(int(descriptor));
}

} // namespace corvane
