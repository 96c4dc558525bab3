#pragma once

#include <QString>

namespace corvane {

// Stands in for the system firewall's inbound rule for the API port. On Windows the program
// keeps an inbound allow rule through netsh; this host has no such tool and no rule to keep.
class FirewallRule
{
public:
    // Makes sure inbound TCP connections to `port` are let in under the rule `ruleName`.
    // Here that check does not apply: one log line says so, and nothing is run.
    static void ensureInboundTcp(const QString &ruleName, quint16 port);
};

} // namespace corvane
