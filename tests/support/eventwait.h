#pragma once

#include <functional>

namespace ostratest {

// Runs the Qt event loop and then `step` (a simulated device reading its side) until `done` holds
// or the time-out passes; false on time-out. A wait whose condition already holds returns at once.
bool waitWithEvents(const std::function<bool()> &done, int timeoutMs, const std::function<void()> &step);

} // namespace ostratest
