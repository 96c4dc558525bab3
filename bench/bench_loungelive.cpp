// Cost of building the lounge bodies race control reads: the live body goes out every 100 ms
// for the program's whole life, on the GUI thread, with a car connected and driving.

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include "api/wsloungehandler.h"
#include "bench/benchmarkmain.h"
#include "tests/bridge/transmitrig.h"

namespace {

struct Station
{
    Station()
    {
        rig.connectCar();
        rig.pedals->setAxis(1, 0.4f);
        rig.wheel->setAxis(0, -0.3f);
        rig.pollAll();
    }

    ostratest::TransmitRig rig;
    corvane::WsLoungeHandler handler{rig.controller.get(), nullptr};
};

void BM_LoungeLive(benchmark::State &state)
{
    Station station;
    for (auto _ : state)
        benchmark::DoNotOptimize(station.handler.loungeLiveJson());
}
BENCHMARK(BM_LoungeLive);

void BM_LoungeState(benchmark::State &state)
{
    Station station;
    for (auto _ : state)
        benchmark::DoNotOptimize(station.handler.loungeStateJson());
}
BENCHMARK(BM_LoungeState);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
