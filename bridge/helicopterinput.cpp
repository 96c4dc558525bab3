#include "bridge/helicopterinput.h"

#include <QtGlobal>

#include "bridge/axisresponse.h"
#include "bridge/crsfprotocol.h"
#include "bridge/inputdevice.h"

namespace corvane {

float heliAxisReading(const InputDevice *device, int axis)
{
    return (device && axis >= 0 && device->isConnected()) ? device->axis(axis) : 0.0f;
}

float heliCentredReading(const InputDevice *device, int axis)
{
    return (device && axis >= 0 && device->isConnected()) ? device->centredAxis(axis) : 0.0f;
}

bool heliAxisMissing(const InputDevice *device, int axis)
{
    return device && axis >= 0 && device->isConnected() && !device->hasAxis(axis);
}

float heliLeverReading(const AxisConfig &throttle, const InputDevice *device, int axis)
{
    if (!device || axis < 0 || !device->isConnected())
        return 0.0f;
    // The live latch reads an untouched axis as -1, which a reversed lever takes for its top.
    if (device->hasAxis(axis) && device->isAxisLive(axis))
        return device->axis(axis);
    return heliLeverLowEnd(throttle);
}

float heliLeverLowEnd(const AxisConfig &throttle)
{
    if (throttle.useCalibration)
        return throttle.inverted ? throttle.inputMax : throttle.inputMin;
    return throttle.inverted ? 1.0f : -1.0f;
}

float heliPedalMix(float left, float right)
{
    return qBound(-1.0f, (right + 1.0f) * 0.5f - (left + 1.0f) * 0.5f, 1.0f);
}

float heliRudderReading(const HelicopterConfig::Pedals &pedals, const InputDevice *device)
{
    if (pedals.differential && pedals.axis2 >= 0)
        return heliPedalMix(heliAxisReading(device, pedals.axis), heliAxisReading(device, pedals.axis2));
    return heliCentredReading(device, pedals.axis);
}

float curve5(const HeliCurve &curve, float x)
{
    const float t = qBound(0.0f, x, 1.0f) * 4.0f;
    const int i = static_cast<int>(t);
    if (i >= 4)
        return curve.points[4];
    const float y
        = curve.points[i] + (curve.points[i + 1] - curve.points[i]) * (t - static_cast<float>(i));
    return qBound(0.0f, y, 1.0f);
}

float heliLeverShare(const AxisConfig &throttle, float raw)
{
    AxisConfig fullRange = throttle;
    fullRange.minOutput = 0.0f;
    fullRange.maxOutput = 1.0f;
    return processAxis(fullRange, raw, false);
}

float heliCollective(const HelicopterConfig &config, float raw)
{
    if (config.fly.pitchCurve.enabled)
        return curve5(config.fly.pitchCurve, heliLeverShare(config.calibration.throttle, raw));
    return processAxis(config.calibration.throttle, raw, false);
}

HeliControls heliControls(const HelicopterConfig &config, const InputDevice *joystick,
                          const InputDevice *throttle, const InputDevice *pedals)
{
    const HelicopterConfig::Inputs &in = config.inputs;
    const HelicopterConfig::Calibration &cal = config.calibration;
    const float lever = heliLeverReading(cal.throttle, throttle, in.throttle.axis);
    HeliControls controls;
    controls.roll = processAxis(cal.roll, heliCentredReading(joystick, in.joystick.xAxis), true);
    controls.pitch = processAxis(cal.pitch, heliCentredReading(joystick, in.joystick.yAxis), true);
    controls.collective = heliCollective(config, lever);
    controls.yaw = processAxis(cal.rudder, heliRudderReading(in.pedals, pedals), true);
    controls.leverShare = heliLeverShare(cal.throttle, lever);
    return controls;
}

HeliOutput heliOutput(const HeliControls &controls, float rate)
{
    HeliOutput out;
    out.shaped = {controls.roll * rate, controls.pitch * rate, controls.collective, controls.yaw * rate};
    out.values = {CrsfProtocol::bipolarToCrsf(out.shaped[0]), CrsfProtocol::bipolarToCrsf(out.shaped[1]),
                  CrsfProtocol::unipolarToCrsf(out.shaped[2]), CrsfProtocol::bipolarToCrsf(out.shaped[3])};
    return out;
}

} // namespace corvane
