#pragma once

namespace corvane {
class CorvaneController;
class WebSocketServer;
} // namespace corvane

namespace ostrafuzz {

// Registers with `server` every handler the main window serves the app with.
void registerApiHandlers(corvane::WebSocketServer *server, corvane::CorvaneController *controller);

} // namespace ostrafuzz
