#include <QJsonArray>
#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/axissettings.h"
#include "support/testenvironment.h"

class TestAxisSettings : public QObject
{
    Q_OBJECT

private slots:
    void axisConfigReading_data();
    void axisConfigReading();
    void axisSettingsReading_data();
    void axisSettingsReading();
    void writesWhatIsHeld();
    void damagedInputSettles();
};

static const char DefaultAxis[] = R"({"name": "", "inverted": false, "deadzone": 0, "minOutput": 0,
    "maxOutput": 1, "curve": 0, "curveExponent": 2, "expo": 0, "inputMin": -1, "inputMax": 1,
    "inputCenter": 0, "useCalibration": false})";

void TestAxisSettings::axisConfigReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty object gives the defaults") << QByteArray("{}") << QByteArray(DefaultAxis);
    QTest::newRow("every key wrongly typed gives the defaults")
        << QByteArray(R"({"name": 5, "inverted": "yes", "deadzone": "0.5", "minOutput": true,
            "maxOutput": [], "curve": 1.5, "curveExponent": {}, "expo": null, "inputMin": "x",
            "inputMax": false, "inputCenter": [0.2], "useCalibration": 1})")
        << QByteArray(DefaultAxis);
    QTest::newRow("values are kept as read")
        << QByteArray(R"({"name": "Pedal", "inverted": true, "deadzone": 0.25, "minOutput": 0.5,
            "maxOutput": 0.75, "curve": 2, "curveExponent": 3.5, "expo": 0.5, "inputMin": -0.5,
            "inputMax": 0.5, "inputCenter": 0.125, "useCalibration": true})")
        << QByteArray(R"({"name": "Pedal", "inverted": true, "deadzone": 0.25, "minOutput": 0.5,
            "maxOutput": 0.75, "curve": 2, "curveExponent": 3.5, "expo": 0.5, "inputMin": -0.5,
            "inputMax": 0.5, "inputCenter": 0.125, "useCalibration": true})");
    QTest::newRow("float is written widened")
        << QByteArray(R"({"deadzone": 0.1})") << QByteArray(R"({"deadzone": 0.10000000149011612})");
    QTest::newRow("out of range values are not clamped")
        << QByteArray(R"({"deadzone": 7, "curve": 9, "minOutput": -3})")
        << QByteArray(R"({"deadzone": 7, "curve": 9, "minOutput": -3})");
    QTest::newRow("integer beyond 32 bits falls back") << QByteArray(R"({"curve": 5000000000})")
                                                        << QByteArray(R"({"curve": 0})");
    QTest::newRow("number beyond float range falls back")
        << QByteArray(R"({"deadzone": 1e300, "inputMax": -1e300})")
        << QByteArray(R"({"deadzone": 0, "inputMax": 1})");
}

void TestAxisSettings::axisConfigReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QJsonObject written = AxisConfig::fromJson(jsoncheck::object(input)).toJson();
    QCOMPARE(written.size(), 12);
    JSON_SUBSET(written, expected);
}

