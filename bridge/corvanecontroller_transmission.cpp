#include "bridge/corvanecontroller.h"

#include <QDebug>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#include "bridge/corvaneserialport.h"
#include "bridge/devicesecurity.h"
#include "bridge/steeringmonitor.h"
#include "profiles/channelvalue.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "platform/storage/filewriter.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

void CorvaneController::startTransmission()
{
    if (m_running)
        return;
    if (m_configMode) {
        emit errorOccurred(tr("Stop configuring before starting transmission"));
        return;
    }
    if (!m_transmitterPort->isConnected()) {
        emit errorOccurred(tr("RP2040 Bridge not connected"));
        return;
    }
    if (!isTransmitterCleared()) {
        // An open port that does not drive says why; a transmitter that named itself is not
        // on the allow-list.
        const QString hint = transmitterStatus().hint;
        emit errorOccurred(hint.isEmpty() ? tr("Transmitter device is not authorized. Cannot start transmission.") : hint);
        return;
    }
    // Judged on the controls as they are now: a device connected a moment ago (auto-start runs
    // inside its connect) has not been read yet, and reads released whatever its pedal does.
    readControllers();
    if (isHelicopterMode()) {
        if (!m_heliJoystick->isConnected()) {
            emit errorOccurred(tr("Joystick not connected"));
            return;
        }
        if (const QString refusal = heliIdleRefusal(true); !refusal.isEmpty()) {
            emit errorOccurred(refusal);
            return;
        }
    } else {
        if (!m_wheelBase->isConnected()) {
            emit errorOccurred(tr("Wheel base not connected"));
            return;
        }
        QString message;
        checkPedalsReleased(message);
        if (!message.isEmpty()) {
            emit errorOccurred(message);
            return;
        }
    }

    m_running = true;
    m_stoppedByUser = false;
    m_runningHelicopter = isHelicopterMode();
    m_frameCount = 0;
    m_steeringMonitor->reset();
    m_smoothedThrottleValid = false;
    resetMappingState();
    m_softStartActive = m_axisSettings.softStartEnabled;
    m_softStartElapsedMs = 0;
    m_heliSoftStartActive = isHelicopterMode() && activeHelicopterConfig().fly.softStart;
    m_heliSoftStartElapsedMs = 0;
    m_heliFilterHold.fill(0);
    m_heliFilterPrimed = false;
    m_startThrottleCheckActive = m_axisSettings.stuckThrottleDetectionEnabled;
    // The checks above pass a pedal set or a lever yet to report: its connect's hold stays.
    m_throttleHeldUntilReleased = m_throttleHoldAwaitsReport;
    m_startThrottleCheckTicks = 0;
    m_previousThrottle = 0.0f;
    m_smoothedThrottleOut
        = m_axisSettings.escMode != 0 ? static_cast<float>(m_axisSettings.escNeutral) : 992.0f;
    m_transmitTimer->start(TickMs);
    serialWrite(QByteArrayLiteral("START\n"));
    setReceiverFfbState(ReceiverFfbWaiting);
    m_receiverFfbWaitTimer->start();
    m_lastGForceSequence = -1;
    emit runningChanged(true);
}

bool CorvaneController::canStartTransmission() const
{
    // An open port that never gave the transmitter's ID drives nothing.
    if (!isTransmitterAnswered())
        return false;
    if (isHelicopterMode())
        return m_heliJoystick->isConnected();
    if (!m_wheelBase->isConnected())
        return false;
    if (m_wheelBase->axisMapping().combinedPedals)
        return true;
    return m_pedals->isConnected();
}

void CorvaneController::checkPedalsReleased(QString &message) const
{
    QStringList pressed;
    if (processAxis(m_axisSettings.throttle, throttle(), false) > 0.05f)
        pressed << tr("throttle");
    if (processAxis(m_axisSettings.brake, brake(), false) > 0.05f)
        pressed << tr("brake");
    if (pressed.isEmpty())
        message.clear();
    else if (pressed.size() == 1)
        message = tr("Release the %1 pedal before starting transmission.").arg(pressed.first());
    else
        message = tr("Release the %1 and %2 pedals before starting transmission.")
                      .arg(pressed.at(0), pressed.at(1));
}

