// Cost of adding one ESC preset through the profile store and through the app's request, with
// the list already holding N presets (N = 0 and 199: the first and the 200th preset, the most the
// store takes), and of the list a client fetches after the change. Each create hands the whole
// presets file to the writer: timed is what that costs the thread of the 7 ms tick (the change,
// the file's bytes, the hand-over); the writer's thread writes it while the timing pauses.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>

#include <benchmark/benchmark.h>

#include "api/wsescpresethandler.h"
#include "bench/benchmarkmain.h"
#include "bridge/corvanecontroller.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"
#include "tests/bridge/transmitrig.h"

namespace {

QString storeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
}

// A presets file of `count` presets, as if made one by one, for the next store to load.
void writePresets(int count)
{
    QDir(storeFolder()).removeRecursively();
    QDir().mkpath(storeFolder());
    QJsonArray presets;
    for (int i = 0; i < count; ++i) {
        presets.append(QJsonObject{{"id", QUuid::createUuid().toString(QUuid::WithoutBraces)},
                                   {"name", QStringLiteral("Preset %1").arg(i)},
                                   {"neutral", 992},
                                   {"fullForward", 1811},
                                   {"fullReverse", 172}});
    }
    QFile file(storeFolder() + QStringLiteral("/esc_presets.json"));
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(QJsonObject{{"version", 1}, {"presets", presets}}).toJson(QJsonDocument::Indented));
}

// Creates one preset per iteration (timed) and deletes it again (not timed), so every iteration
// starts from the same count, with the writer done.
template <typename Create, typename Remove>
void createAtCount(benchmark::State &state, Create create, Remove remove)
{
    for (auto _ : state) {
        const QString id = create();
        state.PauseTiming();
        if (id.isEmpty()) {
            state.SkipWithError("refused");
            break;
        }
        remove(id);
        while (!corvane::FileWriter::shared().isIdle())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.ResumeTiming();
    }
}

void BM_StoreCreateEscPreset(benchmark::State &state)
{
    writePresets(int(state.range(0)));
    corvane::ProfileManager store;
    createAtCount(
        state, [&] { return store.createEscPreset(QStringLiteral("Bench"), 1000, 1800, 200); },
        [&](const QString &id) { store.deleteEscPreset(id); });
}
BENCHMARK(BM_StoreCreateEscPreset)->Arg(0)->Arg(199)->Unit(benchmark::kMillisecond)->UseRealTime();

// The app's request, with the push to subscribed clients that follows every change.
struct RequestRig
{
    explicit RequestRig(int presets)
    {
        // The rig starts from an empty data folder: the presets come after it.
        writePresets(presets);
        rig.controller->profileManager()->loadEscPresets();
        QObject::connect(&handler, &corvane::WsHandler::pushEvent, &handler,
                         [this](const QString &, const QJsonObject &data) { pushed += data.size(); });
    }

    ostratest::TransmitRig rig;
    corvane::WsEscPresetHandler handler{rig.controller.get(), nullptr};
    qsizetype pushed = 0;
};

void BM_RequestCreateEscPreset(benchmark::State &state)
{
    RequestRig api(int(state.range(0)));
    const QJsonObject request{{"name", "Bench"}, {"neutral", 1000}, {"fullForward", 1800}, {"fullReverse", 200}};
    createAtCount(
        state,
        [&] {
            const QJsonObject reply = api.handler.handleEvent(QStringLiteral("action_create_esc_preset"), request);
            return reply.value("data").toObject().value("id").toString();
        },
        [&](const QString &id) { api.rig.controller->profileManager()->deleteEscPreset(id); });
}
BENCHMARK(BM_RequestCreateEscPreset)->Arg(0)->Arg(199)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a client pays to fetch the list again after the push.
void BM_RequestEscPresetList(benchmark::State &state)
{
    RequestRig api(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(api.handler.handleEvent(QStringLiteral("get_esc_presets"), {}));
}
BENCHMARK(BM_RequestEscPresetList)->Arg(1)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QCoreApplication>(argc, argv);
}
