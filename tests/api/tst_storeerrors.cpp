#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "api/apihandlers.h"
#include "apirig.h"
#include "bridge/devicesecurity.h"
#include "platform/storage/iniformat.h"
#include "platform/storage/settingsfile.h"
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

// What a store holds of its lists, as the next start reads them from the files.
QJsonObject contentsOf(const ProfileManager &store)
{
    QJsonArray profiles;
    for (const Profile &profile : store.profiles())
        profiles.append(QJsonArray{profile.id, profile.name, profile.vehicleType});
    QJsonArray presets;
    for (const EscPreset &preset : store.escPresets())
        presets.append(preset.toJson());
    for (const char *kind : {"controls", "ffb"}) {
        for (const UserPreset &preset : store.userPresets(kind))
            presets.append(preset.toJson());
    }
    return {{"active", store.activeProfileId()}, {"profiles", profiles}, {"presets", presets}};
}

// A file not even root can remove while this lives (the immutable flag of ext4 and others).
class Pinned
{
public:
    explicit Pinned(const QString &path) : m_path(path), m_pinned(!path.isEmpty() && pin(true)) {}
    ~Pinned()
    {
        if (m_pinned)
            pin(false);
    }
    bool pinned() const { return m_pinned; }

private:
    bool pin(bool on) const
    {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return done;
    }

    QString m_path;
    bool m_pinned = false;
};

// A folder the user may write in but not read (mode 0300), as the writer's thread meets it: that
// thread loses the right to ignore file permissions, as a user's session has none, while this lives.
class UnreadableFolder
{
public:
    explicit UnreadableFolder(const QString &path) : m_path(path)
    {
        if (m_path.isEmpty())
            return;
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0300) == 0);
        overrideOnWriterThread(false);
    }
    ~UnreadableFolder()
    {
        if (m_path.isEmpty())
            return;
        overrideOnWriterThread(true);
        ::chmod(QFile::encodeName(m_path).constData(), 0700);
    }

private:
    // A job of its own, in turn with the others on the writer's thread: capabilities are the thread's.
    static void overrideOnWriterThread(bool allowed)
    {
        corvane::FileWriter::shared().update("capabilities", [allowed] {
            return corvane::FileWriter::Work([allowed] {
                __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
                __user_cap_data_struct caps[2]{};
                ::syscall(SYS_capget, &header, caps);
                const unsigned override = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
                caps[0].effective = allowed ? caps[0].effective | override : caps[0].effective & ~override;
                ::syscall(SYS_capset, &header, caps);
                return corvane::FileWriter::Outcome::Stored;
            });
        });
    }

    QString m_path;
};

