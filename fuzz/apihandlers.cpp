#include "apihandlers.h"

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

namespace ostrafuzz {

void registerApiHandlers(corvane::WebSocketServer *server, corvane::CorvaneController *controller)
{
    for (corvane::WsHandler *handler : std::initializer_list<corvane::WsHandler *> {
             new corvane::WsDeviceHandler(controller, server),
             new corvane::WsTransmissionHandler(controller, server),
             new corvane::WsInputHandler(controller, server),
             new corvane::WsAxisHandler(controller, server),
             new corvane::WsButtonHandler(controller, server),
             new corvane::WsProfileHandler(controller, server),
             new corvane::WsEscPresetHandler(controller, server),
             new corvane::WsPresetHandler(controller, server),
             new corvane::WsFirmwareHandler(controller, server),
             new corvane::WsSocUpdateHandler(controller, server),
             new corvane::WsCalibrationHandler(controller, server),
             new corvane::WsLedHandler(controller, server),
             new corvane::WsSecurityHandler(controller, server),
             new corvane::WsHelicopterHandler(controller, server),
             new corvane::WsTelemetryHandler(controller, server),
             new corvane::WsReceiverHandler(controller, server),
             new corvane::WsLoungeHandler(controller, server)})
        server->registerHandler(handler);
}

} // namespace ostrafuzz
