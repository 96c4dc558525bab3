#include <QJsonArray>
#include <QObject>
#include <QRegularExpression>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/profile.h"
#include "support/testenvironment.h"

class TestProfile : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void helicopterKeyOnlyForHelicopters_data();
    void helicopterKeyOnlyForHelicopters();
    void helicopterConfigReadForAnyType();
    void createNew();
    void timesToWholeSeconds();
    void defaultRoundTrip();
    void damagedInputSettles();
};

void TestProfile::reading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("id and name only give a default car profile")
        << QByteArray(R"({"id": "a", "name": "Car"})")
        << QByteArray(R"({"version": 2, "id": "a", "name": "Car", "vehicleType": "rc_car", "createdAt": "",
            "modifiedAt": "", "buttonMappings": [], "autoStartEnabled": false, "telemetryDashboard": [],
            "telemetrySensors": [], "telemetryDiscover": true, "deviceConnections": {},
            "axisSettings": {"escNeutral": 992, "Steering": {"name": "Steering"}},
            "ledSettings": {"ledCount": 8, "mode": "global"}, "receiverSettings": {"motionRateHz": 20},
            "receiverCaps": {"imu": false, "gps": false}, "wheelFfb": {"centering": 0.5}})");
    QTest::newRow("wrong types fall back")
        << QByteArray(R"({"id": 5, "name": true, "vehicleType": 3, "createdAt": 7, "modifiedAt": "yesterday",
            "axisSettings": 4, "buttonMappings": {}, "deviceConnections": [], "ledSettings": "x",
            "autoStartEnabled": 1, "telemetryDashboard": "GSpd", "telemetrySensors": {},
            "telemetryDiscover": "no", "receiverSettings": 1, "receiverCaps": 2, "wheelFfb": 3})")
        << QByteArray(R"({"id": "", "name": "", "vehicleType": "rc_car", "createdAt": "", "modifiedAt": "",
            "autoStartEnabled": false, "telemetryDashboard": [], "telemetrySensors": [],
            "telemetryDiscover": true, "buttonMappings": [], "wheelFfb": {"centering": 0.5}})");
    QTest::newRow("unknown vehicle type kept")
        << QByteArray(R"({"vehicleType": "boat"})") << QByteArray(R"({"vehicleType": "boat"})");
    QTest::newRow("old sensor ids renamed on the dashboard")
        << QByteArray(R"({"telemetryDashboard": ["LonG", "GSpd", "VrtG", 5, "LatG", "lonG", "GSpd"]})")
        << QByteArray(R"({"telemetryDashboard": ["GLon", "GSpd", "GVrt", "", "GLat", "lonG", "GSpd"]})");
    QTest::newRow("sensors without id dropped, empty name not written")
        << QByteArray(R"({"telemetrySensors": [{"label": "x"}, {"id": "LonG", "label": "Lon", "name": ""},
            {"id": "GSpd", "name": "Speed"}, 4, {"id": ""}]})")
        << QByteArray(R"({"telemetrySensors": [{"id": "LonG", "label": "Lon"},
            {"id": "GSpd", "label": "", "name": "Speed"}]})");
    QTest::newRow("sub-records read into defaults")
        << QByteArray(R"({"axisSettings": {"Brake": {"inverted": true}, "escMode": 1},
            "buttonMappings": [{"channel": 6}, 3], "deviceConnections": {"bridge": {"portName": "COM7"}},
            "ledSettings": {"mode": "range"}, "receiverSettings": {"gpsRateHz": 3},
            "receiverCaps": {"firmware": "4.2"}, "wheelFfb": {"strength": 2.5}, "autoStartEnabled": true,
            "telemetryDiscover": false})")
        << QByteArray(R"({"axisSettings": {"Brake": {"inverted": true}, "escMode": 0},
            "buttonMappings": [{"channel": 6}, {"channel": 3}],
            "deviceConnections": {"bridge": {"portName": "COM7", "baudRate": 115200}},
            "ledSettings": {"mode": "range"}, "receiverSettings": {"gpsRateHz": 0},
            "receiverCaps": {"firmware": "4.2"}, "wheelFfb": {"strength": 2.5}, "autoStartEnabled": true,
            "telemetryDiscover": false})");
    QTest::newRow("times kept to the second")
        << QByteArray(R"({"createdAt": "2026-03-04T05:06:07", "modifiedAt": "2026-03-04T05:06:08.250"})")
        << QByteArray(R"({"createdAt": "2026-03-04T05:06:07", "modifiedAt": "2026-03-04T05:06:08"})");
    QTest::newRow("times in other zones written as local time")
        << QByteArray(R"({"createdAt": "2026-03-04T05:06:07Z", "modifiedAt": "2026-03-04T05:06:08+02:00"})")
        << QByteArray(R"({"createdAt": "2026-03-04T05:06:07", "modifiedAt": "2026-03-04T03:06:08"})");
}

