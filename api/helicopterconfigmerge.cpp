#include "api/helicopterconfigmerge.h"

#include "api/wsjson.h"
#include "profiles/helicopterconfig.h"

namespace corvane {

using wsjson::readBool;
using wsjson::readInt;

namespace {

// A container member: anything but an object reads as an empty one and changes nothing.
QJsonObject member(const QJsonObject &parent, const char *key)
{
    return parent.value(QLatin1String(key)).toObject();
}

// A record member present in any form is read afresh, missing keys at their when-absent values.
template <class Record>
void replaceRecord(const QJsonObject &parent, const char *key, Record &record,
                   Record (*fromJson)(const QJsonObject &))
{
    if (parent.contains(QLatin1String(key)))
        record = fromJson(member(parent, key));
}

void mergeInt(const QJsonObject &parent, const char *key, int &field)
{
    field = readInt(parent, QLatin1String(key), field);
}

void mergeBool(const QJsonObject &parent, const char *key, bool &field)
{
    field = readBool(parent, QLatin1String(key), field);
}

} // namespace

void mergeHelicopterConfig(HelicopterConfig &config, const QJsonObject &partial)
{
    const QJsonObject inputs = member(partial, "inputs");
    const QJsonObject joystick = member(inputs, "joystick");
    mergeInt(joystick, "xAxis", config.inputs.joystick.xAxis);
    mergeInt(joystick, "yAxis", config.inputs.joystick.yAxis);
    mergeInt(member(inputs, "throttle"), "axis", config.inputs.throttle.axis);
    const QJsonObject pedals = member(inputs, "pedals");
    mergeInt(pedals, "axis", config.inputs.pedals.axis);
    mergeInt(pedals, "axis2", config.inputs.pedals.axis2);
    mergeBool(pedals, "differential", config.inputs.pedals.differential);

    const QJsonObject calibration = member(partial, "calibration");
    replaceRecord(calibration, "roll", config.calibration.roll, &AxisConfig::fromJson);
    replaceRecord(calibration, "pitch", config.calibration.pitch, &AxisConfig::fromJson);
    replaceRecord(calibration, "throttle", config.calibration.throttle, &AxisConfig::fromJson);
    replaceRecord(calibration, "rudder", config.calibration.rudder, &AxisConfig::fromJson);

    const QJsonObject channels = member(partial, "channels");
    mergeInt(channels, "roll", config.channels.roll);
    mergeInt(channels, "pitch", config.channels.pitch);
    mergeInt(channels, "throttle", config.channels.throttle);
    mergeInt(channels, "rudder", config.channels.rudder);

    const QJsonObject fly = member(partial, "fly");
    mergeBool(fly, "armAtIdle", config.fly.armAtIdle);
    mergeBool(fly, "softStart", config.fly.softStart);
    mergeInt(fly, "softStartSec", config.fly.softStartSec);
    replaceRecord(fly, "arm", config.fly.arm, &HeliArmSwitch::fromJson);
    replaceRecord(fly, "dualRates", config.fly.dualRates, &DualRates::fromJson);
    replaceRecord(fly, "pitchCurve", config.fly.pitchCurve, &HeliCurve::fromJson);
    replaceRecord(fly, "throttleCurve", config.fly.throttleCurve, &HeliCurve::fromJson);
    mergeInt(fly, "motorChannel", config.fly.motorChannel);

    const QJsonObject attitude = member(partial, "attitude");
    mergeBool(attitude, "invertPitch", config.attitude.invertPitch);
    mergeBool(attitude, "invertRoll", config.attitude.invertRoll);
    mergeBool(attitude, "invertYaw", config.attitude.invertYaw);
}

} // namespace corvane
