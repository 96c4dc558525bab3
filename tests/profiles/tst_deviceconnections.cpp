#include <QJsonArray>
#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/deviceconnections.h"
#include "support/testenvironment.h"

class TestDeviceConnections : public QObject
{
    Q_OBJECT

private slots:
    void axisMappingReading_data();
    void axisMappingReading();
    void deviceReading_data();
    void deviceReading();
    void connectionsReading_data();
    void connectionsReading();
    void damagedInputSettles();
};

void TestDeviceConnections::axisMappingReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QStringList>("absentKeys");

    QTest::newRow("defaults")
        << QByteArray("{}")
        << QByteArray(R"({"map": [0, 1, 2, 3], "inverted": [false, false, false, false], "presetName": ""})")
        << QStringList{"combinedPedals", "combinedPedalsCenter"};
    QTest::newRow("short map keeps the remaining defaults")
        << QByteArray(R"({"map": [2, 0]})") << QByteArray(R"({"map": [2, 0, 2, 3]})") << QStringList();
    QTest::newRow("long map: four count")
        << QByteArray(R"({"map": [7, 6, 5, 4, 3, 2]})") << QByteArray(R"({"map": [7, 6, 5, 4]})")
        << QStringList();
    QTest::newRow("bad map element keeps that default")
        << QByteArray(R"({"map": ["x", 1.5, 6]})") << QByteArray(R"({"map": [0, 1, 6, 3]})")
        << QStringList();
    QTest::newRow("inverted read partly, bad elements false")
        << QByteArray(R"({"inverted": [true, "true", true]})")
        << QByteArray(R"({"inverted": [true, false, true, false]})") << QStringList();
    QTest::newRow("combined pedals written when set")
        << QByteArray(R"({"combinedPedals": true, "combinedPedalsCenter": 0.1, "presetName": "G29"})")
        << QByteArray(R"({"combinedPedals": true, "combinedPedalsCenter": 0.10000000149011612,
            "presetName": "G29"})")
        << QStringList();
    QTest::newRow("combined pedals wrongly typed")
        << QByteArray(R"({"combinedPedals": "yes", "combinedPedalsCenter": "0.5"})") << QByteArray("{}")
        << QStringList{"combinedPedals", "combinedPedalsCenter"};
}

void TestDeviceConnections::axisMappingReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, absentKeys);
    const QJsonObject written = AxisMapping::fromJson(jsoncheck::object(input)).toJson();
    JSON_SUBSET(written, expected);
    for (const QString &key : absentKeys)
        QVERIFY2(!written.contains(key), qPrintable(key));
}

void TestDeviceConnections::deviceReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QStringList>("absentKeys");
    QTest::addColumn<bool>("empty");

    QTest::newRow("empty slot writes nothing")
        << QByteArray("{}") << QByteArray("{}")
        << QStringList{"productName", "instanceGuid", "devicePath", "uniqId", "vendorId", "productId",
                       "axisMapping", "hasCustomAxisMapping", "shifterMapping", "hasCustomShifterMapping"}
        << true;
    QTest::newRow("identity kept")
        << QByteArray(R"({"productName": "Wheel", "instanceGuid": "{A-B}", "uniqId": "u",
            "vendorId": 1133, "productId": 49743})")
        << QByteArray(R"({"productName": "Wheel", "instanceGuid": "{A-B}", "uniqId": "u",
            "vendorId": 1133, "productId": 49743})")
        << QStringList{"devicePath"} << false;
    QTest::newRow("vendor id keeps its low 16 bits")
        << QByteArray(R"({"vendorId": 70000, "productId": -1})")
        << QByteArray(R"({"vendorId": 4464, "productId": 65535})") << QStringList() << false;
    QTest::newRow("device path alone is an empty slot")
        << QByteArray(R"({"devicePath": "/dev/input/event3"})")
        << QByteArray(R"({"devicePath": "/dev/input/event3"})") << QStringList() << true;
    QTest::newRow("axis mapping without the flag is dropped")
        << QByteArray(R"({"productName": "P", "axisMapping": {"map": [3, 3, 3, 3]}})")
        << QByteArray(R"({"productName": "P"})") << QStringList{"axisMapping", "hasCustomAxisMapping"}
        << false;
    QTest::newRow("axis mapping with the flag is kept")
        << QByteArray(R"({"productName": "P", "hasCustomAxisMapping": true,
            "axisMapping": {"map": [3, 2]}})")
        << QByteArray(R"({"hasCustomAxisMapping": true, "axisMapping": {"map": [3, 2, 2, 3]}})")
        << QStringList() << false;
    QTest::newRow("flag without mapping gives the default mapping")
        << QByteArray(R"({"productName": "P", "hasCustomAxisMapping": true})")
        << QByteArray(R"({"hasCustomAxisMapping": true, "axisMapping": {"map": [0, 1, 2, 3]}})")
        << QStringList() << false;
    QTest::newRow("short shifter table keeps the defaults")
        << QByteArray(R"({"productName": "S", "hasCustomShifterMapping": true,
            "shifterMapping": {"buttonIndex": [3]}})")
        << QByteArray(R"({"hasCustomShifterMapping": true,
            "shifterMapping": {"buttonIndex": [3, 7, 0, 1, 2, 3, 4, 5, 6]}})")
        << QStringList() << false;
    QTest::newRow("shifter table elements beyond nine ignored, bad ones default")
        << QByteArray(R"({"productName": "S", "hasCustomShifterMapping": true,
            "shifterMapping": {"buttonIndex": [9, "x", 8, 8, 8, 8, 8, 8, 8, 8, 8]}})")
        << QByteArray(R"({"shifterMapping": {"buttonIndex": [9, 7, 8, 8, 8, 8, 8, 8, 8]}})")
        << QStringList() << false;
    QTest::newRow("shifter table without the flag is dropped")
        << QByteArray(R"({"productName": "S", "shifterMapping": {"buttonIndex": [3]}})")
        << QByteArray("{}") << QStringList{"shifterMapping", "hasCustomShifterMapping"} << false;
}

