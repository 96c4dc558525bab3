#include "platform/network/networkinterfacelister.h"

#include <QNetworkInterface>

#include <optional>

namespace corvane {

namespace {

std::optional<QList<NetworkInterfaceEntry>> &fixedInterfaces()
{
    static std::optional<QList<NetworkInterfaceEntry>> entries;
    return entries;
}

} // namespace

QList<NetworkInterfaceEntry> NetworkInterfaceLister::interfaces()
{
    if (fixedInterfaces())
        return *fixedInterfaces();
    return systemInterfaces();
}

QList<NetworkInterfaceEntry> NetworkInterfaceLister::systemInterfaces()
{
    QList<NetworkInterfaceEntry> entries;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    entries.reserve(all.size());
    for (const QNetworkInterface &iface : all) {
        NetworkInterfaceEntry entry;
        entry.name = iface.name();
        entry.humanReadableName = iface.humanReadableName();
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        entry.up = flags.testFlag(QNetworkInterface::IsUp);
        entry.running = flags.testFlag(QNetworkInterface::IsRunning);
        entry.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry &address : iface.addressEntries())
            entry.addresses.append(address.ip());
        entries.append(entry);
    }
    return entries;
}

void NetworkInterfaceLister::setFixedInterfaces(const QList<NetworkInterfaceEntry> &entries)
{
    fixedInterfaces() = entries;
}

void NetworkInterfaceLister::useSystemInterfaces()
{
    fixedInterfaces().reset();
}

} // namespace corvane
