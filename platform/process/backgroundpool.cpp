#include "platform/process/backgroundpool.h"

#include <QThreadPool>

namespace corvane {

QThreadPool *backgroundPool()
{
    static QThreadPool pool;
    return &pool;
}

} // namespace corvane
