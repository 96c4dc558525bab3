// Cost of one car page refresh after a monitor tick (MainWindow::onInputChanged) while
// transmitting: the gauge, the three pedal meters, the gear and the 16 channel cells, on the
// real main window with virtual devices and a pseudo-terminal transmitter. The repaints it
// schedules are measured apart, as one paint of the whole window at 1280 x 800.

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>

#include "app/mainwindow.h"
#include "bench/benchmarkmain.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "ostraui/pagestack.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "support/simulatedtransmitter.h"

namespace {

// The theme goes in once, before the first window is built.
struct ThemeFirst
{
    ThemeFirst()
    {
        static const bool installed = (ostra::installTheme(*qApp), true);
        Q_UNUSED(installed);
    }
};

struct CarPageRig
{
    CarPageRig()
    {
        corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
        input->reset();
        wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base")));
        pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA SRP Pedals")));
        window.resize(1280, 800);
        window.showPage(MainWindow::CarPage);
        window.findChild<ostra::PageStack *>()->finishTransition();
        corvane::CorvaneController *c = window.controller();
        ok = c->connectWheelBase(0) && c->connectPedals(1) && c->connectTransmitter(tx.portName(), 115200)
             && tx.waitFor([c] { return c->isTransmitterAuthorized(); });
        c->updateCurrentGear();
        c->startTransmission();
        ok = ok && c->isRunning();
    }

    // Moves the wheel and the throttle a little, as a driver does between two ticks.
    void move(int step)
    {
        wheel->setAxis(0, std::sin(step * 0.05f));
        pedals->setAxis(1, std::cos(step * 0.03f));
        window.controller()->wheelBase()->poll();
        window.controller()->pedals()->poll();
    }

    ThemeFirst theme;
    MainWindow window;
    ostratest::SimulatedTransmitter tx;
    corvane::VirtualInputDevice *wheel = nullptr;
    corvane::VirtualInputDevice *pedals = nullptr;
    bool ok = false;
};

void BM_OnInputChanged(benchmark::State &state)
{
    CarPageRig rig;
    if (!rig.ok) {
        state.SkipWithError("devices did not connect");
        return;
    }
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        rig.move(++step);
        state.ResumeTiming();
        rig.window.onInputChanged();
    }
    rig.window.controller()->stopTransmission();
}
BENCHMARK(BM_OnInputChanged)->Unit(benchmark::kMicrosecond);

// What the refresh costs on screen: one paint of the whole window with the car page shown.
void BM_CarPagePaint(benchmark::State &state)
{
    CarPageRig rig;
    if (!rig.ok) {
        state.SkipWithError("devices did not connect");
        return;
    }
    QImage image(rig.window.size(), QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        rig.move(++step);
        rig.window.onInputChanged();
        state.ResumeTiming();
        QPainter painter(&image);
        rig.window.render(&painter);
    }
    rig.window.controller()->stopTransmission();
}
BENCHMARK(BM_CarPagePaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    qputenv("OSTRA_INPUT_BACKEND", "virtual");
    return runBenchmarks<QApplication>(argc, argv);
}
