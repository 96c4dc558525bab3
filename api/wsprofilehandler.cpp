#include "api/wsprofilehandler.h"

#include <QJsonArray>

#include "api/profileimportcheck.h"
#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "profiles/profilemanager.h"
#include "profiles/profilename.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kId = QStringLiteral("id");
const QString kName = QStringLiteral("name");
const QString kData = QStringLiteral("data");

QString missingId()
{
    return QStringLiteral("Missing 'id' parameter");
}

QString notFound(const QString &id)
{
    return QStringLiteral("Profile not found: ") + echoed(id);
}

QJsonObject withNewId(QJsonObject reply, const QString &id)
{
    reply.insert(kData, QJsonObject{{kId, id}});
    return reply;
}

QJsonObject idReply(const QString &event, const QString &id, const QString &failure)
{
    return id.isEmpty() ? actionReply(event, false, failure) : withNewId(actionReply(event, true), id);
}

} // namespace

WsProfileHandler::WsProfileHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    ProfileManager *store = controller->profileManager();
    connect(store, &ProfileManager::activeProfileChanged, this, &WsProfileHandler::pushProfileChanged);
    connect(store, &ProfileManager::profileListChanged, this, &WsProfileHandler::pushProfileListChanged);
}

QStringList WsProfileHandler::supportedEvents() const
{
    return {QStringLiteral("get_profiles"),           QStringLiteral("get_active_profile"),
            QStringLiteral("set_active_profile"),     QStringLiteral("action_create_profile"),
            QStringLiteral("action_rename_profile"),  QStringLiteral("action_duplicate_profile"),
            QStringLiteral("action_delete_profile"),  QStringLiteral("action_import_profile"),
            QStringLiteral("action_export_profile")};
}

QJsonObject WsProfileHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("get_profiles"))
        return handleGetProfiles(event);
    if (event == QLatin1String("get_active_profile"))
        return handleGetActiveProfile(event);
    if (event == QLatin1String("set_active_profile"))
        return handleSetActiveProfile(event, data);
    if (event == QLatin1String("action_create_profile"))
        return handleCreateProfile(event, data);
    if (event == QLatin1String("action_rename_profile"))
        return handleRenameProfile(event, data);
    if (event == QLatin1String("action_duplicate_profile"))
        return handleDuplicateProfile(event, data);
    if (event == QLatin1String("action_delete_profile"))
        return handleDeleteProfile(event, data);
    if (event == QLatin1String("action_import_profile"))
        return handleImportProfile(event, data);
    if (event == QLatin1String("action_export_profile"))
        return handleExportProfile(event, data);
    return errorReply(event, QStringLiteral("Unhandled event in profile handler"));
}

QJsonObject WsProfileHandler::unstoredReply(QJsonObject reply, const QString &failure) const
{
    reply.remove(kData);
    return WsHandler::unstoredReply(reply, failure);
}

QJsonObject WsProfileHandler::handleGetProfiles(const QString &event) const
{
    ProfileManager *store = m_controller->profileManager();
    const QString activeId = store->activeProfileId();
    QJsonArray profiles;
    const QList<Profile> all = store->profiles();
    for (const Profile &profile : all) {
        profiles.append(QJsonObject{{kId, profile.id},
                                    {kName, profile.name},
                                    {QStringLiteral("isActive"), profile.id == activeId},
                                    {QStringLiteral("vehicleType"), profile.vehicleType}});
    }
    return dataReply(event, {{QStringLiteral("profiles"), profiles}});
}

QJsonObject WsProfileHandler::handleGetActiveProfile(const QString &event) const
{
    const Profile *profile = m_controller->profileManager()->mutableActiveProfile();
    if (!profile)
        return dataReply(event, QJsonObject());
    return dataReply(event, {{kId, profile->id},
                             {kName, profile->name},
                             {QStringLiteral("createdAt"), profile->createdAt.toString(Qt::ISODate)},
                             {QStringLiteral("modifiedAt"), profile->modifiedAt.toString(Qt::ISODate)}});
}

QJsonObject WsProfileHandler::handleSetActiveProfile(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, kId);
    if (id.isEmpty())
        return actionReply(event, false, missingId());
    ProfileManager *store = m_controller->profileManager();
    if (!store->mutableProfile(id))
        return actionReply(event, false, notFound(id));
    const StoreErrors errors(store);
    const bool switched = store->setActiveProfile(id);
    return actionReply(event, switched, switched ? QString() : errors.message());
}

