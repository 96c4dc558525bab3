#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <csignal>

#include "jsoncheck.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using corvane::ProfileManager;

class TestProfileManager : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void firstStart();
    void presetFilesAreNotProfiles();
    void loading_data();
    void loading();
    void staleCopiesGoWithTheProfile();
    void createProfile_data();
    void createProfile();
    void duplicateProfile();
    void renameProfile_data();
    void renameProfile();
    void deleteProfile_data();
    void deleteProfile();
    void deleteRefusals();
    void importProfile_data();
    void importProfile();
    void setActiveProfile();
    void profileForVehicleType_data();
    void profileForVehicleType();
    void switchVehicleTypeCreatesAndRemembers();
    void sectionSetters_data();
    void sectionSetters();
    void destructorWritesEverything();
    void writeFailures_data();
    void writeFailures();
    void escPresets();
    void escPresetsWithoutName_data();
    void escPresetsWithoutName();
    void escPresetFileReading();
    void userPresets();
    void userPresetFileReading();
    void savesSurviveKill();

private:
    static QString folder();
    static void writeFile(const QString &name, const QByteArray &bytes);
    static QByteArray readFile(const QString &name);
    static QJsonObject readObject(const QString &name);
    static QByteArray profileDoc(const QString &id, const QString &name,
                                 const QString &type = QStringLiteral("rc_car"),
                                 const QString &modified = QString());
};

QString TestProfileManager::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
}