// Why a save failed under `limit` (ostratest::Starved), as a reply says it.
QString reasonOf(const QString &limit)
{
    if (limit == "descriptors" && !ostratest::Starved::sanitized())
        return "too many files are open";
    if (limit == "descriptors" || limit == "file size")
        return "the file size limit is reached";
    if (limit == "failing sync" || limit == "failing folder sync")
        return "the disk reported an error";
    if (limit == "unreadable folder")
        return "permission denied";
    return "operation not permitted"; // pinned
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
        // The outgoing profile is unchanged: only the choice is written, and taken back.
        const QString choice = "Failed to save which profile is active";
        QTest::newRow("set_active_profile") << "set_active_profile" << R"({"id":"$other"})" << fds << choice;
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
        // A disk that takes the bytes but fails their sync (a failing card) keeps the old files.
        const QString sync = "failing sync";
        QTest::newRow("set_active_profile, failing sync") << "set_active_profile" << R"({"id":"$other"})" << sync << choice;
        QTest::newRow("action_create_profile, failing sync") << "action_create_profile" << R"({"name":"New"})" << sync
                                                             << "Failed to save profile: New";
        QTest::newRow("action_update_esc_preset, failing sync") << "action_update_esc_preset"
                                                                << R"({"id":"$esc","neutral":990})" << sync << esc;
        QTest::newRow("set_axis_settings, failing sync") << "set_axis_settings" << R"({"wheelRotationDeg":540})" << sync
                                                         << profile;
        // The change is in the file, but a power cut may undo it while its folder is not synced.
        const QString folderSync = "failing folder sync";
        QTest::newRow("set_axis_settings, failing folder sync") << "set_axis_settings" << R"({"wheelRotationDeg":540})"
                                                                << folderSync << profile;
        QTest::newRow("action_delete_profile, failing folder sync") << "action_delete_profile" << R"({"id":"$other"})"
                                                                    << folderSync << "Failed to delete profile: Other";
        // A folder that cannot be opened cannot be synced: nothing lands in it.
        const QString unreadable = "unreadable folder";
        QTest::newRow("set_axis_settings, unreadable folder") << "set_axis_settings" << R"({"wheelRotationDeg":540})"
                                                              << unreadable << profile;
        QTest::newRow("action_delete_profile, unreadable folder") << "action_delete_profile" << R"({"id":"$other"})"
                                                                  << unreadable << "Failed to delete profile: Other";
        // Removing needs no room on the disk: a file that stays makes it fail.
        QTest::newRow("action_delete_profile") << "action_delete_profile" << R"({"id":"$other"})" << "pinned"
                                               << "Failed to delete profile: Other";
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
            const Pinned pinned(limit == "pinned" ? api->rig.controller->profileManager()->profileFilePath(m_ids["$other"]) : "");
            if (limit == "pinned" && !pinned.pinned())
                QSKIP("This file system cannot keep a file from being removed");
            const UnreadableFolder unreadable(limit == "unreadable folder" ? folder() : "");
            reply = api->request(event, request);
        }
        QCOMPARE(reply.value("success"), QJsonValue(false));
        // With why, as the disk said it: a full disk is not a moment's wait.
        QCOMPARE(reply.value("message").toString(), limit.isEmpty() ? message : message + ": " + reasonOf(limit));
        // Nothing it made is named.
        const QJsonObject made = reply.value("data").toObject();
        QVERIFY(reply.value("id").toString().isEmpty() && !made.contains("id") && !made.contains("profileId"));
        // A write no reply waits for (which profile is active) may still be inside the disk.
        QVERIFY(ostratest::writesDone());
        if (limit != "failing folder sync") {
            QCOMPARE(filesOnDisk(), files);
            QCOMPARE(listsOf(), lists);
        }
        // What the store holds is what the next start reads.
        QCOMPARE(contentsOf(ProfileManager()), contentsOf(*api->rig.controller->profileManager()));
    }

    // Under a file-size limit the profiles no longer fit, the small file naming the active one
    // does: a switch away from an unchanged profile writes only that, and is made.
    void switchNeedsNoProfileWrite()
    {
        QJsonObject reply;
        {
            const ostratest::Starved starved("file size");
            reply = api->request("set_active_profile", {{"id", m_ids["$other"]}});
        }
        QCOMPARE(reply, ok("set_active_profile"));
        QCOMPARE(ProfileManager().activeProfileId(), m_ids["$other"]);
    }

    // Writers change one profile at once while its file is being written: each change takes
    // effect when it is read, another client is answered meanwhile (and sees them), each writer's
    // replies wait for the disk and keep their order, the changes that came during the write go in
    // one more write, and a restarted store reads every writer's last change. A write that fails
    // fails every reply waiting for it.
    void manyClientsSaveOneProfile_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("message"); // empty: saved
        QTest::newRow("slow disk") << "" << "";
        QTest::newRow("file size limit") << "file size" << "Failed to save profile: Default: " + reasonOf("file size");
        QTest::newRow("failing sync") << "failing sync" << "Failed to save profile: Default: " + reasonOf("failing sync");
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
                    return api->request("get_axis_settings").value("data")[field] == 96;
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

    // A disk slow to take a save (one of another profile waits where it replaces its file):
    // requests that write, and the force feedback's own timed save, hand their files to the
    // writer. Meanwhile the 7 ms tick goes on sending frames, the thread it runs on makes no
    // sync call, and no reply claims a change before its file is on disk.
    void slowDiskKeepsTheTick_data()
    {
        QTest::addColumn<QString>("event"); // empty: the force feedback's timed save
        QTest::addColumn<QString>("data");
        QTest::newRow("set_active_profile") << "set_active_profile" << R"({"id":"$other"})";
        QTest::newRow("action_create_profile") << "action_create_profile" << R"({"name":"New"})";
        QTest::newRow("action_rename_profile") << "action_rename_profile" << R"({"id":"$active","name":"Car"})";
        QTest::newRow("action_duplicate_profile") << "action_duplicate_profile" << R"({"sourceId":"$active","name":"Copy"})";
        QTest::newRow("action_delete_profile") << "action_delete_profile" << R"({"id":"$other"})";
        QTest::newRow("action_create_esc_preset") << "action_create_esc_preset" << R"({"name":"Drift"})";
        QTest::newRow("action_save_preset") << "action_save_preset" << R"({"kind":"ffb","name":"Soft"})";
        QTest::newRow("set_axis_settings") << "set_axis_settings" << R"({"decelRate":7})";
        QTest::newRow("force feedback save") << "" << "";
    }

    void slowDiskKeepsTheTick()
    {
        QFETCH(QString, event);
        QFETCH(QString, data);
        for (auto it = m_ids.cbegin(); it != m_ids.cend(); ++it)
            data.replace(it.key(), it.value());
        corvane::CorvaneController *controller = api->rig.controller.get();
        ProfileManager *store = controller->profileManager();
        QVERIFY(api->rig.connectCar());
        controller->startTransmission();
        QVERIFY(controller->isRunning());
        // The transmitter has told its id (and the allow-list has been stored) before.
        QTRY_VERIFY(!controller->deviceSecurity()->currentDeviceId().isEmpty());
        const int syncs = ostratest::HeldRenames::syncsOnThisThread();
        {
            ostratest::HeldRenames held(m_ids["$other"] + ".json");
            store->mutableProfile(m_ids["$other"])->ledSettings.ledCount = 9;
            QVERIFY(store->saveProfile(m_ids["$other"]));
            QTRY_COMPARE(held.waiting(), 1);
            if (event.isEmpty())
                controller->setWheelFfbStrength(0.9f);
            else
                api->client.send({{"event", event}, {"data", QJsonDocument::fromJson(data.toUtf8()).object()}});
            // Past the force feedback's 500 ms: its save is handed over by now.
            const uint frames = controller->frameCount();
            QTRY_VERIFY(controller->frameCount() > frames + 100);
            QCOMPARE(held.waiting(), 1);
            QVERIFY(api->client.pending().isEmpty());
            held.release();
            if (!event.isEmpty())
                QCOMPARE(api->client.next().value("success"), QJsonValue(true));
            QVERIFY(ostratest::writesDone());
        }
        QCOMPARE(ostratest::HeldRenames::syncsOnThisThread(), syncs);
        controller->stopTransmissionAndHold();
        if (event.isEmpty())
            QCOMPARE(ProfileManager().wheelFfb().strength, 0.9f);
    }

    // A trim whose save fails stays open: reverting it puts the remembered centre back on the
    // steering channel, and the profile, on disk and in the next save, holds the remembered one.
    void failedTrimCanBeReverted()
    {
        corvane::CorvaneController *controller = api->rig.controller.get();
        QVERIFY(api->rig.startCar());
        const int remembered = controller->axisSettings().steeringCenter;
        api->rig.tick();
        const int centred = api->rig.ch(0);
        QCOMPARE(api->request("set_steering_trim_live", {{"steeringCenter", remembered + 76}}), ok("set_steering_trim_live"));
        api->rig.tick();
        QCOMPARE_GT(api->rig.ch(0), centred + 70);
        QVERIFY(ostratest::writesDone());
        {
            const ostratest::Starved starved("descriptors");
            QCOMPARE(api->request("apply_steering_trim").value("success"), QJsonValue(false));
        }
        QCOMPARE(api->request("revert_steering_trim").value("data").toObject().value("steeringCenter"), remembered);
        api->rig.tick();
        QCOMPARE(api->rig.ch(0), centred);
        QCOMPARE(api->request("set_wheel_ffb", {{"strength", 0.5}}).value("success"), QJsonValue(true));
        QCOMPARE(ProfileManager().axisSettings().steeringCenter, remembered);
    }

    // A request whose save failed, sent again once the disk takes it: its value is in memory
    // already, yet the reply comes only once the file holds it.
    void sameRequestAfterAFailure_data()
    {
        QTest::addColumn<QString>("setup"); // sent and stored first
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("key"); // the settings key it sets; empty: the active profile
        QTest::newRow("set_auto_start") << "" << "set_auto_start" << R"({"enabled":true})" << "";
        QTest::newRow("set_telemetry_discovery") << "" << "set_telemetry_discovery" << R"({"enabled":false})" << "";
        QTest::newRow("set_telemetry_dashboard") << "" << "set_telemetry_dashboard" << R"({"pinned":["RSSI"]})" << "";
        QTest::newRow("action_set_provisioning_mode") << "" << "action_set_provisioning_mode" << R"({"enabled":false})"
                                                      << "DeviceSecurity/provisioningMode";
        QTest::newRow("action_remove_authorized_device") << "" << "action_remove_authorized_device"
                                                         << R"({"deviceId":"QOR-A1"})" << "DeviceSecurity/authorizedDevices";
        QTest::newRow("action_lounge_stop") << "" << "action_lounge_stop" << "{}" << "lounge/stopped";
        QTest::newRow("action_lounge_release") << "action_lounge_stop" << "action_lounge_release" << "{}" << "lounge/stopped";
    }

    void sameRequestAfterAFailure()
    {
        QFETCH(QString, setup);
        QFETCH(QString, event);
        QFETCH(QString, data);
        QFETCH(QString, key);
        const QJsonObject request = QJsonDocument::fromJson(data.toUtf8()).object();
        api->rig.controller->deviceSecurity()->checkDevice("QOR-A1");
        if (!setup.isEmpty())
            api->request(setup);
        QVERIFY(ostratest::writesDone());
        {
            const ostratest::Starved starved("failing sync");
            QCOMPARE(api->request(event, request).value("success"), QJsonValue(false));
        }
        QVERIFY(api->request(event, request).value("success").toBool(true));
        if (key.isEmpty()) {
            QCOMPARE(ProfileManager().activeProfile()->toJson(), api->rig.controller->profileManager()->activeProfile()->toJson());
            return;
        }
        const corvane::SettingsFile settings;
        QFile file(settings.fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        bool damaged = false;
        QVariantMap onDisk = corvane::IniFormat::parsed(file.readAll(), damaged);
        onDisk.removeIf([&key](const auto &entry) { return entry.key() != key; });
        QVariantMap held;
        if (settings.contains(key))
            held.insert(key, settings.value(key));
        QCOMPARE(corvane::IniFormat::differingKeys(held, onDisk), QStringList());
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
