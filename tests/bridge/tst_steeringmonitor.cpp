#include <QSignalSpy>
#include <QTest>

#include "bridge/steeringmonitor.h"
#include "support/testenvironment.h"

using corvane::SteeringHealth;
using corvane::SteeringMonitor;

namespace {

// A run of 7 ms observations with the inputs swept linearly from one value to another.
struct Segment
{
    int ticks;
    float wheelFrom, wheelTo;
    int ch1From, ch1To;
    float pedalFrom, pedalTo;
    int left = 0, center = 1024, right = 2047;
};

using Script = QList<Segment>;
using Healths = QList<int>;

constexpr int kTicksPerWindow = 215; // 215 x 7 ms is the first total of 1500 ms or more

Segment still(int ticks, float wheel = 0.0f)
{
    return {ticks, wheel, wheel, 1023, 1023, 0.0f, 0.0f};
}

Segment pedalsOnly(int ticks, float pedalSpan = 1.0f)
{
    return {ticks, 0.0f, 0.0f, 1023, 1023, 0.0f, pedalSpan};
}

Segment sweep(int ticks, float wheelSpan, int ch1Span)
{
    return {ticks, -wheelSpan / 2, wheelSpan / 2, 1000, 1000 + ch1Span, 0.0f, 0.0f};
}

Segment calibrated(Segment s, int left, int center, int right)
{
    return {s.ticks, s.wheelFrom, s.wheelTo, s.ch1From, s.ch1To, s.pedalFrom, s.pedalTo, left, center, right};
}

// A segment of no ticks resets the monitor.
Segment reset()
{
    return {0, 0, 0, 0, 0, 0, 0};
}

void run(SteeringMonitor &monitor, const Script &script)
{
    for (const Segment &s : script) {
        if (s.ticks == 0)
            monitor.reset();
        for (int i = 0; i < s.ticks; ++i) {
            const float t = s.ticks > 1 ? float(i) / float(s.ticks - 1) : 0.0f;
            const float wheel = s.wheelFrom + (s.wheelTo - s.wheelFrom) * t;
            const int ch1 = s.ch1From + int(std::lround((s.ch1To - s.ch1From) * t));
            const float pedal = s.pedalFrom + (s.pedalTo - s.pedalFrom) * t;
            // Throttle and brake alternate so that both feed the pedal reading.
            const float throttle = (i % 2) ? pedal : 0.0f;
            const float brake = (i % 2) ? 0.0f : pedal;
            monitor.update(wheel, ch1, throttle, brake, s.left, s.center, s.right, 7);
        }
    }
}

Healths emitted(const QSignalSpy &spy)
{
    Healths out;
    for (const QList<QVariant> &args : spy)
        out.append(args.at(0).value<SteeringHealth>());
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Script)

class TestSteeringMonitor : public QObject
{
    Q_OBJECT

private slots:
    void classification_data()
    {
        using namespace corvane;
        QTest::addColumn<Script>("script");
        QTest::addColumn<Healths>("expected");

        const int w = kTicksPerWindow;

        QTest::newRow("span of 99 is invalid")
            << Script{calibrated(still(1), 1000, 1024, 1099)} << Healths{SteeringCalibrationInvalid};
        QTest::newRow("span of 100 is usable") << Script{calibrated(still(w), 1000, 1050, 1100)} << Healths{};
        QTest::newRow("reversed end points count by their distance")
            << Script{calibrated(still(1), 2000, 1024, 100)} << Healths{};
        QTest::newRow("good calibration clears invalid on the next observation")
            << Script{calibrated(still(5), 1000, 1024, 1050), still(1)}
            << Healths{SteeringCalibrationInvalid, SteeringOk};
        // A whole window of sweeping with a frozen CH1 passes unseen while the calibration is
        // bad, and the window starts afresh once it is good.
        QTest::newRow("windows stand still while calibration is invalid")
            << Script{calibrated(sweep(2 * w, 1.0f, 0), 1000, 1024, 1050), sweep(w - 1, 1.0f, 0)}
            << Healths{SteeringCalibrationInvalid, SteeringOk};

        QTest::newRow("wheel sweep with CH1 span 15 does not reach the channel")
            << Script{sweep(w, 1.0f, 15)} << Healths{SteeringNotReachingChannel};
        QTest::newRow("wheel sweep with CH1 span 16 is fine") << Script{sweep(w, 1.0f, 16)} << Healths{};
        QTest::newRow("verdict waits for the end of the window") << Script{sweep(w - 1, 1.0f, 0)} << Healths{};
        QTest::newRow("next good window recovers") << Script{sweep(w, 1.0f, 0), sweep(w, 1.0f, 400)}
            << Healths{SteeringNotReachingChannel, SteeringOk};
        QTest::newRow("a still window keeps not reaching the channel")
            << Script{sweep(w, 1.0f, 0), still(w)} << Healths{SteeringNotReachingChannel};
        QTest::newRow("wheel span of 0.25 is not a sweep") << Script{sweep(w, 0.25f, 0)} << Healths{};

        QTest::newRow("no input after the third pedal window") << Script{pedalsOnly(3 * w)} << Healths{SteeringNoInput};
        QTest::newRow("two pedal windows are not enough") << Script{pedalsOnly(3 * w - 1)} << Healths{};
        QTest::newRow("quiet windows need not be consecutive")
            << Script{pedalsOnly(w), still(w), pedalsOnly(w), still(w), pedalsOnly(w)} << Healths{SteeringNoInput};
        QTest::newRow("pedal span of 0.3 does not count") << Script{pedalsOnly(6 * w, 0.3f)} << Healths{};
        QTest::newRow("first wheel movement clears no input")
            << Script{pedalsOnly(3 * w), still(1, 0.0f), still(1, 0.02f)} << Healths{SteeringNoInput, SteeringOk};
        QTest::newRow("movement of 0.01 is not a movement")
            << Script{pedalsOnly(3 * w), still(5, 0.01f)} << Healths{SteeringNoInput};
        QTest::newRow("a wheel that once moved never reads as no input")
            << Script{still(1, 0.0f), still(1, 0.05f), {6 * w, 0.05f, 0.05f, 1023, 1023, 0.0f, 1.0f}} << Healths{};
        QTest::newRow("baseline is the first value, not zero")
            << Script{{3 * w, 0.6f, 0.6f, 1023, 1023, 0.0f, 1.0f}} << Healths{SteeringNoInput};

        QTest::newRow("healthy reset is silent") << Script{still(10), reset()} << Healths{};
        QTest::newRow("reset clears no input")
            << Script{pedalsOnly(3 * w), reset()} << Healths{SteeringNoInput, SteeringOk};
        QTest::newRow("reset clears not reaching channel") << Script{sweep(w, 1.0f, 0), reset()}
            << Healths{SteeringNotReachingChannel, SteeringOk};
        // The quiet count starts over: two windows after the reset are not enough.
        QTest::newRow("reset forgets quiet windows")
            << Script{pedalsOnly(2 * w), reset(), pedalsOnly(2 * w)} << Healths{};
        // After a reset the wheel's position is a new baseline and "moved" is forgotten.
        QTest::newRow("reset forgets wheel movement")
            << Script{still(1, 0.0f), still(1, 0.5f), reset(), {3 * w, 0.5f, 0.5f, 1023, 1023, 0.0f, 1.0f}}
            << Healths{SteeringNoInput};
        // A half-filled window is dropped: the next verdict needs a full window.
        QTest::newRow("reset restarts the window")
            << Script{sweep(w - 10, 1.0f, 0), reset(), sweep(w - 1, 1.0f, 0)} << Healths{};
    }

