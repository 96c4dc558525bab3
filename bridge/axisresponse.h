#pragma once

#include "profiles/axissettings.h"

namespace corvane {

// Calibration points this close together or closer give the axis no travel between them.
constexpr float MinCalibrationSpan = 0.0001f;

// Turns a raw axis value (-1..1) into a shaped control value: -1..1 for a centred axis,
// 0..1 for a one-sided axis (pedal, throttle lever). Never returns NaN or infinity.
float processAxis(const AxisConfig &config, float value, bool bipolar);

// The calibrated travel of a centred axis (-1..1 around its calibrated centre), before dead
// zone, curve and range; the raw value when the axis has no calibration.
float calibrateBipolar(const AxisConfig &config, float value);

} // namespace corvane
