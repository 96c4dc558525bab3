#include "api/wsaxishandler.h"

#include <QJsonArray>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>

#include "api/storeerrors.h"
#include "api/wsjson.h"

namespace corvane {

using namespace wsjson;

namespace {

constexpr int kEscModeStandard = 0;
constexpr int kEscModeCustom = 2;
constexpr int kMinWheelRotationDeg = 90;
constexpr int kMaxWheelRotationDeg = 2520;
constexpr int kNoGearLimit = 100;

const QString kSteeringLeft = QStringLiteral("steeringLeft");
const QString kSteeringCenter = QStringLiteral("steeringCenter");
const QString kSteeringRight = QStringLiteral("steeringRight");

QString escModeName(int mode)
{
    return mode == kEscModeCustom ? QStringLiteral("custom") : QStringLiteral("standard");
}

int escModeFromName(const QJsonValue &value)
{
    return value.toString() == QLatin1String("custom") ? kEscModeCustom : kEscModeStandard;
}

QString curveName(int curve)
{
    switch (curve) {
    case 1:
        return QStringLiteral("exponential");
    case 2:
        return QStringLiteral("logarithmic");
    default:
        return QStringLiteral("linear");
    }
}

int curveFromName(const QJsonValue &value)
{
    const QString name = value.toString();
    if (name == QLatin1String("exponential"))
        return 1;
    if (name == QLatin1String("logarithmic"))
        return 2;
    return 0;
}

// A present key replaces the field with the value read as its type, the type's default when the
// value has another type (0 also for a number that is not whole).
void mergeInt(const QJsonObject &in, const QString &key, int &field)
{
    if (in.contains(key))
        field = readInt(in, key, 0);
}

void mergeBool(const QJsonObject &in, const QString &key, bool &field)
{
    if (in.contains(key))
        field = in.value(key).toBool(false);
}

// A number narrowed to float; one that does not fit (1e39 becomes infinity) keeps the field,
// as the app never means a value no setting can hold.
void mergeFloat(const QJsonObject &in, const QString &key, float &field)
{
    if (!in.contains(key))
        return;
    const float value = float(in.value(key).toDouble(0.0));
    if (std::isfinite(value))
        field = value;
}

QJsonObject axisJson(const AxisConfig &axis)
{
    return {{QStringLiteral("name"), axis.name},
            {QStringLiteral("inverted"), axis.inverted},
            {QStringLiteral("deadzone"), double(axis.deadzone)},
            {QStringLiteral("minOutput"), double(axis.minOutput)},
            {QStringLiteral("maxOutput"), double(axis.maxOutput)},
            {QStringLiteral("curve"), curveName(axis.curve)},
            {QStringLiteral("curveExponent"), double(axis.curveExponent)},
            {QStringLiteral("useCalibration"), axis.useCalibration},
            {QStringLiteral("inputMin"), double(axis.inputMin)},
            {QStringLiteral("inputMax"), double(axis.inputMax)},
            {QStringLiteral("inputCenter"), double(axis.inputCenter)}};
}

void mergeAxis(const QJsonObject &in, AxisConfig &axis)
{
    mergeBool(in, QStringLiteral("inverted"), axis.inverted);
    mergeFloat(in, QStringLiteral("deadzone"), axis.deadzone);
    mergeFloat(in, QStringLiteral("minOutput"), axis.minOutput);
    mergeFloat(in, QStringLiteral("maxOutput"), axis.maxOutput);
    if (in.contains(QLatin1String("curve")))
        axis.curve = curveFromName(in.value(QLatin1String("curve")));
    mergeFloat(in, QStringLiteral("curveExponent"), axis.curveExponent);
    mergeBool(in, QStringLiteral("useCalibration"), axis.useCalibration);
    mergeFloat(in, QStringLiteral("inputMin"), axis.inputMin);
    mergeFloat(in, QStringLiteral("inputMax"), axis.inputMax);
    mergeFloat(in, QStringLiteral("inputCenter"), axis.inputCenter);
}

std::array<AxisConfig *, 4> axesOf(AxisSettings &s)
{
    return {&s.steering, &s.throttle, &s.brake, &s.clutch};
}

void mergeEscEndPoints(const QJsonObject &in, const QString &neutral, const QString &forward,
                       const QString &reverse, AxisSettings &s)
{
    mergeInt(in, neutral, s.escNeutral);
    mergeInt(in, forward, s.escFullForward);
    mergeInt(in, reverse, s.escFullReverse);
}

void mergeAxisSettings(const QJsonObject &in, AxisSettings &s)
{
    const QJsonArray axes = in.value(QLatin1String("axes")).toArray();
    const auto targets = axesOf(s);
    for (qsizetype i = 0; i < std::min<qsizetype>(axes.size(), qsizetype(targets.size())); ++i) {
        if (axes.at(i).isObject())
            mergeAxis(axes.at(i).toObject(), *targets[size_t(i)]);
    }
    if (in.contains(QLatin1String("escMode")))
        s.escMode = escModeFromName(in.value(QLatin1String("escMode")));
    if (in.contains(QLatin1String("escPresetId")))
        s.escPresetId = in.value(QLatin1String("escPresetId")).toString();
    mergeEscEndPoints(in, QStringLiteral("escNeutral"), QStringLiteral("escFullForward"),
                      QStringLiteral("escFullReverse"), s);
    mergeInt(in, kSteeringLeft, s.steeringLeft);
    mergeInt(in, kSteeringCenter, s.steeringCenter);
    mergeInt(in, kSteeringRight, s.steeringRight);
    if (in.contains(QLatin1String("wheelRotationDeg"))) {
        s.wheelRotationDeg = std::clamp(readInt(in, QStringLiteral("wheelRotationDeg"), 0),
                                        kMinWheelRotationDeg, kMaxWheelRotationDeg);
    }
    if (in.contains(QLatin1String("steeringAngleDeg"))) {
        const int angle = readInt(in, QStringLiteral("steeringAngleDeg"), 0);
        s.steeringAngleDeg = angle < 1 ? 0 : angle;
    }
    mergeBool(in, QStringLiteral("smoothDeceleration"), s.smoothDeceleration);
    mergeInt(in, QStringLiteral("decelRate"), s.decelRate);
    mergeBool(in, QStringLiteral("pitLimiterEnabled"), s.pitLimiterEnabled);
    mergeInt(in, QStringLiteral("pitLimiterValue"), s.pitLimiterValue);
    mergeBool(in, QStringLiteral("gearThrottleLimitEnabled"), s.gearThrottleLimitEnabled);
    const QJsonArray limits = in.value(QLatin1String("gearThrottleLimitPercent")).toArray();
    for (qsizetype i = 0; i < std::min<qsizetype>(limits.size(), qsizetype(s.gearThrottleLimitPercent.size())); ++i)
        s.gearThrottleLimitPercent[size_t(i)] = limits.at(i).toInt(kNoGearLimit);
    mergeBool(in, QStringLiteral("reverseEnabled"), s.reverseEnabled);
    mergeInt(in, QStringLiteral("reverseButtonIndex"), s.reverseButtonIndex);
    mergeInt(in, QStringLiteral("reverseMaxPercent"), s.reverseMaxPercent);
}

} // namespace

WsAxisHandler::WsAxisHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(controller, &CorvaneController::shifterDetectionStarted, this, &WsAxisHandler::onShifterDetectionStarted);
    connect(controller, &CorvaneController::shifterDetectionResult, this, &WsAxisHandler::onShifterDetectionResult);
    connect(controller, &CorvaneController::shifterMappingChanged, this, &WsAxisHandler::onShifterMappingChanged);
    connect(controller, &CorvaneController::reverseModeChanged, this, &WsAxisHandler::onReverseModeChanged);
    connect(controller, &CorvaneController::buttonDetectionStarted, this, &WsAxisHandler::onButtonDetectionStarted);
    connect(controller, &CorvaneController::buttonDetectionResult, this, &WsAxisHandler::onButtonDetectionResult);
    connect(controller, &CorvaneController::ffbLevelReceived, this, &WsAxisHandler::onFfbLevel);
    m_streamTimer = new QTimer(this);
    m_streamTimer->setInterval(LevelStreamMs);
    connect(m_streamTimer, &QTimer::timeout, this, &WsAxisHandler::pushFfbLevel);
    m_streamTimer->start();
    connect(controller, &CorvaneController::receiverFfbStateChanged, this, &WsAxisHandler::pushReceiverFfb);
    m_pulseTimer = new QTimer(this);
    m_pulseTimer->setSingleShot(true);
    m_pulseTimer->setInterval(TestPulseMs);
    connect(m_pulseTimer, &QTimer::timeout, this, &WsAxisHandler::endTestPulse);
}

