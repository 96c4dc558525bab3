#include "api/wshandler.h"

namespace corvane {

WsHandler::WsHandler(CorvaneController *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
}

void WsHandler::handleRequest(const QString &event, const QJsonObject &data, const WsReply &reply)
{
    reply(handleEvent(event, data));
}

} // namespace corvane
