#include <QTest>

#include <cerrno>

#include "platform/input/evdevtranslation.h"
#include "support/testenvironment.h"

using namespace corvane;
namespace ev = corvane::evdev;

namespace {

ev::Capabilities caps(const QList<int> &keys, const QList<int> &abs, const QList<int> &props = {})
{
    ev::Capabilities c;
    for (int k : keys)
        c.keys[size_t(k)] = true;
    for (int a : abs)
        c.abs[size_t(a)] = true;
    for (int p : props)
        c.props[size_t(p)] = true;
    return c;
}

using Codes = QList<int>;

} // namespace

class TestEvdevTranslation : public QObject
{
    Q_OBJECT

private slots:
    void gameController_data();
    void gameController();
    void axisLayout_data();
    void axisLayout();
    void buttonsInCodeOrder();
    void kernelBitArrays();
    void scaleAxis_data();
    void scaleAxis();
    void hatAngle_data();
    void hatAngle();
    void hatCodes();
    void instanceGuid();
    void productGuid();
    void forceLevel_data();
    void forceLevel();
    void constantForcePushesLikePositiveX();
    void springEffect_data();
    void springEffect();
    void errnoResults_data();
    void errnoResults();
    void axisNames();
};

void TestEvdevTranslation::gameController_data()
{
    QTest::addColumn<Codes>("keys");
    QTest::addColumn<Codes>("abs");
    QTest::addColumn<Codes>("props");
    QTest::addColumn<bool>("expected");

    QTest::newRow("joystick") << Codes{BTN_TRIGGER, BTN_THUMB} << Codes{ABS_X, ABS_Y} << Codes{} << true;
    QTest::newRow("gamepad") << Codes{BTN_SOUTH, BTN_EAST} << Codes{ABS_X, ABS_Y, ABS_HAT0X} << Codes{} << true;
    QTest::newRow("wheel gear buttons") << Codes{BTN_GEAR_DOWN, BTN_GEAR_UP} << Codes{ABS_WHEEL} << Codes{} << true;
    QTest::newRow("many buttons only") << Codes{BTN_TRIGGER_HAPPY1} << Codes{} << Codes{} << true;
    QTest::newRow("pedals, axes only") << Codes{} << Codes{ABS_X, ABS_Y, ABS_Z} << Codes{} << true;
    QTest::newRow("gas and brake only") << Codes{} << Codes{ABS_GAS, ABS_BRAKE} << Codes{} << true;
    QTest::newRow("keyboard") << Codes{KEY_A, KEY_B, KEY_ENTER} << Codes{} << Codes{} << false;
    QTest::newRow("mouse") << Codes{BTN_LEFT, BTN_RIGHT} << Codes{} << Codes{} << false;
    QTest::newRow("touchpad") << Codes{BTN_TOUCH, BTN_TOOL_FINGER, BTN_LEFT} << Codes{ABS_X, ABS_Y}
                              << Codes{INPUT_PROP_POINTER} << false;
    QTest::newRow("touchscreen") << Codes{BTN_TOUCH} << Codes{ABS_X, ABS_Y} << Codes{INPUT_PROP_DIRECT}
                                 << false;
    QTest::newRow("pen tablet") << Codes{BTN_TOOL_PEN, BTN_STYLUS} << Codes{ABS_X, ABS_Y} << Codes{}
                                << false;
    QTest::newRow("pad motion sensors") << Codes{} << Codes{ABS_X, ABS_Y, ABS_Z, ABS_RX}
                                        << Codes{INPUT_PROP_ACCELEROMETER} << false;
    QTest::newRow("keyboard with an axis") << Codes{KEY_A, KEY_SPACE} << Codes{ABS_X} << Codes{} << false;
    QTest::newRow("volume knob") << Codes{KEY_VOLUMEUP} << Codes{ABS_VOLUME} << Codes{} << false;
    QTest::newRow("nothing") << Codes{} << Codes{} << Codes{} << false;
}

void TestEvdevTranslation::gameController()
{
    QFETCH(Codes, keys);
    QFETCH(Codes, abs);
    QFETCH(Codes, props);
    QFETCH(bool, expected);
    QCOMPARE(ev::isGameController(caps(keys, abs, props)), expected);
}

