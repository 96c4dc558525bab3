// Cost of one force-bar repaint in the wheel force-feedback dialog. The force loop reports a new
// level up to every 20 ms on the thread that runs the 7 ms channel tick; each level repaints the
// bar and what lies under it in the dialog's translucent card.

#include <QApplication>

#include <cmath>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "dialogs/ffbbar.h"
#include "dialogs/wheelffbdialog.h"
#include "tests/support/transmitrig.h"

namespace {

void BM_FfbBarInDialog(benchmark::State &state)
{
    ostratest::TransmitRig rig;
    corvane::WheelFfbDialog dialog(rig.controller.get());
    dialog.show();
    QApplication::processEvents();
    float t = 0.0f;
    for (auto _ : state) {
        t += 0.05f;
        emit rig.controller->ffbLevelReceived(std::sin(t));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
}
BENCHMARK(BM_FfbBarInDialog)->Unit(benchmark::kMicrosecond);

// The bar alone across a 1280 px window, the widest it is shown.
void BM_FfbBarWide(benchmark::State &state)
{
    corvane::FfbBar bar;
    bar.resize(1280, 22);
    bar.show();
    QApplication::processEvents();
    float t = 0.0f;
    for (auto _ : state) {
        t += 0.05f;
        bar.setLevel(std::sin(t));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
}
BENCHMARK(BM_FfbBarWide)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    return runBenchmarks<QApplication>(argc, argv);
}
