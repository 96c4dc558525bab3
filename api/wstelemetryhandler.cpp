#include "api/wstelemetryhandler.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTimer>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"

namespace corvane {

using namespace wsjson;

WsTelemetryHandler::WsTelemetryHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connectSignals();
}

void WsTelemetryHandler::connectSignals()
{
    connect(m_controller, &CorvaneController::linkStatisticsUpdated, this, [this] { m_linkDirty = true; });
    connect(m_controller, &CorvaneController::telemetrySensorsUpdated, this, [this] { m_sensorsDirty = true; });
    connect(m_controller, &CorvaneController::carLinkChanged, this, [this] {
        m_linkDirty = true;
        m_sensorsDirty = true;
    });
    connect(m_controller, &CorvaneController::gpsUpdated, this, [this] { m_gpsDirty = true; });
    connect(m_controller, &CorvaneController::telemetryDashboardChanged, this,
            &WsTelemetryHandler::pushTelemetryDashboard);
    m_pushTimer = new QTimer(this);
    m_pushTimer->setInterval(PushIntervalMs);
    connect(m_pushTimer, &QTimer::timeout, this, &WsTelemetryHandler::pushTelemetry);
    m_pushTimer->start();
}

QStringList WsTelemetryHandler::supportedEvents() const
{
    return {QStringLiteral("get_link_statistics"),
            QStringLiteral("get_gps"),
            QStringLiteral("get_telemetry_sensors"),
            QStringLiteral("get_telemetry_dashboard"),
            QStringLiteral("set_telemetry_dashboard"),
            QStringLiteral("set_telemetry_discovery"),
            QStringLiteral("action_telemetry_sensor_rename"),
            QStringLiteral("action_telemetry_sensor_delete"),
            QStringLiteral("action_telemetry_sensors_clear")};
}

