#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <functional>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

using Config = std::function<void(HelicopterConfig &)>;
using Act = std::function<void(TransmitRig &)>;

// Connects the joystick (roll on axis 0), the rudder pedals and the lever (axis 5) if asked,
// takes a configuration without an idle check or soft start unless changed, and starts.
bool startHeli(TransmitRig &rig, const Config &change, bool withLever, float roll, float lever)
{
    if (!rig.connectHelicopter(withLever, withLever))
        return false;
    HelicopterConfig cfg;
    cfg.fly.armAtIdle = false;
    if (change)
        change(cfg);
    rig.controller->setHelicopterConfig(cfg);
    rig.joystick->setAxis(0, roll);
    rig.lever->setAxis(5, lever);
    return rig.start();
}

} // namespace

Q_DECLARE_METATYPE(Config)
Q_DECLARE_METATYPE(Act)

class TestHelicopterTick : public QObject
{
    Q_OBJECT

private slots:
    void channels_data()
    {
        QTest::addColumn<Config>("config");
        QTest::addColumn<float>("roll");
        QTest::addColumn<float>("lever");
        QTest::addColumn<Act>("act"); // after the start; without one a single tick
        QTest::addColumn<QList<int>>("expected"); // channel index, value pairs
        const auto row = [](const char *name, const Config &config, float roll, float lever, const Act &act,
                            const QList<int> &expected) {
            const Act once = [](TransmitRig &rig) { rig.tick(); };
            QTest::newRow(name) << config << roll << lever << (act ? act : once) << expected;
        };
        const Act once;
        const Config sport = [](HelicopterConfig &c) { c.fly.dualRates.activeMode = 1; };
        const Config throttleCurve = [](HelicopterConfig &c) { c.fly.throttleCurve.enabled = true; };
        const Config outOfRange = [](HelicopterConfig &c) {
            c.fly.throttleCurve.enabled = true;
            c.fly.motorChannel = 16;
            c.fly.arm.enabled = true;
            c.fly.arm.channel = -1;
        };
        const Config armSwitch = [](HelicopterConfig &c) { c.fly.arm.enabled = true; c.fly.arm.channel = 4; };
        const Config softStart = [](HelicopterConfig &c) { c.fly.softStart = true; c.fly.softStartSec = 1; };
        const Config noRates = [](HelicopterConfig &c) { c.fly.dualRates.enabled = false; };
        const Act arm = [](TransmitRig &rig) { rig.controller->setHeliArmed(true); rig.tick(); };
        // A lever connected in place of another during the run, at its top: the collective and
        // the motor stay low until a report of the lever's axis has shown it down, as a start would
        // refuse it up; another axis of the device may report first.
        const auto swapLever = [](float atOpen, const QList<float> &reports, int first = -1) {
            return [=](TransmitRig &rig) {
                corvane::VirtualInputDevice *spare = rig.input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Spare Throttle")));
                spare->setAxis(5, atOpen);
                QVERIFY(rig.controller->connectHeliThrottle(int(rig.input->devices().size()) - 1));
                rig.tick();
                if (first >= 0) {
                    spare->setAxis(first, -1.0f);
                    rig.tick();
                }
                for (const float at : reports) {
                    spare->setAxis(5, at);
                    rig.tick(6);
                }
            };
        };
        // The roll jumps to full after a first tick at the centre.
        const auto jump = [](int ticks) {
            return [=](TransmitRig &rig) { rig.tick(); rig.joystick->setAxis(0, 1); rig.tick(ticks); };
        };

        row("sport rate full roll", sport, 1, -1, once, {0, 1648, 1, 992, 2, 172, 3, 992});
        row("throttle curve drives the motor channel", throttleCurve, 0, 1, once, {5, 1811});
        row("motor and arm channels out of range are ignored", outOfRange, 0, 1, once, {5, 0, 15, 0, 0, 992});
        row("armed switch", armSwitch, 0, -1, arm, {4, 1811});
        row("collective soft start, first tick", softStart, 0, 1, once, {2, 172});
        row("lever replaced during the run, at its top", throttleCurve, 0, -1, swapLever(1, {1}), {2, 172, 5, 172});
        row("replaced lever once down, then up", throttleCurve, 0, -1, swapLever(1, {1, -1, 1}), {2, 1811, 5, 1811});
        row("replaced lever read down at open, reported up", throttleCurve, 0, -1, swapLever(-1, {1}), {2, 172, 5, 172});
        row("replaced lever read down at open, another axis reported first", throttleCurve, 0, -1,
            swapLever(-1, {1}, 0), {2, 172, 5, 172});
        // The car's throttle hold is the car's: a pedal set connected meanwhile leaves the lever alone.
        const Act carPedals = [](TransmitRig &rig) { QVERIFY(rig.controller->connectPedals(TransmitRig::PedalsPos)); rig.tick(); };
        row("car pedals connected during the run", throttleCurve, 0, 1, carPedals, {2, 1811, 5, 1811});
        row("glitch filter holds a jump four ticks", noRates, 0, -1, jump(4), {0, 992});
        row("glitch filter lets it through on the fifth", noRates, 0, -1, jump(5), {0, 1811});
    }