void TestProfileManager::writeFile(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(folder());
    QFile file(folder() + QLatin1Char('/') + name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray TestProfileManager::readFile(const QString &name)
{
    QFile file(folder() + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject TestProfileManager::readObject(const QString &name)
{
    return QJsonDocument::fromJson(readFile(name)).object();
}

QByteArray TestProfileManager::profileDoc(const QString &id, const QString &name, const QString &type,
                                          const QString &modified)
{
    QJsonObject obj{{QStringLiteral("id"), id}, {QStringLiteral("name"), name},
                    {QStringLiteral("vehicleType"), type}};
    if (!modified.isEmpty())
        obj.insert(QStringLiteral("modifiedAt"), modified);
    return QJsonDocument(obj).toJson();
}

void TestProfileManager::init()
{
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

void TestProfileManager::firstStart()
{
    QVERIFY(!QDir(folder()).exists());
    QString id;
    {
        ProfileManager store;
        QCOMPARE(store.profiles().size(), 1);
        const Profile *active = store.activeProfile();
        QVERIFY(active);
        id = active->id;
        QCOMPARE(active->name, QStringLiteral("Default"));
        QCOMPARE(active->vehicleType, QStringLiteral("rc_car"));
        QCOMPARE(store.activeProfileId(), id);
        QCOMPARE(store.property("activeProfileName").toString(), QStringLiteral("Default"));
        QCOMPARE(readObject(id + ".json").value("name").toString(), QStringLiteral("Default"));
        QCOMPARE(readObject(id + ".json").value("version").toInt(), 2);
        const QJsonObject config = readObject("config.json");
        QCOMPARE(config.value("lastActiveProfileId").toString(), id);
        QCOMPARE(config.value("lastActiveByType").toObject().value("rc_car").toString(), id);
        QCOMPARE(config.value("version").toInt(), 1);
    }
    ProfileManager again;
    QCOMPARE(again.profiles().size(), 1);
    QCOMPARE(again.activeProfileId(), id);
}

void TestProfileManager::presetFilesAreNotProfiles()
{
    writeFile("esc_presets.json", R"({"version": 1, "presets": [{"id": "e1", "name": "Fast"}]})");
    writeFile("user_presets.json",
              R"({"version": 1, "presets": [{"id": "u1", "kind": "ffb", "name": "Soft", "data": {}}]})");
    ProfileManager store;
    QCOMPARE(store.profiles().size(), 1);
    QCOMPARE(store.activeProfileName(), QStringLiteral("Default"));
    QCOMPARE(store.escPresets().size(), 1);
    QCOMPARE(store.userPresets("ffb").size(), 1);
}

void TestProfileManager::loading_data()
{
    QTest::addColumn<QStringList>("fileNames");
    QTest::addColumn<QList<QByteArray>>("contents");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("activeName");

    QTest::newRow("file named otherwise loads under its own id")
        << QStringList{"other.json"} << QList<QByteArray>{profileDoc("p1", "Truck")} << QByteArray()
        << QStringList{"Truck"} << "Truck";
    QTest::newRow("remembered profile becomes active")
        << QStringList{"a.json", "b.json"} << QList<QByteArray>{profileDoc("a", "A"), profileDoc("b", "B")}
        << QByteArray(R"({"lastActiveProfileId": "b"})") << QStringList{"A", "B"} << "B";
    QTest::newRow("config naming a missing id activates the first id")
        << QStringList{"b.json", "a.json"} << QList<QByteArray>{profileDoc("b", "B"), profileDoc("a", "A")}
        << QByteArray(R"({"lastActiveProfileId": "gone"})") << QStringList{"A", "B"} << "A";
    QTest::newRow("unusable files are skipped")
        << QStringList{"t.json", "e.json", "n.json", "arr.json", "x.json", "ok.json", "txt.txt"}
        << QList<QByteArray>{QByteArray(profileDoc("t", "T")).left(20), "", R"({"id": "n"})", "[1, 2]",
                             R"({"name": "no id"})", profileDoc("ok", "Ok"), profileDoc("txt", "Txt")}
        << QByteArray("not json") << QStringList{"Ok"} << "Ok";
    QTest::newRow("only unusable files: Default is made")
        << QStringList{"t.json"} << QList<QByteArray>{"{"} << QByteArray() << QStringList{"Default"}
        << "Default";
    QTest::newRow("ids that would overwrite the store's own files are skipped")
        << QStringList{"1.json", "2.json", "3.json", "4.json", "ok.json"}
        << QList<QByteArray>{profileDoc("config", "C"), profileDoc("esc_presets", "E"),
                             profileDoc("User_Presets", "U"), profileDoc("Config", "C2"), profileDoc("ok", "Ok")}
        << QByteArray() << QStringList{"Ok"} << "Ok";
    QTest::newRow("ids that would leave the folder are skipped")
        << QStringList{"1.json", "2.json", "3.json", "4.json", "5.json", "ok.json"}
        << QList<QByteArray>{profileDoc("../escape", "Up"), profileDoc("sub/dir", "Sub"),
                             profileDoc("/tmp/abs", "Abs"), profileDoc("back\\slash", "Back"),
                             profileDoc("..", "Dots"), profileDoc("ok", "Ok")}
        << QByteArray() << QStringList{"Ok"} << "Ok";
    QTest::newRow("ids that name a device are skipped")
        << QStringList{"1.json", "2.json", "3.json", "4.json", "5.json", "ok.json"}
        << QList<QByteArray>{profileDoc("COM3", "Port"), profileDoc("nul", "Nul"), profileDoc("Lpt1.x", "Lpt"),
                             profileDoc("con ", "Con"), profileDoc("aux", "Aux"), profileDoc("ok", "Ok")}
        << QByteArray() << QStringList{"Ok"} << "Ok";
    QTest::newRow("ids that only resemble a device load")
        << QStringList{"1.json", "2.json"}
        << QList<QByteArray>{profileDoc("com", "Com"), profileDoc("console", "Console")}
        << QByteArray() << QStringList{"Com", "Console"} << "Com";
    QTest::newRow("hidden file names are profiles too")
        << QStringList{".dot.json"} << QList<QByteArray>{profileDoc(".dot", "Dot")} << QByteArray()
        << QStringList{"Dot"} << "Dot";
    QTest::newRow("own hidden file wins over a stale copy")
        << QStringList{"copy.json", ".dot.json"}
        << QList<QByteArray>{profileDoc(".dot", "Old"), profileDoc(".dot", "New")} << QByteArray()
        << QStringList{"New"} << "New";
    QTest::newRow("own-named file wins over stale copies")
        << QStringList{"a.json", "p.json", "z.json"}
        << QList<QByteArray>{profileDoc("p", "Old A"), profileDoc("p", "New"), profileDoc("p", "Old Z")}
        << QByteArray() << QStringList{"New"} << "New";
}

void TestProfileManager::loading()
{
    QFETCH(QStringList, fileNames);
    QFETCH(QList<QByteArray>, contents);
    QFETCH(QByteArray, config);
    QFETCH(QStringList, names);
    QFETCH(QString, activeName);

    for (int i = 0; i < fileNames.size(); ++i)
        writeFile(fileNames.at(i), contents.at(i));
    if (!config.isEmpty())
        writeFile("config.json", config);
    const QDir outside(QFileInfo(folder()).absolutePath());
    const QStringList outsideBefore = outside.entryList(QDir::Files);
    {
        ProfileManager store;
        QStringList loaded;
        for (const Profile &profile : store.profiles())
            loaded.append(profile.name);
        QCOMPARE(loaded, names);
        QCOMPARE(store.activeProfileName(), activeName);
    }
    // Saving everything at exit wrote nothing outside the folder and no store file as a profile.
    QCOMPARE(outside.entryList(QDir::Files), outsideBefore);
    QVERIFY(!QFile::exists("/tmp/abs.json"));
    QVERIFY(!readObject("config.json").contains("name"));
    QVERIFY(!QFile::exists(folder() + "/esc_presets.json") || !readObject("esc_presets.json").contains("name"));
}

void TestProfileManager::staleCopiesGoWithTheProfile()
{
    writeFile("keep.json", profileDoc("keep", "Keep"));
    writeFile("old-name.json", profileDoc("gone", "Gone"));
    {
        ProfileManager store;
        QCOMPARE(store.profiles().size(), 2);
        QVERIFY(store.saveProfile("gone"));
        QVERIFY(QFile::exists(folder() + "/gone.json"));
        QVERIFY(QFile::exists(folder() + "/old-name.json"));
    }
    {
        ProfileManager store;
        QVERIFY(store.mutableProfile("gone"));
        QVERIFY(store.deleteProfile("gone"));
        QVERIFY(!QFile::exists(folder() + "/gone.json"));
        QVERIFY(!QFile::exists(folder() + "/old-name.json"));
    }
    ProfileManager store;
    QCOMPARE(store.profiles().size(), 1);
    QVERIFY(!store.mutableProfile("gone"));
}

void TestProfileManager::createProfile_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty name counts on from taken names ignoring case")
        << QStringList{"New Profile", "new profile (2)"} << "" << "New Profile (3)";
    QTest::newRow("free name unchanged") << QStringList() << "Buggy" << "Buggy";
    QTest::newRow("taken name ignoring case") << QStringList{"buggy"} << "Buggy" << "Buggy (2)";
    QTest::newRow("blank name is kept as given") << QStringList() << "  " << "  ";
    QTest::newRow("numbered base gets another number") << QStringList{"Car (2)"} << "Car (2)" << "Car (2) (2)";
    QTest::newRow("Default is taken") << QStringList() << "default" << "default (2)";
    QTest::newRow("placeholders in the base stay text") << QStringList{"Car %1"} << "Car %1"
                                                        << "Car %1 (2)";
    QTest::newRow("second placeholder in the base stays text") << QStringList{"Van %2"} << "Van %2"
                                                               << "Van %2 (2)";
}

void TestProfileManager::createProfile()
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
    const Profile *created = store.mutableProfile(id);
    QCOMPARE(created->name, expected);
    QCOMPARE(created->vehicleType, QStringLiteral("rc_helicopter"));
    QCOMPARE(listChanged.size(), 1);
    QCOMPARE(activeChanged.size(), 0);
    QCOMPARE(store.activeProfileId(), activeId);
    QCOMPARE(readObject(id + ".json").value("name").toString(), expected);
}

void TestProfileManager::duplicateProfile()
{
    ProfileManager store;
    const QString carId = store.createProfile("Car");
    store.mutableProfile(carId)->axisSettings.escNeutral = 1000;
    store.mutableProfile(carId)->createdAt = QDateTime(QDate(2020, 1, 1), QTime(0, 0));

    QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
    const QString first = store.duplicateProfile(carId, QString());
    const QString second = store.duplicateProfile(carId, QString());
    const QString named = store.duplicateProfile(carId, "car");
    QCOMPARE(store.mutableProfile(first)->name, QStringLiteral("Car (Copy)"));
    QCOMPARE(store.mutableProfile(second)->name, QStringLiteral("Car (Copy) (2)"));
    QCOMPARE(store.mutableProfile(named)->name, QStringLiteral("car (2)"));
    QCOMPARE(store.mutableProfile(first)->axisSettings.escNeutral, 1000);
    QVERIFY(store.mutableProfile(first)->createdAt.date().year() > 2020);
    QCOMPARE(listChanged.size(), 3);
    QCOMPARE(Profile::fromJson(readObject(first + ".json")).axisSettings.escNeutral, 1000);

    QSignalSpy errors(&store, &ProfileManager::errorOccurred);
    QCOMPARE(store.duplicateProfile("nope", "X"), QString());
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Source profile not found: nope"));
    QCOMPARE(store.profiles().size(), 5);
}

void TestProfileManager::renameProfile_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("activeSignals");

    QTest::newRow("to a name another profile has") << false << "" << "Default" << true << "" << 0;
    QTest::newRow("active profile announces") << true << "" << "Main" << true << "" << 1;
    QTest::newRow("blank name kept") << false << "" << " " << true << "" << 0;
    QTest::newRow("empty name refused") << false << "" << "" << false << "Profile name cannot be empty" << 0;
    QTest::newRow("unknown id refused") << false << "zz" << "X" << false << "Profile not found: zz" << 0;
}

void TestProfileManager::renameProfile()
{
    QFETCH(bool, active);
    QFETCH(QString, id);
    QFETCH(QString, name);
    QFETCH(bool, result);
    QFETCH(QString, error);
    QFETCH(int, activeSignals);

    ProfileManager store;
    if (id.isEmpty())
        id = active ? store.activeProfileId() : store.createProfile("Other");
    const QString oldName = store.mutableProfile(id) ? store.mutableProfile(id)->name : QString();
    QSignalSpy errors(&store, &ProfileManager::errorOccurred);
    QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
    QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
    QCOMPARE(store.renameProfile(id, name), result);
    QCOMPARE(activeChanged.size(), activeSignals);
    QCOMPARE(listChanged.size(), result ? 1 : 0);
    if (result) {
        QCOMPARE(store.mutableProfile(id)->name, name);
        QCOMPARE(readObject(id + ".json").value("name").toString(), name);
        QVERIFY(errors.isEmpty());
    } else {
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), error);
        if (store.mutableProfile(id))
            QCOMPARE(store.mutableProfile(id)->name, oldName);
    }
}

