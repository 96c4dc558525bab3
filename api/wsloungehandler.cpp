#include "api/wsloungehandler.h"

#include <QTimer>

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/devicesecurity.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kPercent = QStringLiteral("percent");
const QString kEnabled = QStringLiteral("enabled");
const QString kStopped = QStringLiteral("stopped");

} // namespace

WsLoungeHandler::WsLoungeHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(m_controller, &CorvaneController::loungeStateChanged, this, &WsLoungeHandler::pushLoungeState);
    connect(m_controller, &CorvaneController::runningChanged, this, &WsLoungeHandler::pushLoungeState);
    connect(m_controller, &CorvaneController::profileChanged, this, &WsLoungeHandler::pushLoungeState);
    // Race control follows every station at this pace, subscribed or not yet.
    m_liveTimer = new QTimer(this);
    m_liveTimer->setInterval(LivePushIntervalMs);
    connect(m_liveTimer, &QTimer::timeout, this, &WsLoungeHandler::pushLoungeLive);
    m_liveTimer->start();
}

QStringList WsLoungeHandler::supportedEvents() const
{
    return {QStringLiteral("get_lounge_state"),      QStringLiteral("action_lounge_stop"),
            QStringLiteral("action_lounge_release"), QStringLiteral("set_lounge_pit_limiter"),
            QStringLiteral("set_lounge_speed_cap"),  QStringLiteral("set_lounge_reverse"),
            QStringLiteral("set_lounge_watchdog"),   QStringLiteral("lounge_heartbeat")};
}

QJsonObject WsLoungeHandler::makeDataReply(const QString &event, const QJsonObject &data)
{
    return dataReply(event, data);
}

QJsonObject WsLoungeHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (m_controller->isHelicopterMode() && event.startsWith(QLatin1String("action_")))
        return errorReply(event, QStringLiteral("Race control is for RC cars; this station drives a helicopter"));

    // Race control's requests are never refused for their values: one it cannot use (absent,
    // of another type, not a whole number within int) keeps the station's, and the controller
    // clamps the percentages and the time-out.
    const LoungeSettings lounge = m_controller->loungeSettings();
    if (event == QLatin1String("action_lounge_stop")) {
        m_controller->raceControlStop(QStringLiteral("operator"));
    } else if (event == QLatin1String("action_lounge_release")) {
        m_controller->raceControlRelease();
    } else if (event == QLatin1String("set_lounge_pit_limiter")) {
        const int percent = readInt(data, kPercent, lounge.pitLimiterPercent);
        m_controller->setLoungePitLimiter(readBool(data, kEnabled, lounge.pitLimiter), percent);
    } else if (event == QLatin1String("set_lounge_speed_cap")) {
        const int percent = readInt(data, kPercent, lounge.speedCapPercent);
        m_controller->setLoungeSpeedCap(readBool(data, kEnabled, lounge.speedCap), percent);
    } else if (event == QLatin1String("set_lounge_reverse")) {
        m_controller->setLoungeReverseAllowed(readBool(data, QStringLiteral("allowed"), lounge.reverseAllowed));
    } else if (event == QLatin1String("set_lounge_watchdog")) {
        const int timeoutMs = readInt(data, QStringLiteral("timeoutMs"), lounge.watchdogTimeoutMs);
        m_controller->setLoungeWatchdog(readBool(data, kEnabled, lounge.watchdogEnabled), timeoutMs);
    } else if (event == QLatin1String("lounge_heartbeat")) {
        m_controller->loungeHeartbeat();
        return makeDataReply(event, {{kStopped, m_controller->isLoungeStopApplied()}});
    } else if (event != QLatin1String("get_lounge_state")) {
        return errorReply(event, QStringLiteral("Unhandled event in lounge handler"));
    }
    return makeDataReply(event, loungeStateJson());
}

bool WsLoungeHandler::isStop(const QString &event, const QJsonObject &) const
{
    return event == QLatin1String("action_lounge_stop");
}

