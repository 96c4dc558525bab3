#include <QDir>
#include <QStandardPaths>
#include <QTest>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "bridge/corvaneserialport.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profilemanager.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

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
        ostratest::freshDataFolder();
    }

    void channelStore()
    {
        CorvaneController controller;
        controller.setChannelValue(15, 3000);
        controller.setChannelValue(3, -5);
        controller.setChannelValue(16, 500);
        controller.setChannelValue(-1, 500);
        QList<int> channels;
        for (int i = 0; i < CorvaneController::ChannelCount; ++i)
            channels << controller.channelValue(i);
        QList<int> expected(CorvaneController::ChannelCount, 0);
        expected[15] = 2047;
        QCOMPARE(channels, expected);
        QCOMPARE(controller.channelValue(16), CorvaneController::InvalidChannelValue);
        QCOMPARE(controller.channelValue(-1), CorvaneController::InvalidChannelValue);
    }

    // The auto-start change is announced before the profile change, and listeners of the
    // profile change see the new profile's records; going back leaks nothing over.
    void profileChange()
    {
        CorvaneController controller;
        corvane::ProfileManager *profiles = controller.profileManager();
        const QString defaultId = profiles->activeProfileId();
        const QString defaults = seen(controller);
        const QString trackId = profiles->createProfile(QStringLiteral("Track"));
        Profile *track = profiles->mutableProfile(trackId);
        track->axisSettings.throttle.deadzone = 0.25f;
        track->axisSettings.steeringLeft = 300;
        track->buttonMappings.mappings = { ButtonMapping() };
        track->ledSettings.ledCount = 42;
        track->autoStartEnabled = true;

        QStringList events;
        connect(&controller, &CorvaneController::autoStartEnabledChanged, this,
                [&](bool on) { events << QStringLiteral("autoStart:%1").arg(on); });
        connect(&controller, &CorvaneController::profileChanged, this, [&](const QString &id) {
            events << profiles->activeProfileName() + (id == profiles->activeProfileId() ? ": " : ", wrong id: ")
                    + seen(controller);
        });
        QVERIFY(profiles->setActiveProfile(trackId));
        QVERIFY(profiles->setActiveProfile(defaultId));
        QCOMPARE(events,
                 (QStringList { "autoStart:1", "Track: 0.25 300 1 42 1", "autoStart:0", "Default: " + defaults }));
    }

    // Released in order while transmitting: the transmitter hears "STOP" once.
    void destructionReleasesDevicesAndPorts()
    {
        corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
        for (const char *name : { "Wheel", "Pedals", "Shifter", "Stick" })
            input->addDevice(corvane::VirtualDeviceSpec(QString::fromLatin1(name)));
        ostratest::PtyDevice transmitter;
        ostratest::PtyDevice receiver;
        auto controller = std::make_unique<CorvaneController>();
        const QList<corvane::InputDevice *> devices { controller->wheelBase(), controller->pedals(),
                                                      controller->shifter(), controller->heliJoystick() };
        for (int i = 0; i < devices.size(); ++i)
            QVERIFY(devices[i]->initDirectInput() && devices[i]->open(i));
        QVERIFY(controller->transmitterPort()->open(transmitter.slavePath(), 115200));
        QVERIFY(controller->receiverPort()->open(receiver.slavePath(), 115200));
        // Pedals fully released, as the start requires (a generic device reads them inverted).
        for (int axis = 0; axis < corvane::InputAxisCount; ++axis)
            input->device(1)->setAxis(axis, 1.0f);
        controller->pedals()->poll();
        // Frames go only to a transmitter that gave its ID.
        QVERIFY(transmitter.write("QOR-ID:QORTX01\r\n"));
        QTRY_VERIFY(controller->isTransmitterAnswered());
        controller->startTransmission();
        QCOMPARE(transmitter.readLine(), QByteArray("START"));

        // A device announces its release once more when its input system shuts down; repeats
        // of the same state are not of interest here.
        QStringList events;
        using C = CorvaneController;
        for (auto [signal, what] : { std::pair(&C::wheelBaseConnectedChanged, "wheel"),
                                     std::pair(&C::pedalsConnectedChanged, "pedals"),
                                     std::pair(&C::shifterConnectedChanged, "shifter"),
                                     std::pair(&C::serialConnectedChanged, "transmitter"),
                                     std::pair(&C::receiverConnectedChanged, "receiver") }) {
            connect(controller.get(), signal, this, [&events, what = QString::fromLatin1(what)](bool on) {
                const QString event = what + QString::number(on);
                if (events.isEmpty() || events.last() != event)
                    events << event;
            });
        }
        controller.reset();

        QCOMPARE(events, (QStringList { "shifter0", "pedals0", "wheel0", "transmitter0", "receiver0" }));
        for (int i = 0; i < devices.size(); ++i)
            QVERIFY(!input->device(i)->isAcquired());
        QCOMPARE(input->liveContexts(), 0);
        // Every device and the line itself stop the transmission; only the first finds it running.
        QCOMPARE(transmitter.readAvailable().count("STOP\n"), 1);
    }
};

OSTRA_TEST_MAIN_CORE(TestCorvaneController)
#include "tst_corvanecontroller.moc"
