// Cost of the helicopter page's live work, which runs on every 16 ms input tick while the page
// is shown: one repaint of the control gauge, and one live update of the page (four previews,
// the gauge slots and the 16 channel cells while transmitting).

#include <QApplication>
#include <QImage>

#include <cmath>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "heli/helicontrolgaugewidget.h"
#include "heli/helicoptersetupwidget.h"
#include "ostraui/theme.h"
#include "tests/support/transmitrig.h"

namespace {

void BM_GaugeRepaint(benchmark::State &state)
{
    corvane::HeliControlGaugeWidget gauge;
    gauge.resize(1280, 210);
    QImage target(gauge.size(), QImage::Format_ARGB32_Premultiplied);
    float t = 0.0f;
    for (auto _ : state) {
        t += 0.01f;
        gauge.setRoll(std::sin(t));
        gauge.setPitch(std::cos(t));
        gauge.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_GaugeRepaint)->Unit(benchmark::kMicrosecond);

void BM_PageLiveUpdate(benchmark::State &state)
{
    ostratest::TransmitRig rig;
    const bool connected = rig.connectHelicopter();
    // The start gate wants the collective down.
    rig.lever->setAxis(5, -1.0f);
    rig.pollAll();
    if (!connected || !rig.start()) {
        state.SkipWithError("no transmitting helicopter");
        return;
    }
    corvane::HelicopterSetupWidget page(rig.controller.get());
    page.resize(1280, 1800);
    page.show();
    float t = 0.0f;
    for (auto _ : state) {
        t += 0.01f;
        rig.joystick->setAxis(0, std::sin(t));
        rig.lever->setAxis(5, std::cos(t));
        rig.pollAll();
        page.onLiveUpdate();
    }
}
BENCHMARK(BM_PageLiveUpdate)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return runBenchmarks<QApplication>(argc, argv);
}
