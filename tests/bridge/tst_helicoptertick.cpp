#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

// A helicopter set-up written as words, e.g. "lever=1 throttleCurve motor=16". Joystick axis 0
// rolls, lever axis 5 and rudder axes 3 and 4 are the configuration's defaults.
struct Heli
{
    HelicopterConfig cfg;
    float roll = 0.0f;
    float lever = -1.0f;
    QList<int> pedals{0, 0};
    bool throttleDevice = true;
    bool rudderDevice = true;
    bool armed = false;
    bool jump = false; // the roll moves there after a first tick at the centre
    int ticks = 1;

    bool parse(const QString &setup)
    {
        cfg.fly.armAtIdle = false;
        cfg.fly.pitchCurve.points = {{0.0f, 0.1f, 0.2f, 0.3f, 0.4f}};
        for (const TransmitRig::SetupWord &w : TransmitRig::setupWords(setup)) {
            const QString &key = w.key;
            const float f = w.numbers.value(0);
            if (key == "roll") {
                roll = f;
            } else if (key == "lever") {
                lever = f;
            } else if (key == "noThrottle" || key == "noRudder") {
                (key == "noThrottle" ? throttleDevice : rudderDevice) = false;
            } else if (key == "armAtIdle") {
                cfg.fly.armAtIdle = true;
            } else if (key == "leverAxis") {
                cfg.inputs.throttle.axis = w.integer(0);
            } else if (key == "rate") {
                cfg.fly.dualRates.activeMode = w.integer(0);
            } else if (key == "beginner") {
                cfg.fly.dualRates.beginnerPct = w.integer(0);
            } else if (key == "noDualRates") {
                cfg.fly.dualRates.enabled = false;
            } else if (key == "pitchCurve" || key == "throttleCurve") {
                (key == "pitchCurve" ? cfg.fly.pitchCurve : cfg.fly.throttleCurve).enabled = true;
            } else if (key == "motor") {
                cfg.fly.motorChannel = w.integer(0);
            } else if (key == "arm") {
                cfg.fly.arm.enabled = true;
                cfg.fly.arm.channel = w.integer(0);
            } else if (key == "armed" || key == "jump") {
                (key == "armed" ? armed : jump) = true;
            } else if (key == "split" && w.numbers.size() == 2) { // two rudder pedals, left and right
                cfg.inputs.pedals.differential = true;
                cfg.inputs.pedals.axis2 = 4;
                pedals = {w.integer(0), w.integer(1)};
            } else if (key == "soft") {
                cfg.fly.softStart = true;
                cfg.fly.softStartSec = w.integer(0);
            } else if (key == "ticks") {
                ticks = w.integer(0);
            } else {
                return false;
            }
        }
        return true;
    }

    // Connects the devices, takes this configuration, puts the sticks in place and starts.
    bool start(TransmitRig &rig) const
    {
        if (!rig.connectHelicopter(throttleDevice, rudderDevice))
            return false;
        rig.controller->setHelicopterConfig(cfg);
        rig.joystick->setAxis(0, jump ? 0.0f : roll);
        rig.lever->setAxis(5, lever);
        rig.rudder->setAxis(3, float(pedals[0]));
        rig.rudder->setAxis(4, float(pedals[1]));
        return rig.start();
    }
};

} // namespace

class TestHelicopterTick : public QObject
{
    Q_OBJECT

private slots:
    void channels_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QList<int>>("expected"); // channel index, value pairs
        const auto row = [](const char *name, const char *setup, const QList<int> &expected) {
            QTest::newRow(name) << QString::fromLatin1(setup) << expected;
        };

