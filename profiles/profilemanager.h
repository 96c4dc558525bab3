#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "profiles/filewriter.h"
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

    explicit ProfileManager(QObject *parent = nullptr);
    ~ProfileManager() override;

    // Files
    void loadProfiles();
    void loadConfig();
    bool saveConfig();
    // Returns once the file is on disk (or could not be written).
    bool saveProfile(const QString &id);
    // The same, but between beginDeferredSaves and endDeferredSaves the file is handed to the
    // writer thread and true returned at once.
    bool saveActiveProfile();
    // Opened around the answering of one request of the app, so that its saves do not hold the
    // thread of the 7 ms tick while the disk works. `stored` is called once everything saved in
    // between is on disk (at once when nothing was), with the store's message when a write
    // failed. Nested calls pair up; saves from a nested event loop (the desktop user's) are not
    // deferred.
    void beginDeferredSaves();
    void endDeferredSaves(const std::function<void(const QString &failure)> &stored);
    QString profileFilePath(const QString &id) const;
    // Writes through a temporary file that replaces the target only when complete.
    static bool writeJsonFile(const QString &path, const QByteArray &bytes);
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

    // Profiles. A profile is added, renamed, removed or made active only together with its file
    // (and the state file): when a write fails the operation changes nothing and reports it.
    QString createProfile(const QString &name);
    QString duplicateProfile(const QString &sourceId, const QString &name);
    bool renameProfile(const QString &id, const QString &name);
    bool deleteProfile(const QString &id);
    bool importProfile(const QString &filePath, QString *newId = nullptr);
    bool setActiveProfile(const QString &id);
    // A name no profile but the one of `exceptId` has, without regard to letter case.
    QString uniqueProfileName(const QString &base, const QString &exceptId = QString()) const;
    QString profileIdForVehicleType(const QString &vehicleType, const QString &preferredName) const;
    // The id of the active profile afterwards, or empty when a profile could not be made or saved.
    QString switchVehicleType(const QString &vehicleType, const QString &preferredName);

    // ESC presets and user presets: a change is kept only when the list's file was written.
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
    struct PendingWrite
    {
        quint64 ticket = 0;
        QString name; // of the profile, for the message when the write fails
    };

    // The saves deferred while one request was answered, by file.
    struct SaveBatch
    {
        int loopLevel = 0;
        QHash<QString, PendingWrite> waiting;
        QString failure;
        std::function<void(const QString &failure)> stored; // set once the batch is closed
    };

    void onFileWritten(const QString &path, quint64 ticket, bool ok);
    void onFileWriteFailed(const QString &path);
    QString folderPath() const;
    // Emits the reason when a name cannot be used.
    bool acceptsName(const QString &name, ProfileName::Of of);
    // Emits the reason when a profile from outside holds a list longer than the program lets one
    // grow: the transmit tick tests every button binding, the car page shows every pinned sensor.
    bool acceptsLists(const Profile &profile);
    bool hasRoomForProfile();
    // Inserts the profile and saves it; takes it out again when the save fails.
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
    // Open batches, innermost last, and closed ones whose writes have not all ended.
    QList<std::shared_ptr<SaveBatch>> m_saveBatches;
    QList<std::shared_ptr<SaveBatch>> m_storingBatches;
    // Declared last, so destroyed first: its thread has ended before the batches go.
    FileWriter m_writer;
};

} // namespace corvane
