#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QTest>
#include <QTimer>

#include "api/wsaxishandler.h"
#include "apirig.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using corvane::VirtualDeviceSpec;
using corvane::WsAxisHandler;
using ostratest::ApiRig;

namespace {

QJsonObject settingsOf(ApiRig &api)
{
    return api.request("get_axis_settings").value("data").toObject();
}

// The axis settings as the active profile's file on disk holds them.
QJsonObject savedSettings(ApiRig &api)
{
    corvane::ProfileManager *store = api.rig.controller->profileManager();
    QFile file(store->profileFilePath(store->activeProfileId()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("axisSettings").toObject();
}

// The timers of the handler, held still: the test fires them itself.
void holdTimers(WsAxisHandler *handler)
{
    for (QTimer *timer : handler->findChildren<QTimer *>())
        timer->stop();
}

void fire(QObject *object, const char *slot)
{
    QMetaObject::invokeMethod(object, slot, Qt::DirectConnection);
}

QJsonArray ints(std::initializer_list<int> values)
{
    QJsonArray array;
    for (int value : values)
        array.append(value);
    return array;
}

} // namespace

class TestWsAxisHandler : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY((api = ApiRig::started<WsAxisHandler>(&handler)));
        holdTimers(handler);
    }
    void cleanup() { api.reset(); }

