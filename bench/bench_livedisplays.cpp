// Cost of one repaint of the full-screen live displays at 1920 x 1080. The dashboard repaints
// every 16 ms and the attitude indicator every 33 ms on the thread that runs the 7 ms channel
// tick, so each paint delays the next frame by its whole length.

#include <QApplication>
#include <QImage>

#include <cmath>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "dialogs/attitudeindicatorwidget.h"
#include "dialogs/dashboardwidget.h"
#include "ostraui/theme.h"
#include "tests/support/transmitrig.h"

namespace {

const QSize FullHd(1920, 1080);

void BM_DashboardRepaint(benchmark::State &state)
{
    ostratest::TransmitRig rig;
    if (!rig.connectCar()) {
        state.SkipWithError("no car");
        return;
    }
    corvane::DashboardWidget dash(rig.controller.get());
    dash.resize(FullHd);
    dash.show();
    QApplication::processEvents(); // the static layers are drawn once, on the first shown frame
    float t = 0.0f;
    for (auto _ : state) {
        // Pedals and speed change on every tick: the gauge, the pedal bars and the shift lights
        // repaint, as while driving.
        t += 0.05f;
        rig.pedals->setAxis(1, std::sin(t));
        rig.pedals->setAxis(2, std::cos(t) * 0.5f - 0.5f);
        rig.pollAll();
        dash.tick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
}
BENCHMARK(BM_DashboardRepaint)->Unit(benchmark::kMicrosecond);

void BM_AttitudeRepaint(benchmark::State &state)
{
    corvane::AttitudeIndicatorWidget indicator(nullptr);
    indicator.resize(FullHd);
    indicator.show();
    QApplication::processEvents(); // the static layers are drawn once, on the first shown frame
    float t = 0.0f;
    for (auto _ : state) {
        // A new attitude on every tick: the whole horizon moves and turns.
        t += 0.05f;
        indicator.onAttitude(20.0f * std::sin(t), 40.0f * std::cos(t), 0.0f);
        indicator.onTick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
}
BENCHMARK(BM_AttitudeRepaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QApplication>(argc, argv);
}
