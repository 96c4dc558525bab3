#include "api/wshelicopterhandler.h"

#include <QJsonArray>

#include <cmath>

#include "api/helicopterconfigmerge.h"
#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/crsfprotocol.h"
#include "bridge/helicopterinput.h"
#include "profiles/helicopterconfig.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "profiles/profilename.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kJoystick = QStringLiteral("joystick");
const QString kThrottle = QStringLiteral("throttle");
const QString kPedals = QStringLiteral("pedals");
const QString kRole = QStringLiteral("role");
const QString kData = QStringLiteral("data");

QJsonObject withData(QJsonObject reply, const QJsonObject &data)
{
    reply.insert(kData, data);
    return reply;
}

// The calibration record of a function, in the order roll, pitch, throttle, rudder.
template <class Config>
auto &calibrationOf(Config &config, int function)
{
    switch (function) {
    case 0:
        return config.calibration.roll;
    case 1:
        return config.calibration.pitch;
    case 2:
        return config.calibration.throttle;
    default:
        return config.calibration.rudder;
    }
}

} // namespace

WsHelicopterHandler::WsHelicopterHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(m_controller, &CorvaneController::heliJoystickConnectedChanged, this,
            &WsHelicopterHandler::onHeliJoystickConnected);
    connect(m_controller, &CorvaneController::heliThrottleConnectedChanged, this,
            &WsHelicopterHandler::onHeliThrottleConnected);
    connect(m_controller, &CorvaneController::heliPedalsConnectedChanged, this,
            &WsHelicopterHandler::onHeliPedalsConnected);
    connect(m_controller, &CorvaneController::heliArmedChanged, this, [this](bool armed) {
        emit pushEvent(QStringLiteral("event_heli_armed"), {{QStringLiteral("armed"), armed}});
    });
    connect(m_controller, &CorvaneController::heliRateModeChanged, this, [this](int mode) {
        emit pushEvent(QStringLiteral("event_heli_rate_mode"), {{QStringLiteral("mode"), mode}});
    });
}

QStringList WsHelicopterHandler::supportedEvents() const
{
    return {QStringLiteral("get_vehicle_type"),
            QStringLiteral("action_select_helicopter"),
            QStringLiteral("action_select_car"),
            QStringLiteral("get_helicopter_devices"),
            QStringLiteral("action_connect_helicopter_device"),
            QStringLiteral("action_disconnect_helicopter_device"),
            QStringLiteral("get_helicopter_config"),
            QStringLiteral("set_helicopter_config"),
            QStringLiteral("action_capture_helicopter_calibration"),
            QStringLiteral("get_helicopter_output"),
            QStringLiteral("action_set_rate_mode"),
            QStringLiteral("get_heli_armed"),
            QStringLiteral("action_set_heli_armed"),
            QStringLiteral("action_save_helicopter_profile")};
}

QJsonObject WsHelicopterHandler::channelJson(int channelIndex, int value, int percent)
{
    return {{QStringLiteral("channel"), channelIndex + 1},
            {QStringLiteral("value"), value},
            {QStringLiteral("micros"), CrsfProtocol::crsfToMicroseconds(value)},
            {QStringLiteral("percent"), percent}};
}

