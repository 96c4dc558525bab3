#include <QJsonArray>
#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/receiversettings.h"
#include "support/testenvironment.h"

class TestReceiverSettings : public QObject
{
    Q_OBJECT

private slots:
    void colorReading_data();
    void colorReading();
    void ledModeFromText_data();
    void ledModeFromText();
    void ledReading_data();
    void ledReading();
    void ledRunTimeStateNotStored();
    void receiverReading_data();
    void receiverReading();
    void receiverWritesWhatIsHeld();
    void capsReading_data();
    void capsReading();
    void capsAdvanced_data();
    void capsAdvanced();
    void ffbReading_data();
    void ffbReading();
    void damagedInputSettles();
};

void TestReceiverSettings::colorReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty is green") << QByteArray("{}") << QByteArray(R"({"r": 0, "g": 255, "b": 0})");
    QTest::newRow("low 8 bits kept, bad value falls back")
        << QByteArray(R"({"r": 300, "g": -1})") << QByteArray(R"({"r": 44, "g": 255, "b": 0})");
    QTest::newRow("wrong types fall back") << QByteArray(R"({"r": "9", "g": 1.5, "b": true})")
                                           << QByteArray(R"({"r": 0, "g": 255, "b": 0})");
    QTest::newRow("values kept") << QByteArray(R"({"r": 12, "g": 34, "b": 255})")
                                 << QByteArray(R"({"r": 12, "g": 34, "b": 255})");
}

void TestReceiverSettings::colorReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(RgbColor::fromJson(jsoncheck::object(input)).toJson(), jsoncheck::object(expected));
}

void TestReceiverSettings::ledModeFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("mode");
    QTest::newRow("per_led") << "per_led" << 1;
    QTest::newRow("range") << "range" << 2;
    QTest::newRow("global") << "global" << 0;
    QTest::newRow("other case") << "Range" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("blank around") << " per_led" << 0;
}

void TestReceiverSettings::ledModeFromText()
{
    QFETCH(QString, text);
    QFETCH(int, mode);
    QCOMPARE(int(ledModeFromString(text)), mode);
}

void TestReceiverSettings::ledReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray defaults(R"({"ledCount": 8, "brightness": 99, "activePercentage": 100,
        "powerOn": true, "powerButtonIndex": -1, "mode": "global",
        "globalColor": {"r": 0, "g": 255, "b": 0}, "selectedLedIndex": 0, "ledColors": [],
        "selectedZoneIndex": 0, "rangeZones": []})");
    QTest::newRow("empty object gives the defaults") << QByteArray("{}") << defaults;
    QTest::newRow("wrong types give the defaults")
        << QByteArray(R"({"ledCount": "8", "brightness": 9.5, "activePercentage": [],
            "powerOn": 0, "powerButtonIndex": null, "mode": 1, "globalColor": 7,
            "selectedLedIndex": "2", "ledColors": 5, "selectedZoneIndex": {}, "rangeZones": "x"})")
        << defaults;
    QTest::newRow("mode in another case reads as global")
        << QByteArray(R"({"mode": "RANGE"})") << QByteArray(R"({"mode": "global"})");
    QTest::newRow("colour entries in order, missing colour is green, non-object is index 0")
        << QByteArray(R"({"mode": "per_led", "ledColors": [{"index": 5, "color": {"r": 1, "g": 2, "b": 3}},
            {"index": 2}, 17, {"index": 5, "color": {}}]})")
        << QByteArray(R"({"mode": "per_led", "ledColors": [{"index": 5, "color": {"r": 1, "g": 2, "b": 3}},
            {"index": 2, "color": {"r": 0, "g": 255, "b": 0}}, {"index": 0, "color": {"r": 0, "g": 255, "b": 0}},
            {"index": 5, "color": {"r": 0, "g": 255, "b": 0}}]})");
    QTest::newRow("zones kept unvalidated, end falls back to 100")
        << QByteArray(R"({"mode": "range", "rangeZones": [{"startPercent": 80, "endPercent": 20},
            {"startPercent": 10, "color": {"b": 200}}]})")
        << QByteArray(R"({"mode": "range", "rangeZones": [
            {"startPercent": 80, "endPercent": 20, "color": {"r": 0, "g": 255, "b": 0}},
            {"startPercent": 10, "endPercent": 100, "color": {"r": 0, "g": 255, "b": 200}}]})");
    QTest::newRow("counts not limited")
        << QByteArray(R"({"ledCount": 1, "brightness": 500, "ledColors": [{"index": 40}, {"index": 41}]})")
        << QByteArray(R"({"ledCount": 1, "brightness": 500,
            "ledColors": [{"index": 40, "color": {"r": 0, "g": 255, "b": 0}},
            {"index": 41, "color": {"r": 0, "g": 255, "b": 0}}]})");
}