void TestProfileManager::deleteProfile_data()
{
    QTest::addColumn<QString>("active");
    QTest::addColumn<QString>("deleted");
    QTest::addColumn<QString>("activeAfter");

    QTest::newRow("deleting active 1 activates 2") << "1" << "1" << "2";
    QTest::newRow("deleting active 2 activates 1") << "2" << "2" << "1";
    QTest::newRow("deleting an inactive profile keeps the active one") << "1" << "2" << "1";
}

void TestProfileManager::deleteProfile()
{
    QFETCH(QString, active);
    QFETCH(QString, deleted);
    QFETCH(QString, activeAfter);

    writeFile("1.json", profileDoc("1", "One"));
    writeFile("2.json", profileDoc("2", "Two"));
    writeFile("config.json", QJsonDocument(QJsonObject{{"lastActiveProfileId", active}}).toJson());
    ProfileManager store;
    QCOMPARE(store.activeProfileId(), active);
    QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
    QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
    QVERIFY(store.deleteProfile(deleted));
    QCOMPARE(store.activeProfileId(), activeAfter);
    QCOMPARE(activeChanged.size(), active == deleted ? 1 : 0);
    QCOMPARE(listChanged.size(), 1);
    QVERIFY(!QFile::exists(folder() + "/" + deleted + ".json"));
    QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), activeAfter);
    QCOMPARE(store.profiles().size(), 1);
}

