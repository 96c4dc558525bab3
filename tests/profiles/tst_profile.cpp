#include <QObject>
#include <QTest>

#include <limits>

#include "jsoncheck.h"
#include "profiles/profile.h"
#include "support/testenvironment.h"

namespace {

template <typename Record>
QJsonObject pass(const QJsonObject &obj)
{
    return Record::fromJson(obj).toJson();
}

const QHash<QString, QJsonObject (*)(const QJsonObject &)> passes{{"Profile", pass<Profile>},
    {"AxisConfig", pass<AxisConfig>}, {"ButtonMapping", pass<ButtonMapping>}, {"AxisMapping", pass<AxisMapping>},
    {"AxisSettings", [](const QJsonObject &obj) { AxisSettings s; s.fromJson(obj); return s.toJson(); }},
    {"DeviceConnection", pass<DeviceConnection>}, {"DeviceConnections", pass<DeviceConnections>},
    {"HelicopterConfig", pass<HelicopterConfig>}, {"LedSettings", pass<LedSettings>},
    {"ReceiverSettings", pass<ReceiverSettings>}, {"ReceiverCaps", pass<ReceiverCaps>},
    {"WheelFfbSettings", pass<WheelFfbSettings>}};

void row(const char *record, const char *name, const char *input, const char *expected)
{
    QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(record, name)))
        << QString(record) << QByteArray(input) << QByteArray(expected);
}

} // namespace

