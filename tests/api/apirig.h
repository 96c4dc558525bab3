#pragma once

#include <QTest>

#include <memory>

#include "api/mdnsresponder.h"
#include "api/websocketserver.h"
#include "bridge/receiverrig.h"
#include "wstestclient.h"

namespace ostratest {

// A controller on virtual devices and a simulated transmitter (and, with the receiver rig, the
// maker's receiver), an API server on a free port with the handlers the test adds, and one
// client connected to it.
template <class Rig>
struct BasicApiRig
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

    QJsonObject request(const QString &event, const QJsonObject &data = {}, int timeoutMs = 5000)
    {
        return client.request(event, data, timeoutMs);
    }

    // A rig with one handler, started; empty when the server or the client failed. Tests build
    // one in init() so every test function starts from a fresh controller and server.
    template <class Handler>
    static std::unique_ptr<BasicApiRig> started(Handler **handler = nullptr)
    {
        auto rig = std::make_unique<BasicApiRig>();
        Handler *added = rig->template add<Handler>();
        if (handler)
            *handler = added;
        return rig->start() ? std::move(rig) : nullptr;
    }

    Rig rig;
    corvane::WebSocketServer server{rig.controller.get()};
    WsTestClient client;
};

using ApiRig = BasicApiRig<TransmitRig>;
using ReceiverApiRig = BasicApiRig<ReceiverRig>;

inline QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

// The replies of a request that carries no data: accepted, or refused with its message.
inline QJsonObject ok(const QString &event)
{
    return {{"event", event}, {"success", true}};
}

inline QJsonObject refused(const QString &event, const QString &message)
{
    return {{"event", event}, {"success", false}, {"message", message}};
}

} // namespace ostratest

using ostratest::json;
using ostratest::ok;
using ostratest::refused;
