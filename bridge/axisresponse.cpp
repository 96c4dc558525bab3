#include "bridge/axisresponse.h"

#include <cmath>

namespace corvane {

namespace {

// Exponents this close to zero make the power curve a step and the log curve 0/0.
constexpr float MinCurveExponent = 1e-6f;

float applyCurve(const AxisConfig &config, float x)
{
    const float k = config.curveExponent;
    if (std::fabs(k) < MinCurveExponent)
        return x;
    switch (config.curve) {
    case 1:
        return powf(x, k);
    case 2:
        return logf((expf(k) - 1.0f) * x + 1.0f) / k;
    default:
        return x;
    }
}

// Travel of a one-sided axis from released (0) to fully pressed (1).
float oneSidedTravel(const AxisConfig &config, float value)
{
    float t;
    if (config.useCalibration) {
        const float span = config.inputMax - config.inputMin;
        if (!(span > MinCalibrationSpan))
            return 0.0f;
        t = (value - config.inputMin) / span;
    } else {
        const float w = config.inverted ? -value : value;
        t = (w + 1.0f) * 0.5f;
    }
    if (t < 0.0f)
        t = 0.0f;
    if (t > 1.0f)
        t = 1.0f;
    if (config.useCalibration && config.inverted)
        t = 1.0f - t;
    return t;
}

float clampFinite(float r, float low, float high)
{
    if (!std::isfinite(r))
        return 0.0f;
    if (r < low)
        return low;
    if (r > high)
        return high;
    return r;
}

float processBipolar(const AxisConfig &config, float value)
{
    float u = calibrateBipolar(config, value);
    if (config.inverted)
        u = -u;
    // A negative dead zone would push the centre off zero.
    const float deadzone = config.deadzone > 0.0f ? config.deadzone : 0.0f;
    float y;
    const float magnitude = std::fabs(u);
    if (deadzone >= 1.0f || deadzone > magnitude) {
        y = 0.0f;
    } else {
        const float s = u > 0.0f ? 1.0f : -1.0f;
        y = s * applyCurve(config, (magnitude - deadzone) / (1.0f - deadzone));
    }
    if (config.expo > 0.0001f)
        y = config.expo * y * y * y + (1.0f - config.expo) * y;
    const float r = 2.0f
                    * ((config.maxOutput - config.minOutput) * y * 0.5f
                       + (config.maxOutput + config.minOutput) * 0.5f - 0.5f);
    return clampFinite(r, -1.0f, 1.0f);
}

float processOneSided(const AxisConfig &config, float value)
{
    const float t = oneSidedTravel(config, value);
    const float dz = config.deadzone > 0.02f ? config.deadzone : 0.02f;
    if (dz >= 1.0f || dz > t)
        return 0.0f;
    const float y = applyCurve(config, (t - dz) / (1.0f - dz));
    const float r = config.minOutput + (config.maxOutput - config.minOutput) * y;
    return clampFinite(r, 0.0f, 1.0f);
}

} // namespace

float calibrateBipolar(const AxisConfig &config, float value)
{
    if (!config.useCalibration)
        return value;
    if (config.inputCenter > value) {
        const float span = config.inputCenter - config.inputMin;
        return span > MinCalibrationSpan ? -((config.inputCenter - value) / span) : 0.0f;
    }
    const float span = config.inputMax - config.inputCenter;
    return span > MinCalibrationSpan ? (value - config.inputCenter) / span : 0.0f;
}

float processAxis(const AxisConfig &config, float value, bool bipolar)
{
    return bipolar ? processBipolar(config, value) : processOneSided(config, value);
}

} // namespace corvane
