#pragma once

#include <array>

#include "profiles/helicopterconfig.h"

namespace corvane {

class InputDevice;

// The helicopter's input arithmetic, shared by the transmit tick, the arm-at-idle checks, the
// page's live preview, the mapping dialog and the app's live output, so that what the pilot
// checks on screen is what the radio gets.

// One raw axis (-1..1) of a helicopter device; 0 without a connected device or for a negative
// axis index. An axis not yet once past 0.1 from its centre since the device was opened reads
// released (-1): each of two split pedals stays up until it is moved.
float heliAxisReading(const InputDevice *device, int axis);

// The raw axis of a control that rests at its centre (roll, pitch, a single rudder axis): where it
// is from the moment the device is open; 0 as heliAxisReading, and for an axis the device lacks.
float heliCentredReading(const InputDevice *device, int axis);

// The device is connected and has no axis of that index (a negative index is none asked for).
bool heliAxisMissing(const InputDevice *device, int axis);

// The raw collective lever: 0 as heliAxisReading. On an axis the lever does not have, and until
// its axis has once been past 0.1 from its centre since the device was opened (a lever resting at
// an end is so at its first read), it reads the raw value the lever's response takes for its low
// end, reversed or calibrated as it is: the collective is sent low, wherever the lever stands.
// Arm at idle takes such a lever for unseen, not for down, and refuses to start or arm.
float heliLeverReading(const AxisConfig &throttle, const InputDevice *device, int axis);

// The raw value the lever's response takes for its low end, reversed or calibrated as it is.
float heliLeverLowEnd(const AxisConfig &throttle);

// Two separate pedals as one rudder axis: the right pedal gives positive values, the left negative.
float heliPedalMix(float left, float right);

// The raw rudder: the mix of both pedals when they are split and the right one is chosen, else
// the single pedals axis, read as a centred control.
float heliRudderReading(const HelicopterConfig::Pedals &pedals, const InputDevice *device);

// A five-point curve at x (0..1, clamped), linear between the points; 0..1.
float curve5(const HeliCurve &curve, float x);

// The lever's share 0..1 with the collective range left out: what both curves take.
float heliLeverShare(const AxisConfig &throttle, float raw);

// The collective 0..1 from the raw lever: through the pitch curve when it is on (the collective
// range does not apply then), else the lever's shaped value.
float heliCollective(const HelicopterConfig &config, float raw);

// The primary controls as the transmit tick takes them from the three devices, before its glitch
// filter, soft start and dual rates: roll, pitch and yaw -1..1, the collective 0..1, and the
// lever's share that the throttle curve takes.
struct HeliControls
{
    float roll = 0.0f;
    float pitch = 0.0f;
    float collective = 0.0f;
    float yaw = 0.0f;
    float leverShare = 0.0f;
};

HeliControls heliControls(const HelicopterConfig &config, const InputDevice *joystick,
                          const InputDevice *throttle, const InputDevice *pedals);

// Roll, pitch, collective and yaw as the radio gets them, in that order: the controls with the
// dual-rate factor on roll, pitch and yaw, and the channel value each is sent as (the sticks and
// the rudder about the centre, the collective up from the low end).
struct HeliOutput
{
    std::array<float, 4> shaped{};
    std::array<int, 4> values{};
};

HeliOutput heliOutput(const HeliControls &controls, float rate);

} // namespace corvane
