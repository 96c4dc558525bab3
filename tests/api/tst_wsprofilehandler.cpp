#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "api/wsjson.h"
#include "api/wsprofilehandler.h"
#include "apirig.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using corvane::WsProfileHandler;
using ostratest::ApiRig;

namespace {

QJsonArray profilesOf(ApiRig &api)
{
    return api.request("get_profiles").value("data").toObject().value("profiles").toArray();
}

QString newIdOf(const QJsonObject &reply)
{
    return reply.value("data").toObject().value("id").toString();
}

// The profile as its file on disk holds it.
QJsonObject profileFile(ApiRig &api, const QString &id)
{
    // What the writer has on disk, the store's first write of the profile included.
    if (!ostratest::writesDone())
        return {};
    QFile file(api.rig.controller->profileManager()->profileFilePath(id));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// A large profile as people make them: 128 mappings, every LED coloured, every sensor pinned, names
// and device texts at their longest.
void fillLarge(Profile &profile)
{
    const auto text = [](int length) { return QString(length, QLatin1Char('n')); };
    profile.buttonMappings.mappings.clear();
    for (int i = 0; i < 128; ++i) {
        ButtonMapping mapping;
        mapping.name = text(corvane::wsjson::MaxNameChars);
        mapping.buttonIndex = i;
        mapping.channel = 4 + i % 8;
        mapping.rateUnitsPerSec = 10000;
        mapping.minValue = 1000;
        mapping.startValue = 1000;
        profile.buttonMappings.mappings.append(mapping);
    }
    LedSettings &led = profile.ledSettings;
    led.ledCount = LedSettings::MaxLedCount;
    led.mode = LedMode::PerLed;
    for (int i = 0; i < LedSettings::MaxLedCount; ++i)
        led.setLedColor(i, {255, 255, 255});
    for (int i = 0; i < LedSettings::MaxZones; ++i)
        led.rangeZones.append(LedRangeZone{10, 100, {255, 255, 255}});
    for (int i = 0; i < Profile::MaxTelemetrySensors; ++i) {
        profile.telemetryDashboard.append(text(4));
        profile.telemetrySensors.append(TelemetrySensorEntry{text(4), text(corvane::wsjson::MaxNameChars), text(corvane::wsjson::MaxNameChars)});
    }
    DeviceConnections &devices = profile.deviceConnections;
    devices.portName = text(corvane::wsjson::MaxDeviceTextChars);
    for (DeviceConnection *device : {&devices.wheelBase, &devices.pedals, &devices.shifter})
        device->productName = device->instanceGuid = device->devicePath = device->uniqId = text(corvane::wsjson::MaxDeviceTextChars);
}

} // namespace

class TestWsProfileHandler : public QObject
{
    Q_OBJECT

private slots:
    // Each test gets a temporary folder of its own, to see that imports leave nothing there.
    void init()
    {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
        qputenv("TMPDIR", m_temp->path().toLocal8Bit());
        QVERIFY((api = ApiRig::started<WsProfileHandler>()));
    }

    void cleanup()
    {
        api.reset();
        qunsetenv("TMPDIR");
    }

    void createDuplicateName()
    {
        QVERIFY(api->client.subscribe({"event_profile_list_changed", "event_profile_changed"}));
        const QString firstId = api->rig.controller->profileManager()->activeProfileId();

        api->client.send({{"event", "action_create_profile"}, {"data", QJsonObject{{"name", "Default"}}}});
        QCOMPARE(api->client.next(), json(R"({"event":"event_profile_list_changed","data":{}})"));
        const QJsonObject reply = api->client.next();
        const QString id = newIdOf(reply);
        QCOMPARE(reply, (QJsonObject{{"event", "action_create_profile"}, {"success", true}, {"data", QJsonObject{{"id", id}}}}));
        QCOMPARE(profileFile(*api, id).value("name").toString(), QString("Default (2)"));

        const QJsonObject first{{"id", firstId}, {"name", "Default"}, {"isActive", true}, {"vehicleType", "rc_car"}};
        const QJsonObject created{{"id", id}, {"name", "Default (2)"}, {"isActive", false}, {"vehicleType", "rc_car"}};
        // Listed in the order of their ids.
        const QJsonArray byId = firstId < id ? QJsonArray{first, created} : QJsonArray{created, first};
        QCOMPARE(profilesOf(*api), byId);
    }

