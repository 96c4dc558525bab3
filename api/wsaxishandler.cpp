#include "api/wsaxishandler.h"

#include <QJsonArray>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <array>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"

namespace corvane {

using namespace wsjson;

namespace {

constexpr int kEscModeStandard = 0;
constexpr int kEscModeCustom = 2;
constexpr int kMinWheelRotationDeg = 90;
constexpr int kMaxWheelRotationDeg = 2520;

const QString kSteeringLeft = QStringLiteral("steeringLeft");
const QString kSteeringCenter = QStringLiteral("steeringCenter");
const QString kSteeringRight = QStringLiteral("steeringRight");

QString escModeName(int mode)
{
    return mode == kEscModeCustom ? QStringLiteral("custom") : QStringLiteral("standard");
}

// The ESC mode by its name, as the app sees it.
void readEscMode(const FieldReader &in, const char *key, int &mode)
{
    const qsizetype choice = in.readChoice(key, {"standard", "custom"});
    if (choice >= 0)
        mode = choice == 1 ? kEscModeCustom : kEscModeStandard;
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

// The ranges of the desktop's axis configuration and drive settings dialogs.
constexpr double kMaxDeadzone = 0.5;
constexpr double kMinCurveExponent = 1.0;
constexpr double kMaxCurveExponent = 4.0;
constexpr int kMinDecelRate = 1;
constexpr int kMaxPercent = 100;

std::array<AxisConfig *, 4> axesOf(AxisSettings &s)
{
    return {&s.steering, &s.throttle, &s.brake, &s.clutch};
}

void mergeEscEndPoints(const FieldReader &in, const char *neutral, const char *forward, const char *reverse,
                       AxisSettings &s)
{
    in.readChannel(neutral, s.escNeutral);
    in.readChannel(forward, s.escFullForward);
    in.readChannel(reverse, s.escFullReverse);
}

void mergeSteeringEndPoints(const FieldReader &in, int &left, int &center, int &right)
{
    in.readChannel(kSteeringLeft, left);
    in.readChannel(kSteeringCenter, center);
    in.readChannel(kSteeringRight, right);
}

// An angle below 1 means the whole wheel; otherwise it lies where the dialog's slider can put it.
void mergeSteeringAngle(const FieldReader &in, int &angleDeg)
{
    const char *key = "steeringAngleDeg";
    int angle = angleDeg;
    in.readWholeNumber(key, angle);
    if (angle == angleDeg)
        return;
    if (angle < 1)
        angleDeg = 0;
    else if (angle < kMinWheelRotationDeg || angle > kMaxWheelRotationDeg)
        in.refuse(key, QStringLiteral("0 or a whole number from %1 to %2")
                           .arg(kMinWheelRotationDeg)
                           .arg(kMaxWheelRotationDeg));
    else
        angleDeg = angle;
}

} // namespace

void WsAxisHandler::mergeAxisResponse(const FieldReader &in, AxisConfig &axis)
{
    in.readBool("inverted", axis.inverted);
    in.readNumber("deadzone", axis.deadzone, 0.0, kMaxDeadzone);
    in.readNumber("minOutput", axis.minOutput, 0.0, 1.0);
    in.readNumber("maxOutput", axis.maxOutput, 0.0, 1.0);
    in.readNumber("curveExponent", axis.curveExponent, kMinCurveExponent, kMaxCurveExponent);
    in.readBool("useCalibration", axis.useCalibration);
    // Calibrated points are raw axis readings.
    in.readNumber("inputMin", axis.inputMin, -1.0, 1.0);
    in.readNumber("inputMax", axis.inputMax, -1.0, 1.0);
    in.readNumber("inputCenter", axis.inputCenter, -1.0, 1.0);
}

void WsAxisHandler::mergeAxisValues(const FieldReader &in, AxisSettings &s)
{
    in.readText("escPresetId", s.escPresetId, MaxIdChars);
    mergeEscEndPoints(in, "escNeutral", "escFullForward", "escFullReverse", s);
    mergeSteeringEndPoints(in, s.steeringLeft, s.steeringCenter, s.steeringRight);
    in.clampInt("wheelRotationDeg", s.wheelRotationDeg, kMinWheelRotationDeg, kMaxWheelRotationDeg);
    mergeSteeringAngle(in, s.steeringAngleDeg);
    in.readBool("smoothDeceleration", s.smoothDeceleration);
    in.readInt("decelRate", s.decelRate, kMinDecelRate, kMaxPercent);
    in.readBool("pitLimiterEnabled", s.pitLimiterEnabled);
    in.readChannel("pitLimiterValue", s.pitLimiterValue);
    in.readBool("gearThrottleLimitEnabled", s.gearThrottleLimitEnabled);
    const FieldReader limits = in.array("gearThrottleLimitPercent");
    for (qsizetype i = 0; i < std::min<qsizetype>(limits.size(), qsizetype(s.gearThrottleLimitPercent.size())); ++i)
        limits.readInt(i, s.gearThrottleLimitPercent[size_t(i)], 0, kMaxPercent);
    in.readBool("reverseEnabled", s.reverseEnabled);
    in.readInt("reverseButtonIndex", s.reverseButtonIndex, -1, InputDevice::ButtonCount - 1);
    in.readInt("reverseMaxPercent", s.reverseMaxPercent, 0, kMaxPercent);
}

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
    const FieldReader in(data);
    const FieldReader axes = in.array("axes");
    const auto targets = axesOf(s);
    for (qsizetype i = 0; i < axes.size(); ++i) {
        if (i >= qsizetype(targets.size())) {
            axes.refuse(i, QStringLiteral("left out: there are %1 axes").arg(targets.size()));
            break;
        }
        const FieldReader axis = axes.object(i);
        mergeAxisResponse(axis, *targets[size_t(i)]);
        const qsizetype curve = axis.readChoice("curve", {"linear", "exponential", "logarithmic"});
        if (curve >= 0)
            targets[size_t(i)]->curve = int(curve);
    }
    readEscMode(in, "escMode", s.escMode);
    mergeAxisValues(in, s);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    const StoreErrors errors(m_controller->profileManager());
    m_controller->setAxisSettings(s);
    return errors.reply(event);
}

QJsonObject WsAxisHandler::handleSetSteeringTrimLive(const QString &event, const QJsonObject &data)
{
    const AxisSettings live = m_controller->axisSettings();
    int left = live.steeringLeft;
    int center = live.steeringCenter;
    int right = live.steeringRight;
    const FieldReader in(data);
    mergeSteeringEndPoints(in, left, center, right);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
    if (!m_trimOpen) {
        m_trimLeft = live.steeringLeft;
        m_trimCenter = live.steeringCenter;
        m_trimRight = live.steeringRight;
        m_trimOpen = true;
    }
    // Live only: the transmit loop takes the values from its next tick, nothing is saved.
    m_controller->setSteeringCalibration(left, center, right);
    return actionReply(event, true);
}

QJsonObject WsAxisHandler::handleApplySteeringTrim(const QString &event)
{
    const QPointer<ProfileManager> store = m_controller->profileManager();
    const AxisSettings applied = m_controller->axisSettings();
    const QString profileId = store->activeProfileId();
    const bool trimmed = m_trimOpen;
    // Closed once the trim is on disk. Not saved: it stays open, to be reverted or applied again,
    // and the profile holds the remembered end points again, as its file does, so that no later
    // save stores what the car may no longer use.
    const auto stored = [self = QPointer<WsAxisHandler>(this), store, applied, profileId, trimmed](const QString &failure) {
        if (!self || !store || !trimmed)
            return;
        if (failure.isEmpty()) {
            self->m_trimOpen = false;
            return;
        }
        Profile *profile = store->mutableProfile(profileId);
        AxisSettings *kept = profile ? &profile->axisSettings : nullptr;
        if (kept && kept->steeringLeft == applied.steeringLeft && kept->steeringCenter == applied.steeringCenter
            && kept->steeringRight == applied.steeringRight) {
            kept->steeringLeft = self->m_trimLeft;
            kept->steeringCenter = self->m_trimCenter;
            kept->steeringRight = self->m_trimRight;
        }
    };
    FileWriter::shared().batch([&] { m_controller->setAxisSettings(applied); }, stored);
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
    const FieldReader in(data);
    readEscMode(in, "mode", s.escMode);
    mergeEscEndPoints(in, "neutral", "fullForward", "fullReverse", s);
    in.readText("presetId", s.escPresetId, MaxIdChars);
    if (!in.ok())
        return actionReply(event, false, in.refusal());
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
