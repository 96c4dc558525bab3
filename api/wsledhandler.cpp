#include "api/wsledhandler.h"

#include <QJsonArray>

#include <algorithm>
#include <utility>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "profiles/receiversettings.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kSuccess = QStringLiteral("success");
const QString kColor = QStringLiteral("color");
const QString kIndex = QStringLiteral("index");
const QString kStart = QStringLiteral("startPercent");
const QString kEnd = QStringLiteral("endPercent");
const QString kInvalidZone = QStringLiteral("Invalid zone index");
constexpr int kMaxBrightness = 99;

QJsonObject missing(const QString &event, const char *key)
{
    return actionReply(event, false, QStringLiteral("Missing '%1' parameter").arg(QLatin1String(key)));
}

QJsonObject tooManyZones(const QString &event)
{
    return actionReply(event, false,
                       QStringLiteral("Too many LED zones: the receiver takes at most %1.").arg(LedSettings::MaxZones));
}

// Colours reach the receiver a byte per component: a larger number is refused, not wrapped.
void readComponents(const FieldReader &in, RgbColor &color)
{
    for (auto [key, component] : {std::pair{"r", &color.r}, std::pair{"g", &color.g}, std::pair{"b", &color.b}}) {
        int value = *component;
        in.readInt(key, value, 0, 255);
        *component = std::uint8_t(value);
    }
}

// A colour object, its missing components at the record's defaults; `absent` without one.
RgbColor readColor(const FieldReader &in, const QString &key, const RgbColor &absent)
{
    if (!in.contains(key))
        return absent;
    RgbColor color;
    readComponents(in.object(key), color);
    return color;
}

void readPowerButton(const FieldReader &in, const char *key, int &field)
{
    in.readInt(key, field, -1, LedSettings::PowerButtonCount - 1);
}

QString modeName(const LedSettings &settings)
{
    return settings.toJson().value(QStringLiteral("mode")).toString();
}

// The mode by its name; the names are in the order of the modes.
void readMode(const FieldReader &in, LedMode &mode)
{
    const qsizetype choice = in.readChoice("mode", {"global", "per_led", "range"});
    if (choice >= 0)
        mode = LedMode(choice);
}

// The values of the record a change's reply tells; none where the reply tells what the request
// made or read (a new zone's index, the colour read).
QJsonObject toldValues(const QString &event, const LedSettings &s)
{
    if (event == QLatin1String("set_led_power"))
        return {{"powerOn", s.powerOn}};
    if (event == QLatin1String("set_led_brightness"))
        return {{"brightness", s.brightness}};
    if (event == QLatin1String("set_led_mode"))
        return {{"mode", modeName(s)}};
    if (event == QLatin1String("set_selected_led"))
        return {{"selectedLedIndex", s.selectedLedIndex}, {kColor, s.displayColor(s.selectedLedIndex).toJson()}};
    if (event == QLatin1String("set_led_count"))
        return {{"ledCount", s.ledCount}};
    if (event == QLatin1String("set_active_percentage"))
        return {{"activePercentage", s.activePercentage}};
    if (event == QLatin1String("set_power_button"))
        return {{"powerButtonIndex", s.powerButtonIndex}};
    if (event == QLatin1String("remove_zone"))
        return {{"selectedZoneIndex", s.selectedZoneIndex}};
    if (event == QLatin1String("set_selected_zone")) {
        QJsonObject told{{"selectedZoneIndex", s.selectedZoneIndex}};
        // Zones removed since leave the selected one's bounds as the request read them.
        if (s.selectedZoneIndex >= 0 && s.selectedZoneIndex < s.rangeZones.size()) {
            const LedRangeZone &zone = s.rangeZones.at(s.selectedZoneIndex);
            told.insert(kStart, zone.startPercent);
            told.insert(kEnd, zone.endPercent);
            told.insert(kColor, zone.color.toJson());
        }
        return told;
    }
    return {};
}

} // namespace

