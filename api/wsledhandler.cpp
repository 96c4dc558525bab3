#include "api/wsledhandler.h"

#include <QJsonArray>

#include <algorithm>

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

QJsonObject missing(const QString &event, const char *key)
{
    return actionReply(event, false, QStringLiteral("Missing '%1' parameter").arg(QLatin1String(key)));
}

QJsonObject tooManyZones(const QString &event)
{
    return actionReply(event, false,
                       QStringLiteral("Too many LED zones: the receiver takes at most %1.").arg(LedSettings::MaxZones));
}

RgbColor readColor(const QJsonObject &data, const QString &key, const RgbColor &fallback)
{
    return data.value(key).isObject() ? RgbColor::fromJson(data.value(key).toObject()) : fallback;
}

QString modeName(const LedSettings &settings)
{
    return settings.toJson().value(QStringLiteral("mode")).toString();
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
    if (event == QLatin1String("set_led_power")) {
        if (!data.contains(QLatin1String("on")))
            return missing(event, "on");
        s.powerOn = readBool(data, QStringLiteral("on"), false);
        return store(event, s, {{"powerOn", s.powerOn}});
    }
    if (event == QLatin1String("set_led_brightness")) {
        if (!data.contains(QLatin1String("brightness")))
            return missing(event, "brightness");
        s.brightness = std::clamp(readInt(data, QStringLiteral("brightness"), 0), 0, 99);
        s.configPending = true;
        return store(event, s, {{"brightness", s.brightness}});
    }
    if (event == QLatin1String("set_led_mode")) {
        if (!data.contains(QLatin1String("mode")))
            return missing(event, "mode");
        s.mode = ledModeFromString(readString(data, QStringLiteral("mode")));
        return store(event, s, {{"mode", modeName(s)}});
    }
    if (event == QLatin1String("set_selected_led")) {
        if (!data.contains(kIndex))
            return missing(event, "index");
        s.selectedLedIndex = std::clamp(readInt(data, kIndex, 0), 0, std::max(s.ledCount - 1, 0));
        return store(event, s, {{"selectedLedIndex", s.selectedLedIndex}, {kColor, s.displayColor(s.selectedLedIndex).toJson()}});
    }
    if (event == QLatin1String("set_led_count")) {
        if (!data.contains(QLatin1String("count")))
            return missing(event, "count");
        s.ledCount = std::clamp(readInt(data, QStringLiteral("count"), 0), 1, LedSettings::MaxLedCount);
        if (s.selectedLedIndex >= s.ledCount)
            s.selectedLedIndex = s.ledCount - 1;
        s.configPending = true;
        return store(event, s, {{"ledCount", s.ledCount}});
    }
    if (event == QLatin1String("set_active_percentage")) {
        if (!data.contains(QLatin1String("percentage")))
            return missing(event, "percentage");
        s.activePercentage = std::clamp(readInt(data, QStringLiteral("percentage"), 0), 0, 100);
        s.configPending = true;
        return store(event, s, {{"activePercentage", s.activePercentage}});
    }
    if (event == QLatin1String("set_power_button")) {
        if (!data.contains(QLatin1String("buttonIndex")))
            return missing(event, "buttonIndex");
        s.powerButtonIndex = readInt(data, QStringLiteral("buttonIndex"), -1);
        return store(event, s, {{"powerButtonIndex", s.powerButtonIndex}});
    }
    if (event == QLatin1String("add_zone") || event == QLatin1String("remove_zone") || event == QLatin1String("set_zone")
        || event == QLatin1String("set_selected_zone")) {
        return handleZone(event, data);
    }
    return errorReply(event, QStringLiteral("Unhandled event in LED handler"));
}

