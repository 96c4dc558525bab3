#include "profiles/profilemanager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>
#include <QtDebug>

#include <algorithm>
#include <utility>

#include "platform/storage/filewriter.h"

namespace corvane {

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// The id becomes a file name: it must not name one of the store's own files, leave the folder
// or name a Windows device (COM3.json is the serial port COM3, whatever the extension).
bool isUsableProfileId(const QString &id)
{
    for (const QString &reserved : {ProfileManager::ConfigFileName, ProfileManager::EscPresetsFileName,
                                    ProfileManager::UserPresetsFileName}) {
        if (id.compare(QFileInfo(reserved).completeBaseName(), Qt::CaseInsensitive) == 0)
            return false;
    }
    static const QRegularExpression deviceName(QStringLiteral("^(con|prn|aux|nul|com[0-9]|lpt[0-9]) *$"),
                                               QRegularExpression::CaseInsensitiveOption);
    if (deviceName.match(id.section(QLatin1Char('.'), 0, 0)).hasMatch())
        return false;
    if (id.contains(QLatin1String("..")))
        return false;
    for (const QChar c : id) {
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            return false;
    }
    return true;
}

// Reads a whole file as a JSON object; an empty object when it cannot be opened or parsed.
QJsonObject readJsonObject(const QString &path, bool *opened, bool *isObject)
{
    QFile file(path);
    *opened = file.open(QIODevice::ReadOnly);
    *isObject = false;
    if (!*opened)
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    *isObject = doc.isObject();
    return doc.object();
}

// The names of the items but the one of `exceptId`: the names a new name must differ from.
template <typename Items, typename Counts>
QStringList otherNames(const Items &items, const QString &exceptId, Counts counts)
{
    QStringList names;
    for (const auto &item : items) {
        if (item.id != exceptId && counts(item))
            names.append(item.name);
    }
    return names;
}

template <typename Items>
QStringList otherNames(const Items &items, const QString &exceptId)
{
    return otherNames(items, exceptId, [](const auto &) { return true; });
}

template <typename Preset>
int presetIndex(const QList<Preset> &presets, const QString &id)
{
    for (int i = 0; i < presets.size(); ++i) {
        if (presets.at(i).id == id)
            return i;
    }
    return -1;
}

// Puts `preset` in the place of the one of `id`, or appends it when there is none; a preset
// without an id takes the one of `id` out.
template <typename Preset>
void putPreset(QList<Preset> &presets, const QString &id, const Preset &preset)
{
    const int at = presetIndex(presets, id);
    if (preset.id.isEmpty()) {
        if (at >= 0)
            presets.removeAt(at);
    } else if (at >= 0) {
        presets[at] = preset;
    } else {
        presets.append(preset);
    }
}

} // namespace

const QString ProfileManager::ConfigFileName = QStringLiteral("config.json");
const QString ProfileManager::EscPresetsFileName = QStringLiteral("esc_presets.json");
const QString ProfileManager::UserPresetsFileName = QStringLiteral("user_presets.json");

ProfileManager::ProfileManager(QObject *parent)
    : QObject(parent)
{
    // Whatever was handed to the writer before is read as written: a store started again in the
    // same process (a new window) finds the last one's files whole.
    FileWriter::shared().flush(FileWriter::QuitWaitMs);
    connect(&FileWriter::shared(), &FileWriter::written, this, &ProfileManager::onWritten);
    loadEscPresets();
    loadUserPresets();
    loadProfiles();
}

ProfileManager::~ProfileManager()
{
    // The active profile and the state file first: they are the likeliest to have changed.
    saveActiveProfile();
    saveConfig();
    for (auto it = m_profiles.cbegin(); it != m_profiles.cend(); ++it) {
        if (it.key() != m_activeProfileId)
            saveProfile(it.key());
    }
    // The writer outlives the store: the bytes of what waits for its turn are made while the
    // store is still whole.
    FileWriter::shared().release(this);
}

QString ProfileManager::folderPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
}

QString ProfileManager::storeFilePath(const QString &fileName) const
{
    return folderPath() + QLatin1Char('/') + fileName;
}

QString ProfileManager::profileFilePath(const QString &id) const
{
    return storeFilePath(id + QStringLiteral(".json"));
}

