#include "platform/serial/seriallinestate.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace corvane {

bool serialLineHungUp(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    if (!port.isOpen())
        return false;
    pollfd fd { int(port.handle()), 0, 0 };
    if (::poll(&fd, 1, 0) < 0)
        return false;
    return (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    // Elsewhere a vanished device arrives as a resource error.
    Q_UNUSED(port);
    return false;
#endif
}

bool serialLineWritable(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    if (!port.isOpen())
        return false;
    pollfd fd { int(port.handle()), POLLOUT, 0 };
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLOUT) != 0;
#else
    return port.isOpen();
#endif
}

} // namespace corvane
