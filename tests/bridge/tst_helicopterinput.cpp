#include <QCoreApplication>
#include <QTest>

#include "bridge/helicopterinput.h"
#include "support/testenvironment.h"
#include "support/transmitrig.h"

using ostratest::TransmitRig;

class TestHelicopterInput : public QObject
{
    Q_OBJECT

private slots:
    void curve5_data()
    {
        QTest::addColumn<float>("last"); // the curve is 0, 0, 0, 0, last
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("expected");
        QTest::newRow("0.9 between the last two points") << 1.0f << 0.9f << 0.6f;
        QTest::newRow("below 0 takes the first point") << 1.0f << -0.5f << 0.0f;
        QTest::newRow("full stick takes the last point as stored") << 1.3f << 1.0f << 1.3f;
        QTest::newRow("above 1 as well") << 1.3f << 7.0f << 1.3f;
        QTest::newRow("a point above 1 is clamped between points") << 1.3f << 0.95f << 1.0f;
    }

    void curve5()
    {
        QFETCH(float, last);
        QFETCH(float, x);
        QFETCH(float, expected);
        HeliCurve curve;
        curve.points = {0.0f, 0.0f, 0.0f, 0.0f, last};
        QVERIFY(qAbs(corvane::curve5(curve, x) - expected) < 1e-6f);
    }

    void pedalMix_data()
    {
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("right");
        QTest::addColumn<float>("expected");
        QTest::newRow("both up") << -1.0f << -1.0f << 0.0f;
        QTest::newRow("right down") << -1.0f << 1.0f << 1.0f;
        QTest::newRow("left down") << 1.0f << -1.0f << -1.0f;
        QTest::newRow("both down") << 1.0f << 1.0f << 0.0f;
        QTest::newRow("half right") << -1.0f << 0.0f << 0.5f;
    }

    void pedalMix()
    {
        QFETCH(float, left);
        QFETCH(float, right);
        QFETCH(float, expected);
        QCOMPARE(corvane::heliPedalMix(left, right), expected);
    }

    // The rudder reading mixes two pedals only when they are split and the right one is chosen;
    // a missing or closed device and a negative axis read 0.
    void rudderReading()
    {
        TransmitRig rig;
        HelicopterConfig::Pedals pedals;
        pedals.axis = 3;
        QCOMPARE(corvane::heliRudderReading(pedals, nullptr), 0.0f);
        QCOMPARE(corvane::heliRudderReading(pedals, rig.controller->heliPedals()), 0.0f);
        QVERIFY(rig.connectHelicopter());
        rig.rudder->setAxis(3, 1.0f);
        rig.rudder->setAxis(2, -1.0f);
        rig.pollAll();
        QCOMPARE(corvane::heliRudderReading(pedals, rig.controller->heliPedals()), 1.0f);
        pedals.differential = true;
        QCOMPARE(corvane::heliRudderReading(pedals, rig.controller->heliPedals()), 1.0f);
        pedals.axis2 = 2;
        QCOMPARE(corvane::heliRudderReading(pedals, rig.controller->heliPedals()), -1.0f);
        QCOMPARE(corvane::heliAxisReading(rig.controller->heliPedals(), -1), 0.0f);
    }
};

OSTRA_TEST_MAIN_CORE(TestHelicopterInput)
#include "tst_helicopterinput.moc"
