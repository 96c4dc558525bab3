#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jsoncheck.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"
#include "support/heldrenames.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

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

static QByteArray readBytes(const QString &name)
{
    QFile file(folder() + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static QJsonObject readObject(const QString &name)
{
    return QJsonDocument::fromJson(readBytes(name)).object();
}

static QByteArray doc(const QString &id, const QString &name, const QString &type = QStringLiteral("rc_car"),
                      const QString &modified = QString())
{
    QJsonObject obj{{"id", id}, {"name", name}, {"vehicleType", type}};
    if (!modified.isEmpty())
        obj.insert("modifiedAt", modified);
    return QJsonDocument(obj).toJson();
}

// A profile to import named "Lists" whose lists hold the given numbers of entries; the extra
// buttons all go on the first button mapping.
static QByteArray withLists(int mappings, int extraButtons, int sensors, int pinned, int ledColors, int zones)
{
    const auto entries = [](int count, const std::function<QJsonValue(int)> &entry) {
        QJsonArray list;
        for (int i = 0; i < count; ++i)
            list.append(entry(i));
        return list;
    };
    QJsonArray buttons = entries(mappings, [](int i) { return QJsonObject{{"buttonIndex", i}, {"channel", 3}}; });
    if (!buttons.isEmpty()) {
        QJsonObject first = buttons.at(0).toObject();
        first.insert("extraButtons", entries(extraButtons, [](int i) { return 100 + i; }));
        buttons.replace(0, first);
    }
    const QJsonObject obj{
        {"id", "lists"},
        {"name", "Lists"},
        {"buttonMappings", buttons},
        {"telemetrySensors", entries(sensors, [](int i) { return QJsonObject{{"id", QString::number(i)}}; })},
        {"telemetryDashboard", entries(pinned, [](int i) { return QString::number(i); })},
        {"ledSettings",
         QJsonObject{{"ledColors", entries(ledColors, [](int i) { return QJsonObject{{"index", i}}; })},
                     {"rangeZones", entries(zones, [](int) { return QJsonObject(); })}}}};
    return QJsonDocument(obj).toJson();
}

static QString firstError(const QSignalSpy &errors)
{
    return errors.isEmpty() ? QString() : errors.at(0).at(0).toString();
}

// One change as the desktop or a request makes it: "esc <neutral>", "escname <name>",
// "create <name>", "rename <name> <new name>", "activate <name>", or "heli <name>", the
// helicopter page's Save.
static void change(ProfileManager &store, const QString &step)
{
    const QStringList words = step.split(' ');
    const QString escId = store.escPresets().value(0).id;
    const auto named = [&](const QString &name) {
        const QList<Profile> all = store.profiles();
        const auto found = std::find_if(all.cbegin(), all.cend(), [&](const Profile &p) { return p.name == name; });
        return found == all.cend() ? QString() : found->id;
    };
    if (words[0] == "esc")
        store.updateEscPreset(escId, words[1].toInt(), 1800, 200);
    else if (words[0] == "escname")
        store.renameEscPreset(escId, words[1]);
    else if (words[0] == "create")
        store.createProfile(words[1]);
    else if (words[0] == "rename")
        store.renameProfile(named(words[1]), words[2]);
    else if (words[0] == "activate")
        store.setActiveProfile(named(words[1]));
    else if (words[0] == "heli" && store.renameProfile(store.switchVehicleType("rc_helicopter", words[1]), words[1]))
        store.saveActiveProfile();
}

// What the rows look at: the active profile, every profile and every ESC preset.
static QString summary(const ProfileManager &store)
{
    QStringList names;
    for (const Profile &profile : store.profiles())
        names.append(profile.name);
    names.sort();
    QStringList presets;
    for (const EscPreset &preset : store.escPresets())
        presets.append(QString("%1=%2").arg(preset.name).arg(preset.neutral));
    return QString("active %1; profiles %2; esc %3").arg(store.activeProfileName(), names.join(','), presets.join(','));
}

class TestProfileManager : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The last test's store wrote its files at its end.
        QVERIFY(ostratest::writesDone());
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
            first = store.activeProfileId();
            QVERIFY(ostratest::writesDone());
            QCOMPARE(readObject(first + ".json").value("name").toString(), QStringLiteral("Default"));
            QCOMPARE(readObject("config.json").value("lastActiveByType").toObject(), QJsonObject({{"rc_car", first}}));

            second = store.createProfile("Second");
            store.mutableProfile(first)->axisSettings.escNeutral = 1111;
            QVERIFY(!store.setActiveProfile("nope") && store.setActiveProfile(second));
            QVERIFY(ostratest::writesDone());
            QCOMPARE(Profile::fromJson(readObject(first + ".json")).axisSettings.escNeutral, 1111);
            QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), second);

            store.mutableActiveProfile()->ledSettings.ledCount = 123;
            QFile::remove(folder() + "/config.json");
        }
        QVERIFY(ostratest::writesDone());
        QCOMPARE(Profile::fromJson(readObject(second + ".json")).ledSettings.ledCount, 123);
        QCOMPARE(ProfileManager().activeProfileId(), second);
    }

    // Files as "name=id" (a profile of that id, named after the id's upper case) or "name:content".
    void loading_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("activeName");
        QTest::newRow("file named otherwise loads under its own id") << QStringList{"other.json=p1"} << "P1" << "P1";
        QTest::newRow("config naming a missing id activates the first id")
            << QStringList{"b.json=b", "a.json=a", R"(config.json:{"lastActiveProfileId": "gone"})"} << "A B" << "A";
        QTest::newRow("unusable files are skipped")
            << QStringList{"t.json:{\"id\": \"t\", \"name\": \"T", "e.json:", R"(n.json:{"id": "n"})",
                           "arr.json:[1, 2]", "ok.json=ok", "txt.txt=txt", "config.json:not json"}
            << "OK" << "OK";
        QTest::newRow("ids naming the store's files, a device or a path outside are skipped")
            << QStringList{"1.json=config", "2.json=User_Presets", "3.json=../escape", "4.json=sub/dir",
                           "5.json=/tmp/abs", "6.json=back\\slash", "7.json=..", "8.json=COM3", "9.json=nul",
                           "10.json=console", "ok.json=ok"}
            << "CONSOLE OK" << "CONSOLE";
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
        QVERIFY(outside.entryList(QDir::Files) == outsideBefore && !QFile::exists("/tmp/abs.json"));
        for (const char *own : {"config.json", "esc_presets.json", "user_presets.json"})
            QVERIFY2(!readObject(own).contains("name"), own);
    }

    void staleCopiesGoWithTheProfile()
    {
        writeFile("keep.json", doc("keep", "Keep"));
        writeFile("old-name.json", doc("gone", "Gone"));
        ProfileManager store;
        QVERIFY(store.saveProfile("gone") && store.deleteProfile("gone"));
        QVERIFY(ostratest::writesDone());
        QVERIFY(!QFile::exists(folder() + "/gone.json") && !QFile::exists(folder() + "/old-name.json"));
    }

    // New profiles and copies take free names ignoring case and stay inactive; a copy keeps the settings.
    void createAndDuplicate()
    {
        ProfileManager store;
        const QString activeId = store.activeProfileId();
        store.mutableActiveProfile()->vehicleType = VehicleType::Helicopter;
        store.createProfile("New Profile");
        store.createProfile("new profile (2)");
        const QString id = store.createProfile(QString());
        QCOMPARE(store.mutableProfile(id)->name, QStringLiteral("New Profile (3)"));
        QVERIFY(ostratest::writesDone());
        QCOMPARE(readObject(id + ".json").value("vehicleType").toString(), QStringLiteral("rc_helicopter"));
        QCOMPARE(store.mutableProfile(store.createProfile("default"))->name, QStringLiteral("default (2)"));
        QCOMPARE(store.activeProfileId(), activeId);

        store.mutableProfile(id)->axisSettings.escNeutral = 1000;
        const QString copy = store.duplicateProfile(id, QString());
        QCOMPARE(store.mutableProfile(copy)->name, QStringLiteral("New Profile (3) (Copy)"));
        QVERIFY(ostratest::writesDone());
        QCOMPARE(Profile::fromJson(readObject(copy + ".json")).axisSettings.escNeutral, 1000);
        QCOMPARE(store.duplicateProfile("nope", "X"), QString());
    }

    // A name read from a file was never put to the rule; the name of its copy is.
    void duplicateOfALoadedName()
    {
        writeFile("old.json", doc("old", "Old\tname"));
        ProfileManager store;
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QVERIFY(store.duplicateProfile("old", QString()).isEmpty() && store.profiles().size() == 1);
        QVERIFY(firstError(errors).startsWith("Profile name cannot contain"));
    }

    void renameAndDelete()
    {
        writeFile("1.json", doc("1", "One"));
        writeFile("2.json", doc("2", "Two"));
        ProfileManager store;
        QSignalSpy activeChanged(&store, &ProfileManager::activeProfileChanged);
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        // A name another profile has, in any letter case, takes a number; an empty one is refused.
        QVERIFY(store.renameProfile("1", "two"));
        QCOMPARE(activeChanged.size(), 1);
        QVERIFY(ostratest::writesDone());
        QCOMPARE(readObject("1.json").value("name").toString(), QStringLiteral("two (2)"));
        QVERIFY(!store.renameProfile("1", ""));
        QCOMPARE(firstError(errors), QStringLiteral("Profile name cannot be empty"));
        // Blanks count as empty; a name longer than 64 characters is refused; blanks around go.
        QVERIFY(!store.renameProfile("1", " \t "));
        QCOMPARE(errors.last().at(0).toString(), QStringLiteral("Profile name cannot be empty"));
        QVERIFY(!store.renameProfile("1", QString(65, 'x')));
        QCOMPARE(errors.last().at(0).toString(), QStringLiteral("Profile name is too long: at most 64 characters"));
        QCOMPARE(readObject("1.json").value("name").toString(), QStringLiteral("two (2)"));
        // Its own name in other letters is no other profile's.
        QVERIFY(store.renameProfile("1", "  Two (2)  "));
        QVERIFY(ostratest::writesDone());
        QCOMPARE(readObject("1.json").value("name").toString(), QStringLiteral("Two (2)"));

        QVERIFY(store.deleteProfile("1"));
        QCOMPARE(store.activeProfileId(), QStringLiteral("2"));
        QVERIFY(ostratest::writesDone());
        QVERIFY(!QFile::exists(folder() + "/1.json"));
        QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), QStringLiteral("2"));
        QVERIFY(!store.deleteProfile("2"));
        QCOMPARE(errors.last().at(0).toString(), QStringLiteral("Cannot delete the last profile"));
        QVERIFY(QFile::exists(folder() + "/2.json"));
    }

    void importProfile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("name");
        QTest::newRow("taken id and name are replaced") << doc("Default", "default", "rc_helicopter") << ""
                                                        << "default (2)";
        QTest::newRow("id that names a store file is replaced") << doc("config", "Imported") << "" << "Imported";
        QTest::newRow("no name") << QByteArray(R"({"id": "x"})") << "Invalid profile data" << "";
        QTest::newRow("not JSON") << QByteArray("{\"id\": \"x\", ") << "Invalid profile file format" << "";
        QTest::newRow("an array") << QByteArray(R"([{"id": "x", "name": "X"}])") << "Invalid profile file format" << "";
        QTest::newRow("unreadable file") << QByteArray() << "Failed to open file: %1" << "";
        // No list longer than the program lets one grow.
        QTest::newRow("every list at its limit") << withLists(511, 1, 64, 64, 100, 8) << "" << "Lists";
        const QString bindings = "Too many button mappings: at most 512 buttons in all";
        QTest::newRow("513 button mappings") << withLists(513, 0, 0, 0, 0, 0) << bindings << "";
        QTest::newRow("513 buttons with the extra ones") << withLists(2, 511, 0, 0, 0, 0) << bindings << "";
        QTest::newRow("65 telemetry sensors") << withLists(0, 0, 65, 0, 0, 0) << "Too many telemetry sensors: at most 64" << "";
        QTest::newRow("65 pinned sensors") << withLists(0, 0, 0, 65, 0, 0) << "Too many pinned telemetry sensors: at most 64"
                                           << "";
        QTest::newRow("101 LED colors") << withLists(0, 0, 0, 0, 101, 0) << "Too many LED colors: at most 100" << "";
        QTest::newRow("9 LED zones") << withLists(0, 0, 0, 0, 0, 9) << "Too many LED zones: at most 8" << "";
    }

    void importProfile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath("import.json");
        if (error.contains("%1"))
            error = error.arg(path); // no file at all
        else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        ProfileManager store;
        const QString activeId = store.activeProfileId();
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QString newId;
        QCOMPARE(store.importProfile(path, &newId), error.isEmpty());
        QCOMPARE(firstError(errors), error);
        QCOMPARE(store.activeProfileId(), activeId);
        QCOMPARE(store.profiles().size(), error.isEmpty() ? 2 : 1);
        if (error.isEmpty()) {
            QVERIFY(ostratest::writesDone());
            const Profile imported = Profile::fromJson(readObject(newId + ".json"));
            QVERIFY(newId.size() == 36 && imported.id == newId && imported.createdAt.isValid());
            QCOMPARE(imported.name, name);
            QCOMPARE(imported.vehicleType, Profile::fromJson(jsoncheck::object(content)).vehicleType);
        }
    }

    // The announcing setters only change memory; the device setters write at once and stay quiet;
    // making the active profile active again does nothing.
    void settersSaveOrAnnounce()
    {
        ProfileManager store;
        const QString id = store.activeProfileId();
        QSignalSpy modified(&store, &ProfileManager::profileModified);
        QSignalSpy active(&store, &ProfileManager::activeProfileChanged);
        QSignalSpy listChanged(&store, &ProfileManager::profileListChanged);
        QVERIFY(ostratest::writesDone());
        const QByteArray before = readBytes(id + ".json");

        AxisSettings axes = store.axisSettings();
        axes.escNeutral = 1234;
        store.setAxisSettings(axes);
        QCOMPARE(store.axisSettings().escNeutral, 1234);
        QCOMPARE(modified.size(), 1);
        QCOMPARE(modified.at(0).at(0).toString(), id);
        QCOMPARE(readBytes(id + ".json"), before);

        WheelFfbSettings ffb = store.wheelFfb();
        ffb.strength = 0.8f;
        store.setWheelFfb(ffb);
        QCOMPARE(modified.size(), 1);
        QVERIFY(ostratest::writesDone());
        const Profile written = Profile::fromJson(readObject(id + ".json"));
        QCOMPARE(written.wheelFfb.strength, 0.8f);
        // The file written for the force feedback carries the axis change made before it.
        QCOMPARE(written.axisSettings.escNeutral, 1234);

        const QByteArray config = readBytes("config.json");
        QVERIFY(store.setActiveProfile(id));
        QCOMPARE(active.size() + listChanged.size(), 0);
        QVERIFY(ostratest::writesDone());
        QCOMPARE(readBytes("config.json"), config);
    }

    // A save killed half-way leaves its temporary file; the next start clears exactly those that
    // no write on its way holds. The user's own files stay, whatever their names.
    void unfinishedWritesRemovedAtLoad()
    {
        writeFile("p.json", doc("p", "P"));
        const QStringList leftovers{".p.json.ostra-new-Ab12Cd", ".config.json.ostra-new-x9Y8z7",
                                    ".My car (2).json.ostra-new-000000"};
        const QStringList others{"X.json.backup", "mycar.json.before", "Keep-copy.json.old123", "p.json.Ab12Cd",
                                 ".p.json.ostra-new-Ab12C", "p.json.ostra-new-Ab12Cd", ".p.json.ostra-new-Ab12Cd.bak",
                                 "notes.txt", ".q.json.ostra-new-Held99"};
        for (const QString &name : leftovers + others)
            writeFile(name, doc("p", "Stale"));
        // Another copy of the program is writing this one now.
        const int held = ::open(QFile::encodeName(folder() + "/.q.json.ostra-new-Held99").constData(), O_RDONLY);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        { ProfileManager store; QCOMPARE(store.activeProfileName(), QStringLiteral("P")); }
        ::close(held);
        for (const QString &name : leftovers)
            QVERIFY2(!QFile::exists(folder() + "/" + name), qPrintable(name));
        for (const QString &name : others)
            QVERIFY2(QFile::exists(folder() + "/" + name), qPrintable(name));
    }

    // Another copy's start (or this process's settings) clearing leftovers while a save has made
    // its temporary file and not yet locked it: the save still lands.
    void leftoversClearedDuringASave()
    {
        ProfileManager store;
        const QString id = store.activeProfileId();
        QVERIFY(ostratest::writesDone());
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        ostratest::HeldRenames held(id + ".json", 5000, ostratest::HeldRenames::Hold::Locks);
        QVERIFY(store.renameProfile(id, "Kept"));
        QTRY_COMPARE(held.waiting(), 1);
        corvane::FileWriter::removeLeftovers(folder());
        held.release();
        QVERIFY(ostratest::writesDone());
        QCOMPARE(errors.size(), 0);
        QCOMPARE(readObject(id + ".json").value("name").toString(), QStringLiteral("Kept"));
    }

    // Helicopter profiles as "id name day" (day of modification in January); a car "c" modified on the
    // 2nd is always there.
    void profileForVehicleType_data()
    {
        QTest::addColumn<QStringList>("helicopters");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("preferredName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("newest wins") << QStringList{"h1 A 1", "h2 B 2"} << QByteArray() << "" << "h2";
        QTest::newRow("name match ignoring case beats newest")
            << QStringList{"h1 Bird 1", "h2 B 2"} << QByteArray() << "BIRD" << "h1";
        QTest::newRow("remembered profile beats the name match") << QStringList{"h1 Bird 1", "h2 B 1"}
            << QByteArray(R"({"lastActiveByType": {"rc_helicopter": "h2"}})") << "Bird" << "h2";
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
            writeFile(f[0] + ".json", doc(f[0], f[1], "rc_helicopter", QString("2026-01-0%1T10:00:00").arg(f[2])));
        }
        if (!config.isEmpty())
            writeFile("config.json", config);
        ProfileManager store;
        QCOMPARE(store.switchVehicleType("rc_helicopter", preferredName), expected);
    }

    void switchVehicleTypeCreatesAndRemembers()
    {
        ProfileManager store;
        const QString carId = store.activeProfileId();
        QStringList order;
        connect(&store, &ProfileManager::profileListChanged, this, [&] { order.append("list"); });
        connect(&store, &ProfileManager::activeProfileChanged, this, [&] { order.append("active"); });
        const QString heliId = store.switchVehicleType("rc_helicopter", "Default");
        QCOMPARE(order, (QStringList{"list", "active"}));
        QCOMPARE(store.activeProfileName(), QStringLiteral("Default (2)"));
        QVERIFY(ostratest::writesDone());
        QCOMPARE(readObject("config.json").value("lastActiveByType").toObject(),
                 (QJsonObject{{"rc_car", carId}, {"rc_helicopter", heliId}}));
        QCOMPARE(store.switchVehicleType("rc_car", QString()), carId);
        QCOMPARE(store.switchVehicleType("rc_helicopter", QString()), heliId);
        QVERIFY(ostratest::writesDone());
        // A switch whose files cannot be written is taken back.
        {
            const ostratest::Starved starved("descriptors");
            QCOMPARE(store.switchVehicleType("rc_car", QString()), carId);
            QVERIFY(ostratest::writesDone());
        }
        QCOMPARE(store.activeProfileId(), heliId);
        QCOMPARE(readObject("config.json").value("lastActiveProfileId").toString(), heliId);
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("error");
        QTest::newRow("profile file") << "directory" << "%1.json" << "Failed to save profile: Default";
        QTest::newRow("ESC presets") << "directory" << "esc_presets.json" << "Failed to save ESC presets";
        QTest::newRow("user presets") << "directory" << "user_presets.json" << "Failed to save presets";
        // The profile does not fit, the small preset files do.
        QTest::newRow("profile cut by the file size limit") << "file size" << "%1.json" << "Failed to save profile: Default";
    }

    // A directory standing where the file should be, or a file size limit, makes the write fail.
    void writeFailures()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, failing);
        QFETCH(QString, error);
        ProfileManager store;
        QVERIFY(ostratest::writesDone());
        const QString id = store.activeProfileId();
        const QString failingName = failing.contains("%1") ? failing.arg(id) : failing;
        const QString blockedPath = folder() + "/" + failingName;
        if (obstacle == "directory") {
            QFile::remove(blockedPath);
            QVERIFY(QDir().mkpath(blockedPath));
        }
        const QByteArray before = readBytes(failingName);
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);

        store.mutableActiveProfile()->ledSettings.ledCount = 55;
        {
            const ostratest::Starved starved(obstacle);
            QVERIFY(store.saveActiveProfile());
            QVERIFY(!store.createEscPreset("Race", 1000, 1800, 200).isEmpty());
            QVERIFY(!store.saveUserPreset("ffb", "Soft", QJsonObject{{"strength", 0.2}}).isEmpty());
            QVERIFY(ostratest::writesDone());
        }
        QCOMPARE(errors.size(), 1);
        QCOMPARE(firstError(errors), error);
        QCOMPARE(readBytes(failingName), before);
        // A preset that could not be written is taken back; a profile keeps its change in memory.
        const int escPresets = failing == "esc_presets.json" ? 0 : 1;
        const int userPresets = failing == "user_presets.json" ? 0 : 1;
        QCOMPARE(store.escPresets().size(), escPresets);
        QCOMPARE(store.userPresets("ffb").size(), userPresets);

        // The next save after the obstacle is gone writes the profile's change.
        QVERIFY(obstacle != "directory" || QDir(blockedPath).removeRecursively());
        QVERIFY(store.saveActiveProfile() && store.saveEscPresets() && store.saveUserPresets());
        QVERIFY(ostratest::writesDone());
        QCOMPARE(Profile::fromJson(readObject(id + ".json")).ledSettings.ledCount, 55);
        QCOMPARE(readObject("esc_presets.json").value("presets").toArray().size(), escPresets);
        QCOMPARE(readObject("user_presets.json").value("presets").toArray().size(), userPresets);
    }

    // Saves made while a batch of the writer is open join it, and `stored` comes once the last
    // of them is on disk. A save from a nested event loop (the desktop user's, while a request
    // waits) does not join: its failure is not the batch's, the store reports it itself.
    void batches_data()
    {
        QTest::addColumn<bool>("nested");
        QTest::newRow("nothing else") << false;
        QTest::newRow("a failing save from a nested event loop") << true;
    }

    void batches()
    {
        QFETCH(bool, nested);
        ProfileManager store;
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        const auto ledCountOnDisk = [&] { return Profile::fromJson(readObject(store.activeProfileId() + ".json")).ledSettings.ledCount; };
        corvane::FileWriter &writer = corvane::FileWriter::shared();
        writer.beginBatch();
        for (int count : {41, 42}) {
            store.mutableActiveProfile()->ledSettings.ledCount = count;
            QVERIFY(store.saveActiveProfile());
        }
        QEventLoop loop;
        if (nested) {
            QVERIFY(QDir().mkpath(folder() + "/esc_presets.json"));
            QTimer::singleShot(0, &loop, [&] {
                store.saveEscPresets();
                loop.quit();
            });
            loop.exec();
        }
        QString failure = "not stored";
        writer.endBatch([&](const QString &message) {
            failure = message;
            QCOMPARE(ledCountOnDisk(), 42);
        });
        QTRY_COMPARE(failure, QString());
        QVERIFY(ostratest::writesDone());
        QCOMPARE(firstError(errors), nested ? "Failed to save ESC presets" : "");
    }

    // One rule for every name the store keeps, row by row across every operation that takes one.
    void nameRule_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("stored");
        QTest::newRow("plain") << "Car" << "" << "Car";
        QTest::newRow("spaces trimmed") << "  Car  " << "" << "Car";
        QTest::newRow("letters of other scripts") << "Ærø Wagen 日本語 Ünï" << "" << "Ærø Wagen 日本語 Ünï";
        QTest::newRow("joined emoji") << "Team 👨\u200D👩" << "" << "Team 👨\u200D👩";
        QTest::newRow("64 characters") << QString(64, 'x') << "" << QString(64, 'x');
        QTest::newRow("64 after trimming") << " " + QString(64, 'x') + "\t" << "" << QString(64, 'x');
        QTest::newRow("65 characters") << QString(65, 'x') << "long" << "";
        QTest::newRow("5000 characters") << QString(5000, 'x') << "long" << "";
        QTest::newRow("blank") << " \t " << "empty" << "";
        QTest::newRow("newline") << "Car\nOne" << "forbidden" << "";
        QTest::newRow("tab") << "Car\tOne" << "forbidden" << "";
        QTest::newRow("NUL") << QString("Car") + QChar(0) + "One" << "forbidden" << "";
        QTest::newRow("C1 control") << "Car\u0085One" << "forbidden" << "";
        QTest::newRow("line separator") << "Car\u2028One" << "forbidden" << "";
        QTest::newRow("right-to-left override") << "Car\u202Eeno" << "forbidden" << "";
        QTest::newRow("left-to-right isolate") << "Car\u2066One\u2069" << "forbidden" << "";
        // Sent back as an escape that strict JSON readers refuse, so one name breaks the whole list.
        QTest::newRow("lone surrogate") << QStringLiteral("Car") + QChar(0xD800) + QStringLiteral("One") << "forbidden" << "";
        // Not from UTF-8: that would drop a leading mark.
        QTest::newRow("byte order mark alone") << QString(QChar(0xFEFF)) << "forbidden" << "";
        QTest::newRow("byte order mark in front") << QChar(0xFEFF) + QStringLiteral("Car") << "forbidden" << "";
        // Nothing to see counts as blank.
        QTest::newRow("zero width spaces") << "\u200B\u200B" << "empty" << "";
        QTest::newRow("Hangul filler") << " \u3164 " << "empty" << "";
        QTest::newRow("blank braille cells") << "\u2800\u2800\u2800" << "empty" << "";
        QTest::newRow("invisible among letters") << "Car\u200BOne" << "" << "Car\u200BOne";
    }

    void nameRule()
    {
        QFETCH(QString, name);
        QFETCH(QString, problem);
        QFETCH(QString, stored);
        ProfileManager store;
        const QString defaultId = store.activeProfileId();
        const QString escId = store.createEscPreset("Base", 992, 1811, 172);
        const QString userId = store.saveUserPreset("K", "Base", QJsonObject());
        QTemporaryDir dir;
        const QString importPath = dir.filePath("import.json");
        QFile file(importPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // Spelled as an escape, as the phone's JSON may: the reader drops a leading one written out.
        file.write(QJsonDocument(QJsonObject{{"id", "imported"}, {"name", name}}).toJson().replace("\xEF\xBB\xBF", "\\ufeff"));
        file.close();

        const auto profileName = [&](const QString &id) {
            const Profile *profile = store.mutableProfile(id);
            return profile ? profile->name : QString();
        };
        // The name of a profile just added, which then goes again so the next one is not "(2)".
        const auto addedName = [&](const QString &id) {
            const QString added = profileName(id);
            if (!id.isEmpty())
                store.deleteProfile(id);
            return added;
        };
        // What each operation stored, and whose name a refusal speaks of.
        struct Operation
        {
            const char *label;
            QString subject;
            std::function<QString()> run;
            QString whenBlank; // the name chosen for a blank one, where the store chooses
        };
        const QString profile = "Profile name";
        const QString esc = "ESC preset name";
        const QString user = "Preset name";
        const std::vector<Operation> operations{
            {"create profile", profile, [&] { return addedName(store.createProfile(name)); }, "New Profile"},
            {"duplicate profile", profile, [&] { return addedName(store.duplicateProfile(defaultId, name)); },
             "Default (Copy)"},
            {"import profile", profile,
             [&] {
                 QString id;
                 return store.importProfile(importPath, &id) ? addedName(id) : QString();
             },
             ""},
            {"rename profile", profile, [&] { return store.renameProfile(defaultId, name) ? profileName(defaultId) : QString(); },
             ""},
            {"create ESC preset", esc,
             [&] {
                 const QString id = store.createEscPreset(name, 992, 1811, 172);
                 const EscPreset *preset = store.findEscPreset(id);
                 const QString added = preset ? preset->name : QString();
                 store.deleteEscPreset(id);
                 return added;
             },
             ""},
            {"rename ESC preset", esc,
             [&] { return store.renameEscPreset(escId, name) ? store.findEscPreset(escId)->name : QString(); }, ""},
            {"save user preset", user,
             [&] {
                 const UserPreset *preset = store.findUserPreset(store.saveUserPreset("L", name, QJsonObject()));
                 return preset ? preset->name : QString();
             },
             ""},
            {"rename user preset", user,
             [&] { return store.renameUserPreset(userId, name) ? store.findUserPreset(userId)->name : QString(); }, ""},
        };
        const QMap<QString, QString> reasons{
            {"long", " is too long: at most 64 characters"},
            {"forbidden", " cannot contain line breaks, tabs, other control characters or text direction overrides"},
            {"empty", " cannot be empty"}};
        for (const Operation &operation : operations) {
            QSignalSpy errors(&store, &ProfileManager::errorOccurred);
            QString expected = stored;
            QString message = problem.isEmpty() ? QString() : operation.subject + reasons.value(problem);
            if (problem == "empty" && (!operation.whenBlank.isEmpty() || operation.subject == user)) {
                // A new profile takes a name of the store's; a user preset is refused without a word.
                expected = operation.whenBlank;
                message.clear();
            }
            QCOMPARE(operation.run(), expected);
            QVERIFY2(firstError(errors) == message, operation.label);
        }
        // What the store holds is what the next start reads.
        const auto names = [](const ProfileManager &from) {
            QStringList all;
            for (const Profile &profile : from.profiles())
                all << profile.name;
            for (const EscPreset &preset : from.escPresets())
                all << preset.name;
            for (const char *kind : {"K", "L"}) {
                for (const UserPreset &preset : from.userPresets(kind))
                    all << preset.name;
            }
            return all;
        };
        QCOMPARE(names(ProfileManager()), names(store));
    }

    // The disk is full for the first change's writes and clears again (or not) while later
    // changes are on their way to the writer: the later changes decide. Each change is reported
    // by its own batch, the desktop hears of no failure that a later write made good, and the
    // store holds what is on disk and what the next start reads.
    void laterChangesDecide_data()
    {
        QTest::addColumn<bool>("clears");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("told"); // each step's report, then what errorOccurred said
        QTest::addColumn<QString>("held"); // in memory, on disk and after a restart
        // Each report says why: "no room" is a file size limit of nothing.
        const QString full = ": the file size limit is reached";
        const QString esc = "Failed to save ESC presets" + full;
        const QString base = "active Default; profiles Default,Other; esc ";
        QTest::newRow("ESC preset updated twice") << true << QStringList{"esc 990", "esc 990"} << QStringList{esc, "stored"}
                                                  << base + "Race=990";
        QTest::newRow("ESC preset renamed twice") << true << QStringList{"escname Drift", "escname Drift"}
                                                  << QStringList{esc, "stored"} << base + "Drift=1000";
        QTest::newRow("profile renamed twice") << true << QStringList{"rename Other Car", "rename Car Car"}
                                               << QStringList{"Failed to save profile: Car" + full, "stored"}
                                               << "active Default; profiles Car,Default; esc Race=1000";
        QTest::newRow("switched there, back and there again")
            << true << QStringList{"activate Other", "activate Default", "activate Other"}
            << QStringList{"Failed to save which profile is active" + full, "stored", "stored"}
            << "active Other; profiles Default,Other; esc Race=1000";
        QTest::newRow("created, renamed while its write is on its way")
            << true << QStringList{"create New", "rename New Newer"} << QStringList{"Failed to save profile: New" + full, "stored"}
            << "active Default; profiles Default,Newer,Other; esc Race=1000";
        QTest::newRow("created, renamed, the disk stays full")
            << false << QStringList{"create New", "rename New Newer"}
            << QStringList{"Failed to save profile: New" + full, "Failed to save profile: Newer" + full,
                           "error: Failed to save profile: Newer"}
            << base + "Race=1000";
        QTest::newRow("helicopter Save whose first write fails") << true << QStringList{"heli Bird"} << QStringList{"stored"}
                                                                 << "active Bird; profiles Bird,Default,Other; esc Race=1000";
    }

    void laterChangesDecide()
    {
        QFETCH(bool, clears);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, told);
        QFETCH(QString, held);
        auto store = std::make_unique<ProfileManager>();
        store->createProfile("Other");
        store->createEscPreset("Race", 1000, 1800, 200);
        QVERIFY(ostratest::writesDone());
        QStringList reported;
        corvane::FileWriter &writer = corvane::FileWriter::shared();
        QSignalSpy errors(store.get(), &ProfileManager::errorOccurred);
        {
            // Cleared once the first change has handed its writes over and the writer tried them.
            auto full = std::make_unique<ostratest::Starved>("no room");
            const auto clear = [&] {
                if (clears && full && writer.flush(5000))
                    full.reset();
            };
            QObject clearing;
            connect(store.get(), &ProfileManager::profileListChanged, &clearing, clear);
            connect(store.get(), &ProfileManager::activeProfileChanged, &clearing, clear);
            connect(store.get(), &ProfileManager::escPresetsChanged, &clearing, clear);
            for (const QString &step : steps) {
                reported.append("unreported");
                writer.batch([&] { change(*store, step); }, [&, i = reported.size() - 1](const QString &failure) {
                    reported[i] = failure.isEmpty() ? "stored" : failure;
                });
            }
            QCOMPARE(!full, clears);
            QVERIFY(ostratest::writesDone());
        }
        for (const QVariantList &error : errors)
            reported.append("error: " + error.at(0).toString());
        QCOMPARE(reported, told);
        const QString memory = summary(*store);
        const QString disk = summary(ProfileManager());
        QVERIFY(ostratest::writesDone());
        store.reset();
        QVERIFY(ostratest::writesDone());
        QCOMPARE((QStringList{memory, disk, summary(ProfileManager())}), QStringList(3, held));
    }

    // A switch to a new profile whose files all fail leaves the profile the user had chosen
    // active, in memory and at the next start, however the profiles' ids sort.
    void failedSwitchKeepsTheChosenProfile()
    {
        auto store = std::make_unique<ProfileManager>();
        const QString other = store->createProfile("Other");
        const QString chosen = std::max(other, store->activeProfileId());
        QVERIFY(store->setActiveProfile(chosen) && ostratest::writesDone());
        {
            const ostratest::Starved full("no room");
            QVERIFY(!store->switchVehicleType("rc_helicopter", "Bird").isEmpty());
            QVERIFY(ostratest::writesTried());
        }
        QVERIFY(ostratest::writesDone());
        QCOMPARE(store->profiles().size(), 2);
        QCOMPARE(store->activeProfileId(), chosen);
        QCOMPARE(readObject("config.json").value("lastActiveByType").toObject().keys(), QStringList{"rc_car"});
        store.reset();
        QVERIFY(ostratest::writesDone());
        QCOMPARE(ProfileManager().activeProfileId(), chosen);
    }

    // Deleting the active profile writes nothing of it: deleting is how a full disk is cleared,
    // also when not even the state file can be written. A save of it still on its way to the disk
    // does not bring it back. The next start finds it gone.
    void deleteNeedsNoWrite_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<bool>("saving");
        QTest::newRow("file size limit") << "file size" << false;
        QTest::newRow("no descriptor left") << "descriptors" << false;
        QTest::newRow("a save of it under way") << "" << true;
    }

    void deleteNeedsNoWrite()
    {
        QFETCH(QString, limit);
        QFETCH(bool, saving);
        auto store = std::make_unique<ProfileManager>();
        const QString deletedId = store->activeProfileId();
        const QString otherId = store->createProfile("Other");
        QSignalSpy activeChanged(store.get(), &ProfileManager::activeProfileChanged);
        QSignalSpy errors(store.get(), &ProfileManager::errorOccurred);
        QVERIFY(ostratest::writesDone());
        // The save is held where it replaces the file; the deletion waits behind it.
        ostratest::HeldRenames held(saving ? deletedId + ".json" : "none");
        if (saving) {
            QVERIFY(store->saveActiveProfile());
            QTRY_COMPARE(held.waiting(), 1);
        }
        {
            const ostratest::Starved starved(limit);
            QVERIFY(store->deleteProfile(deletedId));
            held.release();
            QVERIFY(ostratest::writesDone());
        }
        QCOMPARE(held.done(), saving ? 1 : 0);
        QVERIFY(!QFile::exists(folder() + "/" + deletedId + ".json"));
        QCOMPARE(errors.size(), 0);
        QCOMPARE(activeChanged, QList<QVariantList>{{otherId}});
        store = std::make_unique<ProfileManager>(); // made before the first one goes and writes
        QCOMPARE(store->profiles().size(), 1);
        QCOMPARE(store->activeProfileId(), otherId);
    }

    // A store that goes while its file is being written hands its last change over: the bytes
    // are made while it is whole, and written after. The end of the program waits for the disk
    // only so long, and says what it leaves.
    void lastChangeOutlivesTheStore()
    {
        auto store = std::make_unique<ProfileManager>();
        QVERIFY(ostratest::writesDone());
        const QString id = store->activeProfileId();
        ostratest::HeldRenames held(id + ".json");
        store->mutableActiveProfile()->ledSettings.ledCount = 7;
        QVERIFY(store->saveActiveProfile());
        QTRY_COMPARE(held.waiting(), 1);
        store->mutableActiveProfile()->ledSettings.ledCount = 8;
        store.reset();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^FileWriter: the disk did not finish in time; not written: .*"));
        QVERIFY(!corvane::FileWriter::shared().flush(100));
        held.release();
        QVERIFY(ostratest::writesDone());
        QCOMPARE(Profile::fromJson(readObject(id + ".json")).ledSettings.ledCount, 8);
    }

    // A flush while the store lives starts a file's next write behind the one still in the disk:
    // when the first lands and the second fails, the store goes back to what the first wrote.
    void flushBehindAWriteInTheDisk()
    {
        ProfileManager store;
        const QString id = store.activeProfileId();
        QVERIFY(ostratest::writesDone());
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        ostratest::HeldRenames held(id + ".json");
        QVERIFY(store.renameProfile(id, "Landed"));
        QTRY_COMPARE(held.waiting(), 1);
        QVERIFY(store.renameProfile(id, "Never"));
        {
            const ostratest::Starved full("no room");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^FileWriter: the disk did not finish in time"));
            QVERIFY(!corvane::FileWriter::shared().flush(50));
            held.release();
            QVERIFY(ostratest::writesTried());
        }
        QVERIFY(ostratest::writesDone());
        QCOMPARE(readObject(id + ".json").value("name").toString(), QStringLiteral("Landed"));
        QCOMPARE(store.activeProfileName(), QStringLiteral("Landed"));
        QCOMPARE(firstError(errors), QStringLiteral("Failed to save profile: Never"));
    }

    void limits_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("message");
        const QString profiles = "There can be at most 200 profiles: delete one first";
        QTest::newRow("profiles: create") << "create" << profiles;
        QTest::newRow("profiles: duplicate") << "duplicate" << profiles;
        QTest::newRow("profiles: import") << "import" << profiles;
        QTest::newRow("profiles: vehicle switch") << "switch" << profiles;
        QTest::newRow("ESC presets") << "esc" << "There can be at most 200 ESC presets: delete one first";
        QTest::newRow("user presets of one kind") << "user" << "There can be at most 200 presets of this kind: delete one first";
    }

    // At the limit one more is refused with a message that gives it, and nothing is written;
    // after a delete there is room again.
    void limits()
    {
        QFETCH(QString, list);
        QFETCH(QString, message);
        ProfileManager store;
        const QString defaultId = store.activeProfileId();
        QTemporaryDir dir;
        const QString importPath = dir.filePath("import.json");
        QFile file(importPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(doc("imported", "Imported"));
        file.close();

        const bool profiles = list != "esc" && list != "user";
        QStringList ids;
        for (int i = ids.size() + (profiles ? 1 : 0); i < 200; ++i) {
            const QString name = QStringLiteral("Item %1").arg(i);
            ids.append(profiles ? store.createProfile(name)
                                : list == "esc" ? store.createEscPreset(name, 992, 1811, 172)
                                                : store.saveUserPreset("K", name, QJsonObject()));
            QVERIFY(!ids.constLast().isEmpty());
        }
        const std::function<QString()> oneMore = [&]() -> QString {
            QString id;
            if (list == "create")
                return store.createProfile("One more");
            if (list == "duplicate")
                return store.duplicateProfile(defaultId, "One more");
            if (list == "import")
                return store.importProfile(importPath, &id) ? id : QString();
            if (list == "switch")
                return store.switchVehicleType("rc_helicopter", "One more");
            return list == "esc" ? store.createEscPreset("One more", 992, 1811, 172)
                                 : store.saveUserPreset("K", "One more", QJsonObject());
        };
        QVERIFY(ostratest::writesDone());
        const QStringList files = QDir(folder()).entryList(QDir::Files);
        QSignalSpy errors(&store, &ProfileManager::errorOccurred);
        QCOMPARE(oneMore(), QString());
        QCOMPARE(firstError(errors), message);
        QVERIFY(ostratest::writesDone());
        QCOMPARE(QDir(folder()).entryList(QDir::Files), files);
        QCOMPARE(store.activeProfileId(), defaultId);
        if (list == "user") {
            // Other kinds have room of their own, and a preset of the kind may still be saved over.
            QVERIFY(!store.saveUserPreset("L", "One more", QJsonObject()).isEmpty());
            QCOMPARE(store.saveUserPreset("K", "ITEM 7", QJsonObject()), ids.at(7));
        }

        QVERIFY(profiles ? store.deleteProfile(ids.at(5))
                         : list == "esc" ? store.deleteEscPreset(ids.at(5)) : store.deleteUserPreset(ids.at(5)));
        QVERIFY(!oneMore().isEmpty());
    }

    void escPresets()
    {
        QString id;
        {
            ProfileManager store;
            QSignalSpy changed(&store, &ProfileManager::escPresetsChanged);
            // The file is what QJsonDocument writes, though each preset's text is kept from before.
            const auto asQtWritesIt = [] {
                const QByteArray bytes = readBytes("esc_presets.json");
                return bytes == QJsonDocument::fromJson(bytes).toJson(QJsonDocument::Indented);
            };
            QVERIFY(store.saveEscPresets() && asQtWritesIt());
            id = store.createEscPreset(" Crawler ", 1000, 1500, 500);
            const QString second = store.createEscPreset("Drift", 990, 1811, 172);
            QVERIFY(asQtWritesIt());
            QVERIFY(store.updateEscPreset(id, 1001, 1600, 400) && store.deleteEscPreset(second));
            QCOMPARE(changed.size(), 4);
            QVERIFY(asQtWritesIt());

            // Nameless presets are refused and the file stays as it was.
            const QJsonObject before = readObject("esc_presets.json");
            QSignalSpy errors(&store, &ProfileManager::errorOccurred);
            QVERIFY(store.createEscPreset(" \t ", 4, 5, 6).isEmpty() && !store.renameEscPreset(id, ""));
            QVERIFY(changed.size() == 4 && errors.size() == 2);
            QCOMPARE(readObject("esc_presets.json"), before);
        }
        ProfileManager store;
        QCOMPARE(store.escPresets().size(), 1);
        const EscPreset *preset = store.findEscPreset(id);
        QVERIFY(preset && preset->name == QStringLiteral("Crawler"));
        QVERIFY(preset->neutral == 1001 && preset->fullForward == 1600 && preset->fullReverse == 400);
        // Another's name in other letters takes a number, on create and on rename.
        const QString copy = store.createEscPreset("CRAWLER", 990, 1811, 172);
        QCOMPARE(store.findEscPreset(copy)->name, QStringLiteral("CRAWLER (2)"));
        QVERIFY(store.renameEscPreset(copy, "crawler") && store.findEscPreset(copy)->name == "crawler (2)");
    }

    void userPresets()
    {
        QString fastId;
        {
            ProfileManager store;
            fastId = store.saveUserPreset("K", "  Fast ", QJsonObject{{"v", 1}});
            // The same name ignoring case replaces the preset of that kind.
            QCOMPARE(store.saveUserPreset("K", "FAST", QJsonObject{{"v", 2}}), fastId);
            QVERIFY(store.saveUserPreset("L", "FAST", QJsonObject()) != fastId);
            QVERIFY(store.saveUserPreset("K", "   ", QJsonObject()).isEmpty());
            store.saveUserPreset("K", "beta", QJsonObject());
            QCOMPARE(store.userPresets("K").value(0).name, QStringLiteral("beta"));
            QVERIFY(!store.renameUserPreset(fastId, "  ") && store.renameUserPreset(fastId, " Quick "));
        }
        ProfileManager store;
        QCOMPARE(store.userPresets("K").size(), 2);
        const UserPreset *quick = store.findUserPreset(fastId);
        QVERIFY(quick && quick->modifiedAt.isValid());
        QCOMPARE(quick->name, QStringLiteral("Quick"));
        QCOMPARE(quick->data.value("v").toInt(), 2);
        // A rename to the name of another of the kind in other letters takes a number; another kind's is free.
        QVERIFY(store.renameUserPreset(fastId, "BETA") && store.findUserPreset(fastId)->name == "BETA (2)");
        QVERIFY(store.renameUserPreset(fastId, "fast") && store.findUserPreset(fastId)->name == "fast");
    }

    // A child saves in a loop and is killed at random moments: every file stays whole.
    // A run as root on the user's home (through sudo, to reach a serial port) leaves the user's
    // files the user's, those it replaces and those it makes: the user's next run saves them.
    void runAsRootKeepsTheUsersFiles()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to save in a folder of another user's");
        constexpr uid_t User = 65534;
        ProfileManager store;
        QVERIFY(ostratest::writesDone());
        const QFileInfoList files = QDir(folder()).entryInfoList(QDir::Files) << QFileInfo(folder());
        for (const QFileInfo &file : files)
            QCOMPARE(::chown(QFile::encodeName(file.absoluteFilePath()).constData(), User, User), 0);
        QVERIFY(store.saveActiveProfile());
        const QString made = store.createProfile("Made as root");
        QVERIFY(ostratest::writesDone());
        for (const QString &id : {store.activeProfileId(), made}) {
            struct stat st = {};
            QCOMPARE(::stat(QFile::encodeName(folder() + "/" + id + ".json").constData(), &st), 0);
            QVERIFY(st.st_uid == User && st.st_gid == User);
        }
    }

    void savesSurviveKill()
    {
        const QString saver = QCoreApplication::applicationDirPath() + "/profilesaver";
        QStringList ids;
        {
            ProfileManager store;
            ids.append(store.activeProfileId());
            for (int i = 0; i < 4; ++i)
                ids.append(store.createProfile(QStringLiteral("Profile %1").arg(i)));
            store.createEscPreset("Kill", 0, 0, 0);
        }
        ids.sort();
        // On disk before the first child reads the folder.
        QVERIFY(ostratest::writesDone());

        QRandomGenerator rng(20261206);
        for (int round = 0; round < 40; ++round) {
            QProcess child;
            child.start(saver, {});
            QVERIFY2(child.waitForReadyRead(20000), "saver did not start saving");
            QThread::usleep(rng.bounded(1000u, 30000u));
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(10000));

            // A profile of one generation, never torn or missing.
            for (const QString &id : std::as_const(ids)) {
                const Profile profile = Profile::fromJson(readObject(id + ".json"));
                QVERIFY2(profile.id == id, qPrintable(QStringLiteral("round %1: %2 torn").arg(round).arg(id)));
                const int generation = profile.axisSettings.escNeutral;
                if (profile.telemetryDashboard.isEmpty())
                    QCOMPARE(generation, 992);
                else
                    QCOMPARE(profile.telemetryDashboard.count(QString::number(generation)), 400);
            }
            const QJsonArray esc = readObject("esc_presets.json").value("presets").toArray();
            QVERIFY(esc.size() == 1 && esc[0]["fullForward"] == esc[0]["neutral"]);
            const QJsonArray user = readObject("user_presets.json").value("presets").toArray();
            QVERIFY(user.size() == 1 && user[0]["data"]["generation"].toInt() > 0);
            QVERIFY(ids.contains(readObject("config.json").value("lastActiveProfileId").toString()));
        }
        // No leftovers of unfinished writes are taken for profiles, and the next start clears them.
        QCOMPARE(QDir(folder()).entryList({"*.json"}, QDir::Files).size(), ids.size() + 3);
        { ProfileManager store; }
        QCOMPARE(QDir(folder()).entryList(QDir::Files).size(), ids.size() + 3);
    }
};

OSTRA_TEST_MAIN_CORE(TestProfileManager)
#include "tst_profilemanager.moc"
