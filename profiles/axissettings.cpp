#include "profiles/axissettings.h"

#include <QJsonArray>

#include <algorithm>
#include <utility>

#include "profiles/channelvalue.h"
#include "profiles/jsonfields.h"

AxisConfig AxisConfig::fromJson(const QJsonObject &obj)
{
    const AxisConfig d;
    AxisConfig c;
    c.name = obj.value(QLatin1String("name")).toString();
    c.inverted = obj.value(QLatin1String("inverted")).toBool(d.inverted);
    c.deadzone = jsonFloat(obj.value(QLatin1String("deadzone")), d.deadzone);
    c.minOutput = jsonFloat(obj.value(QLatin1String("minOutput")), d.minOutput);
    c.maxOutput = jsonFloat(obj.value(QLatin1String("maxOutput")), d.maxOutput);
    c.curve = obj.value(QLatin1String("curve")).toInt(d.curve);
    c.curveExponent = jsonFloat(obj.value(QLatin1String("curveExponent")), d.curveExponent);
    c.expo = jsonFloat(obj.value(QLatin1String("expo")), d.expo);
    c.inputMin = jsonFloat(obj.value(QLatin1String("inputMin")), d.inputMin);
    c.inputMax = jsonFloat(obj.value(QLatin1String("inputMax")), d.inputMax);
    c.inputCenter = jsonFloat(obj.value(QLatin1String("inputCenter")), d.inputCenter);
    c.useCalibration = obj.value(QLatin1String("useCalibration")).toBool(d.useCalibration);
    return c;
}

QJsonObject AxisConfig::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("inverted"), inverted);
    o.insert(QLatin1String("deadzone"), double(deadzone));
    o.insert(QLatin1String("minOutput"), double(minOutput));
    o.insert(QLatin1String("maxOutput"), double(maxOutput));
    o.insert(QLatin1String("curve"), curve);
    o.insert(QLatin1String("curveExponent"), double(curveExponent));
    o.insert(QLatin1String("expo"), double(expo));
    o.insert(QLatin1String("inputMin"), double(inputMin));
    o.insert(QLatin1String("inputMax"), double(inputMax));
    o.insert(QLatin1String("inputCenter"), double(inputCenter));
    o.insert(QLatin1String("useCalibration"), useCalibration);
    return o;
}

AxisSettings::AxisSettings()
{
    steering.name = QStringLiteral("Steering");
    throttle.name = QStringLiteral("Throttle");
    brake.name = QStringLiteral("Brake");
    clutch.name = QStringLiteral("Clutch");
}

void AxisSettings::fromJson(const QJsonObject &obj)
{
    for (AxisConfig *axis : {&steering, &throttle, &brake, &clutch}) {
        const QString key = axis->name;
        if (obj.contains(key)) {
            *axis = AxisConfig::fromJson(obj.value(key).toObject());
            axis->name = key;
        }
    }

    const AxisSettings d;
    escMode = obj.value(QLatin1String("escMode")).toInt(d.escMode);
    if (escMode == 1)
        escMode = 0;
    escPresetId = obj.value(QLatin1String("escPresetId")).toString();
    escNeutral = obj.value(QLatin1String("escNeutral")).toInt(d.escNeutral);
    escFullForward = obj.value(QLatin1String("escFullForward")).toInt(d.escFullForward);
    escFullReverse = obj.value(QLatin1String("escFullReverse")).toInt(d.escFullReverse);
    steeringLeft = obj.value(QLatin1String("steeringLeft")).toInt(d.steeringLeft);
    steeringCenter = obj.value(QLatin1String("steeringCenter")).toInt(d.steeringCenter);
    steeringRight = obj.value(QLatin1String("steeringRight")).toInt(d.steeringRight);
    wheelRotationDeg =
        std::clamp(obj.value(QLatin1String("wheelRotationDeg")).toInt(d.wheelRotationDeg), 90, 2520);
    steeringAngleDeg = std::max(0, obj.value(QLatin1String("steeringAngleDeg")).toInt(d.steeringAngleDeg));
    smoothDeceleration = obj.value(QLatin1String("smoothDeceleration")).toBool(d.smoothDeceleration);
    decelRate = obj.value(QLatin1String("decelRate")).toInt(d.decelRate);
    pitLimiterEnabled = obj.value(QLatin1String("pitLimiterEnabled")).toBool(d.pitLimiterEnabled);
    pitLimiterValue = obj.value(QLatin1String("pitLimiterValue")).toInt(d.pitLimiterValue);
    gearThrottleLimitEnabled =
        obj.value(QLatin1String("gearThrottleLimitEnabled")).toBool(d.gearThrottleLimitEnabled);
    if (obj.contains(QLatin1String("gearThrottleLimitPercent"))) {
        const QJsonArray limits = obj.value(QLatin1String("gearThrottleLimitPercent")).toArray();
        const int count = std::min<int>(int(limits.size()), int(gearThrottleLimitPercent.size()));
        for (int i = 0; i < count; ++i)
            gearThrottleLimitPercent[size_t(i)] = limits.at(i).toInt(100);
    }
    reverseEnabled = obj.value(QLatin1String("reverseEnabled")).toBool(d.reverseEnabled);
    reverseButtonIndex = obj.value(QLatin1String("reverseButtonIndex")).toInt(d.reverseButtonIndex);
    reverseMaxPercent = obj.value(QLatin1String("reverseMaxPercent")).toInt(d.reverseMaxPercent);
    softStartEnabled = obj.value(QLatin1String("softStartEnabled")).toBool(d.softStartEnabled);
    softStartDurationSec = obj.value(QLatin1String("softStartDurationSec")).toInt(d.softStartDurationSec);
    softStartFloorPercent = obj.value(QLatin1String("softStartFloorPercent")).toInt(d.softStartFloorPercent);
    stuckThrottleDetectionEnabled =
        obj.value(QLatin1String("stuckThrottleDetectionEnabled")).toBool(d.stuckThrottleDetectionEnabled);
    throttleSpikeRejectionEnabled =
        obj.value(QLatin1String("throttleSpikeRejectionEnabled")).toBool(d.throttleSpikeRejectionEnabled);
    limitChannelValues();
}

