#include "support/eventwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace ostratest {

bool runEventsUntil(const std::function<bool()> &done, int timeoutMs, const std::function<void()> &step)
{
    const QDeadlineTimer deadline(timeoutMs);
    step();
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(1);
        step();
    }
    return true;
}

} // namespace ostratest
