#include "bridge/receiverconfigmanager.h"

#include "receiverrig.h"
#include "support/testenvironment.h"

#include <QSignalSpy>
#include <QTest>

using corvane::ReceiverConfigManager;
using corvane::ReceiverElrsLink;
using ostratest::ReceiverRig;
using ostratest::SimulatedReceiver;

namespace {

QStringList writes(const SimulatedReceiver &rx)
{
    QStringList out;
    for (const QString &request : rx.airRequests()) {
        if (request.startsWith(QLatin1String("write")))
            out.append(request);
    }
    return out;
}

// The basic receiver's on-board values equal to the profile's: the manager has nothing to send.
void basicValuesOnBoard(Profile *profile)
{
    profile->receiverCaps.osdOnBoard = profile->receiverSettings.osdEnabled ? 1 : 0;
    profile->receiverCaps.hudTopOnBoard = profile->receiverSettings.hudTopKmh;
    profile->receiverCaps.hudAccelOnBoard = profile->receiverSettings.hudAccelKmhS;
    profile->receiverCaps.hudBrakeOnBoard = profile->receiverSettings.hudBrakeKmhS;
}

QString sensor(const corvane::CorvaneController &controller, const QString &id)
{
    for (const corvane::TelemetrySensor &s : controller.telemetrySensors()) {
        if (s.id == id)
            return s.label + QLatin1Char('=') + s.value;
    }
    return QString();
}

} // namespace

