#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

// A car set-up written as words, e.g. "esc=992,172,1811 gear=2 gearLimit=25 throttle=1". A pedal
// below 1 reads exactly that value: its output range is pinned to it and it is pressed fully.
// After the start, the pedals and the gear are set, then the actions run in their order
// ("loungePit=30 tick=20 release press unplug down=9 up=9"); without a tick the car ticks twice.
struct Car
{
    AxisSettings s = TransmitRig::plainSettings();
    float throttle = 0.0f;
    float brake = 0.0f;
    float wheel = 0.0f;
    int gear = 0; // 1..7, -1 reverse (default shifter buttons); 0 no shifter
    QList<QPair<QString, int>> actions;

    bool parse(const QString &setup)
    {
        static const QStringList actionKeys{"tick", "release", "press", "unplug", "down", "up",
                                            "loungePit", "loungeSpeed", "noReverse", "stopped"};
        for (const TransmitRig::SetupWord &w : TransmitRig::setupWords(setup)) {
            const QString &key = w.key;
            const float f = w.numbers.value(0);
            if (actionKeys.contains(key)) {
                actions.append({key, w.integer(0)});
            } else if (key == "throttle" || key == "brake") {
                (key == "throttle" ? throttle : brake) = f;
                AxisConfig &axis = key == "throttle" ? s.throttle : s.brake;
                if (f < 1.0f)
                    axis.minOutput = axis.maxOutput = f;
            } else if (key == "wheel") {
                wheel = f;
            } else if (key == "steer" && w.numbers.size() == 3) {
                s.steeringLeft = w.integer(0);
                s.steeringCenter = w.integer(1);
                s.steeringRight = w.integer(2);
            } else if (key == "deadzone") {
                s.steering.deadzone = f;
            } else if (key == "calibrated") { // calibration points -0.5, 0, 0.5
                s.steering.useCalibration = true;
                s.steering.inputMin = -0.5f;
                s.steering.inputMax = 0.5f;
            } else if (key == "angle") {
                s.steeringAngleDeg = w.integer(0);
            } else if (key == "esc" && w.numbers.size() == 3) {
                s.escMode = 2;
                s.escNeutral = w.integer(0);
                s.escFullForward = w.integer(1);
                s.escFullReverse = w.integer(2);
            } else if (key == "gear") {
                gear = w.integer(0);
            } else if (key == "gearLimit") {
                s.gearThrottleLimitEnabled = true;
                s.gearThrottleLimitPercent.fill(w.integer(0));
            } else if (key == "reverse") {
                s.reverseEnabled = true;
                s.reverseMaxPercent = w.integer(0);
            } else if (key == "reverseButton") {
                s.reverseEnabled = true;
                s.reverseButtonIndex = w.integer(0);
            } else if (key == "pit") {
                s.pitLimiterEnabled = true;
                s.pitLimiterValue = w.integer(0);
            } else if (key == "soft" && w.numbers.size() == 2) {
                s.softStartEnabled = true;
                s.softStartDurationSec = w.integer(0);
                s.softStartFloorPercent = w.integer(1);
            } else if (key == "decel") {
                s.smoothDeceleration = true;
                s.decelRate = w.integer(0);
            } else if (key == "stuck") {
                s.stuckThrottleDetectionEnabled = true;
            } else {
                return false;
            }
        }
        if (std::none_of(actions.cbegin(), actions.cend(), [](const auto &a) { return a.first == "tick"; }))
            actions.append({"tick", 2});
        return true;
    }

    // Starts the car with these settings, engages the gear and sets the pedals and the wheel.
    bool start(TransmitRig &rig) const
    {
        if (!rig.startCar(s, gear != 0))
            return false;
        if (gear != 0)
            rig.setButton(rig.shifter, gear == -1 ? 7 : gear - 1, true);
        rig.wheel->setAxis(0, wheel);
        rig.pedals->setAxis(1, throttle > 0.0f ? 1.0f : -1.0f);
        rig.pedals->setAxis(2, brake > 0.0f ? 1.0f : -1.0f);
        return rig.controller->currentGear() == gear;
    }

