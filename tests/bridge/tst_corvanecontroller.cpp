#include <QDir>
#include <QJsonDocument>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "bridge/corvaneserialport.h"
#include "bridge/devicesecurity.h"
#include "bridge/elrsparametermanager.h"
#include "bridge/motiontelemetrysender.h"
#include "bridge/steeringmonitor.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profilemanager.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"

using corvane::CorvaneController;

namespace {

// A second profile that differs from the default in every record the controller copies.
QString addTrackProfile(CorvaneController &controller, bool autoStart)
{
    corvane::ProfileManager *profiles = controller.profileManager();
    const QString id = profiles->createProfile(QStringLiteral("Track"));
    Profile *track = profiles->mutableProfile(id);
    track->axisSettings.throttle.deadzone = 0.25f;
    track->axisSettings.steeringLeft = 300;
    ButtonMapping mapping;
    mapping.buttonIndex = 4;
    mapping.channel = 5;
    track->buttonMappings.mappings = {mapping};
    track->ledSettings.ledCount = 42;
    track->autoStartEnabled = autoStart;
    return id;
}

bool isSubsequence(const QStringList &wanted, const QStringList &all)
{
    qsizetype at = 0;
    for (const QString &item : all) {
        if (at < wanted.size() && item == wanted.at(at))
            ++at;
    }
    return at == wanted.size();
}

} // namespace

class TestCorvaneController : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void constructionOwnsDevicesInOrder();
    void firstStartCreatesDefaultProfile();
    void properties_data();
    void properties();
    void channelStore_data();
    void channelStore();
    void profileChange_data();
    void profileChange();
    void renamingActiveProfileReappliesIt();
    void autoStartPropertyIsStoredInProfile();
    void destructionReleasesDevicesAndPorts_data();
    void destructionReleasesDevicesAndPorts();
};

void TestCorvaneController::init()
{
    corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
    QVERIFY2(input, "tests run with the virtual input backend");
    input->reset();
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

void TestCorvaneController::constructionOwnsDevicesInOrder()
{
    CorvaneController controller;

    QStringList classes;
    for (QObject *child : controller.children())
        classes << QString::fromLatin1(child->metaObject()->className());
    const QStringList owned{
        "corvane::ProfileManager", "corvane::DeviceSecurity", "corvane::CorvaneSerialPort",
        "corvane::CorvaneSerialPort", "corvane::InputDevice", "corvane::InputDevice",
        "corvane::InputDevice", "corvane::InputDevice", "corvane::InputDevice",
        "corvane::InputDevice", "corvane::CrsfProtocol", "corvane::MotionTelemetrySender",
        "corvane::ElrsParameterManager", "corvane::SteeringMonitor"};
    QVERIFY2(isSubsequence(owned, classes), qPrintable(classes.join(", ")));

    const QList<QObject *> accessors{
        controller.profileManager(),   controller.deviceSecurity(),
        controller.transmitterPort(),  controller.receiverPort(),
        controller.wheelBase(),        controller.pedals(),
        controller.shifter(),          controller.heliJoystick(),
        controller.heliThrottle(),     controller.heliPedals(),
        controller.crsfProtocol(),     controller.motionTelemetrySender(),
        controller.elrsParameterManager(), controller.steeringMonitor()};
    QCOMPARE(QSet<QObject *>(accessors.begin(), accessors.end()).size(), accessors.size());
    for (QObject *object : accessors)
        QCOMPARE(object->parent(), &controller);

    QCOMPARE(controller.transmitterPort()->isConnected(), false);
    QCOMPARE(controller.wheelBase()->isConnected(), false);
    QCOMPARE(int(controller.steeringMonitor()->health()), int(corvane::SteeringOk));
}

void TestCorvaneController::firstStartCreatesDefaultProfile()
{
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/profiles";
    QVERIFY(!QDir(folder).exists());
    CorvaneController controller;
    const Profile *active = controller.profileManager()->activeProfile();
    QVERIFY(active);
    QCOMPARE(active->name, QStringLiteral("Default"));
    QVERIFY(QFile::exists(folder + "/" + active->id + ".json"));
    QCOMPARE(controller.axisSettings().steeringRight, AxisSettings().steeringRight);
    QCOMPARE(controller.ledSettings().ledCount, LedSettings().ledCount);
    QVERIFY(controller.buttonMappings().mappings.isEmpty());
    QCOMPARE(controller.autoStartEnabled(), false);
}

void TestCorvaneController::properties_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("initial");
    QTest::addColumn<QByteArray>("notify");
    QTest::addColumn<bool>("writable");

    QTest::newRow("running") << QByteArray("running") << QVariant(false)
                             << QByteArray("runningChanged") << false;
    QTest::newRow("autoStartEnabled") << QByteArray("autoStartEnabled") << QVariant(false)
                                      << QByteArray("autoStartEnabledChanged") << true;
    QTest::newRow("serialConnected") << QByteArray("serialConnected") << QVariant(false)
                                     << QByteArray("serialConnectedChanged") << false;
    QTest::newRow("serialPortName") << QByteArray("serialPortName") << QVariant(QString())
                                    << QByteArray("serialPortNameChanged") << false;
    QTest::newRow("frameCount") << QByteArray("frameCount") << QVariant(0u)
                                << QByteArray("frameCountChanged") << false;
    QTest::newRow("steering") << QByteArray("steering") << QVariant()
                              << QByteArray("inputChanged") << false;
    QTest::newRow("throttle") << QByteArray("throttle") << QVariant()
                              << QByteArray("inputChanged") << false;
    QTest::newRow("brake") << QByteArray("brake") << QVariant() << QByteArray("inputChanged")
                           << false;
}