WsLedHandler::WsLedHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    const QString progress = QStringLiteral("event_led_push_progress");
    connect(controller, &CorvaneController::ledConfigPushStarted, this,
            [this, progress] { emit pushEvent(progress, {{"state", "started"}}); });
    connect(controller, &CorvaneController::ledConfigPushFinished, this,
            [this, progress](bool success, const QString &message) {
                emit pushEvent(progress, {{"state", success ? "success" : "failed"}, {kSuccess, success}, {"message", message}});
            });
}

QStringList WsLedHandler::supportedEvents() const
{
    return {QStringLiteral("get_led_settings"),  QStringLiteral("set_led_settings"),  QStringLiteral("set_led_power"),
            QStringLiteral("set_led_color"),     QStringLiteral("set_led_brightness"), QStringLiteral("set_led_mode"),
            QStringLiteral("set_selected_led"),  QStringLiteral("set_led_count"),      QStringLiteral("set_active_percentage"),
            QStringLiteral("set_power_button"),  QStringLiteral("trigger_led_config"), QStringLiteral("get_led_status"),
            QStringLiteral("add_zone"),          QStringLiteral("remove_zone"),        QStringLiteral("set_zone"),
            QStringLiteral("set_selected_zone")};
}

QJsonObject WsLedHandler::store(const QString &event, const LedSettings &settings, const QJsonObject &extra)
{
    const StoreErrors errors(m_controller->profileManager());
    m_controller->setLedSettings(settings);
    if (errors.any())
        return errors.reply(event);
    QJsonObject reply = actionReply(event, true);
    for (auto it = extra.begin(); it != extra.end(); ++it)
        reply.insert(it.key(), it.value());
    return reply;
}

QJsonObject WsLedHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    LedSettings s = m_controller->ledSettings();
    if (event == QLatin1String("get_led_settings"))
        return dataReply(event, s.toJson());
    if (event == QLatin1String("get_led_status")) {
        return dataReply(event, {{"powerOn", s.powerOn},
                                 {"brightness", s.brightness},
                                 {"configPending", s.configPending},
                                 {"configLedIndex", s.configLedIndex},
                                 {"configState", ledConfigStateName(s.configState)}});
    }
    if (event == QLatin1String("set_led_settings"))
        return handleSetSettings(event, data);
    if (event == QLatin1String("set_led_color"))
        return handleSetColor(event, data);
    if (event == QLatin1String("trigger_led_config"))
        return handleTrigger(event);
    const FieldReader in(data);
    // Nothing is stored when a value was refused.
    const auto storeRead = [&](const QJsonObject &extra) {
        return in.ok() ? store(event, s, extra) : actionReply(event, false, in.refusal());
    };
    if (event == QLatin1String("set_led_power")) {
        if (!data.contains(QLatin1String("on")))
            return missing(event, "on");
        in.readBool("on", s.powerOn);
        return storeRead(toldValues(event, s));
    }
    if (event == QLatin1String("set_led_brightness")) {
        if (!data.contains(QLatin1String("brightness")))
            return missing(event, "brightness");
        in.clampInt("brightness", s.brightness, 0, kMaxBrightness);
        s.configPending = true;
        return storeRead(toldValues(event, s));
    }
    if (event == QLatin1String("set_led_mode")) {
        if (!data.contains(QLatin1String("mode")))
            return missing(event, "mode");
        readMode(in, s.mode);
        return storeRead(toldValues(event, s));
    }
    if (event == QLatin1String("set_selected_led")) {
        if (!data.contains(kIndex))
            return missing(event, "index");
        in.clampInt(kIndex, s.selectedLedIndex, 0, std::max(s.ledCount - 1, 0));
        return storeRead(toldValues(event, s));
    }
    if (event == QLatin1String("set_led_count")) {
        if (!data.contains(QLatin1String("count")))
            return missing(event, "count");
        in.clampInt("count", s.ledCount, 1, LedSettings::MaxLedCount);
        if (s.selectedLedIndex >= s.ledCount)
            s.selectedLedIndex = s.ledCount - 1;
        s.configPending = true;
        return storeRead(toldValues(event, s));
    }
    if (event == QLatin1String("set_active_percentage")) {
        if (!data.contains(QLatin1String("percentage")))
            return missing(event, "percentage");
        in.clampInt("percentage", s.activePercentage, 0, 100);
        s.configPending = true;
        return storeRead(toldValues(event, s));
    }
    if (event == QLatin1String("set_power_button")) {
        if (!data.contains(QLatin1String("buttonIndex")))
            return missing(event, "buttonIndex");
        readPowerButton(in, "buttonIndex", s.powerButtonIndex);
        return storeRead(toldValues(event, s));
    }
    if (event == QLatin1String("add_zone") || event == QLatin1String("remove_zone") || event == QLatin1String("set_zone")
        || event == QLatin1String("set_selected_zone")) {
        return handleZone(event, data);
    }
    return errorReply(event, QStringLiteral("Unhandled event in LED handler"));
}