void TestEvdevTranslation::axisLayout_data()
{
    QTest::addColumn<Codes>("abs");
    QTest::addColumn<Codes>("expected"); // code per axis index lX, lRx, lRy, lRz, lY, lZ, S0, S1
    QTest::addColumn<int>("numAxes");

    QTest::newRow("wheel X Y Z Rz")
        << Codes{ABS_X, ABS_Y, ABS_Z, ABS_RZ} << Codes{ABS_X, -1, -1, ABS_RZ, ABS_Y, ABS_Z, -1, -1} << 4;
    QTest::newRow("all six")
        << Codes{ABS_X, ABS_Y, ABS_Z, ABS_RX, ABS_RY, ABS_RZ}
        << Codes{ABS_X, ABS_RX, ABS_RY, ABS_RZ, ABS_Y, ABS_Z, -1, -1} << 6;
    QTest::newRow("gas and brake become sliders")
        << Codes{ABS_GAS, ABS_BRAKE} << Codes{-1, -1, -1, -1, -1, -1, ABS_GAS, ABS_BRAKE} << 2;
    QTest::newRow("first two sliders in code order")
        << Codes{ABS_BRAKE, ABS_GAS, ABS_RUDDER, ABS_THROTTLE}
        << Codes{-1, -1, -1, -1, -1, -1, ABS_THROTTLE, ABS_RUDDER} << 2;
    QTest::newRow("wheel and gas")
        << Codes{ABS_X, ABS_WHEEL, ABS_GAS} << Codes{ABS_X, -1, -1, -1, -1, -1, ABS_WHEEL, ABS_GAS} << 3;
    QTest::newRow("hats are not axes")
        << Codes{ABS_HAT0X, ABS_HAT0Y, ABS_X} << Codes{ABS_X, -1, -1, -1, -1, -1, -1, -1} << 1;
    QTest::newRow("unknown codes ignored")
        << Codes{ABS_MISC, ABS_VOLUME} << Codes{-1, -1, -1, -1, -1, -1, -1, -1} << 0;
}

void TestEvdevTranslation::axisLayout()
{
    QFETCH(Codes, abs);
    QFETCH(Codes, expected);
    QFETCH(int, numAxes);
    const ev::Layout layout = ev::layoutFor(caps({}, abs));
    for (int i = 0; i < InputAxisCount; ++i) {
        QCOMPARE(layout.axisCodes[size_t(i)], expected.at(i));
        if (expected.at(i) >= 0)
            QCOMPARE(layout.axisForCode(expected.at(i)), i);
    }
    QCOMPARE(layout.numAxes(), numAxes);
    QCOMPARE(layout.axisForCode(ABS_MISC), -1);
    QCOMPARE(layout.axisForCode(-1), -1);
}

void TestEvdevTranslation::buttonsInCodeOrder()
{
    ev::Layout layout = ev::layoutFor(caps({BTN_BASE, BTN_TRIGGER, KEY_ESC, BTN_TRIGGER_HAPPY3}, {}));
    QCOMPARE(layout.buttonCodes, (Codes{KEY_ESC, BTN_TRIGGER, BTN_BASE, BTN_TRIGGER_HAPPY3}));
    QCOMPARE(layout.buttonForCode(BTN_TRIGGER), 1);
    QCOMPARE(layout.buttonForCode(BTN_TRIGGER_HAPPY3), 3);
    QCOMPARE(layout.buttonForCode(BTN_THUMB), -1);

    // Only the first 128 codes become buttons.
    ev::Capabilities many;
    for (int code = 0x100; code < 0x100 + 200; ++code)
        many.keys[size_t(code)] = true;
    layout = ev::layoutFor(many);
    QCOMPARE(layout.buttonCodes.size(), InputButtonCount);
    QCOMPARE(layout.buttonForCode(0x100 + 127), 127);
    QCOMPARE(layout.buttonForCode(0x100 + 128), -1);
}

void TestEvdevTranslation::kernelBitArrays()
{
    const unsigned char bytes[] = {0x05, 0x80};
    std::bitset<16> bits;
    ev::setBits(bits, bytes, 1); // the second byte was not delivered
    QCOMPARE(bits.to_ulong(), 0x05ul);
    ev::setBits(bits, bytes, 2);
    QCOMPARE(bits.to_ulong(), 0x8005ul);
}

void TestEvdevTranslation::scaleAxis_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("expected");

    QTest::newRow("signed min") << -32768 << -32768 << 32767 << 0;
    QTest::newRow("signed max") << 32767 << -32768 << 32767 << 65535;
    QTest::newRow("signed zero") << 0 << -32768 << 32767 << 32768;
    QTest::newRow("10 bit min") << 0 << 0 << 1023 << 0;
    QTest::newRow("10 bit max") << 1023 << 0 << 1023 << 65535;
    QTest::newRow("10 bit middle") << 512 << 0 << 1023 << 32800;
    QTest::newRow("8 bit quarter") << 64 << 0 << 255 << 16448;
    QTest::newRow("above maximum clamps") << 2000 << 0 << 1023 << 65535;
    QTest::newRow("below minimum clamps") << -5 << 0 << 1023 << 0;
    QTest::newRow("empty range") << 7 << 7 << 7 << 0;
    QTest::newRow("inverted range") << 3 << 10 << 0 << 0;
    QTest::newRow("full 32 bit") << 2147483647 << -2147483647 - 1 << 2147483647 << 65535;
}

