#include <QObject>
#include <QRegularExpression>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/profile.h"
#include "support/testenvironment.h"

using jsoncheck::row;

class TestProfile : public QObject
{
    Q_OBJECT

private slots:
    void reading_data()
    {
        jsoncheck::columns();
        row("id and name only give a default car profile", R"({"id": "a", "name": "Car"})",
            R"({"version": 2, "id": "a", "name": "Car", "vehicleType": "rc_car", "createdAt": "", "modifiedAt": "",
            "buttonMappings": [], "autoStartEnabled": false, "telemetryDashboard": [], "telemetrySensors": [],
            "telemetryDiscover": true, "deviceConnections": {}, "axisSettings": {"escNeutral": 992,
            "Steering": {"name": "Steering"}}, "ledSettings": {"ledCount": 8, "mode": "global"},
            "receiverSettings": {"motionRateHz": 20}, "receiverCaps": {"imu": false, "gps": false},
            "wheelFfb": {"centering": 0.5}, "helicopterConfig": null})");
        row("wrong types fall back", R"({"id": 5, "name": true, "vehicleType": 3, "createdAt": 7,
            "modifiedAt": "yesterday", "axisSettings": 4, "buttonMappings": {}, "deviceConnections": [],
            "ledSettings": "x",
            "autoStartEnabled": 1, "telemetryDashboard": "GSpd", "telemetrySensors": {}, "telemetryDiscover": "no",
            "receiverSettings": 1, "receiverCaps": 2, "wheelFfb": 3})",
            R"({"id": "", "name": "", "vehicleType": "rc_car", "createdAt": "", "modifiedAt": "",
            "autoStartEnabled": false, "telemetryDashboard": [], "telemetrySensors": [], "telemetryDiscover": true,
            "buttonMappings": [], "wheelFfb": {"centering": 0.5}})");
        row("unknown vehicle type kept", R"({"vehicleType": "boat"})", R"({"vehicleType": "boat"})");
        row("helicopter config written for helicopters", R"({"vehicleType": "rc_helicopter",
            "helicopterConfig": {"fly": {"motorChannel": 9}}})",
            R"({"helicopterConfig": {"fly": {"motorChannel": 9}}})");
        row("vehicle type compared exactly", R"({"vehicleType": "RC_Helicopter"})", R"({"helicopterConfig": null})");
        row("old sensor ids renamed on the dashboard",
            R"({"telemetryDashboard": ["LonG", "GSpd", "VrtG", 5, "LatG", "lonG", "GSpd"]})",
            R"({"telemetryDashboard": ["GLon", "GSpd", "GVrt", "", "GLat", "lonG", "GSpd"]})");
        row("sensors without id dropped, empty name not written", R"({"telemetrySensors": [{"label": "x"},
            {"id": "LonG", "label": "Lon", "name": ""}, {"id": "GSpd", "name": "Speed"}, 4, {"id": ""}]})",
            R"({"telemetrySensors": [{"id": "LonG", "label": "Lon", "name": null},
            {"id": "GSpd", "label": "", "name": "Speed"}]})");
        row("sub-records read into defaults", R"({"axisSettings": {"Brake": {"inverted": true}, "escMode": 1},
            "buttonMappings": [{"channel": 6}, 3], "deviceConnections": {"bridge": {"portName": "COM7"}},
            "ledSettings": {"mode": "range"}, "receiverSettings": {"gpsRateHz": 3}, "receiverCaps": {"firmware": "4.2"},
            "wheelFfb": {"strength": 2.5}, "autoStartEnabled": true, "telemetryDiscover": false})",
            R"({"axisSettings": {"Brake": {"inverted": true}, "escMode": 0}, "buttonMappings": [{"channel": 6},
            {"channel": 3}], "deviceConnections": {"bridge": {"portName": "COM7", "baudRate": 115200}},
            "ledSettings": {"mode": "range"}, "receiverSettings": {"gpsRateHz": 0}, "receiverCaps": {"firmware": "4.2"},
            "wheelFfb": {"strength": 2.5}, "autoStartEnabled": true, "telemetryDiscover": false})");
        row("times kept to the second",
            R"({"createdAt": "2026-03-04T05:06:07", "modifiedAt": "2026-03-04T05:06:08.250"})",
            R"({"createdAt": "2026-03-04T05:06:07", "modifiedAt": "2026-03-04T05:06:08"})");
        row("times in other zones written as local time",
            R"({"createdAt": "2026-03-04T05:06:07Z", "modifiedAt": "2026-03-04T05:06:08+02:00"})",
            R"({"createdAt": "2026-03-04T05:06:07", "modifiedAt": "2026-03-04T03:06:08"})");
    }

    void reading()
    {
        jsoncheck::checkRow(jsoncheck::pass<Profile>);
    }

    void createNew()
    {
        const Profile a = Profile::createNew(QStringLiteral("  Buggy "));
        const Profile b = Profile::createNew(QStringLiteral("Buggy"));
        QCOMPARE(a.name, QStringLiteral("  Buggy "));
        QVERIFY(
            QRegularExpression(QStringLiteral("^[0-9a-f]{8}-([0-9a-f]{4}-){3}[0-9a-f]{12}$")).match(a.id).hasMatch());
        QVERIFY(a.id != b.id);
        QVERIFY(a.createdAt.isValid());
        QCOMPARE(a.modifiedAt, a.createdAt);
        // A car keeps a helicopter setup it was given, for a later switch of type.
        const QJsonObject car = jsoncheck::object(R"({"helicopterConfig": {"fly": {"motorChannel": 9}}})");
        QCOMPARE(Profile::fromJson(car).helicopterConfig.fly.motorChannel, 9);
    }

    // Damaged input, anywhere in a profile and its records, settles after one read and write.
    void damagedInputSettles()
    {
        Profile full = Profile::createNew(QStringLiteral("Full"));
        full.vehicleType = VehicleType::Helicopter;
        full.telemetryDashboard = QStringList{QStringLiteral("GSpd"), QStringLiteral("RxBt")};
        full.telemetrySensors = {TelemetrySensorEntry{"GSpd", "Speed", "S"}};
        ButtonMapping mapping;
        mapping.extraButtons = {1, 2};
        mapping.name = QStringLiteral("Lights");
        full.buttonMappings.mappings = {mapping, ButtonMapping()};
        AxisSettings &axes = full.axisSettings;
        axes.steering.deadzone = 0.3f;
        axes.brake.useCalibration = true;
        axes.escMode = 2;
        axes.gearThrottleLimitPercent = {{10, 20, 30, 40, 50, 60, 70}};
        DeviceConnections &devices = full.deviceConnections;
        devices.portName = QStringLiteral("COM3");
        devices.wheelBase.productName = QStringLiteral("W");
        devices.wheelBase.hasCustomAxisMapping = true;
        devices.wheelBase.axisMapping.combinedPedals = true;
        devices.wheelBase.axisMapping.combinedPedalsCenter = 0.25f;
        devices.shifter.vendorId = 7;
        devices.shifter.hasCustomShifterMapping = true;
        devices.pedals.uniqId = QStringLiteral("p");
        full.ledSettings.ledColors = {LedColorEntry{3, RgbColor{1, 2, 3}}, LedColorEntry()};
        full.ledSettings.rangeZones = {LedRangeZone{10, 40, RgbColor{9, 9, 9}}};
        full.receiverCaps.firmware = QStringLiteral("4.1");
        full.receiverCaps.osdOnBoard = 1;
        full.receiverCaps.hudTopOnBoard = 40;
        full.receiverCaps.hudAccelOnBoard = 20;
        full.receiverCaps.hudBrakeOnBoard = 30;
        full.helicopterConfig.inputs.joystick.device.productName = QStringLiteral("Stick");
        full.helicopterConfig.inputs.pedals.device.hasCustomAxisMapping = true;
        full.helicopterConfig.fly.arm.enabled = true;
        full.helicopterConfig.fly.pitchCurve.enabled = true;
        jsoncheck::checkSettles(full.toJson(), jsoncheck::pass<Profile>, 51, 2000);
    }
};

OSTRA_TEST_MAIN_CORE(TestProfile)
#include "tst_profile.moc"
