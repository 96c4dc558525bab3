#pragma once

#include <functional>

namespace ostratest {

// Runs the Qt event loop, calling `step` between rounds, until `done` holds or the time-out
// passes; true when `done` held. A simulated device passes its own reading as `step`.
bool runEventsUntil(const std::function<bool()> &done, int timeoutMs, const std::function<void()> &step);

} // namespace ostratest
