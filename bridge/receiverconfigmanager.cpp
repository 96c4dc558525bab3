#include "bridge/receiverconfigmanager.h"

#include "bridge/corvanecontroller.h"

namespace corvane {

ReceiverConfigManager::ReceiverConfigManager(CorvaneController *controller)
    : QObject(controller)
{
}

void ReceiverConfigManager::resync()
{
}

} // namespace corvane
