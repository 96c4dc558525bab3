#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "bridge/crsfprotocol.h"
#include "bridge/devicesecurity.h"
#include "platform/serial/serialportlister.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

const QByteArray StopLine = QByteArrayLiteral("STOP\n");

// A car on wheel base and pedals, transmitting to `line` once the line gave its ID, with the
// 7 ms timer held.
bool startOnLine(TransmitRig &rig, ostratest::PtyDevice &line, const AxisSettings &settings = TransmitRig::plainSettings())
{
    if (!rig.controller->setAxisSettings(settings) || !rig.controller->connectWheelBase(TransmitRig::WheelPos)
        || !rig.controller->connectPedals(TransmitRig::PedalsPos))
        return false;
    rig.pedals->setAxis(1, -1.0f); // a report: the pedal set is seen released
    rig.pollAll();
    return rig.controller->connectTransmitter(line.slavePath(), 115200) && line.write("QOR-ID:QORTX01\r\n")
           && rig.tx.waitFor([&rig] { return rig.controller->isTransmitterAnswered(); }) && rig.start();
}

bool endsWithChannelFrame(const QByteArray &wire)
{
    const int size = corvane::CrsfProtocol::RcChannelsFrameSize;
    if (wire.size() < size)
        return false;
    const QByteArray frame = wire.right(size);
    return frame.startsWith(QByteArrayLiteral("\xC8\x18\x16"))
        && corvane::CrsfProtocol::crc8(frame.constData() + 2, size - 3) == quint8(frame.back());
}

} // namespace

