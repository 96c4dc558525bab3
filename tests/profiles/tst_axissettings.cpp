#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/axissettings.h"
#include "support/testenvironment.h"

using jsoncheck::row;

static QJsonObject readTwice(const QJsonObject &first, const QJsonObject &then)
{
    AxisSettings settings;
    settings.fromJson(first);
    settings.fromJson(then);
    return settings.toJson();
}

class TestAxisSettings : public QObject
{
    Q_OBJECT

private slots:
    void axisConfigReading_data()
    {
        jsoncheck::columns();
        const char *defaults = R"({"name": "", "inverted": false, "deadzone": 0, "minOutput": 0, "maxOutput": 1,
            "curve": 0, "curveExponent": 2, "expo": 0, "inputMin": -1, "inputMax": 1, "inputCenter": 0,
            "useCalibration": false})";
        row("empty object gives the defaults", "{}", defaults);
        row("every key wrongly typed gives the defaults", R"({"name": 5, "inverted": "yes", "deadzone": "0.5",
            "minOutput": true, "maxOutput": [], "curve": 1.5, "curveExponent": {}, "expo": null, "inputMin": "x",
            "inputMax": false, "inputCenter": [0.2], "useCalibration": 1})", defaults);
        row("values kept unclamped, floats written widened", R"({"name": "Pedal", "inverted": true, "deadzone": 0.1,
            "minOutput": -3, "maxOutput": 0.75, "curve": 9, "curveExponent": 3.5, "expo": 0.5, "inputMin": -0.5,
            "inputMax": 0.5, "inputCenter": 0.125, "useCalibration": true})",
            R"({"name": "Pedal", "inverted": true, "deadzone": 0.10000000149011612, "minOutput": -3, "maxOutput": 0.75,
            "curve": 9, "curveExponent": 3.5, "expo": 0.5, "inputMin": -0.5, "inputMax": 0.5, "inputCenter": 0.125,
            "useCalibration": true})");
        row("numbers beyond int or float range fall back",
            R"({"curve": 5000000000, "deadzone": 1e300, "inputMax": -1e300})",
            R"({"curve": 0, "deadzone": 0, "inputMax": 1})");
    }

    void axisConfigReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<AxisConfig>);
    }

    // Each row is read over a record that first read `first`.
    void axisSettingsReading_data()
    {
        QTest::addColumn<QByteArray>("first");
        jsoncheck::columns();
        const auto row2 = [](const char *name, const char *first, const char *then, const char *expected) {
            QTest::newRow(name) << QByteArray(first) << QByteArray(then) << QByteArray(expected);
        };
        row2("empty object leaves the defaults", "{}", "{}",
             R"({"escMode": 0, "escPresetId": "", "escNeutral": 992, "escFullForward": 1811, "escFullReverse": 172,
             "steeringLeft": 0, "steeringCenter": 1024, "steeringRight": 2047, "wheelRotationDeg": 900,
             "steeringAngleDeg": 0, "smoothDeceleration": false, "decelRate": 20, "pitLimiterEnabled": false,
             "pitLimiterValue": 1200, "gearThrottleLimitEnabled": false,
             "gearThrottleLimitPercent": [100, 100, 100, 100, 100, 100, 100], "reverseEnabled": false,
             "reverseButtonIndex": -1, "reverseMaxPercent": 100, "softStartEnabled": true, "softStartDurationSec": 30,
             "softStartFloorPercent": 10, "stuckThrottleDetectionEnabled": true, "throttleSpikeRejectionEnabled": true,
             "Steering": {"name": "Steering", "deadzone": 0}, "Throttle": {"name": "Throttle"},
             "Brake": {"name": "Brake"},
             "Clutch": {"name": "Clutch"}})");
        row2("absent axis keeps its values, scalars take fallbacks",
             R"({"Clutch": {"deadzone": 0.5}, "decelRate": 50, "escPresetId": "p", "softStartEnabled": false})",
             R"({"Steering": {"inverted": true}})",
             R"({"Clutch": {"deadzone": 0.5}, "Steering": {"inverted": true}, "decelRate": 20, "escPresetId": "",
             "softStartEnabled": true})");
        row2(
            "present axis is read whole from defaults",
            R"({"Brake": {"deadzone": 0.5}, "Throttle": {"deadzone": 0.5}})",
            R"({"Brake": {"inverted": true, "name": "Other"}, "Throttle": 3})",
            R"({"Brake": {"name": "Brake", "deadzone": 0, "inverted": true}, "Throttle": {"name": "Throttle",
            "deadzone": 0}})");
        row2(
            "low values clamped, wrong types fall back", "{}",
            R"({"escMode": 1, "wheelRotationDeg": 45, "steeringAngleDeg": -30, "decelRate": "35", "softStartEnabled": 0,
             "stuckThrottleDetectionEnabled": "false", "reverseEnabled": 1, "pitLimiterEnabled": "true"})",
            R"({"escMode": 0, "wheelRotationDeg": 90, "steeringAngleDeg": 0, "decelRate": 20, "softStartEnabled": true,
             "stuckThrottleDetectionEnabled": true, "reverseEnabled": false, "pitLimiterEnabled": false})");
        row2("high values clamped, whole double read", "{}", R"({"wheelRotationDeg": 3000, "decelRate": 35.0})",
             R"({"wheelRotationDeg": 2520, "decelRate": 35})");
        row2("fraction and text fall back", "{}", R"({"decelRate": 35.5, "wheelRotationDeg": "540"})",
             R"({"decelRate": 20, "wheelRotationDeg": 900})");
        row2("other values are not range checked", "{}",
             R"({"escMode": 7, "escNeutral": 5000, "pitLimiterValue": -4, "reverseMaxPercent": 900})",
             R"({"escMode": 7, "escNeutral": 5000, "pitLimiterValue": -4, "reverseMaxPercent": 900})");
        row2("short gear array keeps the other gears", R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})",
             R"({"gearThrottleLimitPercent": [50, 60]})", R"({"gearThrottleLimitPercent": [50, 60, 3, 4, 5, 6, 7]})");
        row2("long gear array: seven count, bad elements give 100", "{}",
             R"({"gearThrottleLimitPercent": ["x", 55.5, 3, 4, 5, 6, 7, 8, 9]})",
             R"({"gearThrottleLimitPercent": [100, 100, 3, 4, 5, 6, 7]})");
        row2("gear limits not an array keep all gears", R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})",
             R"({"gearThrottleLimitPercent": 80})", R"({"gearThrottleLimitPercent": [1, 2, 3, 4, 5, 6, 7]})");
    }

    void axisSettingsReading()
    {
        QFETCH(QByteArray, first);
        jsoncheck::checkRow([&](const QJsonObject &obj) { return readTwice(jsoncheck::object(first), obj); });
    }
};

OSTRA_TEST_MAIN_CORE(TestAxisSettings)
#include "tst_axissettings.moc"
