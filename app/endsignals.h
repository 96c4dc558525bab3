#pragma once

#include <functional>

class QObject;
class QWidget;

// Ends the run through `window`'s close when the system asks the program to end (SIGTERM: a
// logout, kill, a service manager; SIGINT: Ctrl+C; SIGHUP: its terminal gone), as the user's close
// does: the transmitter hears its stop, race control lets its stations go, and what waits for the
// disk is written. A signal the program was started to ignore (SIGHUP under nohup) stays ignored.
void closeOnEndSignals(QWidget *window);
// Whether an end signal has come, taking those not yet read. The close it makes asks nothing, as
// nobody may be there to answer (edits not stored are let go), and a restart asked for is left out.
bool takeEndSignals();
// Takes the end signals as they come while `owner` lives, calling `then` for each: for the end
// of the run, once no window is left for them to close, and for a box that waits for an answer.
void takeEndSignalsWhileAlive(QObject *owner, const std::function<void()> &then = {});
