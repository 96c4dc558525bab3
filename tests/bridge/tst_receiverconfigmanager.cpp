#include "bridge/receiverconfigmanager.h"

#include "receiverrig.h"
#include "support/testenvironment.h"

#include <QSignalSpy>
#include <QTest>

using corvane::ReceiverConfigManager;
using ostratest::ReceiverRig;
using ostratest::SimulatedReceiver;

namespace {

QList<QByteArray> probeLines()
{
    return { "VER", "GET_TELEM", "GET_HUD_SPEED", "GET_OSD", "GET_IMU_AXES", "GET_TYPE" };
}

// The lines the receiver got after the probe.
QList<QByteArray> afterProbe(const SimulatedReceiver &rx)
{
    return rx.lines().mid(probeLines().size());
}

ReceiverSettings differingSettings()
{
    ReceiverSettings s;
    s.initialized = true;
    s.gpsRateHz = 10;
    s.imuTelem = false;
    s.osdEnabled = true;
    s.motionSensors = true;
    s.hudTopKmh = 80;
    return s;
}

} // namespace

class TestReceiverConfigManager : public QObject
{
    Q_OBJECT

private slots:
    void differingReceiverGetsSetCommands_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("every key") << SimulatedReceiver::allKeys()
                                   << QList<QByteArray> { "GPS_RATE 10", "SET_IMU_TELEM 0", "SET_OSD 1",
                                                          "SET_MOTION_SENSORS 1", "SET_HUD_SPEED 80 30 60",
                                                          "GET_HUD_SPEED", "GET_TELEM", "GET_OSD" };
        QStringList noHud = SimulatedReceiver::allKeys();
        noHud.removeAll(QStringLiteral("HUD_SPEED"));
        QTest::newRow("no HUD_SPEED key") << noHud
                                          << QList<QByteArray> { "GPS_RATE 10", "SET_IMU_TELEM 0", "SET_OSD 1",
                                                                 "SET_MOTION_SENSORS 1", "GET_TELEM", "GET_OSD" };
    }

    void differingReceiverGetsSetCommands()
    {
        QFETCH(QStringList, keys);
        QFETCH(QList<QByteArray>, expected);
        ReceiverRig rig;
        rig.profile()->receiverSettings = differingSettings();
        rig.rx.setReportedKeys(keys);
        QVERIFY(rig.syncOverUsb());
        // The cycle may end on the GET_TELEM answer while GET_OSD is still on its way.
        QVERIFY(rig.rx.waitFor([&] { return afterProbe(rig.rx).size() >= expected.size(); }));
        QCOMPARE(afterProbe(rig.rx), expected);
        QCOMPARE(rig.rx.settings().gpsRateHz, 10);
        QVERIFY(rig.rx.settings().osdEnabled);
        QCOMPARE(rig.manager()->settings().hudTopKmh, 80);
    }

    void readBackStillDifferingAfterTwoPushesIsAdopted()
    {
        ReceiverRig rig;
        rig.profile()->receiverSettings = differingSettings();
        rig.rx.setAppliesSettings(false);
        QVERIFY(rig.syncOverUsb());
        QCOMPARE(rig.rx.lineCount("SET_OSD 1"), 2);
        QCOMPARE(rig.rx.lineCount("GET_TELEM"), 3);
        // The receiver's values now stand in the profile, saved.
        const ReceiverSettings adopted = rig.manager()->settings();
        QCOMPARE(adopted.gpsRateHz, 0);
        QVERIFY(!adopted.osdEnabled);
        QCOMPARE(adopted.hudTopKmh, 60);
        corvane::ProfileManager reloaded;
        QCOMPARE(reloaded.activeProfile()->receiverSettings.hudTopKmh, 60);
    }

    void cycleWithoutFullAnswer_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("status");
        QTest::newRow("silent") << QString() << true
                                << QStringLiteral("Connected · no reply to settings commands (older receiver?)");
        QTest::newRow("version only") << QStringLiteral("3.2") << false
                                      << QStringLiteral("Connected · firmware 3.2 · this receiver has no GPS/IMU settings");
    }

    void cycleWithoutFullAnswer()
    {
        QFETCH(QString, firmware);
        QFETCH(bool, silent);
        QFETCH(QString, status);
        ReceiverRig rig;
        rig.rx.setSilent(silent);
        rig.rx.setFirmware(firmware);
        rig.rx.setReportedKeys({});
        QVERIFY(rig.openReceiver());
        rig.manager()->resync();
        QVERIFY(rig.rx.waitForLine("GET_TYPE"));
        if (!silent)
            QTRY_COMPARE(rig.manager()->caps().firmware, firmware);
        ReceiverRig::fire(rig.manager(), "onReplyTimeout");
        QCOMPARE(rig.manager()->statusText(), status);
    }

    void repliesUpdateTheReportedState_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("adopted");
        QTest::newRow("echoed GET_TELEM") << "GET_TELEM" << QStringList() << "gps 1 imu 1 rate 0 osd 0";
        QTest::newRow("TELEM") << "TELEM:GPS:1 IMU:0 GPS_RATE:5" << QStringList { "GPS", "IMU", "GPS_RATE" }
                               << "gps 1 imu 0 rate 5 osd 0";
        QTest::newRow("TELEM with a bad part") << "TELEM:GPS:x IMU:0" << QStringList { "IMU" } << "gps 1 imu 0 rate 0 osd 0";
        QTest::newRow("OSD_OK") << "OSD_OK 1" << QStringList { "OSD" } << "gps 1 imu 1 rate 0 osd 1";
        QTest::newRow("echoed SET_OSD") << "SET_OSD 1" << QStringList() << "gps 1 imu 1 rate 0 osd 0";
        QTest::newRow("GPS_OK") << "GPS_OK 0" << QStringList { "GPS_ON" } << "gps 1 imu 1 rate 0 osd 0";
        QTest::newRow("TYPE after noise") << QString::fromLatin1("\x01\x02\x7f$MTYPE:2") << QStringList { "TYPE" }
                                          << "gps 1 imu 1 rate 0 osd 0";
    }

    void repliesUpdateTheReportedState()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, keys);
        QFETCH(QString, adopted);
        ReceiverRig rig;
        rig.rx.setSilent(true);
        QVERIFY(rig.openReceiver());
        rig.manager()->onReceiverLine(line);
        for (const QString &key : SimulatedReceiver::allKeys())
            QCOMPARE(rig.manager()->supportsSetting(key), keys.contains(key));
        rig.manager()->adoptReportedSettings();
        const ReceiverSettings s = rig.manager()->settings();
        QCOMPARE(QStringLiteral("gps %1 imu %2 rate %3 osd %4")
                     .arg(int(s.gpsTelem))
                     .arg(int(s.imuTelem))
                     .arg(s.gpsRateHz)
                     .arg(int(s.osdEnabled)),
                 adopted);
    }

    void noiseAndEchoesDoNotDisturbTheCycle()
    {
        ReceiverRig rig;
        rig.profile()->receiverSettings = differingSettings();
        rig.rx.setEchoes(true);
        rig.rx.setMspNoise(true);
        QVERIFY(rig.syncOverUsb());
        QCOMPARE(rig.rx.lineCount("SET_OSD 1"), 1);
        QVERIFY(rig.rx.settings().osdEnabled);
    }

    void mountingReplies_data()
    {
        QTest::addColumn<QByteArray>("error");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::newRow("level read") << QByteArray() << int(ReceiverConfigManager::MountingNeedNoseUp)
                                    << "Level read. Now lift the FRONT of the car about 30° and hold it.";
        QTest::newRow("not flat") << QByteArray("Not flat") << int(ReceiverConfigManager::MountingFailed)
                                  << "The car is not flat and still. Put it on a flat surface and try again.";
        QTest::newRow("tilt") << QByteArray("tilt not detected") << int(ReceiverConfigManager::MountingFailed)
                              << "No tilt seen: lift the front more (about 30°) and try again.";
        QTest::newRow("flat first") << QByteArray("do FLAT first") << int(ReceiverConfigManager::MountingFailed)
                                    << "Start again from step 1.";
        QTest::newRow("no imu") << QByteArray("No IMU") << int(ReceiverConfigManager::MountingFailed)
                                << "The receiver's IMU is not running.";
        QTest::newRow("other") << QByteArray("Busy") << int(ReceiverConfigManager::MountingFailed)
                               << "The receiver says: Busy";
    }

    void mountingReplies()
    {
        QFETCH(QByteArray, error);
        QFETCH(int, state);
        QFETCH(QString, text);
        ReceiverRig rig;
        rig.rx.setMountingError(error);
        QVERIFY(rig.openReceiver());
        QSignalSpy changed(rig.manager(), &ReceiverConfigManager::mountingChanged);
        QVERIFY(rig.manager()->startMountingStep(0));
        QVERIFY(!rig.manager()->startMountingStep(0));
        QVERIFY(rig.rx.waitFor([&] { return changed.size() >= 2; }));
        QCOMPARE(rig.manager()->mountingState(), state);
        QCOMPARE(rig.manager()->mountingText(), text);
    }

    void mountingNoseUpSavesAndReadsTheAxes()
    {
        ReceiverRig rig;
        QVERIFY(rig.openReceiver());
        QVERIFY(rig.manager()->startMountingStep(0));
        QTRY_COMPARE(rig.manager()->mountingState(), int(ReceiverConfigManager::MountingNeedNoseUp));
        QVERIFY(!rig.manager()->startMountingStep(2));
        QVERIFY(rig.manager()->startMountingStep(1));
        QVERIFY(rig.rx.waitFor([&] { return !rig.manager()->imuAxesText().isEmpty(); }));
        QCOMPARE(rig.manager()->mountingState(), int(ReceiverConfigManager::MountingDone));
        QCOMPARE(rig.manager()->imuAxesText(), QStringLiteral("+X +Y +Z"));
        QCOMPARE(rig.rx.linesStartingWith("IMU_ORIENT"), (QList<QByteArray> { "IMU_ORIENT FLAT", "IMU_ORIENT NOSEUP" }));
    }

    void mountingWithoutAnswerTimesOut()
    {
        ReceiverRig rig;
        rig.rx.setSilent(true);
        QVERIFY(rig.openReceiver());
        QVERIFY(rig.manager()->startMountingStep(0));
        ReceiverRig::fire(rig.manager(), "onMountingTimeout");
        QCOMPARE(rig.manager()->mountingState(), int(ReceiverConfigManager::MountingFailed));
        QCOMPARE(rig.manager()->mountingText(), QStringLiteral("No answer from the receiver. Try again."));
    }

    void gyroCalibrationOverUsb()
    {
        ReceiverRig rig;
        QVERIFY(!rig.manager()->startGyroCalibration());
        QVERIFY(rig.openReceiver());
        QVERIFY(rig.manager()->startGyroCalibration());
        QVERIFY(!rig.manager()->startGyroCalibration());
        QCOMPARE(rig.manager()->gyroCalText(), QStringLiteral("Calibrating: keep the car still…"));
        QVERIFY(rig.rx.waitForLine("IMU_CAL"));
        ReceiverRig::fire(rig.manager(), "onUsbGyroCalDone");
        QCOMPARE(rig.manager()->gyroCalState(), int(ReceiverConfigManager::GyroCalDone));
        QCOMPARE(rig.manager()->gyroCalText(), QStringLiteral("Gyro calibrated, yaw reset to 0"));
    }

    void sendCommandRefusals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("queued");
        QTest::newRow("dfu with blanks") << "  dfu " << true << false;
        QTest::newRow("DFU behind a line feed") << "GPS_DEBUG 1\nDFU" << true << false;
        QTest::newRow("carriage return") << "GPS_DEBUG 1\rX" << true << false;
        QTest::newRow("empty") << "   " << true << false;
        QTest::newRow("closed port") << "GPS_DEBUG 1" << false << false;
        QTest::newRow("plain command") << " GPS_DEBUG 1 " << true << true;
    }

    void sendCommandRefusals()
    {
        QFETCH(QString, text);
        QFETCH(bool, open);
        QFETCH(bool, queued);
        ReceiverRig rig;
        rig.rx.setSilent(true);
        if (open)
            QVERIFY(rig.openReceiver());
        QCOMPARE(rig.manager()->sendCommand(text), queued);
        if (queued)
            QVERIFY(rig.rx.waitForLine("GPS_DEBUG 1"));
        else
            QTest::qWait(250);
        rig.rx.process();
        QCOMPARE(rig.rx.lines(), queued ? QList<QByteArray> { "GPS_DEBUG 1" } : QList<QByteArray> {});
    }

    void settingsRatesAreChecked()
    {
        ReceiverRig rig;
        ReceiverSettings s;
        s.gpsRateHz = 5;
        s.motionRateHz = 10;
        rig.manager()->setSettings(s);
        QCOMPARE(rig.manager()->settings().gpsRateHz, 5);
        s.gpsRateHz = 3;
        s.motionRateHz = 15;
        s.hudTopKmh = 62;
        rig.manager()->setSettings(s);
        const ReceiverSettings stored = rig.manager()->settings();
        QCOMPARE(stored.gpsRateHz, 5);
        QCOMPARE(stored.motionRateHz, 10);
        QCOMPARE(stored.hudTopKmh, 60);
        QVERIFY(stored.initialized);
    }

    void settingsChangedAfterTheCyclePushAtOnce()
    {
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        rig.rx.clearRecords();
        ReceiverSettings s = rig.manager()->settings();
        s.osdEnabled = true;
        rig.manager()->setSettings(s);
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.settings().osdEnabled && rig.manager()->isSynced(); }));
        QCOMPARE(rig.rx.lines().value(0), QByteArray("SET_OSD 1"));
    }

    void unpluggingEndsTheCycle()
    {
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        rig.rx.hangUp();
        QTRY_VERIFY(!rig.controller->isReceiverConnected());
        QVERIFY(!rig.manager()->supportsSetting(QStringLiteral("OSD")));
        QCOMPARE(rig.manager()->summaryText(), QStringLiteral("Not connected"));
        QVERIFY(!rig.manager()->sendCommand(QStringLiteral("VER")));
    }
};

OSTRA_TEST_MAIN_CORE(TestReceiverConfigManager)
#include "tst_receiverconfigmanager.moc"
