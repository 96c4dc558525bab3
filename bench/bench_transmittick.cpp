// Cost of one 7 ms transmit tick, car and helicopter, with every feature of the tick in use:
// mean and 99th percentile per tick, up to the frame handed to the serial port's write buffer.
// The port writes it to the pseudo-terminal later, from the event loop, outside the timed part.

#include <QCoreApplication>
#include <QMetaMethod>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "bench/benchmarkmain.h"
#include "bridge/corvanecontroller.h"
#include "profiles/profile.h"
#include "tests/support/transmitrig.h"

namespace {

using ostratest::TransmitRig;

ButtonMapping mapping(int button, int channel, int mode, int output)
{
    ButtonMapping m = TransmitRig::buttonMapping(button, channel, mode, output, 300);
    m.extraButtons = {button + 1};
    return m;
}

// The test rig with every feature of the tick switched on, ticked by hand.
struct Rig
{
    explicit Rig(bool helicopter)
    {
        corvane::CorvaneController *controller = base.controller.get();
        ButtonMappingSet set;
        const int first = helicopter ? 4 : 2;
        const int last = helicopter ? 15 : 11;
        for (int ch = first; ch <= last; ++ch)
            set.mappings << mapping(ch * 2 + (helicopter && ch > 9 ? 160 : 0), ch, ch % 5, 1500 + ch);
        set.mappings[0].activatesPitLimiter = true;
        controller->setButtonMappings(set);

        if (helicopter) {
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
            base.connectHelicopter();
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
            base.connectCar(true, true);
            controller->setLoungePitLimiter(true, 70);
            controller->setLoungeSpeedCap(true, 90);
        }
        base.start();
        if (helicopter)
            controller->setHeliArmed(true);
        const int index = controller->metaObject()->indexOfSlot("onTransmitTimer()");
        tickMethod = controller->metaObject()->method(index);
    }

    bool running() const { return base.controller->isRunning(); }

    // Inputs move every tick, as a driver's would.
    void move(int n)
    {
        const float phase = std::sin(float(n) * 0.01f);
        base.wheel->setAxis(0, phase);
        base.pedals->setAxis(1, 0.2f + 0.5f * phase * phase);
        base.shifter->setButton(2, true);
        base.joystick->setAxis(0, phase);
        base.joystick->setAxis(4, -phase);
        base.lever->setAxis(5, phase);
        base.rudder->setAxis(3, phase * 0.5f);
    }

    // Invoked through a looked-up method, so the timed part holds no name lookup.
    void tick() { tickMethod.invoke(base.controller.get(), Qt::DirectConnection); }

    // Lets the serial port flush and the simulated transmitter drain, outside the timed part.
    void flush() { QCoreApplication::processEvents(); }

    TransmitRig base;
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
    silenceLogs();
    return runBenchmarks<QCoreApplication>(argc, argv);
}