void CorvaneController::stopTransmissionAndHold()
{
    m_stoppedByUser = true;
    stopTransmissionWithoutHold();
}

void CorvaneController::endRunForUser()
{
    if (m_running)
        stopTransmissionAndHold();
}

void CorvaneController::stopTransmissionWithoutHold()
{
    if (!m_running)
        return;
    m_transmitTimer->stop();
    if (m_transmitterPort->isConnected())
        serialWrite(QByteArrayLiteral("STOP\n"));
    m_running = false;
    m_receiverFfbWaitTimer->stop();
    if (m_receiverFfbState == ReceiverFfbWaiting)
        setReceiverFfbState(ReceiverFfbOff);
    resetMappingState();
    if (m_heliArmed) {
        m_heliArmed = false;
        emit heliArmedChanged(false);
    }
    emit runningChanged(false);
}

void CorvaneController::stopForSafety(const QString &reason)
{
    if (!m_running)
        return;
    stopTransmissionAndHold();
    emit errorOccurred(tr("Transmission stopped for safety: %1. Verify the pedals and press Start "
                          "Transmission again.")
                           .arg(reason));
}

void CorvaneController::sendChannels()
{
    char frame[CrsfProtocol::RcChannelsFrameSize];
    CrsfProtocol::buildRcChannelsFrame(m_channels, frame);
    m_transmitterPort->write(QByteArray::fromRawData(frame, sizeof frame));
    m_keepaliveStopwatch.restart();
    ++m_frameCount;
    emit frameCountChanged(m_frameCount);
    emit frameSent(m_frameCount);
}

namespace {

// The fields that change what the car does with the pedals and the wheel this instant.
bool sameResponse(const AxisConfig &a, const AxisConfig &b)
{
    return a.inverted == b.inverted && a.deadzone == b.deadzone && a.minOutput == b.minOutput
        && a.maxOutput == b.maxOutput && a.curve == b.curve && a.curveExponent == b.curveExponent
        && a.useCalibration == b.useCalibration && a.inputMin == b.inputMin
        && a.inputMax == b.inputMax && a.inputCenter == b.inputCenter;
}

} // namespace

void CorvaneController::stopIfResponseChanges(const AxisSettings &next)
{
    if (!m_running)
        return;
    const AxisSettings &old = m_axisSettings;
    const bool changed = !sameResponse(old.steering, next.steering)
        || !sameResponse(old.throttle, next.throttle) || !sameResponse(old.brake, next.brake)
        || !sameResponse(old.clutch, next.clutch) || old.wheelRotationDeg != next.wheelRotationDeg
        || old.steeringAngleDeg != next.steeringAngleDeg || old.escMode != next.escMode
        || old.escNeutral != next.escNeutral || old.escFullForward != next.escFullForward
        || old.escFullReverse != next.escFullReverse;
    if (changed)
        stopForSafety(tr("axis calibration changed"));
}

bool CorvaneController::setAxisSettings(const AxisSettings &settings)
{
    AxisSettings limited = settings;
    limited.limitChannelValues();
    stopIfResponseChanges(limited);
    m_axisSettings = limited;
    applyWheelRotationOverride();
    m_profiles->setAxisSettings(limited);
    return m_profiles->saveActiveProfile();
}

bool CorvaneController::setButtonMappings(const ButtonMappingSet &mappings)
{
    m_buttonMappings = mappings;
    m_buttonMappings.limitChannelValues();
    m_profiles->setButtonMappings(m_buttonMappings);
    return m_profiles->saveActiveProfile();
}

void CorvaneController::setSteeringCalibration(int left, int center, int right)
{
    m_axisSettings.steeringLeft = limitChannelValue(left);
    m_axisSettings.steeringCenter = limitChannelValue(center);
    m_axisSettings.steeringRight = limitChannelValue(right);
}

float CorvaneController::steering() const
{
    return m_wheelBase->isConnected() ? m_wheelBase->roleAxisValue(0) : 0.0f;
}

float CorvaneController::pedalRole(int role) const
{
    if (m_pedals->isConnected())
        return m_pedals->roleAxisValue(role);
    if (m_wheelBase->isConnected())
        return m_wheelBase->roleAxisValue(role);
    return -1.0f;
}

