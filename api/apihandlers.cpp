#include "api/apihandlers.h"

#include <initializer_list>

#include "api/websocketserver.h"
#include "api/wsaxishandler.h"
#include "api/wsbuttonhandler.h"
#include "api/wscalibrationhandler.h"
#include "api/wsdevicehandler.h"
#include "api/wsescpresethandler.h"
#include "api/wsfirmwarehandler.h"
#include "api/wshelicopterhandler.h"
#include "api/wsinputhandler.h"
#include "api/wsledhandler.h"
#include "api/wsloungehandler.h"
#include "api/wspresethandler.h"
#include "api/wsprofilehandler.h"
#include "api/wsreceiverhandler.h"
#include "api/wssecurityhandler.h"
#include "api/wssocupdatehandler.h"
#include "api/wstelemetryhandler.h"
#include "api/wstransmissionhandler.h"

namespace corvane {

void registerApiHandlers(WebSocketServer *server, CorvaneController *controller)
{
    for (WsHandler *handler : std::initializer_list<WsHandler *> {
             new WsDeviceHandler(controller, server),
             new WsTransmissionHandler(controller, server),
             new WsInputHandler(controller, server),
             new WsAxisHandler(controller, server),
             new WsButtonHandler(controller, server),
             new WsProfileHandler(controller, server),
             new WsEscPresetHandler(controller, server),
             new WsPresetHandler(controller, server),
             new WsFirmwareHandler(controller, server),
             new WsSocUpdateHandler(controller, server),
             new WsCalibrationHandler(controller, server),
             new WsLedHandler(controller, server),
             new WsSecurityHandler(controller, server),
             new WsHelicopterHandler(controller, server),
             new WsTelemetryHandler(controller, server),
             new WsReceiverHandler(controller, server),
             new WsLoungeHandler(controller, server)})
        server->registerHandler(handler);
}

} // namespace corvane