class TestReceiverSettingsOverAir : public QObject
{
    Q_OBJECT

private slots:
    void v4ReceiverIsBroughtInStep()
    {
        ReceiverRig rig;
        ReceiverSettings wanted;
        wanted.initialized = true;
        wanted.osdEnabled = true;
        wanted.hudTopKmh = 62;
        wanted.motionRateHz = 25;
        rig.profile()->receiverSettings = wanted;
        ReceiverSettings onBoard;
        onBoard.hudTopKmh = 100;
        rig.rx.setSettings(onBoard);
        QVERIFY(rig.startAndSyncOverAir());
        QCOMPARE(writes(rig.rx), (QStringList { "write 10=3", "write 1=1", "write 18=10" }));
        QCOMPARE(rig.rx.settings().hudTopKmh, 60);
        QVERIFY(rig.rx.settings().osdEnabled);
        QCOMPARE(rig.manager()->statusText(), QStringLiteral("Connected over ELRS · firmware 4.5.3 · settings applied"));
        QCOMPARE(rig.manager()->connectionStatusText(), QStringLiteral("Connected · firmware 4.5.3 · settings applied"));

        // A later change goes out at once.
        rig.rx.clearRecords();
        wanted.gpsRateHz = 10;
        rig.manager()->setSettings(wanted);
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.settings().gpsRateHz == 10 && rig.manager()->isSynced(); }));
        QCOMPARE(writes(rig.rx), (QStringList { "write 4=5" }));
    }

    void firstReadIsAdoptedIntoTheProfile()
    {
        ReceiverRig rig;
        ReceiverSettings onBoard;
        onBoard.gpsRateHz = 5;
        onBoard.motionTelem = false;
        onBoard.hudBrakeKmhS = 120;
        rig.rx.setSettings(onBoard);
        QVERIFY(rig.startAndSyncOverAir());
        const ReceiverSettings adopted = rig.manager()->settings();
        QVERIFY(adopted.initialized);
        QCOMPARE(adopted.gpsRateHz, 5);
        QCOMPARE(adopted.hudBrakeKmhS, 120);
        // Motion telemetry is switched on for the car.
        QVERIFY(adopted.motionTelem);
        QCOMPARE(writes(rig.rx), (QStringList { "write 9=1" }));
    }

    void gatesFollowTheParameterCount_data()
    {
        QTest::addColumn<int>("parameters");
        QTest::addColumn<bool>("hud");
        QTest::addColumn<bool>("motionSensors");
        QTest::addColumn<bool>("mounting");
        QTest::addColumn<bool>("mode");
        QTest::newRow("14") << 14 << false << false << false << false;
        QTest::newRow("15") << 15 << false << true << false << false;
        QTest::newRow("17") << 17 << false << true << true << false;
        QTest::newRow("20") << 20 << true << true << true << false;
        QTest::newRow("21") << 21 << true << true << true << true;
    }

    void gatesFollowTheParameterCount()
    {
        QFETCH(int, parameters);
        QFETCH(bool, hud);
        QFETCH(bool, motionSensors);
        QFETCH(bool, mounting);
        QFETCH(bool, mode);
        ReceiverRig rig;
        ReceiverSettings wanted;
        wanted.initialized = true;
        wanted.hudTopKmh = 100;
        wanted.motionSensors = true;
        rig.profile()->receiverSettings = wanted;
        rig.rx.setParameterCount(parameters);
        QVERIFY(rig.startAndSyncOverAir());
        ReceiverConfigManager *manager = rig.manager();
        QCOMPARE(manager->supportsSetting(QStringLiteral("HUD_SPEED")), hud);
        QCOMPARE(manager->supportsSetting(QStringLiteral("MOTION_SENSORS")), motionSensors);
        QCOMPARE(manager->canDetectMounting(), mounting);
        QCOMPARE(manager->canChangeMode(), mode);
        QCOMPARE(writes(rig.rx).contains(QStringLiteral("write 18=18")), hud);
        QCOMPARE(writes(rig.rx).contains(QStringLiteral("write 15=1")), motionSensors);
        QCOMPARE(manager->modeHintText().isEmpty(), mode);
    }

    void gyroCalibrationOverTheAir()
    {
        ReceiverRig rig;
        QVERIFY(rig.startAndSyncOverAir());
        rig.rx.clearRecords();
        QVERIFY(rig.manager()->startGyroCalibration());
        QCOMPARE(rig.manager()->gyroCalText(), QStringLiteral("Starting over ELRS…"));
        QVERIFY(rig.rx.waitFor([&] { return rig.manager()->gyroCalState() != ReceiverConfigManager::GyroCalRunning; }));
        QCOMPARE(rig.manager()->gyroCalText(), QStringLiteral("Gyro calibrated, yaw reset to 0"));
        QCOMPARE(writes(rig.rx), (QStringList { "write 13=1", "write 13=4", "write 13=6" }));
    }

    void gyroCalibrationEnds_data()
    {
        QTest::addColumn<bool>("linkLost");
        QTest::addColumn<QString>("text");
        QTest::newRow("time-out") << false << "Not finished: the car must stand still. Try again.";
        QTest::newRow("link lost") << true << "Lost the receiver during calibration.";
    }

    void gyroCalibrationEnds()
    {
        QFETCH(bool, linkLost);
        QFETCH(QString, text);
        ReceiverRig rig;
        QVERIFY(rig.startAndSyncOverAir());
        rig.rx.setUnansweredFields({ 13 });
        QVERIFY(rig.manager()->startGyroCalibration());
        if (linkLost)
            rig.link()->stop(0);
        else
            ReceiverRig::fire(rig.manager(), "onGyroCalTimeout");
        QCOMPARE(rig.manager()->gyroCalState(), int(ReceiverConfigManager::GyroCalFailed));
        QCOMPARE(rig.manager()->gyroCalText(), text);
    }

    void mountingOverTheAir_data()
    {
        QTest::addColumn<QByteArray>("error");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("axes");
        QTest::newRow("both steps") << QByteArray() << int(ReceiverConfigManager::MountingDone)
                                    << "FWD=Y LEFT=X UP=Z";
        QTest::newRow("not level") << QByteArray("Not level") << int(ReceiverConfigManager::MountingFailed) << "";
    }

    void mountingOverTheAir()
    {
        QFETCH(QByteArray, error);
        QFETCH(int, state);
        QFETCH(QString, axes);
        ReceiverRig rig;
        rig.rx.setImuAxes("+X +Y +Z");
        QVERIFY(rig.startAndSyncOverAir());
        // The axes field read with the field list is shown in its long form.
        QCOMPARE(rig.manager()->imuAxesText(), QStringLiteral("FWD=X LEFT=Y UP=Z"));
        rig.rx.setImuAxes("+Y -X +Z");
        rig.rx.setMountingError(error);
        QVERIFY(rig.manager()->startMountingStep(0));
        QVERIFY(rig.rx.waitFor([&] { return rig.manager()->mountingState() != ReceiverConfigManager::MountingRunning; }));
        if (state == ReceiverConfigManager::MountingFailed) {
            QCOMPARE(rig.manager()->mountingState(), state);
            QCOMPARE(rig.manager()->mountingText(),
                     QStringLiteral("The car is not flat and still. Put it on a flat surface and try again."));
            return;
        }
        QCOMPARE(rig.manager()->mountingState(), int(ReceiverConfigManager::MountingNeedNoseUp));
        QVERIFY(rig.manager()->startMountingStep(1));
        QVERIFY(rig.rx.waitFor([&] { return rig.manager()->imuAxesText() == axes; }));
        QCOMPARE(rig.manager()->mountingState(), state);
        QCOMPARE(writes(rig.rx), (QStringList { "write 16=1", "write 17=1" }));
    }

    void modeChangeOverTheAir_data()
    {
        QTest::addColumn<bool>("applies");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::newRow("taken") << true << int(ReceiverConfigManager::ModeChangeDone)
                               << "Saved. The receiver restarts in helicopter mode (the car's link drops for a moment).";
        QTest::newRow("not answered") << false << int(ReceiverConfigManager::ModeChangeFailed)
                                      << "No answer from the receiver. Try again.";
    }

    void modeChangeOverTheAir()
    {
        QFETCH(bool, applies);
        QFETCH(int, state);
        QFETCH(QString, text);
        ReceiverRig rig;
        QVERIFY(rig.startAndSyncOverAir());
        if (!applies)
            rig.rx.setUnansweredFields({ 21 });
        QVERIFY(!rig.manager()->setMode(QStringLiteral("Heli")));
        QVERIFY(rig.manager()->setMode(QStringLiteral("car")));
        QVERIFY(rig.manager()->setMode(QStringLiteral("heli")));
        QCOMPARE(rig.manager()->modeChangeText(), QStringLiteral("Sending to the receiver over ELRS…"));
        if (applies)
            QVERIFY(rig.rx.waitFor([&] { return rig.manager()->modeChangeState() != ReceiverConfigManager::ModeChangeRunning; }));
        else
            ReceiverRig::fire(rig.manager(), "onModeChangeTimeout");
        QCOMPARE(rig.manager()->modeChangeState(), state);
        QCOMPARE(rig.manager()->modeChangeText(), text);
    }

    void modeChangeByDirectWrite_data()
    {
        QTest::addColumn<QSet<quint8>>("unanswered");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("mode");
        const QString heli = QStringLiteral(
            "Saved. The receiver restarts in helicopter mode (the car's link drops for a moment).");
        QTest::newRow("field 6 answers") << QSet<quint8> {} << QStringList { "write 6=1" } << heli << "heli";
        QTest::newRow("field 6 silent, 21 silent")
            << QSet<quint8> { 6 }
            << QStringList { "write 6=1", "write 6=1", "write 6=1", "write 6=1",
                             "write 21=1", "write 21=1", "write 21=1", "write 21=1" }
            << QStringLiteral("Sent over ELRS, but no answer came back. If the receiver took it, it restarts now: its "
                              "blue LED is solid in car mode, on for 2 s then two blinks in helicopter mode. It needs "
                              "receiver firmware 4.5.3 (V4) or 1.9.2 (older receiver).")
            << "";
    }

    void modeChangeByDirectWrite()
    {
        QFETCH(QSet<quint8>, unanswered);
        QFETCH(QStringList, requests);
        QFETCH(QString, text);
        QFETCH(QString, mode);
        ReceiverRig rig;
        rig.rx.setOlderCarReceiver(true);
        rig.rx.setUnansweredFields(unanswered);
        basicValuesOnBoard(rig.profile());
        QVERIFY(rig.startOverAir(QString()));
        QVERIFY(rig.manager()->setMode(QStringLiteral("heli")));
        QCOMPARE(rig.manager()->modeChangeText(), QStringLiteral("Sending to the receiver over ELRS…"));
        for (int i = 0; i < 10 && rig.manager()->modeChangeState() == ReceiverConfigManager::ModeChangeRunning; ++i) {
            rig.rx.waitFor([&] { return rig.manager()->modeChangeState() != ReceiverConfigManager::ModeChangeRunning; }, 200);
            ReceiverRig::fire(rig.link(), "onRequestTimeout");
        }
        QCOMPARE(rig.manager()->modeChangeState(), int(ReceiverConfigManager::ModeChangeDone));
        QCOMPARE(rig.manager()->modeChangeText(), text);
        QCOMPARE(rig.manager()->receiverMode(), mode);
        QVERIFY(rig.rx.waitFor([&] { return writes(rig.rx).size() >= requests.size(); }));
        QCOMPARE(writes(rig.rx), requests);
    }

    void olderCarReceiverIsWrittenBlind()
    {
        ReceiverRig rig;
        rig.rx.setOlderCarReceiver(true);
        rig.rx.setUnansweredFields({ 1 });
        ReceiverSettings wanted;
        wanted.initialized = true;
        wanted.osdEnabled = true;
        wanted.hudTopKmh = 80;
        wanted.hudBrakeKmhS = 100;
        rig.profile()->receiverSettings = wanted;
        basicValuesOnBoard(rig.profile());
        rig.profile()->receiverCaps.osdOnBoard = -1;
        rig.profile()->receiverCaps.hudTopOnBoard = 60;
        rig.profile()->receiverCaps.hudBrakeOnBoard = 60;
        QVERIFY(rig.startOverAir(QString()));
        ReceiverConfigManager *manager = rig.manager();
        manager->pushBasicReceiverSetting();
        QCOMPARE(manager->connectionStatusText(), QStringLiteral("Connected · sending the receiver settings…"));
        for (int i = 0; i < 4; ++i)
            ReceiverRig::fire(rig.link(), "onRequestTimeout");
        // The OSD write went unanswered; the HUD values still go, one at a time.
        QVERIFY(rig.rx.waitFor([&] { return manager->caps().hudBrakeOnBoard == 100; }));
        QCOMPARE(manager->caps().hudTopOnBoard, 80);
        QCOMPARE(manager->caps().osdOnBoard, -1);
        QCOMPARE(writes(rig.rx),
                 (QStringList { "write 1=1", "write 1=1", "write 1=1", "write 1=1", "write 3=14", "write 5=9" }));
        QCOMPARE(rig.rx.settings().hudTopKmh, 80);
        QCOMPARE(manager->connectionStatusText(),
                 QStringLiteral("Connected · the receiver did not answer the OSD setting (it needs QOR receiver "
                                "firmware 1.8.0 or later). It is sent again next time."));
        // Nothing more until the car link comes up again; then the OSD is tried once more.
        manager->pushBasicReceiverSetting();
        QTest::qWait(50);
        QCOMPARE(writes(rig.rx).size(), 6);
        rig.controller->setCarLinked(false);
        rig.carHeard();
        QVERIFY(rig.rx.waitFor([&] { return rig.controller->isCarLinked(); }));
        manager->pushBasicReceiverSetting();
        QVERIFY(rig.rx.waitFor([&] { return writes(rig.rx).size() == 7; }));
        QCOMPARE(writes(rig.rx).constLast(), QStringLiteral("write 1=1"));
    }

    void carTelemetryFillsTheCapsAndStartsTheSearch()
    {
        ReceiverRig rig;
        rig.rx.setAirSilent(true);
        QVERIFY(rig.startOverAir(QString()));
        QSignalSpy caps(rig.manager(), &ReceiverConfigManager::capsChanged);
        rig.tx.sendAttitude(0.1, 0.0, 0.0);
        QVERIFY(caps.wait(5000));
        QVERIFY(rig.manager()->caps().imu);
        QVERIFY(!rig.manager()->caps().gps);
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Searching);
        QCOMPARE(rig.controller->receiverMotionLevel(), 1);
        corvane::ProfileManager reloaded;
        QVERIFY(reloaded.activeProfile()->receiverCaps.imu);
        rig.tx.sendGps(48.1, 11.5, 0.0, 0.0, 500, 7);
        QVERIFY(caps.wait(5000));
        QVERIFY(rig.manager()->caps().gps);
    }

    void motionLevelTwoReadsTheBatteryFrameAsGForces()
    {
        ReceiverRig rig;
        ReceiverSettings wanted;
        wanted.initialized = true;
        wanted.motionSensors = true;
        rig.profile()->receiverSettings = wanted;
        rig.profile()->receiverCaps.imu = true;
        QVERIFY(rig.syncOverUsb());
        QCOMPARE(rig.controller->receiverMotionLevel(), 2);
        QVERIFY(rig.openTransmitter());
        QSignalSpy motion(rig.controller.get(), &corvane::CorvaneController::carMotionReceived);
        QSignalSpy sensors(rig.controller.get(), &corvane::CorvaneController::telemetrySensorsUpdated);
        // 1.2 g longitudinal, -0.5 g lateral, 0.981 g vertical, 80 % battery.
        rig.tx.sendFrame(0x08, QByteArray::fromHex("000c fffb 0003d5 50"));
        QVERIFY(sensors.wait(5000));
        QCOMPARE(sensor(*rig.controller, QStringLiteral("RxBt")), QStringLiteral("RxBt · Longitudinal G (radio copy)=1.2 g"));
        QCOMPARE(sensor(*rig.controller, QStringLiteral("Curr")), QStringLiteral("Curr · Lateral G (radio copy)=-0.5 g"));
        QCOMPARE(sensor(*rig.controller, QStringLiteral("Capa")), QStringLiteral("Capa · Vertical G (radio copy)=0.98 g"));
        QCOMPARE(sensor(*rig.controller, QStringLiteral("Bat%")), QStringLiteral("Bat% · Battery=80 %"));
        // Only a receiver without motion telemetry carries motion in the battery frame.
        QVERIFY(motion.isEmpty());
    }

    void gpsStatusFromTheReceiver_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("fix, antenna open") << QByteArray("Fix, 7 sats, antenna open")
                                           << "fix, 7 satellites · antenna not detected, check the GPS antenna cable";
        QTest::newRow("no fix, short") << QByteArray("No fix, 3 sats, antenna short")
                                       << "no fix yet, 3 satellites (needs open sky) · antenna short circuit";
        QTest::newRow("off") << QByteArray("Off") << "off on the receiver";
        QTest::newRow("other") << QByteArray("Booting") << "";
    }

    void gpsStatusFromTheReceiver()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, text);
        ReceiverRig rig;
        rig.rx.setGpsStatus(field);
        QVERIFY(rig.startAndSyncOverAir());
        QCOMPARE(rig.manager()->gpsStatusText(), text);
    }

    void statusWithoutTheReceiver_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("status");
        QTest::newRow("V4") << "4.5.3"
                            << "Receiver not connected. Start transmitting to reach it over ELRS, or plug in the J14 "
                               "cable. Changes are saved and applied the next time it is reached.";
        QTest::newRow("basic") << "1.9.2"
                               << "Receiver not connected. OSD and HUD speed changes are sent over ELRS when you "
                                  "transmit with the car on, or over the USB cable.";
    }

    void statusWithoutTheReceiver()
    {
        QFETCH(QString, firmware);
        QFETCH(QString, status);
        ReceiverRig rig;
        rig.profile()->receiverCaps.firmware = firmware;
        QCOMPARE(rig.manager()->statusText(), status);
        QCOMPARE(rig.manager()->connectionStatusText(),
                 QStringLiteral("Not connected · start transmission with the car on"));
        QVERIFY(!rig.manager()->canChangeMode());
        QVERIFY(!rig.manager()->startGyroCalibration());
        QVERIFY(!rig.manager()->startMountingStep(0));
    }
};

OSTRA_TEST_MAIN_CORE(TestReceiverSettingsOverAir)
#include "tst_receiverconfigmanager_elrs.moc"