QJsonObject WsHelicopterHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    ProfileManager *store = m_controller->profileManager();
    if (event == QLatin1String("get_vehicle_type"))
        return dataReply(event, {{QStringLiteral("vehicleType"), m_controller->vehicleType()}});
    if (event == QLatin1String("action_select_helicopter") || event == QLatin1String("action_select_car")) {
        const bool heli = event == QLatin1String("action_select_helicopter");
        const StoreErrors errors(store);
        store->switchVehicleType(QString(heli ? VehicleType::Helicopter : VehicleType::Car),
                                 heli ? QStringLiteral("RC Helicopter") : QStringLiteral("Default"));
        return errors.reply(event);
    }
    if (event == QLatin1String("get_helicopter_devices"))
        return dataReply(event, devicesJson());
    if (event == QLatin1String("action_connect_helicopter_device"))
        return handleConnect(event, data);
    if (event == QLatin1String("action_disconnect_helicopter_device")) {
        handleDisconnect(readString(data, kRole));
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_helicopter_config"))
        return dataReply(event, m_controller->helicopterConfig().toJson());
    if (event == QLatin1String("set_helicopter_config")) {
        HelicopterConfig config = m_controller->helicopterConfig();
        if (const QString refusal = mergeHelicopterConfig(config, data); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        store->setHelicopterConfig(config);
        return actionReply(event, true);
    }
    if (event == QLatin1String("action_capture_helicopter_calibration"))
        return handleCapture(event, data);
    if (event == QLatin1String("get_helicopter_output"))
        return dataReply(event, outputJson());
    if (event == QLatin1String("action_set_rate_mode")) {
        int mode = 0;
        const FieldReader in(data);
        in.clampInt("mode", mode, 0, 2);
        if (!in.ok())
            return actionReply(event, false, in.refusal());
        m_controller->setHeliRateMode(mode);
        return withData(actionReply(event, true), {{QStringLiteral("mode"), m_controller->heliRateMode()}});
    }
    if (event == QLatin1String("get_heli_armed"))
        return dataReply(event, {{QStringLiteral("armed"), m_controller->isHeliArmed()}});
    if (event == QLatin1String("action_set_heli_armed")) {
        bool armed = false;
        if (const QString refusal = readFlag(data, "armed", armed); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        QString refusal;
        const bool done = m_controller->setHeliArmed(armed, &refusal);
        return withData(actionReply(event, done, refusal), {{QStringLiteral("armed"), m_controller->isHeliArmed()}});
    }
    if (event == QLatin1String("action_save_helicopter_profile"))
        return handleSave(event, data);
    return errorReply(event, QStringLiteral("Unhandled event in helicopter handler"));
}

WsHelicopterHandler::Function WsHelicopterHandler::functionOf(const QString &name)
{
    if (name == QLatin1String("roll"))
        return Roll;
    if (name == QLatin1String("pitch"))
        return Pitch;
    if (name == QLatin1String("throttle"))
        return Throttle;
    if (name == QLatin1String("rudder"))
        return Rudder;
    return NoFunction;
}

float WsHelicopterHandler::rawAxis(const HelicopterConfig &config, Function function) const
{
    InputDevice *device = nullptr;
    int axis = -1;
    switch (function) {
    case Roll:
        device = m_controller->heliJoystick();
        axis = config.inputs.joystick.xAxis;
        break;
    case Pitch:
        device = m_controller->heliJoystick();
        axis = config.inputs.joystick.yAxis;
        break;
    case Throttle:
        device = m_controller->heliThrottle();
        axis = config.inputs.throttle.axis;
        break;
    case Rudder:
        device = m_controller->heliPedals();
        axis = config.inputs.pedals.axis;
        break;
    case NoFunction:
        break;
    }
    // The last polled value: the app's reads never poll a device themselves. Read as the radio
    // reads it: the lever stays low until it moves, the others are where they rest.
    return function == Throttle ? heliLeverReading(config.calibration.throttle, device, axis)
                                : heliCentredReading(device, axis);
}

QJsonObject WsHelicopterHandler::devicesJson() const
{
    QJsonArray devices;
    const QList<InputDeviceInfo> attached = CorvaneController::availableInputDevices();
    for (const InputDeviceInfo &info : attached) {
        devices.append(QJsonObject{{QStringLiteral("index"), info.index},
                                   {QStringLiteral("name"), info.name},
                                   {QStringLiteral("productName"), info.productName},
                                   {QStringLiteral("numAxes"), info.numAxes}});
    }
    const QJsonObject assigned{
        {kJoystick, m_controller->isHeliJoystickConnected() ? m_controller->heliJoystickName() : QString()},
        {kThrottle, m_controller->isHeliThrottleConnected() ? m_controller->heliThrottleName() : QString()},
        {kPedals, m_controller->isHeliPedalsConnected() ? m_controller->heliPedalsName() : QString()}};
    return {{QStringLiteral("devices"), devices}, {QStringLiteral("assigned"), assigned}};
}

QJsonObject WsHelicopterHandler::outputJson() const
{
    const HelicopterConfig config = m_controller->helicopterConfig();
    const HeliOutput out = m_controller->heliLiveOutput(config);
    const auto output = [&out](int channel, int function) {
        return channelJson(channel, out.values[size_t(function)], int(std::lroundf(out.shaped[size_t(function)] * 100.0f)));
    };
    return {{QStringLiteral("roll"), output(config.channels.roll, Roll)},
            {QStringLiteral("pitch"), output(config.channels.pitch, Pitch)},
            {QStringLiteral("throttle"), output(config.channels.throttle, Throttle)},
            {QStringLiteral("rudder"), output(config.channels.rudder, Rudder)},
            {QStringLiteral("rateMode"), m_controller->heliRateMode()}};
}

QJsonObject WsHelicopterHandler::handleConnect(const QString &event, const QJsonObject &data)
{
    const QString role = readString(data, kRole);
    const int index = readInt(data, QStringLiteral("index"), -1);
    if (index < 0)
        return actionReply(event, false, QStringLiteral("Missing or invalid 'index'"));
    bool connected = false;
    if (role == kJoystick)
        connected = m_controller->connectHeliJoystick(index);
    else if (role == kThrottle)
        connected = m_controller->connectHeliThrottle(index);
    else if (role == kPedals)
        connected = m_controller->connectHeliPedals(index);
    else
        return actionReply(event, false, QStringLiteral("Unknown role: ") + echoed(role));
    if (!connected)
        return actionReply(event, false, QStringLiteral("Failed to connect ") + role);
    return actionReply(event, true);
}

void WsHelicopterHandler::handleDisconnect(const QString &role)
{
    if (role == kJoystick)
        m_controller->disconnectHeliJoystick();
    else if (role == kThrottle)
        m_controller->disconnectHeliThrottle();
    else if (role == kPedals)
        m_controller->disconnectHeliPedals();
}

QJsonObject WsHelicopterHandler::handleCapture(const QString &event, const QJsonObject &data)
{
    const Function function = functionOf(readString(data, QStringLiteral("function")));
    if (function == NoFunction)
        return actionReply(event, false, QStringLiteral("Unknown function"));
    HelicopterConfig config = m_controller->helicopterConfig();
    const float raw = rawAxis(config, function);
    AxisConfig &calibration = calibrationOf(config, function);
    const QString point = readString(data, QStringLiteral("point"));
    if (point == QLatin1String("min"))
        calibration.inputMin = raw;
    else if (point == QLatin1String("center"))
        calibration.inputCenter = raw;
    else if (point == QLatin1String("max"))
        calibration.inputMax = raw;
    else
        return actionReply(event, false, QStringLiteral("Unknown point: ") + echoed(point));
    calibration.useCalibration = true;
    m_controller->profileManager()->setHelicopterConfig(config);
    QJsonObject reply = actionReply(event, true);
    reply.insert(QStringLiteral("value"), double(raw));
    return reply;
}

bool WsHelicopterHandler::isStop(const QString &event, const QJsonObject &data) const
{
    // As the request reads it: no flag disarms too.
    bool armed = false;
    return event == QLatin1String("action_set_heli_armed") && readFlag(data, "armed", armed).isEmpty() && !armed;
}

bool WsHelicopterHandler::stopHolds(const QString &, const QJsonObject &) const
{
    return !m_controller->isHeliArmed();
}

QJsonObject WsHelicopterHandler::stateOf(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("action_set_heli_armed"))
        return {{QStringLiteral("armed"), m_controller->isHeliArmed()}};
    if (event == QLatin1String("action_set_rate_mode"))
        return {{QStringLiteral("mode"), m_controller->heliRateMode()}};
    return WsHandler::stateOf(event, data);
}

QJsonObject WsHelicopterHandler::unstoredReply(QJsonObject reply, const QString &failure) const
{
    if (reply.value(QStringLiteral("event")).toString() == QLatin1String("action_save_helicopter_profile"))
        reply.remove(kData);
    return WsHandler::unstoredReply(reply, failure);
}

QJsonObject WsHelicopterHandler::handleSave(const QString &event, const QJsonObject &data)
{
    QString name = readString(data, QStringLiteral("name")).trimmed();
    if (name.isEmpty())
        name = QStringLiteral("RC Helicopter");
    if (const QString refusal = invisibleNameRefusal(name); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    // Checked before the switch: a name the store refuses must not leave the station in
    // helicopter mode.
    if (const QString refusal = ProfileName::refusal(name); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    ProfileManager *store = m_controller->profileManager();
    const StoreErrors errors(store);
    const QString id = store->switchVehicleType(QString(VehicleType::Helicopter), name);
    if (id.isEmpty() || !store->renameProfile(id, name) || !store->saveActiveProfile())
        return errors.reply(event);
    // The name kept may carry a number: another profile may have had the one asked for.
    return withData(actionReply(event, true),
                    {{QStringLiteral("profileId"), id}, {QStringLiteral("name"), store->activeProfileName()}});
}

void WsHelicopterHandler::onHeliJoystickConnected(bool connected)
{
    pushDeviceChanged(kJoystick, connected);
}

void WsHelicopterHandler::onHeliThrottleConnected(bool connected)
{
    pushDeviceChanged(kThrottle, connected);
}

void WsHelicopterHandler::onHeliPedalsConnected(bool connected)
{
    pushDeviceChanged(kPedals, connected);
}

void WsHelicopterHandler::pushDeviceChanged(const QString &role, bool connected)
{
    emit pushEvent(QStringLiteral("event_helicopter_device_changed"),
                   {{kRole, role}, {QStringLiteral("connected"), connected}});
}

} // namespace corvane