ProfileManager::FileNames ProfileManager::fileNames() const
{
    FileNames names{folderPath(),
                    {{storeFilePath(ConfigFileName), tr("the choice of the active profile")},
                     {storeFilePath(EscPresetsFileName), tr("the ESC presets")},
                     {storeFilePath(UserPresetsFileName), tr("the presets")}}};
    const auto add = [&](const Profile &profile, const QStringList &otherFiles) {
        const QString name = tr("the profile \"%1\"").arg(profile.name);
        names.byPath.insert(profileFilePath(profile.id), name);
        for (const QString &path : otherFiles)
            names.byPath.insert(path, name);
    };
    for (const Deleted &deleted : m_deleted)
        add(deleted.profile, deleted.otherFiles);
    for (const Profile &profile : m_profiles)
        add(profile, m_otherFiles.value(profile.id));
    return names;
}

QString ProfileManager::FileNames::of(const QString &path) const
{
    const QFileInfo file(path);
    return byPath.value(path, file.absolutePath() == folder ? QString() : file.fileName());
}

void ProfileManager::loadProfiles()
{
    m_profiles.clear();
    m_otherFiles.clear();
    const QDir dir(folderPath());
    if (!dir.exists()) {
        createDefaultProfile();
        return;
    }

    removeUnfinishedWrites(dir);

    QSet<QString> fromOwnFile;
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.json")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo &info : files) {
        const QString fileName = info.fileName();
        if (fileName == ConfigFileName || fileName == EscPresetsFileName || fileName == UserPresetsFileName)
            continue;
        bool opened = false;
        bool isObject = false;
        const QJsonObject obj = readJsonObject(info.absoluteFilePath(), &opened, &isObject);
        if (!opened || !isObject) {
            qWarning().noquote() << "ProfileManager: skipping unreadable profile file" << fileName;
            continue;
        }
        const Profile profile = Profile::fromJson(obj);
        if (profile.id.isEmpty() || profile.name.isEmpty()) {
            qWarning().noquote() << "ProfileManager: skipping profile file without id or name" << fileName;
            continue;
        }
        if (!isUsableProfileId(profile.id)) {
            qWarning().noquote() << "ProfileManager: skipping profile file with unusable id" << fileName;
            continue;
        }
        // The file named after the id is the one every save writes, so it wins over stale copies.
        const bool ownFile = fileName == profile.id + QStringLiteral(".json");
        if (!ownFile)
            m_otherFiles[profile.id].append(info.absoluteFilePath());
        if (ownFile || !fromOwnFile.contains(profile.id))
            m_profiles.insert(profile.id, profile);
        if (ownFile)
            m_profilesOnDisk[profile.id].json = obj;
        if (ownFile)
            fromOwnFile.insert(profile.id);
    }
    for (const Profile &profile : std::as_const(m_profiles))
        m_profilesOnDisk[profile.id].onDisk = profile.name;

    if (m_profiles.isEmpty())
        createDefaultProfile();
    loadConfig();
    if (!m_profiles.contains(m_activeProfileId))
        m_activeProfileId = m_profiles.firstKey();
}

void ProfileManager::removeUnfinishedWrites(const QDir &dir)
{
    // Only the writer's own temporary files: a file the user keeps here under any other name
    // (mycar.json.backup) stays, and so does what older versions left, which no name tells apart.
    FileWriter::removeLeftovers(dir.absolutePath());
}

void ProfileManager::loadConfig()
{
    bool opened = false;
    bool isObject = false;
    const QJsonObject obj = readJsonObject(storeFilePath(ConfigFileName), &opened, &isObject);
    if (!isObject)
        return;
    m_activeProfileId = obj.value(QLatin1String("lastActiveProfileId")).toString();
    StateFile &onDisk = m_configOnDisk.onDisk;
    onDisk.activeId = m_activeProfileId;
    const QJsonObject byType = obj.value(QLatin1String("lastActiveByType")).toObject();
    for (auto it = byType.constBegin(); it != byType.constEnd(); ++it) {
        m_lastActiveByType.insert(it.key(), it.value().toString());
        onDisk.lastActiveByType.insert(it.key(), it.value().toString());
    }
}

bool ProfileManager::saveConfig()
{
    store([this] { writeConfig(); });
    return true;
}

bool ProfileManager::saveProfile(const QString &id)
{
    if (!m_profiles.contains(id))
        return false;
    store([&] { writeProfile(id); });
    return true;
}

