#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

constexpr float Released = -1.0f;
constexpr float Full = 1.0f;

// One car set-up and pedal position. Throttle and brake below 1 are made exact by pinning the
// axis output range, so the pedal pressed fully reads exactly that value.
struct CarCase
{
    float throttle = 0.0f;
    float brake = 0.0f;
    int escNeutral = -1; // -1: standard end points
    int escForward = 1811;
    int escReverse = 172;
    int gear = 0; // shifter button for gears 1..7, -1 reverse; 0 no gear engaged
    bool shifter = false;
    bool gearLimits = false;
    int gearPercent = 100;
    bool reverseEnabled = false;
    int reverseMaxPercent = 100;
    bool pitLimiter = false;
    int pitLimiterValue = 1200;
    int loungePit = -1;
    int loungeSpeed = -1;
    bool loungeReverse = true;
    bool loungeStopped = false;
};

// A pedal that reads exactly `value` when pressed fully: its output range is pinned to it.
void pinPedal(AxisConfig &config, float value)
{
    if (value > 0.0f && value < 1.0f) {
        config.minOutput = value;
        config.maxOutput = value;
    }
}

float pedalPosition(float value)
{
    return value > 0.0f ? Full : Released;
}

} // namespace

Q_DECLARE_METATYPE(CarCase)

class TestCarTick : public QObject
{
    Q_OBJECT

private slots:
    void steeringChannel_data();
    void steeringChannel();
    void throttleChannel_data();
    void throttleChannel();
    void stuckThrottleHoldsUntilReleased();
    void throttleSpikeStopsAfterSendingNeutral();
    void softStartLimitsThrottle();
    void smoothDecelerationCoastsThenSnaps_data();
    void smoothDecelerationCoastsThenSnaps();
    void raceControlStopHoldsNeutral();
    void pedalsUnpluggedAtFullThrottle();
    void wheelBaseUnpluggedStops();
    void ledPowerOnChannel12();
    void reverseButtonToggles();
    void stopDuringTickSendsNoFrame();
    void setReverseMode_data();
    void setReverseMode();
};

void TestCarTick::steeringChannel_data()
{
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("center");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("angle");
    QTest::addColumn<float>("deadzone");
    QTest::addColumn<float>("wheel");
    QTest::addColumn<bool>("calibrated"); // calibration points -0.5, 0, 0.5
    QTest::addColumn<int>("expected");

    QTest::newRow("default full left") << 0 << 1024 << 2047 << 0 << 0.0f << -1.0f << false << 0;
    QTest::newRow("default centre") << 0 << 1024 << 2047 << 0 << 0.0f << 0.0f << false << 1023;
    QTest::newRow("default full right") << 0 << 1024 << 2047 << 0 << 0.0f << 1.0f << false << 2047;
    QTest::newRow("dead zone swallows small turn") << 0 << 1024 << 2047 << 0 << 0.5f << 0.3f << false << 1023;
    QTest::newRow("half the rotation reaches full lock") << 0 << 1024 << 2047 << 450 << 0.0f << 0.6f << false << 2047;
    QTest::newRow("custom centre") << 1000 << 1500 << 2000 << 0 << 0.5f << 0.0f << false << 1500;
    QTest::newRow("custom full left") << 1000 << 1500 << 2000 << 0 << 0.5f << -1.0f << false << 1000;
    QTest::newRow("custom full right ignores dead zone") << 1000 << 1500 << 2000 << 0 << 0.9f << 1.0f << false << 2000;
    QTest::newRow("calibrated half travel is full lock") << 0 << 1024 << 2047 << 0 << 0.0f << 0.6f << true << 2047;
    QTest::newRow("custom, calibrated half travel left") << 1000 << 1500 << 2000 << 0 << 0.0f << -0.6f << true << 1000;
    QTest::newRow("custom, calibrated centre") << 1000 << 1500 << 2000 << 0 << 0.0f << 0.0f << true << 1500;
    QTest::newRow("custom trim off centre") << 100 << 900 << 1900 << 0 << 0.0f << 0.0f << false << 900;
}

