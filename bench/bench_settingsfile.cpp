// What one settings change costs the thread of the 7 ms tick when the settings file is large (a
// hand-made file of 1 MB and 10 MB beside the program's own keys). "Change" times the call alone;
// "Stored" times it and everything that thread does until the writer has reported the change on
// disk (the wait itself costs it nothing). The CPU column is the GUI thread's own time; the real
// time of "Stored" includes the disk.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "platform/storage/filewriter.h"
#include "platform/storage/settingsfile.h"

namespace {

// Sections of hand-written keys, up to about `bytes`, and the program's own theme key.
void writeLargeFile(const QString &path, qint64 bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray text("[ui]\ntheme=dark\n");
    for (int section = 0; text.size() < bytes; ++section) {
        text += "\n[notes" + QByteArray::number(section) + "]\n";
        for (int key = 0; key < 100 && text.size() < bytes; ++key)
            text += "line" + QByteArray::number(key) + "=" + QByteArray(60, char('a' + key % 26)) + "\n";
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

void waitForWriter()
{
    while (!corvane::FileWriter::shared().isIdle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void BM_SettingsChange(benchmark::State &state, bool untilStored)
{
    const QString application = QStringLiteral("Bench %1").arg(state.range(0));
    writeLargeFile(corvane::SettingsFile(application).fileName(), state.range(0) << 20);
    corvane::SettingsFile settings(application);
    int value = 0;
    for (auto _ : state) {
        settings.setValue(QStringLiteral("ui/reduceMotion"), ++value % 2 == 0);
        if (!untilStored)
            state.PauseTiming();
        waitForWriter();
        if (!untilStored)
            state.ResumeTiming();
    }
}
// A fixed count: each change waits for its write, whatever the change cost.
BENCHMARK_CAPTURE(BM_SettingsChange, Change, false)->Arg(1)->Arg(10)->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SettingsChange, Stored, true)->Arg(1)->Arg(10)->Iterations(40)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QCoreApplication>(argc, argv);
}