bool ProfileManager::saveActiveProfile()
{
    return activeProfile() && saveProfile(m_activeProfileId);
}

void ProfileManager::createDefaultProfile()
{
    if (!m_profiles.isEmpty())
        return;
    const Profile profile = Profile::createNew(QStringLiteral("Default"));
    m_profiles.insert(profile.id, profile);
    m_activeProfileId = profile.id;
    saveProfile(profile.id);
    saveConfig();
}

const Profile *ProfileManager::activeProfile() const
{
    const auto it = m_profiles.constFind(m_activeProfileId);
    return it == m_profiles.cend() ? nullptr : &it.value();
}

Profile *ProfileManager::mutableActiveProfile()
{
    return mutableProfile(m_activeProfileId);
}

Profile *ProfileManager::mutableProfile(const QString &id)
{
    const auto it = m_profiles.find(id);
    return it == m_profiles.end() ? nullptr : &it.value();
}

QList<Profile> ProfileManager::profiles() const
{
    return m_profiles.values();
}

QString ProfileManager::activeProfileName() const
{
    const Profile *active = activeProfile();
    return active ? active->name : QString();
}

QString ProfileManager::activeVehicleType() const
{
    const Profile *active = activeProfile();
    return active ? active->vehicleType : QString(VehicleType::Car);
}

bool ProfileManager::autoStartEnabled() const
{
    const Profile *active = activeProfile();
    return active ? active->autoStartEnabled : false;
}

AxisSettings ProfileManager::axisSettings() const
{
    const Profile *active = activeProfile();
    return active ? active->axisSettings : AxisSettings();
}

ButtonMappingSet ProfileManager::buttonMappings() const
{
    const Profile *active = activeProfile();
    return active ? active->buttonMappings : ButtonMappingSet();
}

DeviceConnections ProfileManager::deviceConnections() const
{
    const Profile *active = activeProfile();
    return active ? active->deviceConnections : DeviceConnections();
}

HelicopterConfig ProfileManager::helicopterConfig() const
{
    const Profile *active = activeProfile();
    return active ? active->helicopterConfig : HelicopterConfig();
}

LedSettings ProfileManager::ledSettings() const
{
    const Profile *active = activeProfile();
    return active ? active->ledSettings : LedSettings();
}

WheelFfbSettings ProfileManager::wheelFfb() const
{
    const Profile *active = activeProfile();
    return active ? active->wheelFfb : WheelFfbSettings();
}

Profile *ProfileManager::stampedActiveProfile()
{
    Profile *active = mutableActiveProfile();
    if (active)
        active->modifiedAt = QDateTime::currentDateTime();
    return active;
}

void ProfileManager::setAutoStartEnabled(bool enabled)
{
    if (Profile *active = stampedActiveProfile()) {
        active->autoStartEnabled = enabled;
        emit profileModified(m_activeProfileId);
    }
}

void ProfileManager::setAxisSettings(const AxisSettings &settings)
{
    if (Profile *active = stampedActiveProfile()) {
        active->axisSettings = settings;
        active->axisSettings.limitChannelValues();
        emit profileModified(m_activeProfileId);
    }
}

void ProfileManager::setButtonMappings(const ButtonMappingSet &mappings)
{
    if (Profile *active = stampedActiveProfile()) {
        active->buttonMappings = mappings;
        active->buttonMappings.limitChannelValues();
        emit profileModified(m_activeProfileId);
    }
}

void ProfileManager::setHelicopterConfig(const HelicopterConfig &config)
{
    if (Profile *active = stampedActiveProfile()) {
        active->helicopterConfig = config;
        emit profileModified(m_activeProfileId);
    }
}

void ProfileManager::setLedSettings(const LedSettings &settings)
{
    if (Profile *active = stampedActiveProfile()) {
        active->ledSettings = settings;
        emit profileModified(m_activeProfileId);
    }
}

void ProfileManager::setBridgeConnection(const QString &portName, int baudRate)
{
    if (Profile *active = stampedActiveProfile()) {
        active->deviceConnections.portName = portName;
        active->deviceConnections.baudRate = baudRate;
        saveActiveProfile();
    }
}

void ProfileManager::setWheelBaseDevice(const DeviceConnection &device)
{
    if (Profile *active = stampedActiveProfile()) {
        active->deviceConnections.wheelBase = device;
        saveActiveProfile();
    }
}

