#include "bridge/corvanecontroller.h"
#include "bridge/devicesecurity.h"

#include "platform/input/virtualinputbackend.h"
#include "platform/serial/serialportlister.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"
#include "transmitrig.h"

#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>
#include <QStandardPaths>

using corvane::CorvaneController;
using corvane::InputDevice;
using corvane::VirtualDeviceSpec;
using corvane::VirtualInputBackend;
using corvane::VirtualInputDevice;
using ostratest::TransmitRig;

namespace {

// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

const QString Wheel = QStringLiteral("MOZA R9 Base");
const QString Pedals = QStringLiteral("MOZA SRP Pedals");

// Attached controllers by key; "W2" is the same wheel base model plugged into another USB
// port (a new instance GUID), "w2" the same with the driver spelling the name in lower case.
const QHash<QString, std::pair<QString, QUuid>> &known()
{
    static const QHash<QString, std::pair<QString, QUuid>> table {
        { "W", { Wheel, QUuid("{5e1c0a7e-0001-4f00-8000-00000000000a}") } },
        { "P", { Pedals, QUuid("{5e1c0a7e-0002-4f00-8000-00000000000b}") } },
        { "S", { "MOZA HGP Shifter", QUuid("{5e1c0a7e-0003-4f00-8000-00000000000c}") } },
        { "X", { "Virtual Flight Stick", QUuid("{5e1c0a7e-0004-4f00-8000-00000000000d}") } },
        { "W2", { Wheel, QUuid("{5e1c0a7e-0005-4f00-8000-00000000000e}") } },
        { "w2", { Wheel.toLower(), QUuid("{5e1c0a7e-0005-4f00-8000-00000000000e}") } },
        { "F", { "Fanatec CSL DD", QUuid("{5e1c0a7e-0006-4f00-8000-00000000000f}") } },
        { "p", { Pedals.toUpper(), QUuid("{5e1c0a7e-0008-4f00-8000-000000000011}") } },
    };
    return table;
}

QString guidText(const QString &key)
{
    return corvane::inputGuidText(known().value(key).second);
}

QList<VirtualInputDevice *> attach(const QStringList &layout)
{
    VirtualInputBackend *input = VirtualInputBackend::instance();
    input->reset();
    QList<VirtualInputDevice *> devices;
    for (const QString &key : layout) {
        VirtualDeviceSpec spec(known().value(key).first);
        spec.instanceGuid = known().value(key).second;
        devices << input->addDevice(spec);
    }
    return devices;
}

// Key of the attached device an input device has open, empty when it has none.
QString openKey(const InputDevice *device)
{
    for (auto it = known().cbegin(); device->isConnected() && it != known().cend(); ++it) {
        if (corvane::inputGuidText(it->second) == device->instanceGuid() && it->first == device->productName())
            return it.key();
    }
    return device->isConnected() ? QStringLiteral("?") : QString();
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}

AxisMapping customMapping(const QString &name)
{
    AxisMapping mapping;
    mapping.map = { 3, 6, 7, 0 };
    mapping.inverted = { true, false, true, false };
    mapping.presetName = name;
    return mapping;
}

} // namespace

