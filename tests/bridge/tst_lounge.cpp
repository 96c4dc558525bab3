#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "bridge/devicesecurity.h"
#include "platform/storage/settingsfile.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

class TestLounge : public QObject
{
    Q_OBJECT

private slots:
    // Setters clamp; the state, the watchdog's arming too, survives a restart.
    void stateSurvivesARestart()
    {
        {
            TransmitRig rig;
            rig.controller->setLoungePitLimiter(true, 150);
            rig.controller->setLoungeSpeedCap(true, 70);
            rig.controller->setLoungeReverseAllowed(false);
            rig.controller->setLoungeWatchdog(true, 100);
            QCOMPARE(rig.controller->loungeSettings().watchdogTimeoutMs, 500);
            rig.controller->setLoungeWatchdog(true, 60000);
            QCOMPARE(rig.controller->loungeSettings().watchdogTimeoutMs, 30000);
            rig.controller->raceControlStop(QStringLiteral("connection_lost"));
        }
        // Nothing holds the settings any more once they are written: the next controller reads the file.
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        corvane::CorvaneController controller;
        const corvane::LoungeSettings s = controller.loungeSettings();
        QVERIFY(s.stopped && s.pitLimiter && s.speedCap && !s.reverseAllowed && s.watchdogEnabled);
        QCOMPARE(s.stopReason, QStringLiteral("connection_lost"));
        QCOMPARE((QList<int>{s.pitLimiterPercent, s.speedCapPercent, s.watchdogTimeoutMs}), (QList<int>{100, 70, 30000}));
    }

    // A write of the state that fails (no room left on the disk) is reported, and the
    // next change, even of the watchdog alone, writes it again: a restart finds the car stopped.
    void failedWriteReportedAndRetried()
    {
        TransmitRig rig;
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        {
            const ostratest::Starved starved("no room");
            rig.controller->raceControlStop(QStringLiteral("operator"));
            QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        }
        QCOMPARE(*rig.errors, QList<QVariantList>{{QStringLiteral("Failed to save the race control state")}});
        rig.controller->setLoungeWatchdog(true, 2000);
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        QCOMPARE(rig.errors->size(), 1);
        rig.controller.reset();
        rig.controller = std::make_unique<corvane::CorvaneController>();
        QVERIFY(rig.controller->loungeSettings().stopped);
    }

    // A negative stored cap would hold the car below neutral, braking, with the pedals released.
    void negativeStoredCapsRaisedToZero()
    {
        TransmitRig rig;
        rig.controller.reset();
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        QSettings settings;
        settings.setValue("lounge/pitLimiter", true);
        settings.setValue("lounge/pitLimiterPercent", -40);
        settings.sync();
        rig.controller = std::make_unique<corvane::CorvaneController>();
        QCOMPARE(rig.controller->loungeSettings().pitLimiterPercent, 0);
        QVERIFY(rig.startCar());
        rig.tick(2);
        QCOMPARE(rig.ch(1), 992);
    }

    // After the release the throttle waits for the pedal to be seen released, also when the pedals
    // come back meanwhile (the wheel base reads them released while they are out) pressed, or half
    // pressed, where their untouched axis reads released.
    void raceControlStopAndRelease_data()
    {
        QTest::addColumn<float>("replugged"); // where the pedal stands when they come back; NaN: not unplugged
        QTest::newRow("foot still down") << float(qQNaN());
        QTest::newRow("pedals unplugged and plugged with the foot down") << 1.0f;
        QTest::newRow("pedals plugged again half pressed") << 0.0f;
    }

    void raceControlStopAndRelease()
    {
        QFETCH(float, replugged);
        TransmitRig rig;
        QVERIFY(rig.startCar());
        QSignalSpy changed(rig.controller.get(), &corvane::CorvaneController::loungeStateChanged);
        rig.controller->raceControlStop(QStringLiteral("red flag"));
        for (float throttle : {1.0f, 0.2f, -1.0f, 1.0f}) {
            rig.pedals->setAxis(1, throttle);
            rig.tick();
            QCOMPARE(rig.ch(1), 992);
        }
        rig.controller->raceControlRelease();
        QCOMPARE(changed.count(), 2);
        QVERIFY(!corvane::SettingsFile().value("lounge/stopped").toBool());
        if (!qIsNaN(replugged)) {
            rig.pedals->unplug();
            QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onMonitorTimer"));
            rig.tick(3);
            rig.pedals->replug();
            rig.pedals->setAxis(1, replugged);
            QVERIFY(rig.controller->connectPedals(TransmitRig::PedalsPos));
        }
        rig.tick(10);
        QCOMPARE(rig.ch(1), 992); // pedal still down from before the release
        rig.pedals->setAxis(1, 0.5f);
        rig.tick();
        QCOMPARE(rig.ch(1), 992); // pressed on, never released since
        rig.pedals->setAxis(1, -1.0f);
        rig.tick();
        rig.pedals->setAxis(1, 1.0f);
        rig.tick();
        QCOMPARE(rig.ch(1), 1811);
    }