void ProfileManager::setPedalsDevice(const DeviceConnection &device)
{
    if (Profile *active = stampedActiveProfile()) {
        active->deviceConnections.pedals = device;
        saveActiveProfile();
    }
}

void ProfileManager::setShifterDevice(const DeviceConnection &device)
{
    if (Profile *active = stampedActiveProfile()) {
        active->deviceConnections.shifter = device;
        saveActiveProfile();
    }
}

void ProfileManager::setWheelFfb(const WheelFfbSettings &settings)
{
    if (Profile *active = stampedActiveProfile()) {
        active->wheelFfb = settings;
        saveActiveProfile();
    }
}

bool ProfileManager::acceptsName(const QString &name, ProfileName::Of of)
{
    const QString refusal = ProfileName::refusal(name, of);
    if (refusal.isEmpty())
        return true;
    emit errorOccurred(refusal);
    return false;
}

bool ProfileManager::acceptsLists(const Profile &profile)
{
    const struct
    {
        qsizetype size;
        int max;
        const char *message;
    } lists[] = {
        {profile.buttonMappings.bindingCount(), ButtonMappingSet::MaxMappings,
         QT_TR_NOOP("Too many button mappings: at most %1 buttons in all")},
        {profile.telemetrySensors.size(), Profile::MaxTelemetrySensors, QT_TR_NOOP("Too many telemetry sensors: at most %1")},
        {profile.telemetryDashboard.size(), Profile::MaxTelemetrySensors,
         QT_TR_NOOP("Too many pinned telemetry sensors: at most %1")},
        {profile.ledSettings.ledColors.size(), LedSettings::MaxLedCount, QT_TR_NOOP("Too many LED colors: at most %1")},
        {profile.ledSettings.rangeZones.size(), LedSettings::MaxZones, QT_TR_NOOP("Too many LED zones: at most %1")},
    };
    for (const auto &list : lists) {
        if (list.size > list.max) {
            emit errorOccurred(tr(list.message).arg(list.max));
            return false;
        }
    }
    return true;
}

bool ProfileManager::hasRoomForProfile()
{
    if (m_profiles.size() < MaxProfiles)
        return true;
    emit errorOccurred(tr("There can be at most %1 profiles: delete one first").arg(MaxProfiles));
    return false;
}

bool ProfileManager::addProfile(const Profile &profile)
{
    m_profiles.insert(profile.id, profile);
    store([&] { writeProfile(profile.id); });
    emit profileListChanged();
    return true;
}

QString ProfileManager::newProfile(const QString &name, const QString &vehicleType)
{
    const QString clean = ProfileName::normalized(name);
    if (!clean.isEmpty() && !acceptsName(clean, ProfileName::Of::Profile))
        return {};
    if (!hasRoomForProfile())
        return {};
    Profile profile = Profile::createNew(uniqueProfileName(clean.isEmpty() ? tr("New Profile") : clean));
    profile.vehicleType = vehicleType;
    return addProfile(profile) ? profile.id : QString();
}

QString ProfileManager::createProfile(const QString &name)
{
    return newProfile(name, activeVehicleType());
}

QString ProfileManager::duplicateProfile(const QString &sourceId, const QString &name)
{
    const auto source = m_profiles.constFind(sourceId);
    if (source == m_profiles.cend()) {
        emit errorOccurred(tr("Source profile not found: %1").arg(sourceId));
        return {};
    }
    const QString clean = ProfileName::normalized(name);
    if (!clean.isEmpty() && !acceptsName(clean, ProfileName::Of::Profile))
        return {};
    if (!hasRoomForProfile())
        return {};
    // A name from a file was never put to the rule: the copy's is.
    const QString base = clean.isEmpty() ? ProfileName::withSuffix(source->name, QStringLiteral(" (Copy)")) : clean;
    if (clean.isEmpty() && !acceptsName(base, ProfileName::Of::Profile))
        return {};
    Profile copy = source.value();
    copy.id = newId();
    copy.name = uniqueProfileName(base);
    copy.createdAt = QDateTime::currentDateTime();
    copy.modifiedAt = copy.createdAt;
    return addProfile(copy) ? copy.id : QString();
}

