// Cost of the axis dialog's 33 ms live refresh (four response previews, the steering read-out and
// the mapping meters), and of painting the dialog once while the readings move.

#include <QApplication>
#include <QImage>

#include <cmath>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "dialogs/axisconfigdialog.h"
#include "ostraui/theme.h"
#include "tests/support/transmitrig.h"

namespace {

struct MovingCar
{
    MovingCar()
    {
        rig.controller->connectWheelBase(ostratest::TransmitRig::WheelPos);
        rig.controller->connectPedals(ostratest::TransmitRig::PedalsPos);
        ostratest::TransmitRig::wake(rig.pedals, rig.controller->pedals());
    }

    void step()
    {
        t += 0.01f;
        rig.wheel->setAxis(0, std::sin(t));
        rig.pedals->setAxis(1, std::cos(t));
        rig.pollAll();
    }

    ostratest::TransmitRig rig;
    float t = 0.0f;
};

void BM_LiveRefresh(benchmark::State &state)
{
    MovingCar car;
    corvane::AxisConfigDialog dialog(car.rig.controller.get());
    dialog.setAxisSettings(car.rig.controller->axisSettings());
    dialog.resize(680, 800);
    dialog.show();
    for (auto _ : state) {
        car.step();
        dialog.onInputUpdated();
    }
}
BENCHMARK(BM_LiveRefresh)->Unit(benchmark::kMicrosecond);

void BM_RefreshAndPaint(benchmark::State &state)
{
    MovingCar car;
    corvane::AxisConfigDialog dialog(car.rig.controller.get());
    dialog.setAxisSettings(car.rig.controller->axisSettings());
    dialog.resize(680, 800);
    dialog.show();
    QImage target(dialog.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        car.step();
        dialog.onInputUpdated();
        dialog.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_RefreshAndPaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QApplication>(argc, argv);
}
