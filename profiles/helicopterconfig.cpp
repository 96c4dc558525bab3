#include "profiles/helicopterconfig.h"

#include <QJsonArray>

#include <algorithm>

#include "profiles/jsonfields.h"

namespace {

DeviceConnection deviceOf(const QJsonObject &group)
{
    return DeviceConnection::fromJson(group.value(QLatin1String("device")).toObject());
}

} // namespace

HeliArmSwitch HeliArmSwitch::fromJson(const QJsonObject &obj)
{
    const HeliArmSwitch d;
    HeliArmSwitch a;
    a.enabled = obj.value(QLatin1String("enabled")).toBool(d.enabled);
    a.channel = obj.value(QLatin1String("channel")).toInt(d.channel);
    a.onUs = obj.value(QLatin1String("onUs")).toInt(d.onUs);
    a.offUs = obj.value(QLatin1String("offUs")).toInt(d.offUs);
    return a;
}

DualRates DualRates::fromJson(const QJsonObject &obj)
{
    const DualRates d;
    DualRates r;
    r.enabled = obj.value(QLatin1String("enabled")).toBool(d.enabled);
    r.beginnerPct = obj.value(QLatin1String("beginnerPct")).toInt(d.beginnerPct);
    r.sportPct = obj.value(QLatin1String("sportPct")).toInt(d.sportPct);
    r.threeDPct = obj.value(QLatin1String("threeDPct")).toInt(d.threeDPct);
    r.activeMode = obj.value(QLatin1String("activeMode")).toInt(d.activeMode);
    return r;
}

QJsonObject DualRates::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("enabled"), enabled);
    o.insert(QLatin1String("beginnerPct"), beginnerPct);
    o.insert(QLatin1String("sportPct"), sportPct);
    o.insert(QLatin1String("threeDPct"), threeDPct);
    o.insert(QLatin1String("activeMode"), activeMode);
    return o;
}

HeliCurve HeliCurve::fromJson(const QJsonObject &obj)
{
    HeliCurve c;
    c.enabled = obj.value(QLatin1String("enabled")).toBool(false);
    const QJsonArray points = obj.value(QLatin1String("points")).toArray();
    const size_t count = std::min<size_t>(size_t(points.size()), c.points.size());
    for (size_t i = 0; i < count; ++i)
        c.points[i] = jsonFloat(points.at(qsizetype(i)), c.points[i]);
    return c;
}

QJsonObject HeliCurve::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("enabled"), enabled);
    QJsonArray array;
    for (float point : points)
        array.append(double(point));
    o.insert(QLatin1String("points"), array);
    return o;
}

HelicopterConfig::Calibration::Calibration()
{
    roll.name = QStringLiteral("Roll");
    pitch.name = QStringLiteral("Pitch");
    throttle.name = QStringLiteral("Throttle");
    rudder.name = QStringLiteral("Rudder");
}

HelicopterConfig HelicopterConfig::fromJson(const QJsonObject &obj)
{
    HelicopterConfig c;

    const QJsonObject inputs = obj.value(QLatin1String("inputs")).toObject();
    if (inputs.contains(QLatin1String("joystick"))) {
        const QJsonObject joystick = inputs.value(QLatin1String("joystick")).toObject();
        c.inputs.joystick.device = deviceOf(joystick);
        c.inputs.joystick.xAxis = joystick.value(QLatin1String("xAxis")).toInt(0);
        c.inputs.joystick.yAxis = joystick.value(QLatin1String("yAxis")).toInt(1);
    }
    if (inputs.contains(QLatin1String("throttle"))) {
        const QJsonObject throttle = inputs.value(QLatin1String("throttle")).toObject();
        c.inputs.throttle.device = deviceOf(throttle);
        c.inputs.throttle.axis = throttle.value(QLatin1String("axis")).toInt(2);
    }
    if (inputs.contains(QLatin1String("pedals"))) {
        const QJsonObject pedals = inputs.value(QLatin1String("pedals")).toObject();
        c.inputs.pedals.device = deviceOf(pedals);
        c.inputs.pedals.axis = pedals.value(QLatin1String("axis")).toInt(3);
        c.inputs.pedals.axis2 = pedals.value(QLatin1String("axis2")).toInt(-1);
        c.inputs.pedals.differential = pedals.value(QLatin1String("differential")).toBool(false);
    }

    const QJsonObject calibration = obj.value(QLatin1String("calibration")).toObject();
    const std::pair<const char *, AxisConfig *> axes[] = {{"roll", &c.calibration.roll},
                                                          {"pitch", &c.calibration.pitch},
                                                          {"throttle", &c.calibration.throttle},
                                                          {"rudder", &c.calibration.rudder}};
    for (const auto &[key, axis] : axes) {
        if (calibration.contains(QLatin1String(key)))
            *axis = AxisConfig::fromJson(calibration.value(QLatin1String(key)).toObject());
    }

    const QJsonObject channels = obj.value(QLatin1String("channels")).toObject();
    c.channels.roll = channels.value(QLatin1String("roll")).toInt(0);
    c.channels.pitch = channels.value(QLatin1String("pitch")).toInt(1);
    c.channels.throttle = channels.value(QLatin1String("throttle")).toInt(2);
    c.channels.rudder = channels.value(QLatin1String("rudder")).toInt(3);

    const QJsonObject fly = obj.value(QLatin1String("fly")).toObject();
    c.fly.armAtIdle = fly.value(QLatin1String("armAtIdle")).toBool(true);
    c.fly.softStart = fly.value(QLatin1String("softStart")).toBool(false);
    c.fly.softStartSec = fly.value(QLatin1String("softStartSec")).toInt(3);
    if (fly.contains(QLatin1String("arm")))
        c.fly.arm = HeliArmSwitch::fromJson(fly.value(QLatin1String("arm")).toObject());
    if (fly.contains(QLatin1String("dualRates")))
        c.fly.dualRates = DualRates::fromJson(fly.value(QLatin1String("dualRates")).toObject());
    if (fly.contains(QLatin1String("pitchCurve")))
        c.fly.pitchCurve = HeliCurve::fromJson(fly.value(QLatin1String("pitchCurve")).toObject());
    if (fly.contains(QLatin1String("throttleCurve")))
        c.fly.throttleCurve = HeliCurve::fromJson(fly.value(QLatin1String("throttleCurve")).toObject());
    c.fly.motorChannel = fly.value(QLatin1String("motorChannel")).toInt(5);

    const QJsonObject attitude = obj.value(QLatin1String("attitude")).toObject();
    c.attitude.invertPitch = attitude.value(QLatin1String("invertPitch")).toBool(false);
    c.attitude.invertRoll = attitude.value(QLatin1String("invertRoll")).toBool(false);
    c.attitude.invertYaw = attitude.value(QLatin1String("invertYaw")).toBool(false);
    return c;
}

