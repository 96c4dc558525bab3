#include <QTest>

#include <algorithm>

#include "api/wsledhandler.h"
#include "apirig.h"
#include "profiles/profilemanager.h"
#include "support/heldrenames.h"
#include "support/testenvironment.h"

using corvane::WsLedHandler;

class TestWsLedHandler : public QObject
{
    Q_OBJECT

    // The handler behind a real server with the maker's receiver on a pty; the client hears
    // the push progress.
    std::unique_ptr<ostratest::ReceiverApiRig> led;

    LedSettings stored() const { return led->rig.controller->ledSettings(); }
    bool pending() { return led->request("get_led_status").value("data").toObject().value("configPending").toBool(); }

private slots:
    void init()
    {
        QVERIFY((led = ostratest::ReceiverApiRig::started<WsLedHandler>()));
        QVERIFY(led->client.subscribe({"event_led_push_progress"}));
    }

    void cleanup() { led.reset(); }

    void limits_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("value");
        // Another client's request while the disk holds this one's write; its reply then tells
        // the value as it is when it goes.
        QTest::addColumn<QJsonObject>("meanwhile");
        QTest::newRow("count 0") << "set_led_count" << json(R"({"count":0})") << "ledCount" << 1 << QJsonObject();
        QTest::newRow("count 1000") << "set_led_count" << json(R"({"count":1000})") << "ledCount" << 100 << QJsonObject();
        QTest::newRow("settings count 300") << "set_led_settings" << json(R"({"ledCount":300})") << "ledCount" << 100
                                            << QJsonObject();
        QTest::newRow("brightness 150") << "set_led_brightness" << json(R"({"brightness":150})") << "brightness" << 99
                                        << QJsonObject();
        QTest::newRow("share 120") << "set_active_percentage" << json(R"({"percentage":120})") << "activePercentage" << 100
                                   << QJsonObject();
        QTest::newRow("power on behind a slow write, another client's off")
            << "set_led_power" << json(R"({"on":true})") << "powerOn" << 0
            << json(R"({"event":"set_led_power","data":{"on":false}})");
    }

    void limits()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, key);
        QFETCH(int, value);
        QFETCH(QJsonObject, meanwhile);
        const auto storedValue = [&] { return stored().toJson().value(key).toVariant().toInt(); };
        QJsonObject reply;
        if (meanwhile.isEmpty()) {
            reply = led->request(event, data);
        } else {
            ostratest::WsTestClient another;
            QVERIFY(another.open(led->server.serverPort()));
            {
                ostratest::HeldRenames held(led->rig.controller->profileManager()->activeProfileId() + ".json");
                led->client.send({{"event", event}, {"data", data}});
                QTRY_COMPARE(held.waiting(), 1);
                another.send(meanwhile);
                QTRY_COMPARE(storedValue(), value);
            }
            QCOMPARE(another.next().value("success"), QJsonValue(true));
            reply = led->client.next();
        }
        if (event != "set_led_settings")
            QCOMPARE(reply.value(key).toVariant().toInt(), value);
        // Stored in the profile file at once.
        QCOMPARE(led->rig.controller->profileManager()->activeProfile()->ledSettings.toJson().value(key).toVariant().toInt(), value);
    }

    void missingParameter()
    {
        QCOMPARE(led->request("set_led_count"), json(R"({"event":"set_led_count","success":false,"message":"Missing 'count' parameter"})"));
        QCOMPARE(led->request("set_led_power").value("message").toString(), QStringLiteral("Missing 'on' parameter"));
    }

    void selectedLedAndColours()
    {
        QCOMPARE(led->request("set_led_mode", {{"mode", "per_led"}}).value("mode").toString(), QStringLiteral("per_led"));
        led->request("set_led_color", json(R"({"index":7,"color":{"r":255,"g":0,"b":0}})"));
        QCOMPARE(led->request("set_selected_led", {{"index", 99}}),
                 json(R"({"event":"set_selected_led","success":true,"selectedLedIndex":7,"color":{"r":255,"g":0,"b":0}})"));
        // An index past the strip is still kept while the receiver could light it.
        led->request("set_led_color", json(R"({"index":99,"color":{"r":1,"g":2,"b":3}})"));
        QCOMPARE(stored().ledColors.last().index, 99);
        led->request("set_led_mode", {{"mode", "global"}});
        // A component is one byte: 300 is refused rather than wrapped to 44.
        QCOMPARE(led->request("set_led_color", {{"r", 300}}),
                 refused("set_led_color", "'r' must be a whole number from 0 to 255"));
        QCOMPARE(led->request("set_led_color", {{"r", 200}}).value("color"), QJsonValue(json(R"({"r":200,"g":255,"b":0})")));
        QCOMPARE(stored().globalColor.r, std::uint8_t(200));
    }

    // One entry per LED the receiver drives, however many the record already holds; an LED it
    // never gets is refused and nothing is stored.
    void perLedEntriesAreBounded_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("taken");
        QTest::newRow("first") << 0 << true;
        QTest::newRow("last the receiver drives") << 99 << true;
        QTest::newRow("one past") << 100 << false;
        QTest::newRow("far past") << 500 << false;
        QTest::newRow("negative") << -1 << false;
    }

    void perLedEntriesAreBounded()
    {
        QFETCH(int, index);
        QFETCH(bool, taken);
        LedSettings full;
        full.mode = LedMode::PerLed;
        for (int i = 0; i < 300; ++i)
            full.ledColors.append({i, RgbColor()});
        led->rig.controller->setLedSettings(full);
        const QJsonObject reply = led->request("set_led_color", {{"index", index}, {"color", json(R"({"r":9,"g":9,"b":9})")}});
        QCOMPARE(reply.value("success").toBool(), taken);
        QCOMPARE(reply.value("message").toString(),
                 taken ? QString() : QStringLiteral("LED index out of range: the receiver drives LEDs 0 to 99."));
        const LedSettings now = stored();
        QCOMPARE(now.ledColors.size(), 300);
        const auto recoloured = std::count_if(now.ledColors.cbegin(), now.ledColors.cend(),
                                              [](const LedColorEntry &entry) { return entry.color.r == 9; });
        QCOMPARE(recoloured, taken ? 1 : 0);
        if (taken)
            QCOMPARE(now.displayColor(index).r, std::uint8_t(9));
    }

    void zones()
    {
        led->request("add_zone");
        QCOMPARE(led->request("add_zone").value("zoneIndex").toInt(), 1);
        led->request("set_zone", json(R"({"index":1,"startPercent":-4,"endPercent":140})"));
        QCOMPARE(stored().rangeZones.at(1).startPercent, 0);
        QCOMPARE(stored().rangeZones.at(1).endPercent, 100);
        QCOMPARE(led->request("set_selected_zone", {{"index", 5}}).value("message").toString(), QStringLiteral("Invalid zone index"));
        led->request("remove_zone", {{"index", 0}});
        led->request("remove_zone");

        for (int i = 0; i < LedSettings::MaxZones; ++i)
            QCOMPARE(led->request("add_zone").value("success").toBool(), true);
        QCOMPARE(led->request("add_zone").value("success").toBool(), false);
        QJsonArray tooMany;
        for (int i = 0; i <= LedSettings::MaxZones; ++i)
            tooMany.append(QJsonObject());
        QCOMPARE(led->request("set_led_settings", {{"rangeZones", tooMany}}).value("message").toString(),
                 QStringLiteral("Too many LED zones: the receiver takes at most 8."));
        QCOMPARE(stored().rangeZones.size(), LedSettings::MaxZones);
    }

    void configPending()
    {
        led->request("set_led_power", {{"on", false}});
        QVERIFY(!pending());
        led->request("set_led_brightness", {{"brightness", 50}});
        QVERIFY(pending());
    }

    void trigger()
    {
        QCOMPARE(led->request("trigger_led_config"),
                 json(R"({"event":"trigger_led_config","success":false,"message":"Receiver not connected over USB"})"));
        QVERIFY(led->rig.syncOverUsb());

        // Confirmed: the block went out and the app hears the result.
        const qsizetype before = led->client.received.size();
        QCOMPARE(led->request("trigger_led_config"),
                 json(R"({"event":"trigger_led_config","success":true,"message":"LED config push started"})"));
        QCOMPARE(led->client.received.value(before), json(R"({"event":"event_led_push_progress","data":{"state":"started"}})"));
        QCOMPARE(led->client.next().value("data").toObject(),
                 json(R"({"state":"success","success":true,"message":"LED configuration saved to receiver."})"));
        QVERIFY(led->rig.rx.lines().contains("LED_COUNT=8"));

        // Silence: a running push refuses another; the 10 s slot reports it failed.
        led->rig.rx.setAnswersLedCommit(false);
        QCOMPARE(led->request("trigger_led_config").value("success").toBool(), true);
        QCOMPARE(led->request("trigger_led_config"),
                 json(R"({"event":"trigger_led_config","success":false,"message":"LED config push already in progress"})"));
        led->client.skipAll();
        QMetaObject::invokeMethod(led->rig.controller.get(), "onLedConfirmationTimeout", Qt::DirectConnection);
        QCOMPARE(led->client.next().value("data").toObject().value("state").toString(), QStringLiteral("failed"));
    }
};

OSTRA_TEST_MAIN_CORE(TestWsLedHandler)
#include "tst_wsledhandler.moc"
