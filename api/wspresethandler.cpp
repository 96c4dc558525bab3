#include "api/wspresethandler.h"

#include <QJsonArray>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "profiles/profilemanager.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kKind = QStringLiteral("kind");
const QString kId = QStringLiteral("id");
const QString kName = QStringLiteral("name");
const QString kMessage = QStringLiteral("message");

} // namespace

WsPresetHandler::WsPresetHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(controller->profileManager(), &ProfileManager::userPresetsChanged, this,
            &WsPresetHandler::pushPresetsChanged);
}

QStringList WsPresetHandler::supportedEvents() const
{
    return {QStringLiteral("get_presets"), QStringLiteral("action_save_preset"),
            QStringLiteral("action_load_preset"), QStringLiteral("action_rename_preset"),
            QStringLiteral("action_delete_preset")};
}

QJsonObject WsPresetHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    ProfileManager *store = m_controller->profileManager();
    if (event == QLatin1String("get_presets"))
        return dataReply(event, presetsJson(readString(data, kKind)));
    if (event == QLatin1String("action_save_preset"))
        return handleSavePreset(event, data);
    if (event == QLatin1String("action_load_preset"))
        return handleLoadPreset(event, data);
    // The store's message when it refused the name or could not save; none for an unknown id.
    if (event == QLatin1String("action_rename_preset")) {
        const QString name = readString(data, kName);
        if (const QString refusal = invisibleNameRefusal(name); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        const StoreErrors errors(store);
        const bool renamed = store->renameUserPreset(readString(data, kId), name);
        return actionReply(event, renamed, errors.message());
    }
    if (event == QLatin1String("action_delete_preset")) {
        const StoreErrors errors(store);
        const bool deleted = store->deleteUserPreset(readString(data, kId));
        return actionReply(event, deleted, errors.message());
    }
    return errorReply(event, QStringLiteral("Unhandled event in preset handler"));
}

QJsonObject WsPresetHandler::unstoredReply(QJsonObject reply, const QString &failure) const
{
    if (reply.contains(kId))
        reply.insert(kId, QString());
    return WsHandler::unstoredReply(reply, failure);
}

QJsonObject WsPresetHandler::presetsJson(const QString &kind) const
{
    QJsonArray presets;
    const QList<UserPreset> stored = m_controller->profileManager()->userPresets(kind);
    for (const UserPreset &preset : stored) {
        presets.append(QJsonObject{{kId, preset.id},
                                   {kName, preset.name},
                                   {QStringLiteral("modifiedAt"), preset.modifiedAt.toString(Qt::ISODate)}});
    }
    return {{kKind, echoed(kind)}, {QStringLiteral("presets"), presets}};
}

QJsonObject WsPresetHandler::handleSavePreset(const QString &event, const QJsonObject &data)
{
    const QString kind = readString(data, kKind);
    const QString name = readString(data, kName).trimmed();
    if ((kind != QLatin1String("ffb") && kind != QLatin1String("controls")) || name.isEmpty())
        return actionReply(event, false, QStringLiteral("Give the preset a name"));
    if (const QString refusal = invisibleNameRefusal(name); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    ProfileManager *store = m_controller->profileManager();
    const StoreErrors errors(store);
    const QString id = store->saveUserPreset(kind, name, m_controller->saveControlsPreset(kind));
    QJsonObject reply = actionReply(event, !id.isEmpty(), errors.message());
    reply.insert(kId, id);
    return reply;
}

QJsonObject WsPresetHandler::handleLoadPreset(const QString &event, const QJsonObject &data)
{
    const UserPreset *found = m_controller->profileManager()->findUserPreset(readString(data, kId));
    if (!found)
        return actionReply(event, false, QStringLiteral("Preset not found"));
    // Loading may save the profile, which can change the store's lists: work on a copy.
    const UserPreset preset = *found;
    QString message;
    const StoreErrors errors(m_controller->profileManager());
    const bool loaded = m_controller->loadControlsPreset(preset.kind, preset.data, &message);
    // Applied but not saved: the profile on disk still holds the settings from before.
    QJsonObject reply = errors.any() ? errors.reply(event) : actionReply(event, loaded, message);
    reply.insert(kKind, preset.kind);
    return reply;
}

void WsPresetHandler::pushPresetsChanged(const QString &kind)
{
    emit pushEvent(QStringLiteral("event_presets_changed"), presetsJson(kind));
}

} // namespace corvane