class TestControllerDevices : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
        VirtualInputBackend::instance()->reset();
    }

    void cleanup()
    {
        corvane::SerialPortLister::useSystemPorts();
        VirtualInputBackend::instance()->reset();
    }

    void foundAgainByIdentity_data()
    {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QStringList>("found"); // wheel base, pedals, shifter
        QTest::newRow("same ports, other order") << QStringList { "S", "X", "P", "W" } << QStringList { "W", "P", "S" };
        QTest::newRow("wheel base in another USB port, name in other letter case")
            << QStringList { "X", "w2", "P", "S" } << QStringList { "w2", "P", "S" };
        QTest::newRow("look-alike listed before the original")
            << QStringList { "W2", "X", "W", "P", "S" } << QStringList { "W", "P", "S" };
        // "!": the profile file's GUIDs are garbage, so the name decides.
        QTest::newRow("garbage GUIDs in the file") << QStringList { "!", "X", "W", "P" } << QStringList { "W", "", "" };
    }

    // Connected once, then found again at the next start among controllers listed anew; what
    // was found is what is remembered for the time after.
    void foundAgainByIdentity()
    {
        QFETCH(QStringList, layout);
        QFETCH(QStringList, found);
        const bool garbage = layout.removeAll("!") > 0;
        attach({ "X", "W", "P", "S" });
        {
            CorvaneController first;
            QVERIFY(first.connectWheelBase(1) && first.connectPedals(2) && first.connectShifter(3));
            DeviceConnections &stored = first.profileManager()->mutableActiveProfile()->deviceConnections;
            if (garbage) {
                stored.wheelBase.instanceGuid = QStringLiteral("{\u00e9\u00e9-not-a-guid");
                stored.pedals.productName = QStringLiteral("Nobody's Pedals");
                stored.pedals.instanceGuid = QStringLiteral("12345");
                QVERIFY(first.profileManager()->saveActiveProfile());
            }
        }
        attach(layout);
        CorvaneController next;
        next.autoConnectDevices();
        QCOMPARE((QStringList { openKey(next.wheelBase()), openKey(next.pedals()), openKey(next.shifter()) }), found);
        if (!found.at(0).isEmpty())
            QCOMPARE(next.profileManager()->deviceConnections().wheelBase.instanceGuid, guidText(found.at(0)));
    }

    void unpluggedAndReplugged()
    {
        const QList<VirtualInputDevice *> attached = attach({ "X", "W", "P" });
        CorvaneController controller;
        QSignalSpy errors(&controller, &CorvaneController::errorOccurred);
        QVERIFY(controller.connectWheelBase(1) && controller.connectPedals(2));
        attached.at(1)->unplug();
        for (int i = 0; i < 3; ++i)
            QVERIFY(QMetaObject::invokeMethod(&controller, "onMonitorTimer"));
        QVERIFY(!controller.isWheelBaseConnected());
        QCOMPARE(texts(errors), QStringList { QStringLiteral("Wheel base disconnected") });
        // The stick goes away and the wheel base comes back: it now sits one place earlier.
        attached.at(0)->unplug();
        attached.at(1)->replug();
        controller.autoConnectDevices();
        QCOMPARE(controller.wheelBase()->deviceIndex(), 0);
        QCOMPARE(openKey(controller.wheelBase()), QStringLiteral("W"));
    }

    // The next start finds the transmitter through the port list and the devices by identity,
    // and the car can be driven without choosing anything again.
    void transmitterPortRestored()
    {
        ostratest::SimulatedTransmitter tx;
        attach({ "X", "W", "P" });
        {
            CorvaneController first;
            QVERIFY(first.connectTransmitter(tx.portName(), 420000));
            QVERIFY(first.connectWheelBase(1) && first.connectPedals(2));
        }
        attach({ "P", "W" });
        corvane::SerialPortLister::setFixedPorts({ { tx.portName(), "QOR Transmitter", "Qorvant", 0x2E8A, 0x000A } });
        CorvaneController controller;
        controller.autoConnectDevices();
        QCOMPARE(openKey(controller.wheelBase()), QStringLiteral("W"));
        QCOMPARE(openKey(controller.pedals()), QStringLiteral("P"));
        QSignalSpy errors(&controller, &CorvaneController::errorOccurred);
        QTRY_VERIFY_WITH_TIMEOUT(controller.isTransmitterAuthorized(), Patience);
        controller.wheelBase()->poll();
        controller.pedals()->poll();
        controller.startTransmission();
        QVERIFY2(controller.isRunning(), qPrintable(texts(errors).join('\n')));
        QVERIFY(tx.waitForChannelFrames(3));
    }

    void connectFailures()
    {
        attach({ "W", "P" });
        CorvaneController controller;
        QSignalSpy errors(&controller, &CorvaneController::errorOccurred);
        QVERIFY(!controller.connectWheelBase(2));
        VirtualInputBackend::instance()->setContextFailure(true);
        QVERIFY(!controller.connectHeliThrottle(0));
        QVERIFY(!controller.connectGpioUart(115200));
        QCOMPARE(texts(errors), (QStringList { "Failed to open wheel base device",
                                               "Failed to initialize input system for throttle",
                                               "GPIO UART is only available on Linux" }));
        QVERIFY(controller.profileManager()->deviceConnections().wheelBase.isEmpty());
    }

    void unplugWhileTransmitting_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("caughtBy");
        QTest::addColumn<QString>("error");
        QTest::addColumn<float>("atOpen"); // the pedal as the set connected again reads it at open
        QTest::addColumn<int>("first");    // the axis the set connected again reports first, released
        QTest::newRow("wheel base, caught by the tick") << "wheel" << "onTransmitTimer" << "Wheel base disconnected"
                                                        << 1.0f << -1;
        QTest::newRow("pedals, caught by the monitor") << "pedals" << "onMonitorTimer" << "Pedals disconnected"
                                                       << 1.0f << -1;
        QTest::newRow("pedals reading released at open") << "pedals" << "onMonitorTimer" << "Pedals disconnected"
                                                         << -1.0f << -1;
        QTest::newRow("brake reported first") << "pedals" << "onMonitorTimer" << "Pedals disconnected" << -1.0f << 2;
        QTest::newRow("clutch reported first") << "pedals" << "onMonitorTimer" << "Pedals disconnected" << -1.0f << 3;
        QTest::newRow("helicopter joystick, caught by the tick") << "joystick" << "onTransmitTimer"
                                                                 << "Joystick disconnected" << 1.0f << -1;
    }

    // The transmission stops once with one message and no frame after "STOP", or with the
    // pedals gone the car gets a released throttle: it never keeps the last input.
    void unplugWhileTransmitting()
    {
        QFETCH(QString, device);
        QFETCH(QString, caughtBy);
        QFETCH(QString, error);
        QFETCH(float, atOpen);
        QFETCH(int, first);
        const bool stops = device != "pedals";
        TransmitRig rig;
        if (device == "joystick") {
            QVERIFY(rig.connectHelicopter());
            rig.lever->setAxis(5, -1.0f); // the collective down, as arm at idle wants it
            rig.pollAll();
            QVERIFY(rig.start());
            rig.tick(2);
            rig.joystick->unplug();
        } else {
            QVERIFY(rig.controller->setAxisSettings(TransmitRig::plainSettings()));
            QVERIFY(rig.controller->connectWheelBase(TransmitRig::WheelPos));
            QVERIFY(rig.controller->connectPedals(TransmitRig::PedalsPos));
            rig.pollAll();
            QVERIFY(rig.openTransmitter() && rig.start());
            rig.pedals->setAxis(1, 1.0f);
            rig.tick(2);
            (device == "wheel" ? rig.wheel : rig.pedals)->unplug();
        }
        QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), qPrintable(caughtBy)));
        for (int i = 0; i < 10; ++i) {
            rig.tick();
            QCoreApplication::processEvents();
        }
        QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onMonitorTimer"));
        QCoreApplication::processEvents();
        QCOMPARE(texts(*rig.errors), QStringList { error });
        QCOMPARE(rig.controller->isRunning(), !stops);
        if (stops) {
            QVERIFY(rig.tx.waitForLine("STOP"));
            QCOMPARE(rig.tx.stopCount(), 1);
            QVERIFY(rig.tx.rawReceived().endsWith("STOP\n"));
        } else {
            QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
            QCOMPARE(rig.tx.lastChannels()[1], 992);
            // Connected again with the foot still down, they are held as a start would refuse them,
            // whatever they read before the throttle's first report and whatever else reports first.
            rig.pedals->setAxis(1, atOpen);
            rig.pedals->replug();
            QVERIFY(rig.controller->connectPedals(TransmitRig::PedalsPos));
            rig.tick(3);
            QCOMPARE(rig.ch(1), 992);
            if (first >= 0) {
                rig.pedals->setAxis(first, -1.0f);
                rig.tick(3);
                QCOMPARE(rig.ch(1), 992);
            }
            rig.pedals->setAxis(1, 0.0f);
            rig.tick(3);
            QCOMPARE(rig.ch(1), 992);
            rig.pedals->setAxis(1, -1.0f);
            rig.tick();
            rig.pedals->setAxis(1, 0.0f);
            rig.tick();
            QVERIFY(rig.ch(1) > 992);
        }
    }

    // With the transmitter ready, the car starts by itself once its last device is connected. A
    // mapping change then stops it for safety, and the profile keeps the mapping in step.
    void autoStartThenMappingChange()
    {
        TransmitRig rig;
        CorvaneController *c = rig.controller.get();
        c->deviceSecurity()->setProvisioningMode(true);
        c->setAutoStartEnabled(true);
        QVERIFY(rig.openTransmitter());
        QTRY_VERIFY_WITH_TIMEOUT(c->isTransmitterAuthorized(), Patience);
        QVERIFY(c->connectWheelBase(TransmitRig::WheelPos));
        QVERIFY(!c->isRunning());
        QVERIFY(c->connectPedals(TransmitRig::PedalsPos));
        QVERIFY2(c->isRunning(), qPrintable(rig.lastError()));
        QVERIFY(rig.tx.waitForLine("START"));
        c->setWheelBaseAxisMapping(c->wheelBase()->axisMapping());
        QVERIFY(c->isRunning());

        c->setWheelBaseAxisMapping(customMapping("Changed"));
        QVERIFY(!c->isRunning());
        QCOMPARE(rig.lastError(), QStringLiteral("Transmission stopped for safety: wheel base mapping changed. Verify "
                                                 "the pedals and press Start Transmission again."));
        const DeviceConnection stored = c->profileManager()->deviceConnections().wheelBase;
        QVERIFY(stored.hasCustomAxisMapping);
        QCOMPARE(stored.axisMapping.presetName, QStringLiteral("Changed"));
    }

    void controlsPresetOnOtherDevices_data()
    {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QString>("warning"); // empty: both mappings applied
        QTest::newRow("same devices, names in other letter case") << QStringList { "w2", "p" } << QString();
        QTest::newRow("another wheel base") << QStringList { "F", "P" }
            << "Axis mapping for the wheel base was not loaded: it was saved for a different device.";
    }

    // Saved with one set of devices, loaded with another: the axes always come along, a custom
    // mapping only onto the device it was made for.
    void controlsPresetOnOtherDevices()
    {
        QFETCH(QStringList, layout);
        QFETCH(QString, warning);
        const bool wheelApplied = warning.isEmpty();
        QJsonObject preset;
        attach({ "W", "P" });
        {
            CorvaneController source;
            QVERIFY(source.connectWheelBase(0) && source.connectPedals(1));
            source.setWheelBaseAxisMapping(customMapping("Wheel tuned"));
            source.setPedalsAxisMapping(customMapping("Pedals tuned"));
            AxisSettings settings = source.axisSettings();
            settings.throttle.deadzone = 0.125f;
            QVERIFY(source.setAxisSettings(settings));
            preset = source.saveControlsPreset("controls");
        }
        init();
        attach(layout);
        CorvaneController target;
        QVERIFY(target.connectWheelBase(0) && target.connectPedals(1));
        QString text = QStringLiteral("untouched");
        QVERIFY(target.loadControlsPreset("controls", preset, &text));
        QCOMPARE(text, warning.isEmpty() ? QStringLiteral("untouched") : warning);
        QCOMPARE(target.profileManager()->activeProfile()->axisSettings.throttle.deadzone, 0.125f);
        const DeviceConnections stored = target.profileManager()->deviceConnections();
        QCOMPARE((QList<bool> { target.wheelBase()->axisMapping().presetName == "Wheel tuned",
                                stored.wheelBase.hasCustomAxisMapping,
                                target.pedals()->axisMapping().presetName == "Pedals tuned",
                                stored.pedals.hasCustomAxisMapping }),
                 (QList<bool> { wheelApplied, wheelApplied, true, true }));
    }

    void controlsPresetValues_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("angle");
        QTest::newRow("fractions, above and below the range")
            << QJsonObject { { "wheelRotationDeg", 3000.6 }, { "steeringAngleDeg", -1e12 } } << 2520 << 0;
        // A short axes list from a hand-edited file fills what it has.
        QTest::newRow("short axes list")
            << QJsonObject { { "axes", QJsonArray { QJsonObject { { "deadzone", 0.2 } } } } } << 720 << 360;
    }

    void controlsPresetValues()
    {
        QFETCH(QJsonObject, data);
        QFETCH(int, rotation);
        QFETCH(int, angle);
        CorvaneController controller;
        AxisSettings current = controller.axisSettings();
        current.wheelRotationDeg = 720;
        current.steeringAngleDeg = 360;
        QVERIFY(controller.setAxisSettings(current));
        QVERIFY(controller.loadControlsPreset("controls", data));
        QCOMPARE(controller.axisSettings().wheelRotationDeg, rotation);
        QCOMPARE(controller.axisSettings().steeringAngleDeg, angle);
        QCOMPARE(controller.axisSettings().steering.deadzone, data.contains("axes") ? 0.2f : current.steering.deadzone);
    }
};

OSTRA_TEST_MAIN_CORE(TestControllerDevices)
#include "tst_controllerdevices.moc"