    void watchdogStopsSilentRaceControl()
    {
        TransmitRig rig;
        QVERIFY(rig.controller->setAxisSettings(TransmitRig::plainSettings()));
        QVERIFY(rig.connectCar());
        rig.controller->startTransmission(); // real 7 ms ticks for this run
        rig.pedals->setAxis(1, 1.0f);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.channelFrameCount() > 3 && rig.tx.lastChannels()[1] == 1811; }));

        QSignalSpy changed(rig.controller.get(), &corvane::CorvaneController::loungeStateChanged);
        rig.controller->setLoungeWatchdog(true, 500);
        // Fed well within its time-out, the watchdog leaves the car alone.
        for (int i = 0; i < 8; ++i) {
            rig.controller->loungeHeartbeat();
            QTest::qWait(100);
        }
        QVERIFY(rig.controller->loungeSettings().stopReason.isEmpty());
        QCOMPARE(rig.tx.lastChannels()[1], 1811);

        QElapsedTimer sinceHeartbeat;
        rig.controller->loungeHeartbeat();
        sinceHeartbeat.start();
        QVERIFY(changed.wait(3000));
        const qint64 silence = sinceHeartbeat.elapsed();
        const int framesAtStop = rig.tx.channelFrameCount();

        QCOMPARE(rig.controller->loungeSettings().stopReason, QStringLiteral("connection_lost"));
        QVERIFY2(silence >= 500, qPrintable(QString::number(silence)));
        // Time-out plus one watchdog period, with room for a loaded machine's scheduling.
        QVERIFY2(silence <= 500 + 250 + 500, qPrintable(QString::number(silence)));

        // Frames keep flowing, with a neutral throttle, and the transmitter was never told to stop.
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.channelFrameCount() > framesAtStop + 5; }));
        QCOMPARE(rig.tx.lastChannels()[1], 992);
        QCOMPARE(rig.tx.stopCount(), 0);
    }

    void armedStationRestarts_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<QString>("stoppedBy"); // a stop on its disk when it went down
        QTest::addColumn<QString>("reason"); // of the stop it comes back with; empty: none
        QTest::newRow("race control heard") << "heartbeat" << "" << "connection_lost";
        QTest::newRow("race control silent") << "" << "" << "connection_lost";
        QTest::newRow("link switched off before") << "link off" << "" << "";
        QTest::newRow("stopped by race control before") << "heartbeat" << "operator" << "operator";
        QTest::newRow("a second race control arms and beats, then a release") << "release" << "" << "connection_lost";
    }

    // Armed when it went down, an auto-started station was not heard meanwhile: it comes back
    // stopped, on its disk too; nothing race control says but a release frees it, after which the
    // pedal must come up first.
    void armedStationRestarts()
    {
        QFETCH(QString, then);
        QFETCH(QString, stoppedBy);
        QFETCH(QString, reason);
        TransmitRig rig;
        QVERIFY(rig.controller->setAxisSettings(TransmitRig::plainSettings()));
        rig.controller->setAutoStartEnabled(true);
        rig.controller->setLoungeWatchdog(true, 30000);
        rig.controller->setLoungeWatchdog(then != "link off", 30000);
        if (!stoppedBy.isEmpty())
            rig.controller->raceControlStop(stoppedBy);
        rig.controller.reset();
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        rig.controller = std::make_unique<corvane::CorvaneController>();
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        QCOMPARE(corvane::SettingsFile().value("lounge/stopReason").toString(), reason);
        rig.controller->deviceSecurity()->setProvisioningMode(true);
        QVERIFY(rig.connectCar());
        QTRY_VERIFY(rig.controller->isRunning());
        const auto sent = [&rig](float pedal) { // CH2 of the frames after the pedal is read
            rig.pedals->setAxis(1, pedal);
            const bool read = rig.tx.waitFor([&] { return qAbs(rig.controller->throttle() - pedal) < 0.01f; });
            const int seen = rig.tx.channelFrameCount();
            return read && rig.tx.waitFor([&] { return rig.tx.channelFrameCount() > seen + 3; }) ? rig.tx.lastChannels()[1] : -1;
        };
        QCOMPARE(sent(1.0f), reason.isEmpty() ? 1811 : 992);
        if (then == "release")
            rig.controller->setLoungeWatchdog(true, 30000);
        if (!then.isEmpty() && then != "link off") {
            rig.controller->loungeHeartbeat();
            QCOMPARE(sent(1.0f), 992);
        }
        QCOMPARE(rig.controller->isLoungeStopApplied(), !reason.isEmpty());
        QCOMPARE(rig.controller->loungeSettings().stopReason, reason);
        if (then == "release") {
            rig.controller->raceControlRelease();
            QCOMPARE((QList<int>{sent(1.0f), sent(-1.0f), sent(1.0f)}), (QList<int>{992, 992, 1811}));
        }
    }

    void helicopterTakesNoCarStop_data()
    {
        QTest::addColumn<bool>("stoppedAsCar");
        QTest::newRow("watchdog runs out while flying") << false;
        QTest::newRow("stopped as a car, then flying") << true;
    }

    // A helicopter's channels take no car stop: its watchdog stores none, and one stored for the
    // car shows only when the car drives again. Back in the car, the watchdog counts from then.
    void helicopterTakesNoCarStop()
    {
        QFETCH(bool, stoppedAsCar);
        TransmitRig rig;
        corvane::CorvaneController *controller = rig.controller.get();
        if (stoppedAsCar)
            controller->raceControlStop(QStringLiteral("operator"));
        controller->profileManager()->switchVehicleType(QStringLiteral("rc_helicopter"), QStringLiteral("Heli"));
        controller->setLoungeWatchdog(true, 500);
        QTest::qWait(1000);
        QCOMPARE(controller->loungeSettings().stopped, stoppedAsCar);
        QVERIFY(!controller->isLoungeStopApplied());
        controller->profileManager()->switchVehicleType(QStringLiteral("rc_car"), QString());
        QCOMPARE(controller->isLoungeStopApplied(), stoppedAsCar);
        QTRY_VERIFY(controller->isLoungeStopApplied());
        QCOMPARE(controller->loungeSettings().stopReason, stoppedAsCar ? QStringLiteral("operator") : QStringLiteral("connection_lost"));
    }
};

OSTRA_TEST_MAIN_CORE(TestLounge)
#include "tst_lounge.moc"
