#include "bridge/corvanecontroller.h"
#include "bridge/devicesecurity.h"

#include "platform/input/virtualinputbackend.h"
#include "platform/serial/serialportlister.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "transmitrig.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

#include <memory>

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
const QString Shifter = QStringLiteral("MOZA HGP Shifter");

// Attached controllers by key; "W2" is the same wheel base model plugged into another USB
// port (a new instance GUID), "w2" the same with the driver spelling the name in lower case.
const QHash<QString, std::pair<QString, QUuid>> &known()
{
    static const QHash<QString, std::pair<QString, QUuid>> table {
        { "W", { Wheel, QUuid("{5e1c0a7e-0001-4f00-8000-00000000000a}") } },
        { "P", { Pedals, QUuid("{5e1c0a7e-0002-4f00-8000-00000000000b}") } },
        { "S", { Shifter, QUuid("{5e1c0a7e-0003-4f00-8000-00000000000c}") } },
        { "X", { "Virtual Flight Stick", QUuid("{5e1c0a7e-0004-4f00-8000-00000000000d}") } },
        { "W2", { Wheel, QUuid("{5e1c0a7e-0005-4f00-8000-00000000000e}") } },
        { "w2", { Wheel.toLower(), QUuid("{5e1c0a7e-0005-4f00-8000-00000000000e}") } },
        { "F", { "Fanatec CSL DD", QUuid("{5e1c0a7e-0006-4f00-8000-00000000000f}") } },
        { "H", { "Heusinkveld Sprint", QUuid("{5e1c0a7e-0007-4f00-8000-000000000010}") } },
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

QJsonObject profileFile(const CorvaneController &controller)
{
    corvane::ProfileManager *store = controller.profileManager();
    QFile file(store->profileFilePath(store->activeProfileId()));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

AxisMapping customMapping(const QString &name)
{
    AxisMapping mapping;
    mapping.map = { 3, 6, 7, 0 };
    mapping.inverted = { true, false, true, false };
    mapping.presetName = name;
    return mapping;
}

// One of the six devices, by the word its messages use.
struct Role
{
    bool (CorvaneController::*connect)(int);
    InputDevice *(CorvaneController::*device)() const;
    void (CorvaneController::*disconnect)();
    QString word;
    void (CorvaneController::*setMapping)(const AxisMapping &) = nullptr;
};

Role role(const QString &name)
{
    using C = CorvaneController;
    static const QHash<QString, Role> roles {
        { "wheel base",
          { &C::connectWheelBase, &C::wheelBase, &C::disconnectWheelBase, "wheel base", &C::setWheelBaseAxisMapping } },
        { "pedals", { &C::connectPedals, &C::pedals, &C::disconnectPedals, "pedals", &C::setPedalsAxisMapping } },
        { "shifter", { &C::connectShifter, &C::shifter, &C::disconnectShifter, "shifter", &C::setShifterAxisMapping } },
        { "joystick", { &C::connectHeliJoystick, &C::heliJoystick, &C::disconnectHeliJoystick, "joystick" } },
        { "throttle", { &C::connectHeliThrottle, &C::heliThrottle, &C::disconnectHeliThrottle, "throttle" } },
        { "helicopter pedals", { &C::connectHeliPedals, &C::heliPedals, &C::disconnectHeliPedals, "pedals" } },
    };
    return roles.value(name);
}

QString disconnectedText(const QString &device)
{
    QString word = role(device).word;
    word[0] = word.at(0).toUpper();
    return word + QStringLiteral(" disconnected");
}

// A car whose wheel base, pedals and shifter sit at 1, 2 and 3, behind a flight stick at 0.
bool connectCar(CorvaneController &c)
{
    return c.connectWheelBase(1) && c.connectPedals(2) && c.connectShifter(3);
}

} // namespace

class TestControllerDevices : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
        QSettings().clear();
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
        QTest::newRow("wheel base in another USB port")
            << QStringList { "X", "P", "S", "W2" } << QStringList { "W2", "P", "S" };
        QTest::newRow("name reported in other letter case")
            << QStringList { "X", "w2", "P", "S" } << QStringList { "w2", "P", "S" };
        QTest::newRow("look-alike listed before the original")
            << QStringList { "W2", "X", "W", "P", "S" } << QStringList { "W", "P", "S" };
        QTest::newRow("wheel base missing") << QStringList { "X", "P", "S" } << QStringList { "", "P", "S" };
        QTest::newRow("only a look-alike") << QStringList { "W2", "X" } << QStringList { "W2", "", "" };
        QTest::newRow("nothing attached") << QStringList {} << QStringList { "", "", "" };
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
            QVERIFY(connectCar(first));
            DeviceConnections &stored = first.profileManager()->mutableActiveProfile()->deviceConnections;
            QCOMPARE(stored.wheelBase.productName, Wheel);
            QCOMPARE(stored.wheelBase.instanceGuid, guidText("W"));
            QCOMPARE(stored.shifter.instanceGuid, guidText("S"));
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
        QVERIFY(!next.isHeliJoystickConnected());
    }

    void unpluggedAndReplugged_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("position");
        QTest::newRow("wheel base") << "wheel base" << 1;
        QTest::newRow("pedals") << "pedals" << 2;
        QTest::newRow("shifter") << "shifter" << 3;
    }

    void unpluggedAndReplugged()
    {
        QFETCH(QString, device);
        QFETCH(int, position);
        const QList<VirtualInputDevice *> attached = attach({ "X", "W", "P", "S" });
        CorvaneController controller;
        QSignalSpy errors(&controller, &CorvaneController::errorOccurred);
        QVERIFY(connectCar(controller));
        InputDevice *input = (controller.*role(device).device)();
        attached.at(position)->unplug();
        for (int i = 0; i < 3; ++i)
            QVERIFY(QMetaObject::invokeMethod(&controller, "onMonitorTimer"));
        QVERIFY(!input->isConnected());
        QCOMPARE(texts(errors), QStringList { disconnectedText(device) });

        // The stick goes away and the device comes back: it now sits one place earlier.
        attached.at(0)->unplug();
        attached.at(position)->replug();
        controller.autoConnectDevices();
        QCOMPARE(input->deviceIndex(), position - 1);
        QCOMPARE(input->instanceGuid(), corvane::inputGuidText(attached.at(position)->spec().instanceGuid));
        QVERIFY(QMetaObject::invokeMethod(&controller, "onMonitorTimer"));
        QCOMPARE(errors.size(), 1);
    }

    void savedDeviceSearch_data()
    {
        QTest::addColumn<QString>("productName");
        QTest::addColumn<QString>("instanceGuid");
        QTest::addColumn<int>("expected");
        const QString wheelGuid = guidText("W");
        QTest::newRow("GUID in lower case") << QString() << wheelGuid.toLower() << 1;
        QTest::newRow("GUID wins over the name") << Pedals << wheelGuid << 1;
        QTest::newRow("garbage GUID, name") << Pedals << "not a guid" << 2;
        QTest::newRow("GUID with bad digits, name") << Shifter << "{ZZZZZZZZ-0001-4F00-8000-00000000000A}" << 3;
        QTest::newRow("truncated GUID, name in capitals") << Wheel.toUpper() << wheelGuid.left(20) << 1;
        QTest::newRow("GUID without braces, name") << Pedals << wheelGuid.mid(1, 36) << 2;
        QTest::newRow("GUID without closing brace, name") << Pedals << wheelGuid.chopped(1) << 2;
        QTest::newRow("GUID with text after it, name") << Pedals << wheelGuid + "0" << 2;
        QTest::newRow("garbage GUID, no name") << QString() << "{garbage}" << -1;
        QTest::newRow("empty slot") << QString() << QString() << -1;
    }

    void savedDeviceSearch()
    {
        QFETCH(QString, productName);
        QFETCH(QString, instanceGuid);
        QFETCH(int, expected);
        attach({ "X", "W", "P", "S" });
        CorvaneController controller;
        DeviceConnection slot;
        slot.productName = productName;
        slot.instanceGuid = instanceGuid;
        QCOMPARE(controller.findSavedDevice(slot), expected);
    }

    void transmitterPortRestored_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::newRow("port listed") << true;
        QTest::newRow("port not listed") << false;
    }

    // The next start finds the transmitter through the port list and the devices by identity,
    // and the car can be driven without choosing anything again.
    void transmitterPortRestored()
    {
        QFETCH(bool, listed);
        ostratest::SimulatedTransmitter tx;
        attach({ "X", "W", "P" });
        {
            CorvaneController first;
            QVERIFY(first.connectTransmitter(tx.portName(), 420000));
            QVERIFY(first.connectWheelBase(1) && first.connectPedals(2));
        }
        tx.clearRecords();
        attach({ "P", "W" });
        corvane::SerialPortLister::setFixedPorts({ { listed ? tx.portName() : QStringLiteral("/dev/ttyACM7"),
                                                     "QOR Transmitter", "Qorvant", 0x2E8A, 0x000A } });
        CorvaneController controller;
        controller.autoConnectDevices();
        QCOMPARE(openKey(controller.wheelBase()), QStringLiteral("W"));
        QCOMPARE(openKey(controller.pedals()), QStringLiteral("P"));
        QCOMPARE(controller.isSerialConnected(), listed);
        if (!listed)
            return;
        QCOMPARE(controller.serialPortName(), tx.portName());
        QSignalSpy errors(&controller, &CorvaneController::errorOccurred);
        QTRY_VERIFY_WITH_TIMEOUT(controller.isTransmitterAuthorized(), Patience);
        controller.wheelBase()->poll();
        controller.pedals()->poll();
        controller.startTransmission();
        QVERIFY2(controller.isRunning(), qPrintable(texts(errors).join('\n')));
        QVERIFY(tx.waitForLine("START"));
        QVERIFY(tx.waitForChannelFrames(3));
    }

    void reconnectWheelBase_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("open");
        QTest::newRow("same device") << "" << true << "W";
        QTest::newRow("moved to another USB port") << "moved" << true << "W2";
        QTest::newRow("unplugged") << "gone" << false << "";
        QTest::newRow("nothing stored") << "forget" << false << "W";
    }

    void reconnectWheelBase()
    {
        QFETCH(QString, change);
        QFETCH(bool, result);
        QFETCH(QString, open);
        const QList<VirtualInputDevice *> attached = attach({ "X", "W" });
        CorvaneController controller;
        QVERIFY(controller.connectWheelBase(1));
        if (change == "forget")
            controller.profileManager()->setWheelBaseDevice(DeviceConnection());
        if (change == "moved" || change == "gone")
            attached.at(1)->unplug();
        if (change == "moved") {
            VirtualDeviceSpec spec(Wheel);
            spec.instanceGuid = known().value("W2").second;
            VirtualInputBackend::instance()->addDevice(spec);
        }
        QCOMPARE(controller.reconnectWheelBase(), result);
        QCOMPARE(openKey(controller.wheelBase()), open);
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("serviceMissing");
        for (const char *device : { "wheel base", "pedals", "shifter", "joystick", "throttle", "helicopter pedals" }) {
            QTest::addRow("%s, index beyond the list", device) << device << false;
            QTest::addRow("%s, input service missing", device) << device << true;
        }
    }

    void connectFailures()
    {
        QFETCH(QString, device);
        QFETCH(bool, serviceMissing);
        attach({ "W", "P" });
        CorvaneController controller;
        QSignalSpy errors(&controller, &CorvaneController::errorOccurred);
        VirtualInputBackend::instance()->setContextFailure(serviceMissing);
        QVERIFY(!(controller.*role(device).connect)(serviceMissing ? 0 : 2));
        QCOMPARE(texts(errors),
                 QStringList { (serviceMissing ? QStringLiteral("Failed to initialize input system for %1")
                                               : QStringLiteral("Failed to open %1 device"))
                                   .arg(role(device).word) });
        QVERIFY(controller.profileManager()->deviceConnections().wheelBase.isEmpty());
        QVERIFY(!controller.connectGpioUart(115200));
        QCOMPARE(texts(errors).constLast(), QStringLiteral("GPIO UART is only available on Linux"));
    }

    void helicopterDeviceRemembered()
    {
        attach({ "X", "W" });
        {
            CorvaneController controller;
            controller.profileManager()->mutableActiveProfile()->vehicleType = QString(VehicleType::Helicopter);
            QVERIFY(controller.connectHeliJoystick(0));
        }
        CorvaneController controller;
        const DeviceConnection joystick = controller.helicopterConfig().inputs.joystick.device;
        QCOMPARE(joystick.productName, known().value("X").first);
        QCOMPARE(joystick.instanceGuid, guidText("X"));
        QVERIFY(controller.profileManager()->deviceConnections().wheelBase.isEmpty());
    }

    void storedMappingTrusted_data()
    {
        QTest::addColumn<QString>("storedWheel");
        QTest::addColumn<QString>("storedShifter");
        QTest::addColumn<bool>("storedCustom");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("same product, custom mapping") << Wheel << Shifter << true << true;
        QTest::newRow("same product, no custom mapping") << Wheel << Shifter << false << false;
        QTest::newRow("another product") << "Fanatec CSL DD" << "Fanatec ClubSport Shifter" << true << false;
        QTest::newRow("name in other letter case") << Wheel.toLower() << Shifter.toUpper() << true << false;
    }

    // A stored mapping is taken only for the product it was made for; the file then holds the
    // mapping in use.
    void storedMappingTrusted()
    {
        QFETCH(QString, storedWheel);
        QFETCH(QString, storedShifter);
        QFETCH(bool, storedCustom);
        QFETCH(bool, trusted);
        attach({ "X", "W", "P", "S" });
        CorvaneController controller;
        DeviceConnection stored;
        stored.productName = storedWheel;
        stored.axisMapping = customMapping("Mine");
        stored.hasCustomAxisMapping = storedCustom;
        controller.profileManager()->setWheelBaseDevice(stored);
        DeviceConnection gears;
        gears.productName = storedShifter;
        gears.shifterMapping[1] = 12;
        gears.hasCustomShifterMapping = storedCustom;
        controller.profileManager()->setShifterDevice(gears);
        QVERIFY(controller.connectWheelBase(1) && controller.connectShifter(3));
        QCOMPARE(controller.wheelBase()->axisMapping().presetName,
                 trusted ? QStringLiteral("Mine") : QStringLiteral("MOZA / Fanatec"));
        QCOMPARE(controller.shifterMapping()[1], trusted ? 12 : 7);
        const DeviceConnections file
            = DeviceConnections::fromJson(profileFile(controller).value("deviceConnections").toObject());
        QCOMPARE(file.wheelBase.productName, Wheel);
        QCOMPARE(file.wheelBase.hasCustomAxisMapping, trusted);
        QCOMPARE(file.wheelBase.axisMapping.map,
                 trusted ? customMapping("Mine").map : (std::array<int, 4> { 0, 1, 2, 3 }));
        QCOMPARE(file.shifter.productName, Shifter);
        QCOMPARE(file.shifter.hasCustomShifterMapping, trusted);
    }

    void unplugWhileTransmitting_data()
    {
        QTest::addColumn<bool>("helicopter");
        QTest::addColumn<bool>("wheel");
        QTest::addColumn<QString>("caughtBy");
        for (const char *tick : { "onTransmitTimer", "onMonitorTimer" }) {
            QTest::addRow("car, wheel base, %s", tick) << false << true << tick;
            QTest::addRow("car, pedals, %s", tick) << false << false << tick;
            QTest::addRow("helicopter, wheel base, %s", tick) << true << true << tick;
        }
    }

    // The transmission stops once with one message and no frame after "STOP", or with the
    // pedals gone the car gets a released throttle: it never keeps the last input.
    void unplugWhileTransmitting()
    {
        QFETCH(bool, helicopter);
        QFETCH(bool, wheel);
        QFETCH(QString, caughtBy);
        TransmitRig rig;
        QVERIFY(rig.controller->setAxisSettings(TransmitRig::plainSettings()));
        QVERIFY(rig.controller->connectWheelBase(TransmitRig::WheelPos));
        if (helicopter) {
            QVERIFY(rig.connectHelicopter());
        } else {
            QVERIFY(rig.controller->connectPedals(TransmitRig::PedalsPos));
            rig.pollAll();
            QVERIFY(rig.openTransmitter());
        }
        QVERIFY(rig.start());
        rig.pedals->setAxis(1, 1.0f);
        rig.tick(2);

        (wheel ? rig.wheel : rig.pedals)->unplug();
        QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), qPrintable(caughtBy)));
        for (int i = 0; i < 10; ++i) {
            rig.tick();
            QCoreApplication::processEvents();
        }
        QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onMonitorTimer"));
        QCoreApplication::processEvents();
        QCOMPARE(texts(*rig.errors), QStringList { disconnectedText(wheel ? "wheel base" : "pedals") });
        QCOMPARE(rig.controller->isRunning(), !wheel);
        if (wheel) {
            QVERIFY(rig.tx.waitForLine("STOP"));
            QCOMPARE(rig.tx.stopCount(), 1);
            QCOMPARE(rig.tx.lines().last(), QByteArray("STOP"));
            QCOMPARE(rig.tx.channelFrameCount(), int(rig.controller->frameCount()));
            QVERIFY(rig.tx.rawReceived().endsWith("STOP\n"));
        } else {
            QCOMPARE(rig.ch(1), 992);
            QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
            QCOMPARE(rig.tx.lastChannels()[1], 992);
        }
    }

    void autoStartWhenDevicesArrive_data()
    {
        QTest::addColumn<QString>("last");
        QTest::newRow("pedals last") << "pedals";
        QTest::newRow("wheel base last") << "wheel base";
    }

    // With the transmitter ready, the car starts by itself once its last device is connected.
    void autoStartWhenDevicesArrive()
    {
        QFETCH(QString, last);
        TransmitRig rig;
        CorvaneController *c = rig.controller.get();
        c->deviceSecurity()->setProvisioningMode(true);
        c->setAutoStartEnabled(true);
        QVERIFY(rig.openTransmitter());
        QTRY_VERIFY_WITH_TIMEOUT(c->isTransmitterAuthorized(), Patience);
        const bool pedalsLast = last == "pedals";
        QVERIFY(pedalsLast ? c->connectWheelBase(TransmitRig::WheelPos) : c->connectPedals(TransmitRig::PedalsPos));
        QVERIFY(!c->isRunning());
        QVERIFY(pedalsLast ? c->connectPedals(TransmitRig::PedalsPos) : c->connectWheelBase(TransmitRig::WheelPos));
        QVERIFY2(c->isRunning(), qPrintable(rig.lastError()));
        QVERIFY(rig.tx.waitForLine("START"));
    }

    void userDisconnect_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("keepsRunning");
        QTest::newRow("shifter") << "shifter" << true;
        QTest::newRow("pedals") << "pedals" << false;
        QTest::newRow("wheel base") << "wheel base" << false;
    }

    void userDisconnect()
    {
        QFETCH(QString, device);
        QFETCH(bool, keepsRunning);
        TransmitRig rig;
        QVERIFY(rig.connectCar(true, true));
        QVERIFY(rig.start());
        CorvaneController *c = rig.controller.get();
        QSignalSpy wheelSignal(c, &CorvaneController::wheelBaseConnectedChanged);
        QSignalSpy pedalsSignal(c, &CorvaneController::pedalsConnectedChanged);
        QSignalSpy shifterSignal(c, &CorvaneController::shifterConnectedChanged);
        (c->*role(device).disconnect)();
        QCOMPARE(c->isRunning(), keepsRunning);
        QCOMPARE((QList<bool> { c->isWheelBaseConnected(), c->isPedalsConnected(), c->isShifterConnected() }),
                 (QList<bool> { device != "wheel base", device != "pedals", device != "shifter" }));
        // Announced once.
        QCOMPARE((QList<qsizetype> { wheelSignal.size(), pedalsSignal.size(), shifterSignal.size() }),
                 (QList<qsizetype> { device == "wheel base", device == "pedals", device == "shifter" }));
        QVERIFY(rig.errors->isEmpty());
    }

    void mappingChangesStopForSafety_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("slot");
        QTest::newRow("wheel base mapping") << "wheel base" << "wheelBase";
        QTest::newRow("pedals mapping") << "pedals" << "pedals";
        QTest::newRow("shifter mapping") << "shifter" << "shifter";
        QTest::newRow("controls preset") << "controls preset" << "";
    }

    void mappingChangesStopForSafety()
    {
        QFETCH(QString, change);
        QFETCH(QString, slot);
        TransmitRig rig;
        CorvaneController *c = rig.controller.get();
        QVERIFY(c->connectWheelBase(TransmitRig::WheelPos) && c->connectPedals(TransmitRig::PedalsPos)
                && c->connectShifter(TransmitRig::ShifterPos));
        rig.pollAll();
        QVERIFY(rig.openTransmitter() && rig.start());
        const AxisMapping mapping = customMapping("Changed");
        if (slot.isEmpty())
            QVERIFY(c->loadControlsPreset("controls", c->saveControlsPreset("controls")));
        else
            (c->*role(change).setMapping)(mapping);
        QVERIFY(!c->isRunning());
        QCOMPARE(rig.lastError(),
                 QStringLiteral("Transmission stopped for safety: %1 %2. Verify the pedals and press "
                                "Start Transmission again.")
                     .arg(change, slot.isEmpty() ? "loaded" : "mapping changed"));
        if (slot.isEmpty())
            return;
        QCOMPARE((c->*role(change).device)()->axisMapping().presetName, QStringLiteral("Changed"));
        const QJsonObject stored = profileFile(*c).value("deviceConnections").toObject().value(slot).toObject();
        QCOMPARE(stored.value("hasCustomAxisMapping").toBool(), true);
        QCOMPARE(AxisMapping::fromJson(stored.value("axisMapping").toObject()).map, mapping.map);
    }

    void controlsPresetOnOtherDevices_data()
    {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<bool>("wheelApplied");
        QTest::addColumn<bool>("pedalsApplied");
        QTest::addColumn<QString>("warning");
        const QString sentence
            = QStringLiteral("Axis mapping for the %1 was not loaded: it was saved for a different device.");
        QTest::newRow("same devices") << QStringList { "W", "P" } << true << true << QString();
        QTest::newRow("names in other letter case") << QStringList { "w2", "p" } << true << true << QString();
        QTest::newRow("another wheel base") << QStringList { "F", "P" } << false << true << sentence.arg("wheel base");
        QTest::newRow("both others") << QStringList { "F", "H" } << false << false
                                     << sentence.arg("wheel base and pedals");
        QTest::newRow("no devices") << QStringList {} << false << false << sentence.arg("wheel base and pedals");
    }

    // Saved with one set of devices, loaded with another: the axes always come along, a custom
    // mapping only onto the device it was made for.
    void controlsPresetOnOtherDevices()
    {
        QFETCH(QStringList, layout);
        QFETCH(bool, wheelApplied);
        QFETCH(bool, pedalsApplied);
        QFETCH(QString, warning);
        QJsonObject preset;
        attach({ "W", "P" });
        {
            CorvaneController source;
            QVERIFY(source.connectWheelBase(0) && source.connectPedals(1));
            source.setWheelBaseAxisMapping(customMapping("Wheel tuned"));
            source.setPedalsAxisMapping(customMapping("Pedals tuned"));
            AxisSettings settings = source.axisSettings();
            settings.throttle.deadzone = 0.125f;
            settings.wheelRotationDeg = 540;
            QVERIFY(source.setAxisSettings(settings));
            preset = source.saveControlsPreset("controls");
        }
        QCOMPARE(preset.value("axes").toArray().size(), 4);
        QCOMPARE(preset.value("wheelBase").toObject().value("productName").toString(), Wheel);
        QVERIFY(!preset.contains("shifter"));

        init();
        attach(layout);
        CorvaneController target;
        for (int i = 0; i < layout.size(); ++i)
            QVERIFY(i == 0 ? target.connectWheelBase(0) : target.connectPedals(1));
        QString text = QStringLiteral("untouched");
        QVERIFY(target.loadControlsPreset("controls", preset, &text));
        QCOMPARE(text, warning.isEmpty() ? QStringLiteral("untouched") : warning);
        QCOMPARE(target.axisSettings().throttle.deadzone, 0.125f);
        AxisSettings saved;
        saved.fromJson(profileFile(target).value("axisSettings").toObject());
        QCOMPARE(saved.wheelRotationDeg, 540);
        const DeviceConnections stored = target.profileManager()->deviceConnections();
        QCOMPARE((QList<bool> { target.wheelBase()->axisMapping().presetName == "Wheel tuned",
                                stored.wheelBase.hasCustomAxisMapping,
                                target.pedals()->axisMapping().presetName == "Pedals tuned",
                                stored.pedals.hasCustomAxisMapping }),
                 (QList<bool> { wheelApplied, wheelApplied, pedalsApplied, pedalsApplied }));
    }

    void controlsPresetValues_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("angle");
        QTest::newRow("above the range") << QJsonObject { { "wheelRotationDeg", 3000 }, { "steeringAngleDeg", 450 } }
                                         << 2520 << 450;
        QTest::newRow("below the range") << QJsonObject { { "wheelRotationDeg", 45 }, { "steeringAngleDeg", -10 } }
                                         << 90 << 0;
        QTest::newRow("fractions") << QJsonObject { { "wheelRotationDeg", 1080.6 }, { "steeringAngleDeg", 450.5 } }
                                   << 1080 << 450;
        QTest::newRow("huge") << QJsonObject { { "wheelRotationDeg", 1e12 }, { "steeringAngleDeg", -1e12 } } << 2520
                              << 0;
        QTest::newRow("not numbers") << QJsonObject { { "wheelRotationDeg", "wide" }, { "steeringAngleDeg", true } }
                                     << 900 << 0;
        QTest::newRow("absent") << QJsonObject {} << 720 << 360;
        QTest::newRow("unknown kind") << QJsonObject { { "wheelRotationDeg", 180 } } << 720 << 360;
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
        const bool known = QByteArray(QTest::currentDataTag()) != "unknown kind";
        QCOMPARE(controller.loadControlsPreset(known ? "controls" : "buttons", data), known);
        QCOMPARE(controller.axisSettings().wheelRotationDeg, rotation);
        QCOMPARE(controller.axisSettings().steeringAngleDeg, angle);
        QCOMPARE(controller.saveControlsPreset("buttons"), QJsonObject());
    }

    void controlsPresetShortAxes()
    {
        CorvaneController controller;
        const QJsonObject preset { { "axes",
                                     QJsonArray { QJsonObject { { "name", "Renamed" }, { "deadzone", 0.2 } },
                                                  QJsonObject { { "deadzone", 0.3 }, { "inverted", true } } } } };
        QVERIFY(controller.loadControlsPreset("controls", preset));
        const AxisSettings s = controller.axisSettings();
        QCOMPARE(s.steering.name, QStringLiteral("Steering"));
        QCOMPARE(s.steering.deadzone, 0.2f);
        QVERIFY(s.throttle.inverted);
        QCOMPARE(s.brake.deadzone, AxisSettings().brake.deadzone);
        QCOMPARE(s.clutch.inverted, false);
    }
};

OSTRA_TEST_MAIN_CORE(TestControllerDevices)
#include "tst_controllerdevices.moc"