float CorvaneController::throttle() const
{
    return pedalRole(1);
}
float CorvaneController::brake() const
{
    return pedalRole(2);
}
float CorvaneController::clutch() const
{
    return pedalRole(3);
}

float CorvaneController::wheelAngleDeg() const
{
    const int r = m_wheelRotationOverrideDeg >= 1 ? m_wheelRotationOverrideDeg
                                                  : m_axisSettings.wheelRotationDeg;
    return static_cast<float>(r) * steering() * 0.5f;
}

QString CorvaneController::vehicleType() const
{
    return m_profiles->activeVehicleType();
}

void CorvaneController::loadLoungeState()
{
    const auto stored = [this](const char *key, const QVariant &fallback) {
        return m_settings->value(QLatin1String("lounge/") + QLatin1String(key), fallback);
    };
    m_lounge.stopped = stored("stopped", false).toBool();
    m_lounge.stopReason = stored("stopReason", QString()).toString();
    m_lounge.pitLimiter = stored("pitLimiter", false).toBool();
    // A negative cap would hold the throttle channel below neutral with the pedals released.
    m_lounge.pitLimiterPercent = qMax(0, stored("pitLimiterPercent", 30).toInt());
    m_lounge.speedCap = stored("speedCap", false).toBool();
    m_lounge.speedCapPercent = qMax(0, stored("speedCapPercent", 60).toInt());
    m_lounge.reverseAllowed = stored("reverseAllowed", true).toBool();
}

void CorvaneController::saveLoungeState(const QStringList &keys)
{
    const QVariantMap values{{QStringLiteral("stopped"), m_lounge.stopped},
                             {QStringLiteral("stopReason"), m_lounge.stopReason},
                             {QStringLiteral("pitLimiter"), m_lounge.pitLimiter},
                             {QStringLiteral("pitLimiterPercent"), m_lounge.pitLimiterPercent},
                             {QStringLiteral("speedCap"), m_lounge.speedCap},
                             {QStringLiteral("speedCapPercent"), m_lounge.speedCapPercent},
                             {QStringLiteral("reverseAllowed"), m_lounge.reverseAllowed},
                             {QStringLiteral("watchdogEnabled"), m_lounge.watchdogEnabled},
                             {QStringLiteral("watchdogTimeoutMs"), m_lounge.watchdogTimeoutMs}};
    QVariantMap changed;
    for (const QString &key : keys)
        changed.insert(key, values.value(key));
    // Handed over now, while a request that changed the state is being answered, so that its
    // reply waits for the disk.
    const auto write = [this, &changed] {
        m_settings->setValues(QStringLiteral("lounge"), changed, tr("Failed to save the race control state"));
    };
    // A stopped car must still be stopped after a restart: a failed write must not pass unseen.
    // A request's failure is answered to its client (and the desktop shows the settings file's
    // own toast); the station's own change, such as the watchdog's stop, is reported here.
    FileWriter::shared().batch(write, [self = QPointer<CorvaneController>(this)](const QString &failure) {
        if (self && !failure.isEmpty() && !FileWriter::shared().reportingFor())
            emit self->errorOccurred(tr("Failed to save the race control state"));
    });
}

void CorvaneController::onSettingsChangedOnDisk(const QStringList &keys)
{
    // A hand edit or a tool changed the lounge state: the car drives on what the file holds, as
    // the next start would; a release that way re-arms the throttle as race control's does.
    if (std::none_of(keys.cbegin(), keys.cend(), [](const QString &key) { return key.startsWith(QLatin1String("lounge/")); }))
        return;
    const bool wasStopped = m_lounge.stopped;
    loadLoungeState();
    qInfo().noquote() << "Race control: the lounge state was changed in the settings file";
    if (wasStopped && !m_lounge.stopped)
        rearmAfterStop();
    emit loungeStateChanged();
}

void CorvaneController::rearmAfterStop()
{
    m_throttleHeldUntilReleased = true;
    m_softStartActive = m_axisSettings.softStartEnabled;
    m_softStartElapsedMs = 0;
    m_loungeHeartbeat.restart();
}