AxisConfig *AxisSettings::axis(int index)
{
    return const_cast<AxisConfig *>(std::as_const(*this).axis(index));
}

const AxisConfig *AxisSettings::axis(int index) const
{
    switch (index) {
    case 0: return &steering;
    case 1: return &throttle;
    case 2: return &brake;
    case 3: return &clutch;
    default: return nullptr;
    }
}

void AxisSettings::limitChannelValues()
{
    for (int *value : {&escNeutral, &escFullForward, &escFullReverse, &steeringLeft, &steeringCenter,
                       &steeringRight, &pitLimiterValue})
        *value = limitChannelValue(*value);
}

QJsonObject AxisSettings::toJson() const
{
    QJsonObject o;
    for (const AxisConfig *axis : {&steering, &throttle, &brake, &clutch})
        o.insert(axis->name, axis->toJson());
    o.insert(QLatin1String("escMode"), escMode);
    o.insert(QLatin1String("escPresetId"), escPresetId);
    o.insert(QLatin1String("escNeutral"), escNeutral);
    o.insert(QLatin1String("escFullForward"), escFullForward);
    o.insert(QLatin1String("escFullReverse"), escFullReverse);
    o.insert(QLatin1String("steeringLeft"), steeringLeft);
    o.insert(QLatin1String("steeringCenter"), steeringCenter);
    o.insert(QLatin1String("steeringRight"), steeringRight);
    o.insert(QLatin1String("wheelRotationDeg"), wheelRotationDeg);
    o.insert(QLatin1String("steeringAngleDeg"), steeringAngleDeg);
    o.insert(QLatin1String("smoothDeceleration"), smoothDeceleration);
    o.insert(QLatin1String("decelRate"), decelRate);
    o.insert(QLatin1String("pitLimiterEnabled"), pitLimiterEnabled);
    o.insert(QLatin1String("pitLimiterValue"), pitLimiterValue);
    o.insert(QLatin1String("gearThrottleLimitEnabled"), gearThrottleLimitEnabled);
    QJsonArray limits;
    for (int percent : gearThrottleLimitPercent)
        limits.append(percent);
    o.insert(QLatin1String("gearThrottleLimitPercent"), limits);
    o.insert(QLatin1String("reverseEnabled"), reverseEnabled);
    o.insert(QLatin1String("reverseButtonIndex"), reverseButtonIndex);
    o.insert(QLatin1String("reverseMaxPercent"), reverseMaxPercent);
    o.insert(QLatin1String("softStartEnabled"), softStartEnabled);
    o.insert(QLatin1String("softStartDurationSec"), softStartDurationSec);
    o.insert(QLatin1String("softStartFloorPercent"), softStartFloorPercent);
    o.insert(QLatin1String("stuckThrottleDetectionEnabled"), stuckThrottleDetectionEnabled);
    o.insert(QLatin1String("throttleSpikeRejectionEnabled"), throttleSpikeRejectionEnabled);
    return o;
}
