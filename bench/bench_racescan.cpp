// Duration of a station scan of one /24 on which nobody answers: the test's own namespaces on
// 10.77.0.0/24, so the sweep reaches no other network. Needs root and the ip tool.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include "racecontrol/racecontrol.h"
#include "support/netnamespaces.h"
#include "bench/benchmarkmain.h"

namespace {

void BM_RaceScanSilentNetwork(benchmark::State &state)
{
    ostratest::NetNamespaces net;
    if (!net.setUp({})) {
        state.SkipWithError(qPrintable("no network namespaces here: " + net.error()));
        return;
    }
    corvane::RaceControl control;
    const int hosts = int(corvane::RaceControl::sweepList().size());
    for (auto _ : state) {
        bool done = false;
        control.scanNetwork([&done](const QStringList &) { done = true; });
        if (!QTest::qWaitFor([&done] { return done; }, 30000)) {
            state.SkipWithError("scan did not finish");
            return;
        }
    }
    state.counters["hosts"] = hosts;
}

BENCHMARK(BM_RaceScanSilentNetwork)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