bool ProfileManager::renameProfile(const QString &id, const QString &name)
{
    Profile *profile = mutableProfile(id);
    if (!profile) {
        emit errorOccurred(tr("Profile not found: %1").arg(id));
        return false;
    }
    if (!acceptsName(name, ProfileName::Of::Profile))
        return false;
    profile->name = uniqueProfileName(ProfileName::normalized(name), id);
    profile->modifiedAt = QDateTime::currentDateTime();
    store([&] { writeProfile(id); });
    announceRename(id);
    return true;
}

void ProfileManager::announceRename(const QString &id)
{
    emit profileListChanged();
    if (id == m_activeProfileId)
        emit activeProfileChanged(id);
}

bool ProfileManager::deleteProfile(const QString &id)
{
    const auto found = m_profiles.constFind(id);
    if (found == m_profiles.cend()) {
        emit errorOccurred(tr("Profile not found: %1").arg(id));
        return false;
    }
    if (m_profiles.size() < 2) {
        emit errorOccurred(tr("Cannot delete the last profile"));
        return false;
    }
    // Every file that carries the id goes, or the profile would come back at the next start; its
    // own file last, so that a refused removal leaves the profile whole on disk. The removal
    // waits behind a save of it still on its way, and one not started yet is not done.
    const Deleted deleted{found.value(), m_otherFiles.take(id)};
    m_deleted.insert(id, deleted);
    m_profiles.remove(id);
    const QString replacement = id == m_activeProfileId ? m_profiles.firstKey() : QString();
    const QString failure = tr("Failed to delete profile: %1").arg(deleted.profile.name);
    store([&] {
        ProfileFile &file = m_profilesOnDisk[id];
        file.removal = FileWriter::shared().remove(deleted.otherFiles + QStringList{profileFilePath(id)}, failure);
        file.handed(file.removal, failure);
    });
    if (!replacement.isEmpty()) {
        // The profile that goes is not saved first: deleting is how a full disk is cleared. The
        // first profile in id order is the one the next start takes while the state file still
        // names the deleted one, so a state file that cannot be written loses nothing, and the
        // deletion does not wait for it.
        m_activeProfileId = replacement;
        writeConfig(true);
        emit activeProfileChanged(m_activeProfileId);
    }
    emit profileListChanged();
    return true;
}

bool ProfileManager::importProfile(const QString &filePath, QString *newIdOut)
{
    bool opened = false;
    bool isObject = false;
    const QJsonObject obj = readJsonObject(filePath, &opened, &isObject);
    if (!opened) {
        emit errorOccurred(tr("Failed to open file: %1").arg(filePath));
        return false;
    }
    if (!isObject) {
        emit errorOccurred(tr("Invalid profile file format"));
        return false;
    }
    return importProfile(obj, newIdOut);
}

bool ProfileManager::importProfile(const QJsonObject &profileJson, QString *newIdOut)
{
    Profile profile = Profile::fromJson(profileJson);
    if (profile.id.isEmpty() || profile.name.isEmpty()) {
        emit errorOccurred(tr("Invalid profile data"));
        return false;
    }
    if (!acceptsName(profile.name, ProfileName::Of::Profile) || !acceptsLists(profile) || !hasRoomForProfile())
        return false;
    profile.id = newId();
    profile.name = uniqueProfileName(ProfileName::normalized(profile.name));
    profile.createdAt = QDateTime::currentDateTime();
    profile.modifiedAt = profile.createdAt;
    if (!addProfile(profile))
        return false;
    if (newIdOut)
        *newIdOut = profile.id;
    return true;
}

bool ProfileManager::setActiveProfile(const QString &id)
{
    if (!m_profiles.contains(id)) {
        emit errorOccurred(tr("Profile not found: %1").arg(id));
        return false;
    }
    if (id == m_activeProfileId)
        return true;
    const QString previous = m_activeProfileId;
    // The outgoing profile's unsaved changes go to its file (one its file holds already is not
    // written again); they stay in memory when it cannot be written, and the switch stays as far
    // as the state file holds it.
    store([&] {
        if (!isOnDisk(previous))
            writeProfile(previous);
        m_activeProfileId = id;
        writeConfig();
    });
    emit activeProfileChanged(id);
    return true;
}

QString ProfileManager::uniqueProfileName(const QString &base, const QString &exceptId) const
{
    return ProfileName::unique(base, otherNames(m_profiles, exceptId));
}

