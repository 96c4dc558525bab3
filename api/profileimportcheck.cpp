#include "api/profileimportcheck.h"

#include <QJsonArray>

#include "api/helicopterconfigmerge.h"
#include "api/wsaxishandler.h"
#include "api/wsbuttonhandler.h"
#include "api/wsdevicehandler.h"
#include "api/wsjson.h"
#include "api/wsledhandler.h"
#include "profiles/profile.h"

namespace corvane {

using namespace wsjson;

namespace {

void readTexts(const FieldReader &in, std::initializer_list<const char *> keys, int maxChars)
{
    for (const char *key : keys) {
        QString text;
        in.readText(key, text, maxChars);
    }
}

// A game controller's record: its identity as the system reported it, and its mappings.
void checkDevice(const FieldReader &in)
{
    readTexts(in, {"productName", "instanceGuid", "devicePath", "uniqId"}, MaxDeviceTextChars);
    WsAxisHandler::readAxisMapping(in.object("axisMapping"));
    WsAxisHandler::readShifterMapping(in.object("shifterMapping"));
}

// The file keeps each axis under its name, its curve and the ESC mode as numbers.
void checkAxisSettings(const FieldReader &in)
{
    AxisSettings settings;
    for (AxisConfig *axis : {&settings.steering, &settings.throttle, &settings.brake, &settings.clutch}) {
        const FieldReader response = in.object(axis->name);
        WsAxisHandler::mergeAxisResponse(response, *axis);
        response.readInt("curve", axis->curve, 0, 2);
    }
    int escMode = settings.escMode;
    in.readWholeNumber("escMode", escMode);
    if (escMode != 0 && escMode != 2)
        in.refuse("escMode", QStringLiteral("0 (standard) or 2 (custom)"));
    WsAxisHandler::mergeAxisValues(in, settings);
}

void checkDevices(const FieldReader &in)
{
    const FieldReader bridge = in.object("bridge");
    readTexts(bridge, {"portName"}, MaxDeviceTextChars);
    int baudRate = DeviceConnections().baudRate;
    WsDeviceHandler::readBaudRate(bridge, baudRate);
    for (const char *slot : {"wheelBase", "pedals", "shifter"})
        checkDevice(in.object(slot));
}

void checkLeds(const FieldReader &in, const LedSettings &read)
{
    // The selections may lie beyond the strip, where the requests that change the count or the
    // zones leave them: they pass as the profile holds them.
    LedSettings settings;
    settings.selectedLedIndex = read.selectedLedIndex;
    settings.selectedZoneIndex = read.selectedZoneIndex;
    WsLedHandler::mergeSettings(in, settings);
    const FieldReader colors = in.array("ledColors");
    for (qsizetype i = 0; i < colors.size(); ++i) {
        int index = 0;
        colors.object(i).readInt("index", index, 0, LedSettings::MaxLedCount - 1);
    }
}

void checkTelemetry(const FieldReader &in)
{
    const FieldReader pinned = in.array("telemetryDashboard");
    for (qsizetype i = 0; i < pinned.size(); ++i) {
        QString id;
        pinned.readText(i, id, MaxSensorIdChars);
    }
    const FieldReader sensors = in.array("telemetrySensors");
    for (qsizetype i = 0; i < sensors.size(); ++i) {
        const FieldReader sensor = sensors.object(i);
        readTexts(sensor, {"id"}, MaxSensorIdChars);
        readTexts(sensor, {"label"}, MaxNameChars);
        // As the rename request has it.
        QString name;
        sensor.readText("name", name, MaxNameChars);
        if (ProfileName::hasForbiddenCharacter(name))
            sensor.refuse("name", QStringLiteral("a name without control characters or text direction overrides"));
    }
}

void checkHelicopter(const FieldReader &in)
{
    HelicopterConfig config;
    mergeHelicopterConfig(in, config);
    const FieldReader inputs = in.object("inputs");
    for (const char *role : {"joystick", "throttle", "pedals"})
        checkDevice(inputs.object(role).object("device"));
}

} // namespace

QString importRefusal(const Profile &profile)
{
    // A car profile keeps a helicopter setup too, though its file does not show it.
    QJsonObject stored = profile.toJson();
    stored.insert(QStringLiteral("helicopterConfig"), profile.helicopterConfig.toJson());
    const FieldReader in = FieldReader({{QStringLiteral("profileJson"), stored}}).strict().object("profileJson");
    in.readChoice("vehicleType", {VehicleType::Car.data(), VehicleType::Helicopter.data()});
    checkAxisSettings(in.object("axisSettings"));
    const FieldReader mappings = in.array("buttonMappings");
    for (qsizetype i = 0; i < mappings.size(); ++i)
        WsButtonHandler::listedMappingFromJson(mappings.object(i));
    checkDevices(in.object("deviceConnections"));
    checkLeds(in.object("ledSettings"), profile.ledSettings);
    checkTelemetry(in);
    readTexts(in.object("receiverCaps"), {"firmware"}, MaxNameChars);
    WheelFfbSettings ffb;
    WsAxisHandler::mergeWheelFfb(in.object("wheelFfb"), ffb);
    checkHelicopter(in.object("helicopterConfig"));
    return in.refusal();
}

} // namespace corvane
