#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

class TestLounge : public QObject
{
    Q_OBJECT

private slots:
    // Setters clamp; the state but the watchdog survives a restart.
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
        corvane::CorvaneController controller;
        const corvane::LoungeSettings s = controller.loungeSettings();
        QVERIFY(s.stopped && s.pitLimiter && s.speedCap && !s.reverseAllowed && !s.watchdogEnabled);
        QCOMPARE(s.stopReason, QStringLiteral("connection_lost"));
        QCOMPARE((QList<int>{s.pitLimiterPercent, s.speedCapPercent}), (QList<int>{100, 70}));
    }

    void storedValues_data()
    {
        QTest::addColumn<QVariant>("pit");
        QTest::addColumn<QVariant>("speed");
        QTest::addColumn<int>("ch2");

        QTest::newRow("missing keys: 30 and 60, the lower wins") << QVariant() << QVariant() << 1237;
        // Negative caps would hold the car below neutral, braking, with the pedals released.
        QTest::newRow("negative raised to 0") << QVariant(-40) << QVariant(-1) << 992;
    }

    void storedValues()
    {
        QFETCH(QVariant, pit);
        QFETCH(QVariant, speed);
        QFETCH(int, ch2);

        TransmitRig rig; // starts from empty settings
        rig.controller.reset();
        QSettings settings;
        settings.setValue("lounge/pitLimiter", true);
        settings.setValue("lounge/speedCap", true);
        if (pit.isValid())
            settings.setValue("lounge/pitLimiterPercent", pit);
        if (speed.isValid())
            settings.setValue("lounge/speedCapPercent", speed);
        settings.sync();
        rig.controller = std::make_unique<corvane::CorvaneController>();

        QVERIFY(rig.startCar());
        rig.tick();
        QVERIFY(rig.ch(1) >= 992); // released pedals never brake
        rig.pedals->setAxis(1, 1.0f);
        rig.tick();
        QCOMPARE(rig.ch(1), ch2);
    }

    void raceControlStopAndRelease()
    {
        TransmitRig rig;
        AxisSettings s = TransmitRig::plainSettings();
        s.softStartEnabled = true;
        s.softStartDurationSec = 10;
        QVERIFY(rig.startCar(s));
        rig.tick(1500); // the soft start of this run is over
        QSignalSpy changed(rig.controller.get(), &corvane::CorvaneController::loungeStateChanged);
        rig.controller->raceControlStop(QStringLiteral("red flag"));
        rig.controller->raceControlStop(QStringLiteral("yellow flag"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(rig.controller->loungeSettings().stopReason, QStringLiteral("red flag"));
        for (float throttle : {1.0f, 0.2f, -1.0f, 1.0f}) {
            rig.pedals->setAxis(1, throttle);
            rig.tick();
            QCOMPARE(rig.ch(1), 992);
        }
        // Steering still works.
        rig.wheel->setAxis(0, -1.0f);
        rig.tick();
        QCOMPARE(rig.ch(0), 0);

        rig.controller->raceControlRelease();
        QCOMPARE(changed.count(), 2);
        QVERIFY(!rig.controller->loungeSettings().stopped);
        QVERIFY(!QSettings().value("lounge/stopped").toBool());
        rig.tick(10);
        QCOMPARE(rig.ch(1), 992); // pedal still down from before the release
        rig.pedals->setAxis(1, -1.0f);
        rig.tick();
        rig.pedals->setAxis(1, 1.0f);
        rig.tick();
        // The soft start runs again from its floor: 12 ticks (84 ms) into 10 s.
        QCOMPARE(rig.ch(1), 1061);
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
        QElapsedTimer sinceHeartbeat;
        rig.controller->loungeHeartbeat();
        sinceHeartbeat.start();
        QVERIFY(changed.wait(3000));
        const qint64 silence = sinceHeartbeat.elapsed();
        const int framesAtStop = rig.tx.channelFrameCount();

        QVERIFY(rig.controller->loungeSettings().stopped);
        QCOMPARE(rig.controller->loungeSettings().stopReason, QStringLiteral("connection_lost"));
        QCOMPARE(changed.count(), 2); // the watchdog switch, then the stop
        QVERIFY2(silence >= 500, qPrintable(QString::number(silence)));
        // Time-out plus one watchdog period, with room for a loaded machine's scheduling.
        QVERIFY2(silence <= 500 + 250 + 500, qPrintable(QString::number(silence)));

        // Frames keep flowing, with a neutral throttle, and the transmitter was never told to stop.
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.channelFrameCount() > framesAtStop + 5; }));
        QCOMPARE(rig.tx.lastChannels()[1], 992);
        QVERIFY(rig.controller->isRunning());
        QCOMPARE(rig.tx.stopCount(), 0);
    }
};

OSTRA_TEST_MAIN_CORE(TestLounge)
#include "tst_lounge.moc"
