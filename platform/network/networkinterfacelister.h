#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QObject;

namespace corvane {

// One network interface of this PC as the race control sees it.
struct NetworkInterfaceEntry
{
    QString name;
    // The name the system shows to people ("Ethernet", "vEthernet (WSL)"); often equal to name.
    QString humanReadableName;
    bool up = false;
    bool running = false;
    bool loopback = false;
    QList<QHostAddress> addresses;
};

// Stands in for the system's interface enumeration so that the station scan's address range and
// the own-host check can be given fixed data: tests install their own entries. Safe to call from
// any thread.
class NetworkInterfaceLister
{
public:
    // The installed entries when there are any, otherwise what the system lists.
    static QList<NetworkInterfaceEntry> interfaces();
    static QList<NetworkInterfaceEntry> systemInterfaces();

    // From now on interfaces() returns exactly `entries` (an empty list lists nothing).
    static void setFixedInterfaces(const QList<NetworkInterfaceEntry> &entries);
    static void useSystemInterfaces();

    // How likely a phone on the same network reaches this PC at `address`: home networks first,
    // then office ranges, then anything public, carrier-grade NAT last; 0 for no IPv4 address.
    static int lanAddressScore(const QHostAddress &address);
    // The IPv4 address a phone on the same network most likely reaches this PC at: the best scored
    // address of the interfaces that are up and running, leaving out loopback, VPNs, virtual
    // machines and containers; "127.0.0.1" when there is none.
    static QString bestLanAddress();
    // The same, looked up on a worker thread, since the system's list can take milliseconds to
    // read and the 7 ms tick shares the GUI thread: `done` runs on `context`'s thread with the
    // address, unless `context` is gone by then.
    static void bestLanAddressLater(QObject *context, std::function<void(const QString &address)> done);
};

} // namespace corvane