QStringList WsAxisHandler::supportedEvents() const
{
    return {QStringLiteral("get_axis_settings"),
            QStringLiteral("set_axis_settings"),
            QStringLiteral("set_steering_trim_live"),
            QStringLiteral("apply_steering_trim"),
            QStringLiteral("revert_steering_trim"),
            QStringLiteral("get_wheel_ffb"),
            QStringLiteral("set_wheel_ffb"),
            QStringLiteral("check_wheel_ffb"),
            QStringLiteral("action_test_wheel_ffb"),
            QStringLiteral("get_esc_mode"),
            QStringLiteral("set_esc_mode"),
            QStringLiteral("get_esc_modes"),
            QStringLiteral("get_wheelbase_axis_mapping"),
            QStringLiteral("set_wheelbase_axis_mapping"),
            QStringLiteral("get_pedals_axis_mapping"),
            QStringLiteral("set_pedals_axis_mapping"),
            QStringLiteral("get_available_presets"),
            QStringLiteral("get_shifter_mapping"),
            QStringLiteral("set_shifter_mapping"),
            QStringLiteral("start_shifter_detection"),
            QStringLiteral("cancel_shifter_detection"),
            QStringLiteral("start_button_detection"),
            QStringLiteral("stop_button_detection")};
}

QJsonObject WsAxisHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("get_axis_settings"))
        return dataReply(event, axisSettingsJson());
    if (event == QLatin1String("set_axis_settings"))
        return handleSetAxisSettings(event, data);
    if (event == QLatin1String("set_steering_trim_live"))
        return handleSetSteeringTrimLive(event, data);
    if (event == QLatin1String("apply_steering_trim"))
        return handleApplySteeringTrim(event);
    if (event == QLatin1String("revert_steering_trim"))
        return handleRevertSteeringTrim(event);
    if (event == QLatin1String("get_esc_mode"))
        return dataReply(event, escModeJson());
    if (event == QLatin1String("set_esc_mode"))
        return handleSetEscMode(event, data);
    if (event == QLatin1String("get_esc_modes"))
        return dataReply(event, escModesJson());
    return handleDeviceEvent(event, data);
}

