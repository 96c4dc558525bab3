#include "api/wsaxishandler.h"

#include <QJsonArray>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "api/storeerrors.h"
#include "api/wsjson.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kButtonIndex = QStringLiteral("buttonIndex");
const QString kGearIndex = QStringLiteral("gearIndex");
const QString kDeviceName = QStringLiteral("deviceName");
const QString kSuccess = QStringLiteral("success");

QJsonArray shifterArray(const ShifterMapping &mapping)
{
    QJsonArray array;
    for (int button : mapping.buttonIndex)
        array.append(button);
    return array;
}

} // namespace

QString WsAxisHandler::gearName(int gearIndex)
{
    if (gearIndex == 0)
        return QStringLiteral("Neutral");
    if (gearIndex == 1)
        return QStringLiteral("Reverse");
    if (gearIndex >= 2 && gearIndex < ShifterMapping::Size)
        return QStringLiteral("Gear %1").arg(gearIndex - 1);
    return QStringLiteral("Unknown gear");
}

QJsonObject WsAxisHandler::handleDeviceEvent(const QString &event, const QJsonObject &data)
{
    const QString noWheelBase = QStringLiteral("Wheel base is not connected");
    const QString noPedals = QStringLiteral("Pedals are not connected");
    if (event == QLatin1String("get_wheel_ffb"))
        return dataReply(event, wheelFfbJson());
    if (event == QLatin1String("set_wheel_ffb"))
        return handleSetWheelFfb(event, data);
    if (event == QLatin1String("check_wheel_ffb"))
        return handleCheckWheelFfb(event);
    if (event == QLatin1String("action_test_wheel_ffb"))
        return handleTestWheelFfb(event, data);
    if (event == QLatin1String("get_wheelbase_axis_mapping"))
        return handleGetAxisMapping(event, m_controller->wheelBase(), noWheelBase);
    if (event == QLatin1String("set_wheelbase_axis_mapping"))
        return handleSetAxisMapping(event, data, m_controller->wheelBase(), &CorvaneController::setWheelBaseAxisMapping, noWheelBase);
    if (event == QLatin1String("get_pedals_axis_mapping"))
        return handleGetAxisMapping(event, m_controller->pedals(), noPedals);
    if (event == QLatin1String("set_pedals_axis_mapping"))
        return handleSetAxisMapping(event, data, m_controller->pedals(), &CorvaneController::setPedalsAxisMapping, noPedals);
    if (event == QLatin1String("get_available_presets")) {
        QJsonArray presets;
        const QList<AxisMapping> builtIn = InputDevice::mappingPresets();
        for (const AxisMapping &preset : builtIn)
            presets.append(preset.toJson());
        return dataReply(event, {{QStringLiteral("presets"), presets}});
    }
    if (event == QLatin1String("get_shifter_mapping"))
        return dataReply(event, shifterMappingJson());
    if (event == QLatin1String("set_shifter_mapping"))
        return handleSetShifterMapping(event, data);
    if (event == QLatin1String("start_shifter_detection"))
        return handleStartShifterDetection(event, data);
    if (event == QLatin1String("cancel_shifter_detection")) {
        m_controller->cancelShifterDetection();
        return actionReply(event, true);
    }
    if (event == QLatin1String("start_button_detection"))
        return handleStartButtonDetection(event, data);
    if (event == QLatin1String("stop_button_detection")) {
        m_controller->cancelButtonDetection();
        return actionReply(event, true);
    }
    return errorReply(event, QStringLiteral("Unhandled event in axis handler"));
}

QJsonObject WsAxisHandler::stateOf(const QString &event, const QJsonObject &data)
{
    return event == QLatin1String("set_wheel_ffb") ? wheelFfbJson() : WsHandler::stateOf(event, data);
}

QJsonObject WsAxisHandler::wheelFfbJson() const
{
    return {{QStringLiteral("capable"), m_controller->isWheelFfbAvailable()},
            {QStringLiteral("enabled"), m_controller->wheelFfbEnabled()},
            {QStringLiteral("strength"), double(m_controller->wheelFfbStrength())},
            {QStringLiteral("centering"), double(m_controller->wheelFfbCentering())},
            {QStringLiteral("nativeCentering"), double(m_controller->wheelNativeCentering())},
            {QStringLiteral("autoEngage"), m_controller->wheelFfbAutoEngage()},
            {QStringLiteral("receiver"), CorvaneController::detectionStateName(m_controller->receiverFfbState())}};
}

void WsAxisHandler::mergeWheelFfb(const FieldReader &in, WheelFfbSettings &ffb)
{
    in.clampNumber("strength", ffb.strength, 0.0, 1.0);
    in.clampNumber("centering", ffb.centering, 0.0, 1.0);
    in.clampNumber("nativeCentering", ffb.nativeCentering, 0.0, 1.0);
    in.readBool("autoEngage", ffb.autoEngage);
}

