#include "api/helicopterconfigmerge.h"

#include "api/wsjson.h"
#include "bridge/crsfprotocol.h"
#include "bridge/inputdevice.h"
#include "profiles/helicopterconfig.h"

namespace corvane {

using wsjson::FieldReader;
using wsjson::MaxNameChars;

namespace {

// The ranges of the desktop's helicopter dialogs; channels and axes are those that exist.
constexpr int kLastChannel = CrsfProtocol::ChannelCount - 1;
constexpr int kLastAxis = InputDevice::AxisCount - 1;
constexpr int kFirstArmChannel = 4;
constexpr int kFirstMotorChannel = 5;
constexpr int kMinPulseUs = 900;
constexpr int kMaxPulseUs = 2100;
constexpr int kMinRatePercent = 10;
constexpr int kMaxSoftStartSec = 10;

void readAxis(const FieldReader &in, const char *key, int &field)
{
    in.readInt(key, field, -1, kLastAxis);
}

void readChannelIndex(const FieldReader &in, const char *key, int &field, int first = 0)
{
    in.readInt(key, field, first, kLastChannel);
}

// A record member present in any form is read afresh, missing keys at their when-absent values.
template <class Record>
void replaceRecord(const FieldReader &parent, const char *key, Record &record,
                   void (*merge)(const FieldReader &, Record &))
{
    if (!parent.contains(key))
        return;
    Record fresh;
    merge(parent.object(key), fresh);
    record = fresh;
}

void mergeAxisRecord(const FieldReader &in, AxisConfig &axis)
{
    in.readText("name", axis.name, MaxNameChars);
    in.readBool("inverted", axis.inverted);
    in.readNumber("deadzone", axis.deadzone, 0.0, 0.5);
    in.readNumber("minOutput", axis.minOutput, 0.0, 1.0);
    in.readNumber("maxOutput", axis.maxOutput, 0.0, 1.0);
    in.readInt("curve", axis.curve, 0, 2);
    in.readNumber("curveExponent", axis.curveExponent, 1.0, 4.0);
    in.readNumber("expo", axis.expo, 0.0, 1.0);
    // Calibrated points are raw axis readings.
    in.readNumber("inputMin", axis.inputMin, -1.0, 1.0);
    in.readNumber("inputMax", axis.inputMax, -1.0, 1.0);
    in.readNumber("inputCenter", axis.inputCenter, -1.0, 1.0);
    in.readBool("useCalibration", axis.useCalibration);
}

void mergeArm(const FieldReader &in, HeliArmSwitch &arm)
{
    in.readBool("enabled", arm.enabled);
    readChannelIndex(in, "channel", arm.channel, kFirstArmChannel);
    in.readInt("onUs", arm.onUs, kMinPulseUs, kMaxPulseUs);
    in.readInt("offUs", arm.offUs, kMinPulseUs, kMaxPulseUs);
}

void mergeDualRates(const FieldReader &in, DualRates &rates)
{
    in.readBool("enabled", rates.enabled);
    in.readInt("beginnerPct", rates.beginnerPct, kMinRatePercent, 100);
    in.readInt("sportPct", rates.sportPct, kMinRatePercent, 100);
    in.readInt("threeDPct", rates.threeDPct, kMinRatePercent, 100);
    in.readInt("activeMode", rates.activeMode, 0, 2);
}

void mergeCurve(const FieldReader &in, HeliCurve &curve)
{
    in.readBool("enabled", curve.enabled);
    const FieldReader points = in.array("points");
    for (qsizetype i = 0; i < std::min<qsizetype>(points.size(), qsizetype(curve.points.size())); ++i)
        points.readNumber(i, curve.points[size_t(i)], 0.0, 1.0);
}

} // namespace

QString mergeHelicopterConfig(HelicopterConfig &config, const QJsonObject &partial)
{
    const FieldReader in = FieldReader(partial).comparedWith(config.toJson());
    mergeHelicopterConfig(in, config);
    return in.refusal();
}

void mergeHelicopterConfig(const FieldReader &in, HelicopterConfig &config)
{
    const FieldReader inputs = in.object("inputs");
    const FieldReader joystick = inputs.object("joystick");
    readAxis(joystick, "xAxis", config.inputs.joystick.xAxis);
    readAxis(joystick, "yAxis", config.inputs.joystick.yAxis);
    readAxis(inputs.object("throttle"), "axis", config.inputs.throttle.axis);
    const FieldReader pedals = inputs.object("pedals");
    readAxis(pedals, "axis", config.inputs.pedals.axis);
    readAxis(pedals, "axis2", config.inputs.pedals.axis2);
    pedals.readBool("differential", config.inputs.pedals.differential);

    const FieldReader calibration = in.object("calibration");
    replaceRecord(calibration, "roll", config.calibration.roll, &mergeAxisRecord);
    replaceRecord(calibration, "pitch", config.calibration.pitch, &mergeAxisRecord);
    replaceRecord(calibration, "throttle", config.calibration.throttle, &mergeAxisRecord);
    replaceRecord(calibration, "rudder", config.calibration.rudder, &mergeAxisRecord);

    const FieldReader channels = in.object("channels");
    readChannelIndex(channels, "roll", config.channels.roll);
    readChannelIndex(channels, "pitch", config.channels.pitch);
    readChannelIndex(channels, "throttle", config.channels.throttle);
    readChannelIndex(channels, "rudder", config.channels.rudder);

    const FieldReader fly = in.object("fly");
    fly.readBool("armAtIdle", config.fly.armAtIdle);
    fly.readBool("softStart", config.fly.softStart);
    fly.readInt("softStartSec", config.fly.softStartSec, 1, kMaxSoftStartSec);
    replaceRecord(fly, "arm", config.fly.arm, &mergeArm);
    replaceRecord(fly, "dualRates", config.fly.dualRates, &mergeDualRates);
    replaceRecord(fly, "pitchCurve", config.fly.pitchCurve, &mergeCurve);
    replaceRecord(fly, "throttleCurve", config.fly.throttleCurve, &mergeCurve);
    readChannelIndex(fly, "motorChannel", config.fly.motorChannel, kFirstMotorChannel);

    const FieldReader attitude = in.object("attitude");
    attitude.readBool("invertPitch", config.attitude.invertPitch);
    attitude.readBool("invertRoll", config.attitude.invertRoll);
    attitude.readBool("invertYaw", config.attitude.invertYaw);
}

} // namespace corvane
