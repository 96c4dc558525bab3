// Time for a full RF parameter walk: "WALKRF" out, "FIELD" lines back from a simulated
// transmitter on a pseudo-terminal, decoded by the controller's parameter manager.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "bridge/elrsparametermanager.h"
#include "support/simulatedtransmitter.h"
#include "bench/benchmarkmain.h"

using corvane::CorvaneController;
using corvane::ElrsParameterManager;
using ostratest::SimulatedTransmitter;

namespace {

// The typical module's fields, padded with further text selections up to `count`.
QList<SimulatedTransmitter::Field> fieldsOf(int count)
{
    QList<SimulatedTransmitter::Field> fields = SimulatedTransmitter::typicalFields();
    const QStringList options { "Off", "Low", "Mid", "High", "Max" };
    for (int id = 30; fields.size() < count; ++id) {
        fields.append({ quint8(id), SimulatedTransmitter::textSelectionEntry(
                                        0, "Option " + QByteArray::number(id), options, 2, 0, 4, 0, "lvl") });
    }
    return fields;
}

void BM_ElrsParameterWalk(benchmark::State &state)
{
    const int count = int(state.range(0));
    SimulatedTransmitter tx;
    tx.setFields(fieldsOf(count));
    CorvaneController controller;
    if (!controller.connectTransmitter(tx.portName(), 420000)) {
        state.SkipWithError("transmitter port did not open");
        return;
    }
    controller.startConfigMode();
    ElrsParameterManager *manager = controller.elrsParameterManager();
    int parameters = 0;
    for (auto _ : state) {
        QSignalSpy complete(manager, &ElrsParameterManager::discoveryComplete);
        manager->startDiscovery();
        if (!complete.wait(5000)) {
            state.SkipWithError("walk did not complete");
            return;
        }
        parameters = int(manager->parameters().size());
    }
    state.counters["parameters"] = parameters;
    state.SetItemsProcessed(state.iterations() * parameters);
}

BENCHMARK(BM_ElrsParameterWalk)->Arg(10)->Arg(60)->Arg(200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QCoreApplication>(argc, argv);
}