void TestProfileManager::deleteRefusals()
{
    ProfileManager store;
    QSignalSpy errors(&store, &ProfileManager::errorOccurred);
    QVERIFY(!store.deleteProfile(store.activeProfileId()));
    QVERIFY(!store.deleteProfile("missing"));
    QCOMPARE(errors.size(), 2);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Cannot delete the last profile"));
    QCOMPARE(errors.at(1).at(0).toString(), QStringLiteral("Profile not found: missing"));
    QCOMPARE(store.profiles().size(), 1);
    QVERIFY(QFile::exists(store.profileFilePath(store.activeProfileId())));
}

void TestProfileManager::importProfile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("name");

    QTest::newRow("usable profile")
        << profileDoc("Default", "Heli", "rc_helicopter") << true << "" << "Heli";
    QTest::newRow("name taken is made unique") << profileDoc("x", "default") << true << "" << "default (2)";
    QTest::newRow("id that names a store file is replaced")
        << profileDoc("config", "Imported") << true << "" << "Imported";
    QTest::newRow("missing file") << QByteArray() << false << "Failed to open file: %1" << "";
    QTest::newRow("not an object") << QByteArray("[1]") << false << "Invalid profile file format" << "";
    QTest::newRow("torn file") << profileDoc("x", "Y").left(15) << false << "Invalid profile file format" << "";
    QTest::newRow("no name") << QByteArray(R"({"id": "x"})") << false << "Invalid profile data" << "";
}

void TestProfileManager::importProfile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, result);
    QFETCH(QString, error);
    QFETCH(QString, name);

    QTemporaryDir dir;
    const QString path = dir.filePath("import.json");
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    ProfileManager store;
    const QString activeId = store.activeProfileId();
    const QByteArray configBefore = readFile("config.json");
    QSignalSpy errors(&store, &ProfileManager::errorOccurred);
    QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
    QString newId;
    QCOMPARE(store.importProfile(path, &newId), result);
    QCOMPARE(store.activeProfileId(), activeId);
    QCOMPARE(readFile("config.json"), configBefore);
    if (result) {
        QCOMPARE(newId.size(), 36);
        const Profile *imported = store.mutableProfile(newId);
        QCOMPARE(imported->name, name);
        QCOMPARE(imported->vehicleType, Profile::fromJson(jsoncheck::object(content)).vehicleType);
        QVERIFY(imported->createdAt.isValid());
        QCOMPARE(readObject(newId + ".json").value("id").toString(), newId);
        QCOMPARE(listChanged.size(), 1);
        QCOMPARE(store.profiles().size(), 2);
    } else {
        QVERIFY(newId.isEmpty());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), error.contains("%1") ? error.arg(path) : error);
        QCOMPARE(store.profiles().size(), 1);
    }
}

void TestProfileManager::setActiveProfile()
{
    ProfileManager store;
    const QString first = store.activeProfileId();
    const QString second = store.createProfile("Second");
    store.mutableProfile(first)->axisSettings.escNeutral = 1111;

    QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
    QSignalSpy errors(&store, &ProfileManager::errorOccurred);
    QVERIFY(store.setActiveProfile(first));
    QCOMPARE(activeChanged.size(), 0);
    QVERIFY(!store.setActiveProfile("nope"));
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Profile not found: nope"));
    QVERIFY(store.setActiveProfile(second));
    QCOMPARE(activeChanged.size(), 1);
    QCOMPARE(activeChanged.at(0).at(0).toString(), second);
    // The outgoing profile was saved, the new state written.
    QCOMPARE(Profile::fromJson(readObject(first + ".json")).axisSettings.escNeutral, 1111);
    QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), second);
}

