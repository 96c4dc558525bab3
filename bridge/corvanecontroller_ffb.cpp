#include "bridge/corvanecontroller.h"

namespace corvane {

bool CorvaneController::startWheelFfb()
{
    return false;
}

void CorvaneController::stopWheelFfb()
{
}

void CorvaneController::loadWheelFfb()
{
}

void CorvaneController::saveWheelFfb()
{
}

void CorvaneController::onFfbTick()
{
}

void CorvaneController::onReceiverFfbTimeout()
{
}

void CorvaneController::onTransmitterPortChangedForFfb(bool connected)
{
    Q_UNUSED(connected);
}

} // namespace corvane
