#include "bridge/corvanecontroller.h"

namespace corvane {

void CorvaneController::onMonitorTimer()
{
}

void CorvaneController::onLinkStatisticsReceived(const LinkStatistics &stats)
{
    Q_UNUSED(stats);
}

void CorvaneController::onCrsfTelemetryFrame(quint8 type, const QByteArray &payload)
{
    Q_UNUSED(type);
    Q_UNUSED(payload);
}

void CorvaneController::handleCarMotion(float lonG, float latG, float vertG)
{
    Q_UNUSED(lonG);
    Q_UNUSED(latG);
    Q_UNUSED(vertG);
}

void CorvaneController::checkCarLink()
{
}

void CorvaneController::setCarLinked(bool linked)
{
    Q_UNUSED(linked);
}

qint64 CorvaneController::gpsFixAgeMs() const
{
    return -1;
}

int CorvaneController::gpsSatellites() const
{
    return -1;
}

void CorvaneController::loadTelemetrySensors()
{
}

void CorvaneController::saveTelemetrySensors()
{
}

} // namespace corvane
