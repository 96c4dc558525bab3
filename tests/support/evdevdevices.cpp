#include "support/evdevdevices.h"

#include <QtEndian>

#include <bitset>
#include <cstring>

namespace ostratest {

namespace {

// Sizes of the evdev backend's requests: umockdev answers an ioctl only at the recorded size.
constexpr int NameBufferSize = 256;
constexpr int KeyBytes = (KEY_CNT + 7) / 8;
constexpr int AbsBytes = (ABS_CNT + 7) / 8;
constexpr int FfBytes = (FF_CNT + 7) / 8;
constexpr int PropBytes = (INPUT_PROP_CNT + 7) / 8;

QByteArray bitBytes(const QList<int> &codes, int byteCount)
{
    QByteArray bytes(byteCount, '\0');
    for (int code : codes) {
        if (code >= 0 && code / 8 < byteCount)
            bytes[code / 8] = char(quint8(bytes.at(code / 8)) | (1u << (code % 8)));
    }
    return bytes;
}

QByteArray text(const QString &value)
{
    QByteArray bytes = value.toUtf8().left(NameBufferSize - 1);
    bytes.append(QByteArray(NameBufferSize - bytes.size(), '\0'));
    return bytes;
}

QByteArray le32(qint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QList<int> range(int first, int last)
{
    QList<int> codes;
    for (int code = first; code <= last; ++code)
        codes.append(code);
    return codes;
}

} // namespace

EvdevDeviceSpec EvdevDeviceSpec::wheelBase()
{
    EvdevDeviceSpec s;
    s.name = QStringLiteral("MOZA R9 Base");
    s.physicalPath = QStringLiteral("usb-0000:00:14.0-2/input0");
    s.id = {BUS_USB, 0x346e, 0x0002, 0x0111};
    s.axes = {{ABS_X, 0, 65535, 32768}, {ABS_HAT0X, -1, 1, 0}, {ABS_HAT0Y, -1, 1, 0}};
    s.keys = range(BTN_TRIGGER, BTN_DEAD);
    s.ffFeatures = {FF_CONSTANT, FF_SPRING, FF_GAIN, FF_AUTOCENTER};
    s.effectSlots = 16;
    return s;
}

EvdevDeviceSpec EvdevDeviceSpec::pedals()
{
    EvdevDeviceSpec s;
    s.name = QStringLiteral("MOZA SRP Pedals");
    s.physicalPath = QStringLiteral("usb-0000:00:14.0-3/input0");
    s.id = {BUS_USB, 0x346e, 0x0003, 0x0111};
    s.axes = {{ABS_RX, 0, 1023, 0}, {ABS_RY, 0, 1023, 0}, {ABS_RZ, 0, 1023, 0}};
    return s;
}

EvdevDeviceSpec EvdevDeviceSpec::hShifter()
{
    EvdevDeviceSpec s;
    s.name = QStringLiteral("Logitech Driving Force Shifter");
    s.physicalPath = QStringLiteral("usb-0000:00:14.0-4/input0");
    s.id = {BUS_USB, 0x046d, 0xc29b, 0x0111};
    s.keys = range(BTN_TRIGGER, BTN_BASE6);
    return s;
}

EvdevDeviceSpec EvdevDeviceSpec::flightStick()
{
    EvdevDeviceSpec s;
    s.name = QStringLiteral("Aerostick Hotas One");
    s.physicalPath = QStringLiteral("usb-0000:00:14.0-5/input0");
    s.id = {BUS_USB, 0x1234, 0x5678, 0x0100};
    s.axes = {{ABS_X, -512, 511, 0}, {ABS_Y, -512, 511, 0}, {ABS_RZ, 0, 255, 128},
              {ABS_THROTTLE, 0, 255, 0}, {ABS_HAT0X, -1, 1, 0}, {ABS_HAT0Y, -1, 1, 0}};
    s.keys = range(BTN_TRIGGER, BTN_BASE4);
    return s;
}

EvdevDeviceSpec EvdevDeviceSpec::keyboard()
{
    EvdevDeviceSpec s;
    s.name = QStringLiteral("USB Keyboard");
    s.physicalPath = QStringLiteral("usb-0000:00:14.0-6/input0");
    s.id = {BUS_USB, 0x1111, 0x2222, 0x0110};
    s.keys = range(KEY_ESC, KEY_SPACE);
    return s;
}

EvdevDeviceSpec EvdevDeviceSpec::mouse()
{
    EvdevDeviceSpec s;
    s.name = QStringLiteral("USB Optical Mouse");
    s.physicalPath = QStringLiteral("usb-0000:00:14.0-7/input0");
    s.id = {BUS_USB, 0x3333, 0x4444, 0x0110};
    s.keys = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
    s.properties = {INPUT_PROP_POINTER};
    return s;
}

QByteArray EvdevDeviceSpec::umockdevText(int eventNumber) const
{
    const QByteArray n = QByteArray::number(eventNumber);
    return "P: /devices/virtual/input/input" + n + "/event" + n + "\n"
           "N: input/event" + n + "\n"
           "E: DEVNAME=/dev/input/event" + n + "\n"
           "E: SUBSYSTEM=input\n"
           "E: MAJOR=13\n"
           "E: MINOR=" + QByteArray::number(64 + eventNumber) + "\n"
           "E: ID_INPUT=1\n\n";
}

QList<EvdevDeviceSpec::IoctlAnswer> EvdevDeviceSpec::ioctlAnswers() const
{
    QList<IoctlAnswer> answers;
    const auto bits = [](int type) { return "EVIOCGBIT(" + QByteArray::number(type) + ")"; };
    QByteArray identity(sizeof(input_id), '\0');
    std::memcpy(identity.data(), &id, sizeof(input_id));
    QList<int> absCodes;
    for (const Axis &axis : axes)
        absCodes.append(axis.code);
    answers.append({"EVIOCGNAME", EVIOCGNAME(NameBufferSize), int(name.toUtf8().size()) + 1, text(name)});
    answers.append({"EVIOCGPHYS", EVIOCGPHYS(NameBufferSize), int(physicalPath.toUtf8().size()) + 1,
                    text(physicalPath)});
    answers.append({"EVIOCGID", EVIOCGID, 0, identity});
    answers.append({bits(EV_KEY), EVIOCGBIT(EV_KEY, KeyBytes), KeyBytes, bitBytes(keys, KeyBytes)});
    answers.append({bits(EV_ABS), EVIOCGBIT(EV_ABS, AbsBytes), AbsBytes, bitBytes(absCodes, AbsBytes)});
    answers.append({bits(EV_FF), EVIOCGBIT(EV_FF, FfBytes), FfBytes, bitBytes(ffFeatures, FfBytes)});
    answers.append({"EVIOCGPROP", EVIOCGPROP(PropBytes), PropBytes, bitBytes(properties, PropBytes)});
    answers.append({"EVIOCGKEY", EVIOCGKEY(KeyBytes), keyStateBytes < 0 ? KeyBytes : keyStateBytes,
                    bitBytes(keysDown, KeyBytes)});
    answers.append({"EVIOCGEFFECTS", EVIOCGEFFECTS, 0, le32(effectSlots)});
    for (const Axis &axis : axes) {
        if (missingAbs.contains(axis.code))
            continue;
        const QByteArray info = le32(axis.value) + le32(axis.minimum) + le32(axis.maximum) + le32(0)
                                + le32(0) + le32(0);
        answers.append({"EVIOCGABS(" + QByteArray::number(axis.code) + ")", EVIOCGABS(axis.code), 0, info});
    }
    return answers;
}

QByteArray EvdevDeviceSpec::ioctlText(int eventNumber) const
{
    QByteArray out = "@DEV /dev/input/event" + QByteArray::number(eventNumber) + "\n";
    for (const IoctlAnswer &answer : ioctlAnswers())
        out += answer.name + ' ' + QByteArray::number(answer.result) + ' ' + answer.data.toHex().toUpper() + '\n';
    return out;
}

QByteArray evemuText(const QList<EvdevEvent> &events)
{
    QByteArray out;
    const auto event = [&out](int type, int code, int value) {
        out += QByteArrayLiteral("E: 0.000001 ") + QByteArray::number(type, 16).rightJustified(4, '0')
               + ' ' + QByteArray::number(code, 16).rightJustified(4, '0') + ' '
               + QByteArray::number(value) + '\n';
    };
    for (const EvdevEvent &e : events)
        event(e.type, e.code, e.value);
    event(EV_SYN, SYN_REPORT, 0);
    return out;
}

} // namespace ostratest
