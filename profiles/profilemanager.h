#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "profiles/presets.h"
#include "profiles/presetsfile.h"
#include "profiles/profile.h"
#include "profiles/profilename.h"

class QDir;

namespace corvane {

// Keeps every vehicle profile, the active profile and the presets, each in a JSON file of its
// own under the application data folder.
class ProfileManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString activeProfileId READ activeProfileId NOTIFY activeProfileChanged)
    Q_PROPERTY(QString activeProfileName READ activeProfileName NOTIFY activeProfileChanged)

public:
    // How many profiles, ESC presets and user presets of one kind the store takes: every list
    // is sent whole to the app and rewritten whole on each change. Files holding more load.
    static constexpr int MaxProfiles = 200;
    static constexpr int MaxEscPresets = 200;
    static constexpr int MaxUserPresetsPerKind = 200;

    // The store's own files beside the profiles' (each named after its profile's id + ".json").
    static const QString ConfigFileName;
    static const QString EscPresetsFileName;
    static const QString UserPresetsFileName;
    // The folder of all of them.
    static QString folderPath();

    explicit ProfileManager(QObject *parent = nullptr);
    ~ProfileManager() override;

    // Files. Every write goes to the program's writer (FileWriter::shared()): the store's memory
    // changes at once, the file follows on the writer's thread, and a write that fails is
    // reported through errorOccurred. A request's batch of the writer holds its reply until then.
    void loadProfiles();
    void loadConfig();
    // True: handed to the writer.
    bool saveConfig();
    bool saveProfile(const QString &id);
    bool saveActiveProfile();
    QString profileFilePath(const QString &id) const;
    // What the user calls the files of the store, kept for the end of the run, when the store
    // may be gone.
    struct FileNames
    {
        QString folder;
        QHash<QString, QString> byPath;
        // A file of the store by what it holds; another file in its folder holds nothing the
        // user has (a profile that never came to be, or one gone): empty. A file elsewhere by
        // its file name.
        QString of(const QString &path) const;
    };
    // Profiles' files by the profile's name, those of deleted profiles not yet removed included.
    FileNames fileNames() const;
    void createDefaultProfile();

    // Lookups
    const Profile *activeProfile() const;
    Profile *mutableActiveProfile();
    Profile *mutableProfile(const QString &id);
    QList<Profile> profiles() const;
    QString activeProfileId() const { return m_activeProfileId; }
    QString activeProfileName() const;
    QString activeVehicleType() const;

    // Sections of the active profile
    bool autoStartEnabled() const;
    AxisSettings axisSettings() const;
    ButtonMappingSet buttonMappings() const;
    DeviceConnections deviceConnections() const;
    HelicopterConfig helicopterConfig() const;
    LedSettings ledSettings() const;
    WheelFfbSettings wheelFfb() const;

    void setAutoStartEnabled(bool enabled);
    void setAxisSettings(const AxisSettings &settings);
    void setButtonMappings(const ButtonMappingSet &mappings);
    void setHelicopterConfig(const HelicopterConfig &config);
    void setLedSettings(const LedSettings &settings);
    void setBridgeConnection(const QString &portName, int baudRate);
    void setWheelBaseDevice(const DeviceConnection &device);
    void setPedalsDevice(const DeviceConnection &device);
    void setShifterDevice(const DeviceConnection &device);
    void setWheelFfb(const WheelFfbSettings &settings);

    // Profiles. A profile is added, renamed, removed or made active in memory at once. When its
    // file (or the state file) cannot be written or removed and no later write of that file is
    // on its way, what the next start would not read of it is taken back to what the file holds,
    // announced again and reported; a profile's settings stay in memory for the next save.
    QString createProfile(const QString &name);
    QString duplicateProfile(const QString &sourceId, const QString &name);
    bool renameProfile(const QString &id, const QString &name);
    bool deleteProfile(const QString &id);
    bool importProfile(const QString &filePath, QString *newId = nullptr);
    // The same for a profile already read, as its file holds it.
    bool importProfile(const QJsonObject &profileJson, QString *newId = nullptr);
    bool setActiveProfile(const QString &id);
    // A name no profile but the one of `exceptId` has, without regard to letter case.
    QString uniqueProfileName(const QString &base, const QString &exceptId = QString()) const;
    QString profileIdForVehicleType(const QString &vehicleType, const QString &preferredName) const;
    // The id of the active profile afterwards, or empty when a profile could not be made or saved.
    QString switchVehicleType(const QString &vehicleType, const QString &preferredName);

    // ESC presets and user presets: a list whose file cannot be written, with no later write of it
    // on its way, goes back to what the file holds.
    bool loadEscPresets();
    bool saveEscPresets();
    QList<EscPreset> escPresets() const { return m_escPresets; }
    const EscPreset *findEscPreset(const QString &id) const;
    QString createEscPreset(const QString &name, int neutral, int fullForward, int fullReverse);
    bool updateEscPreset(const QString &id, int neutral, int fullForward, int fullReverse);
    bool renameEscPreset(const QString &id, const QString &name);
    bool deleteEscPreset(const QString &id);

    // User presets
    void loadUserPresets();
    bool saveUserPresets();
    QList<UserPreset> userPresets(const QString &kind) const;
    const UserPreset *findUserPreset(const QString &id) const;
    QString saveUserPreset(const QString &kind, const QString &name, const QJsonObject &data);
    bool renameUserPreset(const QString &id, const QString &name);
    bool deleteUserPreset(const QString &id);