    void switchRenameDelete()
    {
        const QString firstId = api->rig.controller->profileManager()->activeProfileId();
        QCOMPARE(api->request("action_delete_profile", {{"id", firstId}}),
                 refused("action_delete_profile", "Failed to delete profile (cannot delete the last profile)"));

        const QString secondId = newIdOf(api->request("action_create_profile", {{"name", "Rally"}}));
        QVERIFY(api->client.subscribe({"event_profile_list_changed", "event_profile_changed"}));
        api->client.send({{"event", "set_active_profile"}, {"data", QJsonObject{{"id", secondId}}}});
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "event_profile_changed"}, {"data", QJsonObject{{"id", secondId}, {"name", "Rally"}}}}));
        QCOMPARE(api->client.next(), json(R"({"event":"set_active_profile","success":true})"));

        api->client.send({{"event", "action_rename_profile"}, {"data", QJsonObject{{"id", secondId}, {"name", "Tarmac"}}}});
        QCOMPARE(api->client.next(), json(R"({"event":"event_profile_list_changed","data":{}})"));
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "event_profile_changed"}, {"data", QJsonObject{{"id", secondId}, {"name", "Tarmac"}}}}));
        QCOMPARE(api->client.next(), json(R"({"event":"action_rename_profile","success":true})"));
        QCOMPARE(profileFile(*api, secondId).value("name").toString(), QString("Tarmac"));


        const QString copyId = newIdOf(api->request("action_duplicate_profile", {{"sourceId", secondId}, {"name", "Tarmac"}}));
        QCOMPARE(profileFile(*api, copyId).value("name").toString(), QString("Tarmac (2)"));

        QCOMPARE(api->request("action_delete_profile", {{"id", secondId}}), json(R"({"event":"action_delete_profile","success":true})"));
        QVERIFY(!QFile::exists(api->rig.controller->profileManager()->profileFilePath(secondId)));
    }

    void exportImport_data()
    {
        QTest::addColumn<bool>("large");
        QTest::newRow("as made") << false;
        QTest::newRow("large") << true;
    }

    void exportImport()
    {
        QFETCH(bool, large);
        // A strip's selections may lie beyond it, where the LED requests leave them.
        LedSettings led = api->rig.controller->ledSettings();
        led.selectedLedIndex = 20;
        led.selectedZoneIndex = 3;
        api->rig.controller->setLedSettings(led);
        if (large) {
            fillLarge(*api->rig.controller->profileManager()->mutableActiveProfile());
            QVERIFY(api->rig.controller->profileManager()->saveActiveProfile());
        }
        QVERIFY(ostratest::writesDone());
        const QString firstId = api->rig.controller->profileManager()->activeProfileId();
        const QJsonObject exported = api->request("action_export_profile", {{"id", firstId}});
        const QJsonObject profileJson = exported.value("data").toObject().value("profileJson").toObject();
        QCOMPARE(profileJson, profileFile(*api, firstId));

        const QJsonObject imported = api->request("action_import_profile", {{"profileJson", profileJson}});
        QCOMPARE(imported.value("message").toString(), QString());
        QCOMPARE(imported.value("success"), QJsonValue(true));
        const QString importedId = newIdOf(imported);
        QVERIFY(importedId != firstId);
        QJsonObject copy = profileFile(*api, importedId);
        QCOMPARE(copy.value("name").toString(), QString("Default (2)"));
        // Everything but identity and times comes back unchanged.
        QJsonObject original = profileJson;
        for (const char *key : {"id", "name", "createdAt", "modifiedAt"}) {
            copy.remove(key);
            original.remove(key);
        }
        QCOMPARE(copy, original);
        QCOMPARE(api->rig.controller->profileManager()->activeProfileId(), firstId);
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    // An import is read from the request itself: the system's temporary folder plays no part.
    void importWithoutTemporaryFolder_data()
    {
        QTest::addColumn<QString>("folder"); // under the test's temporary folder
        QTest::newRow("usual") << QString();
        QTest::newRow("missing") << "gone";
        QTest::newRow("a file") << "file";
    }

    void importWithoutTemporaryFolder()
    {
        QFETCH(QString, folder);
        if (!folder.isEmpty()) {
            QFile file(m_temp->filePath("file"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            qputenv("TMPDIR", m_temp->filePath(folder).toLocal8Bit());
        }
        const QJsonObject profileJson{{"id", "x"}, {"name", "Imported"}};
        const QString id = newIdOf(api->request("action_import_profile", {{"profileJson", profileJson}}));
        QVERIFY(!id.isEmpty());
        QCOMPARE(profileFile(*api, id).value("name").toString(), QString("Imported"));
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 folder.isEmpty() ? QStringList() : QStringList{"file"});
    }

    void missingParameters_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message");
        QTest::newRow("set") << "set_active_profile" << QJsonObject() << "Missing 'id' parameter";
        QTest::newRow("create") << "action_create_profile" << json(R"({"name":""})") << "Missing 'name' parameter";
        QTest::newRow("rename") << "action_rename_profile" << json(R"({"id":"x"})") << "Missing 'id' or 'name' parameter";
        QTest::newRow("set unknown") << "set_active_profile" << json(R"({"id":"nope"})") << "Profile not found: nope";
        QTest::newRow("rename unknown") << "action_rename_profile" << json(R"({"id":"x","name":"y"})") << "Failed to rename profile";
        QTest::newRow("duplicate") << "action_duplicate_profile" << json(R"({"name":"y"})") << "Missing 'sourceId' or 'name' parameter";
        QTest::newRow("delete unknown") << "action_delete_profile" << json(R"({"id":"x"})") << "Failed to delete profile (cannot delete the last profile)";
        QTest::newRow("export unknown") << "action_export_profile" << json(R"({"id":"x"})") << "Profile not found: x";
        QTest::newRow("export unknown, long id cut") << "action_export_profile" << QJsonObject{{"id", QString(5000, 'i')}}
                                                     << "Profile not found: " + QString(64, 'i');
        QTest::newRow("import missing") << "action_import_profile" << QJsonObject() << "Missing 'profileJson' object";
        QTest::newRow("import no id") << "action_import_profile" << json(R"({"profileJson":{"name":"X"}})") << "Failed to import profile";
        QJsonArray pinned;
        for (int i = 0; i <= Profile::MaxTelemetrySensors; ++i)
            pinned.append(QString::number(i));
        QTest::newRow("import too many pinned")
            << "action_import_profile" << QJsonObject{{"profileJson", QJsonObject{{"id", "x"}, {"name", "X"}, {"telemetryDashboard", pinned}}}}
            << "Too many pinned telemetry sensors: at most 64";
        // An imported profile holds no value the requests that set it would refuse or clamp.
        const auto import = [](const char *tag, const QByteArray &members, const QString &message) {
            QJsonObject profile = QJsonDocument::fromJson(QByteArray(members).replace("$long", QByteArray(65, 'n'))).object();
            profile.insert("id", "x");
            profile.insert("name", "X");
            QTest::newRow(tag) << "action_import_profile" << QJsonObject{{"profileJson", profile}}
                               << "'profileJson." + message;
        };
        import("import decel rate", R"({"axisSettings":{"decelRate":100000}})",
               "axisSettings.decelRate' must be a whole number from 1 to 100");
        import("import steering angle", R"({"axisSettings":{"steeringAngleDeg":45}})",
               "axisSettings.steeringAngleDeg' must be 0 or a whole number from 90 to 2520");
        import("import curve", R"({"axisSettings":{"Brake":{"curve":3}}})",
               "axisSettings.Brake.curve' must be a whole number from 0 to 2");
        import("import LED count", R"({"ledSettings":{"ledCount":100000}})",
               "ledSettings.ledCount' must be a whole number from 1 to 100");
        import("import helicopter channel", R"({"helicopterConfig":{"channels":{"roll":99}}})",
               "helicopterConfig.channels.roll' must be a whole number from 0 to 15");
        import("import arm pulse", R"({"vehicleType":"rc_helicopter","helicopterConfig":{"fly":{"arm":{"onUs":1e9}}}})",
               "helicopterConfig.fly.arm.onUs' must be a whole number from 900 to 2100");
        import("import mapping name", R"({"buttonMappings":[{"buttonIndex":1,"channel":4,"name":"$long"}]})",
               "buttonMappings[0].name' must be a text of at most 64 characters");
        import("import device name", R"({"deviceConnections":{"pedals":{"productName":"$long$long$long$long$long"}}})",
               "deviceConnections.pedals.productName' must be a text of at most 260 characters");
        import("import sensor name", R"({"telemetrySensors":[{"id":"RQly","label":"LQ","name":"Mine\u202E"}]})",
               "telemetrySensors[0].name' must be a name without control characters or text direction overrides");
        import("import pinned id", R"({"telemetryDashboard":["$long"]})",
               "telemetryDashboard[0]' must be a text of at most 4 characters");
        import("import vehicle type", R"({"vehicleType":"boat"})",
               R"(vehicleType' must be "rc_car" or "rc_helicopter")");
    }

    void missingParameters()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QCOMPARE(api->request(event, data), refused(event, message));
        QCOMPARE(profilesOf(*api).size(), 1);
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    // Names from a client follow the same rule as the desktop dialog: trimmed, not blank, at
    // most 64 characters; a refused name changes nothing.
    void profileNameRule_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("message");
        const QString longest(64, QLatin1Char('n'));
        const QString tooLong(5000, QLatin1Char('n'));
        const QString lengthRefusal = QStringLiteral("Profile name is too long: at most 64 characters");
        const struct
        {
            const char *event;
            const char *missing;
        } events[] = {{"action_create_profile", "Missing 'name' parameter"},
                      {"action_rename_profile", "Missing 'id' or 'name' parameter"},
                      {"action_duplicate_profile", "Missing 'sourceId' or 'name' parameter"}};
        const QString invisible = QStringLiteral("'name' has nothing visible: it holds only blanks or invisible characters");
        for (const auto &e : events) {
            QTest::addRow("%s empty", e.event) << e.event << "" << QString() << e.missing;
            QTest::addRow("%s blank", e.event) << e.event << "  \t  " << QString() << invisible;
            QTest::addRow("%s invisible", e.event) << e.event << QString::fromUtf16(u"\u200B\u3164") << QString() << invisible;
            QTest::addRow("%s 5000", e.event) << e.event << tooLong << QString() << lengthRefusal;
            QTest::addRow("%s 65", e.event) << e.event << longest + "x" << QString() << lengthRefusal;
            QTest::addRow("%s 64", e.event) << e.event << longest << longest << QString();
            QTest::addRow("%s padded", e.event) << e.event << "  Rally  " << "Rally" << QString();
        }
    }

    void profileNameRule()
    {
        QFETCH(QString, event);
        QFETCH(QString, name);
        QFETCH(QString, stored);
        QFETCH(QString, message);
        const QString firstId = api->rig.controller->profileManager()->activeProfileId();
        const QJsonObject data{{"name", name}, {"id", firstId}, {"sourceId", firstId}};
        const QJsonObject reply = api->request(event, data);
        const QJsonArray profiles = profilesOf(*api);
        if (!message.isEmpty()) {
            QCOMPARE(reply, refused(event, message));
            QCOMPARE(profiles.size(), 1);
            QCOMPARE(profileFile(*api, firstId).value("name").toString(), QString("Default"));
            return;
        }
        QCOMPARE(reply.value("success").toBool(), true);
        const QString id = event == QLatin1String("action_rename_profile") ? firstId : newIdOf(reply);
        QCOMPARE(profileFile(*api, id).value("name").toString(), stored);
    }

private:
    std::unique_ptr<ApiRig> api;
    std::unique_ptr<QTemporaryDir> m_temp;
};

OSTRA_TEST_MAIN_CORE(TestWsProfileHandler)
#include "tst_wsprofilehandler.moc"