void TestReceiverSettings::ledReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QJsonObject written = LedSettings::fromJson(jsoncheck::object(input)).toJson();
    QCOMPARE(written.size(), 11);
    JSON_SUBSET(written, expected);
}

void TestReceiverSettings::ledRunTimeStateNotStored()
{
    LedSettings held;
    held.configState = 6;
    held.configPending = true;
    held.configLedIndex = 4;
    held.mode = LedMode(5);
    const QJsonObject written = held.toJson();
    QCOMPARE(written.value(QLatin1String("mode")).toString(), QStringLiteral("global"));
    for (const char *key : {"configState", "configPending", "configLedIndex"})
        QVERIFY(!written.contains(QLatin1String(key)));
    const LedSettings read = LedSettings::fromJson(jsoncheck::object(
        R"({"configState": 6, "configPending": true, "configLedIndex": 4})"));
    QCOMPARE(read.configState, 0);
    QCOMPARE(read.configPending, false);
    QCOMPARE(read.configLedIndex, 0);
}

void TestReceiverSettings::receiverReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray defaults(R"({"initialized": false, "gpsEnabled": true, "gpsRateHz": 0,
        "gpsTelem": true, "imuTelem": true, "motionTelem": true, "motionRateHz": 20,
        "osdEnabled": false, "motionSensors": false, "hudTopKmh": 60, "hudAccelKmhS": 30,
        "hudBrakeKmhS": 60})");
    QTest::newRow("empty object gives the defaults") << QByteArray("{}") << defaults;
    QTest::newRow("wrong types give the defaults")
        << QByteArray(R"({"initialized": 1, "gpsEnabled": "no", "gpsRateHz": "10", "gpsTelem": null,
            "imuTelem": [], "motionTelem": 0, "motionRateHz": 10.5, "osdEnabled": "true",
            "motionSensors": {}, "hudTopKmh": "100", "hudAccelKmhS": false, "hudBrakeKmhS": 1e20})")
        << defaults;
    QTest::newRow("gps rate 3 reads as 0") << QByteArray(R"({"gpsRateHz": 3})")
                                           << QByteArray(R"({"gpsRateHz": 0})");
    QTest::newRow("gps rate 10 stays") << QByteArray(R"({"gpsRateHz": 10})")
                                       << QByteArray(R"({"gpsRateHz": 10})");
    QTest::newRow("motion rate 15 reads as 20") << QByteArray(R"({"motionRateHz": 15})")
                                                << QByteArray(R"({"motionRateHz": 20})");
    QTest::newRow("motion rate 25 stays") << QByteArray(R"({"motionRateHz": 25})")
                                          << QByteArray(R"({"motionRateHz": 25})");
    QTest::newRow("hud top 62") << QByteArray(R"({"hudTopKmh": 62})") << QByteArray(R"({"hudTopKmh": 60})");
    QTest::newRow("hud top 63") << QByteArray(R"({"hudTopKmh": 63})") << QByteArray(R"({"hudTopKmh": 65})");
    QTest::newRow("hud top 7") << QByteArray(R"({"hudTopKmh": 7})") << QByteArray(R"({"hudTopKmh": 10})");
    QTest::newRow("hud top 500") << QByteArray(R"({"hudTopKmh": 500})") << QByteArray(R"({"hudTopKmh": 150})");
    QTest::newRow("hud accel 7") << QByteArray(R"({"hudAccelKmhS": 7})") << QByteArray(R"({"hudAccelKmhS": 5})");
    QTest::newRow("hud accel 8") << QByteArray(R"({"hudAccelKmhS": 8})")
                                 << QByteArray(R"({"hudAccelKmhS": 10})");
    QTest::newRow("hud accel 0") << QByteArray(R"({"hudAccelKmhS": 0})") << QByteArray(R"({"hudAccelKmhS": 5})");
    QTest::newRow("hud brake 14") << QByteArray(R"({"hudBrakeKmhS": 14})")
                                  << QByteArray(R"({"hudBrakeKmhS": 10})");
    QTest::newRow("hud brake 15") << QByteArray(R"({"hudBrakeKmhS": 15})")
                                  << QByteArray(R"({"hudBrakeKmhS": 20})");
    QTest::newRow("hud brake 205") << QByteArray(R"({"hudBrakeKmhS": 205})")
                                   << QByteArray(R"({"hudBrakeKmhS": 200})");
    QTest::newRow("hud brake 4") << QByteArray(R"({"hudBrakeKmhS": 4})")
                                 << QByteArray(R"({"hudBrakeKmhS": 10})");
    QTest::newRow("hud values at the ends of int range")
        << QByteArray(R"({"hudTopKmh": -2147483648, "hudAccelKmhS": 2147483647, "hudBrakeKmhS": -2147483648})")
        << QByteArray(R"({"hudTopKmh": 10, "hudAccelKmhS": 100, "hudBrakeKmhS": 10})");
}

