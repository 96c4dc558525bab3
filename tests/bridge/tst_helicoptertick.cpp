#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

// Joystick axes 0 (roll) and 4 (pitch), lever axis 5, rudder axis 3: the configuration's defaults.
struct HeliCase
{
    float roll = 0.0f;
    float lever = -1.0f;
    bool throttleDevice = true;
    bool rudderDevice = true;
    int rateMode = 0;
    bool dualRates = true;
    bool pitchCurve = false;
    bool throttleCurve = false;
    int motorChannel = 5;
    bool arm = false;
    int armChannel = 4;
    bool armed = false;
    bool differential = false;
    float pedalA = 0.0f;
    float pedalB = 0.0f;
};

} // namespace

Q_DECLARE_METATYPE(HeliCase)

class TestHelicopterTick : public QObject
{
    Q_OBJECT

private slots:
    void channels_data();
    void channels();
    void glitchFilterHoldsAJumpFourTicks();
    void collectiveSoftStart();
    void mappingsUseAllThreeDevices();
    void arming_data();
    void arming();
    void stopDisarms();
    void rateModeAndConfiguration();
    void joystickLostStops();
};

void TestHelicopterTick::channels_data()
{
    QTest::addColumn<HeliCase>("c");
    QTest::addColumn<QList<int>>("expected"); // channel index, value pairs

    HeliCase c;
    c.roll = 1.0f;
    c.rateMode = 1;
    QTest::newRow("sport rate full roll") << c << QList<int>{0, 1648, 1, 992, 2, 172, 3, 992};
    c.rateMode = 0;
    c.roll = -1.0f;
    QTest::newRow("beginner rate full left") << c << QList<int>{0, 500};
    c.dualRates = false;
    QTest::newRow("no dual rates full left") << c << QList<int>{0, 173};

    c = HeliCase();
    c.throttleDevice = false;
    c.rudderDevice = false;
    QTest::newRow("joystick only") << c << QList<int>{2, 975, 3, 992};
    c = HeliCase();
    c.lever = 1.0f;
    QTest::newRow("lever up, dual rates leave the collective") << c << QList<int>{2, 1811};
    c.pitchCurve = true;
    QTest::newRow("pitch curve end point") << c << QList<int>{2, 828};
    c.pitchCurve = false;
    c.throttleCurve = true;
    QTest::newRow("throttle curve drives the motor channel") << c << QList<int>{5, 1811, 2, 1811};
    c.motorChannel = 16;
    QTest::newRow("motor channel beyond CH16 is ignored") << c << QList<int>{5, 0, 15, 0};
    c.motorChannel = -2;
    QTest::newRow("negative motor channel is ignored") << c << QList<int>{5, 0, 0, 992};

    c = HeliCase();
    c.arm = true;
    c.armed = true;
    QTest::newRow("armed switch") << c << QList<int>{4, 1811};
    c.armed = false;
    QTest::newRow("disarmed switch") << c << QList<int>{4, 173};
    c.armChannel = 99;
    QTest::newRow("arm channel beyond CH16 is ignored") << c << QList<int>{4, 0, 15, 0};
    c.armChannel = -1;
    QTest::newRow("negative arm channel is ignored") << c << QList<int>{4, 0};

    c = HeliCase();
    c.differential = true;
    c.pedalA = -1.0f;
    c.pedalB = 1.0f;
    c.dualRates = false;
    QTest::newRow("split pedals, right pressed") << c << QList<int>{3, 1811};
    c.pedalA = 1.0f;
    c.pedalB = -1.0f;
    QTest::newRow("split pedals, left pressed") << c << QList<int>{3, 173};
}

