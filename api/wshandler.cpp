#include "api/wshandler.h"

#include "api/websocketserver.h"

namespace corvane {

WsHandler::WsHandler(CorvaneController *controller, WebSocketServer *server)
    : QObject(server), m_controller(controller), m_server(server)
{
}

} // namespace corvane