    void channels()
    {
        QFETCH(Config, config);
        QFETCH(float, roll);
        QFETCH(float, lever);
        QFETCH(Act, act);
        QFETCH(QList<int>, expected);
        TransmitRig rig;
        QVERIFY(startHeli(rig, config, true, roll, lever));
        act(rig);
        QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
        for (int i = 0; i + 1 < expected.size(); i += 2) {
            QCOMPARE(rig.ch(expected.at(i)), expected.at(i + 1));
            QCOMPARE(rig.tx.lastChannels()[size_t(expected.at(i))], expected.at(i + 1));
        }
        // What the app and the page are told is what the frame carried.
        const HelicopterConfig cfg = rig.controller->helicopterConfig();
        const std::array<int, 4> primary{cfg.channels.roll, cfg.channels.pitch, cfg.channels.throttle, cfg.channels.rudder};
        for (size_t k = 0; k < primary.size(); ++k)
            QCOMPARE(rig.controller->heliLiveOutput(cfg).values[k], rig.tx.lastChannels()[size_t(primary[k])]);
    }

    // Devices opened and never moved, whatever axes they have: the stick and a single rudder axis
    // send where they rest (centred; an axis the device lacks as well), the lever stays low
    // (reversed or not, calibrated or not, on an axis it lacks too) and so does the motor, split
    // pedals resting up mix to a centred rudder. Beginner rates: a full stick would be 500 or 1484.
    // Arm at idle would refuse the start with a lever not yet seen: what is sent is what is tested.
    void restingControls_data()
    {
        QTest::addColumn<int>("stickAxes");
        QTest::addColumn<int>("leverAxes"); // 0: no throttle device
        QTest::addColumn<int>("pedalAxes"); // 0: no pedals; axes 0 and 4 rest up
        QTest::addColumn<Config>("change");
        QTest::addColumn<QList<int>>("expected"); // roll, pitch, collective, rudder, CH5 where given
        const Config none;
        const Config split = [](HelicopterConfig &c) { c.inputs.pedals = {{}, 0, 4, true}; };
        const Config reversedLever = [](HelicopterConfig &c) {
            c.inputs.throttle.axis = 7;
            c.calibration.throttle.inverted = true;
        };
        // The lever on its Z axis, which rests at the middle of its travel; the motor on CH5.
        const auto reversedOnZ = [](bool calibrated) {
            return Config([=](HelicopterConfig &c) {
                c.calibration.throttle.inverted = true;
                c.calibration.throttle.useCalibration = calibrated;
                c.calibration.throttle.inputMin = -0.8f;
                c.calibration.throttle.inputMax = 0.9f;
                c.fly.throttleCurve.enabled = true;
                c.fly.motorChannel = 4;
            });
        };
        QTest::newRow("4-axis stick, lever, 6-axis rudder bar") << 4 << 3 << 6 << none << QList<int>{992, 992, 172, 992};
        QTest::newRow("8-axis stick, lever, pedals") << 8 << 8 << 8 << none << QList<int>{992, 992, 172, 992};
        QTest::newRow("one-axis stick: no pitch axis") << 1 << 3 << 6 << none << QList<int>{992, 992, 172, 992};
        QTest::newRow("one-axis pedals: no rudder axis") << 4 << 3 << 1 << none << QList<int>{992, 992, 172, 992};
        QTest::newRow("two-axis pedals: no rudder axis") << 4 << 3 << 2 << none << QList<int>{992, 992, 172, 992};
        QTest::newRow("two split pedals") << 4 << 3 << 2 << split << QList<int>{992, 992, 172, 992};
        QTest::newRow("reversed lever on an axis not there") << 4 << 3 << 6 << reversedLever
                                                            << QList<int>{992, 992, 172, 992};
        QTest::newRow("reversed lever at its middle") << 4 << 3 << 6 << reversedOnZ(false)
                                                     << QList<int>{992, 992, 172, 992, 172};
        QTest::newRow("reversed, calibrated lever at its middle") << 4 << 3 << 6 << reversedOnZ(true)
                                                                 << QList<int>{992, 992, 172, 992, 172};
        // Without a lever the collective reads 0 (about half).
        QTest::newRow("no throttle, no pedals") << 4 << 0 << 0 << none << QList<int>{992, 992, 975, 992};
    }

