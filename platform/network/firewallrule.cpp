#include "platform/network/firewallrule.h"

#include <QDebug>

namespace corvane {

void FirewallRule::ensureInboundTcp(const QString &ruleName, quint16 port)
{
    qInfo().noquote() << QStringLiteral("WebSocketServer: firewall rule \"%1\" for TCP port %2 not "
                                        "checked: this platform has no firewall rule to manage")
                             .arg(ruleName)
                             .arg(port);
}

} // namespace corvane
