#include <QCoreApplication>
#include <QJsonArray>
#include <QTest>

#include "api/wsbuttonhandler.h"
#include "apirig.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using corvane::WsButtonHandler;
using ostratest::ApiRig;

namespace {

QJsonArray mappingsOf(ApiRig &api)
{
    return api.request("get_button_mappings").value("data").toObject().value("mappings").toArray();
}

// The highest button a mapping can name: three devices of 160 inputs each.
constexpr int ButtonInputs = 480;

// `count` mappings; past the last button they name the same buttons again.
QJsonArray manyMappings(int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(QJsonObject{{"buttonIndex", i % ButtonInputs}});
    return array;
}

} // namespace

class TestWsButtonHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsButtonHandler>())); }
    void cleanup() { api.reset(); }

    void addChecks_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message"); // empty: accepted
        const QString channel = QStringLiteral("Channel must be 2-11 (0-1 reserved for steering/throttle)");
        QTest::newRow("channel 1") << json(R"({"buttonIndex":5,"channel":1})") << channel;
        QTest::newRow("channel 12") << json(R"({"buttonIndex":5,"channel":12})") << channel;
        QTest::newRow("channel 2") << json(R"({"buttonIndex":5,"channel":2})") << QString();
        QTest::newRow("no button") << json(R"({"channel":4})") << "Missing 'buttonIndex' parameter";
        QTest::newRow("button null") << json(R"({"buttonIndex":null})")
                                     << "'buttonIndex' must be a whole number from -1 to 479, not null";
    }

    void addChecks()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QCOMPARE(api->request("action_add_button_mapping", data),
                 message.isEmpty() ? ok("action_add_button_mapping") : refused("action_add_button_mapping", message));
        const QJsonArray stored = mappingsOf(*api);
        QCOMPARE(stored.size(), message.isEmpty() ? 1 : 0);
    }

    // What a mapping reads when its keys are missing: the reader's own defaults, start value
    // 1024 among them (a new mapping's is 0). Keys of another type are refused.
    void readerDefaults_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("refusal"); // empty: stored with the defaults
        const QJsonObject mistyped = json(R"({"buttonIndex":5,"name":7,"channel":"4","mode":1.5,"outputValue":"x",
            "rateUnitsPerSec":true,"minValue":null,"maxValue":[],"startValue":{},"activatesPitLimiter":1})");
        QTest::newRow("add, only the button") << "action_add_button_mapping" << json(R"({"buttonIndex":5})") << QString();
        QTest::newRow("add, other types") << "action_add_button_mapping" << mistyped
                                          << "'channel' must be a whole number, not a string";
        QTest::newRow("set, only the button") << "set_button_mappings" << json(R"({"mappings":[{"buttonIndex":5}]})")
                                              << QString();
        QTest::newRow("set, other types") << "set_button_mappings" << QJsonObject{{"mappings", QJsonArray{mistyped}}}
                                          << "'mappings[0].channel' must be a whole number, not a string";
        QTest::newRow("set, not an object") << "set_button_mappings" << json(R"({"mappings":[7]})")
                                            << "'mappings[0]' must be an object, not a number";
    }

    void readerDefaults()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, refusal);
        QCOMPARE(api->request(event, data), refusal.isEmpty() ? ok(event) : refused(event, refusal));
        if (!refusal.isEmpty()) {
            QCOMPARE(mappingsOf(*api), QJsonArray());
            return;
        }
        QJsonObject expected = json(R"({"name":"","channel":3,"mode":0,"outputValue":2047,"rateUnitsPerSec":1024,
                                        "minValue":0,"maxValue":2047,"startValue":1024,"activatesPitLimiter":false})");
        expected.insert("buttonIndex", 5);
        QCOMPARE(mappingsOf(*api), QJsonArray{expected});
    }

    // A mapping for a button that has one replaces it in its place; its extra buttons, which
    // the app cannot see, stay.
    void replaceInPlace()
    {
        ButtonMappingSet set;
        for (int button : {3, 7, 9}) {
            ButtonMapping m;
            m.buttonIndex = button;
            m.extraButtons = {button + 100};
            set.mappings.append(m);
        }
        QVERIFY(api->rig.controller->setButtonMappings(set));
        QCOMPARE(api->request("action_add_button_mapping", {{"buttonIndex", 7}, {"channel", 6}, {"name", "Horn"}}),
                 ok("action_add_button_mapping"));
        const QList<ButtonMapping> now = api->rig.controller->buttonMappings().mappings;
        QCOMPARE(now.size(), 3);
        QCOMPARE(now.at(1).channel, 6);
        QCOMPARE(now.at(1).extraButtons, QList<int>{107});
    }

    void setMappings_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QJsonArray>("stored"); // buttonIndex, channel pairs
        QTest::newRow("missing") << QJsonObject{} << refused("set_button_mappings", "Missing 'mappings' array")
                                 << QJsonArray{QJsonArray{1, 4}};
        QTest::newRow("an object") << json(R"({"mappings":{}})")
                                   << refused("set_button_mappings", "'mappings' must be an array, not an object")
                                   << QJsonArray{QJsonArray{1, 4}};
        QTest::newRow("same button twice")
            << json(R"({"mappings":[{"buttonIndex":7,"channel":5},{"buttonIndex":8},{"buttonIndex":7,"channel":9}]})")
            << ok("set_button_mappings") << QJsonArray{QJsonArray{7, 9}, QJsonArray{8, 3}};
        QTest::newRow("512 mappings") << QJsonObject{{"mappings", manyMappings(512)}} << ok("set_button_mappings")
                                      << QJsonArray{};
        QTest::newRow("513 mappings")
            << QJsonObject{{"mappings", manyMappings(513)}}
            << refused("set_button_mappings", "Too many button mappings (at most 512).") << QJsonArray{QJsonArray{1, 4}};
    }

    void setMappings()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QJsonObject, reply);
        QFETCH(QJsonArray, stored);
        QVERIFY(api->request("action_add_button_mapping", {{"buttonIndex", 1}, {"channel", 4}}).value("success").toBool());
        QCOMPARE(api->request("set_button_mappings", data), reply);
        const QJsonArray now = mappingsOf(*api);
        if (data.value("mappings").toArray().size() == 512) {
            QCOMPARE(now.size(), ButtonInputs);
            return;
        }
        QCOMPARE(now.size(), stored.size());
        for (int i = 0; i < stored.size(); ++i) {
            QCOMPARE(now.at(i).toObject().value("buttonIndex").toInt(), stored.at(i).toArray().at(0).toInt());
            QCOMPARE(now.at(i).toObject().value("channel").toInt(), stored.at(i).toArray().at(1).toInt());
        }
    }

    // 512 mappings, as a hand-edited profile may hold them beside the buttons the app can name.
    void addBeyondLimit()
    {
        ButtonMappingSet full;
        for (int button = 1; button < ButtonInputs; ++button)
            full.mappings.append(ostratest::TransmitRig::buttonMapping(button, 4, 0, 2047));
        for (int button = 1000; full.mappings.size() < 512; ++button)
            full.mappings.append(ostratest::TransmitRig::buttonMapping(button, 4, 0, 2047));
        QVERIFY(api->rig.controller->setButtonMappings(full));
        QCOMPARE(api->request("action_add_button_mapping", {{"buttonIndex", 0}}),
                 refused("action_add_button_mapping", "Too many button mappings (at most 512)."));
        // Replacing one of the 512 is still fine.
        QCOMPARE(api->request("action_add_button_mapping", {{"buttonIndex", 3}, {"channel", 8}}), ok("action_add_button_mapping"));
        QCOMPARE(mappingsOf(*api).size(), 512);
    }

    void removeAndClear()
    {
        QCOMPARE(api->request("action_remove_button_mapping", {{"index", 0}}),
                 refused("action_remove_button_mapping", "Index 0 out of range (count: 0)"));
        QCOMPARE(api->request("action_remove_button_mapping"),
                 refused("action_remove_button_mapping", "Missing or invalid 'index' parameter"));
        for (int button : {4, 5, 6})
            QVERIFY(api->request("action_add_button_mapping", {{"buttonIndex", button}}).value("success").toBool());
        QCOMPARE(api->request("action_remove_button_mapping", {{"index", 1}}), ok("action_remove_button_mapping"));
        QCOMPARE(mappingsOf(*api).at(1).toObject().value("buttonIndex").toInt(), 6);
        QCOMPARE(api->request("action_clear_button_mappings"), ok("action_clear_button_mappings"));
        QVERIFY(mappingsOf(*api).isEmpty());
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsButtonHandler)
#include "tst_wsbuttonhandler.moc"