    void run(TransmitRig &rig) const
    {
        for (const auto &[key, n] : actions) {
            if (key == "tick") {
                rig.tick(n);
            } else if (key == "release" || key == "press") {
                rig.pedals->setAxis(1, key == "press" ? 1.0f : -1.0f);
                rig.tick();
            } else if (key == "unplug") {
                rig.pedals->unplug();
            } else if (key == "down" || key == "up") {
                rig.setButton(rig.wheel, n, key == "down");
            } else if (key == "loungePit") {
                rig.controller->setLoungePitLimiter(true, n);
            } else if (key == "loungeSpeed") {
                rig.controller->setLoungeSpeedCap(true, n);
            } else if (key == "noReverse") {
                rig.controller->setLoungeReverseAllowed(false);
            } else if (key == "stopped") {
                rig.controller->raceControlStop(QStringLiteral("red flag"));
            }
        }
    }
};

} // namespace

class TestCarTick : public QObject
{
    Q_OBJECT

private slots:
    void channel_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *name, const char *setup, int channel, int expected) {
            QTest::newRow(name) << QString::fromLatin1(setup) << channel << expected;
        };

        row("steering full left", "wheel=-1", 0, 0);
        row("steering centre", "", 0, 1023);
        row("steering full right", "wheel=1", 0, 2047);
        row("dead zone swallows a small turn", "deadzone=0.5 wheel=0.3", 0, 1023);
        row("half the rotation reaches full lock", "angle=450 wheel=0.6", 0, 2047);
        row("custom end points, full left", "steer=1000,1500,2000 deadzone=0.5 wheel=-1", 0, 1000);
        row("custom full right ignores the dead zone", "steer=1000,1500,2000 deadzone=0.9 wheel=1", 0, 2000);
        row("custom trim off centre", "steer=100,900,1900", 0, 900);
        row("calibrated half travel is full lock", "calibrated wheel=0.6", 0, 2047);
        row("custom, calibrated half travel left", "steer=1000,1500,2000 calibrated wheel=-0.6", 0, 1000);

        row("released", "", 1, 992);
        row("full throttle", "throttle=1", 1, 1811);
        row("throttle inside the dead band", "throttle=0.0244", 1, 992);
        row("half throttle", "throttle=0.5", 1, 1391);
        row("light brake halves the throttle", "throttle=1 brake=0.05", 1, 1391);
        row("brake at 0.1 is neutral", "brake=0.1", 1, 992);
        row("brake 0.55 in single precision", "brake=0.55", 1, 581);
        row("full brake", "brake=1", 1, 172);
        row("custom ESC full forward", "esc=1500,2000,1000 throttle=1", 1, 2000);
        row("custom ESC full brake", "esc=1500,2000,1000 brake=1", 1, 1000);

        row("pit limiter caps at its value", "pit=1200 throttle=1", 1, 1200);
        row("pit limiter below neutral never brakes", "pit=700", 1, 992);
        row("gear limits without a shifter hold neutral", "gearLimit=100 throttle=1", 1, 992);
        row("third gear at 50 percent", "gear=3 gearLimit=50 throttle=1", 1, 1401);
        row("negative gear limit holds neutral", "gear=3 gearLimit=-40 throttle=1", 1, 992);
        row("reverse gear full throttle", "gear=-1 reverse=100 throttle=1", 1, 172);
        row("reverse limited to half", "gear=-1 reverse=50 throttle=1", 1, 582);
        row("negative reverse maximum never drives forward", "gear=-1 reverse=-100 throttle=1", 1, 992);
        row("lounge forbids reverse", "gear=-1 reverse=100 throttle=1 noReverse", 1, 992);
        row("brake in reverse is neutral", "gear=-1 reverse=100 throttle=1 brake=1", 1, 992);

        // An ESC set up reversed: forward lies below neutral, and limits hold back that side.
        row("reversed ESC, speed cap, pedals up", "esc=992,172,1811 loungeSpeed=50", 1, 992);
        row("reversed ESC, speed cap, full throttle", "esc=992,172,1811 loungeSpeed=50 throttle=1", 1, 582);
        row("reversed ESC, gear limit, pedals up", "esc=992,172,1811 gear=2 gearLimit=25", 1, 992);
        row("reversed ESC, gear limit, full throttle", "esc=992,172,1811 gear=2 gearLimit=25 throttle=1", 1, 787);
        row("reversed ESC, pit limiter, pedals up", "esc=992,172,1811 pit=800", 1, 992);
        row("reversed ESC, pit limiter, full throttle", "esc=992,172,1811 pit=800 throttle=1", 1, 800);
        row("reversed ESC, pit limiter, full brake", "esc=992,172,1811 pit=800 brake=1", 1, 1811);

        row("lounge pit limiter 30 percent", "loungePit=30 throttle=1", 1, 1237);
        row("lower of lounge caps wins", "loungePit=30 loungeSpeed=20 throttle=1", 1, 1155);
        row("lounge cap of 100 does nothing", "loungeSpeed=100 throttle=1", 1, 1811);
        row("race control stop", "stopped throttle=1", 1, 992);

        // 7 ms into 30 s: limit 0.10021, just above the floor of ten percent; 3003 ms: 0.19009.
        row("soft start, first tick", "soft=30,10 throttle=1 tick=1", 1, 1055);
        row("soft start, three seconds in", "soft=30,10 throttle=1 tick=429", 1, 1131);
        row("soft start over", "soft=30,10 throttle=1 tick=4286", 1, 1811);
        // More milliseconds than an int holds: still ramps from the floor.
        row("soft start of a very long duration", "soft=3000000,10 throttle=1 tick=10", 1, 1055);

        row("stuck throttle: pressed from the first tick, held", "stuck throttle=1 tick=20", 1, 992);
        row("stuck throttle: released and pressed again", "stuck throttle=1 tick=20 release press", 1, 1811);
        row("pedals unplugged at full throttle: the next tick", "throttle=1 tick=1 unplug tick=1", 1, 992);
        row("pedals unplugged at full throttle: later on", "throttle=1 tick=1 unplug tick=50", 1, 992);
        row("smooth deceleration at rate 20, first step", "decel=20 throttle=1 tick=1 release", 1, 1809);
        row("smooth deceleration at rate 100, first step", "decel=100 throttle=1 tick=1 release", 1, 1810);
        // A negative stored rate must not raise the throttle when the pedal is let go.
        row("negative deceleration rate coasts like rate 0", "decel=-20 throttle=1 tick=1 release", 1, 1804);
        row("reverse button pressed", "reverseButton=9 throttle=1 down=9", 1, 172);
        row("reverse button let go stays in reverse", "reverseButton=9 throttle=1 down=9 up=9", 1, 172);
        row("reverse button pressed again", "reverseButton=9 throttle=1 down=9 up=9 down=9", 1, 1811);
    }

    void channel()
    {
        QFETCH(QString, setup);
        QFETCH(int, channel);
        QFETCH(int, expected);

        Car car;
        QVERIFY2(car.parse(setup), qPrintable(setup));
        TransmitRig rig;
        QVERIFY(car.start(rig));
        car.run(rig);
        QCOMPARE(rig.ch(channel), expected);
        QVERIFY(rig.controller->isRunning());
        QCOMPARE(rig.ch(2), 0);
        QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
        QCOMPARE(rig.tx.lastChannels()[size_t(channel)], expected);
    }

    void throttleSpikeStopsAfterSendingNeutral()
    {
        TransmitRig rig;
        AxisSettings s = TransmitRig::plainSettings();
        s.throttleSpikeRejectionEnabled = true;
        QVERIFY(rig.startCar(s));
        rig.tick(3);
        const uint framesBefore = rig.controller->frameCount();

        rig.pedals->setAxis(1, 1.0f);
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

    void smoothDecelerationCoastsThenSnaps_data()
    {
        QTest::addColumn<int>("decelRate");
        QTest::newRow("rate 20") << 20;
        QTest::newRow("negative rate") << -20;
    }

    void smoothDecelerationCoastsThenSnaps()
    {
        QFETCH(int, decelRate);

        TransmitRig rig;
        AxisSettings s = TransmitRig::plainSettings();
        s.smoothDeceleration = true;
        s.decelRate = decelRate;
        QVERIFY(rig.startCar(s));
        rig.pedals->setAxis(1, 1.0f);
        rig.tick();
        rig.pedals->setAxis(1, -1.0f);
        int previous = 1811;
        for (int ticks = 0; rig.ch(1) != 992 && ticks < 20000; ++ticks) {
            rig.tick();
            QVERIFY2(rig.ch(1) <= previous, "coasting never raises the throttle");
            if (rig.ch(1) != 992)
                previous = rig.ch(1);
        }
        QCOMPARE(rig.ch(1), 992);
        // The last coasting value lies within 7.5 % of neutral (74.4) plus one step of it.
        QVERIFY2(previous > 992 && previous <= 1066 + 3, qPrintable(QString::number(previous)));
    }

    // Whoever hears of reverse mode during a tick may stop the car: that tick's frame must not
    // follow the "STOP".
    void stopDuringTickSendsNoFrame()
    {
        TransmitRig rig;
        AxisSettings s = TransmitRig::plainSettings();
        s.reverseEnabled = true;
        s.reverseButtonIndex = 9;
        QVERIFY(rig.startCar(s));
        rig.tick();
        QObject::connect(rig.controller.get(), &corvane::CorvaneController::reverseModeChanged,
                         rig.controller.get(), &corvane::CorvaneController::stopTransmission);
        rig.setButton(rig.wheel, 9, true);
        QVERIFY(!rig.controller->isRunning());
        QVERIFY(rig.tx.waitForLine("STOP"));
        QVERIFY(rig.tx.rawReceived().endsWith("STOP\n"));
        QCOMPARE(rig.tx.channelFrameCount(), int(rig.controller->frameCount()));
    }

    void setReverseMode_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QVariantList>("signal"); // empty: none
        QTest::addColumn<int>("expected");

        QTest::newRow("switched on") << "reverse=100 throttle=1" << true << QVariantList{true} << 172;
        QTest::newRow("already off") << "reverse=100 throttle=1" << false << QVariantList{} << 1811;
        QTest::newRow("reverse not allowed") << "throttle=1" << true << QVariantList{false} << 1811;
        QTest::newRow("off in reverse gear stays reverse") << "gear=-1 reverse=100 throttle=1" << false << QVariantList{} << 172;
        QTest::newRow("on in reverse gear") << "gear=-1 reverse=100 throttle=1" << true << QVariantList{true} << 172;
    }

    void setReverseMode()
    {
        QFETCH(QString, setup);
        QFETCH(bool, on);
        QFETCH(QVariantList, signal);
        QFETCH(int, expected);

        Car car;
        QVERIFY(car.parse(setup));
        TransmitRig rig;
        QVERIFY(car.start(rig));
        QSignalSpy spy(rig.controller.get(), &corvane::CorvaneController::reverseModeChanged);
        rig.controller->setReverseMode(on);
        QCOMPARE(spy.count(), signal.isEmpty() ? 0 : 1);
        if (!signal.isEmpty())
            QCOMPARE(spy.first(), signal);
        rig.tick();
        QCOMPARE(rig.ch(1), expected);
    }
};

OSTRA_TEST_MAIN_CORE(TestCarTick)
#include "tst_cartick.moc"
