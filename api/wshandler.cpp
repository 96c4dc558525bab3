#include "api/wshandler.h"

#include "api/wsjson.h"

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

bool WsHandler::isStop(const QString &, const QJsonObject &) const
{
    return false;
}

bool WsHandler::appliesOnArrival(const QString &event, const QJsonObject &data) const
{
    return isStop(event, data);
}

bool WsHandler::stopHolds(const QString &, const QJsonObject &) const
{
    return true;
}

QJsonObject WsHandler::stateOf(const QString &event, const QJsonObject &data)
{
    if (!event.startsWith(QLatin1String("get_")))
        return {};
    return handleEvent(event, data).value(QStringLiteral("data")).toObject();
}

QJsonObject WsHandler::stateReply(const QString &event, const QJsonObject &data, QJsonObject reply)
{
    const QString key = QStringLiteral("data");
    if (!reply.contains(key))
        return reply;
    const QJsonObject state = stateOf(event, data);
    if (!state.isEmpty())
        reply.insert(key, state);
    return reply;
}

QJsonObject WsHandler::refusedReply(const QString &event, const QString &message) const
{
    if (event.startsWith(QLatin1String("get_")))
        return wsjson::errorReply(event, message);
    return wsjson::actionReply(event, false, message);
}

QJsonObject WsHandler::unstoredReply(QJsonObject reply, const QString &failure) const
{
    const QString success = QStringLiteral("success");
    if (reply.contains(success) && !reply.value(success).toBool())
        return reply;
    reply.insert(success, false);
    reply.insert(QStringLiteral("message"), failure);
    return reply;
}

} // namespace corvane
