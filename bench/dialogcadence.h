#pragma once

// cadenceprobe --dialogs: from the main window transmitting, opens and closes every dialog and
// page a user reaches from the car and helicopter pages, one after the other, each beside an idle
// span of the same length, and reports the frames of each span.

#include <QString>

#include <chrono>
#include <vector>

class MainWindow;

namespace benchdialogs {

using Clock = std::chrono::steady_clock;

// When one step's spans began: idle, the click that opened it, the click that closed it.
struct StepTimes
{
    const char *label = "";
    Clock::time_point idle;
    Clock::time_point opened;
    Clock::time_point closed;
};

// Runs every step whose label contains `only` (all when empty) on the window from the running
// event loop and quits it after the last; spanMs is the length of each measured span. The
// returned times are filled once the loop has ended.
std::vector<StepTimes> *scheduleSteps(MainWindow *window, int spanMs, const QString &only);

// One line per step: the largest gap and the frames counted against those due in its idle span,
// after its opening and after its closing, and beside each gap the largest between the sends on
// the GUI thread (`sent`): a gap the sends did not have is the transmitter line's, not the tick's.
// False when any span had a gap over `limitMs`.
bool printSteps(const std::vector<StepTimes> &steps, const std::vector<Clock::time_point> &stamps,
                const std::vector<Clock::time_point> &sent, int spanMs, double limitMs);

// For each dialog the snapshot mode builds: the milliseconds its construction, its polish, its
// layout and its first paint take on the GUI thread, the first time and again.
void printPhases(MainWindow *window);

} // namespace benchdialogs
