#pragma once

#include <QString>
#include <QUuid>

#include <array>
#include <cstdint>

namespace corvane {

// Result of an input-layer call: 0 or more is success, negative is a failure. The failure codes
// carry the values that game-controller software on Windows reports, so that a diagnostic text
// reads the same whichever backend produced it.
using InputResult = qint32;

namespace InputError {
constexpr InputResult Ok = 0;
constexpr InputResult Failed = InputResult(0x80004005u);
constexpr InputResult NotImplemented = InputResult(0x80004001u);
constexpr InputResult InvalidParameter = InputResult(0x80070057u);
// Another program holds the device exclusively, or the user may not write to it.
constexpr InputResult AccessDenied = InputResult(0x80070005u);
constexpr InputResult NotAcquired = InputResult(0x8007000Cu);
constexpr InputResult InputLost = InputResult(0x8007001Eu);
constexpr InputResult DeviceNotFound = InputResult(0x80040154u);
constexpr InputResult DeviceFull = InputResult(0x80040201u);
constexpr InputResult Unplugged = InputResult(0x80040209u);
} // namespace InputError

inline bool inputSucceeded(InputResult result) { return result >= 0; }

// The top-level window a device is bound to; 0 stands for the desktop.
using InputWindowHandle = quintptr;

enum InputCooperationFlag : quint32 {
    InputExclusive = 0x1,
    InputNonExclusive = 0x2,
    InputForeground = 0x4,
    InputBackground = 0x8,
};

constexpr int InputAxisCount = 8;
constexpr int InputButtonCount = 128;
constexpr int InputPovCount = 4;
constexpr quint32 InputPovCentred = 0xFFFFFFFFu;
constexpr qint32 InputAxisMaximum = 65535;

// Axis index order of the raw state: lX, lRx, lRy, lRz, lY, lZ, Slider0, Slider1.
enum InputAxis {
    InputAxisX = 0,
    InputAxisRx = 1,
    InputAxisRy = 2,
    InputAxisRz = 3,
    InputAxisY = 4,
    InputAxisZ = 5,
    InputAxisSlider0 = 6,
    InputAxisSlider1 = 7,
};

// The name a user sees for an axis index ("lX" .. "Slider1"); empty outside 0..7.
QString inputAxisName(int index);

// One read of a game controller.
struct RawInputState
{
    std::array<qint32, InputAxisCount> axes{};       // in the axis index order, scaled to 0..65535
    std::array<quint32, InputPovCount> povs{InputPovCentred, InputPovCentred, InputPovCentred,
                                            InputPovCentred}; // hundredths of a degree
    std::array<quint8, InputButtonCount> buttons{};   // bit 7 set while down
    // Per axis, the reports since the device was acquired that carried it: until the first, the
    // axis is what was read at open, which a device just plugged in may not have filled yet.
    std::array<quint32, InputAxisCount> axisReports{};
};

// Identity of one attached game controller.
struct InputDeviceIdentity
{
    QUuid instanceGuid;
    QUuid productGuid;
    QString instanceName;
    QString productName;
};

struct InputCapabilities
{
    int numAxes = 0;
    int numButtons = 0;
    int numPovs = 0;
    bool forceFeedback = false;
};

enum class InputObjectKind { Axis, Button, Pov };

// One axis, button or hat of a device.
struct InputObject
{
    InputObjectKind kind = InputObjectKind::Axis;
    int index = 0;        // axis index, button number or hat number in the raw state
    quint32 offset = 0;   // offset of its value in the raw state layout
    quint32 id = 0;       // object id, unique within the device
    bool ffActuator = false;
};

// Offsets of the raw state layout: axes first (4 bytes each), then hats, then button bytes.
constexpr quint32 inputAxisOffset(int axis) { return quint32(axis) * 4; }
constexpr quint32 inputPovOffset(int pov) { return 32 + quint32(pov) * 4; }
constexpr quint32 inputButtonOffset(int button) { return 48 + quint32(button); }
// Object ids: the instance number in bits 8.., the kind in the low byte.
constexpr quint32 inputObjectId(InputObjectKind kind, int instance)
{
    return (quint32(instance) << 8)
           | (kind == InputObjectKind::Axis ? 0x02u : kind == InputObjectKind::Button ? 0x0Cu : 0x10u);
}

enum class InputEffectType { ConstantForce, Spring };

enum InputEffectFlag : quint32 {
    InputEffectObjectIds = 0x01,
    InputEffectObjectOffsets = 0x02,
    InputEffectCartesian = 0x10,
};

// Which parts of an effect's parameters a change carries.
enum InputEffectParameter : quint32 {
    InputEffectGain = 0x04,
    InputEffectTypeSpecific = 0x100,
    InputEffectStart = 0x20000000,
};

constexpr quint32 InputInfiniteDuration = 0xFFFFFFFFu;
constexpr quint32 InputNoTrigger = 0xFFFFFFFFu;
constexpr qint32 InputForceMaximum = 10000;

struct InputCondition
{
    qint32 offset = 0;
    qint32 positiveCoefficient = 0;
    qint32 negativeCoefficient = 0;
    quint32 positiveSaturation = 0;
    quint32 negativeSaturation = 0;
    qint32 deadBand = 0;
};

struct InputEffectParams
{
    quint32 flags = 0;                       // InputEffectFlag
    quint32 duration = InputInfiniteDuration;
    quint32 samplePeriod = 0;
    quint32 gain = InputForceMaximum;        // 0..10000
    quint32 triggerButton = InputNoTrigger;
    quint32 startDelay = 0;
    int axisCount = 0;                       // 1 or 2
    std::array<quint32, 2> axes{};           // offsets or ids, as the flags say
    std::array<qint32, 2> direction{};
    qint32 magnitude = 0;                    // constant force, -10000..10000
    InputCondition condition;                // spring
};

enum class InputFfCommand { Reset, StopAll };

// Registry text of a GUID: braces, upper case, 38 characters.
QString inputGuidText(const QUuid &guid);
// The product GUID of a USB device: product and vendor id in the first field, "PIDVID" at the end.
QUuid inputProductGuid(quint16 vendorId, quint16 productId);

} // namespace corvane
