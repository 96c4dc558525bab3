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

QJsonArray manyMappings(int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(QJsonObject{{"buttonIndex", i}});
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
        QTest::newRow("button null") << json(R"({"buttonIndex":null})") << QString();
    }

    void addChecks()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QCOMPARE(api->request("action_add_button_mapping", data),
                 message.isEmpty() ? ok("action_add_button_mapping") : refused("action_add_button_mapping", message));
        const QJsonArray stored = mappingsOf(*api);
        QCOMPARE(stored.size(), message.isEmpty() ? 1 : 0);
        if (data.value("buttonIndex").isNull() && message.isEmpty())
            QCOMPARE(stored.at(0).toObject().value("buttonIndex").toInt(), -1);
    }

    // What a mapping reads when its keys are missing or of another type: the reader's own
    // defaults, start value 1024 among them (a new mapping's is 0).
    void readerDefaults_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<int>("buttonIndex");
        const QJsonObject mistyped = json(R"({"buttonIndex":5,"name":7,"channel":"4","mode":1.5,"outputValue":"x",
            "rateUnitsPerSec":true,"minValue":null,"maxValue":[],"startValue":{},"activatesPitLimiter":1})");
        QTest::newRow("add, only the button") << "action_add_button_mapping" << json(R"({"buttonIndex":5})") << 5;
        QTest::newRow("add, other types") << "action_add_button_mapping" << mistyped << 5;
        QTest::newRow("set, only the button") << "set_button_mappings" << json(R"({"mappings":[{"buttonIndex":5}]})") << 5;
        QTest::newRow("set, other types") << "set_button_mappings" << QJsonObject{{"mappings", QJsonArray{mistyped}}} << 5;
        QTest::newRow("set, not an object") << "set_button_mappings" << json(R"({"mappings":[7]})") << -1;
    }

    void readerDefaults()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(int, buttonIndex);
        QCOMPARE(api->request(event, data), ok(event));
        QJsonObject expected = json(R"({"name":"","channel":3,"mode":0,"outputValue":2047,"rateUnitsPerSec":1024,
                                        "minValue":0,"maxValue":2047,"startValue":1024,"activatesPitLimiter":false})");
        expected.insert("buttonIndex", buttonIndex);
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
        QTest::newRow("an object clears") << json(R"({"mappings":{}})") << ok("set_button_mappings") << QJsonArray{};
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
            QCOMPARE(now.size(), 512);
            return;
        }
        QCOMPARE(now.size(), stored.size());
        for (int i = 0; i < stored.size(); ++i) {
            QCOMPARE(now.at(i).toObject().value("buttonIndex").toInt(), stored.at(i).toArray().at(0).toInt());
            QCOMPARE(now.at(i).toObject().value("channel").toInt(), stored.at(i).toArray().at(1).toInt());
        }
    }

    void addBeyondLimit()
    {
        QVERIFY(api->request("set_button_mappings", {{"mappings", manyMappings(512)}}).value("success").toBool());
        QCOMPARE(api->request("action_add_button_mapping", {{"buttonIndex", 600}}),
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
