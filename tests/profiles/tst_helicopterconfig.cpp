#include <QJsonArray>
#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/helicopterconfig.h"
#include "support/testenvironment.h"

class TestHelicopterConfig : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void defaultsRoundTrip();
    void damagedInputSettles();
};

void TestHelicopterConfig::reading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty object gives the defaults")
        << QByteArray("{}")
        << QByteArray(R"({"inputs": {"joystick": {"device": {}, "xAxis": 0, "yAxis": 4},
            "throttle": {"device": {}, "axis": 5},
            "pedals": {"device": {}, "axis": 3, "axis2": -1, "differential": false}},
            "calibration": {"roll": {"name": "Roll"}, "pitch": {"name": "Pitch"},
                "throttle": {"name": "Throttle"}, "rudder": {"name": "Rudder"}},
            "channels": {"roll": 0, "pitch": 1, "throttle": 2, "rudder": 3},
            "fly": {"armAtIdle": true, "softStart": false, "softStartSec": 3,
                "arm": {"enabled": false, "channel": 4, "onUs": 2012, "offUs": 988},
                "dualRates": {"enabled": true, "beginnerPct": 60, "sportPct": 80, "threeDPct": 100,
                    "activeMode": 0},
                "pitchCurve": {"enabled": false, "points": [0, 0.25, 0.5, 0.75, 1]},
                "throttleCurve": {"enabled": false, "points": [0, 0.25, 0.5, 0.75, 1]},
                "motorChannel": 5},
            "attitude": {"invertPitch": false, "invertRoll": false, "invertYaw": false}})");
    QTest::newRow("present joystick group without axes gives 0 and 1")
        << QByteArray(R"({"inputs": {"joystick": {}}})")
        << QByteArray(R"({"inputs": {"joystick": {"xAxis": 0, "yAxis": 1}, "throttle": {"axis": 5}}})");
    QTest::newRow("present throttle group without axis gives 2")
        << QByteArray(R"({"inputs": {"throttle": {"device": {"productName": "T"}}}})")
        << QByteArray(R"({"inputs": {"joystick": {"yAxis": 4}, "throttle": {"axis": 2,
            "device": {"productName": "T"}}}})");
    QTest::newRow("pedals group read")
        << QByteArray(R"({"inputs": {"pedals": {"axis": 6, "axis2": 7, "differential": true}}})")
        << QByteArray(R"({"inputs": {"pedals": {"axis": 6, "axis2": 7, "differential": true}}})");
    QTest::newRow("calibration axis without a name reads with an empty name")
        << QByteArray(R"({"calibration": {"roll": {"deadzone": 0.5}}})")
        << QByteArray(R"({"calibration": {"roll": {"name": "", "deadzone": 0.5}, "pitch": {"name": "Pitch"}}})");
    QTest::newRow("short curve keeps the default points")
        << QByteArray(R"({"fly": {"pitchCurve": {"enabled": true, "points": [0.1, 0.2]}}})")
        << QByteArray(R"({"fly": {"pitchCurve": {"enabled": true,
            "points": [0.10000000149011612, 0.20000000298023224, 0.5, 0.75, 1]}}})");
    QTest::newRow("long curve: five count, bad points keep the line")
        << QByteArray(R"({"fly": {"throttleCurve": {"points": [1, "x", 1, 1, 1, 1, 1]}}})")
        << QByteArray(R"({"fly": {"throttleCurve": {"enabled": false, "points": [1, 0.25, 1, 1, 1]}}})");
    QTest::newRow("curve points not an array")
        << QByteArray(R"({"fly": {"pitchCurve": {"enabled": true, "points": 3}}})")
        << QByteArray(R"({"fly": {"pitchCurve": {"enabled": true, "points": [0, 0.25, 0.5, 0.75, 1]}}})");
    QTest::newRow("fly without arm keeps the default arm switch")
        << QByteArray(R"({"fly": {"motorChannel": 7}})")
        << QByteArray(R"({"fly": {"motorChannel": 7, "armAtIdle": true,
            "arm": {"enabled": false, "channel": 4, "onUs": 2012, "offUs": 988}}})");
    QTest::newRow("empty arm object resets to the defaults")
        << QByteArray(R"({"fly": {"arm": {}}})")
        << QByteArray(R"({"fly": {"arm": {"enabled": false, "channel": 4, "onUs": 2012, "offUs": 988}}})");
    QTest::newRow("dual rates active mode not clamped")
        << QByteArray(R"({"fly": {"dualRates": {"activeMode": 7}}})")
        << QByteArray(R"({"fly": {"dualRates": {"activeMode": 7, "enabled": true, "sportPct": 80}}})");
    QTest::newRow("channels and attitude wrongly typed")
        << QByteArray(R"({"channels": {"roll": "4", "rudder": 9}, "attitude": {"invertYaw": 1, "invertRoll": true}})")
        << QByteArray(R"({"channels": {"roll": 0, "pitch": 1, "rudder": 9},
            "attitude": {"invertYaw": false, "invertRoll": true}})");
    QTest::newRow("groups that are not objects")
        << QByteArray(R"({"inputs": 5, "calibration": [], "channels": "x", "fly": null, "attitude": true})")
        << QByteArray(R"({"inputs": {"joystick": {"yAxis": 4}, "throttle": {"axis": 5}},
            "channels": {"roll": 0}, "fly": {"motorChannel": 5, "softStartSec": 3}})");
}

void TestHelicopterConfig::reading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    JSON_SUBSET(HelicopterConfig::fromJson(jsoncheck::object(input)).toJson(), expected);
}

void TestHelicopterConfig::defaultsRoundTrip()
{
    const QJsonObject written = HelicopterConfig().toJson();
    const HelicopterConfig read = HelicopterConfig::fromJson(jsoncheck::viaText(written));
    QCOMPARE(read.inputs.joystick.yAxis, 4);
    QCOMPARE(read.inputs.throttle.axis, 5);
    QCOMPARE(read.calibration.rudder.name, QStringLiteral("Rudder"));
    QCOMPARE(read.toJson(), written);
}

void TestHelicopterConfig::damagedInputSettles()
{
    HelicopterConfig full;
    full.inputs.joystick.device.productName = QStringLiteral("Stick");
    full.inputs.pedals.device.vendorId = 0x46d;
    full.inputs.pedals.device.hasCustomAxisMapping = true;
    full.fly.arm.enabled = true;
    full.fly.pitchCurve.enabled = true;
    jsoncheck::checkSettles(full.toJson(), [](const QJsonObject &o) { return HelicopterConfig::fromJson(o).toJson(); },
                            41);
}

OSTRA_TEST_MAIN_CORE(TestHelicopterConfig)
#include "tst_helicopterconfig.moc"
