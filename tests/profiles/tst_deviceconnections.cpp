#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/deviceconnections.h"
#include "support/testenvironment.h"

using jsoncheck::row;

class TestDeviceConnections : public QObject
{
    Q_OBJECT

private slots:
    void axisMappingReading_data()
    {
        jsoncheck::columns();
        row("defaults", "{}", R"({"map": [0, 1, 2, 3], "inverted": [false, false, false, false], "presetName": "",
            "combinedPedals": null, "combinedPedalsCenter": null})");
        row("short map keeps the remaining defaults, bad element its default", R"({"map": ["x", 6]})",
            R"({"map": [0, 6, 2, 3]})");
        row("long map: four count", R"({"map": [7, 6, 5, 4, 3, 2]})", R"({"map": [7, 6, 5, 4]})");
        row("inverted read partly, bad elements false", R"({"inverted": [true, "true", true]})",
            R"({"inverted": [true, false, true, false]})");
        row("combined pedals written when set",
            R"({"combinedPedals": true, "combinedPedalsCenter": 0.1, "presetName": "G29"})",
            R"({"combinedPedals": true, "combinedPedalsCenter": 0.10000000149011612, "presetName": "G29"})");
        row("combined pedals wrongly typed", R"({"combinedPedals": "yes", "combinedPedalsCenter": "0.5"})",
            R"({"combinedPedals": null, "combinedPedalsCenter": null})");
    }

    void axisMappingReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<AxisMapping>);
    }

    void deviceReading_data()
    {
        jsoncheck::columns();
        row("empty slot writes nothing", "{}", R"({"productName": null, "instanceGuid": null, "devicePath": null,
            "uniqId": null, "vendorId": null, "productId": null, "axisMapping": null, "hasCustomAxisMapping": null,
            "shifterMapping": null, "hasCustomShifterMapping": null})");
        row("identity kept", R"({"productName": "Wheel", "instanceGuid": "{A-B}", "uniqId": "u", "vendorId": 1133,
            "productId": 49743})", R"({"productName": "Wheel", "instanceGuid": "{A-B}", "uniqId": "u", "vendorId": 1133,
            "productId": 49743, "devicePath": null})");
        row("ids keep their low 16 bits", R"({"vendorId": 70000, "productId": -1})",
            R"({"vendorId": 4464, "productId": 65535})");
        row("mappings without their flags are dropped", R"({"productName": "P", "axisMapping": {"map": [3, 3, 3, 3]},
            "shifterMapping": {"buttonIndex": [3]}})", R"({"productName": "P", "axisMapping": null,
            "hasCustomAxisMapping": null, "shifterMapping": null, "hasCustomShifterMapping": null})");
        row("axis mapping with the flag is kept", R"({"productName": "P", "hasCustomAxisMapping": true,
            "axisMapping": {"map": [3, 2]}})",
            R"({"hasCustomAxisMapping": true, "axisMapping": {"map": [3, 2, 2, 3]}})");
        row("flag without mapping gives the default mapping", R"({"productName": "P", "hasCustomAxisMapping": true})",
            R"({"hasCustomAxisMapping": true, "axisMapping": {"map": [0, 1, 2, 3]}})");
        row("short shifter table keeps the defaults", R"({"productName": "S", "hasCustomShifterMapping": true,
            "shifterMapping": {"buttonIndex": [3]}})", R"({"hasCustomShifterMapping": true,
            "shifterMapping": {"buttonIndex": [3, 7, 0, 1, 2, 3, 4, 5, 6]}})");
        row("shifter table elements beyond nine ignored, bad ones default", R"({"productName": "S",
            "hasCustomShifterMapping": true, "shifterMapping": {"buttonIndex": [9, "x", 8, 8, 8, 8, 8, 8, 8, 8, 8]}})",
            R"({"shifterMapping": {"buttonIndex": [9, 7, 8, 8, 8, 8, 8, 8, 8]}})");
    }

    void deviceReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<DeviceConnection>);
    }

    void connectionsReading_data()
    {
        jsoncheck::columns();
        row("defaults", "{}", R"({"bridge": null, "wheelBase": null, "pedals": null, "shifter": null})");
        row("bridge port and rate", R"({"bridge": {"portName": "COM3", "baudRate": 921600}})",
            R"({"bridge": {"portName": "COM3", "baudRate": 921600}})");
        row("bridge rate wrongly typed", R"({"bridge": {"portName": "COM3", "baudRate": "fast"}})",
            R"({"bridge": {"portName": "COM3", "baudRate": 115200}})");
        row("rate without port is not written", R"({"bridge": {"baudRate": 9600}})", R"({"bridge": null})");
        row("slots written only when not empty", R"({"wheelBase": {"productName": "W"}, "pedals": {"devicePath": "p"},
            "shifter": 5})", R"({"wheelBase": {"productName": "W"}, "pedals": null, "shifter": null})");
    }

    void connectionsReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<DeviceConnections>);
    }
};

OSTRA_TEST_MAIN_CORE(TestDeviceConnections)
#include "tst_deviceconnections.moc"
