#include <QCoreApplication>
#include <QTest>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

constexpr auto mapping = &TransmitRig::buttonMapping;

// A step of a script: press or release a wheel button (after the debounce), then expect
// channel values.
struct Step
{
    int button = -1;
    bool down = true;
    QList<int> expect; // channel index, value pairs
};

} // namespace

Q_DECLARE_METATYPE(QList<Step>)
Q_DECLARE_METATYPE(QList<ButtonMapping>)

class TestChannelMappings : public QObject
{
    Q_OBJECT

private slots:
    void scripts_data()
    {
        QTest::addColumn<QList<ButtonMapping>>("mappings");
        QTest::addColumn<QList<Step>>("steps");

        QTest::newRow("press while held")
            << QList<ButtonMapping>{mapping(3, 4, 0, 1800, 200)}
            << QList<Step>{{-1, true, {4, 200}}, {3, true, {4, 1800}}, {3, false, {4, 200}}};
        QTest::newRow("two switch positions")
            << QList<ButtonMapping>{mapping(1, 4, 4, 500, 1000), mapping(2, 4, 4, 1500, 1200)}
            << QList<Step>{{-1, true, {4, 1000}}, {1, true, {4, 500}}, {1, false, {4, 500}}, {2, true, {4, 1500}}};
        QTest::newRow("toggle beats press")
            << QList<ButtonMapping>{mapping(2, 5, 0, 300, 0), mapping(1, 5, 3, 1700, 400)}
            << QList<Step>{{-1, true, {5, 400}}, {2, true, {5, 400}}, {1, true, {5, 1700}},
                           {1, false, {5, 1700}}, {1, true, {5, 400}}};
        QTest::newRow("channels outside CH3..CH12 are not the car's")
            << QList<ButtonMapping>{mapping(3, 12, 0, 1500, 800), mapping(3, 0, 0, 1500, 800)}
            << QList<Step>{{3, true, {12, 0, 0, 1023}}};
        QTest::newRow("CH12 mapped: the LED power state stays off it")
            << QList<ButtonMapping>{mapping(3, 11, 0, 1500, 800)}
            << QList<Step>{{-1, true, {11, 800}}, {3, true, {11, 1500}}};
        QTest::newRow("CH12 unmapped carries LED power")
            << QList<ButtonMapping>{mapping(3, 10, 0, 1500, 800)} << QList<Step>{{-1, true, {11, 2047}}};
        // The throttle is held fully down throughout: the limiter holds CH2 while an extra button is.
        ButtonMapping pit = mapping(20, 5, 0, 1000, 0);
        pit.extraButtons = {21};
        pit.activatesPitLimiter = true;
        QTest::newRow("pit limiter button")
            << QList<ButtonMapping>{pit}
            << QList<Step>{{-1, true, {1, 1811}}, {21, true, {1, 1200, 5, 1000}}, {21, false, {1, 1811}}};
    }

    void scripts()
    {
        QFETCH(QList<ButtonMapping>, mappings);
        QFETCH(QList<Step>, steps);

        TransmitRig rig;
        ButtonMappingSet set;
        set.mappings = mappings;
        QVERIFY(rig.controller->setButtonMappings(set));
        QVERIFY(rig.startCar());
        rig.pedals->setAxis(1, 1.0f);
        rig.tick();
        for (const Step &step : steps) {
            if (step.button >= 0)
                rig.setButton(rig.wheel, step.button, step.down);
            for (int i = 0; i + 1 < step.expect.size(); i += 2)
                QCOMPARE(rig.ch(step.expect.at(i)), step.expect.at(i + 1));
        }
    }

    // Held, the value rises at its rate up to its maximum.
    void holdToRaise()
    {
        TransmitRig rig;
        ButtonMappingSet set;
        ButtonMapping up = mapping(2, 6, 1, 0, 100);
        up.rateUnitsPerSec = 1024;
        up.minValue = 60;
        up.maxValue = 2000;
        set.mappings << up;
        QVERIFY(rig.controller->setButtonMappings(set));
        QVERIFY(rig.startCar());
        rig.tick();
        QCOMPARE(rig.ch(6), 100);

        // One second held (143 ticks of 7 ms): 1024 x 0.007 x 143 = 1025.024.
        rig.setButton(rig.wheel, 2, true); // the fourth of these ticks sees the press
        rig.tick(142);
        QCOMPARE(rig.ch(6), 100 + 1025);
        rig.tick(500);
        QCOMPARE(rig.ch(6), 2000);
    }
};

OSTRA_TEST_MAIN_CORE(TestChannelMappings)
#include "tst_channelmappings.moc"