bool WsLoungeHandler::appliesOnArrival(const QString &event, const QJsonObject &data) const
{
    return event == QLatin1String("lounge_heartbeat") || isStop(event, data);
}

bool WsLoungeHandler::stopHolds(const QString &, const QJsonObject &) const
{
    return m_controller->loungeSettings().stopped;
}

QJsonObject WsLoungeHandler::stateOf(const QString &event, const QJsonObject &)
{
    if (event == QLatin1String("lounge_heartbeat"))
        return {{kStopped, m_controller->isLoungeStopApplied()}};
    return loungeStateJson();
}

QJsonObject WsLoungeHandler::refusedReply(const QString &event, const QString &message) const
{
    return errorReply(event, message);
}

QJsonObject WsLoungeHandler::loungeStateJson() const
{
    const LoungeSettings lounge = m_controller->loungeSettings();
    const QString vehicleType = m_controller->vehicleType();
    return {{QStringLiteral("deviceId"), m_controller->deviceSecurity()->currentDeviceId()},
            {QStringLiteral("profileName"), m_controller->profileManager()->activeProfileName()},
            {QStringLiteral("vehicleType"), vehicleType},
            {QStringLiteral("supported"), vehicleType != VehicleType::Helicopter},
            // Race control reads the station's platform word; stations answer as they always have.
            {QStringLiteral("platform"), QStringLiteral("windows")},
            {kStopped, m_controller->isLoungeStopApplied()},
            {QStringLiteral("stopReason"), m_controller->isLoungeStopApplied() ? lounge.stopReason : QString()},
            {QStringLiteral("pitLimiter"), lounge.pitLimiter},
            {QStringLiteral("pitLimiterPercent"), lounge.pitLimiterPercent},
            {QStringLiteral("speedCap"), lounge.speedCap},
            {QStringLiteral("speedCapPercent"), lounge.speedCapPercent},
            {QStringLiteral("reverseAllowed"), lounge.reverseAllowed},
            {QStringLiteral("watchdog"), lounge.watchdogEnabled},
            {QStringLiteral("watchdogTimeoutMs"), lounge.watchdogTimeoutMs},
            {QStringLiteral("live"), loungeLiveJson()}};
}

QJsonObject WsLoungeHandler::loungeLiveJson() const
{
    // Built ten times a second for the program's whole life: cached values and three axis
    // responses only, no device polling.
    const AxisSettings axes = m_controller->axisSettings();
    const float steering = CorvaneController::processAxis(axes.steering, m_controller->steering(), true);
    const float throttle = CorvaneController::processAxis(axes.throttle, m_controller->throttle(), false);
    const float brake = CorvaneController::processAxis(axes.brake, m_controller->brake(), false);
    const int linkQuality = m_controller->hasLinkStatistics() ? int(m_controller->linkStatistics().linkQuality) : -1;
    return {{QStringLiteral("running"), m_controller->isRunning()},
            {QStringLiteral("transmitterConnected"), m_controller->isSerialConnected()},
            {QStringLiteral("wheelConnected"), m_controller->isWheelBaseConnected()},
            {QStringLiteral("carLinked"), m_controller->isCarLinked()},
            {QStringLiteral("linkQuality"), linkQuality},
            {QStringLiteral("steering"), double(steering)},
            {QStringLiteral("throttle"), double(throttle)},
            {QStringLiteral("brake"), double(brake)},
            {QStringLiteral("gear"), m_controller->currentGear()},
            {QStringLiteral("pitLimiterActive"), m_controller->isPitLimiterActive()},
            {kStopped, m_controller->isLoungeStopApplied()}};
}

void WsLoungeHandler::pushLoungeState()
{
    emit pushEvent(QStringLiteral("event_lounge_state"), loungeStateJson());
}

void WsLoungeHandler::pushLoungeLive()
{
    emit pushEvent(QStringLiteral("event_lounge_live"), loungeLiveJson());
}

} // namespace corvane
