#include "bridge/corvanecontroller.h"

namespace corvane {

void CorvaneController::onTransmitTimer()
{
}

float CorvaneController::effectiveSteeringInput() const
{
    return 0.0f;
}

void CorvaneController::applyWheelRotationOverride()
{
}

bool CorvaneController::isPitLimiterActive() const
{
    return false;
}

bool CorvaneController::isReverseActive() const
{
    return false;
}

void CorvaneController::setReverseMode(bool on)
{
    Q_UNUSED(on);
}

bool CorvaneController::isHelicopterMode() const
{
    return false;
}

bool CorvaneController::isVirtualButtonPressed(const InputDevice *device, int number)
{
    Q_UNUSED(device);
    Q_UNUSED(number);
    return false;
}

void CorvaneController::startButtonDetection(const QString &role)
{
    Q_UNUSED(role);
}

void CorvaneController::cancelButtonDetection()
{
}

void CorvaneController::startShifterDetection(int gearIndex)
{
    Q_UNUSED(gearIndex);
}

void CorvaneController::cancelShifterDetection()
{
}

void CorvaneController::setShifterMapping(const ShifterMapping &mapping)
{
    Q_UNUSED(mapping);
}

void CorvaneController::updateCurrentGear()
{
}

void CorvaneController::onShifterDetectionPoll()
{
}

void CorvaneController::onShifterDetectionTimeout()
{
}

void CorvaneController::onButtonDetectionPoll()
{
}

void CorvaneController::onButtonDetectionTimeout()
{
}

} // namespace corvane