void TestCorvaneController::properties()
{
    QFETCH(QByteArray, name);
    QFETCH(QVariant, initial);
    QFETCH(QByteArray, notify);
    QFETCH(bool, writable);

    CorvaneController controller;
    const QMetaObject *meta = controller.metaObject();
    const int index = meta->indexOfProperty(name.constData());
    QVERIFY(index >= 0);
    const QMetaProperty property = meta->property(index);
    QCOMPARE(property.notifySignal().name(), notify);
    QCOMPARE(property.isWritable(), writable);
    const QVariant value = controller.property(name.constData());
    QVERIFY(value.isValid());
    if (initial.isValid())
        QCOMPARE(value, initial);
}

void TestCorvaneController::channelStore_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("value");
    QTest::addColumn<QList<int>>("expected");

    const QList<int> zeros(CorvaneController::ChannelCount, 0);
    auto with = [&zeros](int channel, int value) {
        QList<int> channels = zeros;
        channels[channel] = value;
        return channels;
    };
    QTest::newRow("first channel") << 0 << 992 << with(0, 992);
    QTest::newRow("last channel") << 15 << 1811 << with(15, 1811);
    QTest::newRow("top of range") << 3 << 2047 << with(3, 2047);
    QTest::newRow("above range clamps") << 3 << 3000 << with(3, 2047);
    QTest::newRow("below range clamps") << 7 << -5 << with(7, 0);
    QTest::newRow("far out of range") << 7 << std::numeric_limits<int>::min() << with(7, 0);
    QTest::newRow("index 16 is ignored") << 16 << 500 << zeros;
    QTest::newRow("negative index is ignored") << -1 << 500 << zeros;
    QTest::newRow("huge index is ignored") << std::numeric_limits<int>::max() << 500 << zeros;
}

void TestCorvaneController::channelStore()
{
    QFETCH(int, channel);
    QFETCH(int, value);
    QFETCH(QList<int>, expected);

    CorvaneController controller;
    for (int i = 0; i < CorvaneController::ChannelCount; ++i)
        QCOMPARE(controller.channelValue(i), 0);

    controller.setChannelValue(channel, value);
    QList<int> channels;
    for (int i = 0; i < CorvaneController::ChannelCount; ++i)
        channels << controller.channelValue(i);
    QCOMPARE(channels, expected);

    for (int outside : {-1, 16, 17, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()})
        QCOMPARE(controller.channelValue(outside), CorvaneController::InvalidChannelValue);
}

