#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "api/wsaxishandler.h"
#include "api/wsbuttonhandler.h"
#include "api/wsdevicehandler.h"
#include "api/wsescpresethandler.h"
#include "api/wshelicopterhandler.h"
#include "api/wsledhandler.h"
#include "api/wsloungehandler.h"
#include "api/wsreceiverhandler.h"
#include "api/wssecurityhandler.h"
#include "api/wstelemetryhandler.h"
#include "api/wstransmissionhandler.h"
#include "apirig.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using ostratest::ApiRig;

namespace {

// The value at a slash-separated path ("axes/0/maxOutput"); undefined where there is none.
QJsonValue at(QJsonValue value, const QString &path)
{
    for (const QString &step : path.split('/')) {
        bool isIndex = false;
        const int index = step.toInt(&isIndex);
        value = isIndex ? value.toArray().at(index) : value.toObject().value(step);
    }
    return value;
}

} // namespace

// The one rule for the values of every request that sets them, over a real socket: an absent key
// keeps its value, a wrong type, a choice that names none, a value outside the desktop dialog's
// range or a text beyond its limit is refused naming the key and stores nothing of the request,
// a value the API clamps stays clamped, and a value equal to the stored one passes. Each row
// reads the field back through its get_ request.
class TestWsJson : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        api = std::make_unique<ApiRig>();
        api->add<corvane::WsDeviceHandler>();
        api->add<corvane::WsTransmissionHandler>();
        api->add<corvane::WsAxisHandler>();
        api->add<corvane::WsButtonHandler>();
        api->add<corvane::WsEscPresetHandler>();
        api->add<corvane::WsLedHandler>();
        api->add<corvane::WsSecurityHandler>();
        api->add<corvane::WsHelicopterHandler>();
        api->add<corvane::WsTelemetryHandler>();
        api->add<corvane::WsReceiverHandler>();
        api->add<corvane::WsLoungeHandler>();
        QVERIFY(api->start());
        QVERIFY(api->rig.connectCar(true, true));
        corvane::CorvaneController *controller = api->rig.controller.get();
        ButtonMappingSet buttons;
        buttons.mappings.append(ostratest::TransmitRig::buttonMapping(1, 4, 0, 2047));
        QVERIFY(controller->setButtonMappings(buttons));
        preset = controller->profileManager()->createEscPreset(QStringLiteral("Crawler"), 1000, 1700, 300);
        QVERIFY(!preset.isEmpty());
    }
    void cleanup() { api.reset(); }

    void requestValues_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::addColumn<QString>("read");    // the get_ request, and the path in its data
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonValue>("stored"); // after an accepted request; a refusal changes nothing

        const auto rowWith = [](const char *tag, const char *event, const QJsonObject &data, const QString &refusal,
                                const char *read, const char *path, const QJsonValue &stored = QJsonValue()) {
            QTest::newRow(tag) << QString(event) << data << refusal << QString(read) << QString(path) << stored;
        };
        const auto row = [&](const char *tag, const char *event, const char *data, const QString &refusal,
                             const char *read, const char *path, const QJsonValue &stored = QJsonValue()) {
            rowWith(tag, event, json(data), refusal, read, path, stored);
        };
        const QString escChannel = QStringLiteral("a channel value from 0 to 2047");

        // Drive settings: wrong types refused, whole numbers sent as 992.0 taken.
        row("esc text", "set_esc_mode", R"({"mode":"custom","neutral":"992"})",
            "'neutral' must be " + escChannel + ", not a string", "get_esc_mode", "neutral");
        row("esc text, mode not stored", "set_esc_mode", R"({"mode":"custom","neutral":"992"})",
            "'neutral' must be " + escChannel + ", not a string", "get_esc_mode", "mode");
        row("esc fraction", "set_esc_mode", R"({"neutral":992.5})", "'neutral' must be " + escChannel, "get_esc_mode",
            "neutral");
        row("esc null", "set_esc_mode", R"({"fullForward":null})", "'fullForward' must be " + escChannel + ", not null",
            "get_esc_mode", "fullForward");
        row("esc bool", "set_esc_mode", R"({"fullReverse":true})", "'fullReverse' must be " + escChannel + ", not true",
            "get_esc_mode", "fullReverse");
        row("esc whole as fraction", "set_esc_mode", R"({"neutral":1000.0})", QString(), "get_esc_mode", "neutral", 1000);
        row("esc beyond the channel", "set_esc_mode", R"({"fullForward":2048})", "'fullForward' must be " + escChannel,
            "get_esc_mode", "fullForward");
        row("escNeutral text", "set_axis_settings", R"({"escNeutral":"992"})",
            "'escNeutral' must be " + escChannel + ", not a string", "get_axis_settings", "escNeutral");
        row("steeringCenter text", "set_axis_settings", R"({"steeringCenter":"1024"})",
            "'steeringCenter' must be " + escChannel + ", not a string", "get_axis_settings", "steeringCenter");
        row("pitLimiterValue text", "set_axis_settings", R"({"pitLimiterValue":"1200"})",
            "'pitLimiterValue' must be " + escChannel + ", not a string", "get_axis_settings", "pitLimiterValue");
        row("rotation text", "set_axis_settings", R"({"wheelRotationDeg":"900"})",
            "'wheelRotationDeg' must be a whole number, not a string", "get_axis_settings", "wheelRotationDeg");
        row("rotation clamped", "set_axis_settings", R"({"wheelRotationDeg":3000})", QString(), "get_axis_settings",
            "wheelRotationDeg", 2520);
        row("steering angle below the slider", "set_axis_settings", R"({"steeringAngleDeg":1})",
            "'steeringAngleDeg' must be 0 or a whole number from 90 to 2520", "get_axis_settings", "steeringAngleDeg");
        row("maxOutput text", "set_axis_settings", R"({"axes":[{"maxOutput":"1"}]})",
            "'axes[0].maxOutput' must be a number from 0 to 1, not a string", "get_axis_settings", "axes/0/maxOutput");
        row("deadzone beyond the slider", "set_axis_settings", R"({"axes":[{},{"deadzone":0.6}]})",
            "'axes[1].deadzone' must be a number from 0 to 0.5", "get_axis_settings", "axes/1/deadzone");
        row("axis null", "set_axis_settings", R"({"axes":[null,1,"x"]})", "'axes[0]' must be an object, not null",
            "get_axis_settings", "axes");
        row("axis number", "set_axis_settings", R"({"axes":[{},1,{"inverted":true}]})",
            "'axes[1]' must be an object, not a number", "get_axis_settings", "axes");
        row("axis beyond the profile's", "set_axis_settings", R"({"axes":[{"inverted":true},{},{},{},{}]})",
            "'axes[4]' must be left out: there are 4 axes", "get_axis_settings", "axes");
        row("decel rate negative", "set_axis_settings", R"({"decelRate":-100000})",
            "'decelRate' must be a whole number from 1 to 100", "get_axis_settings", "decelRate");
        row("reverse percent huge", "set_axis_settings", R"({"reverseMaxPercent":2147483647})",
            "'reverseMaxPercent' must be a whole number from 0 to 100", "get_axis_settings", "reverseMaxPercent");
        row("gear limit text, first not stored", "set_axis_settings", R"({"gearThrottleLimitPercent":[50,"x"]})",
            "'gearThrottleLimitPercent[1]' must be a whole number from 0 to 100, not a string", "get_axis_settings",
            "gearThrottleLimitPercent/0");
        row("absent keeps", "set_axis_settings", R"({"decelRate":50})", QString(), "get_axis_settings", "escNeutral", 992);
        row("flag as number", "set_axis_settings", R"({"reverseEnabled":1})",
            "'reverseEnabled' must be true or false, not a number", "get_axis_settings", "reverseEnabled");
        row("trim text", "set_steering_trim_live", R"({"steeringCenter":"1000"})",
            "'steeringCenter' must be " + escChannel + ", not a string", "get_axis_settings", "steeringCenter");
        row("ffb text", "set_wheel_ffb", R"({"strength":"0.5"})", "'strength' must be a number, not a string",
            "get_wheel_ffb", "strength");
        row("ffb clamped", "set_wheel_ffb", R"({"centering":7})", QString(), "get_wheel_ffb", "centering", 1);
        row("pedal axis far off", "set_pedals_axis_mapping", R"({"map":[0,-100000]})",
            "'map[1]' must be a whole number from -1 to 7", "get_pedals_axis_mapping", "map/1");
        row("gear button text", "set_shifter_mapping", R"({"buttonIndex":[3,"7"]})",
            "'buttonIndex[1]' must be a whole number from -1 to 127, not a string", "get_shifter_mapping", "buttonIndex/0");

        // Button mappings and ESC presets.
        row("mapping channel far off", "set_button_mappings", R"({"mappings":[{"buttonIndex":2,"channel":-100000}]})",
            "'mappings[0].channel' must be a whole number from 2 to 11", "get_button_mappings", "mappings/0/channel");
        row("mapping output held within the channel", "action_add_button_mapping", R"({"buttonIndex":1,"outputValue":5000})",
            QString(), "get_button_mappings", "mappings/0/outputValue", 2047);
        row("preset text", "action_update_esc_preset", R"({"id":"$preset","neutral":"1200"})",
            "'neutral' must be " + escChannel + ", not a string", "get_esc_presets", "presets/0/neutral");
        row("preset absent keeps", "action_update_esc_preset", R"({"id":"$preset","fullForward":1900})", QString(),
            "get_esc_presets", "presets/0/neutral", 1000);
        row("new preset bool", "action_create_esc_preset", R"({"name":"B","neutral":true})",
            "'neutral' must be " + escChannel + ", not true", "get_esc_presets", "presets/1");

        // LED strip: components are bytes, the count is clamped.
        row("colour beyond a byte", "set_led_color", R"({"r":300})", "'r' must be a whole number from 0 to 255",
            "get_led_settings", "globalColor/r");
        row("colour object text", "set_led_settings", R"({"ledCount":10,"globalColor":{"g":"9"}})",
            "'globalColor.g' must be a whole number from 0 to 255, not a string", "get_led_settings", "ledCount");
        row("count text", "set_led_count", R"({"count":"12"})", "'count' must be a whole number, not a string",
            "get_led_settings", "ledCount");
        row("count clamped", "set_led_count", R"({"count":1000})", QString(), "get_led_settings", "ledCount", 100);
        row("zone start negative", "add_zone", R"({"startPercent":-5})", "'startPercent' must be a whole number from 0 to 100",
            "get_led_settings", "rangeZones/0");
        row("power button beyond the list", "set_led_settings", R"({"powerButtonIndex":99})",
            "'powerButtonIndex' must be a whole number from -1 to 31", "get_led_settings", "powerButtonIndex");

        // Race control is never refused: a value it cannot use keeps the station's, percentages and
        // the time-out stay clamped.
        row("watchdog text keeps", "set_lounge_watchdog", R"({"enabled":true,"timeoutMs":"5000"})", QString(),
            "get_lounge_state", "watchdogTimeoutMs", 2000);
        row("speed cap fraction keeps", "set_lounge_speed_cap", R"({"percent":12.5})", QString(), "get_lounge_state",
            "speedCapPercent", 60);
        row("speed cap clamped", "set_lounge_speed_cap", R"({"enabled":true,"percent":150})", QString(), "get_lounge_state",
            "speedCapPercent", 100);
        row("pit limiter absent keeps", "set_lounge_pit_limiter", R"({"enabled":true})", QString(), "get_lounge_state",
            "pitLimiterPercent", 30);

        // Receiver, helicopter and the single flags.
        row("receiver flag as number", "set_receiver_config", R"({"settings":{"gpsEnabled":1}})",
            "'settings.gpsEnabled' must be true or false, not a number", "get_receiver_config", "settings/gpsEnabled");
        row("receiver hud snapped", "set_receiver_config", R"({"settings":{"hudTopKmh":62}})", QString(),
            "get_receiver_config", "settings/hudTopKmh", 60);
        row("soft start negative", "set_helicopter_config", R"({"fly":{"softStartSec":-1}})",
            "'fly.softStartSec' must be a whole number from 1 to 10", "get_helicopter_config", "fly/softStartSec");
        row("curve point beyond 1", "set_helicopter_config", R"({"fly":{"pitchCurve":{"points":[0.2,1.5]}}})",
            "'fly.pitchCurve.points[1]' must be a number from 0 to 1", "get_helicopter_config", "fly/pitchCurve/points/0");
        row("heli channel far off", "set_helicopter_config", R"({"channels":{"roll":-100000}})",
            "'channels.roll' must be a whole number from 0 to 15", "get_helicopter_config", "channels/roll");
        row("heli channel", "set_helicopter_config", R"({"channels":{"roll":5}})", QString(), "get_helicopter_config",
            "channels/roll", 5);
        row("rate mode text", "action_set_rate_mode", R"({"mode":"2"})", "'mode' must be a whole number, not a string",
            "get_helicopter_output", "rateMode");
        row("rate mode clamped", "action_set_rate_mode", R"({"mode":7})", QString(), "get_helicopter_output", "rateMode", 2);
        row("armed text", "action_set_heli_armed", R"({"armed":"true"})", "'armed' must be true or false, not a string",
            "get_heli_armed", "armed");
        row("provisioning text", "action_set_provisioning_mode", R"({"enabled":"yes"})",
            "'enabled' must be true or false, not a string", "get_transmitter_security", "provisioningMode");
        row("discovery as number", "set_telemetry_discovery", R"({"enabled":0})",
            "'enabled' must be true or false, not a number", "get_telemetry_sensors", "discover");
        row("auto start text", "set_auto_start", R"({"enabled":"on"})", "'enabled' must be true or false, not a string",
            "get_auto_start", "enabled");
        row("baud rate text", "action_connect_receiver", R"({"port":"ttyUSB9","baudRate":"fast"})",
            "'baudRate' must be a whole number, not a string", "get_receiver_status", "connected");
        // A whole number beyond int is refused where nothing clamps it.
        row("baud rate beyond int", "action_connect_receiver", R"({"port":"ttyUSB9","baudRate":1e10})",
            "'baudRate' must be a whole number", "get_receiver_status", "connected");
        row("LED index beyond int", "set_led_color", R"({"r":9,"index":1e10})", "'index' must be a whole number",
            "get_led_settings", "globalColor/r");
        row("rate mode far beyond", "action_set_rate_mode", R"({"mode":1e10})", QString(), "get_helicopter_output",
            "rateMode", 2);

        // Choices are named exactly.
        row("esc mode wrongly cased", "set_axis_settings", R"({"escMode":"CUSTOM","escNeutral":1000})",
            R"('escMode' must be "standard" or "custom")", "get_axis_settings", "escNeutral");
        row("esc mode as number", "set_esc_mode", R"({"mode":2})", R"('mode' must be "standard" or "custom", not a number)",
            "get_esc_mode", "mode");
        row("curve wrongly cased", "set_axis_settings", R"({"axes":[{"curve":"Exponential"}]})",
            R"('axes[0].curve' must be "linear", "exponential" or "logarithmic")", "get_axis_settings", "axes/0/curve");
        const QString ledModes = R"(must be "global", "per_led" or "range")";
        row("LED mode unknown", "set_led_mode", R"({"mode":"PER_LED"})", "'mode' " + ledModes, "get_led_settings", "mode");
        row("LED mode as number", "set_led_settings", R"({"ledCount":12,"mode":1})", "'mode' " + ledModes + ", not a number",
            "get_led_settings", "ledCount");

        // Texts a request stores: names as the name rule has them, ids as the program makes them.
        const QString name64(64, 'n');
        const QString name65(65, 'n');
        const auto tooLong = [](const char *key, int limit) {
            return QStringLiteral("'%1' must be a text of at most %2 characters").arg(QLatin1String(key)).arg(limit);
        };
        rowWith("mapping name at the limit", "set_button_mappings",
                {{"mappings", QJsonArray{QJsonObject{{"buttonIndex", 2}, {"channel", 4}, {"name", name64}}}}}, QString(),
                "get_button_mappings", "mappings/0/name", name64);
        rowWith("mapping name too long", "action_add_button_mapping", {{"buttonIndex", 1}, {"name", name65}},
                tooLong("name", 64), "get_button_mappings", "mappings/0/name");
        rowWith("preset id too long", "set_esc_mode", {{"presetId", QString(37, 'p')}}, tooLong("presetId", 36),
                "get_esc_mode", "presetId");
        rowWith("axis preset id too long", "set_axis_settings", {{"escPresetId", QString(37, 'p')}},
                tooLong("escPresetId", 36), "get_axis_settings", "escPresetId");
        rowWith("calibration name too long", "set_helicopter_config",
                {{"calibration", QJsonObject{{"roll", QJsonObject{{"name", name65}}}}}}, tooLong("calibration.roll.name", 64),
                "get_helicopter_config", "calibration/roll/name");
        row("pinned id too long", "set_telemetry_dashboard", R"({"pinned":["GSpd","GSpd2"]})", tooLong("pinned[1]", 4),
            "get_telemetry_dashboard", "pinned");
        rowWith("sensor name too long", "action_telemetry_sensor_rename", {{"id", "GSpd"}, {"name", name65}},
                tooLong("name", 64), "get_telemetry_sensors", "sensors");
        rowWith("axis preset name too long", "set_pedals_axis_mapping", {{"presetName", name65}}, tooLong("presetName", 64),
                "get_pedals_axis_mapping", "presetName");
        rowWith("receiver command too long", "action_receiver_command", {{"command", QString(65, 'c')}},
                tooLong("command", 64), "get_receiver_config", "status");
    }

    void requestValues()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, refusal);
        QFETCH(QString, read);
        QFETCH(QString, path);
        QFETCH(QJsonValue, stored);
        if (data.value("id") == QJsonValue("$preset"))
            data.insert("id", preset);
        const QJsonValue before = at(api->request(read).value("data"), path);

        const QJsonObject reply = api->request(event, data);
        if (refusal.isEmpty()) {
            // Accepted: "success" true, or the lounge's reply, which carries none.
            QVERIFY2(reply.value("success").toBool() || (!reply.contains("success") && reply.value("event") == event),
                     qPrintable(QJsonDocument(reply).toJson()));
            QCOMPARE(at(api->request(read).value("data"), path), stored);
            return;
        }
        QCOMPARE(reply.value("message").toString(), refusal);
        // Refused: "success" false, or the lounge's error form.
        QVERIFY(reply.value("success") == QJsonValue(false) || reply.value("source") == event);
        QCOMPARE(at(api->request(read).value("data"), path), before);
    }

    // An app sends back what it read: each get_ request's data, sent unchanged to its set_
    // request, is taken, also where the profile holds values beyond the dialogs' ranges that the
    // file reader keeps ("$id" and "$name" stand for an id and a name longer than requests take).
    void echo_data()
    {
        QTest::addColumn<QString>("get");
        QTest::addColumn<QString>("set");
        QTest::addColumn<QByteArray>("profile");
        const auto row = [](const char *tag, const char *get, const char *set, const QByteArray &profile) {
            QTest::newRow(tag) << QString(get) << QString(set) << profile;
        };
        row("axis settings", "get_axis_settings", "set_axis_settings",
            R"({"axisSettings":{"steeringAngleDeg":45,"decelRate":100000,"reverseButtonIndex":500,"escMode":3,
                "gearThrottleLimitPercent":[150],"Steering":{"deadzone":0.9,"curve":7},"escPresetId":"$id"}})");
        row("ESC mode", "get_esc_mode", "set_esc_mode", R"({"axisSettings":{"escPresetId":"$id"}})");
        row("button mappings", "get_button_mappings", "set_button_mappings",
            R"({"buttonMappings":[{"buttonIndex":9999,"channel":0,"mode":9,"rateUnitsPerSec":100000,"name":"$name"}]})");
        row("LED strip", "get_led_settings", "set_led_settings",
            R"({"ledSettings":{"ledCount":100000,"brightness":500,"powerButtonIndex":99,"selectedLedIndex":5000,
                "rangeZones":[{"startPercent":150,"endPercent":-5}]}})");
        row("helicopter", "get_helicopter_config", "set_helicopter_config",
            R"({"helicopterConfig":{"channels":{"roll":99},"inputs":{"joystick":{"xAxis":20}},
                "fly":{"softStartSec":0,"arm":{"onUs":1000000000},"pitchCurve":{"points":[2]}},
                "calibration":{"roll":{"deadzone":0.9,"name":"$name"}}}})");
        row("shifter", "get_shifter_mapping", "set_shifter_mapping",
            R"({"deviceConnections":{"shifter":{"productName":"MOZA HGP Shifter","hasCustomShifterMapping":true,
                "shifterMapping":{"buttonIndex":[500]}}}})");
        row("pedal axes", "get_pedals_axis_mapping", "set_pedals_axis_mapping",
            R"({"deviceConnections":{"pedals":{"productName":"MOZA SRP Pedals","hasCustomAxisMapping":true,
                "axisMapping":{"map":[9],"presetName":"$name","combinedPedalsCenter":5}}}})");
        row("pinned sensors", "get_telemetry_dashboard", "set_telemetry_dashboard", R"({"telemetryDashboard":["$id"]})");
        row("wheel force feedback", "get_wheel_ffb", "set_wheel_ffb", R"({"wheelFfb":{"strength":5}})");
    }

    void echo()
    {
        QFETCH(QString, get);
        QFETCH(QString, set);
        QFETCH(QByteArray, profile);
        QJsonObject stored = QJsonDocument::fromJson(
            profile.replace("$id", QByteArray(40, 'i')).replace("$name", QByteArray(80, 'n'))).object();
        QVERIFY(!stored.isEmpty());
        stored.insert("id", "echo");
        stored.insert("name", "Echo");
        QTemporaryDir dir;
        QFile file(dir.filePath("echo.json"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(stored).toJson()) > 0);
        file.close();
        corvane::CorvaneController *controller = api->rig.controller.get();
        corvane::ProfileManager *store = controller->profileManager();
        QString id;
        QVERIFY(store->importProfile(file.fileName(), &id) && store->setActiveProfile(id));
        // Connected anew, the pedals and the shifter take the mappings stored for them.
        QVERIFY(controller->connectPedals(ostratest::TransmitRig::PedalsPos));
        QVERIFY(controller->connectShifter(ostratest::TransmitRig::ShifterPos));

        const QJsonObject read = api->request(get).value("data").toObject();
        const QJsonObject reply = api->request(set, read);
        QVERIFY2(reply.value("success").toBool(), qPrintable(reply.value("message").toString()));
        QCOMPARE(api->request(get).value("data").toObject(), read);
    }

private:
    std::unique_ptr<ApiRig> api;
    QString preset;
};

OSTRA_TEST_MAIN_CORE(TestWsJson)
#include "tst_wsjson.moc"