void TestReceiverSettings::receiverReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QJsonObject written = ReceiverSettings::fromJson(jsoncheck::object(input)).toJson();
    QCOMPARE(written.size(), 12);
    JSON_SUBSET(written, expected);
}

void TestReceiverSettings::receiverWritesWhatIsHeld()
{
    ReceiverSettings held;
    held.gpsRateHz = 3;
    held.hudTopKmh = 61;
    const QJsonObject written = held.toJson();
    QCOMPARE(written.value(QLatin1String("gpsRateHz")).toInt(), 3);
    QCOMPARE(written.value(QLatin1String("hudTopKmh")).toInt(), 61);
    const ReceiverSettings read = ReceiverSettings::fromJson(written);
    QCOMPARE(read.gpsRateHz, 0);
    QCOMPARE(read.hudTopKmh, 60);
}

void TestReceiverSettings::capsReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("defaults write two keys") << QByteArray("{}") << QByteArray(R"({"imu": false, "gps": false})");
    QTest::newRow("reported values")
        << QByteArray(R"({"imu": true, "gps": true, "firmware": "4.3.1", "osdOnBoard": 0,
            "hudTopOnBoard": 60, "hudAccelOnBoard": 30, "hudBrakeOnBoard": 60})")
        << QByteArray(R"({"imu": true, "gps": true, "firmware": "4.3.1", "osdOnBoard": 0,
            "hudTopOnBoard": 60, "hudAccelOnBoard": 30, "hudBrakeOnBoard": 60})");
    QTest::newRow("not reported values are left out")
        << QByteArray(R"({"firmware": "", "osdOnBoard": -1, "hudTopOnBoard": -5, "hudAccelOnBoard": "3"})")
        << QByteArray(R"({"imu": false, "gps": false})");
    QTest::newRow("wrong types fall back")
        << QByteArray(R"({"imu": "true", "gps": 1, "firmware": 4, "hudBrakeOnBoard": 2.5})")
        << QByteArray(R"({"imu": false, "gps": false})");
}