void TestProfile::reading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    JSON_SUBSET(Profile::fromJson(jsoncheck::object(input)).toJson(), expected);
}

void TestProfile::helicopterKeyOnlyForHelicopters_data()
{
    QTest::addColumn<QString>("vehicleType");
    QTest::addColumn<bool>("written");
    QTest::newRow("car") << "rc_car" << false;
    QTest::newRow("helicopter") << "rc_helicopter" << true;
    QTest::newRow("helicopter in another case") << "RC_Helicopter" << false;
}

void TestProfile::helicopterKeyOnlyForHelicopters()
{
    QFETCH(QString, vehicleType);
    QFETCH(bool, written);
    Profile profile;
    profile.vehicleType = vehicleType;
    const QJsonObject obj = profile.toJson();
    QCOMPARE(obj.contains(QLatin1String("helicopterConfig")), written);
    QCOMPARE(obj.size(), written ? 18 : 17);
}

void TestProfile::helicopterConfigReadForAnyType()
{
    const Profile car = Profile::fromJson(jsoncheck::object(
        R"({"id": "c", "name": "C", "helicopterConfig": {"fly": {"motorChannel": 9}}})"));
    QCOMPARE(car.vehicleType, QStringLiteral("rc_car"));
    QCOMPARE(car.helicopterConfig.fly.motorChannel, 9);
}

void TestProfile::createNew()
{
    const Profile a = Profile::createNew(QStringLiteral("  Buggy "));
    const Profile b = Profile::createNew(QStringLiteral("Buggy"));
    QCOMPARE(a.name, QStringLiteral("  Buggy "));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                .match(a.id)
                .hasMatch());
    QVERIFY(a.id != b.id);
    QVERIFY(a.createdAt.isValid());
    QCOMPARE(a.modifiedAt, a.createdAt);
    QCOMPARE(a.vehicleType, QStringLiteral("rc_car"));
}

void TestProfile::timesToWholeSeconds()
{
    Profile profile = Profile::createNew(QStringLiteral("T"));
    profile.modifiedAt = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 678));
    const QJsonObject obj = jsoncheck::viaText(profile.toJson());
    QCOMPARE(obj.value(QLatin1String("modifiedAt")).toString(), QStringLiteral("2026-01-02T03:04:05"));
    const Profile read = Profile::fromJson(obj);
    QCOMPARE(read.modifiedAt, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    QCOMPARE(read.modifiedAt.timeSpec(), Qt::LocalTime);
}

void TestProfile::defaultRoundTrip()
{
    Profile profile;
    profile.id = QStringLiteral("x");
    profile.name = QStringLiteral("X");
    const QJsonObject written = jsoncheck::viaText(profile.toJson());
    QCOMPARE(written.value(QLatin1String("createdAt")).toString(), QString());
    const Profile read = Profile::fromJson(written);
    QVERIFY(!read.createdAt.isValid());
    QVERIFY(!read.modifiedAt.isValid());
    QCOMPARE(read.toJson(), profile.toJson());
}

void TestProfile::damagedInputSettles()
{
    Profile full = Profile::createNew(QStringLiteral("Full"));
    full.vehicleType = VehicleType::Helicopter;
    full.telemetryDashboard = QStringList{QStringLiteral("GSpd"), QStringLiteral("RxBt")};
    full.telemetrySensors = {TelemetrySensorEntry{QStringLiteral("GSpd"), QStringLiteral("Speed"), QStringLiteral("S")}};
    full.buttonMappings.mappings = {ButtonMapping(), ButtonMapping()};
    full.deviceConnections.portName = QStringLiteral("COM3");
    full.deviceConnections.wheelBase.productName = QStringLiteral("W");
    full.ledSettings.ledColors = {LedColorEntry()};
    full.receiverCaps.firmware = QStringLiteral("4.0");
    jsoncheck::checkSettles(full.toJson(), [](const QJsonObject &o) { return Profile::fromJson(o).toJson(); }, 51,
                            300);
}

OSTRA_TEST_MAIN_CORE(TestProfile)
#include "tst_profile.moc"