void TestCorvaneController::profileChange_data()
{
    QTest::addColumn<bool>("autoStartBefore");
    QTest::addColumn<bool>("autoStartAfter");
    QTest::addColumn<QStringList>("expectedEvents");

    QTest::newRow("auto-start switched on")
        << false << true << QStringList{"autoStart:1", "profile:Track"};
    QTest::newRow("auto-start switched off")
        << true << false << QStringList{"autoStart:0", "profile:Track"};
    QTest::newRow("auto-start unchanged off") << false << false << QStringList{"profile:Track"};
    QTest::newRow("auto-start unchanged on") << true << true << QStringList{"profile:Track"};
}

void TestCorvaneController::profileChange()
{
    QFETCH(bool, autoStartBefore);
    QFETCH(bool, autoStartAfter);
    QFETCH(QStringList, expectedEvents);

    CorvaneController controller;
    controller.setAutoStartEnabled(autoStartBefore);
    const QString defaultId = controller.profileManager()->activeProfileId();
    const QString trackId = addTrackProfile(controller, autoStartAfter);

    QStringList events;
    struct Seen
    {
        float deadzone = -1.0f;
        int steeringLeft = -1;
        qsizetype mappings = -1;
        int ledCount = -1;
        bool autoStart = false;
    } seen;
    connect(&controller, &CorvaneController::autoStartEnabledChanged, this,
            [&events](bool on) { events << QStringLiteral("autoStart:%1").arg(on); });
    connect(&controller, &CorvaneController::profileChanged, this,
            [&](const QString &id) {
                QCOMPARE(id, controller.profileManager()->activeProfileId());
                events << "profile:" + controller.profileManager()->activeProfileName();
                seen = {controller.axisSettings().throttle.deadzone,
                        controller.axisSettings().steeringLeft,
                        controller.buttonMappings().mappings.size(),
                        controller.ledSettings().ledCount, controller.autoStartEnabled()};
            });

    QVERIFY(controller.profileManager()->setActiveProfile(trackId));
    QCOMPARE(events, expectedEvents);
    QCOMPARE(seen.deadzone, 0.25f);
    QCOMPARE(seen.steeringLeft, 300);
    QCOMPARE(seen.mappings, qsizetype(1));
    QCOMPARE(seen.ledCount, 42);
    QCOMPARE(seen.autoStart, autoStartAfter);
    QCOMPARE(controller.profileManager()->autoStartEnabled(), autoStartAfter);

    // Going back restores the first profile's records; nothing of the second leaks over.
    events.clear();
    QVERIFY(controller.profileManager()->setActiveProfile(defaultId));
    QCOMPARE(seen.deadzone, AxisSettings().throttle.deadzone);
    QCOMPARE(seen.steeringLeft, AxisSettings().steeringLeft);
    QCOMPARE(seen.mappings, qsizetype(0));
    QCOMPARE(seen.ledCount, LedSettings().ledCount);
    QCOMPARE(seen.autoStart, autoStartBefore);
    QStringList back{QStringLiteral("profile:Default")};
    if (autoStartBefore != autoStartAfter)
        back.prepend(QStringLiteral("autoStart:%1").arg(autoStartBefore));
    QCOMPARE(events, back);
}

void TestCorvaneController::renamingActiveProfileReappliesIt()
{
    CorvaneController controller;
    const QString id = controller.profileManager()->activeProfileId();
    // A change made behind the controller's back is taken up when the store announces it.
    controller.profileManager()->mutableProfile(id)->ledSettings.ledCount = 17;
    QSignalSpy changed(&controller, &CorvaneController::profileChanged);
    QSignalSpy autoStart(&controller, &CorvaneController::autoStartEnabledChanged);
    QVERIFY(controller.profileManager()->renameProfile(id, QStringLiteral("Garage")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), id);
    QCOMPARE(autoStart.count(), 0);
    QCOMPARE(controller.ledSettings().ledCount, 17);
}

