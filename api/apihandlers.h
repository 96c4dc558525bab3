#pragma once

namespace corvane {
class CorvaneController;
class WebSocketServer;
} // namespace corvane

namespace corvane {

// Registers with `server` every handler the program serves the app with, in the order the
// server routes them.
void registerApiHandlers(WebSocketServer *server, CorvaneController *controller);

} // namespace corvane
