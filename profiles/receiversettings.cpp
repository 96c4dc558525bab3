#include "profiles/receiversettings.h"

#include <QJsonArray>

#include <algorithm>

#include "profiles/jsonfields.h"

namespace {

RgbColor colorOrGreen(const QJsonObject &obj)
{
    return obj.contains(QLatin1String("color")) ? RgbColor::fromJson(obj.value(QLatin1String("color")).toObject())
                                                : RgbColor();
}

QString ledModeText(LedMode mode)
{
    switch (mode) {
    case LedMode::PerLed:
        return QStringLiteral("per_led");
    case LedMode::Range:
        return QStringLiteral("range");
    default:
        return QStringLiteral("global");
    }
}

// Index of the step a value falls in, in 64 bits so that any stored int is safe.
int hudStep(int value, int offset, int divisor, int maxIndex)
{
    const qint64 index = (qint64(value) - offset) / divisor;
    return int(std::clamp<qint64>(index, 0, maxIndex));
}

} // namespace

RgbColor RgbColor::fromJson(const QJsonObject &obj)
{
    RgbColor c;
    c.r = std::uint8_t(obj.value(QLatin1String("r")).toInt(0));
    c.g = std::uint8_t(obj.value(QLatin1String("g")).toInt(255));
    c.b = std::uint8_t(obj.value(QLatin1String("b")).toInt(0));
    return c;
}

QJsonObject RgbColor::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("r"), int(r));
    o.insert(QLatin1String("g"), int(g));
    o.insert(QLatin1String("b"), int(b));
    return o;
}

QString ledConfigStateName(int state)
{
    static const char *const names[] = {"idle",       "waiting",      "sending_led_count",   "sending_brightness",
                                        "sending_mode", "sending_payload_count", "sending_color", "sending_range_start",
                                        "sending_range_end", "complete"};
    if (state < LedConfigIdle || state > LedConfigComplete)
        return QStringLiteral("unknown");
    return QString::fromLatin1(names[state]);
}

bool LedSettings::setLedColor(int ledIndex, const RgbColor &color)
{
    if (ledIndex < 0 || ledIndex >= MaxLedCount)
        return false;
    for (LedColorEntry &entry : ledColors) {
        if (entry.index == ledIndex) {
            entry.color = color;
            return true;
        }
    }
    ledColors.append({ledIndex, color});
    return true;
}

RgbColor LedSettings::displayColor(int ledIndex) const
{
    if (mode == LedMode::PerLed) {
        for (const LedColorEntry &entry : ledColors) {
            if (entry.index == ledIndex)
                return entry.color;
        }
    } else if (mode == LedMode::Range && ledCount > 0) {
        const qint64 percent = qint64(ledIndex) * 100 / ledCount;
        for (const LedRangeZone &zone : rangeZones) {
            if (zone.startPercent <= percent && percent < zone.endPercent)
                return zone.color;
        }
    }
    return globalColor;
}

LedMode ledModeFromString(const QString &text)
{
    if (text == QLatin1String("per_led"))
        return LedMode::PerLed;
    if (text == QLatin1String("range"))
        return LedMode::Range;
    return LedMode::Global;
}