void TestCarTick::steeringChannel()
{
    QFETCH(int, left);
    QFETCH(int, center);
    QFETCH(int, right);
    QFETCH(int, angle);
    QFETCH(float, deadzone);
    QFETCH(float, wheel);
    QFETCH(bool, calibrated);
    QFETCH(int, expected);

    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.steering.deadzone = deadzone;
    s.steering.useCalibration = calibrated;
    s.steering.inputMin = -0.5f;
    s.steering.inputMax = 0.5f;
    s.steeringAngleDeg = angle;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.controller->setSteeringCalibration(left, center, right);
    rig.wheel->setAxis(0, wheel);
    rig.tick();
    QCOMPARE(rig.ch(0), expected);
}

void TestCarTick::throttleChannel_data()
{
    QTest::addColumn<CarCase>("c");
    QTest::addColumn<int>("expected");

    CarCase c;
    QTest::newRow("released") << c << 992;
    c.throttle = Full;
    QTest::newRow("full throttle") << c << 1811;
    c.throttle = 0.0244f;
    QTest::newRow("throttle inside the dead band") << c << 992;
    c.throttle = 0.5f;
    QTest::newRow("half throttle") << c << 1391;
    c = CarCase();
    c.throttle = Full;
    c.brake = 0.05f;
    QTest::newRow("light brake halves the throttle") << c << 1391;
    c = CarCase();
    c.brake = 0.1f;
    QTest::newRow("brake at 0.1 is neutral") << c << 992;
    c.brake = 0.55f;
    QTest::newRow("brake 0.55 in single precision") << c << 581;
    c.brake = Full;
    QTest::newRow("full brake") << c << 172;

    c = CarCase();
    c.escNeutral = 1500;
    c.escForward = 2000;
    c.escReverse = 1000;
    c.throttle = Full;
    QTest::newRow("custom ESC full forward") << c << 2000;
    c.throttle = 0.0f;
    c.brake = Full;
    QTest::newRow("custom ESC full brake") << c << 1000;

    c = CarCase();
    c.throttle = Full;
    c.pitLimiter = true;
    QTest::newRow("pit limiter caps at its value") << c << 1200;
    c.pitLimiterValue = 700;
    c.throttle = 0.0f;
    QTest::newRow("pit limiter below neutral never brakes") << c << 992;

    c = CarCase();
    c.throttle = Full;
    c.gearLimits = true;
    QTest::newRow("gear limits without a shifter hold neutral") << c << 992;
    c.shifter = true;
    c.gear = 3;
    c.gearPercent = 50;
    QTest::newRow("third gear at 50 percent") << c << 1401;
    c.gearPercent = -40;
    QTest::newRow("negative gear limit holds neutral") << c << 992;

    c = CarCase();
    c.throttle = Full;
    c.shifter = true;
    c.gear = -1;
    c.reverseEnabled = true;
    QTest::newRow("reverse gear full throttle") << c << 172;
    c.reverseMaxPercent = 50;
    QTest::newRow("reverse limited to half") << c << 582;
    c.reverseMaxPercent = -100;
    QTest::newRow("negative reverse maximum never drives forward") << c << 992;
    c.reverseMaxPercent = 100;
    c.loungeReverse = false;
    QTest::newRow("lounge forbids reverse") << c << 992;
    c.loungeReverse = true;
    c.brake = Full;
    QTest::newRow("brake in reverse is neutral") << c << 992;

    // An ESC set up reversed: forward lies below neutral, and limits hold back that side.
    c = CarCase();
    c.escNeutral = 992;
    c.escForward = 172;
    c.escReverse = 1811;
    c.loungeSpeed = 50;
    QTest::newRow("reversed ESC, speed cap, pedals up") << c << 992;
    c.throttle = Full;
    QTest::newRow("reversed ESC, speed cap, full throttle") << c << 582;
    c.loungeSpeed = -1;
    c.shifter = true;
    c.gearLimits = true;
    c.gear = 2;
    c.gearPercent = 25;
    c.throttle = 0.0f;
    QTest::newRow("reversed ESC, gear limit, pedals up") << c << 992;
    c.throttle = Full;
    QTest::newRow("reversed ESC, gear limit, full throttle") << c << 787;
    c = CarCase();
    c.escNeutral = 992;
    c.escForward = 172;
    c.escReverse = 1811;
    c.pitLimiter = true;
    c.pitLimiterValue = 800;
    QTest::newRow("reversed ESC, pit limiter, pedals up") << c << 992;
    c.throttle = Full;
    QTest::newRow("reversed ESC, pit limiter, full throttle") << c << 800;
    c.brake = Full;
    c.throttle = 0.0f;
    QTest::newRow("reversed ESC, pit limiter, full brake") << c << 1811;

    c = CarCase();
    c.throttle = Full;
    c.loungePit = 30;
    QTest::newRow("lounge pit limiter 30 percent") << c << 1237;
    c.loungeSpeed = 20;
    QTest::newRow("lower of lounge caps wins") << c << 1155;
    c.loungePit = -1;
    c.loungeSpeed = 100;
    QTest::newRow("lounge cap of 100 does nothing") << c << 1811;
    c.loungeSpeed = -1;
    c.loungeStopped = true;
    QTest::newRow("race control stop") << c << 992;
}