void TestDeviceConnections::deviceReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, absentKeys);
    QFETCH(bool, empty);
    const DeviceConnection device = DeviceConnection::fromJson(jsoncheck::object(input));
    QCOMPARE(device.isEmpty(), empty);
    const QJsonObject written = device.toJson();
    JSON_SUBSET(written, expected);
    for (const QString &key : absentKeys)
        QVERIFY2(!written.contains(key), qPrintable(key));
}

void TestDeviceConnections::connectionsReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QStringList>("writtenKeys");

    QTest::newRow("defaults") << QByteArray("{}") << QString() << 115200 << QStringList();
    QTest::newRow("bridge port and rate")
        << QByteArray(R"({"bridge": {"portName": "COM3", "baudRate": 921600}})") << "COM3" << 921600
        << QStringList{"bridge"};
    QTest::newRow("bridge rate wrongly typed")
        << QByteArray(R"({"bridge": {"portName": "COM3", "baudRate": "fast"}})") << "COM3" << 115200
        << QStringList{"bridge"};
    QTest::newRow("rate without port is not kept")
        << QByteArray(R"({"bridge": {"baudRate": 9600}})") << QString() << 9600 << QStringList();
    QTest::newRow("slots written only when not empty")
        << QByteArray(R"({"wheelBase": {"productName": "W"}, "pedals": {"devicePath": "p"},
            "shifter": 5})")
        << QString() << 115200 << QStringList{"wheelBase"};
}

void TestDeviceConnections::connectionsReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, portName);
    QFETCH(int, baudRate);
    QFETCH(QStringList, writtenKeys);
    const DeviceConnections connections = DeviceConnections::fromJson(jsoncheck::object(input));
    QCOMPARE(connections.portName, portName);
    QCOMPARE(connections.baudRate, baudRate);
    const QJsonObject written = connections.toJson();
    QCOMPARE(written.keys(), writtenKeys);
    // What is written reads back to what is written.
    QCOMPARE(DeviceConnections::fromJson(written).toJson(), written);
}

void TestDeviceConnections::damagedInputSettles()
{
    DeviceConnections full;
    full.portName = QStringLiteral("/dev/ttyACM0");
    full.wheelBase.productName = QStringLiteral("Wheel");
    full.wheelBase.hasCustomAxisMapping = true;
    full.wheelBase.axisMapping.combinedPedals = true;
    full.wheelBase.axisMapping.combinedPedalsCenter = 0.25f;
    full.shifter.vendorId = 7;
    full.shifter.hasCustomShifterMapping = true;
    full.pedals.uniqId = QStringLiteral("p");
    jsoncheck::checkSettles(full.toJson(), [](const QJsonObject &obj) {
        return DeviceConnections::fromJson(obj).toJson();
    }, 21);
    jsoncheck::checkSettles(full.wheelBase.axisMapping.toJson(), [](const QJsonObject &obj) {
        return AxisMapping::fromJson(obj).toJson();
    }, 22);
}

OSTRA_TEST_MAIN_CORE(TestDeviceConnections)
#include "tst_deviceconnections.moc"
