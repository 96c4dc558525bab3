#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <csignal>
#include <functional>

#include "jsoncheck.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using corvane::ProfileManager;

static QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
}

static void writeFile(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(folder());
    QFile file(folder() + QLatin1Char('/') + name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

static QByteArray readFile(const QString &name)
{
    QFile file(folder() + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static QJsonObject readObject(const QString &name)
{
    return QJsonDocument::fromJson(readFile(name)).object();
}

static QByteArray doc(const QString &id, const QString &name, const QString &type = QStringLiteral("rc_car"),
                      const QString &modified = QString())
{
    QJsonObject obj{{"id", id}, {"name", name}, {"vehicleType", type}};
    if (!modified.isEmpty())
        obj.insert("modifiedAt", modified);
    return QJsonDocument(obj).toJson();
}

static QString firstError(const QSignalSpy &errors)
{
    return errors.isEmpty() ? QString() : errors.at(0).at(0).toString();
}

class TestProfileManager : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    }

    // A first start makes "Default" and the state file; switching saves the outgoing profile and the
    // state; the destructor writes everything; the next start finds it all.
    void firstStart()
    {
        QString first;
        QString second;
        {
            ProfileManager store;
            QCOMPARE(store.profiles().size(), 1);
            first = store.activeProfileId();
            QCOMPARE(store.property("activeProfileName").toString(), QStringLiteral("Default"));
            QCOMPARE(store.activeVehicleType(), QStringLiteral("rc_car"));
            const QString where
                = jsoncheck::mismatch(readObject(first + ".json"), QJsonObject{{"name", "Default"}, {"version", 2}})
                + jsoncheck::mismatch(readObject("config.json"),
                                      QJsonObject{{"lastActiveProfileId", first},
                                                  {"lastActiveByType", QJsonObject{{"rc_car", first}}},
                                                  {"version", 1}});
            QVERIFY2(where.isEmpty(), qPrintable(where));

            second = store.createProfile("Second");
            store.mutableProfile(first)->axisSettings.escNeutral = 1111;
            QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
            QSignalSpy errors(&store, &ProfileManager::errorOccurred);
            QVERIFY(store.setActiveProfile(first));
            QVERIFY(!store.setActiveProfile("nope"));
            QCOMPARE(firstError(errors), QStringLiteral("Profile not found: nope"));
            QVERIFY(store.setActiveProfile(second));
            QCOMPARE(activeChanged.size(), 1);
            QCOMPARE(activeChanged.at(0).at(0).toString(), second);
            QCOMPARE(Profile::fromJson(readObject(first + ".json")).axisSettings.escNeutral, 1111);
            QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), second);

            store.mutableActiveProfile()->ledSettings.ledCount = 123;
            QFile::remove(folder() + "/config.json");
        }
        QCOMPARE(Profile::fromJson(readObject(second + ".json")).ledSettings.ledCount, 123);
        ProfileManager again;
        QCOMPARE(again.profiles().size(), 2);
        QCOMPARE(again.activeProfileId(), second);
    }

    // Files as "name=id" (a profile of that id, named after the id's upper case) or "name:content".
    void loading_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("activeName");
        QTest::newRow("file named otherwise loads under its own id") << QStringList{"other.json=p1"} << "P1" << "P1";
        QTest::newRow("remembered profile becomes active")
            << QStringList{"a.json=a", "b.json=b", R"(config.json:{"lastActiveProfileId": "b"})"} << "A B" << "B";
        QTest::newRow("config naming a missing id activates the first id")
            << QStringList{"b.json=b", "a.json=a", R"(config.json:{"lastActiveProfileId": "gone"})"} << "A B" << "A";
        QTest::newRow("unusable files are skipped")
            << QStringList{"t.json:{\"id\": \"t\", \"name\": \"T", "e.json:", R"(n.json:{"id": "n"})",
                           "arr.json:[1, 2]", R"(x.json:{"name": "no id"})", "ok.json=ok", "txt.txt=txt",
                           "config.json:not json"}
            << "OK" << "OK";
        QTest::newRow("only preset files: Default is made")
            << QStringList{R"(esc_presets.json:{"presets": [{"id": "e1", "name": "Fast"}]})",
                           R"(user_presets.json:{"presets": [{"id": "u1", "kind": "ffb", "name": "Soft"}]})"}
            << "Default" << "Default";
        QTest::newRow("ids that would overwrite the store's own files are skipped")
            << QStringList{"1.json=config", "2.json=esc_presets", "3.json=User_Presets", "4.json=Config", "ok.json=ok"}
            << "OK" << "OK";
        QTest::newRow("ids that would leave the folder are skipped")
            << QStringList{"1.json=../escape", "2.json=sub/dir", "3.json=/tmp/abs", "4.json=back\\slash",
                           "5.json=..", "ok.json=ok"}
            << "OK" << "OK";
        QTest::newRow("ids that name a device are skipped, look-alikes load")
            << QStringList{"1.json=COM3", "2.json=nul", "3.json=Lpt1.x", "4.json=con ", "5.json=aux", "6.json=com",
                           "7.json=console"}
            << "COM CONSOLE" << "COM";
        QTest::newRow("own hidden file wins over a stale copy")
            << QStringList{R"(copy.json:{"id": ".dot", "name": "Old"})", ".dot.json=.dot"} << ".DOT" << ".DOT";
        QTest::newRow("own-named file wins over stale copies")
            << QStringList{R"(a.json:{"id": "p", "name": "Old"})", "p.json=p", R"(z.json:{"id": "p", "name": "Old"})"}
            << "P" << "P";
    }

    void loading()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, names);
        QFETCH(QString, activeName);
        for (const QString &file : files) {
            const qsizetype at = file.indexOf(QRegularExpression("[=:]"));
            const QString id = file.mid(at + 1);
            writeFile(file.left(at), file.at(at) == '=' ? doc(id, id.toUpper()) : id.toUtf8());
        }
        const QDir outside(QFileInfo(folder()).absolutePath());
        const QStringList outsideBefore = outside.entryList(QDir::Files);
        {
            ProfileManager store;
            QStringList loaded;
            for (const Profile &profile : store.profiles())
                loaded.append(profile.name);
            QCOMPARE(loaded.join(' '), names);
            QCOMPARE(store.activeProfileName(), activeName);
        }
        // Saving everything at exit wrote nothing outside the folder and no store file as a profile.
        QCOMPARE(outside.entryList(QDir::Files), outsideBefore);
        QVERIFY(!QFile::exists("/tmp/abs.json"));
        for (const char *own : {"config.json", "esc_presets.json", "user_presets.json"})
            QVERIFY2(!readObject(own).contains("name"), own);
    }

    void staleCopiesGoWithTheProfile()
    {
        writeFile("keep.json", doc("keep", "Keep"));
        writeFile("old-name.json", doc("gone", "Gone"));
        {
            ProfileManager store;
            QVERIFY(store.saveProfile("gone"));
            QVERIFY(QFile::exists(folder() + "/gone.json") && QFile::exists(folder() + "/old-name.json"));
        }
        {
            ProfileManager store;
            QVERIFY(store.deleteProfile("gone"));
            QVERIFY(!QFile::exists(folder() + "/gone.json") && !QFile::exists(folder() + "/old-name.json"));
        }
        ProfileManager store;
        QCOMPARE(store.profiles().size(), 1);
    }

    void createProfile_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty name counts on from taken names ignoring case")
            << QStringList{"New Profile", "new profile (2)"} << "" << "New Profile (3)";
        QTest::newRow("free name unchanged, blanks kept") << QStringList() << " Buggy " << " Buggy ";
        QTest::newRow("Default is taken ignoring case") << QStringList() << "default" << "default (2)";
        QTest::newRow("numbered base gets another number") << QStringList{"Car (2)"} << "Car (2)" << "Car (2) (2)";
        QTest::newRow("placeholders in the base stay text") << QStringList{"Van %2"} << "Van %2" << "Van %2 (2)";
    }

    void createProfile()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, requested);
        QFETCH(QString, expected);

        ProfileManager store;
        const QString activeId = store.activeProfileId();
        store.mutableActiveProfile()->vehicleType = VehicleType::Helicopter;
        for (const QString &name : existing)
            QCOMPARE(store.mutableProfile(store.createProfile(name))->name, name);
        QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
        QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
        const QString id = store.createProfile(requested);
        QCOMPARE(id.size(), 36);
        QCOMPARE(listChanged.size(), 1);
        QCOMPARE(activeChanged.size(), 0);
        QCOMPARE(store.activeProfileId(), activeId);
        const QJsonObject file = readObject(id + ".json");
        QCOMPARE(file.value("name").toString(), expected);
        QCOMPARE(file.value("vehicleType").toString(), QStringLiteral("rc_helicopter"));
    }

    void duplicateProfile()
    {
        ProfileManager store;
        const QString carId = store.createProfile("Car");
        store.mutableProfile(carId)->axisSettings.escNeutral = 1000;
        store.mutableProfile(carId)->createdAt = QDateTime(QDate(2020, 1, 1), QTime(0, 0));
        const QString first = store.duplicateProfile(carId, QString());
        const QString second = store.duplicateProfile(carId, QString());
        const QString named = store.duplicateProfile(carId, "car");
        QCOMPARE(store.mutableProfile(first)->name, QStringLiteral("Car (Copy)"));
        QCOMPARE(store.mutableProfile(second)->name, QStringLiteral("Car (Copy) (2)"));
        QCOMPARE(store.mutableProfile(named)->name, QStringLiteral("car (2)"));
        QVERIFY(store.mutableProfile(first)->createdAt.date().year() > 2020);
        QCOMPARE(Profile::fromJson(readObject(first + ".json")).axisSettings.escNeutral, 1000);

        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QCOMPARE(store.duplicateProfile("nope", "X"), QString());
        QCOMPARE(firstError(errors), QStringLiteral("Source profile not found: nope"));
        QCOMPARE(store.profiles().size(), 5);
    }

    void renameProfile_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error");
        QTest::newRow("to a name another profile has") << false << "" << "Default" << "";
        QTest::newRow("active profile announces") << true << "" << "Main" << "";
        QTest::newRow("blank name kept") << false << "" << " " << "";
        QTest::newRow("empty name refused") << false << "" << "" << "Profile name cannot be empty";
        QTest::newRow("unknown id refused") << false << "zz" << "X" << "Profile not found: zz";
    }

    void renameProfile()
    {
        QFETCH(bool, active);
        QFETCH(QString, id);
        QFETCH(QString, name);
        QFETCH(QString, error);

        ProfileManager store;
        if (id.isEmpty())
            id = active ? store.activeProfileId() : store.createProfile("Other");
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
        QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
        QCOMPARE(store.renameProfile(id, name), error.isEmpty());
        QCOMPARE(firstError(errors), error);
        QCOMPARE(activeChanged.size(), active ? 1 : 0);
        QCOMPARE(listChanged.size(), error.isEmpty() ? 1 : 0);
        if (store.mutableProfile(id))
            QCOMPARE(readObject(id + ".json").value("name").toString(),
                     error.isEmpty() ? name : QStringLiteral("Other"));
    }

    void deleteProfile_data()
    {
        QTest::addColumn<QString>("active");
        QTest::addColumn<QString>("deleted");
        QTest::addColumn<QString>("activeAfter");
        QTest::newRow("deleting active 1 activates 2") << "1" << "1" << "2";
        QTest::newRow("deleting active 2 activates 1") << "2" << "2" << "1";
        QTest::newRow("deleting an inactive profile keeps the active one") << "1" << "2" << "1";
    }

    void deleteProfile()
    {
        QFETCH(QString, active);
        QFETCH(QString, deleted);
        QFETCH(QString, activeAfter);

        writeFile("1.json", doc("1", "One"));
        writeFile("2.json", doc("2", "Two"));
        writeFile("config.json", QJsonDocument(QJsonObject{{"lastActiveProfileId", active}}).toJson());
        ProfileManager store;
        QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QVERIFY(store.deleteProfile(deleted));
        QCOMPARE(store.activeProfileId(), activeAfter);
        QCOMPARE(activeChanged.size(), active == deleted ? 1 : 0);
        QVERIFY(!QFile::exists(folder() + "/" + deleted + ".json"));
        QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), activeAfter);

        QVERIFY(!store.deleteProfile("missing"));
        QVERIFY(!store.deleteProfile(activeAfter));
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.at(1).at(0).toString(), QStringLiteral("Cannot delete the last profile"));
        QVERIFY(QFile::exists(store.profileFilePath(activeAfter)));
    }

    void importProfile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("name");
        QTest::newRow("usable profile") << doc("Default", "Heli", "rc_helicopter") << "" << "Heli";
        QTest::newRow("name taken is made unique") << doc("x", "default") << "" << "default (2)";
        QTest::newRow("id that names a store file is replaced") << doc("config", "Imported") << "" << "Imported";
        QTest::newRow("missing file") << QByteArray() << "Failed to open file: %1" << "";
        QTest::newRow("not an object") << QByteArray("[1]") << "Invalid profile file format" << "";
        QTest::newRow("torn file") << doc("x", "Y").left(15) << "Invalid profile file format" << "";
        QTest::newRow("no name") << QByteArray(R"({"id": "x"})") << "Invalid profile data" << "";
    }

    void importProfile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(QString, name);

        QTemporaryDir dir;
        const QString path = dir.filePath("import.json");
        QFile file(path);
        QVERIFY(content.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
        file.close();
        ProfileManager store;
        const QString activeId = store.activeProfileId();
        const QByteArray configBefore = readFile("config.json");
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QString newId;
        QCOMPARE(store.importProfile(path, &newId), error.isEmpty());
        QCOMPARE(firstError(errors), error.contains("%1") ? error.arg(path) : error);
        QCOMPARE(store.activeProfileId(), activeId);
        QCOMPARE(readFile("config.json"), configBefore);
        QCOMPARE(store.profiles().size(), error.isEmpty() ? 2 : 1);
        if (error.isEmpty()) {
            QCOMPARE(newId.size(), 36);
            const Profile imported = Profile::fromJson(readObject(newId + ".json"));
            QCOMPARE(imported.id, newId);
            QCOMPARE(imported.name, name);
            QCOMPARE(imported.vehicleType, Profile::fromJson(jsoncheck::object(content)).vehicleType);
            QVERIFY(imported.createdAt.isValid());
        }
    }

    // Helicopter profiles as "id name day" (day of modification in January, 0: none); a car "c"
    // modified on the 2nd is always there.
    void profileForVehicleType_data()
    {
        QTest::addColumn<QStringList>("helicopters");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("preferredName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("equal times keep the smaller id") << QStringList{"h2 B 1", "h1 A 1"} << QByteArray() << ""
                                                         << "h1";
        QTest::newRow("newest wins") << QStringList{"h1 A 1", "h2 B 2"} << QByteArray() << "" << "h2";
        QTest::newRow("invalid time loses to a valid one") << QStringList{"h1 A 0", "h2 B 1"} << QByteArray() << ""
                                                           << "h2";
        QTest::newRow("name match ignoring case beats newest")
            << QStringList{"h1 Bird 1", "h2 B 2"} << QByteArray() << "BIRD"
            << "h1";
        QTest::newRow("remembered profile beats the name match")
            << QStringList{"h1 Bird 1", "h2 B 1"}
            << QByteArray(R"({"lastActiveProfileId": "c", "lastActiveByType": {"rc_helicopter": "h2"}})") << "Bird"
            << "h2";
        QTest::newRow("remembered id of another type is skipped") << QStringList{"h1 A 1"}
            << QByteArray(R"({"lastActiveByType": {"rc_helicopter": "c"}})") << "" << "h1";
        QTest::newRow("remembered id that no longer exists is skipped") << QStringList{"h1 A 1"}
            << QByteArray(R"({"lastActiveByType": {"rc_helicopter": "gone"}})") << "" << "h1";
        QTest::newRow("type compared exactly") << QStringList{"H1 A 1"} << QByteArray() << "" << "";
    }

    void profileForVehicleType()
    {
        QFETCH(QStringList, helicopters);
        QFETCH(QByteArray, config);
        QFETCH(QString, preferredName);
        QFETCH(QString, expected);

        writeFile("c.json", doc("c", "Car", "rc_car", "2026-01-02T10:00:00"));
        for (const QString &heli : helicopters) {
            const QStringList f = heli.split(' ');
            // An upper-case id marks a type spelled in another case.
            writeFile(f[0] + ".json", doc(f[0].toLower(), f[1], f[0].at(0) == 'H' ? "RC_HELICOPTER" : "rc_helicopter",
                                          f[2] == "0" ? QString() : QStringLiteral("2026-01-0%1T10:00:00").arg(f[2])));
        }
        if (!config.isEmpty())
            writeFile("config.json", config);
        ProfileManager store;
        QCOMPARE(store.profileIdForVehicleType("rc_helicopter", preferredName), expected);
        if (expected.isEmpty())
            return;
        QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
        QCOMPARE(store.switchVehicleType("rc_helicopter", preferredName), expected);
        QCOMPARE(store.activeProfileId(), expected);
        QCOMPARE(listChanged.size(), 0);
    }

    void switchVehicleTypeCreatesAndRemembers()
    {
        ProfileManager store;
        const QString carId = store.activeProfileId();
        QCOMPARE(store.switchVehicleType("rc_car", "whatever"), carId);

        QStringList order;
        connect(&store, &ProfileManager::profileListChanged, this, [&] { order.append("list"); });
        connect(&store, &ProfileManager::activeProfileChanged, this, [&] { order.append("active"); });
        const QString heliId = store.switchVehicleType("rc_helicopter", QString());
        QCOMPARE(order, (QStringList{"list", "active"}));
        QVERIFY(heliId != carId);
        QCOMPARE(store.activeProfileId(), heliId);
        QCOMPARE(store.activeProfileName(), QStringLiteral("New Profile"));
        QVERIFY(readObject(heliId + ".json").contains("helicopterConfig"));
        const QJsonObject byType = readObject("config.json").value("lastActiveByType").toObject();
        QCOMPARE(byType, (QJsonObject{{"rc_car", carId}, {"rc_helicopter", heliId}}));

        QCOMPARE(store.switchVehicleType("rc_car", QString()), carId);
        QCOMPARE(store.switchVehicleType("rc_helicopter", "New Profile"), heliId);
        QCOMPARE(store.profiles().size(), 2);

        // A preferred name that is taken by a car still gives a helicopter its own unique name.
        store.mutableProfile(heliId)->vehicleType = QStringLiteral("rc_boat");
        QCOMPARE(store.switchVehicleType("rc_car", QString()), carId);
        const QString second = store.switchVehicleType("rc_helicopter", "Default");
        QCOMPARE(store.mutableProfile(second)->name, QStringLiteral("Default (2)"));
    }

    // Sections edited as a whole announce the change and are saved later; connections and force
    // feedback are saved at once.
    void sectionSetters()
    {
        ProfileManager store;
        const QString id = store.activeProfileId();
        store.mutableActiveProfile()->vehicleType = VehicleType::Helicopter;
        store.mutableActiveProfile()->modifiedAt = QDateTime(QDate(2020, 1, 1), QTime(0, 0));
        QVERIFY(store.saveActiveProfile());
        const QByteArray before = readFile(id + ".json");
        QSignalSpy modified(&store, &ProfileManager::profileModified);
        AxisSettings axes;
        axes.decelRate = 77;
        ButtonMappingSet buttons;
        buttons.mappings.append(ButtonMapping());
        HelicopterConfig heli;
        heli.fly.motorChannel = 9;
        LedSettings led;
        led.ledCount = 42;
        store.setAutoStartEnabled(true);
        store.setAxisSettings(axes);
        store.setButtonMappings(buttons);
        store.setHelicopterConfig(heli);
        store.setLedSettings(led);
        QCOMPARE(modified.size(), 5);
        QCOMPARE(modified.at(4).at(0).toString(), id);
        QCOMPARE(readFile(id + ".json"), before);
        QVERIFY(store.activeProfile()->modifiedAt.date().year() > 2020);

        DeviceConnection w, p, sh;
        w.productName = "W";
        p.productName = "P";
        sh.productName = "S";
        WheelFfbSettings ffb;
        ffb.strength = 0.75f;
        const QList<std::function<void()>> savingSetters{
            [&] { store.setWheelBaseDevice(w); }, [&] { store.setPedalsDevice(p); },
            [&] { store.setShifterDevice(sh); }, [&] { store.setBridgeConnection("COM9", 921600); },
            [&] { store.setWheelFfb(ffb); }};
        for (const auto &set : savingSetters) {
            const QByteArray previous = readFile(id + ".json");
            set();
            QVERIFY(readFile(id + ".json") != previous);
        }
        QCOMPARE(modified.size(), 5);
        const QString where
            = jsoncheck::mismatch(readObject(id + ".json"), jsoncheck::object(R"({"autoStartEnabled": true,
            "axisSettings": {"decelRate": 77}, "buttonMappings": [{"channel": 3}],
            "helicopterConfig": {"fly": {"motorChannel": 9}},
            "ledSettings": {"ledCount": 42}, "wheelFfb": {"strength": 0.75},
            "deviceConnections": {"bridge": {"portName": "COM9",
            "baudRate": 921600}, "wheelBase": {"productName": "W"}, "pedals": {"productName": "P"},
            "shifter": {"productName": "S"}}})"));
        QVERIFY2(where.isEmpty(), qPrintable(where));
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QString>("error");
        QTest::newRow("profile file") << "%1.json" << "Failed to save profile: Default";
        QTest::newRow("ESC presets") << "esc_presets.json" << "Failed to save ESC presets";
        QTest::newRow("user presets") << "user_presets.json" << "Failed to save presets";
    }

    // A directory standing where the file should be makes the write fail.
    void writeFailures()
    {
        QFETCH(QString, blocked);
        QFETCH(QString, error);

        ProfileManager store;
        const QString id = store.activeProfileId();
        const QString blockedPath = folder() + "/" + (blocked.contains("%1") ? blocked.arg(id) : blocked);
        QFile::remove(blockedPath);
        QVERIFY(QDir().mkpath(blockedPath));
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);

        store.mutableActiveProfile()->ledSettings.ledCount = 55;
        const bool profileSaved = store.saveActiveProfile();
        const QString escId = store.createEscPreset("Race", 1000, 1800, 200);
        const QString userId = store.saveUserPreset("ffb", "Soft", QJsonObject{{"strength", 0.2}});
        QCOMPARE(errors.size(), 1);
        QCOMPARE(firstError(errors), error);
        QCOMPARE(profileSaved, !blocked.startsWith("%1"));
        QVERIFY(QFileInfo(blockedPath).isDir());

        // Memory keeps the change and the next save after the obstacle is gone writes it.
        QVERIFY(QDir(blockedPath).removeRecursively());
        QVERIFY(store.saveActiveProfile() && store.saveEscPresets() && store.saveUserPresets());
        QCOMPARE(Profile::fromJson(readObject(id + ".json")).ledSettings.ledCount, 55);
        QCOMPARE(readObject("esc_presets.json").value("presets")[0]["id"].toString(), escId);
        QCOMPARE(readObject("user_presets.json").value("presets")[0]["id"].toString(), userId);
    }

    void escPresets()
    {
        QString id;
        {
            ProfileManager store;
            QSignalSpy changed(&store, &ProfileManager::escPresetsChanged);
            id = store.createEscPreset(" Crawler ", 1000, 1500, 500);
            const QString second = store.createEscPreset("Drift", 990, 1811, 172);
            QCOMPARE(store.escPresets().size(), 2);
            QVERIFY(store.updateEscPreset(id, 1001, 1600, 400));
            QVERIFY(store.renameEscPreset(second, "Drift 2"));
            QVERIFY(store.deleteEscPreset(second));
            QVERIFY(!store.updateEscPreset("nope", 1, 2, 3) && !store.renameEscPreset("nope", "X"));
            QVERIFY(!store.deleteEscPreset("nope") && !store.findEscPreset("nope"));
            QCOMPARE(changed.size(), 5);
            QCOMPARE(readObject("esc_presets.json").value("version").toInt(), 1);
        }
        ProfileManager store;
        QCOMPARE(store.escPresets().size(), 1);
        const EscPreset *preset = store.findEscPreset(id);
        QVERIFY(preset);
        QCOMPARE(preset->name, QStringLiteral(" Crawler "));
        QCOMPARE(QList<int>({preset->neutral, preset->fullForward, preset->fullReverse}),
                 QList<int>({1001, 1600, 400}));
    }

    void escPresetsWithoutName_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::addColumn<QString>("name");
        QTest::newRow("create empty") << false << "";
        QTest::newRow("create blank") << false << " \t ";
        QTest::newRow("rename empty") << true << "";
        QTest::newRow("rename blank") << true << "   ";
    }

    void escPresetsWithoutName()
    {
        QFETCH(bool, rename);
        QFETCH(QString, name);

        ProfileManager store;
        const QString id = store.createEscPreset("Named", 1, 2, 3);
        const QByteArray before = readFile("esc_presets.json");
        QSignalSpy changed(&store, &ProfileManager::escPresetsChanged);
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QVERIFY(rename ? !store.renameEscPreset(id, name) : store.createEscPreset(name, 4, 5, 6).isEmpty());
        QCOMPARE(changed.size(), 0);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(readFile("esc_presets.json"), before);
        QCOMPARE(store.escPresets().size(), 1);
        QCOMPARE(store.findEscPreset(id)->name, QStringLiteral("Named"));
    }

    void userPresets()
    {
        QString fastId;
        {
            ProfileManager store;
            QSignalSpy changed(&store, &ProfileManager::userPresetsChanged);
            fastId = store.saveUserPreset("K", "  Fast ", QJsonObject{{"v", 1}});
            QCOMPARE(store.findUserPreset(fastId)->name, QStringLiteral("Fast"));
            // The same name ignoring case replaces the preset of that kind.
            QCOMPARE(store.saveUserPreset("K", "FAST", QJsonObject{{"v", 2}}), fastId);
            const QString otherKind = store.saveUserPreset("L", "FAST", QJsonObject());
            QVERIFY(otherKind != fastId);
            QVERIFY(store.saveUserPreset("K", "   ", QJsonObject()).isEmpty());
            QVERIFY(store.saveUserPreset("", "Name", QJsonObject()).isEmpty());
            QCOMPARE(changed.size(), 3);
            for (const char *name : {"beta", "Alpha", "gamma"})
                store.saveUserPreset("K", name, QJsonObject());
            QStringList names;
            for (const UserPreset &preset : store.userPresets("K"))
                names.append(preset.name);
            QCOMPARE(names, (QStringList{"Alpha", "beta", "FAST", "gamma"}));
            QCOMPARE(store.userPresets("k").size(), 0);

            changed.clear();
            QVERIFY(store.deleteUserPreset(otherKind));
            QVERIFY(!store.deleteUserPreset(otherKind));
            QVERIFY(!store.renameUserPreset(fastId, "  ") && !store.renameUserPreset("nope", "X"));
            QVERIFY(store.renameUserPreset(fastId, " Quick "));
            QCOMPARE(changed.size(), 2);
            QCOMPARE(changed.at(0).at(0).toString() + changed.at(1).at(0).toString(), QStringLiteral("LK"));
        }
        ProfileManager store;
        QCOMPARE(store.userPresets("K").size(), 4);
        QCOMPARE(store.userPresets("L").size(), 0);
        const UserPreset *quick = store.findUserPreset(fastId);
        QVERIFY(quick);
        QCOMPARE(quick->name, QStringLiteral("Quick"));
        QCOMPARE(quick->data.value("v").toInt(), 2);
        QVERIFY(quick->modifiedAt.isValid());
        const QString written = readObject("user_presets.json").value("presets")[0]["modifiedAt"].toString();
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(written).hasMatch(),
                 qPrintable(written));
    }

    void presetFileReading()
    {
        writeFile("esc_presets.json", R"({"presets": [{"id": "a", "name": "A"},
            {"id": "b", "name": "B", "neutral": 1000, "fullForward": 1900.5, "fullReverse": "100"},
            {"id": "", "name": "No id"}, {"id": "c", "name": ""}, {"id": "d"}, 7, {"id": "a", "name": "A twin"}]})");
        writeFile("user_presets.json",
                  R"({"presets": [{"id": "a", "kind": "K", "name": "A", "modifiedAt": "bad", "data": 5},
            {"id": "b", "kind": "", "name": "B"}, {"id": "c", "kind": "K"}, {"kind": "K", "name": "D"},
            {"id": "e", "kind": "K", "name": "E", "modifiedAt": "2026-02-03T04:05:06", "data": {"x": 1}}]})");
        ProfileManager store;
        const QList<EscPreset> esc = store.escPresets();
        QCOMPARE(esc.size(), 3);
        QCOMPARE(
            QList<int>({esc[0].neutral, esc[0].fullForward, esc[1].neutral, esc[1].fullForward, esc[1].fullReverse}),
            QList<int>({992, 1811, 1000, 1811, 172}));
        QCOMPARE(store.findEscPreset("a")->name, QStringLiteral("A"));
        writeFile("esc_presets.json", "[]");
        QVERIFY(!store.loadEscPresets());
        QVERIFY(store.escPresets().isEmpty());

        const QList<UserPreset> user = store.userPresets("K");
        QCOMPARE(user.size(), 2);
        QVERIFY(!user[0].modifiedAt.isValid() && user[0].data.isEmpty());
        QCOMPARE(user[1].modifiedAt, QDateTime(QDate(2026, 2, 3), QTime(4, 5, 6)));
        QCOMPARE(user[1].data.value("x").toInt(), 1);
    }

    // A child saves in a loop and is killed at random moments: every file stays whole.
    void savesSurviveKill()
    {
        const QString saver = QCoreApplication::applicationDirPath() + "/profilesaver";
        QVERIFY2(QFile::exists(saver), qPrintable(saver));
        QStringList ids;
        {
            ProfileManager store;
            ids.append(store.activeProfileId());
            for (int i = 0; i < 4; ++i)
                ids.append(store.createProfile(QStringLiteral("Profile %1").arg(i)));
            store.createEscPreset("Kill", 0, 0, 0);
        }
        ids.sort();

        QRandomGenerator rng(20261206);
        for (int round = 0; round < 40; ++round) {
            QProcess child;
            child.start(saver, {});
            QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
            QVERIFY2(child.waitForReadyRead(20000), "saver did not start saving");
            QThread::usleep(rng.bounded(1000u, 30000u));
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(10000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);

            // A profile of one generation, never torn or missing.
            for (const QString &id : std::as_const(ids)) {
                const QJsonObject obj = readObject(id + ".json");
                QVERIFY2(!obj.isEmpty(), qPrintable(QStringLiteral("round %1: %2 torn").arg(round).arg(id)));
                const Profile profile = Profile::fromJson(obj);
                const int generation = profile.axisSettings.escNeutral;
                if (profile.telemetryDashboard.isEmpty())
                    QCOMPARE(generation, 992);
                else
                    QCOMPARE(profile.telemetryDashboard.count(QString::number(generation)), 400);
            }
            const QJsonArray esc = readObject("esc_presets.json").value("presets").toArray();
            QCOMPARE(esc.size(), 1);
            QCOMPARE(esc[0]["fullForward"], esc[0]["neutral"]);
            QCOMPARE(esc[0]["fullReverse"], esc[0]["neutral"]);
            const QJsonArray user = readObject("user_presets.json").value("presets").toArray();
            QCOMPARE(user.size(), 1);
            QVERIFY(user[0]["data"]["generation"].toInt() > 0);
            QVERIFY(ids.contains(readObject("config.json").value("lastActiveProfileId").toString()));
        }

        ProfileManager store;
        QStringList loaded;
        for (const Profile &profile : store.profiles())
            loaded.append(profile.id);
        QCOMPARE(loaded, ids);
        // No leftovers of unfinished writes are taken for profiles.
        QCOMPARE(QDir(folder()).entryList({"*.json"}, QDir::Files).size(), ids.size() + 3);
    }
};

OSTRA_TEST_MAIN_CORE(TestProfileManager)
#include "tst_profilemanager.moc"
