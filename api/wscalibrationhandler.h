#pragma once

#include "api/wshandler.h"
#include "api/wsjson.h"

namespace corvane {

// Placeholder until the calibration handler is built.
class WsCalibrationHandler : public WsHandler
{
    Q_OBJECT
public:
    using WsHandler::WsHandler;

    QStringList supportedEvents() const override { return {}; }
    QJsonObject handleEvent(const QString &event, const QJsonObject &) override
    {
        return wsjson::errorReply(event, QStringLiteral("Unhandled event in calibration handler"));
    }
};

} // namespace corvane