void TestEvdevTranslation::scaleAxis()
{
    QFETCH(int, value);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, expected);
    QCOMPARE(ev::scaleAxis(value, minimum, maximum), expected);
}

void TestEvdevTranslation::hatAngle_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("centred") << 0 << 0 << InputPovCentred;
    QTest::newRow("up") << 0 << -1 << 0u;
    QTest::newRow("up right") << 1 << -1 << 4500u;
    QTest::newRow("right") << 1 << 0 << 9000u;
    QTest::newRow("down right") << 1 << 1 << 13500u;
    QTest::newRow("down") << 0 << 1 << 18000u;
    QTest::newRow("down left") << -1 << 1 << 22500u;
    QTest::newRow("left") << -1 << 0 << 27000u;
    QTest::newRow("up left") << -1 << -1 << 31500u;
    QTest::newRow("large values count as a side") << 5 << -7 << 4500u;
}

void TestEvdevTranslation::hatAngle()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(quint32, expected);
    QCOMPARE(ev::hatAngle(x, y), expected);
}

void TestEvdevTranslation::hatCodes()
{
    QCOMPARE(ev::hatForCode(ABS_HAT0X), 0);
    QCOMPARE(ev::hatForCode(ABS_HAT0Y), 0);
    QCOMPARE(ev::hatForCode(ABS_HAT3Y), 3);
    QCOMPARE(ev::hatForCode(ABS_X), -1);
    QVERIFY(ev::isHatX(ABS_HAT2X));
    QVERIFY(!ev::isHatX(ABS_HAT2Y));
    QVERIFY(!ev::isHatX(ABS_X));

    QCOMPARE(ev::hatDirection(-1, -1, 1), -1);
    QCOMPARE(ev::hatDirection(0, -1, 1), 0);
    QCOMPARE(ev::hatDirection(1, -1, 1), 1);
    QCOMPARE(ev::hatDirection(0, 0, 2), -1);
    QCOMPARE(ev::hatDirection(1, 0, 2), 0);
    QCOMPARE(ev::hatDirection(2, 0, 2), 1);

    const ev::Layout layout = ev::layoutFor(caps({}, {ABS_HAT0X, ABS_HAT0Y, ABS_HAT2Y}));
    QCOMPARE(layout.numPovs(), 2);
    QVERIFY(layout.hats[0]);
    QVERIFY(!layout.hats[1]);
    QVERIFY(layout.hats[2]);
}

void TestEvdevTranslation::instanceGuid()
{
    const QString phys = QStringLiteral("usb-0000:00:14.0-3/input0");
    const QString name = QStringLiteral("Logitech G29 Driving Force Racing Wheel");
    const QUuid guid = ev::instanceGuid(phys, name);
    QCOMPARE(ev::instanceGuid(phys, name), guid);
    QVERIFY(ev::instanceGuid(QStringLiteral("usb-0000:00:14.0-4/input0"), name) != guid);
    QVERIFY(ev::instanceGuid(phys, name + QLatin1Char('2')) != guid);
    // The separator keeps "ab" + "c" apart from "a" + "bc".
    QVERIFY(ev::instanceGuid(QStringLiteral("ab"), QStringLiteral("c"))
            != ev::instanceGuid(QStringLiteral("a"), QStringLiteral("bc")));

    const QString text = inputGuidText(guid);
    QCOMPARE(text.size(), 38);
    QVERIFY(text.startsWith(QLatin1Char('{')) && text.endsWith(QLatin1Char('}')));
    QCOMPARE(text, text.toUpper());
    QCOMPARE(QUuid::fromString(text), guid);
}

void TestEvdevTranslation::productGuid()
{
    QCOMPARE(inputGuidText(inputProductGuid(0x046d, 0xc24f)),
             QStringLiteral("{C24F046D-0000-0000-0000-504944564944}"));
    QCOMPARE(inputGuidText(inputProductGuid(0x346e, 0x0006)),
             QStringLiteral("{0006346E-0000-0000-0000-504944564944}"));
}

