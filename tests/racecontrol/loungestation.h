#pragma once

#include "api/websocketserver.h"
#include "api/wsloungehandler.h"
#include "support/netnamespaces.h"
#include "support/transmitrig.h"

// A real race station: this program's controller on virtual devices with its transmitter
// connected, and its own API server with the lounge handler on port 12345 of the stations
// namespace. Make it before storing race control's settings: the rig starts from none.
class LoungeStation
{
public:
    LoungeStation() { server.registerHandler(new corvane::WsLoungeHandler(rig.controller.get(), &server)); }

    bool start(ostratest::NetNamespaces &net)
    {
        bool listening = false;
        net.inStations([&] { listening = server.start(12345); });
        return listening && rig.openTransmitter();
    }

    corvane::LoungeSettings lounge() const { return rig.controller->loungeSettings(); }

    ostratest::TransmitRig rig;
    corvane::WebSocketServer server{rig.controller.get()};
};