QJsonObject WsLedHandler::stateOf(const QString &event, const QJsonObject &data)
{
    const QJsonObject told = toldValues(event, m_controller->ledSettings());
    return told.isEmpty() ? WsHandler::stateOf(event, data) : told;
}

QJsonObject WsLedHandler::stateReply(const QString &event, const QJsonObject &data, QJsonObject reply)
{
    // A refusal tells no state, and a get_ reply has it in "data".
    if (!reply.value(kSuccess).toBool())
        return WsHandler::stateReply(event, data, reply);
    const QJsonObject state = stateOf(event, data);
    for (auto it = state.begin(); it != state.end(); ++it)
        reply.insert(it.key(), it.value());
    return reply;
}

void WsLedHandler::mergeSettings(const FieldReader &in, LedSettings &s)
{
    const int zoneCountBefore = int(s.rangeZones.size());
    in.clampInt("ledCount", s.ledCount, 1, LedSettings::MaxLedCount);
    in.clampInt("brightness", s.brightness, 0, kMaxBrightness);
    in.clampInt("activePercentage", s.activePercentage, 0, 100);
    in.readBool("powerOn", s.powerOn);
    readPowerButton(in, "powerButtonIndex", s.powerButtonIndex);
    readMode(in, s.mode);
    in.clampInt("selectedLedIndex", s.selectedLedIndex, 0, std::max(s.ledCount - 1, 0));
    s.globalColor = readColor(in, QStringLiteral("globalColor"), s.globalColor);
    in.clampInt("selectedZoneIndex", s.selectedZoneIndex, 0, std::max(zoneCountBefore - 1, 0));
    if (in.contains("rangeZones")) {
        const FieldReader zones = in.array("rangeZones");
        s.rangeZones.clear();
        for (qsizetype i = 0; i < zones.size(); ++i) {
            const FieldReader zone = zones.object(i);
            LedRangeZone read;
            zone.readInt(kStart, read.startPercent, 0, 100);
            zone.readInt(kEnd, read.endPercent, 0, 100);
            read.color = readColor(zone, kColor, RgbColor());
            s.rangeZones.append(read);
        }
    }
}

QJsonObject WsLedHandler::handleSetSettings(const QString &event, const QJsonObject &data)
{
    LedSettings s = m_controller->ledSettings();
    // Zones are compared with the stored ones at their places.
    const FieldReader in = FieldReader(data).comparedWith(s.toJson());
    if (in.array("rangeZones").size() > LedSettings::MaxZones)
        return tooManyZones(event);
    for (const char *key : {"ledCount", "brightness", "activePercentage", "globalColor", "rangeZones"}) {
        if (in.contains(key))
            s.configPending = true;
    }
    mergeSettings(in, s);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    return store(event, s);
}