void TestEvdevTranslation::forceLevel_data()
{
    QTest::addColumn<int>("magnitude");
    QTest::addColumn<quint32>("gain");
    QTest::addColumn<int>("expected");

    QTest::newRow("full positive") << 10000 << 10000u << 32767;
    QTest::newRow("full negative") << -10000 << 10000u << -32767;
    QTest::newRow("zero") << 0 << 10000u << 0;
    QTest::newRow("quarter negative") << -2500 << 10000u << -8191;
    QTest::newRow("beyond full clamps") << 25000 << 10000u << 32767;
    QTest::newRow("beyond negative full clamps") << -25000 << 10000u << -32767;
    QTest::newRow("half gain") << 10000 << 5000u << 16383;
    QTest::newRow("gain above full counts as full") << 10000 << 20000u << 32767;
    QTest::newRow("no gain") << 10000 << 0u << 0;
}

void TestEvdevTranslation::forceLevel()
{
    QFETCH(int, magnitude);
    QFETCH(quint32, gain);
    QFETCH(int, expected);
    QCOMPARE(int(ev::forceLevel(magnitude, gain)), expected);
}

void TestEvdevTranslation::constantForcePushesLikePositiveX()
{
    const ff_effect right = ev::constantForceEffect(5000, 10000, -1);
    QCOMPARE(right.type, quint16(FF_CONSTANT));
    QCOMPARE(right.id, qint16(-1));
    // 0x4000 is the kernel's direction along +X: a positive level acts as a positive X force.
    QCOMPARE(right.direction, quint16(0x4000));
    QCOMPARE(int(right.u.constant.level), 16383);
    QCOMPARE(right.replay.length, quint16(0)); // plays until stopped

    const ff_effect left = ev::constantForceEffect(-5000, 10000, 3);
    QCOMPARE(left.id, qint16(3));
    QCOMPARE(left.direction, quint16(0x4000));
    QCOMPARE(int(left.u.constant.level), -16383);
}

void TestEvdevTranslation::springEffect_data()
{
    QTest::addColumn<quint32>("gain");
    QTest::addColumn<int>("coefficient");
    QTest::addColumn<int>("saturation");

    QTest::newRow("full") << 10000u << 32767 << 65535;
    QTest::newRow("half") << 5000u << 16383 << 32767;
    QTest::newRow("off") << 0u << 0 << 0;
}

void TestEvdevTranslation::springEffect()
{
    QFETCH(quint32, gain);
    QFETCH(int, coefficient);
    QFETCH(int, saturation);
    InputCondition condition;
    condition.positiveCoefficient = condition.negativeCoefficient = 10000;
    condition.positiveSaturation = condition.negativeSaturation = 10000;
    const ff_effect spring = ev::springEffect(condition, gain, 7);
    QCOMPARE(spring.type, quint16(FF_SPRING));
    QCOMPARE(spring.id, qint16(7));
    const ff_condition_effect &x = spring.u.condition[0];
    QCOMPARE(int(x.right_coeff), coefficient);
    QCOMPARE(int(x.left_coeff), coefficient);
    QCOMPARE(int(x.right_saturation), saturation);
    QCOMPARE(int(x.left_saturation), saturation);
    QCOMPARE(int(x.center), 0);
    QCOMPARE(int(x.deadband), 0);
    // Only the wheel's axis is driven.
    QCOMPARE(int(spring.u.condition[1].right_coeff), 0);
    QCOMPARE(int(spring.u.condition[1].right_saturation), 0);
}

void TestEvdevTranslation::errnoResults_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<InputResult>("expected");

    QTest::newRow("none") << 0 << InputError::Ok;
    QTest::newRow("device gone") << ENODEV << InputError::InputLost;
    QTest::newRow("no permission") << EACCES << InputError::AccessDenied;
    QTest::newRow("grabbed elsewhere") << EBUSY << InputError::AccessDenied;
    QTest::newRow("bad effect") << EINVAL << InputError::InvalidParameter;
    QTest::newRow("effect memory full") << ENOSPC << InputError::DeviceFull;
    QTest::newRow("not a force device") << ENOTTY << InputError::NotImplemented;
    QTest::newRow("anything else") << EIO << InputError::Failed;
}

void TestEvdevTranslation::errnoResults()
{
    QFETCH(int, error);
    QFETCH(InputResult, expected);
    QCOMPARE(ev::resultFromErrno(error), expected);
    QCOMPARE(inputSucceeded(expected), error == 0);
}

void TestEvdevTranslation::axisNames()
{
    const QStringList expected{"lX", "lRx", "lRy", "lRz", "lY", "lZ", "Slider0", "Slider1"};
    for (int i = 0; i < InputAxisCount; ++i)
        QCOMPARE(inputAxisName(i), expected.at(i));
    QVERIFY(inputAxisName(-1).isEmpty());
    QVERIFY(inputAxisName(8).isEmpty());
}

OSTRA_TEST_MAIN_CORE(TestEvdevTranslation)
#include "tst_evdevtranslation.moc"
