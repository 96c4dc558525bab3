#include "support/ptydevice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace ostratest {

PtyDevice::PtyDevice()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    termios tio {};
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
    // Keeping our own slave descriptor open means the master never sees EIO while the
    // program has the port closed between reconnects.
}

PtyDevice::~PtyDevice()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyDevice::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return false;
    qsizetype done = 0;
    const QDeadlineTimer deadline(2000);
    while (done < bytes.size() && !deadline.hasExpired()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else
            pump(1);
    }
    return done == bytes.size();
}

void PtyDevice::pump(int waitMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, waitMs);
    if (m_master >= 0) {
        pollfd p { m_master, POLLIN, 0 };
        ::poll(&p, 1, waitMs);
    } else {
        QThread::msleep(quint64(waitMs));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    readMaster();
}

void PtyDevice::readMaster()
{
    if (m_master < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        m_pending.append(buf, qsizetype(n));
    }
}

QByteArray PtyDevice::readArrived()
{
    readMaster();
    QByteArray out;
    out.swap(m_pending);
    return out;
}

QByteArray PtyDevice::readAvailable()
{
    pump(0);
    QByteArray out;
    out.swap(m_pending);
    return out;
}

void PtyDevice::pumpUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    pump(0);
    while (!done(m_pending) && !deadline.hasExpired())
        pump(2);
}

QByteArray PtyDevice::readUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs)
{
    pumpUntil(done, timeoutMs);
    QByteArray out;
    out.swap(m_pending);
    return out;
}

QByteArray PtyDevice::readAtLeast(int bytes, int timeoutMs)
{
    return readUntil([bytes](const QByteArray &b) { return b.size() >= bytes; }, timeoutMs);
}

QByteArray PtyDevice::readLine(int timeoutMs)
{
    pumpUntil([](const QByteArray &b) { return b.contains('\n'); }, timeoutMs);
    const qsizetype nl = m_pending.indexOf('\n');
    if (nl < 0)
        return {};
    QByteArray line = m_pending.left(nl);
    m_pending.remove(0, nl + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

void PtyDevice::drain()
{
    pump(0);
    m_pending.clear();
}

void PtyDevice::hangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

} // namespace ostratest