QJsonObject WsAxisHandler::handleSetWheelFfb(const QString &event, const QJsonObject &data)
{
    WheelFfbSettings ffb;
    ffb.strength = m_controller->wheelFfbStrength();
    ffb.centering = m_controller->wheelFfbCentering();
    ffb.nativeCentering = m_controller->wheelNativeCentering();
    ffb.autoEngage = m_controller->wheelFfbAutoEngage();
    bool enabled = false;
    const FieldReader in(data);
    mergeWheelFfb(in, ffb);
    in.readBool("enabled", enabled);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    const StoreErrors errors(m_controller->profileManager());
    if (in.contains("strength"))
        m_controller->setWheelFfbStrength(ffb.strength);
    if (in.contains("centering"))
        m_controller->setWheelFfbCentering(ffb.centering);
    if (in.contains("nativeCentering"))
        m_controller->setWheelNativeCentering(ffb.nativeCentering);
    if (in.contains("autoEngage"))
        m_controller->setWheelFfbAutoEngage(ffb.autoEngage);
    // Saved at once rather than after the desktop sliders' pause, so that the reply can tell
    // whether the settings are on disk.
    if (in.contains("strength") || in.contains("centering") || in.contains("nativeCentering")
        || in.contains("autoEngage"))
        m_controller->saveWheelFfb();
    if (in.contains("enabled")) {
        if (enabled)
            m_controller->startWheelFfb();
        else
            m_controller->stopWheelFfb();
    }
    QJsonObject reply = errors.reply(event);
    reply.insert(QStringLiteral("data"), wheelFfbJson());
    return reply;
}

QJsonObject WsAxisHandler::handleCheckWheelFfb(const QString &event)
{
    const FfbStatus status = m_controller->wheelBaseFfbStatus();
    const bool full = status.enumerated && status.ffbCapable && status.exclusive && status.hasFfbAxis
        && status.constantForce;
    QJsonObject body{{QStringLiteral("enumerated"), status.enumerated},
                     {QStringLiteral("ffbCapable"), status.ffbCapable},
                     {QStringLiteral("exclusive"), status.exclusive},
                     {QStringLiteral("hasFfbAxis"), status.hasFfbAxis},
                     {QStringLiteral("constantForce"), status.constantForce},
                     {QStringLiteral("full"), full},
                     {QStringLiteral("partial"), status.ffbCapable && !full},
                     {QStringLiteral("receiver"), CorvaneController::detectionStateName(m_controller->receiverFfbState())}};
    if (!status.constantForce) {
        body.insert(QStringLiteral("errorCode"),
                    QStringLiteral("0x%1").arg(quint32(status.errorCode), 8, 16, QLatin1Char('0')));
        if (!status.diag.isEmpty())
            body.insert(QStringLiteral("diag"), status.diag);
    }
    return dataReply(event, body);
}

QJsonObject WsAxisHandler::handleTestWheelFfb(const QString &event, const QJsonObject &data)
{
    if (!m_controller->isWheelFfbAvailable())
        return actionReply(event, false, QStringLiteral("No FFB-capable wheel connected"));
    float level = 0.0f;
    const FieldReader in(data);
    in.clampNumber("level", level, -1.0, 1.0);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    m_controller->setWheelForce(level);
    // A non-zero level is a pulse: it ends 500 ms after the last request.
    if (level == 0.0f)
        m_pulseTimer->stop();
    else
        m_pulseTimer->start();
    return actionReply(event, true);
}

void WsAxisHandler::endTestPulse()
{
    m_controller->setWheelForce(0.0f);
}

QJsonObject WsAxisHandler::handleGetAxisMapping(const QString &event, InputDevice *device,
                                                const QString &notConnected) const
{
    if (!device->isConnected())
        return errorReply(event, notConnected);
    return dataReply(event, device->axisMapping().toJson());
}

AxisMapping WsAxisHandler::readAxisMapping(const FieldReader &in)
{
    AxisMapping mapping;
    const FieldReader map = in.array("map");
    for (qsizetype i = 0; i < std::min<qsizetype>(map.size(), qsizetype(mapping.map.size())); ++i)
        map.readInt(i, mapping.map[size_t(i)], -1, InputDevice::AxisCount - 1);
    const FieldReader inverted = in.array("inverted");
    for (qsizetype i = 0; i < std::min<qsizetype>(inverted.size(), qsizetype(mapping.inverted.size())); ++i)
        inverted.readBool(i, mapping.inverted[size_t(i)]);
    in.readText("presetName", mapping.presetName, MaxNameChars);
    in.readBool("combinedPedals", mapping.combinedPedals);
    // The rest of the shared pedal axis is a raw axis reading.
    in.readNumber("combinedPedalsCenter", mapping.combinedPedalsCenter, -1.0, 1.0);
    return mapping;
}

QJsonObject WsAxisHandler::handleSetAxisMapping(const QString &event, const QJsonObject &data, InputDevice *device,
                                                void (CorvaneController::*setter)(const AxisMapping &),
                                                const QString &notConnected)
{
    if (!device->isConnected())
        return actionReply(event, false, notConnected);
    const FieldReader in = FieldReader(data).comparedWith(device->axisMapping().toJson());
    const AxisMapping mapping = readAxisMapping(in);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    // Through std::invoke, as in the device handler: GCC's vptr check gets `m_controller->*` wrong.
    const StoreErrors errors(m_controller->profileManager());
    std::invoke(setter, m_controller, mapping);
    return errors.reply(event);
}

