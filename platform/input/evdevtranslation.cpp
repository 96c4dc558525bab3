#include "platform/input/evdevtranslation.h"

#include <algorithm>
#include <cerrno>

namespace corvane::evdev {

namespace {

// The next two present of these become Slider0 and Slider1.
constexpr int kSliderCandidates[] = {ABS_THROTTLE, ABS_RUDDER, ABS_WHEEL, ABS_GAS, ABS_BRAKE};

constexpr std::pair<int, int> kFixedAxes[] = {
    {ABS_X, InputAxisX},   {ABS_Y, InputAxisY},   {ABS_Z, InputAxisZ},
    {ABS_RX, InputAxisRx}, {ABS_RY, InputAxisRy}, {ABS_RZ, InputAxisRz},
};

bool anyKey(const Capabilities &caps, int first, int last)
{
    for (int code = first; code <= last; ++code) {
        if (caps.keys[size_t(code)])
            return true;
    }
    return false;
}

qint32 scaleForce(qint64 value, quint32 gain, qint64 full)
{
    const qint64 clampedGain = std::min<qint64>(gain, InputForceMaximum);
    return qint32(value * clampedGain * full / (qint64(InputForceMaximum) * InputForceMaximum));
}

} // namespace

bool isGameController(const Capabilities &caps)
{
    if (caps.props[INPUT_PROP_ACCELEROMETER])
        return false;
    if (anyKey(caps, BTN_JOYSTICK, BTN_DIGI - 1) || anyKey(caps, BTN_WHEEL, BTN_GEAR_UP)
        || anyKey(caps, BTN_TRIGGER_HAPPY, BTN_TRIGGER_HAPPY40))
        return true;
    // Devices with axes only (pedals) qualify unless they point, touch or type.
    const bool pointer = caps.keys[BTN_TOUCH] || caps.keys[BTN_MOUSE]
                         || anyKey(caps, BTN_DIGI, BTN_TOOL_QUADTAP)
                         || caps.props[INPUT_PROP_POINTER] || caps.props[INPUT_PROP_DIRECT];
    const bool keyboard = caps.keys[KEY_A] || caps.keys[KEY_SPACE];
    if (pointer || keyboard)
        return false;
    const bool fixed = std::any_of(std::begin(kFixedAxes), std::end(kFixedAxes),
                                   [&caps](const auto &axis) { return caps.abs[size_t(axis.first)]; });
    const bool slider = std::any_of(std::begin(kSliderCandidates), std::end(kSliderCandidates),
                                    [&caps](int code) { return caps.abs[size_t(code)]; });
    return fixed || slider;
}

int Layout::numAxes() const
{
    return int(std::count_if(axisCodes.cbegin(), axisCodes.cend(), [](int code) { return code >= 0; }));
}

int Layout::numPovs() const
{
    return int(std::count(hats.cbegin(), hats.cend(), true));
}

int Layout::axisForCode(int absCode) const
{
    const auto it = std::find(axisCodes.cbegin(), axisCodes.cend(), absCode);
    return it == axisCodes.cend() || absCode < 0 ? -1 : int(it - axisCodes.cbegin());
}

int Layout::buttonForCode(int keyCode) const
{
    const auto it = std::lower_bound(buttonCodes.cbegin(), buttonCodes.cend(), keyCode);
    return it != buttonCodes.cend() && *it == keyCode ? int(it - buttonCodes.cbegin()) : -1;
}

Layout layoutFor(const Capabilities &caps)
{
    Layout layout;
    for (const auto &[code, axis] : kFixedAxes) {
        if (caps.abs[size_t(code)])
            layout.axisCodes[size_t(axis)] = code;
    }
    int slider = InputAxisSlider0;
    for (int code : kSliderCandidates) {
        if (slider <= InputAxisSlider1 && caps.abs[size_t(code)])
            layout.axisCodes[size_t(slider++)] = code;
    }
    for (int code = 0; code < KEY_CNT && layout.buttonCodes.size() < InputButtonCount; ++code) {
        if (caps.keys[size_t(code)])
            layout.buttonCodes.append(code);
    }
    for (int code = ABS_HAT0X; code <= ABS_HAT3Y; ++code) {
        if (caps.abs[size_t(code)])
            layout.hats[size_t(hatForCode(code))] = true;
    }
    return layout;
}

int hatForCode(int absCode)
{
    return absCode >= ABS_HAT0X && absCode <= ABS_HAT3Y ? (absCode - ABS_HAT0X) / 2 : -1;
}

qint32 scaleAxis(qint32 value, qint32 minimum, qint32 maximum, qint32 low, qint32 high)
{
    if (maximum <= minimum)
        return low;
    const qint64 span = qint64(maximum) - minimum;
    const qint64 offset = std::clamp<qint64>(qint64(value) - minimum, 0, span);
    const qint64 out = qint64(high) - low;
    return qint32(low + (offset * out * 2 + span) / (span * 2));
}

int hatDirection(qint32 value, qint32 minimum, qint32 maximum)
{
    const qint64 twiceValue = qint64(value) * 2;
    const qint64 twiceCentre = qint64(minimum) + maximum;
    return twiceValue < twiceCentre ? -1 : twiceValue > twiceCentre ? 1 : 0;
}

quint32 hatAngle(int x, int y)
{
    // Indexed by (y + 1) * 3 + (x + 1); y is negative upwards.
    static constexpr quint32 angles[9] = {31500, 0,     4500,  27000, InputPovCentred,
                                          9000,  22500, 18000, 13500};
    const int cx = std::clamp(x, -1, 1);
    const int cy = std::clamp(y, -1, 1);
    return angles[(cy + 1) * 3 + (cx + 1)];
}

QUuid instanceGuid(const QString &physicalPath, const QString &name)
{
    static const QUuid space(0x3b8c6a1e, 0x52d4, 0x4f0b, 0xa6, 0x91, 0x0e, 0x7d, 0x24, 0xc3, 0x58,
                             0x1f);
    return QUuid::createUuidV5(space, physicalPath + QLatin1Char('\n') + name);
}

qint16 forceLevel(qint32 magnitude, quint32 gain)
{
    const qint32 clamped = std::clamp<qint32>(magnitude, -InputForceMaximum, InputForceMaximum);
    return qint16(scaleForce(clamped, gain, 0x7FFF));
}

ff_effect constantForceEffect(qint32 magnitude, quint32 gain, qint16 id)
{
    ff_effect effect{};
    effect.type = FF_CONSTANT;
    effect.id = id;
    effect.direction = PositiveXDirection;
    effect.u.constant.level = forceLevel(magnitude, gain);
    return effect;
}

ff_effect springEffect(const InputCondition &condition, quint32 gain, qint16 id)
{
    const auto saturation = [gain](quint32 value) {
        return quint16(scaleForce(std::min<quint32>(value, InputForceMaximum), gain, 0xFFFF));
    };
    ff_effect effect{};
    effect.type = FF_SPRING;
    effect.id = id;
    effect.direction = PositiveXDirection;
    ff_condition_effect &x = effect.u.condition[0];
    x.right_saturation = saturation(condition.positiveSaturation);
    x.left_saturation = saturation(condition.negativeSaturation);
    x.right_coeff = forceLevel(condition.positiveCoefficient, gain);
    x.left_coeff = forceLevel(condition.negativeCoefficient, gain);
    x.deadband = quint16(scaleForce(std::clamp<qint32>(condition.deadBand, 0, InputForceMaximum),
                                    InputForceMaximum, 0xFFFF));
    x.center = forceLevel(condition.offset, InputForceMaximum);
    return effect;
}

InputResult resultFromErrno(int error)
{
    switch (error) {
    case 0:
        return InputError::Ok;
    case ENODEV:
    case ENXIO:
        return InputError::InputLost;
    case EACCES:
    case EPERM:
    case EBUSY:
        return InputError::AccessDenied;
    case EINVAL:
        return InputError::InvalidParameter;
    case ENOSPC:
    case ENOMEM:
        return InputError::DeviceFull;
    case ENOSYS:
    case ENOTTY:
    case EOPNOTSUPP:
        return InputError::NotImplemented;
    default:
        return InputError::Failed;
    }
}

} // namespace corvane::evdev
