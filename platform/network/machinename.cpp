#include "platform/network/machinename.h"

#include <QHostInfo>

namespace corvane {

bool MachineName::isNamedBy(const QString &host)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const QString machine = QHostInfo::localHostName().toLower();
    return !machine.isEmpty() && (name == machine || name == machine + QLatin1String(".local"));
}

} // namespace corvane