void TestProfileManager::profileForVehicleType_data()
{
    QTest::addColumn<QList<QByteArray>>("profiles");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("preferredName");
    QTest::addColumn<QString>("expected");

    const QString t1 = "2026-01-01T10:00:00";
    const QString t2 = "2026-01-02T10:00:00";
    const QByteArray car = profileDoc("c", "Car", "rc_car", t2);
    QTest::newRow("equal times keep the smaller id")
        << QList<QByteArray>{car, profileDoc("h2", "B", "rc_helicopter", t1), profileDoc("h1", "A", "rc_helicopter", t1)}
        << QByteArray() << "" << "h1";
    QTest::newRow("newest wins")
        << QList<QByteArray>{car, profileDoc("h1", "A", "rc_helicopter", t1), profileDoc("h2", "B", "rc_helicopter", t2)}
        << QByteArray() << "" << "h2";
    QTest::newRow("invalid time loses to a valid one")
        << QList<QByteArray>{car, profileDoc("h1", "A", "rc_helicopter"), profileDoc("h2", "B", "rc_helicopter", t1)}
        << QByteArray() << "" << "h2";
    QTest::newRow("name match ignoring case beats newest")
        << QList<QByteArray>{car, profileDoc("h1", "Bird", "rc_helicopter", t1), profileDoc("h2", "B", "rc_helicopter", t2)}
        << QByteArray() << "BIRD" << "h1";
    QTest::newRow("remembered profile beats the name match")
        << QList<QByteArray>{car, profileDoc("h1", "Bird", "rc_helicopter", t1), profileDoc("h2", "B", "rc_helicopter", t1)}
        << QByteArray(R"({"lastActiveProfileId": "c", "lastActiveByType": {"rc_helicopter": "h2"}})") << "Bird"
        << "h2";
    QTest::newRow("remembered id of another type is skipped")
        << QList<QByteArray>{car, profileDoc("h1", "A", "rc_helicopter", t1)}
        << QByteArray(R"({"lastActiveByType": {"rc_helicopter": "c"}})") << "" << "h1";
    QTest::newRow("remembered id that no longer exists is skipped")
        << QList<QByteArray>{car, profileDoc("h1", "A", "rc_helicopter", t1)}
        << QByteArray(R"({"lastActiveByType": {"rc_helicopter": "gone"}})") << "" << "h1";
    QTest::newRow("type compared exactly")
        << QList<QByteArray>{car, profileDoc("h1", "A", "RC_HELICOPTER", t1)} << QByteArray() << "" << "";
}