    void mergeSettings_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QJsonObject>("expected"); // the keys that change
        QTest::newRow("several keys at once")
            << json(R"({"wheelRotationDeg":3000,"steeringAngleDeg":-5,"gearThrottleLimitPercent":[50],"escMode":"standard","escNeutral":992.0})")
            << json(R"({"wheelRotationDeg":2520,"steeringAngleDeg":0,"gearThrottleLimitPercent":[50,100,100,100,100,100,100],"escMode":"standard","escNeutral":992})");
        QTest::newRow("rotation low") << json(R"({"wheelRotationDeg":45,"steeringAngleDeg":90})")
                                      << json(R"({"wheelRotationDeg":90,"steeringAngleDeg":90})");
        QTest::newRow("nine gears") << json(R"({"gearThrottleLimitPercent":[1,2,3,4,5,6,7,8,9]})")
                                    << json(R"({"gearThrottleLimitPercent":[1,2,3,4,5,6,7]})");
        QTest::newRow("custom") << json(R"({"escMode":"custom","escPresetId":7,"decelRate":100,"reverseEnabled":true})")
                                << json(R"({"escMode":"custom","escPresetId":"","decelRate":100,"reverseEnabled":true})");
        QTest::newRow("axes by position") << json(R"({"axes":[{},{},{"curve":"logarithmic"}]})") << QJsonObject();
        QTest::newRow("empty") << QJsonObject() << QJsonObject();
    }

    void mergeSettings()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QJsonObject, expected);
        // The steering axis starts exponential with a dead zone, so what keeps it shows.
        AxisSettings start = api->rig.controller->axisSettings();
        start.steering.curve = 1;
        start.steering.deadzone = 0.25f;
        api->rig.controller->setAxisSettings(start);
        QJsonObject wanted = settingsOf(*api);
        for (auto it = expected.begin(); it != expected.end(); ++it)
            wanted.insert(it.key(), it.value());
        if (QTest::currentDataTag() == QByteArray("axes by position")) {
            QJsonArray axes = wanted.value("axes").toArray();
            QJsonObject brake = axes.at(2).toObject();
            brake.insert("curve", "logarithmic");
            axes[2] = brake;
            wanted.insert("axes", axes);
        }

        QFile::remove(api->rig.controller->profileManager()->profileFilePath(api->rig.controller->profileManager()->activeProfileId()));
        QCOMPARE(api->request("set_axis_settings", data), ok("set_axis_settings"));
        QCOMPARE(settingsOf(*api), wanted);
        // Saved, also when nothing changed.
        const QJsonObject saved = savedSettings(*api);
        QCOMPARE(saved.value("wheelRotationDeg"), wanted.value("wheelRotationDeg"));
        QCOMPARE(saved.value("escNeutral"), wanted.value("escNeutral"));
        QCOMPARE(saved.value("Steering").toObject().value("deadzone").toDouble(), 0.25);
    }

    void escMode()
    {
        QCOMPARE(api->request("set_esc_mode", json(R"({"mode":"custom","neutral":1000,"presetId":"p1"})")), ok("set_esc_mode"));
        QCOMPARE(api->request("get_esc_mode").value("data").toObject(),
                 json(R"({"mode":"custom","neutral":1000,"fullForward":1811,"fullReverse":172,"presetId":"p1"})"));
        QCOMPARE(savedSettings(*api).value("escNeutral"), QJsonValue(1000));
    }

    void trim()
    {
        QCOMPARE(api->request("revert_steering_trim"),
                 json(R"({"event":"revert_steering_trim","success":true,"data":{"steeringLeft":0,"steeringCenter":0,"steeringRight":0}})"));

        QCOMPARE(api->request("set_steering_trim_live", {{"steeringCenter", 1000}}), ok("set_steering_trim_live"));
        // A second live value continues the same trim.
        QCOMPARE(api->request("set_steering_trim_live", {{"steeringCenter", 990}}), ok("set_steering_trim_live"));
        QCOMPARE(api->request("revert_steering_trim"),
                 json(R"({"event":"revert_steering_trim","success":true,"data":{"steeringLeft":0,"steeringCenter":1024,"steeringRight":2047}})"));

        QCOMPARE(api->request("set_steering_trim_live", {{"steeringCenter", 1010}, {"steeringLeft", 20}}), ok("set_steering_trim_live"));
        QCOMPARE(api->request("apply_steering_trim"), ok("apply_steering_trim"));
        QCOMPARE(savedSettings(*api).value("steeringLeft"), QJsonValue(20));
        // Closed: a revert now changes nothing and reports the values remembered last.
        QCOMPARE(api->request("revert_steering_trim").value("data").toObject(),
                 json(R"({"steeringLeft":0,"steeringCenter":1024,"steeringRight":2047})"));
        QCOMPARE(settingsOf(*api).value("steeringCenter"), QJsonValue(1010));
    }

    // A new ESC neutral while the car runs stops it; a live trim never does.
    void safetyStopWhileTransmitting()
    {
        QVERIFY(api->rig.startCar());
        QCOMPARE(api->request("set_steering_trim_live", {{"steeringCenter", 900}}), ok("set_steering_trim_live"));
        QCOMPARE(api->request("apply_steering_trim"), ok("apply_steering_trim"));
        QCOMPARE(api->request("set_axis_settings", {{"pitLimiterValue", 1300}}), ok("set_axis_settings"));
        QVERIFY(api->rig.controller->isRunning());
        QCOMPARE(api->request("set_esc_mode", {{"neutral", 1000}}), ok("set_esc_mode"));
        QVERIFY(!api->rig.controller->isRunning());
        QCOMPARE(api->rig.lastError(),
                 QString("Transmission stopped for safety: axis calibration changed. Verify the pedals and press Start Transmission again."));
    }

    void forceFeedbackWithoutWheel()
    {
        QCOMPARE(api->request("action_test_wheel_ffb", {{"level", 0.5}}), refused("action_test_wheel_ffb", "No FFB-capable wheel connected"));
        const QJsonObject set = api->request("set_wheel_ffb", json(R"({"strength":0.8,"centering":7,"enabled":true})"));
        QCOMPARE(set.value("data").toObject().value("enabled"), QJsonValue(false));
        QCOMPARE(set.value("data").toObject().value("centering"), QJsonValue(1));
        QCOMPARE(api->request("get_wheel_ffb").value("data"), set.value("data"));
    }

    void testPulse()
    {
        api->rig.input->addDevice(VirtualDeviceSpec("Virtual FFB Wheel", 8, 32, 1, true));
        QVERIFY(api->rig.controller->connectWheelBase(6));
        corvane::VirtualInputDevice *wheel = api->rig.input->devices().last();
        const auto magnitude = [wheel] {
            const auto effect = wheel->effect(corvane::InputEffectType::ConstantForce);
            return effect ? effect->params.magnitude : 0;
        };

        QCOMPARE(api->request("action_test_wheel_ffb", {{"level", 2}}), ok("action_test_wheel_ffb"));
        QCOMPARE(magnitude(), 10000);
        fire(handler, "endTestPulse");
        QCOMPARE(magnitude(), 0);

        QCOMPARE(api->request("action_test_wheel_ffb", {{"level", -0.5}}), ok("action_test_wheel_ffb"));
        QCOMPARE(magnitude(), -5000);
        QCOMPARE(api->request("action_test_wheel_ffb"), ok("action_test_wheel_ffb"));
        QCOMPARE(magnitude(), 0);

        const QJsonObject check = api->request("check_wheel_ffb").value("data").toObject();
        QCOMPARE(check.value("full"), QJsonValue(true));
        QVERIFY(!check.contains("errorCode"));
    }

    // Levels between two ticks: only the latest is pushed, and a tick without one sends nothing.
    void levelStream()
    {
        QVERIFY(api->client.subscribe({"event_wheel_ffb_level"}));
        emit api->rig.controller->ffbLevelReceived(0.25f);
        emit api->rig.controller->ffbLevelReceived(-0.5f);
        fire(handler, "pushFfbLevel");
        fire(handler, "pushFfbLevel");
        QCOMPARE(api->client.next(), json(R"({"event":"event_wheel_ffb_level","data":{"level":-0.5}})"));
        QCOMPARE(api->request("get_wheel_ffb").value("event"), QJsonValue("get_wheel_ffb"));
        QCOMPARE(api->client.received.size(), 3); // subscribe reply, one push, the reply
    }

    void shifterMapping()
    {
        QVERIFY(api->client.subscribe({"shifter_mapping_changed"}));
        api->client.send({{"event", "set_shifter_mapping"}, {"data", json(R"({"buttonIndex":[3]})")}});
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "shifter_mapping_changed"}, {"data", QJsonObject{{"buttonIndex", ints({3, 7, 0, 1, 2, 3, 4, 5, 6})}}}}));
        QCOMPARE(api->client.next(), ok("set_shifter_mapping"));
        api->request("action_unsubscribe", {{"events", QJsonArray{"shifter_mapping_changed"}}});
        QCOMPARE(api->request("set_shifter_mapping", json(R"({"buttonIndex":[9,8,7,6,5,4,3,2,1,0]})")), ok("set_shifter_mapping"));
        QCOMPARE(api->request("get_shifter_mapping").value("data").toObject().value("buttonIndex"), QJsonValue(ints({9, 8, 7, 6, 5, 4, 3, 2, 1})));
        QCOMPARE(api->request("set_shifter_mapping", json(R"({"buttonIndex":5})")),
                 refused("set_shifter_mapping", "'buttonIndex' must be an array, not a number"));
        QCOMPARE(api->request("get_shifter_mapping").value("data").toObject().value("buttonIndex"), QJsonValue(ints({9, 8, 7, 6, 5, 4, 3, 2, 1})));
        QCOMPARE(api->request("set_shifter_mapping", json(R"({"buttonIndex":[]})")), ok("set_shifter_mapping"));
        QCOMPARE(api->request("get_shifter_mapping").value("data").toObject().value("buttonIndex"), QJsonValue(ints({-1, 7, 0, 1, 2, 3, 4, 5, 6})));
        QCOMPARE(api->request("set_shifter_mapping"), refused("set_shifter_mapping", "Missing 'buttonIndex' array"));
    }

    void shifterDetection_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message");
        const QString invalid = "Invalid gearIndex: must be 0-8";
        QTest::newRow("9") << json(R"({"gearIndex":9})") << invalid;
        QTest::newRow("2.5") << json(R"({"gearIndex":2.5})") << invalid;
        QTest::newRow("missing") << QJsonObject() << "Missing 'gearIndex' (0=neutral, 1=reverse, 2-8=gears 1-7)";
    }

    void shifterDetection()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QVERIFY(api->client.subscribe({"shifter_detection_result", "shifter_detection_started"}));
        api->client.send({{"event", "start_shifter_detection"}, {"data", data}});
        QCOMPARE(api->client.next(), refused("start_shifter_detection", message));
    }

    // No shifter: the failure comes at once, before the reply; a lost shifter names its gear.
    void shifterDetectionResults()
    {
        QVERIFY(api->client.subscribe({"shifter_detection_result", "shifter_detection_started"}));
        api->client.send({{"event", "start_shifter_detection"}, {"data", QJsonObject{{"gearIndex", 1}}}});
        QCOMPARE(api->client.next(), json(R"({"event":"shifter_detection_result","data":{"gearIndex":1,"gearName":"Reverse","buttonIndex":-1,"success":false}})"));
        QCOMPARE(api->client.next(), json(R"({"event":"start_shifter_detection","success":true,"gearIndex":1})"));

        QVERIFY(api->rig.controller->shifter()->open(ostratest::TransmitRig::ShifterPos));
        api->client.send({{"event", "start_shifter_detection"}, {"data", QJsonObject{{"gearIndex", 8}}}});
        QCOMPARE(api->client.next(), json(R"({"event":"shifter_detection_started","data":{"gearIndex":8,"gearName":"Gear 7"}})"));
        QCOMPARE(api->client.next(), json(R"({"event":"start_shifter_detection","success":true,"gearIndex":8})"));
        api->rig.shifter->unplug();
        for (int i = 0; i < 3 && api->client.pending().isEmpty(); ++i) {
            fire(api->rig.controller.get(), "onShifterDetectionPoll");
            QCoreApplication::processEvents();
        }
        QCOMPARE(api->client.next(), json(R"({"event":"shifter_detection_result","data":{"gearIndex":8,"gearName":"Gear 7","buttonIndex":-1,"success":false}})"));
    }

    void buttonDetection()
    {
        QCOMPARE(api->request("start_button_detection", {{"deviceName", "Wheelbase"}}),
                 refused("start_button_detection", "Invalid deviceName: must be 'wheelbase', 'pedals', or 'shifter'"));
        QCOMPARE(api->request("start_button_detection"),
                 refused("start_button_detection", "Missing 'deviceName' (e.g. 'wheelbase', 'pedals', 'shifter')"));
        QVERIFY(api->rig.controller->wheelBase()->open(ostratest::TransmitRig::WheelPos));
        QVERIFY(api->client.subscribe({"button_detection_started", "button_detection_result"}));
        api->client.send({{"event", "start_button_detection"}, {"data", QJsonObject{{"deviceName", "wheelbase"}}}});
        QCOMPARE(api->client.next(), json(R"({"event":"button_detection_started","data":{"deviceName":"wheelbase"}})"));
        QCOMPARE(api->client.next(), json(R"({"event":"start_button_detection","success":true,"deviceName":"wheelbase"})"));
        api->rig.wheel->setButton(5, true);
        QCOMPARE(api->client.next(), json(R"({"event":"button_detection_result","data":{"buttonIndex":5,"success":true}})"));
        QCOMPARE(api->request("stop_button_detection"), ok("stop_button_detection"));
    }

    void axisMappings()
    {
        QCOMPARE(api->request("get_pedals_axis_mapping"),
                 json(R"({"event":"error","source":"get_pedals_axis_mapping","message":"Pedals are not connected"})"));
        QCOMPARE(api->request("set_wheelbase_axis_mapping"), refused("set_wheelbase_axis_mapping", "Wheel base is not connected"));
        QVERIFY(api->rig.controller->connectPedals(ostratest::TransmitRig::PedalsPos));
        QVERIFY(api->rig.controller->connectWheelBase(ostratest::TransmitRig::WheelPos));

        QCOMPARE(api->request("set_pedals_axis_mapping", json(R"({"map":[2]})")), ok("set_pedals_axis_mapping"));
        QCOMPARE(api->request("get_pedals_axis_mapping").value("data").toObject(),
                 json(R"({"map":[2,1,2,3],"inverted":[false,false,false,false],"presetName":""})"));

        QCOMPARE(api->request("set_wheelbase_axis_mapping", json(R"({"map":[0,1,2,3,4],"inverted":[true],"presetName":"Mine","combinedPedals":true,"combinedPedalsCenter":0.5})")),
                 ok("set_wheelbase_axis_mapping"));
        QCOMPARE(api->request("get_wheelbase_axis_mapping").value("data").toObject(),
                 json(R"({"map":[0,1,2,3],"inverted":[true,false,false,false],"presetName":"Mine","combinedPedals":true,"combinedPedalsCenter":0.5})"));
    }

    void pushes()
    {
        QVERIFY(api->client.subscribe({"reverse_mode_changed", "event_receiver_ffb"}));
        emit api->rig.controller->reverseModeChanged(true);
        QCOMPARE(api->client.next(), json(R"({"event":"reverse_mode_changed","data":{"active":true,"source":"button"}})"));
        emit api->rig.controller->receiverFfbStateChanged(corvane::ReceiverFfbNoResponse);
        QCOMPARE(api->client.next(), json(R"({"event":"event_receiver_ffb","data":{"state":"missing"}})"));
    }

private:
    std::unique_ptr<ApiRig> api;
    WsAxisHandler *handler = nullptr;
};

OSTRA_TEST_MAIN_CORE(TestWsAxisHandler)
#include "tst_wsaxishandler.moc"
