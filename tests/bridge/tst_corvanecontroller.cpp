#include <QDir>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <limits>
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

class TestCorvaneController : public QObject
{
    Q_OBJECT

    // What a profile-change listener sees of the controller.
    static QString seen(const CorvaneController &c)
    {
        return QStringLiteral("%1 %2 %3 %4 %5")
            .arg(c.axisSettings().throttle.deadzone).arg(c.axisSettings().steeringLeft)
            .arg(c.buttonMappings().mappings.size()).arg(c.ledSettings().ledCount).arg(c.autoStartEnabled());
    }

private slots:
    void init()
    {
        corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
        QVERIFY2(input, "tests run with the virtual input backend");
        input->reset();
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    }

    void construction()
    {
        CorvaneController controller;
        // Owned in construction order, other children in between.
        QStringList classes;
        for (QObject *child : controller.children())
            classes << QString::fromLatin1(child->metaObject()->className());
        const QStringList owned { "corvane::ProfileManager", "corvane::DeviceSecurity", "corvane::CorvaneSerialPort",
                                  "corvane::CorvaneSerialPort", "corvane::InputDevice", "corvane::InputDevice",
                                  "corvane::InputDevice", "corvane::InputDevice", "corvane::InputDevice",
                                  "corvane::InputDevice", "corvane::CrsfProtocol", "corvane::MotionTelemetrySender",
                                  "corvane::ElrsParameterManager", "corvane::SteeringMonitor" };
        qsizetype at = 0;
        for (const QString &name : std::as_const(classes))
            at += at < owned.size() && name == owned.at(at) ? 1 : 0;
        QVERIFY2(at == owned.size(), qPrintable(classes.join(", ")));
        const QList<QObject *> accessors { controller.profileManager(), controller.deviceSecurity(),
                                           controller.transmitterPort(), controller.receiverPort(),
                                           controller.wheelBase(), controller.pedals(), controller.shifter(),
                                           controller.heliJoystick(), controller.heliThrottle(),
                                           controller.heliPedals(), controller.crsfProtocol(),
                                           controller.motionTelemetrySender(), controller.elrsParameterManager(),
                                           controller.steeringMonitor() };
        QCOMPARE(QSet<QObject *>(accessors.begin(), accessors.end()).size(), accessors.size());
        for (QObject *object : accessors)
            QCOMPARE(object->parent(), &controller);

        // A first start writes a default profile.
        const Profile *active = controller.profileManager()->activeProfile();
        QCOMPARE(active->name, QStringLiteral("Default"));
        QVERIFY(QFile::exists(controller.profileManager()->profileFilePath(active->id)));
    }