class TestProfile : public QObject
{
    Q_OBJECT

private slots:
    // Each record read from a JSON object and written again: readers never fail, keys fall back one by one.
    void reading_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        row("Profile", "id and name only give a default car profile", R"({"id": "a", "name": "Car"})",
            R"({"version": 2, "id": "a", "name": "Car", "vehicleType": "rc_car", "createdAt": "", "modifiedAt": "",
            "buttonMappings": [], "autoStartEnabled": false, "telemetryDashboard": [], "telemetrySensors": [],
            "telemetryDiscover": true, "deviceConnections": {}, "axisSettings": {"escNeutral": 992},
            "ledSettings": {"ledCount": 8}, "receiverSettings": {"motionRateHz": 20},
            "receiverCaps": {"imu": false, "gps": false}, "wheelFfb": {"centering": 0.5}, "helicopterConfig": null})");
        row("Profile", "wrong types fall back", R"({"id": 5, "name": true, "vehicleType": 3, "createdAt": 7,
            "modifiedAt": "yesterday", "axisSettings": 4, "buttonMappings": {}, "deviceConnections": [],
            "ledSettings": "x", "autoStartEnabled": 1, "telemetryDashboard": "GSpd", "telemetrySensors": {},
            "telemetryDiscover": "no", "receiverSettings": 1, "receiverCaps": 2, "wheelFfb": 3})",
            R"({"id": "", "name": "", "vehicleType": "rc_car", "createdAt": "", "modifiedAt": "",
            "autoStartEnabled": false, "telemetryDashboard": [], "telemetrySensors": [], "telemetryDiscover": true,
            "buttonMappings": [], "wheelFfb": {"centering": 0.5}})");
        row("Profile", "helicopter config written for helicopters",
            R"({"vehicleType": "rc_helicopter", "helicopterConfig": {"fly": {"motorChannel": 9}}})",
            R"({"helicopterConfig": {"fly": {"motorChannel": 9}}})");
        row("Profile", "old sensor ids renamed", R"({"telemetryDashboard": ["LonG", "VrtG", 5, "lonG"]})",
            R"({"telemetryDashboard": ["GLon", "GVrt", "", "lonG"]})");
        row("Profile", "sensors without id dropped, empty name not written", R"({"telemetrySensors": [{"label": "x"},
            {"id": "LonG", "label": "Lon", "name": ""}, {"id": "GSpd", "name": "Speed"}, 4, {"id": ""}]})",
            R"({"telemetrySensors": [{"id": "LonG", "label": "Lon", "name": null},
            {"id": "GSpd", "label": "", "name": "Speed"}]})");
        row("Profile", "times kept to the second, other zones written as local time",
            R"({"createdAt": "2026-03-04T05:06:07.250", "modifiedAt": "2026-03-04T05:06:08+02:00"})",
            R"({"createdAt": "2026-03-04T05:06:07", "modifiedAt": "2026-03-04T03:06:08"})");

        row("AxisConfig", "wrong types give the defaults", R"({"name": 5, "inverted": "yes", "deadzone": "0.5",
            "minOutput": true, "maxOutput": [], "curve": 1.5, "curveExponent": {}, "expo": null, "inputMin": "x",
            "inputMax": false, "inputCenter": [0.2], "useCalibration": 1})",
            R"({"name": "", "inverted": false, "deadzone": 0, "minOutput": 0, "maxOutput": 1, "curve": 0,
            "curveExponent": 2, "expo": 0, "inputMin": -1, "inputMax": 1, "inputCenter": 0, "useCalibration": false})");
        row("AxisConfig", "values kept unclamped, floats written widened", R"({"deadzone": 0.1, "minOutput": -3,
            "curve": 9, "inputCenter": 0.125, "useCalibration": true})", R"({"deadzone": 0.10000000149011612,
            "minOutput": -3, "curve": 9, "inputCenter": 0.125, "useCalibration": true})");
        row("AxisConfig", "numbers beyond int or float range fall back",
            R"({"curve": 5000000000, "deadzone": 1e300, "inputMax": -1e300})",
            R"({"curve": 0, "deadzone": 0, "inputMax": 1})");

        row("AxisSettings", "empty object gives the defaults", "{}", R"({"escMode": 0, "escPresetId": "",
            "escNeutral": 992, "escFullForward": 1811, "escFullReverse": 172, "steeringLeft": 0, "steeringCenter": 1024,
            "steeringRight": 2047, "wheelRotationDeg": 900, "steeringAngleDeg": 0, "smoothDeceleration": false,
            "decelRate": 20, "pitLimiterEnabled": false, "pitLimiterValue": 1200, "gearThrottleLimitEnabled": false,
            "gearThrottleLimitPercent": [100, 100, 100, 100, 100, 100, 100], "reverseEnabled": false,
            "reverseButtonIndex": -1, "reverseMaxPercent": 100, "softStartEnabled": true, "softStartDurationSec": 30,
            "softStartFloorPercent": 10, "stuckThrottleDetectionEnabled": true, "throttleSpikeRejectionEnabled": true,
            "Steering": {"name": "Steering"}, "Throttle": {"name": "Throttle"}, "Brake": {"name": "Brake"},
            "Clutch": {"name": "Clutch"}})");
        row("AxisSettings", "low values clamped, wrong types fall back", R"({"escMode": 1, "wheelRotationDeg": 45,
            "steeringAngleDeg": -30, "decelRate": 35.5, "softStartEnabled": 0, "pitLimiterEnabled": "true"})",
            R"({"escMode": 0, "wheelRotationDeg": 90, "steeringAngleDeg": 0, "decelRate": 20, "softStartEnabled": true,
            "pitLimiterEnabled": false})");
        row("AxisSettings", "high values clamped", R"({"wheelRotationDeg": 3000, "decelRate": 35.0})",
            R"({"wheelRotationDeg": 2520, "decelRate": 35})");
        row("AxisSettings", "gear limits: seven count, bad elements keep 100",
            R"({"gearThrottleLimitPercent": ["x", 55.5, 3, 4, 5, 6, 7, 8, 9]})",
            R"({"gearThrottleLimitPercent": [100, 100, 3, 4, 5, 6, 7]})");

        row("ButtonMapping", "wrong types give the defaults", R"({"name": [], "buttonIndex": "4", "channel": 2.5,
            "mode": true, "outputValue": null, "rateUnitsPerSec": {}, "minValue": "0", "maxValue": false,
            "startValue": 1e12, "activatesPitLimiter": "yes", "extraButtons": 5})",
            R"({"name": "", "buttonIndex": -1, "channel": 3, "mode": 0, "outputValue": 2047, "rateUnitsPerSec": 1024,
            "minValue": 0, "maxValue": 2047, "startValue": 0, "activatesPitLimiter": false, "extraButtons": null})");
        row("ButtonMapping", "buttons and channel stored without range checks, bad extra buttons read as 0",
            R"({"buttonIndex": 300, "channel": 40, "extraButtons": [4, "x", 2.5]})",
            R"({"buttonIndex": 300, "channel": 40, "extraButtons": [4, 0, 0]})");

        row("AxisMapping", "defaults", "{}", R"({"map": [0, 1, 2, 3], "inverted": [false, false, false, false],
            "presetName": "", "combinedPedals": null, "combinedPedalsCenter": null})");
        row("AxisMapping", "short map keeps the remaining defaults, bad elements theirs",
            R"({"map": ["x", 6], "inverted": [true, "true"]})",
            R"({"map": [0, 6, 2, 3], "inverted": [true, false, false, false]})");
        row("AxisMapping", "long map: four count", R"({"map": [7, 6, 5, 4, 3, 2]})", R"({"map": [7, 6, 5, 4]})");
        row("AxisMapping", "pedals written when set", R"({"combinedPedals": true, "combinedPedalsCenter": 0.1})",
            R"({"combinedPedals": true, "combinedPedalsCenter": 0.10000000149011612})");
        row("AxisMapping", "pedals wrongly typed", R"({"combinedPedals": "yes", "combinedPedalsCenter": "0.5"})",
            R"({"combinedPedals": null, "combinedPedalsCenter": null})");

        row("DeviceConnection", "empty slot writes nothing", "{}", R"({"productName": null, "instanceGuid": null,
            "devicePath": null, "uniqId": null, "vendorId": null, "productId": null, "axisMapping": null,
            "hasCustomAxisMapping": null, "shifterMapping": null, "hasCustomShifterMapping": null})");
        row("DeviceConnection", "identity kept, ids keep their low 16 bits", R"({"productName": "Wheel",
            "instanceGuid": "{A-B}", "uniqId": "u", "vendorId": 70000, "productId": -1})", R"({"productName": "Wheel",
            "instanceGuid": "{A-B}", "uniqId": "u", "vendorId": 4464, "productId": 65535, "devicePath": null})");
        row("DeviceConnection", "mappings without their flags are dropped", R"({"productName": "P",
            "axisMapping": {"map": [3, 3, 3, 3]}, "shifterMapping": {"buttonIndex": [3]}})",
            R"({"axisMapping": null, "hasCustomAxisMapping": null, "shifterMapping": null})");
        row("DeviceConnection", "shifter table: nine count, bad elements keep theirs", R"({"productName": "S",
            "hasCustomShifterMapping": true, "shifterMapping": {"buttonIndex": [9, "x", 8, 8, 8, 8, 8, 8, 8, 8, 8]}})",
            R"({"shifterMapping": {"buttonIndex": [9, 7, 8, 8, 8, 8, 8, 8, 8]}})");
        row("DeviceConnections", "bridge rate wrongly typed, slots written only when not empty",
            R"({"bridge": {"portName": "COM3", "baudRate": "fast"}, "wheelBase": {"productName": "W"},
            "pedals": {"devicePath": "p"}, "shifter": 5})", R"({"bridge": {"portName": "COM3", "baudRate": 115200},
            "wheelBase": {"productName": "W"}, "pedals": null, "shifter": null})");
        row("DeviceConnections", "a slot holding only a custom mapping is written", R"({"shifter": {
            "hasCustomShifterMapping": true, "shifterMapping": {"buttonIndex": [4]}}, "pedals": {
            "hasCustomAxisMapping": true, "axisMapping": {"map": [1, 0]}}, "wheelBase": {"axisMapping": {}}})",
            R"({"shifter": {"hasCustomShifterMapping": true, "shifterMapping": {"buttonIndex": [4, 7, 0, 1, 2, 3, 4, 5, 6]}},
            "pedals": {"hasCustomAxisMapping": true, "axisMapping": {"map": [1, 0, 2, 3]}}, "wheelBase": null})");

        row("HelicopterConfig", "empty object gives the defaults", "{}", R"({"inputs": {"joystick": {"device": {},
            "xAxis": 0, "yAxis": 4}, "throttle": {"device": {}, "axis": 5}, "pedals": {"device": {}, "axis": 3,
            "axis2": -1, "differential": false}}, "calibration": {"roll": {"name": "Roll"}, "pitch": {"name": "Pitch"},
            "throttle": {"name": "Throttle"}, "rudder": {"name": "Rudder"}}, "channels": {"roll": 0, "pitch": 1,
            "throttle": 2, "rudder": 3}, "fly": {"armAtIdle": true, "softStart": false, "softStartSec": 3,
            "arm": {"enabled": false, "channel": 4, "onUs": 2012, "offUs": 988}, "dualRates": {"enabled": true,
            "beginnerPct": 60, "sportPct": 80, "threeDPct": 100, "activeMode": 0}, "pitchCurve": {"enabled": false,
            "points": [0, 0.25, 0.5, 0.75, 1]}, "throttleCurve": {"enabled": false, "points": [0, 0.25, 0.5, 0.75, 1]},
            "motorChannel": 5}, "attitude": {"invertPitch": false, "invertRoll": false, "invertYaw": false}})");
        row("HelicopterConfig", "present groups without axes give 0, 1 and 2",
            R"({"inputs": {"joystick": {}, "throttle": {}}})",
            R"({"inputs": {"joystick": {"xAxis": 0, "yAxis": 1}, "throttle": {"axis": 2}}})");
        row("HelicopterConfig", "curves: five points count, short or bad keep the line",
            R"({"fly": {"pitchCurve": {"points": [0.5, 0.5]}, "throttleCurve": {"points": [1, "x", 1, 1, 1, 1, 1]}}})",
            R"({"fly": {"pitchCurve": {"points": [0.5, 0.5, 0.5, 0.75, 1]},
            "throttleCurve": {"points": [1, 0.25, 1, 1, 1]}}})");
        row("HelicopterConfig", "groups that are not objects or wrongly typed values",
            R"({"inputs": 5, "calibration": [], "channels": {"roll": "4", "rudder": 9}, "fly": null,
            "attitude": {"invertYaw": 1, "invertRoll": true}})",
            R"({"inputs": {"joystick": {"yAxis": 4}, "throttle": {"axis": 5}}, "channels": {"roll": 0, "rudder": 9},
            "fly": {"motorChannel": 5}, "attitude": {"invertYaw": false, "invertRoll": true}})");

        row("LedSettings", "wrong types give the defaults", R"({"ledCount": "8", "brightness": 9.5,
            "activePercentage": [], "powerOn": 0, "powerButtonIndex": null, "mode": 1, "globalColor": 7,
            "selectedLedIndex": "2", "ledColors": 5, "selectedZoneIndex": {}, "rangeZones": "x", "configState": 6})",
            R"({"ledCount": 8, "brightness": 99, "activePercentage": 100, "powerOn": true, "powerButtonIndex": -1,
            "mode": "global", "globalColor": {"r": 0, "g": 255, "b": 0}, "selectedLedIndex": 0, "ledColors": [],
            "selectedZoneIndex": 0, "rangeZones": [], "configState": null, "configPending": null})");
        row("LedSettings", "colour keeps low 8 bits, mode in another case is global",
            R"({"mode": "RANGE", "globalColor": {"r": 300, "g": -1, "b": true}})",
            R"({"mode": "global", "globalColor": {"r": 44, "g": 255, "b": 0}})");
        row("LedSettings", "colour entries in order, missing colour green, non-object index 0",
            R"({"mode": "per_led", "ledColors": [{"index": 5, "color": {"r": 1, "g": 2, "b": 3}}, 17]})",
            R"({"mode": "per_led", "ledColors": [{"index": 5, "color": {"r": 1, "g": 2, "b": 3}},
            {"index": 0, "color": {"r": 0, "g": 255, "b": 0}}]})");

        row("ReceiverSettings", "wrong types give the defaults", R"({"initialized": 1, "gpsEnabled": "no",
            "gpsRateHz": "10", "gpsTelem": null, "imuTelem": [], "motionTelem": 0, "motionRateHz": 10.5,
            "osdEnabled": "1", "motionSensors": {}, "hudTopKmh": "1", "hudAccelKmhS": false, "hudBrakeKmhS": 1e20})",
            R"({"initialized": false, "gpsEnabled": true, "gpsRateHz": 0, "gpsTelem": true, "imuTelem": true,
            "motionTelem": true, "motionRateHz": 20, "osdEnabled": false, "motionSensors": false, "hudTopKmh": 60,
            "hudAccelKmhS": 30, "hudBrakeKmhS": 60})");
        row("ReceiverSettings", "rates only among their choices", R"({"gpsRateHz": 3, "motionRateHz": 25})",
            R"({"gpsRateHz": 0, "motionRateHz": 25})");
        row("ReceiverSettings", "hud values rounded to their step, kept below the top",
            R"({"hudTopKmh": 62, "hudAccelKmhS": 8, "hudBrakeKmhS": 205})",
            R"({"hudTopKmh": 60, "hudAccelKmhS": 10, "hudBrakeKmhS": 200})");
        row("ReceiverSettings", "hud values kept above the bottom",
            R"({"hudTopKmh": 7, "hudAccelKmhS": 0, "hudBrakeKmhS": -2147483648})",
            R"({"hudTopKmh": 10, "hudAccelKmhS": 5, "hudBrakeKmhS": 10})");
        const char *noCaps = R"({"imu": false, "gps": false, "firmware": null, "osdOnBoard": null,
            "hudTopOnBoard": null, "hudAccelOnBoard": null, "hudBrakeOnBoard": null})";
        row("ReceiverCaps", "defaults write two keys", "{}", noCaps);
        row("ReceiverCaps", "reported values written", R"({"firmware": "4.3.1", "osdOnBoard": 0})",
            R"({"firmware": "4.3.1", "osdOnBoard": 0})");
        row("ReceiverCaps", "values not reported or wrongly typed are left out", R"({"imu": "true", "gps": 1,
            "firmware": "", "osdOnBoard": -1, "hudTopOnBoard": -5, "hudAccelOnBoard": "3", "hudBrakeOnBoard": 2.5})",
            noCaps);
        row("WheelFfbSettings", "wrong types give the defaults, widened", R"({"strength": 1e300, "centering": null,
            "nativeCentering": true, "autoEngage": 1})", R"({"strength": 0.3499999940395355, "centering": 0.5,
            "nativeCentering": 1, "autoEngage": false})");
    }

    void reading()
    {
        QFETCH(QString, record);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const QString where = jsoncheck::mismatch(passes.value(record)(jsoncheck::object(input)),
                                                  jsoncheck::object(expected));
        QVERIFY2(where.isEmpty(), qPrintable(where));
    }

    // Every number of a profile that becomes a channel value or an end point reads within 0..2047,
    // however the file was edited, and the profile is written back with the same keys.
    void channelValuesLimited_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<int>("read");
        const QList<QPair<qint64, int>> values{{std::numeric_limits<qint32>::max(), 2047},
            {std::numeric_limits<qint32>::min(), 0}, {-1, 0}, {2048, 2047}, {0, 0}, {2047, 2047}, {1500, 1500}};
        const QList<QPair<const char *, QStringList>> fields{
            {"axisSettings", {"escNeutral", "escFullForward", "escFullReverse", "steeringLeft", "steeringCenter",
                                 "steeringRight", "pitLimiterValue"}},
            {"buttonMappings", {"outputValue", "minValue", "maxValue", "startValue"}}};
        for (const auto &[section, keys] : fields) {
            for (const QString &key : keys) {
                for (const auto &[stored, read] : values) {
                    QTest::addRow("%s %s %lld", section, qPrintable(key), stored)
                        << QString(section) << key << stored << read;
                }
            }
        }
    }

    void channelValuesLimited()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(qint64, stored);
        QFETCH(int, read);
        const QJsonObject values{{key, stored}, {QStringLiteral("buttonIndex"), 0}};
        QJsonObject document{{QStringLiteral("id"), QStringLiteral("p")}, {QStringLiteral("name"), QStringLiteral("P")}};
        document.insert(section, section == QLatin1String("axisSettings") ? QJsonValue(values) : QJsonArray{values});

        const QJsonObject written = QJsonDocument::fromJson(QJsonDocument(Profile::fromJson(document).toJson()).toJson())
                                        .object();
        const QJsonValue record = section == QLatin1String("axisSettings") ? written.value(section)
                                                                           : written.value(section).toArray().at(0);
        QVERIFY(record.toObject().contains(key));
        QCOMPARE(record.toObject().value(key).toInteger(), qint64(read));
        // Read again, the written document is unchanged.
        QCOMPARE(Profile::fromJson(written).toJson(), written);
    }

    // A receiver is advanced with an IMU, a GPS or firmware 4 or later.
    void capsAdvanced()
    {
        ReceiverCaps caps;
        for (const auto &[firmware, advanced] : QList<QPair<QString, bool>>{
                 {"", false}, {"3.9.9", false}, {"4.0.0", true}, {"12", true}, {"v4.3", false}}) {
            caps.firmware = firmware;
            QVERIFY2(caps.isAdvanced() == advanced, qPrintable(firmware));
        }
        caps.gps = true;
        QVERIFY(caps.isAdvanced());
    }

    // Damaged input anywhere in a profile and its records settles after one read and write.
    void damagedInputSettles()
    {
        Profile full = Profile::createNew(QStringLiteral("Full"));
        full.vehicleType = VehicleType::Helicopter;
        full.telemetryDashboard = QStringList{QStringLiteral("GSpd")};
        full.telemetrySensors = {TelemetrySensorEntry{"GSpd", "Speed", "S"}};
        ButtonMapping mapping;
        mapping.extraButtons = {1, 2};
        full.buttonMappings.mappings = {mapping};
        DeviceConnections &devices = full.deviceConnections;
        devices.portName = QStringLiteral("COM3");
        devices.wheelBase.productName = QStringLiteral("W");
        devices.wheelBase.hasCustomAxisMapping = true;
        devices.wheelBase.axisMapping.combinedPedals = true;
        devices.shifter.vendorId = 7;
        devices.shifter.hasCustomShifterMapping = true;
        full.ledSettings.ledColors = {LedColorEntry{3, RgbColor{1, 2, 3}}};
        full.ledSettings.rangeZones = {LedRangeZone{10, 40, RgbColor{9, 9, 9}}};
        full.receiverCaps.hudTopOnBoard = 40;

        // Through text and back, as a file carries it.
        const auto rewrite = [](const QJsonObject &obj) {
            return QJsonDocument::fromJson(QJsonDocument(Profile::fromJson(obj).toJson()).toJson()).object();
        };
        QRandomGenerator rng(51);
        for (int i = 0; i < 2000; ++i) {
            const QJsonObject damaged = jsoncheck::mutate(full.toJson(), rng).toObject();
            const QJsonObject once = rewrite(damaged);
            const QJsonObject twice = rewrite(once);
            QVERIFY2(twice == once, qPrintable(jsoncheck::mismatch(twice, once) + " for " + jsoncheck::text(damaged)));
        }
    }
};

OSTRA_TEST_MAIN_CORE(TestProfile)
#include "tst_profile.moc"
