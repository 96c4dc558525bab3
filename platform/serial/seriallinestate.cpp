#include "platform/serial/seriallinestate.h"

#include <QCoreApplication>
#include <QFile>
#include <QSerialPort>
#include <QString>

#ifdef Q_OS_UNIX
#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
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

bool serialPortAccessDenied(const QString &portName)
{
#ifdef Q_OS_UNIX
    // Where QSerialPort looks for a port given by its name alone.
    const QString location = portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    return ::faccessat(AT_FDCWD, QFile::encodeName(location).constData(), R_OK | W_OK, AT_EACCESS) != 0
           && errno == EACCES;
#else
    Q_UNUSED(portName);
    return false;
#endif
}

QString serialPortAccessDeniedMessage(const QString &portName)
{
    if (!serialPortAccessDenied(portName))
        return QString();
    return QCoreApplication::translate("corvane::SerialLine",
                                       "No permission to open %1. Add your user to the port's group (often "
                                       "dialout), then log in again.")
        .arg(portName);
}

} // namespace corvane