QJsonObject WsProfileHandler::handleCreateProfile(const QString &event, const QJsonObject &data)
{
    const QString sent = readString(data, kName);
    if (sent.isEmpty())
        return actionReply(event, false, QStringLiteral("Missing 'name' parameter"));
    if (const QString refusal = invisibleNameRefusal(sent); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    const QString name = ProfileName::normalized(sent);
    ProfileManager *store = m_controller->profileManager();
    const StoreErrors errors(store);
    const QString id = store->createProfile(name);
    return idReply(event, id, errors.message(QStringLiteral("Failed to create profile")));
}

QJsonObject WsProfileHandler::handleRenameProfile(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, kId);
    const QString sent = readString(data, kName);
    if (id.isEmpty() || sent.isEmpty())
        return actionReply(event, false, QStringLiteral("Missing 'id' or 'name' parameter"));
    if (const QString refusal = invisibleNameRefusal(sent); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    const QString name = ProfileName::normalized(sent);
    const QString failed = QStringLiteral("Failed to rename profile");
    ProfileManager *store = m_controller->profileManager();
    if (!store->mutableProfile(id))
        return actionReply(event, false, failed);
    const StoreErrors errors(store);
    const bool renamed = store->renameProfile(id, name);
    return actionReply(event, renamed, renamed ? QString() : errors.message(failed));
}

QJsonObject WsProfileHandler::handleDuplicateProfile(const QString &event, const QJsonObject &data)
{
    const QString sourceId = readString(data, QStringLiteral("sourceId"));
    const QString sent = readString(data, kName);
    if (sourceId.isEmpty() || sent.isEmpty())
        return actionReply(event, false, QStringLiteral("Missing 'sourceId' or 'name' parameter"));
    if (const QString refusal = invisibleNameRefusal(sent); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    const QString name = ProfileName::normalized(sent);
    const QString failed = QStringLiteral("Failed to duplicate profile");
    ProfileManager *store = m_controller->profileManager();
    if (!store->mutableProfile(sourceId))
        return actionReply(event, false, failed);
    const StoreErrors errors(store);
    const QString id = store->duplicateProfile(sourceId, name);
    return idReply(event, id, errors.message(failed));
}

QJsonObject WsProfileHandler::handleDeleteProfile(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, kId);
    if (id.isEmpty())
        return actionReply(event, false, missingId());
    const QString refused = QStringLiteral("Failed to delete profile (cannot delete the last profile)");
    ProfileManager *store = m_controller->profileManager();
    if (!store->mutableProfile(id) || store->profiles().size() < 2)
        return actionReply(event, false, refused);
    const StoreErrors errors(store);
    const bool deleted = store->deleteProfile(id);
    return actionReply(event, deleted, deleted ? QString() : errors.message(refused));
}

QJsonObject WsProfileHandler::handleImportProfile(const QString &event, const QJsonObject &data)
{
    const QString key = QStringLiteral("profileJson");
    if (!data.contains(key))
        return actionReply(event, false, QStringLiteral("Missing 'profileJson' object"));
    const QJsonObject profileJson = data.value(key).toObject();
    // A profile without id or name is answered in these words after the store's own, more
    // precise ones went to the desktop; what the store refuses beyond that, or cannot save, it
    // says itself.
    const QString failed = QStringLiteral("Failed to import profile");
    const Profile read = Profile::fromJson(profileJson);
    const bool complete = !read.id.isEmpty() && !read.name.isEmpty();
    if (const QString refusal = complete ? importRefusal(read) : QString(); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    // Taken from the request as it is: no file of it goes by the disk on this thread.
    QString newId;
    ProfileManager *store = m_controller->profileManager();
    const StoreErrors errors(store);
    if (store->importProfile(profileJson, &newId))
        return withNewId(actionReply(event, true), newId);
    return actionReply(event, false, complete ? errors.message(failed) : failed);
}

QJsonObject WsProfileHandler::handleExportProfile(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, kId);
    if (id.isEmpty())
        return actionReply(event, false, missingId());
    const Profile *profile = m_controller->profileManager()->mutableProfile(id);
    if (!profile)
        return actionReply(event, false, notFound(id));
    QJsonObject reply = actionReply(event, true);
    reply.insert(kData, QJsonObject{{QStringLiteral("profileJson"), profile->toJson()}});
    return reply;
}

void WsProfileHandler::pushProfileChanged(const QString &id)
{
    emit pushEvent(QStringLiteral("event_profile_changed"),
                   {{kId, id}, {kName, m_controller->profileManager()->activeProfileName()}});
}

void WsProfileHandler::pushProfileListChanged()
{
    emit pushEvent(QStringLiteral("event_profile_list_changed"), QJsonObject());
}

} // namespace corvane