void TestCarTick::throttleChannel()
{
    QFETCH(CarCase, c);
    QFETCH(int, expected);

    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    if (c.escNeutral >= 0) {
        s.escMode = 2;
        s.escNeutral = c.escNeutral;
        s.escFullForward = c.escForward;
        s.escFullReverse = c.escReverse;
    }
    s.gearThrottleLimitEnabled = c.gearLimits;
    s.gearThrottleLimitPercent.fill(c.gearPercent);
    s.reverseEnabled = c.reverseEnabled;
    s.reverseMaxPercent = c.reverseMaxPercent;
    s.pitLimiterEnabled = c.pitLimiter;
    s.pitLimiterValue = c.pitLimiterValue;
    pinPedal(s.throttle, c.throttle);
    pinPedal(s.brake, c.brake);
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar(true, c.shifter));
    QVERIFY(rig.start());
    if (c.loungePit >= 0)
        rig.controller->setLoungePitLimiter(true, c.loungePit);
    if (c.loungeSpeed >= 0)
        rig.controller->setLoungeSpeedCap(true, c.loungeSpeed);
    rig.controller->setLoungeReverseAllowed(c.loungeReverse);
    if (c.loungeStopped)
        rig.controller->raceControlStop(QStringLiteral("red flag"));
    if (c.gear != 0) {
        const int button = c.gear == -1 ? 7 : c.gear - 1; // default shifter mapping
        rig.setButton(rig.shifter, button, true);
        QCOMPARE(rig.controller->currentGear(), c.gear);
    }

    rig.pedals->setAxis(1, pedalPosition(c.throttle));
    rig.pedals->setAxis(2, pedalPosition(c.brake));
    rig.tick(2);
    QCOMPARE(rig.ch(1), expected);
    QCOMPARE(rig.ch(2), 0);
    QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
    QCOMPARE(rig.tx.lastChannels()[1], expected);
}

void TestCarTick::stuckThrottleHoldsUntilReleased()
{
    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.stuckThrottleDetectionEnabled = true;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());

    rig.pedals->setAxis(1, Full); // read at full on the very first tick
    rig.tick(20);
    QCOMPARE(rig.ch(1), 992);
    QVERIFY(rig.controller->isRunning());

    rig.pedals->setAxis(1, Released);
    rig.tick();
    QCOMPARE(rig.ch(1), 992);
    rig.pedals->setAxis(1, Full);
    rig.tick();
    QCOMPARE(rig.ch(1), 1811);
}

void TestCarTick::throttleSpikeStopsAfterSendingNeutral()
{
    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.throttleSpikeRejectionEnabled = true;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.tick(3);
    const uint framesBefore = rig.controller->frameCount();

    rig.pedals->setAxis(1, Full);
    rig.tick();
    QCOMPARE(rig.controller->frameCount(), framesBefore + 1);
    QCOMPARE(rig.ch(1), 992);
    QVERIFY(rig.controller->isRunning()); // the stop waits until the tick has sent its frame

    QTRY_VERIFY(!rig.controller->isRunning());
    QCOMPARE(rig.lastError(),
             QStringLiteral("Transmission stopped for safety: impossible throttle spike detected. "
                            "Verify the pedals and press Start Transmission again."));
    QVERIFY(rig.tx.waitForLine("STOP"));
    QCOMPARE(rig.tx.lastChannels()[1], 992);
    QCOMPARE(rig.tx.stopCount(), 1);
}

