#include "profiles/profile.h"

#include <QJsonArray>
#include <QUuid>

namespace {

// Local time without a zone suffix, also for a time read from a file in another zone.
QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(Qt::ISODate) : QString();
}

QDateTime timeFrom(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

// Sensor ids renamed since older files were written.
QString currentSensorId(const QString &id)
{
    if (id == QLatin1String("LonG"))
        return QStringLiteral("GLon");
    if (id == QLatin1String("LatG"))
        return QStringLiteral("GLat");
    if (id == QLatin1String("VrtG"))
        return QStringLiteral("GVrt");
    return id;
}

} // namespace

Profile Profile::createNew(const QString &name)
{
    Profile p;
    p.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    p.name = name;
    p.createdAt = QDateTime::currentDateTime();
    p.modifiedAt = p.createdAt;
    return p;
}

QJsonObject Profile::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("version"), 2);
    o.insert(QLatin1String("id"), id);
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("vehicleType"), vehicleType);
    o.insert(QLatin1String("createdAt"), timeText(createdAt));
    o.insert(QLatin1String("modifiedAt"), timeText(modifiedAt));
    o.insert(QLatin1String("axisSettings"), axisSettings.toJson());
    o.insert(QLatin1String("buttonMappings"), buttonMappings.toJson());
    o.insert(QLatin1String("deviceConnections"), deviceConnections.toJson());
    o.insert(QLatin1String("ledSettings"), ledSettings.toJson());
    o.insert(QLatin1String("autoStartEnabled"), autoStartEnabled);
    o.insert(QLatin1String("telemetryDashboard"), QJsonArray::fromStringList(telemetryDashboard));
    QJsonArray sensors;
    for (const TelemetrySensorEntry &entry : telemetrySensors) {
        QJsonObject s;
        s.insert(QLatin1String("id"), entry.id);
        s.insert(QLatin1String("label"), entry.label);
        if (!entry.name.isEmpty())
            s.insert(QLatin1String("name"), entry.name);
        sensors.append(s);
    }
    o.insert(QLatin1String("telemetrySensors"), sensors);
    o.insert(QLatin1String("telemetryDiscover"), telemetryDiscover);
    o.insert(QLatin1String("receiverSettings"), receiverSettings.toJson());
    o.insert(QLatin1String("receiverCaps"), receiverCaps.toJson());
    o.insert(QLatin1String("wheelFfb"), wheelFfb.toJson());
    if (vehicleType == VehicleType::Helicopter)
        o.insert(QLatin1String("helicopterConfig"), helicopterConfig.toJson());
    return o;
}

Profile Profile::fromJson(const QJsonObject &obj)
{
    Profile p;
    p.id = obj.value(QLatin1String("id")).toString();
    p.name = obj.value(QLatin1String("name")).toString();
    p.vehicleType = obj.value(QLatin1String("vehicleType")).toString(VehicleType::Car);
    p.createdAt = timeFrom(obj.value(QLatin1String("createdAt")));
    p.modifiedAt = timeFrom(obj.value(QLatin1String("modifiedAt")));
    if (obj.contains(QLatin1String("axisSettings")))
        p.axisSettings.fromJson(obj.value(QLatin1String("axisSettings")).toObject());
    if (obj.contains(QLatin1String("buttonMappings")))
        p.buttonMappings.fromJson(obj.value(QLatin1String("buttonMappings")).toArray());
    if (obj.contains(QLatin1String("deviceConnections")))
        p.deviceConnections = DeviceConnections::fromJson(obj.value(QLatin1String("deviceConnections")).toObject());
    if (obj.contains(QLatin1String("ledSettings")))
        p.ledSettings = LedSettings::fromJson(obj.value(QLatin1String("ledSettings")).toObject());
    if (obj.contains(QLatin1String("autoStartEnabled")))
        p.autoStartEnabled = obj.value(QLatin1String("autoStartEnabled")).toBool(false);
    if (obj.contains(QLatin1String("telemetryDashboard"))) {
        const QJsonArray dashboard = obj.value(QLatin1String("telemetryDashboard")).toArray();
        for (const QJsonValue &id : dashboard)
            p.telemetryDashboard.append(currentSensorId(id.toString()));
    }
    const QJsonArray sensors = obj.value(QLatin1String("telemetrySensors")).toArray();
    for (const QJsonValue &element : sensors) {
        const QJsonObject s = element.toObject();
        TelemetrySensorEntry entry;
        entry.id = s.value(QLatin1String("id")).toString();
        if (entry.id.isEmpty())
            continue;
        entry.label = s.value(QLatin1String("label")).toString();
        entry.name = s.value(QLatin1String("name")).toString();
        p.telemetrySensors.append(entry);
    }
    p.telemetryDiscover = obj.value(QLatin1String("telemetryDiscover")).toBool(true);
    if (obj.contains(QLatin1String("helicopterConfig")))
        p.helicopterConfig = HelicopterConfig::fromJson(obj.value(QLatin1String("helicopterConfig")).toObject());
    if (obj.contains(QLatin1String("receiverSettings")))
        p.receiverSettings = ReceiverSettings::fromJson(obj.value(QLatin1String("receiverSettings")).toObject());
    if (obj.contains(QLatin1String("receiverCaps")))
        p.receiverCaps = ReceiverCaps::fromJson(obj.value(QLatin1String("receiverCaps")).toObject());
    if (obj.contains(QLatin1String("wheelFfb")))
        p.wheelFfb = WheelFfbSettings::fromJson(obj.value(QLatin1String("wheelFfb")).toObject());
    return p;
}
