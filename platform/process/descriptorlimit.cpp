#include "platform/process/descriptorlimit.h"

#include <QDebug>

#ifdef Q_OS_UNIX
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#endif

namespace corvane {

bool DescriptorLimit::raiseToHardLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        qWarning().noquote() << "Open file limit stays at" << before << ":" << strerror(errno);
        return false;
    }
    qInfo().noquote() << "Open file limit raised from" << before << "to" << limit.rlim_cur;
    return true;
#else
    return true;
#endif
}

} // namespace corvane
