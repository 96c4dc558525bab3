#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTest>

#include "api/wsescpresethandler.h"
#include "apirig.h"
#include "support/testenvironment.h"

using corvane::WsEscPresetHandler;
using ostratest::ApiRig;

namespace {

QJsonArray presetsOf(ApiRig &api)
{
    return api.request("get_esc_presets").value("data").toObject().value("presets").toArray();
}

// The presets as the store's file holds them.
QJsonArray presetsOnDisk()
{
    QFile file(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/profiles/esc_presets.json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("presets").toArray();
}

QString createdId(ApiRig &api, const QJsonObject &data)
{
    const QJsonObject reply = api.request("action_create_esc_preset", data);
    return reply.value("data").toObject().value("id").toString();
}

} // namespace

class TestWsEscPresetHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsEscPresetHandler>())); }
    void cleanup() { api.reset(); }

    void createDefaults_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QJsonArray>("values");
        QTest::newRow("name only") << json(R"({"name":"A"})") << QJsonArray{992, 1811, 172};
        QTest::newRow("whole as a fraction") << json(R"({"name":"A","neutral":1000.0,"fullReverse":200})")
                                             << QJsonArray{1000, 1811, 200};
        QTest::newRow("channel limits") << json(R"({"name":"A","neutral":2047,"fullForward":2047,"fullReverse":0})")
                                        << QJsonArray{2047, 2047, 0};
    }

    void createDefaults()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QJsonArray, values);
        QVERIFY(api->client.subscribe({"event_esc_presets_changed"}));
        api->client.send({{"event", "action_create_esc_preset"}, {"data", data}});
        // The store's signal comes while the request runs: the push precedes the reply.
        QCOMPARE(api->client.next(), json(R"({"event":"event_esc_presets_changed","data":{}})"));
        const QJsonObject reply = api->client.next();
        const QString id = reply.value("data").toObject().value("id").toString();
        const QJsonObject expected{{"id", id}, {"name", "A"}, {"neutral", values[0]},
                                   {"fullForward", values[1]}, {"fullReverse", values[2]}};
        QCOMPARE(presetsOf(*api), QJsonArray{expected});
        QCOMPARE(presetsOnDisk().at(0).toObject().value("neutral"), values[0]);
    }

    void updateRenameDelete()
    {
        const QString first = createdId(*api, json(R"({"name":"Same"})"));
        const QString second = createdId(*api, json(R"({"name":"Same"})"));
        QVERIFY(first != second);

        // Values the update lacks keep what was stored.
        QCOMPARE(api->request("action_update_esc_preset", {{"id", first}, {"neutral", 1000}}),
                 json(R"({"event":"action_update_esc_preset","success":true})"));
        QCOMPARE(api->request("action_rename_esc_preset", {{"id", second}, {"name", "Other"}}),
                 json(R"({"event":"action_rename_esc_preset","success":true})"));
        QCOMPARE(presetsOf(*api),
                 (QJsonArray{QJsonObject{{"id", first}, {"name", "Same"}, {"neutral", 1000}, {"fullForward", 1811}, {"fullReverse", 172}},
                             QJsonObject{{"id", second}, {"name", "Other"}, {"neutral", 992}, {"fullForward", 1811}, {"fullReverse", 172}}}));
        QCOMPARE(api->request("action_delete_esc_preset", {{"id", first}}),
                 json(R"({"event":"action_delete_esc_preset","success":true})"));
        QCOMPARE(presetsOnDisk().size(), 1);
    }

    // An update carries only what changes; a value outside the channel range changes nothing.
    void partialUpdate_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QJsonArray>("values");
        QTest::addColumn<QString>("message");
        QTest::newRow("id only") << json("{}") << QJsonArray{1000, 1700, 300} << QString();
        QTest::newRow("forward only") << json(R"({"fullForward":1900})") << QJsonArray{1000, 1900, 300} << QString();
        QTest::newRow("reverse and neutral") << json(R"({"fullReverse":200,"neutral":990})") << QJsonArray{990, 1700, 200}
                                             << QString();
        QTest::newRow("not whole numbers") << json(R"({"neutral":"1200","fullForward":1800.5,"fullReverse":null})")
                                           << QJsonArray{1000, 1700, 300}
                                           << "'neutral' must be a channel value from 0 to 2047, not a string";
        QTest::newRow("zero is a value") << json(R"({"fullReverse":0})") << QJsonArray{1000, 1700, 0} << QString();
        QTest::newRow("negative") << json(R"({"fullForward":1900,"fullReverse":-1})") << QJsonArray{1000, 1700, 300}
                                  << "'fullReverse' must be a channel value from 0 to 2047";
        QTest::newRow("above the channel") << json(R"({"neutral":4096})") << QJsonArray{1000, 1700, 300}
                                           << "'neutral' must be a channel value from 0 to 2047";
    }

    void partialUpdate()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QJsonArray, values);
        QFETCH(QString, message);
        const QString id = createdId(*api, json(R"({"name":"Crawler","neutral":1000,"fullForward":1700,"fullReverse":300})"));
        data.insert("id", id);
        const QString event = "action_update_esc_preset";
        QCOMPARE(api->request(event, data), message.isEmpty() ? ok(event) : refused(event, message));
        const QJsonObject expected{{"id", id}, {"name", "Crawler"}, {"neutral", values[0]},
                                   {"fullForward", values[1]}, {"fullReverse", values[2]}};
        QCOMPARE(presetsOf(*api), QJsonArray{expected});
        QCOMPARE(presetsOnDisk(), QJsonArray{expected});
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message");
        QTest::newRow("create no name") << "action_create_esc_preset" << QJsonObject() << "Missing 'name' parameter";
        const QString invisible = QStringLiteral("'name' has nothing visible: it holds only blanks or invisible characters");
        QTest::newRow("create blank") << "action_create_esc_preset" << json(R"({"name":"  "})") << invisible;
        QTest::newRow("create invisible") << "action_create_esc_preset" << json(R"({"name":"\u200b\u3164"})") << invisible;
        QTest::newRow("rename blank") << "action_rename_esc_preset" << json(R"({"id":"x","name":" "})") << invisible;
        QTest::newRow("update unknown") << "action_update_esc_preset" << json(R"({"id":"x"})") << "ESC preset not found: x";
        QTest::newRow("create negative") << "action_create_esc_preset" << json(R"({"name":"A","neutral":-5})")
                                         << "'neutral' must be a channel value from 0 to 2047";
        QTest::newRow("create above the channel") << "action_create_esc_preset"
                                                  << json(R"({"name":"A","fullForward":2048,"fullReverse":9e99})")
                                                  << "'fullForward' must be a channel value from 0 to 2047";
        QTest::newRow("rename no name") << "action_rename_esc_preset" << json(R"({"id":"x"})") << "Missing 'id' or 'name' parameter";
        QTest::newRow("delete unknown") << "action_delete_esc_preset" << json(R"({"id":"x"})") << "ESC preset not found: x";
        QTest::newRow("delete unknown, long id cut") << "action_delete_esc_preset" << QJsonObject{{"id", QString(5000, 'i')}}
                                                     << "ESC preset not found: " + QString(64, 'i');
    }

    void refusals()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QCOMPARE(api->request(event, data), refused(event, message));
        QCOMPARE(presetsOf(*api), QJsonArray());
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsEscPresetHandler)
#include "tst_wsescpresethandler.moc"