QString ProfileManager::profileIdForVehicleType(const QString &vehicleType, const QString &preferredName) const
{
    const auto remembered = m_lastActiveByType.constFind(vehicleType);
    if (remembered != m_lastActiveByType.cend()) {
        const auto it = m_profiles.constFind(remembered.value());
        if (it != m_profiles.cend() && it->vehicleType == vehicleType)
            return it.key();
    }
    QString nameMatch;
    const Profile *newest = nullptr;
    for (const Profile &profile : m_profiles) {
        if (profile.vehicleType != vehicleType)
            continue;
        if (nameMatch.isEmpty() && profile.name.compare(preferredName, Qt::CaseInsensitive) == 0)
            nameMatch = profile.id;
        if (!newest || profile.modifiedAt > newest->modifiedAt)
            newest = &profile;
    }
    if (!nameMatch.isEmpty())
        return nameMatch;
    return newest ? newest->id : QString();
}

QString ProfileManager::switchVehicleType(const QString &vehicleType, const QString &preferredName)
{
    if (const Profile *active = activeProfile(); active && active->vehicleType == vehicleType)
        return m_activeProfileId;
    const QString existing = profileIdForVehicleType(vehicleType, preferredName);
    if (!existing.isEmpty())
        return setActiveProfile(existing) ? existing : QString();
    const QString id = newProfile(preferredName, vehicleType);
    return !id.isEmpty() && setActiveProfile(id) ? id : QString();
}

bool ProfileManager::loadEscPresets()
{
    m_escPresets.clear();
    bool opened = false;
    bool isObject = false;
    const QJsonObject obj = readJsonObject(storeFilePath(EscPresetsFileName), &opened, &isObject);
    const QJsonArray presets = obj.value(QLatin1String("presets")).toArray();
    for (const QJsonValue &element : presets) {
        const EscPreset preset = EscPreset::fromJson(element.toObject());
        if (!preset.id.isEmpty() && !preset.name.isEmpty())
            m_escPresets.append(preset);
    }
    m_escPresetsOnDisk.onDisk = m_escPresets;
    return isObject;
}

bool ProfileManager::saveEscPresets()
{
    store([this] { writeEscPresets(); });
    return true;
}

const EscPreset *ProfileManager::findEscPreset(const QString &id) const
{
    const int index = presetIndex(m_escPresets, id);
    return index < 0 ? nullptr : &m_escPresets.at(index);
}

QString ProfileManager::createEscPreset(const QString &name, int neutral, int fullForward, int fullReverse)
{
    // A preset without a name would be dropped at the next start.
    if (!acceptsName(name, ProfileName::Of::EscPreset))
        return {};
    if (m_escPresets.size() >= MaxEscPresets) {
        emit errorOccurred(tr("There can be at most %1 ESC presets: delete one first").arg(MaxEscPresets));
        return {};
    }
    const QString unique = ProfileName::unique(ProfileName::normalized(name), otherNames(m_escPresets, QString()));
    const EscPreset added(unique, neutral, fullForward, fullReverse);
    changeEscPreset(EscPreset(), added);
    return added.id;
}

bool ProfileManager::updateEscPreset(const QString &id, int neutral, int fullForward, int fullReverse)
{
    const int index = presetIndex(m_escPresets, id);
    if (index < 0)
        return false;
    EscPreset after = m_escPresets.at(index);
    after.neutral = neutral;
    after.fullForward = fullForward;
    after.fullReverse = fullReverse;
    changeEscPreset(m_escPresets.at(index), after);
    return true;
}

bool ProfileManager::renameEscPreset(const QString &id, const QString &name)
{
    const int index = presetIndex(m_escPresets, id);
    if (index < 0 || !acceptsName(name, ProfileName::Of::EscPreset))
        return false;
    EscPreset after = m_escPresets.at(index);
    after.name = ProfileName::unique(ProfileName::normalized(name), otherNames(m_escPresets, id));
    changeEscPreset(m_escPresets.at(index), after);
    return true;
}

template <typename Preset>
void ProfileManager::changePreset(QList<Preset> &presets, const Preset &before, const Preset &after,
                                  const std::function<void()> &write, const std::function<void()> &announce)
{
    // `before` may be the list's own.
    const QString id = before.id.isEmpty() ? after.id : before.id;
    putPreset(presets, id, after);
    store(write);
    announce();
}

void ProfileManager::changeEscPreset(const EscPreset &before, const EscPreset &after)
{
    changePreset(m_escPresets, before, after, [this] { writeEscPresets(); }, [this] { emit escPresetsChanged(); });
}

