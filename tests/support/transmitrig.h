#pragma once

#include <QDir>
#include <QMetaObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/simulatedtransmitter.h"
#include "support/writesdone.h"

namespace ostratest {

// A controller with virtual game controllers and a simulated transmitter on a pseudo-terminal.
// Car devices sit at enumeration positions 0..2 (wheel base, pedals, shifter), helicopter
// devices at 3..5 (joystick, throttle, pedals). The 7 ms timer is held still once transmission
// starts: the test drives each tick itself with tick().
class TransmitRig
{
public:
    enum Position { WheelPos, PedalsPos, ShifterPos, JoystickPos, ThrottlePos, RudderPos };

    TransmitRig()
    {
        // Every rig starts from a fresh installation: no profiles, no settings.
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
        input = corvane::VirtualInputBackend::instance();
        input->reset();
        wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base"), 8, 32, 1));
        pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA SRP Pedals"), 8, 8, 0));
        shifter = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA HGP Shifter"), 8, 16, 0));
        joystick = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Virtual Flight Stick"), 8, 16, 1));
        lever = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Virtual Throttle Quadrant"), 8, 16, 0));
        rudder = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Virtual Rudder Pedals"), 8, 4, 0));
        // Sticks and levers rest at their centre; axes a device lacks read as raw 0, like
        // the wheel base's pedal roles, so a lost pedal set reads released pedals there.
        for (corvane::VirtualInputDevice *device : {wheel, pedals, shifter, joystick, lever, rudder}) {
            for (int axis = 0; axis < 8; ++axis)
                device->setAxis(axis, 0.0f);
        }
        for (int axis = 1; axis < 8; ++axis)
            wheel->setAxisRaw(axis, 0);
        releasePedals();
        controller = std::make_unique<corvane::CorvaneController>();
        errors = std::make_unique<QSignalSpy>(controller.get(), &corvane::CorvaneController::errorOccurred);
    }

    ~TransmitRig()
    {
        controller.reset();
        if (input)
            input->reset();
    }

    // Pedals rest fully up (-1); the controller must see them once to take them as live.
    void releasePedals()
    {
        pedals->setAxis(1, -1.0f);
        pedals->setAxis(2, -1.0f);
    }

    // A transmitter that answers has answered when this returns, as a user waits for it.
    bool openTransmitter()
    {
        return controller->connectTransmitter(tx.portName(), 115200)
               && (!tx.answersId() || tx.waitFor([this] { return controller->isTransmitterAnswered(); }));
    }

    bool connectCar(bool withPedals = true, bool withShifter = false)
    {
        bool ok = controller->wheelBase()->open(WheelPos);
        if (withPedals)
            ok = controller->pedals()->open(PedalsPos) && ok;
        if (withShifter)
            ok = controller->shifter()->open(ShifterPos) && ok;
        pollAll();
        return ok && openTransmitter();
    }

    bool connectHelicopter(bool withThrottle = true, bool withRudder = true)
    {
        corvane::ProfileManager *store = controller->profileManager();
        store->mutableActiveProfile()->vehicleType = QString(VehicleType::Helicopter);
        bool ok = controller->heliJoystick()->open(JoystickPos);
        wake(joystick, controller->heliJoystick());
        if (withThrottle) {
            ok = controller->heliThrottle()->open(ThrottlePos) && ok;
            wake(lever, controller->heliThrottle());
        }
        if (withRudder) {
            ok = controller->heliPedals()->open(RudderPos) && ok;
            wake(rudder, controller->heliPedals());
        }
        pollAll();
        return ok && openTransmitter();
    }

    // A stick, a lever and pedals with these numbers of axes (0: that device is left out), added
    // after the rig's own and connected as the helicopter page connects them; none is moved.
    bool connectRestingHelicopter(int stickAxes, int leverAxes, int pedalAxes)
    {
        controller->profileManager()->mutableActiveProfile()->vehicleType = QString(VehicleType::Helicopter);
        const int first = int(input->devices().size());
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Resting Stick"), stickAxes, 12, 1));
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Resting Lever"), leverAxes, 4, 0));
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Resting Pedals"), pedalAxes, 0, 0));
        return controller->connectHeliJoystick(first)
               && (leverAxes == 0 || controller->connectHeliThrottle(first + 1))
               && (pedalAxes == 0 || controller->connectHeliPedals(first + 2)) && openTransmitter();
    }

    // An axis reads released (-1) until it has once moved past 0.1: swing every axis through
    // its travel so the device reports where the test put it.
    static void wake(corvane::VirtualInputDevice *virtualDevice, corvane::InputDevice *device)
    {
        const auto rest = virtualDevice->state().axes;
        for (int axis = 0; axis < 8; ++axis)
            virtualDevice->setAxis(axis, 1.0f);
        device->poll();
        for (int axis = 0; axis < 8; ++axis)
            virtualDevice->setAxisRaw(axis, rest[size_t(axis)]);
        device->poll();
    }

    void pollAll()
    {
        for (corvane::InputDevice *device : devices()) {
            if (device->isConnected())
                device->poll();
        }
    }

    // Car settings for exact channel arithmetic: no start gates, no soft start.
    static AxisSettings plainSettings()
    {
        AxisSettings s;
        s.softStartEnabled = false;
        s.stuckThrottleDetectionEnabled = false;
        s.throttleSpikeRejectionEnabled = false;
        return s;
    }

    static ButtonMapping buttonMapping(int button, int channel, int mode, int output, int start = 0)
    {
        ButtonMapping m;
        m.buttonIndex = button;
        m.channel = channel;
        m.mode = mode;
        m.outputValue = output;
        m.startValue = start;
        return m;
    }

    // A car with wheel base and pedals (and the shifter if asked) on these settings, started.
    bool startCar(const AxisSettings &settings = plainSettings(), bool withShifter = false)
    {
        return controller->setAxisSettings(settings) && connectCar(true, withShifter) && start();
    }

    bool start()
    {
        controller->startTransmission();
        if (!controller->isRunning())
            return false;
        holdTimer();
        return true;
    }

    // The 7 ms timer would tick whenever the event loop runs; the test ticks by hand instead.
    void holdTimer()
    {
        const auto timers = controller->findChildren<QTimer *>();
        for (QTimer *timer : timers) {
            if (timer->interval() == 7)
                timer->stop();
        }
    }

    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            QMetaObject::invokeMethod(controller.get(), "onTransmitTimer", Qt::DirectConnection);
    }

    // A button change passes the four-read debounce after four ticks.
    void setButton(corvane::VirtualInputDevice *device, int button, bool down)
    {
        device->setButton(button, down);
        tick(4);
    }

    int ch(int index) const { return controller->channelValue(index); }

    QString lastError() const
    {
        return errors->isEmpty() ? QString() : errors->last().at(0).toString();
    }

    QList<corvane::InputDevice *> devices() const
    {
        return {controller->wheelBase(), controller->pedals(), controller->shifter(),
                controller->heliJoystick(), controller->heliThrottle(), controller->heliPedals()};
    }

    corvane::VirtualInputBackend *input = nullptr;
    corvane::VirtualInputDevice *wheel = nullptr;
    corvane::VirtualInputDevice *pedals = nullptr;
    corvane::VirtualInputDevice *shifter = nullptr;
    corvane::VirtualInputDevice *joystick = nullptr;
    corvane::VirtualInputDevice *lever = nullptr;
    corvane::VirtualInputDevice *rudder = nullptr;
    SimulatedTransmitter tx;
    std::unique_ptr<corvane::CorvaneController> controller;
    std::unique_ptr<QSignalSpy> errors;
};

} // namespace ostratest
