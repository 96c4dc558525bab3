#include "platform/network/machinename.h"

#include <QHostAddress>
#include <QHostInfo>

#include "platform/network/networkinterfacelister.h"

namespace corvane {

bool MachineName::isNamedBy(const QString &host)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const QString local = QStringLiteral(".local");
    if (name == announcedName() + local)
        return true;
    const QString machine = QHostInfo::localHostName().toLower();
    return !machine.isEmpty() && (name == machine || name == machine + local);
}

bool MachineName::isThisMachine(const QString &host)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty())
        return false;
    if (name == QLatin1String("localhost") || isNamedBy(name))
        return true;
    QHostAddress address;
    if (!address.setAddress(name))
        return false;
    // An IPv4 address may come mapped into IPv6 (::ffff:a.b.c.d).
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4)
        address = QHostAddress(ipv4);
    if (address.isLoopback())
        return true;
    const QList<NetworkInterfaceEntry> interfaces = NetworkInterfaceLister::interfaces();
    for (const NetworkInterfaceEntry &entry : interfaces) {
        for (const QHostAddress &own : entry.addresses) {
            if (own.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        }
    }
    return false;
}

} // namespace corvane