void TestCarTick::softStartLimitsThrottle()
{
    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.softStartEnabled = true;
    s.softStartDurationSec = 30;
    s.softStartFloorPercent = 10;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.pedals->setAxis(1, Full);

    rig.tick();
    // 7 ms into 30 s: limit 0.10021, just above the floor of ten percent.
    QCOMPARE(rig.ch(1), 1055);
    rig.tick(428); // 3003 ms: limit 0.19009
    QCOMPARE(rig.ch(1), 1131);
    rig.tick(4286 - 429); // past 30 s the ramp has ended
    QCOMPARE(rig.ch(1), 1811);

    // A duration beyond what milliseconds fit in an int still ramps from the floor.
    rig.controller->stopTransmission();
    s.softStartDurationSec = 3000000;
    QVERIFY(rig.controller->setAxisSettings(s));
    rig.pedals->setAxis(1, Released);
    rig.pollAll();
    QVERIFY(rig.start());
    rig.pedals->setAxis(1, Full);
    rig.tick(10);
    QCOMPARE(rig.ch(1), 1055);
}

void TestCarTick::smoothDecelerationCoastsThenSnaps_data()
{
    QTest::addColumn<int>("decelRate");
    QTest::addColumn<int>("firstStep");

    QTest::newRow("rate 20") << 20 << 1809;
    QTest::newRow("rate 100") << 100 << 1810;
    // A negative stored rate must not raise the throttle when the pedal is let go.
    QTest::newRow("negative rate coasts like rate 0") << -20 << 1804;
}

void TestCarTick::smoothDecelerationCoastsThenSnaps()
{
    QFETCH(int, decelRate);
    QFETCH(int, firstStep);

    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.smoothDeceleration = true;
    s.decelRate = decelRate;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.pedals->setAxis(1, Full);
    rig.tick();
    QCOMPARE(rig.ch(1), 1811);

    rig.pedals->setAxis(1, Released);
    rig.tick();
    QCOMPARE(rig.ch(1), firstStep);
    int previous = rig.ch(1);
    int ticks = 1;
    while (rig.ch(1) != 992 && ticks < 20000) {
        rig.tick();
        ++ticks;
        QVERIFY2(rig.ch(1) <= previous, "coasting never raises the throttle");
        if (rig.ch(1) != 992)
            previous = rig.ch(1);
    }
    QCOMPARE(rig.ch(1), 992);
    // The last coasting value lies within 7.5 % of neutral (74.4) plus one step of it.
    QVERIFY2(previous > 992 && previous <= 1066 + 3, qPrintable(QString::number(previous)));
}

void TestCarTick::raceControlStopHoldsNeutral()
{
    TransmitRig rig;
    ButtonMappingSet mappings;
    ButtonMapping horn;
    horn.buttonIndex = 5;
    horn.channel = 3;
    horn.outputValue = 1800;
    horn.startValue = 200;
    mappings.mappings << horn;
    QVERIFY(rig.controller->setAxisSettings(TransmitRig::plainSettings()));
    QVERIFY(rig.controller->setButtonMappings(mappings));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.pedals->setAxis(1, Full);
    rig.tick();
    QCOMPARE(rig.ch(1), 1811);

    rig.controller->raceControlStop(QStringLiteral("red flag"));
    for (float throttle : {1.0f, 0.2f, -1.0f, 1.0f}) {
        rig.pedals->setAxis(1, throttle);
        rig.tick();
        QCOMPARE(rig.ch(1), 992);
    }
    rig.wheel->setAxis(0, -1.0f);
    rig.setButton(rig.wheel, 5, true);
    QCOMPARE(rig.ch(0), 0);
    QCOMPARE(rig.ch(3), 1800);
    QCOMPARE(rig.ch(1), 992);
    QVERIFY(rig.controller->isRunning());
    QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
    QCOMPARE(rig.tx.lastChannels()[1], 992);
}

void TestCarTick::pedalsUnpluggedAtFullThrottle()
{
    TransmitRig rig;
    QVERIFY(rig.controller->setAxisSettings(TransmitRig::plainSettings()));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.pedals->setAxis(1, Full);
    rig.tick();
    QCOMPARE(rig.ch(1), 1811);

    rig.pedals->unplug();
    rig.tick();
    QCOMPARE(rig.ch(1), 992);
    rig.tick(50);
    QCOMPARE(rig.ch(1), 992);
    QVERIFY(rig.controller->isRunning());
    QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
    QCOMPARE(rig.tx.lastChannels()[1], 992);
}