void TestHelicopterTick::channels()
{
    QFETCH(HeliCase, c);
    QFETCH(QList<int>, expected);

    TransmitRig rig;
    QVERIFY(rig.connectHelicopter(c.throttleDevice, c.rudderDevice));
    HelicopterConfig cfg = rig.controller->helicopterConfig();
    cfg.fly.armAtIdle = false;
    cfg.fly.dualRates.enabled = c.dualRates;
    cfg.fly.dualRates.activeMode = c.rateMode;
    cfg.fly.pitchCurve.enabled = c.pitchCurve;
    cfg.fly.pitchCurve.points = {{0.0f, 0.1f, 0.2f, 0.3f, 0.4f}};
    cfg.fly.throttleCurve.enabled = c.throttleCurve;
    cfg.fly.motorChannel = c.motorChannel;
    cfg.fly.arm.enabled = c.arm;
    cfg.fly.arm.channel = c.armChannel;
    cfg.inputs.pedals.differential = c.differential;
    cfg.inputs.pedals.axis2 = c.differential ? 4 : -1;
    rig.controller->setHelicopterConfig(cfg);
    rig.joystick->setAxis(0, c.roll);
    rig.lever->setAxis(5, c.lever);
    rig.rudder->setAxis(3, c.pedalA);
    rig.rudder->setAxis(4, c.pedalB);
    QVERIFY(rig.start());
    if (c.armed) {
        rig.controller->setHeliArmed(true);
        QVERIFY(rig.controller->isHeliArmed());
    }
    rig.tick();

    for (int i = 0; i + 1 < expected.size(); i += 2)
        QCOMPARE(rig.ch(expected.at(i)), expected.at(i + 1));
    QVERIFY(rig.tx.waitForChannelFrames(1));
    for (int i = 0; i + 1 < expected.size(); i += 2)
        QCOMPARE(rig.tx.lastChannels()[size_t(expected.at(i))], expected.at(i + 1));
}

void TestHelicopterTick::glitchFilterHoldsAJumpFourTicks()
{
    TransmitRig rig;
    QVERIFY(rig.connectHelicopter());
    HelicopterConfig cfg = rig.controller->helicopterConfig();
    cfg.fly.dualRates.enabled = false;
    rig.controller->setHelicopterConfig(cfg);
    QVERIFY(rig.start());
    rig.tick();
    QCOMPARE(rig.ch(0), 992);

    rig.joystick->setAxis(0, 1.0f);
    for (int held = 0; held < 4; ++held) {
        rig.tick();
        QCOMPARE(rig.ch(0), 992);
    }
    rig.tick();
    QCOMPARE(rig.ch(0), 1811);

    // A small move passes at once.
    rig.joystick->setAxis(0, 0.6f);
    rig.tick();
    QVERIFY(rig.ch(0) < 1811);
}

void TestHelicopterTick::collectiveSoftStart()
{
    TransmitRig rig;
    QVERIFY(rig.connectHelicopter());
    HelicopterConfig cfg = rig.controller->helicopterConfig();
    cfg.fly.softStart = true;
    cfg.fly.softStartSec = 1;
    rig.controller->setHelicopterConfig(cfg);
    rig.lever->setAxis(5, 1.0f);
    QVERIFY(rig.start());

    rig.tick();
    QCOMPARE(rig.ch(2), 172);
    rig.tick(142); // 994 ms elapsed at the start of the last of them
    QCOMPARE(rig.ch(2), 1801);
    rig.tick();
    QCOMPARE(rig.ch(2), 1811);
    rig.tick(10);
    QCOMPARE(rig.ch(2), 1811);
}

void TestHelicopterTick::mappingsUseAllThreeDevices()
{
    TransmitRig rig;
    QVERIFY(rig.connectHelicopter());
    ButtonMappingSet set;
    ButtonMapping gear;
    gear.buttonIndex = 2; // joystick button 2
    gear.channel = 6;
    gear.outputValue = 1700;
    gear.startValue = 300;
    ButtonMapping lights;
    lights.buttonIndex = 160 + 3; // throttle device button 3
    lights.channel = 7;
    lights.outputValue = 1600;
    ButtonMapping roll;
    roll.buttonIndex = 320 + 1; // rudder pedals button 1, on the roll channel
    roll.channel = 0;
    roll.outputValue = 100;
    set.mappings << gear << lights << roll;
    QVERIFY(rig.controller->setButtonMappings(set));
    QVERIFY(rig.start());
    rig.tick();
    QCOMPARE(rig.ch(6), 300);
    QCOMPARE(rig.ch(7), 0);

    rig.setButton(rig.joystick, 2, true);
    QCOMPARE(rig.ch(6), 1700);
    rig.setButton(rig.lever, 3, true);
    QCOMPARE(rig.ch(7), 1600);
    // Mappings cover CH5..CH16 only: the stick keeps the roll channel.
    rig.setButton(rig.rudder, 1, true);
    QCOMPARE(rig.ch(0), 992);
    // A button of a device that is gone presses nothing.
    rig.lever->unplug();
    rig.tick();
    QCOMPARE(rig.ch(7), 0);
}