QJsonObject WsAxisHandler::shifterMappingJson() const
{
    return {{kButtonIndex, shifterArray(m_controller->shifterMapping())}};
}

ShifterMapping WsAxisHandler::readShifterMapping(const FieldReader &in)
{
    ShifterMapping mapping;
    const FieldReader buttons = in.array(kButtonIndex);
    for (qsizetype i = 0; i < std::min<qsizetype>(buttons.size(), ShifterMapping::Size); ++i)
        buttons.readInt(i, mapping[int(i)], -1, InputDevice::ButtonCount - 1);
    return mapping;
}

QJsonObject WsAxisHandler::handleSetShifterMapping(const QString &event, const QJsonObject &data)
{
    if (!data.contains(kButtonIndex))
        return actionReply(event, false, QStringLiteral("Missing 'buttonIndex' array"));
    const FieldReader in = FieldReader(data).comparedWith(shifterMappingJson());
    const ShifterMapping mapping = readShifterMapping(in);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    const StoreErrors errors(m_controller->profileManager());
    m_controller->setShifterMapping(mapping);
    return errors.reply(event);
}

QJsonObject WsAxisHandler::handleStartShifterDetection(const QString &event, const QJsonObject &data)
{
    if (!data.contains(kGearIndex))
        return actionReply(event, false, QStringLiteral("Missing 'gearIndex' (0=neutral, 1=reverse, 2-8=gears 1-7)"));
    const int gearIndex = readInt(data, kGearIndex, -1);
    if (gearIndex < 0 || gearIndex >= ShifterMapping::Size)
        return actionReply(event, false, QStringLiteral("Invalid gearIndex: must be 0-8"));
    m_controller->startShifterDetection(gearIndex);
    QJsonObject reply = actionReply(event, true);
    reply.insert(kGearIndex, gearIndex);
    return reply;
}

QJsonObject WsAxisHandler::handleStartButtonDetection(const QString &event, const QJsonObject &data)
{
    if (!data.contains(kDeviceName))
        return actionReply(event, false, QStringLiteral("Missing 'deviceName' (e.g. 'wheelbase', 'pedals', 'shifter')"));
    const QString deviceName = readString(data, kDeviceName);
    if (deviceName != QLatin1String("wheelbase") && deviceName != QLatin1String("pedals")
        && deviceName != QLatin1String("shifter"))
        return actionReply(event, false, QStringLiteral("Invalid deviceName: must be 'wheelbase', 'pedals', or 'shifter'"));
    m_controller->startButtonDetection(deviceName);
    QJsonObject reply = actionReply(event, true);
    reply.insert(kDeviceName, deviceName);
    return reply;
}

void WsAxisHandler::onShifterDetectionStarted(int gearIndex)
{
    emit pushEvent(QStringLiteral("shifter_detection_started"),
                   {{kGearIndex, gearIndex}, {QStringLiteral("gearName"), gearName(gearIndex)}});
}

void WsAxisHandler::onShifterDetectionResult(int gearIndex, int buttonIndex, bool success)
{
    emit pushEvent(QStringLiteral("shifter_detection_result"),
                   {{kGearIndex, gearIndex},
                    {QStringLiteral("gearName"), gearName(gearIndex)},
                    {kButtonIndex, buttonIndex},
                    {kSuccess, success}});
}

void WsAxisHandler::onShifterMappingChanged()
{
    emit pushEvent(QStringLiteral("shifter_mapping_changed"), shifterMappingJson());
}

void WsAxisHandler::onReverseModeChanged(bool active)
{
    const bool inReverseGear = m_controller->currentGear() == -1;
    emit pushEvent(QStringLiteral("reverse_mode_changed"),
                   {{QStringLiteral("active"), active},
                    {QStringLiteral("source"), inReverseGear ? QStringLiteral("shifter") : QStringLiteral("button")}});
}

void WsAxisHandler::onButtonDetectionStarted(const QString &deviceName)
{
    emit pushEvent(QStringLiteral("button_detection_started"), {{kDeviceName, deviceName}});
}

void WsAxisHandler::onButtonDetectionResult(int buttonIndex, bool success)
{
    emit pushEvent(QStringLiteral("button_detection_result"), {{kButtonIndex, buttonIndex}, {kSuccess, success}});
}

void WsAxisHandler::onFfbLevel(float level)
{
    m_pendingLevel = level;
    m_levelPending = true;
}

void WsAxisHandler::pushFfbLevel()
{
    if (!m_levelPending)
        return;
    m_levelPending = false;
    emit pushEvent(QStringLiteral("event_wheel_ffb_level"), {{QStringLiteral("level"), double(m_pendingLevel)}});
}

void WsAxisHandler::pushReceiverFfb(ReceiverFfbState state)
{
    emit pushEvent(QStringLiteral("event_receiver_ffb"),
                   {{QStringLiteral("state"), CorvaneController::detectionStateName(state)}});
}

} // namespace corvane
