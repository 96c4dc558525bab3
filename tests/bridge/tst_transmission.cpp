#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include "bridge/devicesecurity.h"
#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

class TestTransmission : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("canStart"); // what the start button shows beforehand
        QTest::addColumn<QString>("error");

        QTest::newRow("nothing connected") << "none" << false << "RP2040 Bridge not connected";
        QTest::newRow("transmitter not on the allow-list")
            << "unauthorized" << true << "Transmitter device is not authorized. Cannot start transmission.";
        QTest::newRow("no wheel base") << "port" << false << "Wheel base not connected";
        QTest::newRow("no joystick") << "heli" << false << "Joystick not connected";
        QTest::newRow("configuring the transmitter") << "config" << true << "Stop configuring before starting transmission";
        QTest::newRow("throttle pressed, no pedal set")
            << "wheelThrottle" << false << "Release the throttle pedal before starting transmission.";
    }

    void refusals()
    {
        QFETCH(QString, setup);
        QFETCH(bool, canStart);
        QFETCH(QString, error);

        TransmitRig rig;
        if (setup == "port") {
            QVERIFY(rig.openTransmitter());
        } else if (setup == "heli") {
            rig.controller->profileManager()->mutableActiveProfile()->vehicleType = QString(VehicleType::Helicopter);
            QVERIFY(rig.connectCar());
        } else if (setup == "unauthorized") {
            rig.controller->deviceSecurity()->setProvisioningMode(false);
            rig.tx.setDeviceId(QStringLiteral("STRANGER"));
            QVERIFY(rig.connectCar());
            QTRY_VERIFY(rig.tx.idQueries() >= 1);
            rig.tx.waitFor([] { return false; }, 300);
        } else if (setup == "config") {
            QVERIFY(rig.connectCar());
            rig.controller->startConfigMode();
            QVERIFY(rig.controller->isConfigMode());
        } else if (setup == "wheelThrottle") {
            QVERIFY(rig.connectCar(false));
            rig.wheel->setAxis(1, 1.0f);
            rig.pollAll();
        }
        QCOMPARE(rig.controller->canStartTransmission(), canStart);
        rig.controller->startTransmission();
        QVERIFY(!rig.controller->isRunning());
        QCOMPARE(rig.lastError(), error);
        QCOMPARE(rig.errors->count(), 1);
        rig.tx.waitFor([] { return false; }, 50);
        QCOMPARE(rig.tx.startCount(), 0);
    }

    void startAndStopOnTheLine()
    {
        TransmitRig rig;
        QVERIFY(rig.connectCar());
        QSignalSpy running(rig.controller.get(), &corvane::CorvaneController::runningChanged);
        rig.controller->startTransmission();
        rig.controller->startTransmission(); // already running: nothing
        QCOMPARE(running.count(), 1);
        QVERIFY(rig.tx.waitForLine("START"));
        QVERIFY(rig.tx.waitForChannelFrames(5)); // frames flow by themselves at the 7 ms cadence

        rig.controller->stopTransmission();
        QVERIFY(rig.tx.waitForLine("STOP"));
        const int frames = rig.tx.channelFrameCount();
        rig.controller->stopForSafety(QStringLiteral("ignored while idle"));
        rig.tx.waitFor([] { return false; }, 100);
        QCOMPARE(rig.tx.stopCount(), 1);
        QCOMPARE(rig.tx.channelFrameCount(), frames);
        QCOMPARE(rig.errors->count(), 0);
    }

    void settingsChangeWhileRunning_data()
    {
        QTest::addColumn<bool>("calibration");
        QTest::addColumn<bool>("viaProfileSwitch");
        QTest::newRow("ESC neutral stops") << true << false;
        QTest::newRow("deceleration rate is taken over") << false << false;
        // Another vehicle chosen while driving must not take over the car mid-run.
        QTest::newRow("profile with another ESC neutral stops") << true << true;
    }

    void settingsChangeWhileRunning()
    {
        QFETCH(bool, calibration);
        QFETCH(bool, viaProfileSwitch);
        TransmitRig rig;
        QVERIFY(rig.startCar());
        corvane::ProfileManager *store = rig.controller->profileManager();
        AxisSettings s = rig.controller->axisSettings();
        (calibration ? s.escNeutral : s.decelRate) = calibration ? 1000 : 70;
        if (viaProfileSwitch) {
            const QString other = store->duplicateProfile(store->activeProfileId(), "Other car");
            store->mutableProfile(other)->axisSettings = s;
            QVERIFY(store->setActiveProfile(other));
        } else {
            QVERIFY(rig.controller->setAxisSettings(s));
        }
        QCOMPARE(rig.controller->isRunning(), !calibration);
        QCOMPARE(rig.lastError(),
                 calibration ? QStringLiteral("Transmission stopped for safety: axis calibration changed. "
                                              "Verify the pedals and press Start Transmission again.")
                             : QString());
        QCOMPARE(rig.controller->axisSettings().toJson(), s.toJson());
    }
};

OSTRA_TEST_MAIN_CORE(TestTransmission)
#include "tst_transmission.moc"
