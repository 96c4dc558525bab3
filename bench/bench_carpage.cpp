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
        c->readControllers();
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
    rig.window.controller()->stopTransmissionAndHold();
}
BENCHMARK(BM_OnInputChanged)->Unit(benchmark::kMicrosecond);

// What one refresh costs on screen: the window shown at 1280 x 800 repaints the region of the
// widgets a monitor tick changes (gauge, meters and their values, gear, channel cells), with
// everything under them, as the backing store does between two ticks.
void BM_CarPageTickRepaint(benchmark::State &state)
{
    CarPageRig rig;
    if (!rig.ok) {
        state.SkipWithError("devices did not connect");
        return;
    }
    rig.window.show();
    QCoreApplication::processEvents();
    // Argument: 0 everything a tick changes, 1 the gauge, 2 the meters, 3 the channel cells,
    // 4 a single pixel (what any repaint of this window costs, whatever is under it).
    const int part = int(state.range(0));
    QRegion dirty;
    const QList<QWidget *> live = rig.window.findChildren<QWidget *>();
    for (QWidget *widget : live) {
        const QByteArray type = widget->metaObject()->className();
        const bool gauge = type == "corvane::SteeringGaugeWidget" || widget->objectName() == QLatin1String("gearLabel");
        const bool meter = type == "ostra::Meter";
        const bool cell = type == "ostra::ChannelCell";
        if ((part == 0 && (gauge || meter || cell)) || (part == 1 && gauge) || (part == 2 && meter) || (part == 3 && cell))
            dirty += QRect(widget->mapTo(&rig.window, QPoint(0, 0)), widget->size());
    }
    if (part == 4)
        dirty = QRect(600, 790, 1, 1);
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        rig.move(++step);
        rig.window.onInputChanged();
        state.ResumeTiming();
        rig.window.repaint(dirty);
    }
    state.counters["rects"] = dirty.rectCount();
    rig.window.controller()->stopTransmissionAndHold();
}
BENCHMARK(BM_CarPageTickRepaint)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

// One paint of the whole window with the car page shown, for comparison.
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
    rig.window.controller()->stopTransmissionAndHold();
}
BENCHMARK(BM_CarPagePaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    silenceLogs();
    qputenv("OSTRA_INPUT_BACKEND", "virtual");
    return runBenchmarks<QApplication>(argc, argv);
}
