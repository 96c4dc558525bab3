// The store's files: the writes handed to the writer, what each file holds as far as the store
// knows, and what is taken back when a write fails.
#include "profiles/profilemanager.h"

#include <QJsonDocument>
#include <QPointer>
#include <QSet>

#include <utility>

#include "platform/storage/filewriter.h"

namespace corvane {

namespace {

QByteArray indented(const QJsonObject &obj)
{
    return QJsonDocument(obj).toJson(QJsonDocument::Indented);
}

} // namespace

void ProfileManager::store(const std::function<void()> &writes)
{
    FileWriter::shared().batch(writes, [self = QPointer<ProfileManager>(this)](const QString &failure) {
        // Said while the change that failed reports, so that its failure is told as the
        // change's own (to the request that made it, for one).
        if (!self || failure.isEmpty())
            return;
        const QStringList failures = std::exchange(self->m_unreported, {});
        for (const QString &message : failures)
            emit self->errorOccurred(message);
    });
}

void ProfileManager::writeProfile(const QString &id)
{
    const auto profile = m_profiles.constFind(id);
    if (profile == m_profiles.cend())
        return;
    // Made when the write starts: changes that come while the file is being written go in once.
    // A profile taken out has no write on its way: its removal took the place of one.
    const auto bytes = [this, id](quint64 ticket) {
        const auto profile = m_profiles.constFind(id);
        if (profile == m_profiles.cend())
            return QByteArray();
        ProfileFile &file = m_profilesOnDisk[id];
        const QJsonObject json = profile->toJson();
        file.writing.insert(ticket, profile->name);
        file.writingJson.insert(ticket, json);
        return indented(json);
    };
    const QString failure = tr("Failed to save profile: %1").arg(profile->name);
    m_profilesOnDisk[id].handed(FileWriter::shared().write(profileFilePath(id), bytes, failure, this), failure);
}

void ProfileManager::writeConfig(bool aside)
{
    if (const Profile *active = activeProfile())
        m_lastActiveByType.insert(active->vehicleType, m_activeProfileId);
    const auto bytes = [this](quint64 ticket) {
        m_configOnDisk.writing.insert(ticket, {m_activeProfileId, m_lastActiveByType});
        QJsonObject byType;
        for (auto it = m_lastActiveByType.cbegin(); it != m_lastActiveByType.cend(); ++it)
            byType.insert(it.key(), it.value());
        QJsonObject obj;
        obj.insert(QLatin1String("version"), 1);
        obj.insert(QLatin1String("lastActiveProfileId"), m_activeProfileId);
        obj.insert(QLatin1String("lastActiveByType"), byType);
        return indented(obj);
    };
    const QString path = storeFilePath(ConfigFileName);
    if (aside) {
        m_configOnDisk.handed(FileWriter::shared().writeAside(path, bytes, this), QString());
        return;
    }
    const QString failure = tr("Failed to save which profile is active");
    m_configOnDisk.handed(FileWriter::shared().write(path, bytes, failure, this), failure);
}

void ProfileManager::writeEscPresets()
{
    const auto bytes = [this](quint64 ticket) {
        m_escPresetsOnDisk.writing.insert(ticket, m_escPresets);
        return m_escPresetsFile.text(m_escPresets);
    };
    const QString failure = tr("Failed to save ESC presets");
    m_escPresetsOnDisk.handed(FileWriter::shared().write(storeFilePath(EscPresetsFileName), bytes, failure, this),
                              failure);
}

void ProfileManager::writeUserPresets()
{
    const auto bytes = [this](quint64 ticket) {
        m_userPresetsOnDisk.writing.insert(ticket, m_userPresets);
        return m_userPresetsFile.text(m_userPresets);
    };
    const QString failure = tr("Failed to save presets");
    m_userPresetsOnDisk.handed(FileWriter::shared().write(storeFilePath(UserPresetsFileName), bytes, failure, this),
                               failure);
}

bool ProfileManager::isOnDisk(const QString &id) const
{
    const auto profile = m_profiles.constFind(id);
    const auto file = m_profilesOnDisk.constFind(id);
    return profile != m_profiles.cend() && file != m_profilesOnDisk.cend() && file->writing.isEmpty()
           && file->json == profile->toJson();
}

void ProfileManager::onWritten(const QString &path, quint64 ticket, bool ok)
{
    const QString folder = folderPath() + QLatin1Char('/');
    if (!path.startsWith(folder))
        return;
    const QString fileName = path.mid(folder.size());
    if (fileName == ConfigFileName) {
        settle(m_configOnDisk, ticket, ok, [this] { takeBackConfig(); });
    } else if (fileName == EscPresetsFileName) {
        settle(m_escPresetsOnDisk, ticket, ok, [this] { takeBackEscPresets(); });
    } else if (fileName == UserPresetsFileName) {
        settle(m_userPresetsOnDisk, ticket, ok, [this] { takeBackUserPresets(); });
    } else if (fileName.endsWith(QLatin1String(".json"))) {
        const QString id = fileName.chopped(5);
        const auto file = m_profilesOnDisk.find(id);
        if (file == m_profilesOnDisk.end())
            return;
        if (ok && ticket == file->removal) {
            m_profilesOnDisk.erase(file);
            m_deleted.remove(id);
            return;
        }
        const QJsonObject json = file->writingJson.take(ticket);
        if (ok && !json.isEmpty())
            file->json = json;
        settle(*file, ticket, ok, [this, id] { takeBackProfile(id); });
    }
}

template <typename Content>
void ProfileManager::settle(TrackedFile<Content> &file, quint64 ticket, bool ok, const std::function<void()> &takeBack)
{
    const auto made = file.writing.find(ticket);
    if (made != file.writing.end()) {
        if (ok)
            file.onDisk = std::move(*made);
        file.writing.erase(made);
    }
    // A later job of the file decides; a job past the last one handed over is not this store's
    // (one made again in the same process wrote the file).
    if (ok || ticket != file.lastHanded)
        return;
    if (!file.failure.isEmpty())
        m_unreported.append(file.failure);
    takeBack(); // may end the file's entry
}

void ProfileManager::takeBackProfile(const QString &id)
{
    const std::optional<QString> onDisk = m_profilesOnDisk.value(id).onDisk;
    Profile *profile = mutableProfile(id);
    if (!onDisk) {
        // Never written: the next start would not read it.
        m_deleted.remove(id);
        if (profile)
            dropProfile(id);
        else
            m_profilesOnDisk.remove(id);
        return;
    }
    if (!profile) {
        // Its file stayed: the next start reads it.
        const Deleted deleted = m_deleted.take(id);
        if (deleted.profile.id.isEmpty())
            return;
        Profile restored = deleted.profile;
        restored.name = *onDisk;
        m_profiles.insert(id, restored);
        if (!deleted.otherFiles.isEmpty())
            m_otherFiles.insert(id, deleted.otherFiles); // those already gone are passed over
        emit profileListChanged();
        return;
    }
    if (profile->name != *onDisk) {
        profile->name = *onDisk;
        announceRename(id);
    }
}

void ProfileManager::takeBackConfig()
{
    const StateFile &onDisk = m_configOnDisk.onDisk;
    m_lastActiveByType = onDisk.lastActiveByType;
    if (m_profiles.isEmpty())
        return;
    const QString active = activeAtNextStart();
    if (active == m_activeProfileId)
        return;
    m_activeProfileId = active;
    emit activeProfileChanged(active);
}

QString ProfileManager::activeAtNextStart() const
{
    const QString &stored = m_configOnDisk.onDisk.activeId;
    return m_profiles.contains(stored) ? stored : m_profiles.firstKey();
}

void ProfileManager::takeBackEscPresets()
{
    if (m_escPresets == m_escPresetsOnDisk.onDisk)
        return;
    m_escPresets = m_escPresetsOnDisk.onDisk;
    emit escPresetsChanged();
}

void ProfileManager::takeBackUserPresets()
{
    const QList<UserPreset> &onDisk = m_userPresetsOnDisk.onDisk;
    QSet<QString> kinds;
    const auto differing = [&kinds](const QList<UserPreset> &presets, const QList<UserPreset> &others) {
        for (const UserPreset &preset : presets) {
            if (!others.contains(preset))
                kinds.insert(preset.kind);
        }
    };
    differing(m_userPresets, onDisk);
    differing(onDisk, m_userPresets);
    m_userPresets = onDisk;
    for (const QString &kind : std::as_const(kinds))
        emit userPresetsChanged(kind);
}

void ProfileManager::dropProfile(const QString &id)
{
    if (m_profiles.size() < 2 || !m_profiles.remove(id))
        return;
    m_otherFiles.remove(id);
    m_profilesOnDisk.remove(id);
    // Nothing remembers it for its vehicle type: the state file goes back to what it named.
    for (auto it = m_lastActiveByType.begin(); it != m_lastActiveByType.end();) {
        const QString stored = m_configOnDisk.onDisk.lastActiveByType.value(it.key());
        if (it.value() != id)
            ++it;
        else if (m_profiles.contains(stored))
            *it++ = stored;
        else
            it = m_lastActiveByType.erase(it);
    }
    if (id == m_activeProfileId) {
        // Made active meanwhile (a switch to it whose state file may not have landed either):
        // the one the next start makes active takes its place, not a profile the user never chose.
        m_activeProfileId = activeAtNextStart();
        writeConfig(true);
        emit activeProfileChanged(m_activeProfileId);
    }
    emit profileListChanged();
}

} // namespace corvane
