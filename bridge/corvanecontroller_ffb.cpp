#include "bridge/corvanecontroller.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

#include "profiles/profile.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

constexpr int kSaveDelayMs = 500;
constexpr qint64 kStatsWindowMs = 1000;
constexpr qint64 kMotionMaxAgeMs = 300;
constexpr int kMinLinkQuality = 20;
// Beyond the full scale of any motion sensor a car carries: such a sample comes from a
// faulty frame and must not push the wheel.
constexpr float kMaxPlausibleG = 16.0f;

// Filter gains 1 - e^(-dt/tau) for dt = 20 ms.
const float kAlphaFollow = 1.0f - std::exp(-0.02f / 0.06f);
const float kAlphaDecay = 1.0f - std::exp(-0.02f / 0.25f);
const float kAlphaVertical = 1.0f - std::exp(-0.02f / 0.03f);
const float kAlphaVerticalSlow = 1.0f - std::exp(-0.04f);

constexpr float kSteerWeight = 0.35f;
constexpr float kLateralWeight = 0.6f;
constexpr float kMaxLongitudinal = 1.5f;
constexpr float kBumpThreshold = 0.05f;
constexpr float kBumpGain = 0.8f;
constexpr float kMaxBump = 0.35f;
constexpr float kIdleForce = 0.002f;
constexpr float kIdleMotion = 0.005f;
constexpr float kLevelStep = 0.002f;
constexpr float kSendStep = 0.003f;
constexpr int kRefreshTicks = 25;
// Below this magnitude the shaping lifts small forces over the wheel's own friction.
constexpr float kShapeKnee = 0.02f;
constexpr float kShapeFloor = 0.08f;
constexpr float kShapeSlope = 0.92f;

float unit(float value)
{
    return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
}

bool plausible(float g)
{
    return std::isfinite(g) && std::fabs(g) <= kMaxPlausibleG;
}

} // namespace

bool CorvaneController::startWheelFfb()
{
    if (!isWheelFfbAvailable())
        return false;
    if (!m_wheelBase->setForceFeedback(0.0f))
        return false;
    m_ffbLastSentForce = 0.0f;
    m_wheelBase->setAutoCenter(0.0f);
    if (m_wheelFfbCentering > 0.0f)
        m_wheelBase->setCentering(m_wheelFfbCentering);
    else
        m_wheelBase->stopCentering();
    m_wheelFfbEngaged = true;
    return true;
}

void CorvaneController::stopWheelFfb()
{
    m_wheelFfbEngaged = false;
    m_wheelBase->stopForceFeedback();
    m_wheelBase->stopCentering();
    m_wheelBase->setAutoCenter(m_wheelNativeCentering);
}

bool CorvaneController::setWheelForce(float force)
{
    if (!isWheelFfbAvailable())
        return false;
    return m_wheelBase->setForceFeedback(std::isnan(force) ? 0.0f : std::clamp(force, -1.0f, 1.0f));
}

float CorvaneController::shapeFfbForce(float force) const
{
    const float m = std::fabs(force) * m_wheelFfbStrength;
    if (!(m > 0.0f) || !std::isfinite(m))
        return 0.0f;
    const float shaped = std::min(1.0f, std::min(1.0f, m / kShapeKnee) * kShapeFloor + m * kShapeSlope);
    return std::copysign(shaped, force);
}

void CorvaneController::setWheelFfbStrength(float strength)
{
    m_wheelFfbStrength = unit(strength);
    scheduleWheelFfbSave();
}

void CorvaneController::setWheelFfbCentering(float centering)
{
    m_wheelFfbCentering = unit(centering);
    scheduleWheelFfbSave();
    if (!m_wheelFfbEngaged)
        return;
    if (m_wheelFfbCentering > 0.0f)
        m_wheelBase->setCentering(m_wheelFfbCentering);
    else
        m_wheelBase->stopCentering();
}

void CorvaneController::setWheelNativeCentering(float centering)
{
    m_wheelNativeCentering = unit(centering);
    if (!m_wheelFfbEngaged)
        m_wheelBase->setAutoCenter(m_wheelNativeCentering);
    scheduleWheelFfbSave();
}

void CorvaneController::setWheelFfbAutoEngage(bool on)
{
    m_wheelFfbAutoEngage = on;
    scheduleWheelFfbSave();
}

bool CorvaneController::isWheelFfbAvailable() const
{
    return m_wheelBase->isConnected() && m_wheelBase->hasForceFeedback();
}

FfbStatus CorvaneController::wheelBaseFfbStatus()
{
    return m_wheelBase->ffbStatus();
}

void CorvaneController::scheduleWheelFfbSave()
{
    if (m_wheelFfbLoading)
        return;
    if (!m_wheelFfbSaveTimer) {
        m_wheelFfbSaveTimer = new QTimer(this);
        m_wheelFfbSaveTimer->setSingleShot(true);
        m_wheelFfbSaveTimer->setInterval(kSaveDelayMs);
        m_wheelFfbSaveTimer->setTimerType(Qt::PreciseTimer);
        connect(m_wheelFfbSaveTimer, &QTimer::timeout, this, &CorvaneController::saveWheelFfb);
    }
    m_wheelFfbSaveTimer->start();
}

void CorvaneController::savePendingWheelFfb()
{
    if (!m_wheelFfbSaveTimer || !m_wheelFfbSaveTimer->isActive())
        return;
    m_wheelFfbSaveTimer->stop();
    // By the time a profile switch is announced the store already points at the new profile.
    Profile *owner = m_profiles->mutableProfile(m_wheelFfbProfileId);
    if (!owner)
        return;
    owner->wheelFfb = currentWheelFfb();
    owner->modifiedAt = QDateTime::currentDateTime();
    m_profiles->saveProfile(m_wheelFfbProfileId);
}

