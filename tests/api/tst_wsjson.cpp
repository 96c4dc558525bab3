#include <QCoreApplication>
#include <QJsonArray>
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

// The one rule for the numbers and flags of every request that sets them, over a real socket:
// an absent key keeps its value, a wrong type or a value outside the desktop dialog's range is
// refused naming the key and stores nothing of the request, and a value the API clamps stays
// clamped. Each row reads the field back through its get_ request.
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

        const auto row = [](const char *tag, const char *event, const char *data, const QString &refusal,
                            const char *read, const char *path, const QJsonValue &stored = QJsonValue()) {
            QTest::newRow(tag) << QString(event) << json(data) << refusal << QString(read) << QString(path) << stored;
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
        row("mapping output beyond the channel", "action_add_button_mapping", R"({"buttonIndex":1,"outputValue":5000})",
            "'outputValue' must be " + escChannel, "get_button_mappings", "mappings/0/outputValue");
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

        // Race control: percentages and the time-out stay clamped, as race control relies on.
        row("watchdog text", "set_lounge_watchdog", R"({"enabled":true,"timeoutMs":"5000"})",
            "'timeoutMs' must be a whole number, not a string", "get_lounge_state", "watchdog");
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

private:
    std::unique_ptr<ApiRig> api;
    QString preset;
};

OSTRA_TEST_MAIN_CORE(TestWsJson)
#include "tst_wsjson.moc"
