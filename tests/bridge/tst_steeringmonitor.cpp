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

Segment pedalsOnly(int ticks)
{
    return {ticks, 0.0f, 0.0f, 1023, 1023, 0.0f, 1.0f};
}

Segment sweep(int ticks, float wheelSpan, int ch1Span)
{
    return {ticks, -wheelSpan / 2, wheelSpan / 2, 1000, 1000 + ch1Span, 0.0f, 0.0f};
}

// Still, with the given steering calibration.
Segment calibrated(int ticks, int left, int center, int right)
{
    return {ticks, 0, 0, 1023, 1023, 0, 0, left, center, right};
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
            << Script{calibrated(1, 1000, 1024, 1099)} << Healths{SteeringCalibrationInvalid};
        QTest::newRow("good calibration clears invalid on the next observation")
            << Script{calibrated(5, 1000, 1024, 1050), still(1)}
            << Healths{SteeringCalibrationInvalid, SteeringOk};

        QTest::newRow("wheel sweep with CH1 span 15 does not reach the channel")
            << Script{sweep(w, 1.0f, 15)} << Healths{SteeringNotReachingChannel};
        QTest::newRow("wheel sweep with CH1 span 16 is fine") << Script{sweep(w, 1.0f, 16)} << Healths{};

        QTest::newRow("no input after the third pedal window") << Script{pedalsOnly(3 * w)} << Healths{SteeringNoInput};
        QTest::newRow("two pedal windows are not enough") << Script{pedalsOnly(3 * w - 1)} << Healths{};
        QTest::newRow("first wheel movement clears no input")
            << Script{pedalsOnly(3 * w), still(1, 0.0f), still(1, 0.02f)} << Healths{SteeringNoInput, SteeringOk};
        QTest::newRow("reset clears not reaching channel") << Script{sweep(w, 1.0f, 0), reset()}
            << Healths{SteeringNotReachingChannel, SteeringOk};
    }

    void classification()
    {
        QFETCH(Script, script);
        QFETCH(Healths, expected);
        SteeringMonitor monitor;
        QSignalSpy spy(&monitor, &SteeringMonitor::healthChanged);
        run(monitor, script);
        Healths emitted;
        for (const QList<QVariant> &args : spy)
            emitted << args.at(0).toInt();
        QCOMPARE(emitted, expected);
    }

    void codesAndMessages()
    {
        using namespace corvane;
        QCOMPARE(SteeringMonitor::healthCode(SteeringNotReachingChannel), QStringLiteral("not_reaching_channel"));
        QCOMPARE(SteeringMonitor::healthMessage(SteeringNoInput),
                 QStringLiteral("No steering input from the wheel. Turn the wheel; if nothing changes, reconnect the "
                                "wheel base."));
        QCOMPARE(SteeringMonitor::healthCode(static_cast<SteeringHealth>(-1)), QStringLiteral("ok"));
    }
};

OSTRA_TEST_MAIN_CORE(TestSteeringMonitor)
#include "tst_steeringmonitor.moc"
