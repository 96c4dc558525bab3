#include <QCoreApplication>
#include <QTest>

#include <functional>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

using Settings = std::function<void(AxisSettings &)>;
using Act = std::function<void(TransmitRig &)>;

Settings esc(int neutral, int forward, int back)
{
    return [=](AxisSettings &s) {
        s.escMode = 2;
        s.escNeutral = neutral;
        s.escFullForward = forward;
        s.escFullReverse = back;
    };
}

Settings pit(int value)
{
    return [=](AxisSettings &s) { s.pitLimiterEnabled = true; s.pitLimiterValue = value; };
}

Settings gearLimit(int percent)
{
    return [=](AxisSettings &s) { s.gearThrottleLimitEnabled = true; s.gearThrottleLimitPercent.fill(percent); };
}

Settings reverse(int max, int button = -1)
{
    return [=](AxisSettings &s) { s.reverseEnabled = true; s.reverseMaxPercent = max; s.reverseButtonIndex = button; };
}

Settings softStart(int seconds)
{
    return [=](AxisSettings &s) { s.softStartEnabled = true; s.softStartDurationSec = seconds; };
}

Settings decel(int rate)
{
    return [=](AxisSettings &s) { s.smoothDeceleration = true; s.decelRate = rate; };
}

Act ticks(int count)
{
    return [=](TransmitRig &rig) { rig.tick(count); };
}

// Starts a car in this gear (1..7, -1 reverse; 0 without a shifter) with the pedals pressed
// fully when above 0; a pedal below 1 reads exactly its value, its output range pinned to it.
bool startCar(TransmitRig &rig, const Settings &change, int gear, float throttle, float brake, float wheel = 0)
{
    AxisSettings s = TransmitRig::plainSettings();
    if (change)
        change(s);
    if (throttle > 0.0f && throttle < 1.0f)
        s.throttle.minOutput = s.throttle.maxOutput = throttle;
    if (brake > 0.0f && brake < 1.0f)
        s.brake.minOutput = s.brake.maxOutput = brake;
    if (!rig.startCar(s, gear != 0))
        return false;
    if (gear != 0)
        rig.setButton(rig.shifter, gear == -1 ? 7 : gear - 1, true);
    rig.wheel->setAxis(0, wheel);
    rig.pedals->setAxis(1, throttle > 0.0f ? 1.0f : -1.0f);
    rig.pedals->setAxis(2, brake > 0.0f ? 1.0f : -1.0f);
    return rig.controller->currentGear() == gear;
}

} // namespace

Q_DECLARE_METATYPE(Settings)
Q_DECLARE_METATYPE(Act)

