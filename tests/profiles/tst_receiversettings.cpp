#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/receiversettings.h"
#include "support/testenvironment.h"

using jsoncheck::row;

class TestReceiverSettings : public QObject
{
    Q_OBJECT

private slots:
    void ledReading_data()
    {
        jsoncheck::columns();
        const char *defaults = R"({"ledCount": 8, "brightness": 99, "activePercentage": 100, "powerOn": true,
            "powerButtonIndex": -1, "mode": "global", "globalColor": {"r": 0, "g": 255, "b": 0}, "selectedLedIndex": 0,
            "ledColors": [], "selectedZoneIndex": 0, "rangeZones": [], "configState": null, "configPending": null,
            "configLedIndex": null})";
        row("empty object gives the defaults", "{}", defaults);
        row("wrong types give the defaults", R"({"ledCount": "8", "brightness": 9.5, "activePercentage": [],
            "powerOn": 0, "powerButtonIndex": null, "mode": 1, "globalColor": 7, "selectedLedIndex": "2",
            "ledColors": 5,
            "selectedZoneIndex": {}, "rangeZones": "x", "configState": 6, "configPending": true})",
            defaults);
        row("colour keeps low 8 bits, bad parts fall back, mode in another case is global",
            R"({"mode": "RANGE", "globalColor": {"r": 300, "g": -1, "b": true}})",
            R"({"mode": "global", "globalColor": {"r": 44, "g": 255, "b": 0}})");
        row("colour entries in order, missing colour is green, non-object is index 0", R"({"mode": "per_led",
            "ledColors": [{"index": 5, "color": {"r": 1, "g": 2, "b": 3}}, {"index": 2}, 17, {"index": 5,
            "color": {}}]})",
            R"({"mode": "per_led", "ledColors": [{"index": 5, "color": {"r": 1, "g": 2, "b": 3}},
            {"index": 2, "color": {"r": 0, "g": 255, "b": 0}}, {"index": 0, "color": {"r": 0, "g": 255, "b": 0}},
            {"index": 5, "color": {"r": 0, "g": 255, "b": 0}}]})");
        row("zones kept unvalidated, end falls back to 100", R"({"mode": "range", "rangeZones": [
            {"startPercent": 80, "endPercent": 20}, {"startPercent": 10, "color": {"b": 200}}]})",
            R"({"mode": "range", "rangeZones": [{"startPercent": 80, "endPercent": 20, "color": {"r": 0, "g": 255,
            "b": 0}},
            {"startPercent": 10, "endPercent": 100, "color": {"r": 0, "g": 255, "b": 200}}]})");
        row("counts not limited", R"({"ledCount": 1, "brightness": 500, "ledColors": [{"index": 40}]})",
            R"({"ledCount": 1, "brightness": 500, "ledColors": [{"index": 40, "color": {"r": 0, "g": 255, "b": 0}}]})");
    }

    void ledReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<LedSettings>);
    }

    void receiverReading_data()
    {
        jsoncheck::columns();
        const char *defaults = R"({"initialized": false, "gpsEnabled": true, "gpsRateHz": 0, "gpsTelem": true,
            "imuTelem": true, "motionTelem": true, "motionRateHz": 20, "osdEnabled": false, "motionSensors": false,
            "hudTopKmh": 60, "hudAccelKmhS": 30, "hudBrakeKmhS": 60})";
        row("empty object gives the defaults", "{}", defaults);
        row("wrong types give the defaults", R"({"initialized": 1, "gpsEnabled": "no", "gpsRateHz": "10",
            "gpsTelem": null, "imuTelem": [], "motionTelem": 0, "motionRateHz": 10.5, "osdEnabled": "true",
            "motionSensors": {}, "hudTopKmh": "100", "hudAccelKmhS": false, "hudBrakeKmhS": 1e20})", defaults);
        row("rates outside their choices fall back", R"({"gpsRateHz": 3, "motionRateHz": 15})",
            R"({"gpsRateHz": 0, "motionRateHz": 20})");
        row("rates among their choices stay", R"({"gpsRateHz": 10, "motionRateHz": 25})",
            R"({"gpsRateHz": 10, "motionRateHz": 25})");
        row("hud values rounded down to their step", R"({"hudTopKmh": 62, "hudAccelKmhS": 7, "hudBrakeKmhS": 14})",
            R"({"hudTopKmh": 60, "hudAccelKmhS": 5, "hudBrakeKmhS": 10})");
        row("hud values rounded up to their step", R"({"hudTopKmh": 63, "hudAccelKmhS": 8, "hudBrakeKmhS": 15})",
            R"({"hudTopKmh": 65, "hudAccelKmhS": 10, "hudBrakeKmhS": 20})");
        row("hud values below range", R"({"hudTopKmh": 7, "hudAccelKmhS": 0, "hudBrakeKmhS": 4})",
            R"({"hudTopKmh": 10, "hudAccelKmhS": 5, "hudBrakeKmhS": 10})");
        row("hud values above range", R"({"hudTopKmh": 500, "hudBrakeKmhS": 205})",
            R"({"hudTopKmh": 150, "hudBrakeKmhS": 200})");
        row("hud values at the ends of int range",
            R"({"hudTopKmh": -2147483648, "hudAccelKmhS": 2147483647, "hudBrakeKmhS": -2147483648})",
            R"({"hudTopKmh": 10, "hudAccelKmhS": 100, "hudBrakeKmhS": 10})");
    }

    void receiverReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<ReceiverSettings>);
    }

    void capsReading_data()
    {
        jsoncheck::columns();
        const char *defaults = R"({"imu": false, "gps": false, "firmware": null, "osdOnBoard": null,
            "hudTopOnBoard": null, "hudAccelOnBoard": null, "hudBrakeOnBoard": null})";
        row("defaults write two keys", "{}", defaults);
        const char *reported = R"({"imu": true, "gps": true, "firmware": "4.3.1", "osdOnBoard": 0, "hudTopOnBoard": 60,
            "hudAccelOnBoard": 30, "hudBrakeOnBoard": 60})";
        row("reported values", reported, reported);
        row("not reported values are left out",
            R"({"firmware": "", "osdOnBoard": -1, "hudTopOnBoard": -5, "hudAccelOnBoard": "3"})", defaults);
        row("wrong types fall back", R"({"imu": "true", "gps": 1, "firmware": 4, "hudBrakeOnBoard": 2.5})", defaults);
    }

    void capsReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<ReceiverCaps>);
    }

    // A receiver is advanced with an IMU, a GPS or firmware 4 or later.
    void capsAdvanced()
    {
        const QList<std::tuple<bool, bool, QString, bool>> cases{{false, false, "", false}, {true, false, "", true},
            {false, true, "1.0", true}, {false, false, "3.9.9", false}, {false, false, "4.0.0", true},
            {false, false, "12", true}, {false, false, "v4.3", false}};
        for (const auto &[imu, gps, firmware, advanced] : cases) {
            ReceiverCaps caps;
            caps.imu = imu;
            caps.gps = gps;
            caps.firmware = firmware;
            QVERIFY2(caps.isAdvanced() == advanced, qPrintable(firmware));
        }
    }

    void ffbReading_data()
    {
        jsoncheck::columns();
        const char *defaults = R"({"strength": 0.3499999940395355, "centering": 0.5, "nativeCentering": 1,
            "autoEngage": false})";
        row("defaults widened", "{}", defaults);
        row("not clamped", R"({"strength": 2.5, "centering": -1})", R"({"strength": 2.5, "centering": -1})");
        row("wrong types or beyond float range fall back", R"({"strength": 1e300, "centering": null,
            "nativeCentering": true, "autoEngage": 1})", defaults);
    }

    void ffbReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<WheelFfbSettings>);
    }
};

OSTRA_TEST_MAIN_CORE(TestReceiverSettings)
#include "tst_receiversettings.moc"