    void channelStore_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("stored"); // -1: nothing stored
        QTest::newRow("first channel") << 0 << 992 << 992;
        QTest::newRow("last channel") << 15 << 1811 << 1811;
        QTest::newRow("top of range") << 3 << 2047 << 2047;
        QTest::newRow("above range clamps") << 3 << 3000 << 2047;
        QTest::newRow("below range clamps") << 7 << -5 << 0;
        QTest::newRow("far out of range") << 7 << std::numeric_limits<int>::min() << 0;
        QTest::newRow("index 16 is ignored") << 16 << 500 << -1;
        QTest::newRow("negative index is ignored") << -1 << 500 << -1;
        QTest::newRow("huge index is ignored") << std::numeric_limits<int>::max() << 500 << -1;
    }

    void channelStore()
    {
        QFETCH(int, channel);
        QFETCH(int, value);
        QFETCH(int, stored);
        CorvaneController controller;
        controller.setChannelValue(channel, value);
        QList<int> expected(CorvaneController::ChannelCount, 0);
        if (stored >= 0)
            expected[channel] = stored;
        QList<int> channels;
        for (int i = 0; i < CorvaneController::ChannelCount; ++i)
            channels << controller.channelValue(i);
        QCOMPARE(channels, expected);
        for (int outside : { -1, 16, std::numeric_limits<int>::min(), std::numeric_limits<int>::max() })
            QCOMPARE(controller.channelValue(outside), CorvaneController::InvalidChannelValue);
    }

    void profileChange_data()
    {
        QTest::addColumn<bool>("autoStartBefore");
        QTest::addColumn<bool>("autoStartAfter");
        QTest::newRow("auto-start switched on") << false << true;
        QTest::newRow("auto-start switched off") << true << false;
        QTest::newRow("auto-start unchanged off") << false << false;
        QTest::newRow("auto-start unchanged on") << true << true;
    }

    // The auto-start change is announced before the profile change, and listeners of the
    // profile change see the new profile's records; going back leaks nothing over.
    void profileChange()
    {
        QFETCH(bool, autoStartBefore);
        QFETCH(bool, autoStartAfter);
        CorvaneController controller;
        corvane::ProfileManager *profiles = controller.profileManager();
        controller.setAutoStartEnabled(autoStartBefore);
        const QString defaultId = profiles->activeProfileId();
        const QString defaults = seen(controller);
        const QString trackId = profiles->createProfile(QStringLiteral("Track"));
        Profile *track = profiles->mutableProfile(trackId);
        track->axisSettings.throttle.deadzone = 0.25f;
        track->axisSettings.steeringLeft = 300;
        track->buttonMappings.mappings = { ButtonMapping() };
        track->ledSettings.ledCount = 42;
        track->autoStartEnabled = autoStartAfter;

        QStringList events;
        connect(&controller, &CorvaneController::autoStartEnabledChanged, this,
                [&](bool on) { events << QStringLiteral("autoStart:%1").arg(on); });
        connect(&controller, &CorvaneController::profileChanged, this, [&](const QString &id) {
            events << profiles->activeProfileName() + (id == profiles->activeProfileId() ? ": " : ", wrong id: ")
                    + seen(controller);
        });
        QVERIFY(profiles->setActiveProfile(trackId));
        QVERIFY(profiles->setActiveProfile(defaultId));
        QStringList expected { "Track: 0.25 300 1 42 " + QString::number(autoStartAfter), "Default: " + defaults };
        if (autoStartBefore != autoStartAfter) {
            expected.insert(0, QStringLiteral("autoStart:%1").arg(autoStartAfter));
            expected.insert(2, QStringLiteral("autoStart:%1").arg(autoStartBefore));
        }
        QCOMPARE(events, expected);
    }

    void renamingActiveProfileReappliesIt()
    {
        CorvaneController controller;
        const QString id = controller.profileManager()->activeProfileId();
        // A change made behind the controller's back is taken up when the store announces it.
        controller.profileManager()->mutableProfile(id)->ledSettings.ledCount = 17;
        QSignalSpy changed(&controller, &CorvaneController::profileChanged);
        QSignalSpy autoStart(&controller, &CorvaneController::autoStartEnabledChanged);
        QVERIFY(controller.profileManager()->renameProfile(id, QStringLiteral("Garage")));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(autoStart.count(), 0);
        QCOMPARE(controller.ledSettings().ledCount, 17);
    }

    void autoStartIsStoredInProfile()
    {
        CorvaneController controller;
        corvane::ProfileManager *profiles = controller.profileManager();
        QSignalSpy spy(&controller, &CorvaneController::autoStartEnabledChanged);
        QVERIFY(controller.setProperty("autoStartEnabled", true));
        QVERIFY(controller.setProperty("autoStartEnabled", true));
        QCOMPARE(spy.count(), 1);
        QVERIFY(profiles->autoStartEnabled());
        QFile file(profiles->profileFilePath(profiles->activeProfileId()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(Profile::fromJson(QJsonDocument::fromJson(file.readAll()).object()).autoStartEnabled);
    }

    void destructionReleasesDevicesAndPorts_data()
    {
        QTest::addColumn<bool>("transmitting");
        QTest::newRow("idle") << false;
        QTest::newRow("transmitting") << true;
    }

    void destructionReleasesDevicesAndPorts()
    {
        QFETCH(bool, transmitting);
        corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
        for (const char *name : { "Wheel", "Pedals", "Shifter", "Stick" })
            input->addDevice(corvane::VirtualDeviceSpec(QString::fromLatin1(name)));
        ostratest::PtyDevice transmitter;
        ostratest::PtyDevice receiver;
        auto controller = std::make_unique<CorvaneController>();
        const QList<corvane::InputDevice *> devices { controller->wheelBase(), controller->pedals(),
                                                      controller->shifter(), controller->heliJoystick() };
        for (int i = 0; i < devices.size(); ++i) {
            QVERIFY(devices[i]->initDirectInput() && devices[i]->open(i));
            QVERIFY(input->device(i)->isAcquired());
        }
        QVERIFY(controller->transmitterPort()->open(transmitter.slavePath(), 115200));
        QVERIFY(controller->receiverPort()->open(receiver.slavePath(), 115200));
        if (transmitting) {
            // Pedals fully released, as the start requires (a generic device reads them inverted).
            for (int axis = 0; axis < corvane::InputAxisCount; ++axis)
                input->device(1)->setAxis(axis, 1.0f);
            controller->pedals()->poll();
            controller->startTransmission();
            QVERIFY(controller->isRunning());
            QCOMPARE(transmitter.readLine(), QByteArray("START"));
        }
        transmitter.drain();

        // A device announces its release once more when its input system shuts down; repeats
        // of the same state are not of interest here.
        QStringList events;
        const auto record = [&](auto signal, const QString &what) {
            connect(controller.get(), signal, this, [&events, what](bool on) {
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

        QCOMPARE(events, (QStringList { "shifter:off", "pedals:off", "wheel:off", "transmitter:off", "receiver:off" }));
        for (int i = 0; i < devices.size(); ++i)
            QVERIFY(!input->device(i)->isAcquired());
        QCOMPARE(input->liveContexts(), 0);
        // Every device and the line itself stop the transmission; only the first finds it running.
        QCOMPARE(transmitter.readAvailable().count("STOP\n"), transmitting ? 1 : 0);
    }
};

OSTRA_TEST_MAIN_CORE(TestCorvaneController)
#include "tst_corvanecontroller.moc"