LedSettings LedSettings::fromJson(const QJsonObject &obj)
{
    LedSettings s;
    s.ledCount = obj.value(QLatin1String("ledCount")).toInt(8);
    s.brightness = obj.value(QLatin1String("brightness")).toInt(99);
    s.activePercentage = obj.value(QLatin1String("activePercentage")).toInt(100);
    s.powerOn = obj.value(QLatin1String("powerOn")).toBool(true);
    s.powerButtonIndex = obj.value(QLatin1String("powerButtonIndex")).toInt(-1);
    s.mode = ledModeFromString(obj.value(QLatin1String("mode")).toString());
    s.selectedLedIndex = obj.value(QLatin1String("selectedLedIndex")).toInt(0);
    if (obj.contains(QLatin1String("globalColor")))
        s.globalColor = RgbColor::fromJson(obj.value(QLatin1String("globalColor")).toObject());
    if (obj.contains(QLatin1String("ledColors"))) {
        const QJsonArray colors = obj.value(QLatin1String("ledColors")).toArray();
        for (const QJsonValue &element : colors) {
            const QJsonObject entryObj = element.toObject();
            LedColorEntry entry;
            entry.index = entryObj.value(QLatin1String("index")).toInt(0);
            entry.color = colorOrGreen(entryObj);
            s.ledColors.append(entry);
        }
    }
    s.selectedZoneIndex = obj.value(QLatin1String("selectedZoneIndex")).toInt(0);
    if (obj.contains(QLatin1String("rangeZones"))) {
        const QJsonArray zones = obj.value(QLatin1String("rangeZones")).toArray();
        for (const QJsonValue &element : zones) {
            const QJsonObject zoneObj = element.toObject();
            LedRangeZone zone;
            zone.startPercent = zoneObj.value(QLatin1String("startPercent")).toInt(0);
            zone.endPercent = zoneObj.value(QLatin1String("endPercent")).toInt(100);
            zone.color = colorOrGreen(zoneObj);
            s.rangeZones.append(zone);
        }
    }
    return s;
}

QJsonObject LedSettings::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("ledCount"), ledCount);
    o.insert(QLatin1String("brightness"), brightness);
    o.insert(QLatin1String("activePercentage"), activePercentage);
    o.insert(QLatin1String("powerOn"), powerOn);
    o.insert(QLatin1String("powerButtonIndex"), powerButtonIndex);
    o.insert(QLatin1String("mode"), ledModeText(mode));
    o.insert(QLatin1String("globalColor"), globalColor.toJson());
    o.insert(QLatin1String("selectedLedIndex"), selectedLedIndex);
    QJsonArray colors;
    for (const LedColorEntry &entry : ledColors) {
        QJsonObject e;
        e.insert(QLatin1String("index"), entry.index);
        e.insert(QLatin1String("color"), entry.color.toJson());
        colors.append(e);
    }
    o.insert(QLatin1String("ledColors"), colors);
    o.insert(QLatin1String("selectedZoneIndex"), selectedZoneIndex);
    QJsonArray zones;
    for (const LedRangeZone &zone : rangeZones) {
        QJsonObject z;
        z.insert(QLatin1String("startPercent"), zone.startPercent);
        z.insert(QLatin1String("endPercent"), zone.endPercent);
        z.insert(QLatin1String("color"), zone.color.toJson());
        zones.append(z);
    }
    o.insert(QLatin1String("rangeZones"), zones);
    return o;
}

void ReceiverSettings::normalizeHud()
{
    hudTopKmh = 10 + 5 * hudStep(hudTopKmh, 8, 5, 28);
    hudAccelKmhS = 5 * (hudStep(hudAccelKmhS, 3, 5, 19) + 1);
    hudBrakeKmhS = 10 * (hudStep(hudBrakeKmhS, 5, 10, 19) + 1);
}

ReceiverSettings ReceiverSettings::fromJson(const QJsonObject &obj)
{
    const ReceiverSettings d;
    ReceiverSettings s;
    s.initialized = obj.value(QLatin1String("initialized")).toBool(d.initialized);
    s.gpsEnabled = obj.value(QLatin1String("gpsEnabled")).toBool(d.gpsEnabled);
    s.gpsRateHz = obj.value(QLatin1String("gpsRateHz")).toInt(d.gpsRateHz);
    if (!QList<int>{0, 1, 2, 4, 5, 10}.contains(s.gpsRateHz))
        s.gpsRateHz = 0;
    s.gpsTelem = obj.value(QLatin1String("gpsTelem")).toBool(d.gpsTelem);
    s.imuTelem = obj.value(QLatin1String("imuTelem")).toBool(d.imuTelem);
    s.motionTelem = obj.value(QLatin1String("motionTelem")).toBool(d.motionTelem);
    s.motionRateHz = obj.value(QLatin1String("motionRateHz")).toInt(d.motionRateHz);
    if (!QList<int>{5, 10, 20, 25}.contains(s.motionRateHz))
        s.motionRateHz = 20;
    s.osdEnabled = obj.value(QLatin1String("osdEnabled")).toBool(d.osdEnabled);
    s.motionSensors = obj.value(QLatin1String("motionSensors")).toBool(d.motionSensors);
    s.hudTopKmh = obj.value(QLatin1String("hudTopKmh")).toInt(d.hudTopKmh);
    s.hudAccelKmhS = obj.value(QLatin1String("hudAccelKmhS")).toInt(d.hudAccelKmhS);
    s.hudBrakeKmhS = obj.value(QLatin1String("hudBrakeKmhS")).toInt(d.hudBrakeKmhS);
    s.normalizeHud();
    return s;
}

