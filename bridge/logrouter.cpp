#include "bridge/logrouter.h"

#include <QMetaObject>

#include <atomic>

namespace corvane {

namespace {
std::atomic<bool> routerGone{false};
} // namespace

LogRouter::~LogRouter()
{
    routerGone = true;
}

LogRouter *LogRouter::instance()
{
    static LogRouter router;
    return routerGone ? nullptr : &router;
}

void LogRouter::post(int type, const QString &message)
{
    // Queued even on the router's own thread, so a listener that logs cannot recurse.
    QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection, Q_ARG(int, type),
                              Q_ARG(QString, message));
}

void LogRouter::deliver(int type, const QString &message)
{
    emit logEmitted(type, message);
}

} // namespace corvane