void TestHelicopterTick::arming_data()
{
    QTest::addColumn<bool>("armAtIdle");
    QTest::addColumn<bool>("throttleDevice");
    QTest::addColumn<int>("leverAxis");
    QTest::addColumn<float>("lever");
    QTest::addColumn<bool>("armed");
    QTest::addColumn<QString>("error");

    const QString noLever = QStringLiteral("Connect the throttle lever before arming the motor.");
    QTest::newRow("lever down") << true << true << 5 << -1.0f << true << QString();
    QTest::newRow("lever raised") << true << true << 5 << 0.5f << false
                                  << QStringLiteral("Lower the collective before arming the motor.");
    // Without a lever the collective reads about half: arming then would spin the rotor up.
    QTest::newRow("no throttle device") << true << false << 5 << -1.0f << false << noLever;
    QTest::newRow("no lever axis chosen") << true << true << -1 << -1.0f << false << noLever;
    QTest::newRow("no idle check wanted") << false << false << 5 << 1.0f << true << QString();
}

void TestHelicopterTick::arming()
{
    QFETCH(bool, armAtIdle);
    QFETCH(bool, throttleDevice);
    QFETCH(int, leverAxis);
    QFETCH(float, lever);
    QFETCH(bool, armed);
    QFETCH(QString, error);

    TransmitRig rig;
    QVERIFY(rig.connectHelicopter(throttleDevice));
    HelicopterConfig cfg = rig.controller->helicopterConfig();
    cfg.fly.armAtIdle = armAtIdle;
    cfg.inputs.throttle.axis = leverAxis;
    rig.controller->setHelicopterConfig(cfg);
    rig.lever->setAxis(5, lever);
    rig.pollAll();
    QSignalSpy changes(rig.controller.get(), &corvane::CorvaneController::heliArmedChanged);

    rig.controller->setHeliArmed(true);
    QCOMPARE(rig.controller->isHeliArmed(), armed);
    QCOMPARE(changes.count(), armed ? 1 : 0);
    QCOMPARE(rig.lastError(), error);
    rig.controller->setHeliArmed(armed); // unchanged: nothing
    QCOMPARE(changes.count(), armed ? 1 : 0);
}

void TestHelicopterTick::stopDisarms()
{
    TransmitRig rig;
    QVERIFY(rig.connectHelicopter());
    rig.lever->setAxis(5, -1.0f);
    QVERIFY(rig.start());
    rig.tick();
    rig.controller->setHeliArmed(true);
    QVERIFY(rig.controller->isHeliArmed());
    QSignalSpy changes(rig.controller.get(), &corvane::CorvaneController::heliArmedChanged);
    rig.controller->stopTransmission();
    QVERIFY(!rig.controller->isHeliArmed());
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.first().at(0).toBool(), false);
}

void TestHelicopterTick::rateModeAndConfiguration()
{
    TransmitRig rig;
    QVERIFY(rig.connectHelicopter());
    QSignalSpy modes(rig.controller.get(), &corvane::CorvaneController::heliRateModeChanged);
    rig.controller->setHeliRateMode(7);
    QCOMPARE(rig.controller->heliRateMode(), 2);
    QCOMPARE(rig.controller->heliDualRateFactor(), 1.0f);
    rig.controller->setHeliRateMode(2);
    QCOMPARE(modes.count(), 1);

    HelicopterConfig cfg = rig.controller->helicopterConfig();
    cfg.fly.dualRates.activeMode = -3;
    cfg.fly.dualRates.beginnerPct = 140;
    rig.controller->setHelicopterConfig(cfg);
    QCOMPARE(rig.controller->heliRateMode(), 0);
    QCOMPARE(modes.count(), 2);
    QCOMPARE(rig.controller->heliDualRateFactor(), 1.0f);
    QCOMPARE(rig.controller->profileManager()->helicopterConfig().fly.dualRates.beginnerPct, 140);
    QVERIFY(rig.controller->isHelicopterMode());
}

void TestHelicopterTick::joystickLostStops()
{
    TransmitRig rig;
    QVERIFY(rig.connectHelicopter());
    QVERIFY(rig.start());
    rig.tick();
    rig.joystick->unplug();
    rig.tick();
    QVERIFY(!rig.controller->isRunning());
    QVERIFY(rig.errors->contains(QVariantList{QStringLiteral("Joystick disconnected")}));
    QVERIFY(rig.tx.waitForLine("STOP"));
}

OSTRA_TEST_MAIN_CORE(TestHelicopterTick)
#include "tst_helicoptertick.moc"
