#pragma once

#include <QHostAddress>
#include <QString>

namespace corvane {

// This machine as a host names it, and the one way a host is spelt for comparing. Its own name is
// the host name the system gives it, alone or with ".local" as mDNS resolves it on the LAN, or
// the name the program announces by mDNS with ".local"; its addresses are the loopback, the
// unspecified address and those of its interfaces. The API's handshake, the web panel and race
// control all take a host for this machine by these rules alone.
class MachineName
{
public:
    // The name the program announces by mDNS for the phone app, answered with ".local".
    static QString announcedName() { return QStringLiteral("qorvant-transmitter"); }

    // A host in its one written form, without a final dot: an address as four decimal numbers
    // (leading zeros dropped, read in decimal as people type them) or in IPv6's own form, an IPv4
    // address mapped into IPv6 as IPv4; a name in lower case.
    static QString normalizedHost(const QString &host);
    // An IPv4 address that comes mapped into IPv6 (::ffff:a.b.c.d, as a dual-stack socket reports
    // an IPv4 peer) as that IPv4 address; any other address as it is.
    static QHostAddress unmapped(const QHostAddress &address);

    // Whether `host`, in any spelling, names this machine by one of its names.
    static bool isNamedBy(const QString &host);
    // Whether the address reaches this machine.
    static bool isOwnAddress(const QHostAddress &address);
    // Whether `host` (a URL's host with IPv6 without brackets, or an address or name as typed, in
    // any spelling) is this machine: "localhost", one of its names or one of its addresses.
    static bool isThisMachine(const QString &host);
};

} // namespace corvane
