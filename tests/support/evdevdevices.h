#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <linux/input.h>

namespace ostratest {

// One event device as a umockdev testbed presents it: the capabilities and identity its ioctls
// report, written from the codes of linux/input.h. Nothing here comes from a recorded device.
struct EvdevDeviceSpec
{
    struct Axis
    {
        int code = ABS_X;
        int minimum = 0;
        int maximum = 65535;
        int value = 0;
    };

    QString name;
    QString physicalPath;
    input_id id{BUS_USB, 0, 0, 0x0111};
    QList<Axis> axes;
    QList<int> keys;        // EV_KEY codes
    QList<int> keysDown;    // held when the device is opened
    int keyStateBytes = -1; // bytes the EVIOCGKEY answer claims to hold; -1: all of them
    QList<int> ffFeatures;  // EV_FF codes
    int effectSlots = 0;    // EVIOCGEFFECTS
    QList<int> properties;  // INPUT_PROP_* codes
    QList<int> missingAbs;  // axes whose EVIOCGABS the device does not answer

    // The wheel base, pedals, H-shifter and flight stick of the tests, plus a keyboard and a mouse
    // that are no game controllers.
    static EvdevDeviceSpec wheelBase();
    static EvdevDeviceSpec pedals();
    static EvdevDeviceSpec hShifter();
    static EvdevDeviceSpec flightStick(); // a name that no vendor preset knows
    static EvdevDeviceSpec keyboard();
    static EvdevDeviceSpec mouse();

    // One ioctl the device answers: its name in umockdev's files, its request code, its result
    // and the bytes it hands back.
    struct IoctlAnswer
    {
        QByteArray name;
        unsigned long request = 0;
        int result = 0;
        QByteArray data;
    };
    // The answers the evdev backend asks for, in the sizes it asks them.
    QList<IoctlAnswer> ioctlAnswers() const;

    // umockdev device description of /dev/input/event<number>.
    QByteArray umockdevText(int eventNumber) const;
    // umockdev ioctl file of ioctlAnswers().
    QByteArray ioctlText(int eventNumber) const;
};

// One input event of an evemu stream.
struct EvdevEvent
{
    int type = EV_SYN;
    int code = SYN_REPORT;
    int value = 0;
};

// An evemu events file: every event at once, each group closed by a SYN_REPORT.
QByteArray evemuText(const QList<EvdevEvent> &events);

} // namespace ostratest