void CorvaneController::raceControlStop(const QString &reason)
{
    // A stop of a stopped car keeps its reason, but is written again: a save of the stop may
    // have failed, and the request is answered by the disk.
    if (m_lounge.stopped) {
        saveLoungeState({QStringLiteral("stopped"), QStringLiteral("stopReason")});
        return;
    }
    m_lounge.stopped = true;
    m_lounge.stopReason = reason;
    qInfo().noquote() << QStringLiteral("Race control: STOP (%1)").arg(reason);
    saveLoungeState({QStringLiteral("stopped"), QStringLiteral("stopReason")});
    emit loungeStateChanged();
}

void CorvaneController::raceControlRelease()
{
    if (!m_lounge.stopped) {
        saveLoungeState({QStringLiteral("stopped"), QStringLiteral("stopReason")});
        return;
    }
    m_lounge.stopped = false;
    m_lounge.stopReason.clear();
    rearmAfterStop();
    qInfo() << "Race control: released";
    saveLoungeState({QStringLiteral("stopped"), QStringLiteral("stopReason")});
    emit loungeStateChanged();
}

void CorvaneController::setLoungePitLimiter(bool on, int percent)
{
    m_lounge.pitLimiter = on;
    m_lounge.pitLimiterPercent = qBound(0, percent, 100);
    saveLoungeState({QStringLiteral("pitLimiter"), QStringLiteral("pitLimiterPercent")});
    emit loungeStateChanged();
}

void CorvaneController::setLoungeSpeedCap(bool on, int percent)
{
    m_lounge.speedCap = on;
    m_lounge.speedCapPercent = qBound(0, percent, 100);
    saveLoungeState({QStringLiteral("speedCap"), QStringLiteral("speedCapPercent")});
    emit loungeStateChanged();
}

void CorvaneController::setLoungeReverseAllowed(bool allowed)
{
    m_lounge.reverseAllowed = allowed;
    saveLoungeState({QStringLiteral("reverseAllowed")});
    emit loungeStateChanged();
}

void CorvaneController::setLoungeWatchdog(bool on, int timeoutMs)
{
    armLoungeWatchdog(on, timeoutMs);
    // Kept on disk, so that a station that goes down armed, whichever way, comes back stopped.
    saveLoungeState({QStringLiteral("watchdogEnabled"), QStringLiteral("watchdogTimeoutMs")});
    emit loungeStateChanged();
}

void CorvaneController::armLoungeWatchdog(bool on, int timeoutMs)
{
    m_lounge.watchdogEnabled = on;
    m_lounge.watchdogTimeoutMs = qBound(500, timeoutMs, 30000);
    if (on) {
        m_loungeHeartbeat.restart();
        // The stop is due within one period after the time-out: a coarse timer may run 5 % late.
        m_loungeWatchdogTimer->setTimerType(Qt::PreciseTimer);
        m_loungeWatchdogTimer->start();
    } else {
        m_loungeWatchdogTimer->stop();
    }
}

void CorvaneController::restoreLoungeArming()
{
    // Armed when the program last ended, and not heard while it was down: the watchdog has run
    // out. Whichever race control is heard next may not know of a stop the car missed meanwhile,
    // so only a release frees it; a stop it had keeps its reason.
    if (!m_settings->value(QStringLiteral("lounge/watchdogEnabled"), false).toBool())
        return;
    armLoungeWatchdog(true, m_settings->value(QStringLiteral("lounge/watchdogTimeoutMs"), 2000).toInt());
    raceControlStop(QStringLiteral("connection_lost"));
}

void CorvaneController::loungeHeartbeat()
{
    m_loungeHeartbeat.restart();
}

void CorvaneController::onLoungeWatchdogTick()
{
    if (!m_lounge.watchdogEnabled || m_lounge.stopped)
        return;
    // A helicopter's output takes no car stop: its silence counts from the switch back to the car.
    if (isHelicopterMode()) {
        m_loungeHeartbeat.restart();
        return;
    }
    if (!m_loungeHeartbeat.isValid() || m_loungeHeartbeat.elapsed() > m_lounge.watchdogTimeoutMs)
        raceControlStop(QStringLiteral("connection_lost"));
}

} // namespace corvane