QJsonObject WsAxisHandler::axisSettingsJson() const
{
    AxisSettings s = m_controller->axisSettings();
    QJsonArray axes;
    for (const AxisConfig *axis : axesOf(s))
        axes.append(axisJson(*axis));
    QJsonArray limits;
    for (int percent : s.gearThrottleLimitPercent)
        limits.append(percent);
    return {{QStringLiteral("axes"), axes},
            {QStringLiteral("escMode"), escModeName(s.escMode)},
            {QStringLiteral("escPresetId"), s.escPresetId},
            {QStringLiteral("escNeutral"), s.escNeutral},
            {QStringLiteral("escFullForward"), s.escFullForward},
            {QStringLiteral("escFullReverse"), s.escFullReverse},
            {kSteeringLeft, s.steeringLeft},
            {kSteeringCenter, s.steeringCenter},
            {kSteeringRight, s.steeringRight},
            {QStringLiteral("wheelRotationDeg"), s.wheelRotationDeg},
            {QStringLiteral("steeringAngleDeg"), s.steeringAngleDeg},
            {QStringLiteral("smoothDeceleration"), s.smoothDeceleration},
            {QStringLiteral("decelRate"), s.decelRate},
            {QStringLiteral("pitLimiterEnabled"), s.pitLimiterEnabled},
            {QStringLiteral("pitLimiterValue"), s.pitLimiterValue},
            {QStringLiteral("gearThrottleLimitEnabled"), s.gearThrottleLimitEnabled},
            {QStringLiteral("gearThrottleLimitPercent"), limits},
            {QStringLiteral("reverseEnabled"), s.reverseEnabled},
            {QStringLiteral("reverseButtonIndex"), s.reverseButtonIndex},
            {QStringLiteral("reverseMaxPercent"), s.reverseMaxPercent},
            {QStringLiteral("reverseModeActive"), m_controller->isReverseActive()}};
}

