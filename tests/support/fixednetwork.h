#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include "platform/network/networkinterfacelister.h"

namespace ostratest {

// An interface that is up and running with one address, as NetworkInterfaceLister lists it;
// "lo" is the loopback.
inline corvane::NetworkInterfaceEntry networkInterface(const char *name, const char *address)
{
    corvane::NetworkInterfaceEntry entry;
    entry.name = QString::fromLatin1(name);
    entry.up = entry.running = true;
    entry.loopback = entry.name == QLatin1String("lo");
    entry.addresses = {QHostAddress(QString::fromLatin1(address))};
    return entry;
}

// While it lives, NetworkInterfaceLister lists the interfaces given here, whatever this machine has.
class FixedNetwork
{
public:
    explicit FixedNetwork(const QList<corvane::NetworkInterfaceEntry> &entries) { set(entries); }
    ~FixedNetwork() { corvane::NetworkInterfaceLister::useSystemInterfaces(); }
    FixedNetwork(const FixedNetwork &) = delete;
    FixedNetwork &operator=(const FixedNetwork &) = delete;

    void set(const QList<corvane::NetworkInterfaceEntry> &entries)
    {
        corvane::NetworkInterfaceLister::setFixedInterfaces(entries);
    }
};

} // namespace ostratest
