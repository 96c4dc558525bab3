#pragma once

#include <QString>

namespace corvane {

// This machine's own name as a browser or a phone stack writes it in a URL: the host name the
// system gives it, alone or with ".local" as mDNS resolves it on the LAN, or the name the program
// announces by mDNS with ".local". The API's handshake and the web panel accept a page that names
// it, as one naming an address of this machine.
class MachineName
{
public:
    // The name the program announces by mDNS for the phone app, answered with ".local".
    static QString announcedName() { return QStringLiteral("qorvant-transmitter"); }

    // Whether `host`, the host of a URL (lower case, a final dot allowed), names this machine.
    static bool isNamedBy(const QString &host);
    // Whether `host`, the host of a URL (IPv6 without brackets, a final dot allowed), is this
    // machine: "localhost", its name, a loopback address or an address of one of its interfaces.
    static bool isThisMachine(const QString &host);
};

} // namespace corvane
