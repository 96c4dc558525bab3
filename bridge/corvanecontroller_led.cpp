#include "bridge/corvanecontroller.h"

namespace corvane {

void CorvaneController::setLedSettings(const LedSettings &settings)
{
    Q_UNUSED(settings);
}

void CorvaneController::onLedConfigTimer()
{
}

void CorvaneController::onLedConfirmationTimeout()
{
}

} // namespace corvane
