#pragma once

#include <QObject>

namespace corvane {

class CorvaneController;
class WebSocketServer;

// Placeholder until the mobile-app WebSocket API is built.
class WsHandler : public QObject
{
    Q_OBJECT
public:
    WsHandler(CorvaneController *controller, WebSocketServer *server);

protected:
    CorvaneController *m_controller;
    WebSocketServer *m_server;
};

} // namespace corvane
