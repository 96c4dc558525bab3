#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QLatin1String>
#include <QList>
#include <QString>
#include <QStringList>

#include "profiles/axissettings.h"
#include "profiles/buttonmapping.h"
#include "profiles/deviceconnections.h"
#include "profiles/helicopterconfig.h"
#include "profiles/receiversettings.h"

// Vehicle types, compared exactly and case-sensitively.
namespace VehicleType {
constexpr QLatin1String Car("rc_car");
constexpr QLatin1String Helicopter("rc_helicopter");
} // namespace VehicleType

// A telemetry sensor kept with the profile.
struct TelemetrySensorEntry
{
    QString id;
    QString label;
    QString name;
};

// Everything kept for one vehicle set-up.
struct Profile
{
    // Sensors the list and the dashboard keep at most: a car reports a few dozen.
    static constexpr int MaxTelemetrySensors = 64;

    QString id;
    QString name;
    QString vehicleType = VehicleType::Car;
    QDateTime createdAt;
    QDateTime modifiedAt;
    AxisSettings axisSettings;
    HelicopterConfig helicopterConfig;
    ButtonMappingSet buttonMappings;
    DeviceConnections deviceConnections;
    LedSettings ledSettings;
    bool autoStartEnabled = false;
    QStringList telemetryDashboard;
    QList<TelemetrySensorEntry> telemetrySensors;
    bool telemetryDiscover = true;
    ReceiverSettings receiverSettings;
    ReceiverCaps receiverCaps;
    WheelFfbSettings wheelFfb;

    // Defaults with a fresh id, the given name and both times set to now.
    static Profile createNew(const QString &name);

    QJsonObject toJson() const;
    static Profile fromJson(const QJsonObject &obj);
};
