#pragma once

class QThreadPool;

namespace corvane {

// Threads for blocking lookups (the system's serial ports, its network interfaces). Not the
// global pool: the widget kit splits large fills over that pool's threads and waits for them on
// the GUI thread, so nothing slow may queue there.
QThreadPool *backgroundPool();

} // namespace corvane