        row("sport rate full roll", "roll=1 rate=1", {0, 1648, 1, 992, 2, 172, 3, 992});
        row("beginner rate full left", "roll=-1", {0, 500});
        row("no dual rates full left", "roll=-1 noDualRates", {0, 173});
        row("rate mode below the range is beginner", "roll=-1 rate=-3", {0, 500});
        row("a negative rate never reverses the stick", "roll=-1 beginner=-40", {0, 992});
        row("joystick only", "noThrottle noRudder", {2, 975, 3, 992});
        row("lever up, dual rates leave the collective", "lever=1", {2, 1811});
        row("pitch curve end point", "lever=1 pitchCurve", {2, 828});
        row("throttle curve drives the motor channel", "lever=1 throttleCurve", {5, 1811, 2, 1811});
        row("motor channel beyond CH16 is ignored", "lever=1 throttleCurve motor=16", {5, 0, 15, 0});
        row("negative motor channel is ignored", "lever=1 throttleCurve motor=-2", {5, 0, 0, 992});
        row("armed switch", "arm=4 armed", {4, 1811});
        row("disarmed switch", "arm=4", {4, 173});
        row("arm channel beyond CH16 is ignored", "arm=99", {4, 0, 15, 0});
        row("negative arm channel is ignored", "arm=-1", {4, 0});
        row("split pedals, right pressed", "split=-1,1 noDualRates", {3, 1811});
        row("split pedals, left pressed", "split=1,-1 noDualRates", {3, 173});
        row("collective soft start, first tick", "soft=1 lever=1", {2, 172});
        row("collective soft start, 994 ms in", "soft=1 lever=1 ticks=143", {2, 1801});
        row("collective soft start over", "soft=1 lever=1 ticks=144", {2, 1811});
        row("glitch filter holds a jump four ticks", "jump roll=1 noDualRates ticks=4", {0, 992});
        row("glitch filter lets it through on the fifth", "jump roll=1 noDualRates ticks=5", {0, 1811});
        row("a small move passes at once", "jump roll=-0.5 noDualRates", {0, 591});
    }

    void channels()
    {
        QFETCH(QString, setup);
        QFETCH(QList<int>, expected);

        Heli heli;
        QVERIFY2(heli.parse(setup), qPrintable(setup));
        TransmitRig rig;
        QVERIFY(heli.start(rig));
        if (heli.armed) {
            rig.controller->setHeliArmed(true);
            QVERIFY(rig.controller->isHeliArmed());
        }
        if (heli.jump) {
            rig.tick();
            rig.joystick->setAxis(0, heli.roll);
        }
        rig.tick(heli.ticks);

        QVERIFY(rig.tx.waitForChannelFrames(heli.ticks));
        for (int i = 0; i + 1 < expected.size(); i += 2) {
            QCOMPARE(rig.ch(expected.at(i)), expected.at(i + 1));
            QCOMPARE(rig.tx.lastChannels()[size_t(expected.at(i))], expected.at(i + 1));
        }
    }

    void mappingsUseAllThreeDevices()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        ButtonMappingSet set;
        set.mappings = {TransmitRig::buttonMapping(2, 6, 0, 1700, 300), // joystick button 2
                        TransmitRig::buttonMapping(160 + 3, 7, 0, 1600), // throttle device button 3
                        // rudder pedals button 1, on the roll channel
                        TransmitRig::buttonMapping(320 + 1, 0, 0, 100)};
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

    void arming_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error"); // empty: arms

        const QString noLever = QStringLiteral("Connect the throttle lever before arming the motor.");
        QTest::newRow("lever down") << "armAtIdle" << QString();
        QTest::newRow("lever raised") << "armAtIdle lever=0.5"
                                      << QStringLiteral("Lower the collective before arming the motor.");
        // Without a lever the collective reads about half: arming then would spin the rotor up.
        QTest::newRow("no throttle device") << "armAtIdle noThrottle" << noLever;
        QTest::newRow("no lever axis chosen") << "armAtIdle leverAxis=-1" << noLever;
        QTest::newRow("no idle check wanted") << "noThrottle lever=1" << QString();
    }

    void arming()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);

        Heli heli;
        QVERIFY(heli.parse(setup));
        TransmitRig rig;
        QVERIFY(heli.start(rig));
        rig.tick();
        QSignalSpy changes(rig.controller.get(), &corvane::CorvaneController::heliArmedChanged);

        const bool armed = error.isEmpty();
        rig.controller->setHeliArmed(true);
        QCOMPARE(rig.controller->isHeliArmed(), armed);
        QCOMPARE(rig.lastError(), error);
        rig.controller->setHeliArmed(armed); // unchanged: nothing
        QCOMPARE(changes.count(), armed ? 1 : 0);
        rig.controller->stopTransmission(); // a stop disarms
        QVERIFY(!rig.controller->isHeliArmed());
        QCOMPARE(changes.count(), armed ? 2 : 0);
    }
};

OSTRA_TEST_MAIN_CORE(TestHelicopterTick)
#include "tst_helicoptertick.moc"
