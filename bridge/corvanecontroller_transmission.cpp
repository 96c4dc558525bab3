#include "bridge/corvanecontroller.h"

namespace corvane {

void CorvaneController::startTransmission()
{
}

void CorvaneController::stopTransmission()
{
}

void CorvaneController::stopForSafety(const QString &reason)
{
    Q_UNUSED(reason);
}

bool CorvaneController::canStartTransmission() const
{
    return false;
}

void CorvaneController::sendChannels()
{
}

bool CorvaneController::setAxisSettings(const AxisSettings &settings)
{
    Q_UNUSED(settings);
    return false;
}

bool CorvaneController::setButtonMappings(const ButtonMappingSet &mappings)
{
    Q_UNUSED(mappings);
    return false;
}

void CorvaneController::setSteeringCalibration(int left, int center, int right)
{
    Q_UNUSED(left);
    Q_UNUSED(center);
    Q_UNUSED(right);
}

float CorvaneController::steering() const
{
    return 0.0f;
}

float CorvaneController::throttle() const
{
    return 0.0f;
}

float CorvaneController::brake() const
{
    return 0.0f;
}

float CorvaneController::clutch() const
{
    return 0.0f;
}

float CorvaneController::wheelAngleDeg() const
{
    return 0.0f;
}

QString CorvaneController::vehicleType() const
{
    return QString();
}

void CorvaneController::loadLoungeState()
{
}

void CorvaneController::saveLoungeState()
{
}

void CorvaneController::raceControlStop(const QString &reason)
{
    Q_UNUSED(reason);
}

void CorvaneController::raceControlRelease()
{
}

void CorvaneController::setLoungePitLimiter(bool on, int percent)
{
    Q_UNUSED(on);
    Q_UNUSED(percent);
}

void CorvaneController::setLoungeSpeedCap(bool on, int percent)
{
    Q_UNUSED(on);
    Q_UNUSED(percent);
}

void CorvaneController::setLoungeReverseAllowed(bool allowed)
{
    Q_UNUSED(allowed);
}

void CorvaneController::setLoungeWatchdog(bool on, int timeoutMs)
{
    Q_UNUSED(on);
    Q_UNUSED(timeoutMs);
}

void CorvaneController::loungeHeartbeat()
{
}

void CorvaneController::onLoungeWatchdogTick()
{
}

} // namespace corvane
