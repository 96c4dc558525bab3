#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include "api/apihandlers.h"
#include "apirig.h"
#include "profiles/profilemanager.h"
#include "support/heldrenames.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

using corvane::ProfileManager;
using ostratest::ApiRig;

namespace {

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
}

// Every file of the store, by name.
QMap<QString, QByteArray> filesOnDisk()
{
    QMap<QString, QByteArray> files;
    const QFileInfoList entries = QDir(folder()).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &info : entries) {
        QFile file(info.absoluteFilePath());
        files.insert(info.fileName(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable"));
    }
    return files;
}

} // namespace

// Every request that writes the profile store, with the store unable to write: the reply is a
// refusal with the store's message, no file changes, and the lists the app reads still show
// what the files hold. Names the store refuses come back the same way.
class TestStoreErrors : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        api = std::make_unique<ApiRig>();
        corvane::registerApiHandlers(&api->server, api->rig.controller.get());
        QVERIFY(api->start());
        corvane::CorvaneController *controller = api->rig.controller.get();
        ProfileManager *store = controller->profileManager();
        QVERIFY(controller->connectWheelBase(ostratest::TransmitRig::WheelPos));
        ButtonMappingSet buttons;
        buttons.mappings.append(ostratest::TransmitRig::buttonMapping(1, 4, 0, 2047));
        QVERIFY(controller->setButtonMappings(buttons));
        m_ids = {{"$active", store->activeProfileId()},
                 {"$other", store->createProfile("Other")},
                 {"$esc", store->createEscPreset("Race", 1000, 1800, 200)},
                 {"$user", store->saveUserPreset("controls", "Mine", controller->saveControlsPreset("controls"))}};
        QVERIFY(ostratest::writesDone());
    }

    void cleanup() { api.reset(); }

    void failedSaves_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("message");
        const QString profile = "Failed to save profile: Default";
        const QString esc = "Failed to save ESC presets";
        const QString user = "Failed to save presets";
        const QString fds = "descriptors";
        QTest::newRow("set_active_profile") << "set_active_profile" << R"({"id":"$other"})" << fds << profile;
        QTest::newRow("action_create_profile") << "action_create_profile" << R"({"name":"New"})" << fds
                                               << "Failed to save profile: New";
        QTest::newRow("action_rename_profile") << "action_rename_profile" << R"({"id":"$active","name":"Car"})" << fds
                                               << "Failed to save profile: Car";
        QTest::newRow("action_duplicate_profile") << "action_duplicate_profile"
                                                  << R"({"sourceId":"$active","name":"Copy"})" << fds
                                                  << "Failed to save profile: Copy";
        QTest::newRow("action_import_profile") << "action_import_profile"
                                               << R"({"profileJson":{"id":"x","name":"Imported"}})" << "file size"
                                               << "Failed to save profile: Imported";
        QTest::newRow("action_create_esc_preset") << "action_create_esc_preset" << R"({"name":"Drift"})" << fds << esc;
        QTest::newRow("action_update_esc_preset") << "action_update_esc_preset" << R"({"id":"$esc","neutral":990})"
                                                  << fds << esc;
        QTest::newRow("action_rename_esc_preset") << "action_rename_esc_preset" << R"({"id":"$esc","name":"Drift"})"
                                                  << fds << esc;
        QTest::newRow("action_delete_esc_preset") << "action_delete_esc_preset" << R"({"id":"$esc"})" << fds << esc;
        QTest::newRow("action_save_preset") << "action_save_preset" << R"({"kind":"ffb","name":"Soft"})" << fds << user;
        QTest::newRow("action_rename_preset") << "action_rename_preset" << R"({"id":"$user","name":"Yours"})" << fds
                                              << user;
        QTest::newRow("action_delete_preset") << "action_delete_preset" << R"({"id":"$user"})" << fds << user;
        QTest::newRow("action_load_preset") << "action_load_preset" << R"({"id":"$user"})" << fds << profile;
        QTest::newRow("set_axis_settings") << "set_axis_settings" << R"({"wheelRotationDeg":540})" << fds << profile;
        QTest::newRow("apply_steering_trim") << "apply_steering_trim" << "{}" << fds << profile;
        QTest::newRow("set_wheel_ffb") << "set_wheel_ffb" << R"({"strength":0.5})" << fds << profile;
        QTest::newRow("set_esc_mode") << "set_esc_mode" << R"({"mode":"custom"})" << fds << profile;
        QTest::newRow("set_wheelbase_axis_mapping") << "set_wheelbase_axis_mapping" << R"({"map":[1,0,2,3,4]})"
                                                    << fds << profile;
        QTest::newRow("set_shifter_mapping") << "set_shifter_mapping" << R"({"buttonIndex":[1,2,3]})" << fds << profile;
        QTest::newRow("set_button_mappings") << "set_button_mappings" << R"({"mappings":[]})" << fds << profile;
        QTest::newRow("action_add_button_mapping") << "action_add_button_mapping"
                                                   << R"({"buttonIndex":3,"channel":5})" << fds << profile;
        QTest::newRow("action_remove_button_mapping") << "action_remove_button_mapping" << R"({"index":0})" << fds
                                                      << profile;
        QTest::newRow("action_clear_button_mappings") << "action_clear_button_mappings" << "{}" << fds << profile;
        QTest::newRow("set_led_settings") << "set_led_settings" << R"({"ledCount":12})" << fds << profile;
        QTest::newRow("set_led_power") << "set_led_power" << R"({"on":true})" << fds << profile;
        QTest::newRow("set_telemetry_dashboard") << "set_telemetry_dashboard" << R"({"pinned":["RSSI"]})" << fds
                                                 << profile;
        QTest::newRow("set_telemetry_discovery") << "set_telemetry_discovery" << R"({"enabled":false})" << fds
                                                 << profile;
        QTest::newRow("action_telemetry_sensors_clear") << "action_telemetry_sensors_clear" << "{}" << fds << profile;
        QTest::newRow("action_select_helicopter") << "action_select_helicopter" << "{}" << fds
                                                  << "Failed to save profile: RC Helicopter";
        QTest::newRow("action_save_helicopter_profile") << "action_save_helicopter_profile" << R"({"name":"Bird"})"
                                                        << fds << "Failed to save profile: Bird";
        QTest::newRow("set_auto_start") << "set_auto_start" << R"({"enabled":true})" << fds << profile;
        QTest::newRow("set_receiver_config") << "set_receiver_config" << R"({"settings":{"gpsEnabled":false}})"
                                             << fds << profile;
        // Refused by the store's rules, with nothing starved.
        QTest::newRow("ESC preset name too long") << "action_create_esc_preset" << QString(R"({"name":"%1"})").arg(QString(65, 'x'))
                                                  << "" << "ESC preset name is too long: at most 64 characters";
        QTest::newRow("profile name with a tab") << "action_rename_profile" << R"({"id":"$active","name":"A\tB"})" << ""
                                                 << "Profile name cannot contain line breaks, tabs, other control "
                                                    "characters or text direction overrides";
        QTest::newRow("imported name reversed") << "action_import_profile"
                                                << R"({"profileJson":{"id":"x","name":"Car\u202Eevil"}})" << ""
                                                << "Profile name cannot contain line breaks, tabs, other control "
                                                   "characters or text direction overrides";
        QTest::newRow("preset name over two lines") << "action_save_preset" << R"({"kind":"ffb","name":"A\nB"})" << ""
                                                    << "Preset name cannot contain line breaks, tabs, other control "
                                                       "characters or text direction overrides";
    }

    void failedSaves()
    {
        QFETCH(QString, event);
        QFETCH(QString, data);
        QFETCH(QString, limit);
        QFETCH(QString, message);
        for (auto it = m_ids.cbegin(); it != m_ids.cend(); ++it)
            data.replace(it.key(), it.value());
        const QJsonObject request = QJsonDocument::fromJson(data.toUtf8()).object();
        const QMap<QString, QByteArray> files = filesOnDisk();
        const QJsonObject lists = listsOf();

        QJsonObject reply;
        {
            const ostratest::Starved starved(limit);
            reply = api->request(event, request);
        }
        QCOMPARE(reply.value("success"), QJsonValue(false));
        QCOMPARE(reply.value("message").toString(), message);
        QCOMPARE(filesOnDisk(), files);
        QCOMPARE(listsOf(), lists);
    }

    // Writers change one profile at once while its file is being written: another client is
    // answered meanwhile, each writer's replies wait for the disk and keep their order, the
    // changes that came during the write go in one more write, and a restarted store reads every
    // writer's last change. A write that fails fails every reply waiting for it.
    void manyClientsSaveOneProfile_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("message"); // empty: saved
        QTest::newRow("slow disk") << "" << "";
        QTest::newRow("file size limit") << "file size" << "Failed to save profile: Default";
    }

    void manyClientsSaveOneProfile()
    {
        QFETCH(QString, limit);
        QFETCH(QString, message);
        const QStringList fields{"decelRate", "reverseMaxPercent", "reverseButtonIndex", "wheelRotationDeg"};
        const QJsonObject before = api->rig.controller->axisSettings().toJson();
        const QJsonObject saved = message.isEmpty() ? ok("set_axis_settings") : refused("set_axis_settings", message);
        std::vector<std::unique_ptr<ostratest::WsTestClient>> writers;
        {
            const ostratest::Starved starved(limit);
            ostratest::HeldRenames held(api->rig.controller->profileManager()->activeProfileId() + ".json");
            for (const QString &field : fields) {
                writers.push_back(std::make_unique<ostratest::WsTestClient>());
                QVERIFY(writers.back()->open(api->server.serverPort()));
                writers.back()->send({{"event", "set_axis_settings"}, {"data", QJsonObject{{field, 95}}}});
                writers.back()->send({{"event", "ping"}});
                writers.back()->send({{"event", "set_axis_settings"}, {"data", QJsonObject{{field, 96}}}});
            }
            if (message.isEmpty()) {
                QTRY_COMPARE(held.waiting(), 1);
                QTRY_VERIFY(std::all_of(fields.cbegin(), fields.cend(), [&](const QString &field) {
                    return api->request("get_axis_settings").value("data")[field] == 95;
                }));
                for (const auto &writer : writers)
                    QVERIFY(writer->received.isEmpty());
                held.release();
            }
            for (const auto &writer : writers) {
                QCOMPARE(writer->next(), saved);
                QCOMPARE(writer->next(), json(R"({"event":"pong"})"));
                QCOMPARE(writer->next(), saved);
            }
            QCOMPARE_LT(held.done(), message.isEmpty() ? 2 * fields.size() : 1);
        }
        const QJsonObject stored = ProfileManager().axisSettings().toJson();
        for (const QString &field : fields)
            QCOMPARE(stored[field], message.isEmpty() ? QJsonValue(96) : before[field]);
    }

private:
    // The profiles and presets as the app reads them.
    QJsonObject listsOf()
    {
        return {{"profiles", api->request("get_profiles").value("data")},
                {"esc", api->request("get_esc_presets").value("data")},
                {"controls", api->request("get_presets", {{"kind", "controls"}}).value("data")},
                {"ffb", api->request("get_presets", {{"kind", "ffb"}}).value("data")}};
    }

    std::unique_ptr<ApiRig> api;
    QMap<QString, QString> m_ids;
};

OSTRA_TEST_MAIN_CORE(TestStoreErrors)
#include "tst_storeerrors.moc"