void TestProfileManager::profileForVehicleType()
{
    QFETCH(QList<QByteArray>, profiles);
    QFETCH(QByteArray, config);
    QFETCH(QString, preferredName);
    QFETCH(QString, expected);

    for (const QByteArray &doc : profiles) {
        const QString id = QJsonDocument::fromJson(doc).object().value("id").toString();
        writeFile(id + ".json", doc);
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

void TestProfileManager::switchVehicleTypeCreatesAndRemembers()
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
    QCOMPARE(store.activeVehicleType(), QStringLiteral("rc_helicopter"));
    QCOMPARE(store.activeProfileName(), QStringLiteral("New Profile"));
    const QJsonObject heliFile = readObject(heliId + ".json");
    QCOMPARE(heliFile.value("vehicleType").toString(), QStringLiteral("rc_helicopter"));
    QVERIFY(heliFile.contains("helicopterConfig"));
    QJsonObject byType = readObject("config.json").value("lastActiveByType").toObject();
    QCOMPARE(byType.value("rc_car").toString(), carId);
    QCOMPARE(byType.value("rc_helicopter").toString(), heliId);

    QCOMPARE(store.switchVehicleType("rc_car", QString()), carId);
    QCOMPARE(store.switchVehicleType("rc_helicopter", "New Profile"), heliId);
    QCOMPARE(store.profiles().size(), 2);

    // A preferred name that is taken by a car still gives a helicopter its own unique name.
    store.mutableProfile(heliId)->vehicleType = QStringLiteral("rc_boat");
    QCOMPARE(store.switchVehicleType("rc_car", QString()), carId);
    const QString second = store.switchVehicleType("rc_helicopter", "Default");
    QCOMPARE(store.mutableProfile(second)->name, QStringLiteral("Default (2)"));
}

enum Setter { AutoStart, Axis, Buttons, Heli, Led, Bridge, WheelBase, Pedals, Shifter, Ffb };

void TestProfileManager::sectionSetters_data()
{
    QTest::addColumn<int>("setter");
    QTest::addColumn<bool>("announces");
    QTest::addColumn<bool>("saves");

    QTest::newRow("setAutoStartEnabled") << int(AutoStart) << true << false;
    QTest::newRow("setAxisSettings") << int(Axis) << true << false;
    QTest::newRow("setButtonMappings") << int(Buttons) << true << false;
    QTest::newRow("setHelicopterConfig") << int(Heli) << true << false;
    QTest::newRow("setLedSettings") << int(Led) << true << false;
    QTest::newRow("setBridgeConnection") << int(Bridge) << false << true;
    QTest::newRow("setWheelBaseDevice") << int(WheelBase) << false << true;
    QTest::newRow("setPedalsDevice") << int(Pedals) << false << true;
    QTest::newRow("setShifterDevice") << int(Shifter) << false << true;
    QTest::newRow("setWheelFfb") << int(Ffb) << false << true;
}

void TestProfileManager::sectionSetters()
{
    QFETCH(int, setter);
    QFETCH(bool, announces);
    QFETCH(bool, saves);

    ProfileManager store;
    const QString id = store.activeProfileId();
    store.mutableActiveProfile()->vehicleType = VehicleType::Helicopter;
    store.mutableActiveProfile()->modifiedAt = QDateTime(QDate(2020, 1, 1), QTime(0, 0));
    QVERIFY(store.saveActiveProfile());
    const QByteArray before = readFile(id + ".json");
    QSignalSpy modified(&store, &ProfileManager::profileModified);

    DeviceConnection device;
    device.productName = QStringLiteral("Device");
    switch (Setter(setter)) {
    case AutoStart:
        store.setAutoStartEnabled(true);
        QCOMPARE(store.autoStartEnabled(), true);
        break;
    case Axis: {
        AxisSettings axes;
        axes.decelRate = 77;
        store.setAxisSettings(axes);
        QCOMPARE(store.axisSettings().decelRate, 77);
        break;
    }
    case Buttons: {
        ButtonMappingSet set;
        set.mappings.append(ButtonMapping());
        set.toggleStates.insert(5, true);
        store.setButtonMappings(set);
        QCOMPARE(store.buttonMappings().mappings.size(), 1);
        QCOMPARE(store.buttonMappings().toggleStates.value(5), true);
        break;
    }
    case Heli: {
        HelicopterConfig config;
        config.fly.motorChannel = 9;
        store.setHelicopterConfig(config);
        QCOMPARE(store.helicopterConfig().fly.motorChannel, 9);
        break;
    }
    case Led: {
        LedSettings led;
        led.ledCount = 42;
        store.setLedSettings(led);
        QCOMPARE(store.ledSettings().ledCount, 42);
        break;
    }
    case Bridge:
        store.setBridgeConnection("COM9", 921600);
        QCOMPARE(store.deviceConnections().portName, QStringLiteral("COM9"));
        QCOMPARE(store.deviceConnections().baudRate, 921600);
        break;
    case WheelBase:
        store.setWheelBaseDevice(device);
        QCOMPARE(store.deviceConnections().wheelBase.productName, device.productName);
        break;
    case Pedals:
        store.setPedalsDevice(device);
        QCOMPARE(store.deviceConnections().pedals.productName, device.productName);
        break;
    case Shifter:
        store.setShifterDevice(device);
        QCOMPARE(store.deviceConnections().shifter.productName, device.productName);
        break;
    case Ffb: {
        WheelFfbSettings ffb;
        ffb.strength = 0.75f;
        store.setWheelFfb(ffb);
        QCOMPARE(store.wheelFfb().strength, 0.75f);
        break;
    }
    }
    QCOMPARE(modified.size(), announces ? 1 : 0);
    if (announces)
        QCOMPARE(modified.at(0).at(0).toString(), id);
    QVERIFY(store.activeProfile()->modifiedAt.date().year() > 2020);
    QCOMPARE(readFile(id + ".json") != before, saves);
    QVERIFY(store.saveActiveProfile());
    QCOMPARE(Profile::fromJson(readObject(id + ".json")).toJson(), store.activeProfile()->toJson());
}

void TestProfileManager::destructorWritesEverything()
{
    QString id;
    {
        ProfileManager store;
        id = store.createProfile("Kept");
        store.mutableProfile(id)->ledSettings.ledCount = 123;
        QVERIFY(store.setActiveProfile(id));
        store.mutableActiveProfile()->autoStartEnabled = true;
        QFile::remove(folder() + "/config.json");
    }
    const Profile read = Profile::fromJson(readObject(id + ".json"));
    QCOMPARE(read.ledSettings.ledCount, 123);
    QCOMPARE(read.autoStartEnabled, true);
    QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), id);
}

void TestProfileManager::writeFailures_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<QString>("error");
    QTest::newRow("profile file") << "%1.json" << "Failed to save profile: Default";
    QTest::newRow("ESC presets") << "esc_presets.json" << "Failed to save ESC presets";
    QTest::newRow("user presets") << "user_presets.json" << "Failed to save presets";
}