QJsonObject WsLedHandler::handleSetColor(const QString &event, const QJsonObject &data)
{
    LedSettings s = m_controller->ledSettings();
    const FieldReader in(data);
    RgbColor color = s.globalColor;
    if (in.contains(kColor))
        color = readColor(in, kColor, color);
    else
        readComponents(in, color);
    int index = s.selectedLedIndex;
    in.readWholeNumber(kIndex, index);
    int zone = s.selectedZoneIndex;
    in.readWholeNumber(QStringLiteral("zoneIndex"), zone);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    switch (s.mode) {
    case LedMode::PerLed:
        if (!s.setLedColor(index, color)) {
            return actionReply(event, false, QStringLiteral("LED index out of range: the receiver drives LEDs 0 to %1.")
                                                 .arg(LedSettings::MaxLedCount - 1));
        }
        break;
    case LedMode::Range:
        if (zone >= 0 && zone < s.rangeZones.size())
            s.rangeZones[zone].color = color;
        break;
    default:
        s.globalColor = color;
        break;
    }
    s.configPending = true;
    return store(event, s, {{kColor, color.toJson()}});
}

QJsonObject WsLedHandler::handleZone(const QString &event, const QJsonObject &data)
{
    LedSettings s = m_controller->ledSettings();
    const int count = int(s.rangeZones.size());
    const FieldReader in(data);
    if (event == QLatin1String("add_zone")) {
        if (count >= LedSettings::MaxZones)
            return tooManyZones(event);
        LedRangeZone zone{count > 0 ? s.rangeZones.last().endPercent : 0, 100, s.globalColor};
        in.readInt(kStart, zone.startPercent, 0, 100);
        in.readInt(kEnd, zone.endPercent, 0, 100);
        zone.color = readColor(in, kColor, zone.color);
        if (!in.ok())
            return actionReply(event, false, in.refusal());
        s.rangeZones.append(zone);
        s.selectedZoneIndex = count;
        s.configPending = true;
        return store(event, s, {{"zoneIndex", count}});
    }
    if (event == QLatin1String("set_selected_zone")) {
        if (!data.contains(kIndex))
            return missing(event, "index");
        int index = 0;
        in.readWholeNumber(kIndex, index);
        if (!in.ok())
            return actionReply(event, false, in.refusal());
        if (index < 0 || index >= count)
            return actionReply(event, false, kInvalidZone);
        s.selectedZoneIndex = index;
        return store(event, s, toldValues(event, s));
    }
    int index = s.selectedZoneIndex;
    in.readWholeNumber(kIndex, index);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    if (index < 0 || index >= count)
        return actionReply(event, false, kInvalidZone);
    if (event == QLatin1String("remove_zone")) {
        s.rangeZones.removeAt(index);
        if (s.selectedZoneIndex >= s.rangeZones.size())
            s.selectedZoneIndex = std::max(int(s.rangeZones.size()) - 1, 0);
        s.configPending = true;
        return store(event, s, toldValues(event, s));
    }
    LedRangeZone &zone = s.rangeZones[index];
    in.clampInt(kStart, zone.startPercent, 0, 100);
    in.clampInt(kEnd, zone.endPercent, 0, 100);
    zone.color = readColor(in, kColor, zone.color);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    s.configPending = true;
    return store(event, s);
}

QJsonObject WsLedHandler::handleTrigger(const QString &event)
{
    if (m_controller->ledConfigPushActive())
        return actionReply(event, false, QStringLiteral("LED config push already in progress"));
    if (!m_controller->isReceiverConnected())
        return actionReply(event, false, QStringLiteral("Receiver not connected over USB"));
    if (!m_controller->startLedConfigPush())
        return actionReply(event, false, QStringLiteral("Could not start LED config push"));
    QJsonObject reply = actionReply(event, true);
    reply.insert("message", QStringLiteral("LED config push started"));
    return reply;
}

} // namespace corvane