QJsonObject HelicopterConfig::toJson() const
{
    QJsonObject joystick;
    joystick.insert(QLatin1String("device"), inputs.joystick.device.toJson());
    joystick.insert(QLatin1String("xAxis"), inputs.joystick.xAxis);
    joystick.insert(QLatin1String("yAxis"), inputs.joystick.yAxis);
    QJsonObject throttle;
    throttle.insert(QLatin1String("device"), inputs.throttle.device.toJson());
    throttle.insert(QLatin1String("axis"), inputs.throttle.axis);
    QJsonObject pedals;
    pedals.insert(QLatin1String("device"), inputs.pedals.device.toJson());
    pedals.insert(QLatin1String("axis"), inputs.pedals.axis);
    pedals.insert(QLatin1String("axis2"), inputs.pedals.axis2);
    pedals.insert(QLatin1String("differential"), inputs.pedals.differential);
    QJsonObject inputsObj;
    inputsObj.insert(QLatin1String("joystick"), joystick);
    inputsObj.insert(QLatin1String("throttle"), throttle);
    inputsObj.insert(QLatin1String("pedals"), pedals);

    QJsonObject calibrationObj;
    calibrationObj.insert(QLatin1String("roll"), calibration.roll.toJson());
    calibrationObj.insert(QLatin1String("pitch"), calibration.pitch.toJson());
    calibrationObj.insert(QLatin1String("throttle"), calibration.throttle.toJson());
    calibrationObj.insert(QLatin1String("rudder"), calibration.rudder.toJson());

    QJsonObject channelsObj;
    channelsObj.insert(QLatin1String("roll"), channels.roll);
    channelsObj.insert(QLatin1String("pitch"), channels.pitch);
    channelsObj.insert(QLatin1String("throttle"), channels.throttle);
    channelsObj.insert(QLatin1String("rudder"), channels.rudder);

    QJsonObject arm;
    arm.insert(QLatin1String("enabled"), fly.arm.enabled);
    arm.insert(QLatin1String("channel"), fly.arm.channel);
    arm.insert(QLatin1String("onUs"), fly.arm.onUs);
    arm.insert(QLatin1String("offUs"), fly.arm.offUs);
    QJsonObject flyObj;
    flyObj.insert(QLatin1String("armAtIdle"), fly.armAtIdle);
    flyObj.insert(QLatin1String("softStart"), fly.softStart);
    flyObj.insert(QLatin1String("softStartSec"), fly.softStartSec);
    flyObj.insert(QLatin1String("arm"), arm);
    flyObj.insert(QLatin1String("dualRates"), fly.dualRates.toJson());
    flyObj.insert(QLatin1String("pitchCurve"), fly.pitchCurve.toJson());
    flyObj.insert(QLatin1String("throttleCurve"), fly.throttleCurve.toJson());
    flyObj.insert(QLatin1String("motorChannel"), fly.motorChannel);

    QJsonObject attitudeObj;
    attitudeObj.insert(QLatin1String("invertPitch"), attitude.invertPitch);
    attitudeObj.insert(QLatin1String("invertRoll"), attitude.invertRoll);
    attitudeObj.insert(QLatin1String("invertYaw"), attitude.invertYaw);

    QJsonObject o;
    o.insert(QLatin1String("inputs"), inputsObj);
    o.insert(QLatin1String("calibration"), calibrationObj);
    o.insert(QLatin1String("channels"), channelsObj);
    o.insert(QLatin1String("fly"), flyObj);
    o.insert(QLatin1String("attitude"), attitudeObj);
    return o;
}