QJsonObject WsLedHandler::handleSetSettings(const QString &event, const QJsonObject &data)
{
    LedSettings s = m_controller->ledSettings();
    const QJsonArray zones = data.value(QLatin1String("rangeZones")).toArray();
    if (data.contains(QLatin1String("rangeZones")) && zones.size() > LedSettings::MaxZones)
        return tooManyZones(event);
    const int zoneCountBefore = int(s.rangeZones.size());
    if (data.contains(QLatin1String("ledCount"))) {
        s.ledCount = std::clamp(readInt(data, QStringLiteral("ledCount"), 0), 1, LedSettings::MaxLedCount);
        s.configPending = true;
    }
    if (data.contains(QLatin1String("brightness"))) {
        s.brightness = std::clamp(readInt(data, QStringLiteral("brightness"), 0), 0, 99);
        s.configPending = true;
    }
    if (data.contains(QLatin1String("activePercentage"))) {
        s.activePercentage = std::clamp(readInt(data, QStringLiteral("activePercentage"), 0), 0, 100);
        s.configPending = true;
    }
    if (data.contains(QLatin1String("powerOn")))
        s.powerOn = readBool(data, QStringLiteral("powerOn"), false);
    if (data.contains(QLatin1String("powerButtonIndex")))
        s.powerButtonIndex = readInt(data, QStringLiteral("powerButtonIndex"), -1);
    if (data.contains(QLatin1String("mode")))
        s.mode = ledModeFromString(readString(data, QStringLiteral("mode")));
    if (data.contains(QLatin1String("selectedLedIndex")))
        s.selectedLedIndex = std::clamp(readInt(data, QStringLiteral("selectedLedIndex"), 0), 0, std::max(s.ledCount - 1, 0));
    if (data.contains(QLatin1String("globalColor"))) {
        s.globalColor = readColor(data, QStringLiteral("globalColor"), RgbColor());
        s.configPending = true;
    }
    if (data.contains(QLatin1String("selectedZoneIndex")))
        s.selectedZoneIndex = std::clamp(readInt(data, QStringLiteral("selectedZoneIndex"), 0), 0, std::max(zoneCountBefore - 1, 0));
    if (data.contains(QLatin1String("rangeZones"))) {
        s.rangeZones.clear();
        for (const QJsonValue &value : zones) {
            const QJsonObject zone = value.toObject();
            s.rangeZones.append({readInt(zone, kStart, 0), readInt(zone, kEnd, 100), readColor(zone, kColor, RgbColor())});
        }
        s.configPending = true;
    }
    return store(event, s);
}

QJsonObject WsLedHandler::handleSetColor(const QString &event, const QJsonObject &data)
{
    LedSettings s = m_controller->ledSettings();
    RgbColor color = s.globalColor;
    if (data.value(kColor).isObject()) {
        color = RgbColor::fromJson(data.value(kColor).toObject());
    } else {
        color.r = std::uint8_t(readInt(data, QStringLiteral("r"), s.globalColor.r));
        color.g = std::uint8_t(readInt(data, QStringLiteral("g"), s.globalColor.g));
        color.b = std::uint8_t(readInt(data, QStringLiteral("b"), s.globalColor.b));
    }
    switch (s.mode) {
    case LedMode::PerLed:
        if (!s.setLedColor(readInt(data, kIndex, s.selectedLedIndex), color)) {
            return actionReply(event, false, QStringLiteral("LED index out of range: the receiver drives LEDs 0 to %1.")
                                                 .arg(LedSettings::MaxLedCount - 1));
        }
        break;
    case LedMode::Range: {
        const int zone = readInt(data, QStringLiteral("zoneIndex"), s.selectedZoneIndex);
        if (zone >= 0 && zone < s.rangeZones.size())
            s.rangeZones[zone].color = color;
        break;
    }
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
    if (event == QLatin1String("add_zone")) {
        if (count >= LedSettings::MaxZones)
            return tooManyZones(event);
        const int start = readInt(data, kStart, count > 0 ? s.rangeZones.last().endPercent : 0);
        s.rangeZones.append({start, readInt(data, kEnd, 100), readColor(data, kColor, s.globalColor)});
        s.selectedZoneIndex = count;
        s.configPending = true;
        return store(event, s, {{"zoneIndex", count}});
    }
    if (event == QLatin1String("set_selected_zone")) {
        if (!data.contains(kIndex))
            return missing(event, "index");
        const int index = readInt(data, kIndex, 0);
        if (index < 0 || index >= count)
            return actionReply(event, false, kInvalidZone);
        s.selectedZoneIndex = index;
        const LedRangeZone &zone = s.rangeZones.at(index);
        return store(event, s, {{"selectedZoneIndex", index}, {kStart, zone.startPercent}, {kEnd, zone.endPercent},
                                {kColor, zone.color.toJson()}});
    }
    const int index = readInt(data, kIndex, s.selectedZoneIndex);
    if (index < 0 || index >= count)
        return actionReply(event, false, kInvalidZone);
    if (event == QLatin1String("remove_zone")) {
        s.rangeZones.removeAt(index);
        if (s.selectedZoneIndex >= s.rangeZones.size())
            s.selectedZoneIndex = std::max(int(s.rangeZones.size()) - 1, 0);
        s.configPending = true;
        return store(event, s, {{"selectedZoneIndex", s.selectedZoneIndex}});
    }
    LedRangeZone &zone = s.rangeZones[index];
    if (data.contains(kStart))
        zone.startPercent = std::clamp(readInt(data, kStart, 0), 0, 100);
    if (data.contains(kEnd))
        zone.endPercent = std::clamp(readInt(data, kEnd, 0), 0, 100);
    if (data.contains(kColor))
        zone.color = readColor(data, kColor, RgbColor());
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
