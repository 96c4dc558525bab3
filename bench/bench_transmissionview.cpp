// Cost of the transmission view's 60 ms counter tick, which shares the GUI thread with the 7 ms
// transmit loop: a quiet tick, a tick after sensor values changed (30 sensors), and a tick that
// flushes the console lines of one tick of busy telemetry (20 frames).

#include <QApplication>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "dialogs/transmissionview.h"
#include "ostraui/theme.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "tests/support/transmitrig.h"

namespace {

struct ShownView
{
    ShownView()
    {
        Profile *profile = rig.controller->profileManager()->mutableActiveProfile();
        for (int i = 0; i < 30; ++i) {
            const QString id = QStringLiteral("S%1").arg(i, 3, 10, QLatin1Char('0'));
            profile->telemetrySensors.append({id, id + QStringLiteral(" label"), QString()});
        }
        rig.controller->loadTelemetrySensors();
        view.resize(1280, 800);
        view.show();
        tick();
    }
    void tick() { QMetaObject::invokeMethod(&view, "refreshCounters", Qt::DirectConnection); }

    ostratest::TransmitRig rig;
    corvane::TransmissionView view{rig.controller.get()};
};

void BM_QuietTick(benchmark::State &state)
{
    ShownView shown;
    for (auto _ : state)
        shown.tick();
}
BENCHMARK(BM_QuietTick)->Unit(benchmark::kMicrosecond);

void BM_SensorValuesTick(benchmark::State &state)
{
    ShownView shown;
    for (auto _ : state) {
        emit shown.rig.controller->telemetrySensorsUpdated();
        shown.tick();
    }
}
BENCHMARK(BM_SensorValuesTick)->Unit(benchmark::kMicrosecond);

void BM_BusyConsoleTick(benchmark::State &state)
{
    ShownView shown;
    const QByteArray attitude = QByteArray::fromHex("0064FF9C0000");
    for (auto _ : state) {
        for (int i = 0; i < 20; ++i)
            shown.view.onCrsfFrameReceived(0x1E, attitude);
        shown.tick();
    }
}
BENCHMARK(BM_BusyConsoleTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QApplication>(argc, argv);
}
