#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>

#include <cmath>

#include <benchmark/benchmark.h>

#include "ostraui/ambientbackground.h"
#include "ostraui/mapview.h"
#include "tests/support/tileserver.h"
#include "bench/benchmarkmain.h"

namespace {

const QSize kWindow(1280, 800);

// One repaint of the window backdrop, as its 50 ms timer asks for.
void BM_AmbientBackgroundRepaint(benchmark::State &state)
{
    ostra::AmbientBackground background;
    background.resize(kWindow);
    QImage target(kWindow, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        background.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_AmbientBackgroundRepaint)->Unit(benchmark::kMillisecond);

// One repaint of a full-window map with every visible tile in memory, a long trail and the marker.
void BM_MapRepaint(benchmark::State &state)
{
    ostratest::TileServer server;
    ostra::MapView map;
    map.setTileServer(server.baseUrl(), QStringLiteral("test tiles"));
    map.resize(kWindow);
    for (int i = 0; i < 3000; ++i)
        map.setPosition(51.5 + i * 2e-5, -0.12 + std::sin(i / 50.0) * 1e-3, i % 360, true);
    QImage target(kWindow, QImage::Format_ARGB32_Premultiplied);
    map.render(&target);
    QElapsedTimer waited;
    waited.start();
    int served = -1;
    while (waited.elapsed() < 5000 && served != int(server.requests.size())) {
        served = int(server.requests.size());
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        map.render(&target);
    }
    state.counters["tiles"] = served;
    for (auto _ : state) {
        map.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_MapRepaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QApplication>(argc, argv);
}
