#include "bridge/corvanecontroller.h"

#include "bridge/corvaneserialport.h"

namespace corvane {

QList<InputDeviceInfo> CorvaneController::availableInputDevices()
{
    return InputDevice::enumerateDevices();
}

QList<SerialPortEntry> CorvaneController::availableSerialPorts()
{
    return CorvaneSerialPort::availablePorts();
}

bool CorvaneController::connectWheelBase(int index)
{
    Q_UNUSED(index);
    return false;
}

bool CorvaneController::connectPedals(int index)
{
    Q_UNUSED(index);
    return false;
}

bool CorvaneController::connectShifter(int index)
{
    Q_UNUSED(index);
    return false;
}

bool CorvaneController::connectHeliJoystick(int index)
{
    Q_UNUSED(index);
    return false;
}

bool CorvaneController::connectHeliThrottle(int index)
{
    Q_UNUSED(index);
    return false;
}

bool CorvaneController::connectHeliPedals(int index)
{
    Q_UNUSED(index);
    return false;
}

void CorvaneController::disconnectWheelBase()
{
}

void CorvaneController::disconnectPedals()
{
}

void CorvaneController::disconnectShifter()
{
}

void CorvaneController::disconnectHeliJoystick()
{
}

void CorvaneController::disconnectHeliThrottle()
{
}

void CorvaneController::disconnectHeliPedals()
{
}

bool CorvaneController::isWheelBaseConnected() const
{
    return m_wheelBase->isConnected();
}

bool CorvaneController::isPedalsConnected() const
{
    return m_pedals->isConnected();
}

bool CorvaneController::isShifterConnected() const
{
    return m_shifter->isConnected();
}

bool CorvaneController::isHeliJoystickConnected() const
{
    return m_heliJoystick->isConnected();
}

bool CorvaneController::isHeliThrottleConnected() const
{
    return m_heliThrottle->isConnected();
}

bool CorvaneController::isHeliPedalsConnected() const
{
    return m_heliPedals->isConnected();
}

QString CorvaneController::wheelBaseName() const
{
    return m_wheelBase->deviceName();
}

QString CorvaneController::pedalsName() const
{
    return m_pedals->deviceName();
}

QString CorvaneController::shifterName() const
{
    return m_shifter->deviceName();
}

QString CorvaneController::heliJoystickName() const
{
    return m_heliJoystick->deviceName();
}

QString CorvaneController::heliThrottleName() const
{
    return m_heliThrottle->deviceName();
}

QString CorvaneController::heliPedalsName() const
{
    return m_heliPedals->deviceName();
}

void CorvaneController::onWheelBaseDisconnected()
{
}

void CorvaneController::onPedalsDisconnected()
{
}

void CorvaneController::onShifterDisconnected()
{
}

} // namespace corvane
