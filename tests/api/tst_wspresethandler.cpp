#include <QCoreApplication>
#include <QJsonArray>
#include <QTest>

#include "api/wspresethandler.h"
#include "apirig.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using corvane::WsPresetHandler;
using ostratest::ApiRig;

namespace {

QJsonArray presetsOf(ApiRig &api, const char *kind)
{
    return api.request("get_presets", {{"kind", kind}}).value("data").toObject().value("presets").toArray();
}

} // namespace

class TestWsPresetHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsPresetHandler>())); }
    void cleanup() { api.reset(); }

    void saveRefusals_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message");
        const QString unnamed = QStringLiteral("Give the preset a name");
        QTest::newRow("kind in capitals") << json(R"({"kind":"FFB","name":"x"})") << unnamed;
        QTest::newRow("other kind") << json(R"({"kind":"leds","name":"x"})") << unnamed;
        QTest::newRow("blank name") << json(R"({"kind":"ffb","name":"   "})") << unnamed;
        QTest::newRow("invisible name") << json(R"({"kind":"ffb","name":" \u200b "})")
                                        << "'name' has nothing visible: it holds only blanks or invisible characters";
    }

    void saveRefusals()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QCOMPARE(api->request("action_save_preset", data), refused("action_save_preset", message));
        QCOMPARE(presetsOf(*api, "ffb"), QJsonArray());
    }

    void saveTwiceRenameDelete()
    {
        QVERIFY(api->client.subscribe({"event_presets_changed"}));

        api->client.send({{"event", "action_save_preset"}, {"data", QJsonObject{{"kind", "controls"}, {"name", "  Rally "}}}});
        const QJsonObject push = api->client.next();
        const QJsonObject reply = api->client.next();
        const QString id = reply.value("id").toString();
        QCOMPARE(reply, (QJsonObject{{"event", "action_save_preset"}, {"success", true}, {"id", id}}));
        const QJsonArray listed = push.value("data").toObject().value("presets").toArray();
        QCOMPARE(listed.at(0).toObject().value("name").toString(), QString("Rally"));
        // The snapshot stays on the desktop.
        QCOMPARE(listed.at(0).toObject().keys(), (QStringList{"id", "modifiedAt", "name"}));

        // The same name in other letters overwrites the preset.
        const QJsonObject again = api->request("action_save_preset", {{"kind", "controls"}, {"name", "RALLY"}});
        QCOMPARE(again.value("id").toString(), id);
        QCOMPARE(presetsOf(*api, "controls").size(), 1);
        // The kind the reply repeats is cut.
        QCOMPARE(api->request("get_presets", {{"kind", QString(5000, 'k')}}).value("data").toObject().value("kind"),
                 QJsonValue(QString(64, 'k')));

        QCOMPARE(api->request("action_rename_preset", {{"id", id}, {"name", "Gravel"}}),
                 json(R"({"event":"action_rename_preset","success":true})"));
        QCOMPARE(api->request("action_rename_preset", {{"id", id}, {"name", " "}}),
                 refused("action_rename_preset", "'name' has nothing visible: it holds only blanks or invisible characters"));
        QCOMPARE(presetsOf(*api, "controls").at(0).toObject().value("name").toString(), QString("Gravel"));

        api->client.skipAll();
        api->client.send({{"event", "action_delete_preset"}, {"data", QJsonObject{{"id", id}}}});
        QCOMPARE(api->client.next(), json(R"({"event":"event_presets_changed","data":{"kind":"controls","presets":[]}})"));
        QCOMPARE(api->client.next(), json(R"({"event":"action_delete_preset","success":true})"));
    }

    void loadFfb()
    {
        api->rig.controller->setWheelFfbStrength(0.8f);
        const QString id = api->request("action_save_preset", {{"kind", "ffb"}, {"name", "Strong"}}).value("id").toString();
        api->rig.controller->setWheelFfbStrength(0.1f);
        QCOMPARE(api->request("action_load_preset", {{"id", id}}), json(R"({"event":"action_load_preset","success":true,"kind":"ffb"})"));
        QCOMPARE(api->rig.controller->wheelFfbStrength(), 0.8f);
        QCOMPARE(api->request("action_load_preset", {{"id", "nope"}}), refused("action_load_preset", "Preset not found"));
    }

    // A controls preset from another wheel base brings the axes but not that base's mapping.
    void loadControlsFromOtherWheelBase()
    {
        QVERIFY(api->rig.controller->connectWheelBase(ostratest::TransmitRig::WheelPos));
        AxisMapping mine;
        mine.map = {{1, 0, 2, 3}};
        api->rig.controller->setWheelBaseAxisMapping(mine);

        QJsonObject snapshot = api->rig.controller->saveControlsPreset("controls");
        QJsonObject wheelBase = snapshot.value("wheelBase").toObject();
        wheelBase.insert("productName", "Logitech G29");
        wheelBase.insert("axisMapping", QJsonObject{{"map", QJsonArray{3, 2, 1, 0}}});
        snapshot.insert("wheelBase", wheelBase);
        snapshot.insert("wheelRotationDeg", 540);
        const QString id = api->rig.controller->profileManager()->saveUserPreset("controls", "G29", snapshot);

        QCOMPARE(api->request("action_load_preset", {{"id", id}}),
                 json(R"({"event":"action_load_preset","success":true,"kind":"controls",
                          "message":"Axis mapping for the wheel base was not loaded: it was saved for a different device."})"));
        QCOMPARE(api->rig.controller->axisSettings().wheelRotationDeg, 540);
        QCOMPARE(api->rig.controller->wheelBase()->axisMapping().map, mine.map);
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsPresetHandler)
#include "tst_wspresethandler.moc"