void TestCorvaneController::autoStartPropertyIsStoredInProfile()
{
    CorvaneController controller;
    QSignalSpy spy(&controller, &CorvaneController::autoStartEnabledChanged);
    QVERIFY(controller.setProperty("autoStartEnabled", true));
    QVERIFY(controller.setProperty("autoStartEnabled", true));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(controller.profileManager()->autoStartEnabled(), true);

    // The flag reached the profile file, not only the store in memory.
    const QString path =
        controller.profileManager()->profileFilePath(controller.profileManager()->activeProfileId());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const Profile stored = Profile::fromJson(QJsonDocument::fromJson(file.readAll()).object());
    QCOMPARE(stored.autoStartEnabled, true);
}

void TestCorvaneController::destructionReleasesDevicesAndPorts_data()
{
    QTest::addColumn<bool>("transmitting");
    QTest::addColumn<int>("stops");

    QTest::newRow("idle") << false << 0;
    QTest::newRow("transmitting") << true << 1;
}

void TestCorvaneController::destructionReleasesDevicesAndPorts()
{
    QFETCH(bool, transmitting);
    QFETCH(int, stops);

    corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
    for (const char *name : {"Wheel", "Pedals", "Shifter", "Stick"})
        input->addDevice(corvane::VirtualDeviceSpec(QString::fromLatin1(name)));

    ostratest::PtyDevice transmitter;
    ostratest::PtyDevice receiver;
    QVERIFY(transmitter.isOpen() && receiver.isOpen());

    auto controller = std::make_unique<CorvaneController>();
    const QList<corvane::InputDevice *> devices{controller->wheelBase(), controller->pedals(),
                                                controller->shifter(), controller->heliJoystick()};
    for (int i = 0; i < devices.size(); ++i) {
        QVERIFY(devices[i]->initDirectInput());
        QVERIFY(devices[i]->open(i));
    }
    QVERIFY(controller->transmitterPort()->open(transmitter.slavePath(), 115200));
    QVERIFY(controller->receiverPort()->open(receiver.slavePath(), 115200));
    for (int i = 0; i < devices.size(); ++i)
        QVERIFY(input->device(i)->isAcquired());
    if (transmitting) {
        // Pedals fully released, as the start requires (a generic device reads them inverted).
        for (int axis = 0; axis < corvane::InputAxisCount; ++axis)
            input->device(1)->setAxis(axis, 1.0f);
        controller->pedals()->poll();
        QSignalSpy refused(controller.get(), &CorvaneController::errorOccurred);
        controller->startTransmission();
        QVERIFY2(controller->isRunning(),
                 qPrintable(refused.isEmpty() ? QString() : refused.at(0).at(0).toString()));
        QCOMPARE(transmitter.readLine(), QByteArray("START"));
    }
    transmitter.drain();

    // A device announces its release once more when its input system shuts down; repeats of
    // the same state are not of interest here.
    QStringList events;
    auto record = [&events, c = controller.get(), this](auto signal, const QString &what) {
        connect(c, signal, this, [&events, what](bool on) {
            const QString event = what + (on ? ":on" : ":off");
            if (events.isEmpty() || events.last() != event)
                events << event;
        });
    };
    record(&CorvaneController::wheelBaseConnectedChanged, QStringLiteral("wheel"));
    record(&CorvaneController::pedalsConnectedChanged, QStringLiteral("pedals"));
    record(&CorvaneController::shifterConnectedChanged, QStringLiteral("shifter"));
    record(&CorvaneController::serialConnectedChanged, QStringLiteral("transmitter"));
    record(&CorvaneController::receiverConnectedChanged, QStringLiteral("receiver"));
    controller.reset();

    QCOMPARE(events, (QStringList{"shifter:off", "pedals:off", "wheel:off", "transmitter:off",
                                  "receiver:off"}));
    for (int i = 0; i < devices.size(); ++i)
        QVERIFY2(!input->device(i)->isAcquired(), qPrintable(QString::number(i)));
    QCOMPARE(input->liveContexts(), 0);
    // Every device and the line itself stop the transmission; only the first finds it running.
    QCOMPARE(transmitter.readAvailable().count("STOP\n"), stops);
}

OSTRA_TEST_MAIN_CORE(TestCorvaneController)
#include "tst_corvanecontroller.moc"