QJsonObject ReceiverSettings::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("initialized"), initialized);
    o.insert(QLatin1String("gpsEnabled"), gpsEnabled);
    o.insert(QLatin1String("gpsRateHz"), gpsRateHz);
    o.insert(QLatin1String("gpsTelem"), gpsTelem);
    o.insert(QLatin1String("imuTelem"), imuTelem);
    o.insert(QLatin1String("motionTelem"), motionTelem);
    o.insert(QLatin1String("motionRateHz"), motionRateHz);
    o.insert(QLatin1String("osdEnabled"), osdEnabled);
    o.insert(QLatin1String("motionSensors"), motionSensors);
    o.insert(QLatin1String("hudTopKmh"), hudTopKmh);
    o.insert(QLatin1String("hudAccelKmhS"), hudAccelKmhS);
    o.insert(QLatin1String("hudBrakeKmhS"), hudBrakeKmhS);
    return o;
}

bool ReceiverCaps::isAdvanced() const
{
    return imu || gps || firmware.section(QLatin1Char('.'), 0, 0).toInt() >= 4;
}

ReceiverCaps ReceiverCaps::fromJson(const QJsonObject &obj)
{
    ReceiverCaps c;
    c.imu = obj.value(QLatin1String("imu")).toBool(false);
    c.gps = obj.value(QLatin1String("gps")).toBool(false);
    c.firmware = obj.value(QLatin1String("firmware")).toString();
    c.osdOnBoard = obj.value(QLatin1String("osdOnBoard")).toInt(-1);
    c.hudTopOnBoard = obj.value(QLatin1String("hudTopOnBoard")).toInt(-1);
    c.hudAccelOnBoard = obj.value(QLatin1String("hudAccelOnBoard")).toInt(-1);
    c.hudBrakeOnBoard = obj.value(QLatin1String("hudBrakeOnBoard")).toInt(-1);
    return c;
}

QJsonObject ReceiverCaps::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("imu"), imu);
    o.insert(QLatin1String("gps"), gps);
    if (!firmware.isEmpty())
        o.insert(QLatin1String("firmware"), firmware);
    const std::pair<const char *, int> onBoard[] = {{"osdOnBoard", osdOnBoard},
                                                    {"hudTopOnBoard", hudTopOnBoard},
                                                    {"hudAccelOnBoard", hudAccelOnBoard},
                                                    {"hudBrakeOnBoard", hudBrakeOnBoard}};
    for (const auto &[key, value] : onBoard) {
        if (value >= 0)
            o.insert(QLatin1String(key), value);
    }
    return o;
}

WheelFfbSettings WheelFfbSettings::fromJson(const QJsonObject &obj)
{
    const WheelFfbSettings d;
    WheelFfbSettings s;
    s.strength = jsonFloat(obj.value(QLatin1String("strength")), d.strength);
    s.centering = jsonFloat(obj.value(QLatin1String("centering")), d.centering);
    s.nativeCentering = jsonFloat(obj.value(QLatin1String("nativeCentering")), d.nativeCentering);
    s.autoEngage = obj.value(QLatin1String("autoEngage")).toBool(d.autoEngage);
    return s;
}

QJsonObject WheelFfbSettings::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("strength"), double(strength));
    o.insert(QLatin1String("centering"), double(centering));
    o.insert(QLatin1String("nativeCentering"), double(nativeCentering));
    o.insert(QLatin1String("autoEngage"), autoEngage);
    return o;
}
