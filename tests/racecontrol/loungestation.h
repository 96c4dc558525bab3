#pragma once

#include "api/websocketserver.h"
#include "api/wsloungehandler.h"
#include "support/netnamespaces.h"
#include "support/transmitrig.h"

// A real race station: this program's controller on virtual devices with its transmitter
// connected, and its own API server with the lounge handler on port 12345 of a stations network
// namespace of its own; the test thread stays in the control namespace. Make it before storing
// race control's settings: the rig starts from none.
class LoungeStation
{
public:
    LoungeStation() { server.registerHandler(new corvane::WsLoungeHandler(rig.controller.get(), &server)); }

    // False with error() set when the namespaces cannot be made or the station cannot start.
    bool setUp(const QString &address)
    {
        if (!net.setUp({address}))
            return false;
        bool listening = false;
        net.inStations([&] { listening = server.start(12345); });
        return listening && rig.openTransmitter();
    }
    QString error() const { return net.error().isEmpty() ? QStringLiteral("the station did not start") : net.error(); }

    corvane::LoungeSettings lounge() const { return rig.controller->loungeSettings(); }

    ostratest::NetNamespaces net;
    ostratest::TransmitRig rig;
    corvane::WebSocketServer server{rig.controller.get()};
};