void TestProfileManager::writeFailures()
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
    QCOMPARE(errors.at(0).at(0).toString(), error);
    QCOMPARE(profileSaved, !blocked.startsWith("%1"));
    QVERIFY(QFileInfo(blockedPath).isDir());

    // Memory keeps the change and the next save after the obstacle is gone writes it.
    QVERIFY(QDir(blockedPath).removeRecursively());
    QVERIFY(store.saveActiveProfile());
    QVERIFY(store.saveEscPresets());
    QVERIFY(store.saveUserPresets());
    QCOMPARE(Profile::fromJson(readObject(id + ".json")).ledSettings.ledCount, 55);
    QCOMPARE(readObject("esc_presets.json").value("presets").toArray().at(0).toObject().value("id").toString(),
             escId);
    QCOMPARE(readObject("user_presets.json").value("presets").toArray().at(0).toObject().value("id").toString(),
             userId);
}

void TestProfileManager::escPresets()
{
    QString id;
    {
        ProfileManager store;
        QSignalSpy changed(&store, &ProfileManager::escPresetsChanged);
        id = store.createEscPreset(" Crawler ", 1000, 1500, 500);
        QCOMPARE(id.size(), 36);
        const QString second = store.createEscPreset("Drift", 990, 1811, 172);
        QCOMPARE(store.escPresets().size(), 2);
        QCOMPARE(store.findEscPreset(id)->name, QStringLiteral(" Crawler "));
        QVERIFY(store.updateEscPreset(id, 1001, 1600, 400));
        QVERIFY(store.renameEscPreset(second, "Drift 2"));
        QVERIFY(store.deleteEscPreset(second));
        QVERIFY(!store.updateEscPreset("nope", 1, 2, 3));
        QVERIFY(!store.renameEscPreset("nope", "X"));
        QVERIFY(!store.deleteEscPreset("nope"));
        QVERIFY(!store.findEscPreset("nope"));
        QCOMPARE(changed.size(), 5);
        const QJsonObject file = readObject("esc_presets.json");
        QCOMPARE(file.value("version").toInt(), 1);
        QCOMPARE(file.value("presets").toArray().size(), 1);
    }
    ProfileManager store;
    QCOMPARE(store.escPresets().size(), 1);
    const EscPreset *preset = store.findEscPreset(id);
    QVERIFY(preset);
    QCOMPARE(preset->name, QStringLiteral(" Crawler "));
    QCOMPARE(preset->neutral, 1001);
    QCOMPARE(preset->fullForward, 1600);
    QCOMPARE(preset->fullReverse, 400);
}

void TestProfileManager::escPresetsWithoutName_data()
{
    QTest::addColumn<bool>("rename");
    QTest::addColumn<QString>("name");
    QTest::newRow("create empty") << false << "";
    QTest::newRow("create blank") << false << " \t ";
    QTest::newRow("rename empty") << true << "";
    QTest::newRow("rename blank") << true << "   ";
}

void TestProfileManager::escPresetsWithoutName()
{
    QFETCH(bool, rename);
    QFETCH(QString, name);

    ProfileManager store;
    const QString id = store.createEscPreset("Named", 1, 2, 3);
    const QByteArray before = readFile("esc_presets.json");
    QSignalSpy changed(&store, &ProfileManager::escPresetsChanged);
    QSignalSpy errors(&store, &ProfileManager::errorOccurred);
    if (rename)
        QVERIFY(!store.renameEscPreset(id, name));
    else
        QVERIFY(store.createEscPreset(name, 4, 5, 6).isEmpty());
    QCOMPARE(changed.size(), 0);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(readFile("esc_presets.json"), before);
    QCOMPARE(store.escPresets().size(), 1);
    QCOMPARE(store.findEscPreset(id)->name, QStringLiteral("Named"));
}

void TestProfileManager::escPresetFileReading()
{
    writeFile("esc_presets.json", R"({"presets": [
        {"id": "a", "name": "A"},
        {"id": "b", "name": "B", "neutral": 1000, "fullForward": 1900.5, "fullReverse": "100"},
        {"id": "", "name": "No id"}, {"id": "c", "name": ""}, {"id": "d"}, 7,
        {"id": "a", "name": "A twin", "neutral": 5}]})");
    ProfileManager store;
    const QList<EscPreset> presets = store.escPresets();
    QCOMPARE(presets.size(), 3);
    QCOMPARE(presets.at(0).neutral, 992);
    QCOMPARE(presets.at(0).fullForward, 1811);
    QCOMPARE(presets.at(1).neutral, 1000);
    QCOMPARE(presets.at(1).fullForward, 1811);
    QCOMPARE(presets.at(1).fullReverse, 172);
    QCOMPARE(store.findEscPreset("a")->name, QStringLiteral("A"));
    QVERIFY(store.loadEscPresets());
    QCOMPARE(store.escPresets().size(), 3);
    writeFile("esc_presets.json", "[]");
    QVERIFY(!store.loadEscPresets());
    QVERIFY(store.escPresets().isEmpty());
}

