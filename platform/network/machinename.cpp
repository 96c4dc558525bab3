#include "platform/network/machinename.h"

#include <QHostInfo>
#include <QRegularExpression>

#include "platform/network/networkinterfacelister.h"

namespace corvane {

QString MachineName::normalizedHost(const QString &host)
{
    QString text = host.trimmed();
    // The root's dot ends a name or an address alike.
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    // Read as people write it, in decimal: the system's reading takes "010" for 8.
    static const QRegularExpression quad(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    if (const QRegularExpressionMatch match = quad.match(text); match.hasMatch()) {
        QStringList parts;
        for (int i = 1; i <= 4; ++i) {
            if (match.capturedView(i).toInt() <= 255)
                parts.append(QString::number(match.capturedView(i).toInt()));
        }
        if (parts.size() == 4)
            return parts.join(QLatin1Char('.'));
    }
    QHostAddress address;
    if (address.setAddress(text))
        return unmapped(address).toString();
    return text.toLower();
}

QHostAddress MachineName::unmapped(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : address;
}

bool MachineName::isNamedBy(const QString &host)
{
    const QString name = normalizedHost(host);
    const QString local = QStringLiteral(".local");
    if (name == announcedName() + local)
        return true;
    const QString machine = QHostInfo::localHostName().toLower();
    return !machine.isEmpty() && (name == machine || name == machine + local);
}

bool MachineName::isOwnAddress(const QHostAddress &address)
{
    const QHostAddress plain = unmapped(address);
    // The unspecified address reaches this machine as well.
    if (plain.isLoopback() || plain.isEqual(QHostAddress::Any, QHostAddress::TolerantConversion))
        return true;
    const QList<NetworkInterfaceEntry> interfaces = NetworkInterfaceLister::interfaces();
    for (const NetworkInterfaceEntry &entry : interfaces) {
        for (const QHostAddress &own : entry.addresses) {
            if (own.isEqual(plain, QHostAddress::TolerantConversion))
                return true;
        }
    }
    return false;
}

bool MachineName::isThisMachine(const QString &host)
{
    const QString name = normalizedHost(host);
    if (name.isEmpty())
        return false;
    if (name == QLatin1String("localhost") || isNamedBy(name))
        return true;
    QHostAddress address;
    return address.setAddress(name) && isOwnAddress(address);
}

} // namespace corvane
