#pragma once

#include <QString>
#include <QStringList>

namespace ostratest {

// Two network namespaces joined by a veth pair on the private network 10.77.0.0/24: "control"
// holds 10.77.0.1, "stations" holds the addresses the test asks for. The test thread moves into
// either namespace; sockets keep the namespace they were made in, so fake stations made while
// in "stations" are reached from "control" and nothing else is. Needs root and `ip`; everything
// is removed again on destruction.
class NetNamespaces
{
public:
    NetNamespaces();
    ~NetNamespaces();
    NetNamespaces(const NetNamespaces &) = delete;
    NetNamespaces &operator=(const NetNamespaces &) = delete;

    // Empty when the namespaces can be made here, else why not (for QSKIP).
    static QString unavailableReason();

    // Creates both namespaces and enters "control". False (with the reason in error()) on failure.
    bool setUp(const QStringList &stationAddresses);
    QString error() const { return m_error; }

    static QString controlAddress() { return QStringLiteral("10.77.0.1"); }
    // The path of the `ip netns exec` name of the stations namespace.
    QString stationsName() const { return m_stations; }

    void enterControl();
    void enterStations();
    // Takes the stations' end of the link down (a cut cable: connections stay open but nothing
    // passes) or up again. False on failure.
    bool setStationsLinkUp(bool up);
    // Runs f inside "stations", then returns to "control".
    template <typename F> void inStations(F f)
    {
        enterStations();
        f();
        enterControl();
    }

private:
    bool run(const QStringList &arguments);
    bool enter(const QString &name);
    bool waitForLink(const QString &name);

    QString m_control;
    QString m_stations;
    int m_originalFd = -1;
    bool m_created = false;
    QString m_error;
};

// The calling thread, and threads it starts, in a network namespace of its own holding only its
// loopback, up, for as long as this lives: multicast sent there reaches no other process. Needs
// root; without it entered() is false and the thread stays where it was.
class OwnLoopback
{
public:
    OwnLoopback();
    ~OwnLoopback();
    OwnLoopback(const OwnLoopback &) = delete;
    OwnLoopback &operator=(const OwnLoopback &) = delete;

    bool entered() const { return m_home >= 0; }
    // Gives the loopback one more IPv6 address, as a /128; needs the ip tool. False on failure.
    bool addIPv6Address(const QString &address);

private:
    int m_home = -1;
};

} // namespace ostratest
