#include <QTest>

#include <array>
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
    void gameController_data()
    {
        QTest::addColumn<Codes>("keys");
        QTest::addColumn<Codes>("abs");
        QTest::addColumn<Codes>("props");
        QTest::addColumn<bool>("expected");

        QTest::newRow("joystick") << Codes{BTN_TRIGGER, BTN_THUMB} << Codes{ABS_X, ABS_Y} << Codes{} << true;
        QTest::newRow("wheel gear buttons") << Codes{BTN_GEAR_DOWN, BTN_GEAR_UP} << Codes{ABS_WHEEL} << Codes{} << true;
        QTest::newRow("pedals, axes only") << Codes{} << Codes{ABS_X, ABS_Y, ABS_Z} << Codes{} << true;
        QTest::newRow("keyboard") << Codes{KEY_A, KEY_B, KEY_ENTER} << Codes{} << Codes{} << false;
        QTest::newRow("touchpad") << Codes{BTN_TOUCH, BTN_TOOL_FINGER, BTN_LEFT} << Codes{ABS_X, ABS_Y}
                                  << Codes{INPUT_PROP_POINTER} << false;
        QTest::newRow("pad motion sensors") << Codes{} << Codes{ABS_X, ABS_Y, ABS_Z, ABS_RX}
                                            << Codes{INPUT_PROP_ACCELEROMETER} << false;
    }

    void gameController()
    {
        QFETCH(Codes, keys);
        QFETCH(Codes, abs);
        QFETCH(Codes, props);
        QFETCH(bool, expected);
        QCOMPARE(ev::isGameController(caps(keys, abs, props)), expected);
    }

    void axisLayout_data()
    {
        QTest::addColumn<Codes>("abs");
        QTest::addColumn<Codes>("expected"); // code per axis index lX, lRx, lRy, lRz, lY, lZ, S0, S1
        QTest::addColumn<int>("numAxes");

        QTest::newRow("wheel X Y Z Rz")
            << Codes{ABS_X, ABS_Y, ABS_Z, ABS_RZ} << Codes{ABS_X, -1, -1, ABS_RZ, ABS_Y, ABS_Z, -1, -1} << 4;
        QTest::newRow("pedals in lRx lRy lRz")
            << Codes{ABS_RX, ABS_RY, ABS_RZ} << Codes{-1, ABS_RX, ABS_RY, ABS_RZ, -1, -1, -1, -1} << 3;
        QTest::newRow("stick: twist in lRz, throttle lever in Slider0") << Codes{ABS_X, ABS_Y, ABS_RZ, ABS_THROTTLE}
            << Codes{ABS_X, -1, -1, ABS_RZ, ABS_Y, -1, ABS_THROTTLE, -1} << 4;
        QTest::newRow("first two sliders in code order") << Codes{ABS_BRAKE, ABS_GAS, ABS_RUDDER, ABS_THROTTLE}
            << Codes{-1, -1, -1, -1, -1, -1, ABS_THROTTLE, ABS_RUDDER} << 2;
        QTest::newRow("hats and unknown codes are not axes")
            << Codes{ABS_HAT0X, ABS_HAT0Y, ABS_X, ABS_MISC} << Codes{ABS_X, -1, -1, -1, -1, -1, -1, -1} << 1;
    }

    void axisLayout()
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
        QVERIFY(layout.axisForCode(ABS_MISC) == -1 && layout.axisForCode(-1) == -1);
    }

    void buttonsInCodeOrder()
    {
        ev::Layout layout = ev::layoutFor(caps({BTN_BASE, BTN_TRIGGER, KEY_ESC, BTN_TRIGGER_HAPPY3}, {}));
        QCOMPARE(layout.buttonCodes, (Codes{KEY_ESC, BTN_TRIGGER, BTN_BASE, BTN_TRIGGER_HAPPY3}));
        QVERIFY(layout.buttonForCode(BTN_TRIGGER_HAPPY3) == 3 && layout.buttonForCode(BTN_THUMB) == -1);

        // Only the first 128 codes become buttons.
        ev::Capabilities many;
        for (int code = 0x100; code < 0x100 + 200; ++code)
            many.keys[size_t(code)] = true;
        layout = ev::layoutFor(many);
        QCOMPARE(layout.buttonCodes.size(), InputButtonCount);
        QCOMPARE(layout.buttonForCode(0x100 + 127), 127);
        QCOMPARE(layout.buttonForCode(0x100 + 128), -1);
    }

    // Each device's own range becomes 0..65535.
    void scaleAxis()
    {
        // value, minimum, maximum, expected
        const QList<std::array<int, 4>> cases{{-32768, -32768, 32767, 0}, {32767, -32768, 32767, 65535},
            {512, 0, 1023, 32800}, {2000, 0, 1023, 65535}, {-5, 0, 1023, 0}, {7, 7, 7, 0}, {3, 10, 0, 0},
            {2147483647, -2147483647 - 1, 2147483647, 65535}};
        for (const auto &[value, minimum, maximum, expected] : cases)
            QVERIFY2(ev::scaleAxis(value, minimum, maximum) == expected, qPrintable(QString::number(value)));
    }

    void hats()
    {
        // x, y, angle in hundredths of a degree
        const QList<std::array<int, 3>> angles{{0, 0, int(InputPovCentred)}, {0, -1, 0}, {1, 0, 9000}, {0, 1, 18000},
            {-1, 1, 22500}, {-1, 0, 27000}, {-1, -1, 31500}, {5, -7, 4500}};
        for (const auto &[x, y, angle] : angles)
            QVERIFY2(ev::hatAngle(x, y) == quint32(angle), qPrintable(QStringLiteral("%1 %2").arg(x).arg(y)));

        // A hat counts where either of its axes exists.
        const ev::Layout layout = ev::layoutFor(caps({}, {ABS_HAT0X, ABS_HAT0Y, ABS_HAT2Y}));
        QCOMPARE(layout.numPovs(), 2);
        QVERIFY(layout.hats[0] && !layout.hats[1] && layout.hats[2]);
    }

    void instanceGuid()
    {
        const QString name = QStringLiteral("Logitech G29 Driving Force Racing Wheel");
        const QUuid guid = ev::instanceGuid(QStringLiteral("usb-0000:00:14.0-3/input0"), name);
        QCOMPARE(ev::instanceGuid(QStringLiteral("usb-0000:00:14.0-3/input0"), name), guid);
        QVERIFY(ev::instanceGuid(QStringLiteral("usb-0000:00:14.0-4/input0"), name) != guid);
        // The separator keeps "ab" + "c" apart from "a" + "bc".
        QVERIFY(ev::instanceGuid(QStringLiteral("ab"), QStringLiteral("c"))
                != ev::instanceGuid(QStringLiteral("a"), QStringLiteral("bc")));
        QCOMPARE(inputGuidText(guid), guid.toString(QUuid::WithBraces).toUpper());
        QCOMPARE(inputGuidText(inputProductGuid(0x046d, 0xc24f)),
                 QStringLiteral("{C24F046D-0000-0000-0000-504944564944}"));
    }

    void forceLevel()
    {
        // magnitude, gain, kernel level
        const QList<std::array<int, 3>> cases{{10000, 10000, 32767}, {-2500, 10000, -8191}, {-25000, 10000, -32767},
            {10000, 5000, 16383}, {10000, 20000, 32767}};
        for (const auto &[magnitude, gain, level] : cases)
            QVERIFY2(int(ev::forceLevel(magnitude, quint32(gain))) == level, qPrintable(QString::number(magnitude)));
    }

    void constantForcePushesLikePositiveX()
    {
        const ff_effect right = ev::constantForceEffect(5000, 10000, -1);
        QVERIFY(right.type == FF_CONSTANT && right.id == -1);
        // 0x4000 is the kernel's direction along +X: a positive level acts as a positive X force.
        QCOMPARE(right.direction, quint16(0x4000));
        QCOMPARE(int(right.u.constant.level), 16383);
        QCOMPARE(right.replay.length, quint16(0)); // plays until stopped

        const ff_effect left = ev::constantForceEffect(-5000, 10000, 3);
        QVERIFY(left.id == 3 && left.direction == 0x4000 && left.u.constant.level == -16383);
    }

    void springEffect()
    {
        InputCondition condition;
        condition.positiveCoefficient = condition.negativeCoefficient = 10000;
        condition.positiveSaturation = condition.negativeSaturation = 10000;
        const ff_effect spring = ev::springEffect(condition, 5000, 7);
        QVERIFY(spring.type == FF_SPRING && spring.id == 7);
        const ff_condition_effect &x = spring.u.condition[0];
        QVERIFY(x.right_coeff == 16383 && x.left_coeff == 16383 && x.center == 0 && x.deadband == 0);
        QVERIFY(x.right_saturation == 32767 && x.left_saturation == 32767);
    }

    void errnoResults()
    {
        // A device gone is a lost input, so the poll fails and the device is reported disconnected.
        QCOMPARE(ev::resultFromErrno(ENODEV), InputError::InputLost);
        QCOMPARE(ev::resultFromErrno(EACCES), InputError::AccessDenied);
    }
};

OSTRA_TEST_MAIN_CORE(TestEvdevTranslation)
#include "tst_evdevtranslation.moc"
