#pragma once

#include <QTest>

#include "api/mdnsresponder.h"
#include "api/websocketserver.h"
#include "bridge/transmitrig.h"
#include "wstestclient.h"

namespace ostratest {

// A controller on virtual devices and a simulated transmitter, an API server on a free port
// with the handlers the test adds, and one client connected to it.
struct ApiRig
{
    template <class Handler>
    Handler *add()
    {
        auto *handler = new Handler(rig.controller.get(), &server);
        server.registerHandler(handler);
        return handler;
    }

    bool start()
    {
        corvane::MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
        return server.start(0) && client.open(server.serverPort());
    }

    QJsonObject request(const QString &event, const QJsonObject &data = {}) { return client.request(event, data); }

    TransmitRig rig;
    corvane::WebSocketServer server{rig.controller.get()};
    WsTestClient client;
};

inline QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

} // namespace ostratest

using ostratest::json;
