#include "api/wsescpresethandler.h"

#include <QJsonArray>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "profiles/profilemanager.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kId = QStringLiteral("id");
const QString kName = QStringLiteral("name");
const QString kNeutral = QStringLiteral("neutral");
const QString kFullForward = QStringLiteral("fullForward");
const QString kFullReverse = QStringLiteral("fullReverse");

QString notFound(const QString &id)
{
    return QStringLiteral("ESC preset not found: ") + echoed(id);
}

QString missingId()
{
    return QStringLiteral("Missing 'id' parameter");
}

// Reads the three values over `values`, where an absent one keeps what it holds; they become the
// ESC end points when the preset is chosen, so each must be a channel value. The refusal, or empty.
QString readValues(const QJsonObject &data, EscPreset &values)
{
    const FieldReader in(data);
    in.readChannel(kNeutral, values.neutral);
    in.readChannel(kFullForward, values.fullForward);
    in.readChannel(kFullReverse, values.fullReverse);
    return in.refusal();
}

} // namespace

WsEscPresetHandler::WsEscPresetHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(controller->profileManager(), &ProfileManager::escPresetsChanged, this,
            &WsEscPresetHandler::pushEscPresetsChanged);
}

QStringList WsEscPresetHandler::supportedEvents() const
{
    return {QStringLiteral("get_esc_presets"), QStringLiteral("action_create_esc_preset"),
            QStringLiteral("action_update_esc_preset"), QStringLiteral("action_rename_esc_preset"),
            QStringLiteral("action_delete_esc_preset")};
}

QJsonObject WsEscPresetHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("get_esc_presets"))
        return handleGetEscPresets(event);
    if (event == QLatin1String("action_create_esc_preset"))
        return handleCreateEscPreset(event, data);
    if (event == QLatin1String("action_update_esc_preset"))
        return handleUpdateEscPreset(event, data);
    if (event == QLatin1String("action_rename_esc_preset"))
        return handleRenameEscPreset(event, data);
    if (event == QLatin1String("action_delete_esc_preset"))
        return handleDeleteEscPreset(event, data);
    return errorReply(event, QStringLiteral("Unhandled event in ESC preset handler"));
}

QJsonObject WsEscPresetHandler::unstoredReply(QJsonObject reply, const QString &failure) const
{
    reply.remove(QStringLiteral("data"));
    return WsHandler::unstoredReply(reply, failure);
}

QJsonObject WsEscPresetHandler::handleGetEscPresets(const QString &event) const
{
    QJsonArray presets;
    const QList<EscPreset> stored = m_controller->profileManager()->escPresets();
    for (const EscPreset &preset : stored) {
        presets.append(QJsonObject{{kId, preset.id},
                                   {kName, preset.name},
                                   {kNeutral, preset.neutral},
                                   {kFullForward, preset.fullForward},
                                   {kFullReverse, preset.fullReverse}});
    }
    return dataReply(event, {{QStringLiteral("presets"), presets}});
}

QJsonObject WsEscPresetHandler::handleCreateEscPreset(const QString &event, const QJsonObject &data)
{
    const QString name = readString(data, kName);
    if (name.isEmpty())
        return actionReply(event, false, QStringLiteral("Missing 'name' parameter"));
    if (const QString refusal = invisibleNameRefusal(name); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    EscPreset values;
    if (const QString refusal = readValues(data, values); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    ProfileManager *store = m_controller->profileManager();
    const StoreErrors errors(store);
    const QString id = store->createEscPreset(name, values.neutral, values.fullForward, values.fullReverse);
    if (id.isEmpty())
        return actionReply(event, false, errors.message(QStringLiteral("Failed to create ESC preset")));
    QJsonObject reply = actionReply(event, true);
    reply.insert(QStringLiteral("data"), QJsonObject{{kId, id}});
    return reply;
}

QJsonObject WsEscPresetHandler::handleUpdateEscPreset(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, kId);
    if (id.isEmpty())
        return actionReply(event, false, missingId());
    ProfileManager *store = m_controller->profileManager();
    const EscPreset *stored = store->findEscPreset(id);
    if (!stored)
        return actionReply(event, false, notFound(id));
    // A value the request leaves out keeps the stored one.
    EscPreset values = *stored;
    if (const QString refusal = readValues(data, values); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    const StoreErrors errors(store);
    const bool updated = store->updateEscPreset(id, values.neutral, values.fullForward, values.fullReverse);
    return actionReply(event, updated, updated ? QString() : errors.message(notFound(id)));
}

QJsonObject WsEscPresetHandler::handleRenameEscPreset(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, kId);
    const QString name = readString(data, kName);
    if (id.isEmpty() || name.isEmpty())
        return actionReply(event, false, QStringLiteral("Missing 'id' or 'name' parameter"));
    if (const QString refusal = invisibleNameRefusal(name); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    ProfileManager *store = m_controller->profileManager();
    const StoreErrors errors(store);
    const bool renamed = store->renameEscPreset(id, name);
    return actionReply(event, renamed, renamed ? QString() : errors.message(notFound(id)));
}

QJsonObject WsEscPresetHandler::handleDeleteEscPreset(const QString &event, const QJsonObject &data)
{
    const QString id = readString(data, kId);
    if (id.isEmpty())
        return actionReply(event, false, missingId());
    ProfileManager *store = m_controller->profileManager();
    const StoreErrors errors(store);
    const bool deleted = store->deleteEscPreset(id);
    return actionReply(event, deleted, deleted ? QString() : errors.message(notFound(id)));
}

void WsEscPresetHandler::pushEscPresetsChanged()
{
    emit pushEvent(QStringLiteral("event_esc_presets_changed"), QJsonObject());
}

} // namespace corvane