bool ProfileManager::deleteEscPreset(const QString &id)
{
    const int index = presetIndex(m_escPresets, id);
    if (index < 0)
        return false;
    changeEscPreset(m_escPresets.at(index), EscPreset());
    return true;
}

void ProfileManager::loadUserPresets()
{
    m_userPresets.clear();
    bool opened = false;
    bool isObject = false;
    const QJsonObject obj = readJsonObject(storeFilePath(UserPresetsFileName), &opened, &isObject);
    const QJsonArray presets = obj.value(QLatin1String("presets")).toArray();
    for (const QJsonValue &element : presets) {
        const UserPreset preset = UserPreset::fromJson(element.toObject());
        if (!preset.id.isEmpty() && !preset.kind.isEmpty() && !preset.name.isEmpty())
            m_userPresets.append(preset);
    }
    m_userPresetsOnDisk.onDisk = m_userPresets;
}

bool ProfileManager::saveUserPresets()
{
    store([this] { writeUserPresets(); });
    return true;
}

QList<UserPreset> ProfileManager::userPresets(const QString &kind) const
{
    QList<UserPreset> result;
    for (const UserPreset &preset : m_userPresets) {
        if (preset.kind == kind)
            result.append(preset);
    }
    std::stable_sort(result.begin(), result.end(), [](const UserPreset &a, const UserPreset &b) {
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
    return result;
}

const UserPreset *ProfileManager::findUserPreset(const QString &id) const
{
    const int index = presetIndex(m_userPresets, id);
    return index < 0 ? nullptr : &m_userPresets.at(index);
}

QString ProfileManager::saveUserPreset(const QString &kind, const QString &name, const QJsonObject &data)
{
    const QString trimmed = ProfileName::normalized(name);
    if (kind.isEmpty() || trimmed.isEmpty())
        return {};
    if (!acceptsName(trimmed, ProfileName::Of::UserPreset))
        return {};
    auto it = std::find_if(m_userPresets.begin(), m_userPresets.end(), [&](const UserPreset &preset) {
        return preset.kind == kind && preset.name.compare(trimmed, Qt::CaseInsensitive) == 0;
    });
    if (it == m_userPresets.end()) {
        const auto ofKind = std::count_if(m_userPresets.cbegin(), m_userPresets.cend(),
                                          [&](const UserPreset &preset) { return preset.kind == kind; });
        if (ofKind >= MaxUserPresetsPerKind) {
            emit errorOccurred(tr("There can be at most %1 presets of this kind: delete one first")
                                   .arg(MaxUserPresetsPerKind));
            return {};
        }
    }
    const UserPreset before = it == m_userPresets.end() ? UserPreset() : *it;
    UserPreset after = before;
    if (after.id.isEmpty()) {
        after.id = newId();
        after.kind = kind;
    }
    after.name = trimmed;
    after.data = data;
    after.modifiedAt = QDateTime::currentDateTime();
    changeUserPreset(before, after);
    return after.id;
}

bool ProfileManager::renameUserPreset(const QString &id, const QString &name)
{
    const QString trimmed = ProfileName::normalized(name);
    const int index = presetIndex(m_userPresets, id);
    if (trimmed.isEmpty() || index < 0 || !acceptsName(trimmed, ProfileName::Of::UserPreset))
        return false;
    const UserPreset before = m_userPresets.at(index);
    const QStringList taken
        = otherNames(m_userPresets, id, [&](const UserPreset &other) { return other.kind == before.kind; });
    UserPreset after = before;
    after.name = ProfileName::unique(trimmed, taken);
    after.modifiedAt = QDateTime::currentDateTime();
    changeUserPreset(before, after);
    return true;
}

void ProfileManager::changeUserPreset(const UserPreset &before, const UserPreset &after)
{
    changePreset(m_userPresets, before, after, [this] { writeUserPresets(); },
                 [this, kind = after.id.isEmpty() ? before.kind : after.kind] { emit userPresetsChanged(kind); });
}

bool ProfileManager::deleteUserPreset(const QString &id)
{
    const int index = presetIndex(m_userPresets, id);
    if (index < 0)
        return false;
    const UserPreset removed = m_userPresets.at(index);
    changeUserPreset(removed, UserPreset());
    return true;
}

} // namespace corvane