void CorvaneController::loadWheelFfb()
{
    savePendingWheelFfb();
    const WheelFfbSettings settings = m_profiles->wheelFfb();
    m_wheelFfbLoading = true;
    m_wheelFfbStrength = unit(settings.strength);
    setWheelFfbCentering(settings.centering);
    setWheelNativeCentering(settings.nativeCentering);
    m_wheelFfbAutoEngage = settings.autoEngage;
    m_wheelFfbLoading = false;
    m_wheelFfbProfileId = m_profiles->activeProfileId();
}

WheelFfbSettings CorvaneController::currentWheelFfb() const
{
    WheelFfbSettings settings;
    settings.strength = m_wheelFfbStrength;
    settings.centering = m_wheelFfbCentering;
    settings.nativeCentering = m_wheelNativeCentering;
    settings.autoEngage = m_wheelFfbAutoEngage;
    return settings;
}

void CorvaneController::saveWheelFfb()
{
    // Written now: a write still pending would only repeat it.
    if (m_wheelFfbSaveTimer)
        m_wheelFfbSaveTimer->stop();
    m_profiles->setWheelFfb(currentWheelFfb());
}

void CorvaneController::onFfbTick()
{
    if (m_motionStatsStopwatch.isValid()) {
        const qint64 elapsed = m_motionStatsStopwatch.elapsed();
        if (elapsed >= kStatsWindowMs) {
            m_motionRate = float(m_motionFramesReceived) * 1000.0f / float(elapsed);
            const int total = m_motionFramesReceived + m_motionFramesLost;
            m_motionLoss = total > 0 ? float(m_motionFramesLost) * 100.0f / float(total) : 0.0f;
            m_motionFramesReceived = 0;
            m_motionFramesLost = 0;
            m_motionStatsStopwatch.restart();
        }
    }

    const bool linkGood = !m_linkStatsValid || m_linkStats.linkQuality >= kMinLinkQuality;
    const bool fresh = m_motionStopwatch.isValid()
        && m_motionStopwatch.elapsed() <= kMotionMaxAgeMs && linkGood
        && std::all_of(m_motion.cbegin(), m_motion.cend(), plausible);

    const float alpha = fresh ? kAlphaFollow : kAlphaDecay;
    const float alphaVertical = fresh ? kAlphaVertical : kAlphaDecay;
    const float lateralTarget = fresh ? m_motion[1] : 0.0f;
    const float longitudinalTarget = fresh ? m_motion[0] : 0.0f;
    const float verticalTarget = fresh ? m_motion[2] : 0.0f;
    m_ffbLateral += (lateralTarget - m_ffbLateral) * alpha;
    m_ffbLongitudinal += (longitudinalTarget - m_ffbLongitudinal) * alpha;
    m_ffbVertical += (verticalTarget - m_ffbVertical) * alphaVertical;
    m_ffbVerticalSlow += (m_ffbVertical - m_ffbVerticalSlow) * kAlphaVerticalSlow;

    float steer = processAxis(m_axisSettings.steering, effectiveSteeringInput(), true);
    if (!std::isfinite(steer))
        steer = 0.0f;
    float force = std::clamp(steer, -1.0f, 1.0f)
            * std::clamp(m_ffbLongitudinal, -kMaxLongitudinal, kMaxLongitudinal) * kSteerWeight
        - m_ffbLateral * kLateralWeight;

    ++m_ffbTickCounter;
    const float bump = std::min(
        kMaxBump,
        std::max(0.0f, std::fabs(m_ffbVertical - m_ffbVerticalSlow) - kBumpThreshold) * kBumpGain);
    force += (m_ffbTickCounter % 2 != 0) ? bump : -bump;
    force = std::clamp(force, -1.0f, 1.0f);

    const bool idle = !fresh && std::fabs(force) < kIdleForce
        && std::fabs(m_ffbLateral) + std::fabs(m_ffbLongitudinal) + std::fabs(m_ffbVertical)
            < kIdleMotion;
    if (idle)
        force = 0.0f;

    if (std::fabs(force - m_ffbLastLevel) > kLevelStep || (force == 0.0f && m_ffbLastLevel != 0.0f)) {
        m_ffbLastLevel = force;
        emit ffbLevelReceived(force);
    }

    if (m_wheelFfbEngaged && isWheelFfbAvailable()) {
        const float shaped = shapeFfbForce(force);
        if (std::fabs(shaped - m_ffbLastSentForce) > kSendStep || m_ffbTickCounter % kRefreshTicks == 0
            || (shaped == 0.0f && m_ffbLastSentForce != 0.0f)) {
            m_wheelBase->setForceFeedback(shaped);
            m_ffbLastSentForce = shaped;
        }
    }

    if (idle && !m_running) {
        m_ffbLateral = m_ffbLongitudinal = m_ffbVertical = m_ffbVerticalSlow = 0.0f;
        m_motionRate = m_motionLoss = 0.0f;
        m_motionFramesReceived = m_motionFramesLost = 0;
        m_motionStatsStopwatch.invalidate();
        m_ffbTimer->stop();
    }
}

void CorvaneController::onReceiverFfbTimeout()
{
    if (m_receiverFfbState == ReceiverFfbWaiting)
        setReceiverFfbState(ReceiverFfbNoResponse);
}

void CorvaneController::onTransmitterPortChangedForFfb(bool connected)
{
    if (connected)
        return;
    m_receiverFfbWaitTimer->stop();
    setReceiverFfbState(ReceiverFfbOff);
}

void CorvaneController::setReceiverFfbState(ReceiverFfbState state)
{
    if (m_receiverFfbState == state)
        return;
    m_receiverFfbState = state;
    emit receiverFfbStateChanged(state);
}

} // namespace corvane
