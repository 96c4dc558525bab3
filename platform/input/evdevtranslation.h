#pragma once

#include <QList>
#include <QString>
#include <QUuid>

#include <array>
#include <bitset>

#include <linux/input.h>

#include "platform/input/inputtypes.h"

// Translation between Linux event devices and the input layer's raw state, kept free of I/O.
namespace corvane::evdev {

// What an event device reports it can do.
struct Capabilities
{
    std::bitset<KEY_CNT> keys;
    std::bitset<ABS_CNT> abs;
    std::bitset<FF_CNT> ff;
    std::bitset<INPUT_PROP_CNT> props;
};

// Sets bit n for every bit n of `bytes` (the kernel's bit arrays are little-endian bytes).
template <size_t N>
void setBits(std::bitset<N> &bits, const unsigned char *bytes, size_t byteCount)
{
    for (size_t i = 0; i < N && i / 8 < byteCount; ++i)
        bits[i] = (bytes[i / 8] >> (i % 8)) & 1;
}

// Joysticks, gamepads, wheels and pedals; not keyboards, mice, touchpads, tablets or
// motion sensors.
bool isGameController(const Capabilities &caps);

// Where each code of a device lands in the raw state.
struct Layout
{
    std::array<int, InputAxisCount> axisCodes{{-1, -1, -1, -1, -1, -1, -1, -1}};
    QList<int> buttonCodes;                       // ascending, at most 128
    std::array<bool, InputPovCount> hats{};

    int numAxes() const;
    int numPovs() const;
    int axisForCode(int absCode) const;           // -1 when the code is not an axis
    int buttonForCode(int keyCode) const;         // -1 when the code is not a button
};

Layout layoutFor(const Capabilities &caps);

// Hat number of ABS_HAT0X..ABS_HAT3Y, -1 for any other code.
int hatForCode(int absCode);

// A value of minimum..maximum scaled to low..high, rounded to the nearest and clamped.
qint32 scaleAxis(qint32 value, qint32 minimum, qint32 maximum, qint32 low = 0,
                 qint32 high = InputAxisMaximum);
// -1, 0 or 1: the side of the range's centre a hat axis is on.
int hatDirection(qint32 value, qint32 minimum, qint32 maximum);
// Hundredths of a degree clockwise from up, or InputPovCentred.
quint32 hatAngle(int x, int y);

// A stable instance GUID for a device, made from its physical path and name.
QUuid instanceGuid(const QString &physicalPath, const QString &name);

// Kernel force level of a magnitude (-10000..10000) at a gain (0..10000).
qint16 forceLevel(qint32 magnitude, quint32 gain);
// The kernel's direction that makes a positive level push as a positive X force does.
constexpr quint16 PositiveXDirection = 0x4000;
ff_effect constantForceEffect(qint32 magnitude, quint32 gain, qint16 id);
ff_effect springEffect(const InputCondition &condition, quint32 gain, qint16 id);

InputResult resultFromErrno(int error);

} // namespace corvane::evdev