    void classification()
    {
        QFETCH(Script, script);
        QFETCH(Healths, expected);

        SteeringMonitor monitor;
        QSignalSpy spy(&monitor, &SteeringMonitor::healthChanged);
        run(monitor, script);
        QCOMPARE(emitted(spy), expected);
        QCOMPARE(int(monitor.health()), expected.isEmpty() ? int(corvane::SteeringOk) : expected.last());
    }

    void codesAndMessages_data()
    {
        QTest::addColumn<int>("health");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        QTest::newRow("ok") << 0 << "ok" << QString();
        QTest::newRow("calibration") << 1 << "calibration_invalid"
                                     << "Steering calibration is invalid (left and right are almost "
                                        "the same), so the car's steering can't move. Recalibrate "
                                        "the steering.";
        QTest::newRow("channel") << 2 << "not_reaching_channel"
                                 << "The wheel is turning but the car's steering channel (CH1) isn't "
                                    "moving. Check the steering calibration and settings.";
        QTest::newRow("no input") << 3 << "no_input" << "No steering input from the wheel. Turn the wheel; if nothing "
                                     "changes, reconnect the wheel base.";
        QTest::newRow("unknown negative") << -1 << "ok" << QString();
    }

    void codesAndMessages()
    {
        QFETCH(int, health);
        QFETCH(QString, code);
        QFETCH(QString, message);

        const auto value = static_cast<SteeringHealth>(health);
        QCOMPARE(SteeringMonitor::healthCode(value), code);
        QCOMPARE(SteeringMonitor::healthMessage(value), message);
    }
};

OSTRA_TEST_MAIN_CORE(TestSteeringMonitor)
#include "tst_steeringmonitor.moc"
