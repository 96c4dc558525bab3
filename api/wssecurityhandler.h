#pragma once

#include "api/wshandler.h"

namespace corvane {

// The transmitter allow-list for the app: who may drive the car, provisioning mode, removal of
// an ID, and a push whenever the connected transmitter's authorization changes.
class WsSecurityHandler : public WsHandler
{
    Q_OBJECT
public:
    WsSecurityHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

private:
    void pushAuthorization(bool authorized);
};

} // namespace corvane