void TestAxisSettings::axisSettingsReading_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("then");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray none("{}");
    QTest::newRow("empty object leaves the defaults")
        << none << none
        << QByteArray(R"({"escMode": 0, "escPresetId": "", "escNeutral": 992, "escFullForward": 1811,
            "escFullReverse": 172, "steeringLeft": 0, "steeringCenter": 1024, "steeringRight": 2047,
            "wheelRotationDeg": 900, "steeringAngleDeg": 0, "smoothDeceleration": false,
            "decelRate": 20, "pitLimiterEnabled": false, "pitLimiterValue": 1200,
            "gearThrottleLimitEnabled": false, "gearThrottleLimitPercent": [100,100,100,100,100,100,100],
            "reverseEnabled": false, "reverseButtonIndex": -1, "reverseMaxPercent": 100,
            "softStartEnabled": true, "softStartDurationSec": 30, "softStartFloorPercent": 10,
            "stuckThrottleDetectionEnabled": true, "throttleSpikeRejectionEnabled": true,
            "Steering": {"name": "Steering", "deadzone": 0}, "Throttle": {"name": "Throttle"},
            "Brake": {"name": "Brake"}, "Clutch": {"name": "Clutch"}})");
    QTest::newRow("absent axis keeps its values, scalars take fallbacks")
        << QByteArray(R"({"Clutch": {"deadzone": 0.5}, "decelRate": 50, "escPresetId": "p"})")
        << QByteArray(R"({"Steering": {"inverted": true}})")
        << QByteArray(R"({"Clutch": {"deadzone": 0.5}, "Steering": {"inverted": true},
            "decelRate": 20, "escPresetId": ""})");
    QTest::newRow("present axis is read whole from defaults")
        << QByteArray(R"({"Brake": {"deadzone": 0.5, "inverted": true}})")
        << QByteArray(R"({"Brake": {"inverted": true}})")
        << QByteArray(R"({"Brake": {"name": "Brake", "deadzone": 0, "inverted": true}})");
    QTest::newRow("name inside an axis object is ignored")
        << none << QByteArray(R"({"Steering": {"name": "Other", "expo": 0.5}})")
        << QByteArray(R"({"Steering": {"name": "Steering", "expo": 0.5}})");
    QTest::newRow("axis given as a number reads as defaults")
        << QByteArray(R"({"Throttle": {"deadzone": 0.5}})") << QByteArray(R"({"Throttle": 3})")
        << QByteArray(R"({"Throttle": {"name": "Throttle", "deadzone": 0}})");
    QTest::newRow("escMode 1 reads as 0") << none << QByteArray(R"({"escMode": 1})")
                                         << QByteArray(R"({"escMode": 0})");
    QTest::newRow("escMode 2 stays") << none << QByteArray(R"({"escMode": 2})")
                                     << QByteArray(R"({"escMode": 2})");
    QTest::newRow("escMode 7 stays") << none << QByteArray(R"({"escMode": 7})")
                                     << QByteArray(R"({"escMode": 7})");
    QTest::newRow("wheel rotation below range") << none << QByteArray(R"({"wheelRotationDeg": 45})")
                                                << QByteArray(R"({"wheelRotationDeg": 90})");
    QTest::newRow("wheel rotation above range") << none << QByteArray(R"({"wheelRotationDeg": 3000})")
                                                << QByteArray(R"({"wheelRotationDeg": 2520})");
    QTest::newRow("wheel rotation as text") << none << QByteArray(R"({"wheelRotationDeg": "540"})")
                                            << QByteArray(R"({"wheelRotationDeg": 900})");
    QTest::newRow("negative steering angle") << none << QByteArray(R"({"steeringAngleDeg": -30})")
                                             << QByteArray(R"({"steeringAngleDeg": 0})");
    QTest::newRow("short gear array keeps the other gears")
        << QByteArray(R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})")
        << QByteArray(R"({"gearThrottleLimitPercent": [50, 60]})")
        << QByteArray(R"({"gearThrottleLimitPercent": [50, 60, 3, 4, 5, 6, 7]})");
    QTest::newRow("long gear array: seven count")
        << none << QByteArray(R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7, 8, 9]})")
        << QByteArray(R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})");
    QTest::newRow("bad gear elements give 100")
        << none << QByteArray(R"({"gearThrottleLimitPercent": ["x", 55.5, 40]})")
        << QByteArray(R"({"gearThrottleLimitPercent": [100, 100, 40, 100, 100, 100, 100]})");
    QTest::newRow("absent gear array keeps all gears")
        << QByteArray(R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})") << none
        << QByteArray(R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})");
    QTest::newRow("gear limits not an array keep all gears")
        << QByteArray(R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})")
        << QByteArray(R"({"gearThrottleLimitPercent": 80})")
        << QByteArray(R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})");
    QTest::newRow("whole decel rate as a double") << none << QByteArray(R"({"decelRate": 35.0})")
                                                  << QByteArray(R"({"decelRate": 35})");
    QTest::newRow("fractional decel rate falls back") << none << QByteArray(R"({"decelRate": 35.5})")
                                                      << QByteArray(R"({"decelRate": 20})");
    QTest::newRow("decel rate as text falls back") << none << QByteArray(R"({"decelRate": "35"})")
                                                   << QByteArray(R"({"decelRate": 20})");
    QTest::newRow("flags wrongly typed take their fallbacks")
        << QByteArray(R"({"softStartEnabled": false, "stuckThrottleDetectionEnabled": false})")
        << QByteArray(R"({"softStartEnabled": 0, "stuckThrottleDetectionEnabled": "false",
            "reverseEnabled": 1, "pitLimiterEnabled": "true"})")
        << QByteArray(R"({"softStartEnabled": true, "stuckThrottleDetectionEnabled": true,
            "reverseEnabled": false, "pitLimiterEnabled": false})");
    QTest::newRow("values are not range checked")
        << none << QByteArray(R"({"escNeutral": 5000, "pitLimiterValue": -4, "reverseMaxPercent": 900})")
        << QByteArray(R"({"escNeutral": 5000, "pitLimiterValue": -4, "reverseMaxPercent": 900})");
}

void TestAxisSettings::axisSettingsReading()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, then);
    QFETCH(QByteArray, expected);
    AxisSettings settings;
    settings.fromJson(jsoncheck::object(first));
    settings.fromJson(jsoncheck::object(then));
    const QJsonObject written = settings.toJson();
    QCOMPARE(written.size(), 4 + 24);
    JSON_SUBSET(written, expected);
}

void TestAxisSettings::writesWhatIsHeld()
{
    AxisSettings settings;
    settings.escMode = 1;
    settings.wheelRotationDeg = 10;
    settings.throttle.name = QStringLiteral("Gas");
    const QJsonObject written = settings.toJson();
    QCOMPARE(written.value(QLatin1String("escMode")).toInt(), 1);
    QCOMPARE(written.value(QLatin1String("wheelRotationDeg")).toInt(), 10);
    QVERIFY(written.contains(QLatin1String("Gas")));
    QVERIFY(!written.contains(QLatin1String("Throttle")));

    AxisSettings reread;
    reread.fromJson(jsoncheck::viaText(AxisSettings().toJson()));
    QCOMPARE(reread.toJson(), AxisSettings().toJson());
}

void TestAxisSettings::damagedInputSettles()
{
    AxisSettings full;
    full.steering.deadzone = 0.3f;
    full.brake.useCalibration = true;
    full.escMode = 2;
    full.gearThrottleLimitPercent = {{10, 20, 30, 40, 50, 60, 70}};
    jsoncheck::checkSettles(AxisSettings().toJson(), [](const QJsonObject &obj) {
        AxisSettings s;
        s.fromJson(obj);
        return s.toJson();
    }, 1);
    jsoncheck::checkSettles(full.toJson(), [](const QJsonObject &obj) {
        AxisSettings s;
        s.fromJson(obj);
        return s.toJson();
    }, 2);
    jsoncheck::checkSettles(full.brake.toJson(), [](const QJsonObject &obj) {
        return AxisConfig::fromJson(obj).toJson();
    }, 3);
}

OSTRA_TEST_MAIN_CORE(TestAxisSettings)
#include "tst_axissettings.moc"
