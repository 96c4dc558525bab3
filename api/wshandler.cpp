#include "api/wshandler.h"

namespace corvane {

WsHandler::WsHandler(CorvaneController *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
}

} // namespace corvane
