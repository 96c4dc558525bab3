#include "api/wssecurityhandler.h"

#include <QJsonArray>

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/devicesecurity.h"

namespace corvane {

using namespace wsjson;

WsSecurityHandler::WsSecurityHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(controller, &CorvaneController::transmitterAuthorizationChanged, this,
            &WsSecurityHandler::pushAuthorization);
}

QStringList WsSecurityHandler::supportedEvents() const
{
    return {QStringLiteral("get_transmitter_security"), QStringLiteral("action_set_provisioning_mode"),
            QStringLiteral("action_remove_authorized_device")};
}

QJsonObject WsSecurityHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    DeviceSecurity *security = m_controller->deviceSecurity();
    if (event == QLatin1String("get_transmitter_security")) {
        // What the list allows now: a run it let in goes on after its entry is removed, but the
        // transmitter is no longer let in.
        const QJsonObject body{
            {QStringLiteral("authorized"), security->isCurrentDeviceAuthorized()},
            {QStringLiteral("deviceId"), security->currentDeviceId()},
            {QStringLiteral("provisioningMode"), security->provisioningMode()},
            {QStringLiteral("authorizedDevices"), QJsonArray::fromStringList(security->authorizedDevices())},
            // The app's wording for the desktop program, kept as the app expects it.
            {QStringLiteral("platform"), QStringLiteral("windows")},
        };
        return dataReply(QStringLiteral("transmitter_security"), body);
    }
    if (event == QLatin1String("action_set_provisioning_mode")) {
        bool enabled = false;
        if (const QString refusal = readFlag(data, "enabled", enabled); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        security->setProvisioningMode(enabled);
        return actionReply(event, true);
    }
    if (event == QLatin1String("action_remove_authorized_device")) {
        const QString deviceId = readString(data, QStringLiteral("deviceId"));
        if (deviceId.isEmpty())
            return actionReply(event, false, QStringLiteral("Missing 'deviceId' parameter"));
        security->removeDevice(deviceId);
        return actionReply(event, true);
    }
    return errorReply(event, QStringLiteral("Unhandled event in security handler"));
}

void WsSecurityHandler::pushAuthorization(bool authorized)
{
    emit pushEvent(QStringLiteral("event_transmitter_authorization"),
                   {{QStringLiteral("authorized"), authorized},
                    {QStringLiteral("deviceId"), m_controller->deviceSecurity()->currentDeviceId()}});
}

} // namespace corvane