void TestReceiverSettings::capsReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, written);
    const QJsonObject out = ReceiverCaps::fromJson(jsoncheck::object(input)).toJson();
    QCOMPARE(out, jsoncheck::object(written));
    QCOMPARE(ReceiverCaps::fromJson(out).toJson(), out);
}

void TestReceiverSettings::capsAdvanced_data()
{
    QTest::addColumn<bool>("imu");
    QTest::addColumn<bool>("gps");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<bool>("advanced");
    QTest::newRow("nothing") << false << false << "" << false;
    QTest::newRow("imu") << true << false << "" << true;
    QTest::newRow("gps") << false << true << "1.0" << true;
    QTest::newRow("firmware 3.9") << false << false << "3.9.9" << false;
    QTest::newRow("firmware 4.0") << false << false << "4.0.0" << true;
    QTest::newRow("firmware 12") << false << false << "12" << true;
    QTest::newRow("firmware not a number") << false << false << "v4.3" << false;
}

void TestReceiverSettings::capsAdvanced()
{
    QFETCH(bool, imu);
    QFETCH(bool, gps);
    QFETCH(QString, firmware);
    QFETCH(bool, advanced);
    ReceiverCaps caps;
    caps.imu = imu;
    caps.gps = gps;
    caps.firmware = firmware;
    QCOMPARE(caps.isAdvanced(), advanced);
}

void TestReceiverSettings::ffbReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("defaults widened")
        << QByteArray("{}")
        << QByteArray(R"({"strength": 0.3499999940395355, "centering": 0.5, "nativeCentering": 1,
            "autoEngage": false})");
    QTest::newRow("not clamped") << QByteArray(R"({"strength": 2.5, "centering": -1})")
                                 << QByteArray(R"({"strength": 2.5, "centering": -1})");
    QTest::newRow("wrong types fall back")
        << QByteArray(R"({"strength": "1", "centering": null, "nativeCentering": true, "autoEngage": 1})")
        << QByteArray(R"({"strength": 0.3499999940395355, "centering": 0.5, "nativeCentering": 1,
            "autoEngage": false})");
    QTest::newRow("beyond float range falls back") << QByteArray(R"({"strength": 1e300})")
                                                   << QByteArray(R"({"strength": 0.3499999940395355})");
}

void TestReceiverSettings::ffbReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QJsonObject written = WheelFfbSettings::fromJson(jsoncheck::object(input)).toJson();
    QCOMPARE(written.size(), 4);
    JSON_SUBSET(written, expected);
}

void TestReceiverSettings::damagedInputSettles()
{
    LedSettings led;
    led.ledColors = {LedColorEntry{3, RgbColor{1, 2, 3}}, LedColorEntry()};
    led.rangeZones = {LedRangeZone{10, 40, RgbColor{9, 9, 9}}};
    jsoncheck::checkSettles(led.toJson(), [](const QJsonObject &o) { return LedSettings::fromJson(o).toJson(); }, 31);
    jsoncheck::checkSettles(ReceiverSettings().toJson(),
                            [](const QJsonObject &o) { return ReceiverSettings::fromJson(o).toJson(); }, 32);
    ReceiverCaps caps;
    caps.firmware = QStringLiteral("4.1");
    caps.osdOnBoard = 1;
    caps.hudTopOnBoard = 40;
    caps.hudAccelOnBoard = 20;
    caps.hudBrakeOnBoard = 30;
    jsoncheck::checkSettles(caps.toJson(), [](const QJsonObject &o) { return ReceiverCaps::fromJson(o).toJson(); }, 33);
    jsoncheck::checkSettles(WheelFfbSettings().toJson(),
                            [](const QJsonObject &o) { return WheelFfbSettings::fromJson(o).toJson(); }, 34);
}

OSTRA_TEST_MAIN_CORE(TestReceiverSettings)
#include "tst_receiversettings.moc"
