#pragma once

#include "api/wshandler.h"

namespace corvane {

// Placeholder until the mobile-app WebSocket API is built.
class WsDeviceHandler : public WsHandler
{
    Q_OBJECT
public:
    using WsHandler::WsHandler;
};

} // namespace corvane
