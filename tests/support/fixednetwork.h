#pragma once

#include <QHostAddress>
#include <QString>

#include "platform/network/networkinterfacelister.h"

namespace ostratest {

// An interface that is up and running with one address, as NetworkInterfaceLister lists it;
// "lo" is the loopback.
inline corvane::NetworkInterfaceEntry networkInterface(const char *name, const char *address)
{
    const QString named = QString::fromLatin1(name);
    return {named, named, true, true, named == QLatin1String("lo"), {QHostAddress(QString::fromLatin1(address))}};
}

} // namespace ostratest
