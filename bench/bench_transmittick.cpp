// Cost of one 7 ms transmit tick, car and helicopter, with every feature of the tick in use:
// mean and 99th percentile per tick, the frame write to a pseudo-terminal included.

#include <QCoreApplication>
#include <QMetaMethod>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "bridge/corvanecontroller.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "support/ptydevice.h"
#include "bench/benchmarkmain.h"

namespace {

using corvane::CorvaneController;
using corvane::VirtualDeviceSpec;
using corvane::VirtualInputDevice;

ButtonMapping mapping(int button, int channel, int mode, int output)
{
    ButtonMapping m;
    m.buttonIndex = button;
    m.channel = channel;
    m.mode = mode;
    m.outputValue = output;
    m.startValue = 300;
    m.extraButtons = {button + 1};
    return m;
}

// A controller transmitting to a pseudo-terminal with virtual devices, ticked by hand.
struct Rig
{
    explicit Rig(bool helicopter)
    {
        corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
        input->reset();
        wheel = input->addDevice(VirtualDeviceSpec(QStringLiteral("MOZA R9 Base")));
        pedals = input->addDevice(VirtualDeviceSpec(QStringLiteral("MOZA SRP Pedals")));
        shifter = input->addDevice(VirtualDeviceSpec(QStringLiteral("MOZA HGP Shifter")));
        stick = input->addDevice(VirtualDeviceSpec(QStringLiteral("Virtual Flight Stick")));
        lever = input->addDevice(VirtualDeviceSpec(QStringLiteral("Virtual Throttle Quadrant")));
        rudder = input->addDevice(VirtualDeviceSpec(QStringLiteral("Virtual Rudder Pedals")));
        for (VirtualInputDevice *device : {wheel, pedals, shifter, stick, lever, rudder}) {
            for (int axis = 0; axis < 8; ++axis)
                device->setAxis(axis, -1.0f);
        }

        controller = std::make_unique<CorvaneController>();
        ButtonMappingSet set;
        const int first = helicopter ? 4 : 2;
        const int last = helicopter ? 15 : 11;
        for (int ch = first; ch <= last; ++ch)
            set.mappings << mapping(ch * 2 + (helicopter && ch > 9 ? 160 : 0), ch, ch % 5, 1500 + ch);
        set.mappings[0].activatesPitLimiter = true;
        controller->setButtonMappings(set);

        if (helicopter) {
            controller->profileManager()->mutableActiveProfile()->vehicleType = QString(VehicleType::Helicopter);
            HelicopterConfig cfg = controller->helicopterConfig();
            cfg.fly.armAtIdle = false;
            cfg.fly.softStart = true;
            cfg.fly.softStartSec = 3600;
            cfg.fly.pitchCurve.enabled = true;
            cfg.fly.throttleCurve.enabled = true;
            cfg.fly.arm.enabled = true;
            cfg.inputs.pedals.differential = true;
            cfg.inputs.pedals.axis2 = 4;
            controller->setHelicopterConfig(cfg);
            controller->heliJoystick()->open(3);
            controller->heliThrottle()->open(4);
            controller->heliPedals()->open(5);
        } else {
            AxisSettings s;
            s.softStartDurationSec = 3600;
            s.smoothDeceleration = true;
            s.gearThrottleLimitEnabled = true;
            s.gearThrottleLimitPercent.fill(80);
            s.reverseEnabled = true;
            s.reverseButtonIndex = 30;
            s.steeringAngleDeg = 540;
            s.throttle.curve = 1;
            s.brake.curve = 2;
            s.steering.expo = 0.3f;
            controller->setAxisSettings(s);
            controller->wheelBase()->open(0);
            controller->pedals()->open(1);
            controller->shifter()->open(2);
            controller->setLoungePitLimiter(true, 70);
            controller->setLoungeSpeedCap(true, 90);
        }
        controller->connectTransmitter(pty.slavePath(), 115200);
        controller->updateCurrentGear(); // a first read of every device, pedals up
        controller->startTransmission();
        // The benchmark ticks by hand: the 7 ms timer stays still.
        for (QTimer *timer : controller->findChildren<QTimer *>()) {
            if (timer->interval() == 7)
                timer->stop();
        }
        if (helicopter)
            controller->setHeliArmed(true);
        const int index = controller->metaObject()->indexOfSlot("onTransmitTimer()");
        tickMethod = controller->metaObject()->method(index);
    }

    ~Rig()
    {
        controller.reset();
        corvane::VirtualInputBackend::instance()->reset();
    }

    bool running() const { return controller->isRunning(); }

    // Inputs move every tick, as a driver's would.
    void move(int n)
    {
        const float phase = std::sin(float(n) * 0.01f);
        wheel->setAxis(0, phase);
        pedals->setAxis(1, 0.2f + 0.5f * phase * phase);
        shifter->setButton(2, true);
        stick->setAxis(0, phase);
        stick->setAxis(4, -phase);
        lever->setAxis(5, phase);
        rudder->setAxis(3, phase * 0.5f);
    }

    void tick() { tickMethod.invoke(controller.get(), Qt::DirectConnection); }

    // Lets the serial port flush and the terminal drain, outside the timed part.
    void flush()
    {
        QCoreApplication::processEvents();
        pty.drain();
    }

    ostratest::PtyDevice pty;
    VirtualInputDevice *wheel = nullptr;
    VirtualInputDevice *pedals = nullptr;
    VirtualInputDevice *shifter = nullptr;
    VirtualInputDevice *stick = nullptr;
    VirtualInputDevice *lever = nullptr;
    VirtualInputDevice *rudder = nullptr;
    std::unique_ptr<CorvaneController> controller;
    QMetaMethod tickMethod;
};

void runTicks(benchmark::State &state, bool helicopter)
{
    Rig rig(helicopter);
    if (!rig.running()) {
        state.SkipWithError("transmission did not start");
        return;
    }
    std::vector<double> samples;
    samples.reserve(1 << 20);
    int n = 0;
    for (auto _ : state) {
        rig.move(n);
        const auto begin = std::chrono::steady_clock::now();
        rig.tick();
        const auto end = std::chrono::steady_clock::now();
        if (samples.size() < samples.capacity())
            samples.push_back(std::chrono::duration<double, std::nano>(end - begin).count());
        if (++n % 128 == 0) {
            state.PauseTiming();
            rig.flush();
            state.ResumeTiming();
        }
    }
    if (!rig.running()) {
        state.SkipWithError("transmission stopped during the run");
        return;
    }
    if (samples.empty())
        return;
    double sum = 0.0;
    for (double s : samples)
        sum += s;
    std::sort(samples.begin(), samples.end());
    state.counters["tick_mean_ns"] = sum / double(samples.size());
    state.counters["tick_p99_ns"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
}

void BM_CarTick(benchmark::State &state)
{
    runTicks(state, false);
}

void BM_HelicopterTick(benchmark::State &state)
{
    runTicks(state, true);
}

BENCHMARK(BM_CarTick);
BENCHMARK(BM_HelicopterTick);

} // namespace

int main(int argc, char **argv)
{
    // The tick's periodic diagnostic line is formatted but not printed.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return runBenchmarks<QCoreApplication>(argc, argv);
}