void TestCarTick::wheelBaseUnpluggedStops()
{
    TransmitRig rig;
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.tick();
    const uint frames = rig.controller->frameCount();
    rig.wheel->unplug();
    rig.tick();
    QVERIFY(!rig.controller->isRunning());
    QCOMPARE(rig.controller->frameCount(), frames);
    QVERIFY(rig.errors->contains(QVariantList{QStringLiteral("Wheel base disconnected")}));
}

void TestCarTick::ledPowerOnChannel12()
{
    TransmitRig rig;
    QVERIFY(rig.connectCar());
    LedSettings led = rig.controller->ledSettings();
    QVERIFY(led.powerOn);
    QVERIFY(rig.start());
    rig.tick();
    QCOMPARE(rig.ch(11), 2047);
}

void TestCarTick::reverseButtonToggles()
{
    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.reverseEnabled = true;
    s.reverseButtonIndex = 9;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    QSignalSpy reverse(rig.controller.get(), &corvane::CorvaneController::reverseModeChanged);
    rig.pedals->setAxis(1, Full);
    rig.tick();
    QCOMPARE(rig.ch(1), 1811);

    rig.setButton(rig.wheel, 9, true);
    QCOMPARE(reverse.count(), 1);
    QCOMPARE(reverse.last().at(0).toBool(), true);
    QVERIFY(rig.controller->isReverseActive());
    QCOMPARE(rig.ch(1), 172);
    rig.setButton(rig.wheel, 9, false);
    QCOMPARE(reverse.count(), 1);
    rig.setButton(rig.wheel, 9, true);
    QCOMPARE(reverse.count(), 2);
    QCOMPARE(rig.ch(1), 1811);
}

// Whoever hears of reverse mode during a tick may stop the car; that tick's frame must not
// follow the "STOP".
void TestCarTick::stopDuringTickSendsNoFrame()
{
    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.reverseEnabled = true;
    s.reverseButtonIndex = 9;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar());
    QVERIFY(rig.start());
    rig.tick();
    QObject::connect(rig.controller.get(), &corvane::CorvaneController::reverseModeChanged,
                     rig.controller.get(), &corvane::CorvaneController::stopTransmission);
    rig.setButton(rig.wheel, 9, true);
    QVERIFY(!rig.controller->isRunning());
    QVERIFY(rig.tx.waitForLine("STOP"));
    QVERIFY(rig.tx.rawReceived().endsWith("STOP\n"));
    QCOMPARE(rig.tx.channelFrameCount(), int(rig.controller->frameCount()));
}

void TestCarTick::setReverseMode_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("reverseGear");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QVariantList>("signal"); // empty: none
    QTest::addColumn<bool>("active");

    QTest::newRow("switched on") << true << false << true << QVariantList{true} << true;
    QTest::newRow("already off") << true << false << false << QVariantList{} << false;
    QTest::newRow("reverse not allowed") << false << false << true << QVariantList{false} << false;
    QTest::newRow("off in reverse gear stays reverse") << true << true << false << QVariantList{} << true;
    QTest::newRow("on in reverse gear") << true << true << true << QVariantList{true} << true;
}

void TestCarTick::setReverseMode()
{
    QFETCH(bool, enabled);
    QFETCH(bool, reverseGear);
    QFETCH(bool, on);
    QFETCH(QVariantList, signal);
    QFETCH(bool, active);

    TransmitRig rig;
    AxisSettings s = TransmitRig::plainSettings();
    s.reverseEnabled = enabled;
    QVERIFY(rig.controller->setAxisSettings(s));
    QVERIFY(rig.connectCar(true, true));
    if (reverseGear) {
        rig.shifter->setButton(7, true);
        for (int i = 0; i < 4; ++i)
            rig.controller->updateCurrentGear();
    }
    QSignalSpy spy(rig.controller.get(), &corvane::CorvaneController::reverseModeChanged);
    rig.controller->setReverseMode(on);
    QCOMPARE(spy.count(), signal.isEmpty() ? 0 : 1);
    if (!signal.isEmpty())
        QCOMPARE(spy.first(), signal);
    QCOMPARE(rig.controller->isReverseActive(), active);
}

OSTRA_TEST_MAIN_CORE(TestCarTick)
#include "tst_cartick.moc"