signals:
    void activeProfileChanged(const QString &id);
    void profileListChanged();
    void profileModified(const QString &id);
    void escPresetsChanged();
    void userPresetsChanged(const QString &kind);
    void errorOccurred(const QString &message);

private:
    // What one of the store's files holds as far as the store knows (what the next start reads
    // of it), and what each job of it made for the disk puts there once it lands, by ticket:
    // a flush may start a file's next job while one is still in the disk.
    template <typename Content>
    struct TrackedFile
    {
        Content onDisk{};
        QHash<quint64, Content> writing;
        quint64 lastHanded = 0; // the ticket of the last job handed over for it
        QString failure; // reported when that job fails; empty: not reported

        void handed(quint64 ticket, const QString &whenFailed)
        {
            lastHanded = ticket;
            failure = whenFailed;
        }
    };
    struct StateFile
    {
        QString activeId;
        QHash<QString, QString> lastActiveByType;
    };
    // A profile's name in its file; none: no file the next start reads it from.
    struct ProfileFile : TrackedFile<std::optional<QString>>
    {
        quint64 removal = 0; // the ticket of the removal of its files
        // The whole profile as its file holds it: a switch away from it unchanged writes nothing.
        QJsonObject json;
        QHash<quint64, QJsonObject> writingJson;
    };
    struct Deleted
    {
        Profile profile;
        QStringList otherFiles;
    };

    // Hands the writes `writes` makes to the writer as one change, whose failures the store
    // reports once they are reported.
    void store(const std::function<void()> &writes);
    void writeProfile(const QString &id);
    // The profile's file holds it as it is in memory, and no write of it is on its way.
    bool isOnDisk(const QString &id) const;
    void writeConfig(bool aside = false);
    void writeEscPresets();
    void writeUserPresets();
    // A job of the writer has ended. A failed one that no later job of its file follows takes
    // memory back to what the file holds (`takeBack`) and is reported; one that a later job
    // follows leaves that job to decide.
    void onWritten(const QString &path, quint64 ticket, bool ok);
    template <typename Content>
    void settle(TrackedFile<Content> &file, quint64 ticket, bool ok, const std::function<void()> &takeBack);
    void takeBackProfile(const QString &id);
    void takeBackConfig();
    // The profile the next start makes active: the one the state file on disk names, while it is
    // in the store, else the first in id order.
    QString activeAtNextStart() const;
    void takeBackEscPresets();
    void takeBackUserPresets();
    // Takes the profile out again after its file could not be written.
    void dropProfile(const QString &id);
    void announceRename(const QString &id);
    // `after` takes the place of the preset of its id (or of `before`'s) and the list's file is
    // written; a preset without an id is none, so an empty `before` adds and an empty `after`
    // removes.
    template <typename Preset>
    void changePreset(QList<Preset> &presets, const Preset &before, const Preset &after,
                      const std::function<void()> &write, const std::function<void()> &announce);
    void changeEscPreset(const EscPreset &before, const EscPreset &after);
    void changeUserPreset(const UserPreset &before, const UserPreset &after);
    // Emits the reason when a name cannot be used.
    bool acceptsName(const QString &name, ProfileName::Of of);
    // Emits the reason when a profile from outside holds a list longer than the program lets one
    // grow: the transmit tick tests every button binding, the car page shows every pinned sensor.
    bool acceptsLists(const Profile &profile);
    bool hasRoomForProfile();
    // Inserts the profile and saves it.
    bool addProfile(const Profile &profile);
    QString newProfile(const QString &name, const QString &vehicleType);
    static void removeUnfinishedWrites(const QDir &dir);
    QString storeFilePath(const QString &fileName) const;
    // The active profile with its modification time set to now, or null.
    Profile *stampedActiveProfile();

    QMap<QString, Profile> m_profiles;
    QString m_activeProfileId;
    QHash<QString, QString> m_lastActiveByType;
    QList<EscPreset> m_escPresets;
    QList<UserPreset> m_userPresets;
    PresetsFile<EscPreset> m_escPresetsFile;
    PresetsFile<UserPreset> m_userPresetsFile;
    // Files other than id + ".json" that carried a profile's id at load.
    QHash<QString, QStringList> m_otherFiles;
    QHash<QString, ProfileFile> m_profilesOnDisk; // by id
    TrackedFile<StateFile> m_configOnDisk;
    TrackedFile<QList<EscPreset>> m_escPresetsOnDisk;
    TrackedFile<QList<UserPreset>> m_userPresetsOnDisk;
    QHash<QString, Deleted> m_deleted; // by id, until their files are gone
    QStringList m_unreported; // failures taken back, for the change that made them to report
};

} // namespace corvane