QJsonObject WsAxisHandler::handleSetAxisSettings(const QString &event, const QJsonObject &data)
{
    AxisSettings s = m_controller->axisSettings();
    mergeAxisSettings(data, s);
    const StoreErrors errors(m_controller->profileManager());
    m_controller->setAxisSettings(s);
    return errors.reply(event);
}

QJsonObject WsAxisHandler::handleSetSteeringTrimLive(const QString &event, const QJsonObject &data)
{
    const AxisSettings live = m_controller->axisSettings();
    if (!m_trimOpen) {
        m_trimLeft = live.steeringLeft;
        m_trimCenter = live.steeringCenter;
        m_trimRight = live.steeringRight;
        m_trimOpen = true;
    }
    // Live only: the transmit loop takes the values from its next tick, nothing is saved.
    m_controller->setSteeringCalibration(readInt(data, kSteeringLeft, live.steeringLeft),
                                         readInt(data, kSteeringCenter, live.steeringCenter),
                                         readInt(data, kSteeringRight, live.steeringRight));
    return actionReply(event, true);
}

QJsonObject WsAxisHandler::handleApplySteeringTrim(const QString &event)
{
    const StoreErrors errors(m_controller->profileManager());
    m_controller->setAxisSettings(m_controller->axisSettings());
    // Not saved: the trim stays open, so that it can still be reverted or applied again.
    if (errors.any())
        return errors.reply(event);
    m_trimOpen = false;
    return actionReply(event, true);
}

QJsonObject WsAxisHandler::handleRevertSteeringTrim(const QString &event)
{
    if (m_trimOpen) {
        m_controller->setSteeringCalibration(m_trimLeft, m_trimCenter, m_trimRight);
        m_trimOpen = false;
    }
    QJsonObject reply = actionReply(event, true);
    reply.insert(QStringLiteral("data"),
                 QJsonObject{{kSteeringLeft, m_trimLeft}, {kSteeringCenter, m_trimCenter}, {kSteeringRight, m_trimRight}});
    return reply;
}

QJsonObject WsAxisHandler::escModeJson() const
{
    const AxisSettings s = m_controller->axisSettings();
    return {{QStringLiteral("mode"), escModeName(s.escMode)},
            {QStringLiteral("neutral"), s.escNeutral},
            {QStringLiteral("fullForward"), s.escFullForward},
            {QStringLiteral("fullReverse"), s.escFullReverse},
            {QStringLiteral("presetId"), s.escPresetId}};
}

QJsonObject WsAxisHandler::handleSetEscMode(const QString &event, const QJsonObject &data)
{
    AxisSettings s = m_controller->axisSettings();
    if (data.contains(QLatin1String("mode")))
        s.escMode = escModeFromName(data.value(QLatin1String("mode")));
    mergeEscEndPoints(data, QStringLiteral("neutral"), QStringLiteral("fullForward"), QStringLiteral("fullReverse"), s);
    if (data.contains(QLatin1String("presetId")))
        s.escPresetId = data.value(QLatin1String("presetId")).toString();
    const StoreErrors errors(m_controller->profileManager());
    m_controller->setAxisSettings(s);
    return errors.reply(event);
}

QJsonObject WsAxisHandler::escModesJson() const
{
    return {{QStringLiteral("modes"),
             QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("standard")},
                                    {QStringLiteral("label"), tr("Traxxas/Tamiya/Arma Standard")}},
                        QJsonObject{{QStringLiteral("id"), QStringLiteral("custom")},
                                    {QStringLiteral("label"), tr("Custom")}}}}};
}

} // namespace corvane