class TestCarTick : public QObject
{
    Q_OBJECT

private slots:
    void steering_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<float>("wheel");
        QTest::addColumn<int>("ch1");
        const Settings none;
        const Settings endPoints = [](AxisSettings &s) {
            s.steeringLeft = 1000;
            s.steeringCenter = 1500;
            s.steeringRight = 2000;
            s.steering.deadzone = 0.5f;
        };
        QTest::newRow("full left") << none << -1.0f << 0;
        const Settings deadZone = [](AxisSettings &s) { s.steering.deadzone = 0.5f; };
        QTest::newRow("dead zone swallows a small turn") << deadZone << 0.3f << 1023;
        QTest::newRow("half the rotation reaches full lock")
            << Settings([](AxisSettings &s) { s.steeringAngleDeg = 450; }) << 0.6f << 2047;
        QTest::newRow("custom end points, full left") << endPoints << -1.0f << 1000;
        QTest::newRow("calibrated half travel is full lock") << Settings([](AxisSettings &s) {
            s.steering.useCalibration = true;
            s.steering.inputMin = -0.5f;
            s.steering.inputMax = 0.5f;
        }) << 0.6f << 2047;
    }

    void steering()
    {
        QFETCH(Settings, settings);
        QFETCH(float, wheel);
        QFETCH(int, ch1);
        TransmitRig rig;
        QVERIFY(startCar(rig, settings, 0, 0, 0, wheel));
        rig.tick(2);
        QCOMPARE(rig.ch(0), ch1);
    }

    void throttle_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<int>("gear");
        QTest::addColumn<float>("throttle");
        QTest::addColumn<float>("brake");
        QTest::addColumn<Act>("act"); // after the start; without one the car ticks twice
        QTest::addColumn<int>("ch2");
        const auto row = [](const char *name, const Settings &settings, int gear, float throttle, float brake,
                            const Act &act, int ch2) {
            QTest::newRow(name) << settings << gear << throttle << brake << (act ? act : ticks(2)) << ch2;
        };
        const Settings none;
        const Act twice;
        const Act noReverse = [](TransmitRig &rig) { rig.controller->setLoungeReverseAllowed(false); rig.tick(2); };
        const Act speedCap = [](TransmitRig &rig) { rig.controller->setLoungeSpeedCap(true, 50); rig.tick(2); };
        const Act releaseAndPress = [](TransmitRig &rig) {
            rig.tick(20);
            rig.releasePedals();
            rig.tick();
            rig.pedals->setAxis(1, 1.0f);
            rig.tick();
        };
        const Act unplug = [](TransmitRig &rig) {
            rig.tick();
            rig.pedals->unplug();
            rig.tick();
            QCOMPARE(rig.ch(1), 992);
            rig.tick(50);
        };
        const Act letGo = [](TransmitRig &rig) { rig.tick(); rig.releasePedals(); rig.tick(); };
        const Act reverseButton = [](TransmitRig &rig) { rig.setButton(rig.wheel, 9, true); };

        row("full throttle", none, 0, 1, 0, twice, 1811);
        row("throttle inside the dead band", none, 0, 0.0244f, 0, twice, 992);
        row("half throttle", none, 0, 0.5f, 0, twice, 1391);
        row("light brake halves the throttle", none, 0, 1, 0.05f, twice, 1391);
        row("brake 0.55 in single precision", none, 0, 0, 0.55f, twice, 581);
        row("pit limiter caps at its value", pit(1200), 0, 1, 0, twice, 1200);
        row("third gear at 50 percent", gearLimit(50), 3, 1, 0, twice, 1401);
        row("reverse limited to half", reverse(50), -1, 1, 0, twice, 582);
        row("negative reverse maximum never drives forward", reverse(-100), -1, 1, 0, twice, 992);
        row("lounge forbids reverse", reverse(100), -1, 1, 0, noReverse, 992);
        // An ESC set up reversed: forward lies below neutral, and the cap holds back that side.
        row("reversed ESC, speed cap, full throttle", esc(992, 172, 1811), 0, 1, 0, speedCap, 582);
        // 7 ms into 30 s: limit 0.10021, just above the floor of ten percent.
        row("soft start, first tick", softStart(30), 0, 1, 0, ticks(1), 1055);
        // More milliseconds than an int holds: still ramps from the floor.
        row("soft start of a very long duration", softStart(3000000), 0, 1, 0, ticks(10), 1055);
        const Settings stuck = [](AxisSettings &s) { s.stuckThrottleDetectionEnabled = true; };
        row("stuck throttle: pressed from the first tick, held", stuck, 0, 1, 0, ticks(20), 992);
        row("stuck throttle: released and pressed again", stuck, 0, 1, 0, releaseAndPress, 1811);
        row("pedals unplugged at full throttle: the next tick and on", none, 0, 1, 0, unplug, 992);
        row("smooth deceleration, first step", decel(20), 0, 1, 0, letGo, 1809);
        // A negative stored rate must not raise the throttle when the pedal is let go.
        row("negative deceleration rate coasts like rate 0", decel(-20), 0, 1, 0, letGo, 1804);
        row("reverse button pressed", reverse(100, 9), 0, 1, 0, reverseButton, 172);
    }

    void throttle()
    {
        QFETCH(Settings, settings);
        QFETCH(int, gear);
        QFETCH(float, throttle);
        QFETCH(float, brake);
        QFETCH(Act, act);
        QFETCH(int, ch2);
        TransmitRig rig;
        QVERIFY(startCar(rig, settings, gear, throttle, brake));
        act(rig);
        QCOMPARE(rig.ch(1), ch2);
        QVERIFY(rig.controller->isRunning());
        QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
        QCOMPARE(rig.tx.lastChannels()[1], ch2);
    }

    void throttleSpikeStopsAfterSendingNeutral()
    {
        TransmitRig rig;
        AxisSettings s = TransmitRig::plainSettings();
        s.throttleSpikeRejectionEnabled = true;
        QVERIFY(rig.startCar(s));
        rig.tick(3);
        rig.pedals->setAxis(1, 1.0f);
        rig.tick();
        QCOMPARE(rig.ch(1), 992);
        QVERIFY(rig.controller->isRunning()); // the stop waits until the tick has sent its frame
        QTRY_VERIFY(!rig.controller->isRunning());
        QCOMPARE(rig.lastError(),
                 QStringLiteral("Transmission stopped for safety: impossible throttle spike detected. "
                                "Verify the pedals and press Start Transmission again."));
        QVERIFY(rig.tx.waitForLine("STOP"));
        QCOMPARE(rig.tx.lastChannels()[1], 992);
        QCOMPARE(rig.tx.channelFrameCount(), 4);
    }

    // Whoever hears of reverse mode during a tick may stop the car: that tick's frame must not
    // follow the "STOP".
    void stopDuringTickSendsNoFrame()
    {
        TransmitRig rig;
        QVERIFY(startCar(rig, reverse(100, 9), 0, 0, 0));
        rig.tick();
        QObject::connect(rig.controller.get(), &corvane::CorvaneController::reverseModeChanged,
                         rig.controller.get(), &corvane::CorvaneController::stopTransmission);
        rig.setButton(rig.wheel, 9, true);
        QVERIFY(rig.tx.waitForLine("STOP"));
        QVERIFY(rig.tx.rawReceived().endsWith("STOP\n"));
        QCOMPARE(rig.tx.channelFrameCount(), int(rig.controller->frameCount()));
    }
};

OSTRA_TEST_MAIN_CORE(TestCarTick)
#include "tst_cartick.moc"
