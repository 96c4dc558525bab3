// Cost of one repaint of the full-screen live displays, at 1280 x 800 and 1920 x 1080. The
// dashboard repaints every 16 ms and the attitude indicator every 33 ms on the thread that runs
// the 7 ms channel tick, so each paint delays the next frame by its whole length. Every repaint
// is timed on its own (tick, paint into the window's backing store and flush); the counters give
// the median and 99th percentile in microseconds, of the wall time and, steadier on a busy
// machine, of the CPU time of all the process's threads (the painter spreads large fills over
// a pool of threads).
//
//     dashboard idle    a tick at rest with the pedals up: nothing changed, nothing is painted
//     dashboard moving  a tick while driving: gauge, speed, pedal bars and shift lights change
//     dashboard whole   the whole window painted again, as when it is uncovered
//     attitude live     a new attitude every tick: the horizon moves and turns
//     attitude stale    the picture under the no-telemetry curtain, painted again as a whole

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "dialogs/attitudeindicatorwidget.h"
#include "dialogs/dashboardwidget.h"
#include "tests/support/transmitrig.h"

namespace {

enum class Dashboard { Idle, Moving, Whole };
enum class Attitude { Live, Stale };

QSize sizeOf(const benchmark::State &state)
{
    return {int(state.range(0)), int(state.range(1))};
}

// Shows the widget at the size under test and lets it paint its first frame, which draws the
// static layers once.
void showAt(QWidget &widget, const QSize &size)
{
    widget.resize(size);
    widget.show();
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

double processCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

// Sets `<prefix>median_us` and `<prefix>p99_us`.
void reportSpread(benchmark::State &state, std::vector<double> &samples, const std::string &prefix)
{
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    state.counters[prefix + "median_us"] = samples[samples.size() / 2];
    state.counters[prefix + "p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
}

// Times `repaint` once per iteration after `prepare` (untimed) and reports the median and 99th
// percentile of the single repaints.
void timeRepaints(benchmark::State &state, const std::function<void(int)> &prepare,
                  const std::function<void()> &repaint)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> wall;
    std::vector<double> cpu;
    int n = 0;
    for (auto _ : state) {
        prepare(n++);
        const Clock::time_point begin = Clock::now();
        const double cpuBegin = processCpuMicroseconds();
        repaint();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        cpu.push_back(processCpuMicroseconds() - cpuBegin);
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        state.SetIterationTime(seconds);
        wall.push_back(seconds * 1e6);
    }
    reportSpread(state, wall, "");
    reportSpread(state, cpu, "cpu_");
}

void BM_Dashboard(benchmark::State &state, Dashboard mode)
{
    ostratest::TransmitRig rig;
    if (!rig.connectCar()) {
        state.SkipWithError("no car");
        return;
    }
    corvane::DashboardWidget dash(rig.controller.get());
    showAt(dash, sizeOf(state));
    const auto prepare = [&](int n) {
        if (mode != Dashboard::Moving)
            return;
        // Pedals and speed change on every tick, as while driving; reading the pedals belongs
        // to the channel tick, not to the repaint.
        const float t = 0.05f * float(n);
        rig.pedals->setAxis(1, std::sin(t));
        rig.pedals->setAxis(2, std::cos(t) * 0.5f - 0.5f);
        rig.pollAll();
    };
    if (mode == Dashboard::Whole)
        timeRepaints(state, prepare, [&] { dash.update(); });
    else
        timeRepaints(state, prepare, [&] { dash.tick(); });
}

void BM_Attitude(benchmark::State &state, Attitude mode)
{
    corvane::AttitudeIndicatorWidget indicator(nullptr);
    showAt(indicator, sizeOf(state));
    if (mode == Attitude::Stale) {
        timeRepaints(state, [](int) {}, [&] { indicator.update(); });
        return;
    }
    timeRepaints(
        state,
        [&](int n) {
            const float t = 0.05f * float(n);
            indicator.onAttitude(20.0f * std::sin(t), 40.0f * std::cos(t), 0.0f);
        },
        [&] { indicator.onTick(); });
}

void sizes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"w", "h"})->Args({1280, 800})->Args({1920, 1080})->UseManualTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK_CAPTURE(BM_Dashboard, idle, Dashboard::Idle)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Dashboard, moving, Dashboard::Moving)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Dashboard, whole, Dashboard::Whole)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Attitude, live, Attitude::Live)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Attitude, stale, Attitude::Stale)->Apply(sizes);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QApplication>(argc, argv);
}
