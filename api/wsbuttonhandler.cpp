#include "api/wsbuttonhandler.h"

#include <QJsonArray>

#include <utility>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "profiles/buttonmapping.h"
#include "profiles/channelvalue.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kMappings = QStringLiteral("mappings");
const QString kButtonIndex = QStringLiteral("buttonIndex");
constexpr int ApiStartValue = 1024;
constexpr int FirstFreeChannel = 2;
constexpr int LastFreeChannel = 11;
constexpr int LastMode = 4;
// Beyond its buttons, every hat's four directions and every axis's two halves act as a device's
// buttons; a car reads the wheel base's, a helicopter its three devices' one after the other.
constexpr int InputsPerDevice = InputDevice::ButtonCount + 4 * InputDevice::PovCount + 2 * InputDevice::AxisCount;
constexpr int LastVirtualButton = 3 * InputsPerDevice - 1;
// The button dialog's fastest rate: five full sweeps a second.
constexpr int MaxRateUnitsPerSec = 10235;

QString tooMany()
{
    return QStringLiteral("Too many button mappings (at most %1).").arg(ButtonMappingSet::MaxMappings);
}

// The app cannot see extra buttons: a mapping it sends for a button keeps the ones stored.
void keepExtraButtons(ButtonMapping &mapping, const QList<ButtonMapping> &stored)
{
    for (const ButtonMapping &old : stored) {
        if (old.buttonIndex == mapping.buttonIndex) {
            mapping.extraButtons = old.extraButtons;
            return;
        }
    }
}

} // namespace

WsButtonHandler::WsButtonHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
}

QStringList WsButtonHandler::supportedEvents() const
{
    return {QStringLiteral("get_button_mappings"), QStringLiteral("set_button_mappings"),
            QStringLiteral("action_add_button_mapping"), QStringLiteral("action_remove_button_mapping"),
            QStringLiteral("action_clear_button_mappings")};
}

QJsonObject WsButtonHandler::buttonMappingToJson(const ButtonMapping &mapping)
{
    QJsonObject json = mapping.toJson();
    json.remove(QStringLiteral("extraButtons"));
    return json;
}

ButtonMapping WsButtonHandler::buttonMappingFromJson(const FieldReader &in)
{
    ButtonMapping mapping;
    mapping.startValue = ApiStartValue;
    in.readText("name", mapping.name, MaxNameChars);
    in.readInt("buttonIndex", mapping.buttonIndex, -1, LastVirtualButton);
    in.readWholeNumber("channel", mapping.channel);
    in.readInt("mode", mapping.mode, 0, LastMode);
    in.readInt("rateUnitsPerSec", mapping.rateUnitsPerSec, 1, MaxRateUnitsPerSec);
    // Channel values are held within the channel rather than refused, as the profile reader holds them.
    for (auto [key, field] : {std::pair{"outputValue", &mapping.outputValue}, std::pair{"minValue", &mapping.minValue},
                              std::pair{"maxValue", &mapping.maxValue}, std::pair{"startValue", &mapping.startValue}})
        in.clampInt(key, *field, 0, ChannelValueMax);
    in.readBool("activatesPitLimiter", mapping.activatesPitLimiter);
    return mapping;
}

ButtonMapping WsButtonHandler::listedMappingFromJson(const FieldReader &in)
{
    ButtonMapping mapping = buttonMappingFromJson(in);
    if ((mapping.channel < FirstFreeChannel || mapping.channel > LastFreeChannel) && !in.isStored("channel"))
        in.refuse("channel", QStringLiteral("a whole number from %1 to %2").arg(FirstFreeChannel).arg(LastFreeChannel));
    return mapping;
}

QJsonObject WsButtonHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("get_button_mappings")) {
        QJsonArray mappings;
        const ButtonMappingSet set = m_controller->buttonMappings();
        for (const ButtonMapping &mapping : set.mappings)
            mappings.append(buttonMappingToJson(mapping));
        return dataReply(event, {{kMappings, mappings}});
    }
    if (event == QLatin1String("set_button_mappings"))
        return handleSetButtonMappings(event, data);
    if (event == QLatin1String("action_add_button_mapping"))
        return handleAddButtonMapping(event, data);
    if (event == QLatin1String("action_remove_button_mapping"))
        return handleRemoveButtonMapping(event, data);
    if (event == QLatin1String("action_clear_button_mappings"))
        return store(event, ButtonMappingSet());
    return errorReply(event, QStringLiteral("Unhandled event in button handler"));
}

QJsonObject WsButtonHandler::handleSetButtonMappings(const QString &event, const QJsonObject &data)
{
    if (!data.contains(kMappings))
        return actionReply(event, false, QStringLiteral("Missing 'mappings' array"));
    const QList<ButtonMapping> stored = m_controller->buttonMappings().mappings;
    QJsonArray shown;
    for (const ButtonMapping &mapping : stored)
        shown.append(buttonMappingToJson(mapping));
    // Each mapping is compared with the one the list showed at its place.
    const FieldReader array = FieldReader(data).comparedWith(QJsonObject{{kMappings, shown}}).array(kMappings);
    if (array.size() > ButtonMappingSet::MaxMappings)
        return actionReply(event, false, tooMany());
    ButtonMappingSet set;
    for (qsizetype i = 0; i < array.size(); ++i) {
        ButtonMapping mapping = listedMappingFromJson(array.object(i));
        keepExtraButtons(mapping, stored);
        upsertButtonMapping(set.mappings, mapping);
    }
    if (!array.ok())
        return actionReply(event, false, array.refusal());
    return store(event, set);
}

QJsonObject WsButtonHandler::handleAddButtonMapping(const QString &event, const QJsonObject &data)
{
    if (!data.contains(kButtonIndex))
        return actionReply(event, false, QStringLiteral("Missing 'buttonIndex' parameter"));
    const FieldReader in(data);
    ButtonMapping mapping = buttonMappingFromJson(in);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    if (mapping.channel < FirstFreeChannel || mapping.channel > LastFreeChannel)
        return actionReply(event, false, QStringLiteral("Channel must be 2-11 (0-1 reserved for steering/throttle)"));
    ButtonMappingSet set = m_controller->buttonMappings();
    keepExtraButtons(mapping, set.mappings);
    upsertButtonMapping(set.mappings, mapping);
    if (set.mappings.size() > ButtonMappingSet::MaxMappings)
        return actionReply(event, false, tooMany());
    return store(event, set);
}

QJsonObject WsButtonHandler::handleRemoveButtonMapping(const QString &event, const QJsonObject &data)
{
    const int index = readInt(data, QStringLiteral("index"), -1);
    if (index < 0)
        return actionReply(event, false, QStringLiteral("Missing or invalid 'index' parameter"));
    ButtonMappingSet set = m_controller->buttonMappings();
    if (index >= set.mappings.size()) {
        return actionReply(event, false,
                           QStringLiteral("Index %1 out of range (count: %2)").arg(index).arg(set.mappings.size()));
    }
    set.mappings.removeAt(index);
    return store(event, set);
}

QJsonObject WsButtonHandler::store(const QString &event, const ButtonMappingSet &set)
{
    const StoreErrors errors(m_controller->profileManager());
    m_controller->setButtonMappings(set);
    return errors.reply(event);
}

} // namespace corvane