    void restingControls()
    {
        QFETCH(int, stickAxes);
        QFETCH(int, leverAxes);
        QFETCH(int, pedalAxes);
        QFETCH(Config, change);
        QFETCH(QList<int>, expected);
        TransmitRig rig;
        HelicopterConfig cfg;
        cfg.fly.armAtIdle = false;
        if (change)
            change(cfg);
        rig.controller->setHelicopterConfig(cfg);
        QVERIFY(rig.connectRestingHelicopter(stickAxes, leverAxes, pedalAxes));
        rig.input->devices().last()->setAxis(0, -1.0f);
        rig.input->devices().last()->setAxis(4, -1.0f);
        QVERIFY(rig.start());
        rig.tick();
        QVERIFY(rig.tx.waitForChannelFrames(1));
        const auto sent = rig.tx.lastChannels();
        QCOMPARE(QList<int>(sent.begin(), sent.begin() + expected.size()), expected);
    }

    // Switching the vehicle while transmitting stops with that reason, not with a missing device
    // of the other vehicle.
    void vehicleSwitchStops_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("helicopter to car") << "rc_helicopter";
        QTest::newRow("car to helicopter") << "rc_car";
    }

    void vehicleSwitchStops()
    {
        QFETCH(QString, from);
        TransmitRig rig;
        const bool heli = from == QLatin1String("rc_helicopter");
        QVERIFY(heli ? startHeli(rig, {}, true, 0, -1) : rig.startCar());
        rig.tick();
        QSignalSpy stopped(rig.controller.get(), &corvane::CorvaneController::transmissionStopped);
        rig.controller->profileManager()->switchVehicleType(heli ? "rc_car" : "rc_helicopter", "Other");
        rig.tick();
        QVERIFY(!rig.controller->isRunning());
        // A stop the user's own change asks for: no error.
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(stopped.at(0).at(0).toString(), QString("Transmission stopped: the vehicle type changed."));
        QCOMPARE(rig.lastError(), QString());
    }

    // Mappings read the buttons of all three devices, on CH5..CH16 only.
    void mappingsUseAllThreeDevices()
    {
        TransmitRig rig;
        ButtonMappingSet set;
        set.mappings = {TransmitRig::buttonMapping(2, 6, 0, 1700, 300), TransmitRig::buttonMapping(160 + 3, 7, 0, 1600),
                        TransmitRig::buttonMapping(320 + 1, 0, 0, 100)};
        QVERIFY(rig.controller->setButtonMappings(set));
        QVERIFY(startHeli(rig, {}, true, 0, -1));
        rig.setButton(rig.joystick, 2, true);
        rig.setButton(rig.lever, 3, true);
        rig.setButton(rig.rudder, 1, true);
        QCOMPARE((QList<int>{rig.ch(6), rig.ch(7), rig.ch(0)}), (QList<int>{1700, 1600, 992}));
    }

    void arming_data()
    {
        QTest::addColumn<bool>("withLever");
        QTest::addColumn<float>("lever");
        QTest::addColumn<Config>("change");
        QTest::addColumn<bool>("stopped"); // the user's Stop came first
        QTest::addColumn<QString>("error"); // empty: arms
        const Config none;
        const Config raisedIdle = [](HelicopterConfig &c) { c.calibration.throttle.minOutput = 0.3f; };
        QTest::newRow("lever down") << true << -1.0f << none << false << QString();
        QTest::newRow("lever raised") << true << 0.5f << none << false << "Lower the collective before arming the motor.";
        // The collective range's Idle is where a lever that is down puts the collective.
        QTest::newRow("lever just off its end, Idle at 30 %") << true << -0.9f << raisedIdle << false << QString();
        // Without a lever the collective reads about half: arming then would spin the rotor up.
        QTest::newRow("no throttle device") << false << -1.0f << none << false
                                            << "Connect the throttle lever before arming the motor.";
        // Armed while stopped, a stop would not disarm it, and the next start would send the motor
        // live in its first frame.
        QTest::newRow("after a stop") << true << -1.0f << none << true << "Start transmission before arming the motor.";
    }

    void arming()
    {
        QFETCH(bool, withLever);
        QFETCH(float, lever);
        QFETCH(Config, change);
        QFETCH(bool, stopped);
        QFETCH(QString, error);
        TransmitRig rig;
        QVERIFY(startHeli(rig, change, withLever, 0, -1));
        HelicopterConfig cfg = rig.controller->helicopterConfig();
        cfg.fly.armAtIdle = true;
        rig.controller->setHelicopterConfig(cfg);
        rig.lever->setAxis(5, lever);
        rig.tick();
        if (stopped)
            rig.controller->stopTransmissionAndHold();
        QSignalSpy changes(rig.controller.get(), &corvane::CorvaneController::heliArmedChanged);
        rig.controller->setHeliArmed(true);
        QCOMPARE(rig.controller->isHeliArmed(), error.isEmpty());
        QCOMPARE(rig.lastError(), error);
        rig.controller->stopTransmissionAndHold(); // a stop disarms
        QVERIFY(!rig.controller->isHeliArmed());
        QCOMPARE(changes.count(), error.isEmpty() ? 2 : 0);
    }
};

OSTRA_TEST_MAIN_CORE(TestHelicopterTick)
#include "tst_helicoptertick.moc"
