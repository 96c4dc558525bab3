#pragma once

#include <QHostAddress>

namespace corvane {

// Whom a connection from `peer` counts against when connections are shared out per address:
// an IPv4 peer that a dual-stack listener reports as ::ffff:a.b.c.d is a.b.c.d, and an IPv6
// host owns its whole /64 (it may take any address of it at will).
QHostAddress connectionSource(const QHostAddress &peer);

} // namespace corvane