QJsonObject WsTelemetryHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, QStringLiteral("id"));
    // The changes below are saved into the active profile at once; the store says when that fails.
    const StoreErrors errors(m_controller->profileManager());
    if (event == QLatin1String("get_link_statistics"))
        return dataReply(event, linkStatisticsJson());
    if (event == QLatin1String("get_gps"))
        return dataReply(event, gpsJson());
    if (event == QLatin1String("get_telemetry_sensors"))
        return dataReply(event, sensorsJson());
    if (event == QLatin1String("get_telemetry_dashboard"))
        return dataReply(event, pinnedSensorsJson());
    if (event == QLatin1String("set_telemetry_dashboard"))
        return handleSetTelemetryDashboard(event, data, errors);
    if (event == QLatin1String("set_telemetry_discovery")) {
        bool enabled = true;
        if (const QString refusal = readFlag(data, "enabled", enabled); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        m_controller->setTelemetryDiscover(enabled);
        return changedReply(event, errors, sensorsJson());
    }
    if (event == QLatin1String("action_telemetry_sensor_rename")) {
        QString name;
        const FieldReader in(data);
        in.readText("name", name, MaxNameChars);
        if (!in.ok())
            return actionReply(event, false, in.refusal());
        // Blanks bring back the label; invisible characters alone are no name.
        if (const QString refusal = invisibleNameRefusal(name.trimmed()); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        if (const QString refusal = m_controller->telemetrySensorNameRefusal(id, name); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        m_controller->renameTelemetrySensor(id, name);
        return changedReply(event, errors, sensorsJson());
    }
    if (event == QLatin1String("action_telemetry_sensor_delete")) {
        m_controller->removeTelemetrySensor(id);
        return changedReply(event, errors, sensorsJson());
    }
    if (event == QLatin1String("action_telemetry_sensors_clear")) {
        m_controller->clearTelemetrySensors();
        return changedReply(event, errors, sensorsJson());
    }
    return errorReply(event, QStringLiteral("Unhandled event in telemetry handler"));
}

QJsonObject WsTelemetryHandler::stateOf(const QString &event, const QJsonObject &data)
{
    if (event.startsWith(QLatin1String("get_")))
        return WsHandler::stateOf(event, data);
    return event == QLatin1String("set_telemetry_dashboard") ? pinnedSensorsJson() : sensorsJson();
}

QJsonObject WsTelemetryHandler::changedReply(const QString &event, const StoreErrors &errors,
                                             const QJsonObject &body) const
{
    QJsonObject reply = errors.reply(event);
    reply.insert(QStringLiteral("data"), body);
    return reply;
}

QJsonObject WsTelemetryHandler::handleSetTelemetryDashboard(const QString &event, const QJsonObject &data,
                                                            const StoreErrors &errors)
{
    // The list goes into the profile file: an id pinned twice counts once, and the list and
    // its ids are capped, so a client cannot grow the file without limit.
    QStringList pinned;
    const QJsonArray array = data.value(QStringLiteral("pinned")).toArray();
    const FieldReader ids =
        FieldReader({{QStringLiteral("pinned"), array}}).comparedWith(pinnedSensorsJson()).array("pinned");
    for (qsizetype i = 0; i < array.size() && pinned.size() < MaxPinned; ++i) {
        QString id;
        ids.readText(i, id, MaxSensorIdChars);
        if (!pinned.contains(id))
            pinned.append(id);
    }
    if (!ids.ok())
        return actionReply(event, false, ids.refusal());
    m_controller->setTelemetryDashboard(pinned);
    return changedReply(event, errors, pinnedSensorsJson());
}

QJsonObject WsTelemetryHandler::linkStatisticsJson() const
{
    const LinkStatistics s = m_controller->linkStatistics();
    return {{QStringLiteral("hasLink"), m_controller->hasLinkStatistics()},
            {QStringLiteral("carLinked"), m_controller->isCarLinked()},
            {QStringLiteral("uplinkRssi1"), s.uplinkRssi1},
            {QStringLiteral("uplinkRssi2"), s.uplinkRssi2},
            {QStringLiteral("linkQuality"), s.linkQuality},
            {QStringLiteral("snr"), s.snr},
            {QStringLiteral("antenna"), s.antenna},
            {QStringLiteral("rfMode"), s.rfMode},
            {QStringLiteral("txPower"), s.txPower},
            {QStringLiteral("downlinkRssi"), s.downlinkRssi},
            {QStringLiteral("downlinkLinkQuality"), s.downlinkLinkQuality},
            {QStringLiteral("downlinkSnr"), s.downlinkSnr}};
}

QJsonObject WsTelemetryHandler::gpsJson() const
{
    const GpsFix fix = m_controller->gpsFix();
    const int searching = m_controller->gpsSatellites();
    return {{QStringLiteral("hasFix"), fix.valid},
            {QStringLiteral("latitude"), fix.latitude},
            {QStringLiteral("longitude"), fix.longitude},
            {QStringLiteral("speedKmh"), double(fix.speedKmh)},
            {QStringLiteral("headingDeg"), double(fix.headingDeg)},
            {QStringLiteral("altitudeM"), fix.altitudeM},
            {QStringLiteral("satellites"), searching >= 0 ? searching : int(fix.satellites)},
            {QStringLiteral("searchingSatellites"), searching},
            {QStringLiteral("ageMs"), double(m_controller->gpsFixAgeMs())}};
}

QJsonObject WsTelemetryHandler::sensorsJson() const
{
    return sensorsJson(m_controller->telemetrySensors(), m_controller->telemetryDashboard(),
                       m_controller->telemetryDiscoverEnabled(), QDateTime::currentMSecsSinceEpoch());
}

QJsonObject WsTelemetryHandler::sensorsJson(const QList<TelemetrySensor> &sensors, const QStringList &pinned,
                                            bool discover, qint64 nowMs)
{
    QJsonArray list;
    for (const TelemetrySensor &sensor : sensors) {
        list.append(QJsonObject{{QStringLiteral("id"), sensor.id},
                                {QStringLiteral("label"), sensor.name.isEmpty() ? sensor.label : sensor.name},
                                {QStringLiteral("defaultLabel"), sensor.label},
                                {QStringLiteral("value"), sensor.value},
                                {QStringLiteral("stale"), sensor.isStale(nowMs)},
                                {QStringLiteral("pinned"), pinned.contains(sensor.id)}});
    }
    return {{QStringLiteral("sensors"), list}, {QStringLiteral("discover"), discover}};
}

QJsonObject WsTelemetryHandler::pinnedSensorsJson() const
{
    return {{QStringLiteral("pinned"), QJsonArray::fromStringList(m_controller->telemetryDashboard())}};
}

void WsTelemetryHandler::pushTelemetry()
{
    if (m_linkDirty) {
        m_linkDirty = false;
        emit pushEvent(QStringLiteral("event_link_statistics"), linkStatisticsJson());
    }
    if (m_gpsDirty) {
        m_gpsDirty = false;
        emit pushEvent(QStringLiteral("event_gps"), gpsJson());
    }
    if (m_sensorsDirty) {
        m_sensorsDirty = false;
        emit pushEvent(QStringLiteral("event_telemetry_sensors"), sensorsJson());
    }
}

void WsTelemetryHandler::pushTelemetryDashboard()
{
    emit pushEvent(QStringLiteral("event_telemetry_dashboard"), pinnedSensorsJson());
}

} // namespace corvane