class TestTransmission : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { corvane::SerialPortLister::useSystemPorts(); }

    void refusals_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("canStart"); // what the start button shows beforehand
        QTest::addColumn<QString>("error");

        QTest::newRow("nothing connected") << "none" << false << "RP2040 Bridge not connected";
        QTest::newRow("transmitter not on the allow-list")
            << "unauthorized" << true << "Transmitter device is not authorized. Cannot start transmission.";
        // Frames go only to a device that gave its ID, in provisioning mode too; Start is locked till then.
        QTest::newRow("transmitter yet to name itself") << "waiting" << false << "%1 is open. Waiting for the transmitter to answer\u2026";
        QTest::newRow("no wheel base") << "port" << false << "Wheel base not connected";
        QTest::newRow("no joystick") << "heli" << false << "Joystick not connected";
        QTest::newRow("configuring the transmitter") << "config" << true << "Stop configuring before starting transmission";
        QTest::newRow("throttle pressed, no pedal set")
            << "wheelThrottle" << false << "Release the throttle pedal before starting transmission.";
        // Auto-start starts inside the connect, before anything has read the pedal set.
        QTest::newRow("pedal set just connected, throttle down")
            << "pedalsJustConnected" << true << "Release the throttle pedal before starting transmission.";
        // Arm at idle, on by default, refuses a helicopter whose first frame would lift it.
        QTest::newRow("helicopter collective at the top")
            << "heliLeverUp" << true << "Lower the collective before starting transmission.";
        QTest::newRow("helicopter without a lever")
            << "heliNoLever" << true << "Connect the throttle lever before starting transmission.";
        // It reads its low end, but may stand anywhere: the first nudge would lift the collective.
        // A lever connected in place of one that moved is as new.
        QTest::newRow("helicopter lever at its centre, never moved")
            << "heliLeverResting" << true << "Move the collective to its lowest position before starting transmission.";
        QTest::newRow("helicopter lever replaced by another at its centre")
            << "heliLeverReplaced" << true << "Move the collective to its lowest position before starting transmission.";
        // Without its preset's throttle and brake axes (Z, Rz) a pedal set has nothing pressed: it starts.
        QTest::newRow("pedal set lacking its preset's axes") << "twoAxisPedals" << true << QString();
        // Read released at open, as a set just plugged in is until its first report: the start
        // holds the throttle until a report shows it released.
        QTest::newRow("pedal set just plugged in, yet to report") << "pedalsUnreported" << true << QString();
        QTest::newRow("helicopter lever just plugged in, yet to report") << "heliLeverUnreported" << true << QString();
        // A report of the brake says nothing of the throttle.
        QTest::newRow("pedal set just plugged in, brake reported first") << "pedalsBrakeFirst" << true << QString();
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
        } else if (setup == "waiting") {
            rig.tx.setAnswersId(false);
            QVERIFY(rig.connectCar());
            error = error.arg(rig.tx.portName());
        } else if (setup == "config") {
            QVERIFY(rig.connectCar());
            rig.controller->startConfigMode();
            QVERIFY(rig.controller->isConfigMode());
        } else if (setup == "wheelThrottle") {
            QVERIFY(rig.connectCar(false));
            rig.wheel->setAxis(1, 1.0f);
            rig.pollAll();
        } else if (setup == "heliLeverUp" || setup == "heliNoLever") {
            QVERIFY(rig.connectHelicopter(setup == "heliLeverUp"));
            rig.lever->setAxis(5, 1.0f);
            rig.pollAll();
        } else if (setup == "heliLeverResting") {
            QVERIFY(rig.connectRestingHelicopter(4, 3, 0));
            rig.pollAll();
        } else if (setup == "heliLeverReplaced") {
            QVERIFY(rig.connectHelicopter());
            rig.input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Spare Throttle")));
            QVERIFY(rig.controller->connectHeliThrottle(int(rig.input->devices().size()) - 1));
            rig.pollAll();
        } else if (setup == "pedalsJustConnected") {
            QVERIFY(rig.connectCar(false));
            rig.pedals->setAxis(1, 0.4f);
            QVERIFY(rig.controller->connectPedals(TransmitRig::PedalsPos));
        } else if (setup == "pedalsUnreported" || setup == "pedalsBrakeFirst") {
            QVERIFY(rig.connectCar(false));
            rig.pedals->setAxis(1, -1.0f);
            QVERIFY(rig.controller->connectPedals(TransmitRig::PedalsPos));
            if (setup == "pedalsBrakeFirst") {
                rig.pedals->setAxis(2, -1.0f);
                rig.pollAll();
            }
        } else if (setup == "heliLeverUnreported") {
            QVERIFY(rig.connectHelicopter(false));
            rig.lever->setAxis(5, -1.0f);
            QVERIFY(rig.controller->connectHeliThrottle(TransmitRig::ThrottlePos));
        } else if (setup == "twoAxisPedals") {
            rig.input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("USB Pedals"), 2, 0, 0));
            QVERIFY(rig.controller->connectPedals(int(rig.input->devices().size()) - 1));
            QVERIFY(rig.connectCar(false));
        }
        QCOMPARE(rig.controller->canStartTransmission(), canStart);
        rig.controller->startTransmission();
        QCOMPARE(rig.controller->isRunning(), error.isEmpty());
        QCOMPARE(rig.lastError(), error);
        QCOMPARE(rig.errors->count(), error.isEmpty() ? 0 : 1);
        rig.tx.waitFor([] { return false; }, 50);
        QCOMPARE(rig.tx.startCount(), error.isEmpty() ? 1 : 0);
        // A car that starts sends the throttle channel at neutral.
        if (error.isEmpty()) {
            QVERIFY(rig.tx.waitForChannelFrames(1));
            QCOMPARE(rig.tx.lastChannels()[1], 992);
            // Until a report shows it released, the control drives nothing.
            const auto channels = [&rig] { return QList<int>{rig.ch(0), rig.ch(1), rig.ch(2), rig.ch(3)}; };
            const QList<int> before = channels();
            (setup.startsWith("heli") ? rig.lever : rig.pedals)->setAxis(setup.startsWith("heli") ? 5 : 1, 0.0f);
            rig.tick(3);
            QCOMPARE(channels(), before);
        }
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

        rig.controller->stopTransmissionAndHold();
        QVERIFY(rig.tx.waitForLine("STOP"));
        const int frames = rig.tx.channelFrameCount();
        rig.controller->stopForSafety(QStringLiteral("ignored while idle"));
        rig.tx.waitFor([] { return false; }, 100);
        QCOMPARE(rig.tx.stopCount(), 1);
        QCOMPARE(rig.tx.channelFrameCount(), frames);
        QCOMPARE(rig.errors->count(), 0);
    }

    // A paint due after the tick must not hold the frame back: it is on the line when the tick
    // returns, without the event loop having run.
    void tickFrameIsOnTheLineWhenTheTickReturns()
    {
        TransmitRig rig;
        ostratest::PtyDevice line;
        QVERIFY(startOnLine(rig, line));
        QVERIFY(line.readArrived().endsWith("START\n"));
        for (int tick = 0; tick < 20; ++tick) {
            rig.tick();
            const QByteArray wire = line.readArrived();
            QVERIFY2(endsWithChannelFrame(wire), qPrintable(QStringLiteral("tick %1: %2").arg(tick).arg(QString::fromLatin1(wire.toHex()))));
        }
        QCOMPARE(rig.controller->frameCount(), 20u);
    }

    void stopIsLastOnTheLine_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("stop button") << "stop";
        QTest::newRow("safety stop: calibration changed") << "calibration";
        QTest::newRow("safety stop: throttle spike") << "spike";
        QTest::newRow("safety stop: wheel base mapping changed") << "mapping";
        QTest::newRow("wheel base gone, caught by the tick") << "unplug";
        QTest::newRow("wheel base disconnected") << "disconnectWheel";
        QTest::newRow("transmitter disconnected") << "disconnectTransmitter";
        QTest::newRow("transmitter names itself anew, rejected") << "rejected";
        QTest::newRow("controller destroyed") << "destroy";
    }

    // However a transmission ends, "STOP" reaches the line once, at once, and no frame follows it.
    void stopIsLastOnTheLine()
    {
        QFETCH(QString, path);
        TransmitRig rig;
        ostratest::PtyDevice line;
        AxisSettings settings = TransmitRig::plainSettings();
        settings.throttleSpikeRejectionEnabled = path == "spike";
        QVERIFY(startOnLine(rig, line, settings));
        rig.tick(3);
        if (path == "stop") {
            rig.controller->stopTransmissionAndHold();
        } else if (path == "calibration") {
            settings.escNeutral = 1000;
            QVERIFY(rig.controller->setAxisSettings(settings));
        } else if (path == "spike") {
            rig.pedals->setAxis(1, 1.0f);
            rig.tick(); // that frame goes out with the throttle held back; the stop follows it
            QCoreApplication::processEvents();
        } else if (path == "mapping") {
            AxisMapping mapping = rig.controller->wheelBase()->axisMapping();
            mapping.combinedPedals = !mapping.combinedPedals;
            rig.controller->setWheelBaseAxisMapping(mapping);
        } else if (path == "unplug") {
            rig.wheel->unplug();
            QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onMonitorTimer"));
            rig.tick(2);
        } else if (path == "disconnectWheel") {
            rig.controller->disconnectWheelBase();
        } else if (path == "disconnectTransmitter") {
            rig.controller->disconnectTransmitter();
        } else if (path == "rejected") {
            rig.controller->deviceSecurity()->setProvisioningMode(false);
            QVERIFY(line.write("QOR-ID:STRANGER\r\n") && rig.tx.waitFor([&rig] { return !rig.controller->isRunning(); }));
        } else if (path == "destroy") {
            rig.controller.reset();
        }
        QVERIFY(!rig.controller || !rig.controller->isRunning());
        const QByteArray wire = line.readArrived();
        QVERIFY2(wire.endsWith(StopLine), qPrintable(QString::fromLatin1(wire.right(40).toHex())));
        QCOMPARE(wire.count(StopLine), 1);
        if (rig.controller)
            rig.tick(2); // a tick that was already due finds it stopped
        QCOMPARE(line.readArrived(), QByteArray());
    }

    void transmitterComesBack_data()
    {
        // "user", "safety", "stopStart" (Stop, Start), "afterUnplug" (Stop, cable out), "disconnect",
        // "disconnectPedals", "reopenWheel", "vehicle" (a helicopter's profile, then the car's)
        QTest::addColumn<QString>("stop");
        // cable out, then in "replug" or "stranger"; "autoStartOn"; "connect" or "connectPedals"; ""
        QTest::addColumn<QString>("then");
        QTest::addColumn<bool>("resumes");
        QTest::newRow("unplug during a run, plug") << "" << "replug" << true;
        QTest::newRow("unplug during a run, another device on the port") << "" << "stranger" << false;
        QTest::newRow("user Stop, unplug, plug") << "user" << "replug" << false;
        QTest::newRow("safety stop, unplug, plug") << "safety" << "replug" << false;
        QTest::newRow("Stop and Start, unplug, plug") << "stopStart" << "replug" << true;
        QTest::newRow("unplug during a run, Stop, plug") << "afterUnplug" << "replug" << false;
        QTest::newRow("user Stop, auto-start switched on") << "user" << "autoStartOn" << false;
        // A run the user's own act ends holds as a Stop does.
        QTest::newRow("Disconnect during a run, Connect") << "disconnect" << "connect" << false;
        QTest::newRow("pedals' Disconnect during a run, Connect") << "disconnectPedals" << "connectPedals" << false;
        QTest::newRow("wheel base reopened during a run") << "reopenWheel" << "" << false;
        QTest::newRow("another vehicle chosen during a run, the car again, unplug, plug") << "vehicle" << "replug" << false;
    }

    // Auto-start resumes a run the lost transmitter ended once the car's own is back; the user's
    // stop, and a run the user's own act ended, hold until the user's Start; a device the
    // allow-list rejects gets no frame.
    void transmitterComesBack()
    {
        QFETCH(QString, stop);
        QFETCH(QString, then);
        QFETCH(bool, resumes);
        TransmitRig rig;
        corvane::CorvaneController *c = rig.controller.get();
        QTemporaryDir dir;
        const QString alias = dir.filePath(QStringLiteral("ttyQOR0"));
        corvane::SerialPortLister::setFixedPorts({{alias, QStringLiteral("QOR Transmitter"), {}, 0x2E8A, 0x000A}});
        ostratest::SimulatedTransmitter first(QStringLiteral("QORTX01"), alias);
        QVERIFY(rig.connectCar() && c->connectTransmitter(alias, 115200));
        QVERIFY(first.waitFor([c] { return c->isTransmitterAnswered(); }) && rig.start());
        c->deviceSecurity()->setProvisioningMode(false);
        c->setAutoStartEnabled(then != "autoStartOn");
        if (stop == "safety")
            c->stopForSafety(QStringLiteral("a test"));
        else if (stop == "user" || stop == "stopStart")
            c->stopTransmissionAndHold();
        QVERIFY(stop != "stopStart" || rig.start());
        if (stop == "disconnect")
            c->disconnectTransmitter();
        else if (stop == "disconnectPedals")
            c->disconnectPedals();
        if (stop == "reopenWheel")
            QVERIFY(c->connectWheelBase(TransmitRig::WheelPos) && c->reconnectWheelBase());
        if (stop == "vehicle") {
            corvane::ProfileManager *store = c->profileManager();
            const QString car = store->activeProfileId();
            const QString bird = store->duplicateProfile(car, QStringLiteral("Bird"));
            store->mutableProfile(bird)->vehicleType = QString(VehicleType::Helicopter);
            QVERIFY(store->setActiveProfile(bird) && !c->isRunning() && store->setActiveProfile(car));
        }
        std::unique_ptr<ostratest::SimulatedTransmitter> second;
        if (then == "autoStartOn") {
            c->setAutoStartEnabled(true);
        } else if (then == "connectPedals") {
            QVERIFY(c->connectPedals(TransmitRig::PedalsPos));
        } else if (then == "connect") {
            QVERIFY(c->connectTransmitter(alias, 115200) && first.waitFor([c] { return c->isTransmitterAnswered(); }));
        } else if (!then.isEmpty()) {
            first.hangUp();
            QVERIFY(first.waitFor([c] { return !c->isSerialConnected(); }) && !c->isRunning());
            if (stop == "afterUnplug")
                c->stopTransmissionAndHold();
            second = std::make_unique<ostratest::SimulatedTransmitter>(then == "replug" ? "QORTX01" : "STRANGER", alias);
            QVERIFY(QMetaObject::invokeMethod(c, "tryReconnectTransmitter"));
            QVERIFY(second->waitFor([c] { return c->isTransmitterAnswered(); }));
        }
        ostratest::SimulatedTransmitter &now = second ? *second : first;
        now.waitFor([&now] { return now.channelFrameCount() > 0; }, resumes ? 10000 : 200);
        QCOMPARE(c->isRunning(), resumes);
        QCOMPARE(now.channelFrameCount() > 0, resumes);
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