void TestProfileManager::userPresets()
{
    QString fastId;
    {
        ProfileManager store;
        QSignalSpy changed(&store, &ProfileManager::userPresetsChanged);
        fastId = store.saveUserPreset("K", "  Fast ", QJsonObject{{"v", 1}});
        QCOMPARE(store.findUserPreset(fastId)->name, QStringLiteral("Fast"));
        QCOMPARE(store.saveUserPreset("K", "FAST", QJsonObject{{"v", 2}}), fastId);
        QCOMPARE(store.findUserPreset(fastId)->name, QStringLiteral("FAST"));
        QCOMPARE(store.findUserPreset(fastId)->data.value("v").toInt(), 2);
        const QString otherKind = store.saveUserPreset("L", "FAST", QJsonObject());
        QVERIFY(otherKind != fastId);
        QVERIFY(store.saveUserPreset("K", "   ", QJsonObject()).isEmpty());
        QVERIFY(store.saveUserPreset("", "Name", QJsonObject()).isEmpty());
        QCOMPARE(changed.size(), 3);

        store.saveUserPreset("K", "beta", QJsonObject());
        store.saveUserPreset("K", "Alpha", QJsonObject());
        store.saveUserPreset("K", "gamma", QJsonObject());
        QStringList names;
        for (const UserPreset &preset : store.userPresets("K"))
            names.append(preset.name);
        QCOMPARE(names, (QStringList{"Alpha", "beta", "FAST", "gamma"}));
        QCOMPARE(store.userPresets("k").size(), 0);

        changed.clear();
        QVERIFY(store.deleteUserPreset(otherKind));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("L"));
        QVERIFY(!store.deleteUserPreset(otherKind));
        QVERIFY(!store.renameUserPreset(fastId, "  "));
        QVERIFY(!store.renameUserPreset("nope", "X"));
        QVERIFY(store.renameUserPreset(fastId, " Quick "));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed.at(1).at(0).toString(), QStringLiteral("K"));
    }
    ProfileManager store;
    QCOMPARE(store.userPresets("K").size(), 4);
    QCOMPARE(store.userPresets("L").size(), 0);
    const UserPreset *quick = store.findUserPreset(fastId);
    QVERIFY(quick);
    QCOMPARE(quick->name, QStringLiteral("Quick"));
    QCOMPARE(quick->data.value("v").toInt(), 2);
    QVERIFY(quick->modifiedAt.isValid());
    const QJsonObject file = readObject("user_presets.json");
    QCOMPARE(file.value("version").toInt(), 1);
    QRegularExpression isoSeconds(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"));
    QVERIFY(isoSeconds.match(file.value("presets").toArray().at(0).toObject().value("modifiedAt").toString()).hasMatch());
}

void TestProfileManager::userPresetFileReading()
{
    writeFile("user_presets.json", R"({"presets": [
        {"id": "a", "kind": "K", "name": "A", "modifiedAt": "bad", "data": 5},
        {"id": "b", "kind": "", "name": "B"}, {"id": "c", "kind": "K"}, {"kind": "K", "name": "D"},
        {"id": "e", "kind": "K", "name": "E", "modifiedAt": "2026-02-03T04:05:06", "data": {"x": 1}}]})");
    ProfileManager store;
    const QList<UserPreset> presets = store.userPresets("K");
    QCOMPARE(presets.size(), 2);
    QVERIFY(!presets.at(0).modifiedAt.isValid());
    QVERIFY(presets.at(0).data.isEmpty());
    QCOMPARE(presets.at(1).modifiedAt, QDateTime(QDate(2026, 2, 3), QTime(4, 5, 6)));
    QCOMPARE(presets.at(1).data.value("x").toInt(), 1);
}

void TestProfileManager::savesSurviveKill()
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
    const int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        QProcess child;
        child.start(saver, {});
        QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
        QVERIFY2(child.waitForReadyRead(20000), "saver did not start saving");
        // Let it run into the middle of some write.
        QThread::usleep(rng.bounded(1000u, 30000u));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        // Every file is whole: a profile of one generation, never torn or missing.
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
        const QJsonObject esc = readObject("esc_presets.json");
        QCOMPARE(esc.value("presets").toArray().size(), 1);
        const QJsonObject preset = esc.value("presets").toArray().at(0).toObject();
        QCOMPARE(preset.value("fullForward"), preset.value("neutral"));
        QCOMPARE(preset.value("fullReverse"), preset.value("neutral"));
        const QJsonArray userPresets = readObject("user_presets.json").value("presets").toArray();
        QCOMPARE(userPresets.size(), 1);
        QVERIFY(userPresets.at(0).toObject().value("data").toObject().value("generation").toInt() > 0);
        QVERIFY(ids.contains(readObject("config.json").value("lastActiveProfileId").toString()));
    }

    ProfileManager store;
    QStringList loaded;
    for (const Profile &profile : store.profiles())
        loaded.append(profile.id);
    QCOMPARE(loaded, ids);
    QVERIFY(ids.contains(store.activeProfileId()));
    // No leftovers of unfinished writes are taken for profiles.
    QCOMPARE(QDir(folder()).entryList({"*.json"}, QDir::Files).size(), ids.size() + 3);
}

OSTRA_TEST_MAIN_CORE(TestProfileManager)
#include "tst_profilemanager.moc"
