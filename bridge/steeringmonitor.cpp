#include "bridge/steeringmonitor.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {
constexpr int kWindowMs = 1500;
constexpr float kWheelMoveThreshold = 0.01f;
constexpr float kWheelSweep = 0.25f;
constexpr int kMinChannelSpan = 16;
constexpr float kPedalSweep = 0.3f;
constexpr int kQuietWindowsForNoInput = 3;
constexpr int kMinCalibrationSpan = 100;
} // namespace

SteeringMonitor::SteeringMonitor(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<SteeringHealth>("corvane::SteeringHealth");
}

void SteeringMonitor::setHealth(SteeringHealth next)
{
    if (m_health == next)
        return;
    m_health = next;
    emit healthChanged(m_health);
}

void SteeringMonitor::update(float wheel, int ch1, float throttle, float brake, int left,
                             int center, int right, int elapsedMs)
{
    const bool defaultEndPoints = left == 0 && center == 1024 && right == 2047;
    if (!defaultEndPoints && std::abs(left - right) < kMinCalibrationSpan) {
        setHealth(SteeringCalibrationInvalid);
        return;
    }
    if (m_health == SteeringCalibrationInvalid)
        setHealth(SteeringOk);

    if (!m_baselineSet) {
        m_baselineWheel = wheel;
        m_baselineSet = true;
    }

    if (!m_wheelMoved && std::abs(wheel - m_baselineWheel) > kWheelMoveThreshold) {
        m_wheelMoved = true;
        m_quietWindows = 0;
        if (m_health == SteeringNoInput)
            setHealth(SteeringOk);
    }

    const float pedal = std::max(brake, throttle);

    if (m_windowStartPending) {
        m_wheelMin = m_wheelMax = wheel;
        m_ch1Min = m_ch1Max = ch1;
        m_pedalMin = m_pedalMax = pedal;
        m_windowStartPending = false;
    } else {
        m_wheelMin = std::min(m_wheelMin, wheel);
        m_wheelMax = std::max(m_wheelMax, wheel);
        m_ch1Min = std::min(m_ch1Min, ch1);
        m_ch1Max = std::max(m_ch1Max, ch1);
        m_pedalMin = std::min(m_pedalMin, pedal);
        m_pedalMax = std::max(m_pedalMax, pedal);
    }

    m_windowElapsedMs += elapsedMs;
    if (m_windowElapsedMs < kWindowMs)
        return;

    m_windowElapsedMs = 0;
    m_windowStartPending = true;

    if (m_wheelMax - m_wheelMin > kWheelSweep) {
        if (m_ch1Max - m_ch1Min >= kMinChannelSpan) {
            if (m_health == SteeringNotReachingChannel)
                setHealth(SteeringOk);
        } else {
            setHealth(SteeringNotReachingChannel);
        }
    } else if (!m_wheelMoved && m_pedalMax - m_pedalMin > kPedalSweep) {
        ++m_quietWindows;
        if (m_quietWindows >= kQuietWindowsForNoInput && m_health == SteeringOk)
            setHealth(SteeringNoInput);
    }
}

void SteeringMonitor::reset()
{
    m_baselineSet = false;
    m_wheelMoved = false;
    m_quietWindows = 0;
    m_windowElapsedMs = 0;
    m_windowStartPending = true;
    setHealth(SteeringOk);
}

QString SteeringMonitor::healthCode(SteeringHealth health)
{
    switch (health) {
    case SteeringCalibrationInvalid:
        return QStringLiteral("calibration_invalid");
    case SteeringNotReachingChannel:
        return QStringLiteral("not_reaching_channel");
    case SteeringNoInput:
        return QStringLiteral("no_input");
    default:
        return QStringLiteral("ok");
    }
}

QString SteeringMonitor::healthMessage(SteeringHealth health)
{
    switch (health) {
    case SteeringCalibrationInvalid:
        return QCoreApplication::translate(
            "SteeringMonitor",
            "Steering calibration is invalid (left and right are almost the same), so the "
            "car's steering can't move. Recalibrate the steering.");
    case SteeringNotReachingChannel:
        return QCoreApplication::translate(
            "SteeringMonitor",
            "The wheel is turning but the car's steering channel (CH1) isn't moving. Check "
            "the steering calibration and settings.");
    case SteeringNoInput:
        return QCoreApplication::translate(
            "SteeringMonitor",
            "No steering input from the wheel. Turn the wheel; if nothing changes, reconnect "
            "the wheel base.");
    default:
        return QString();
    }
}

} // namespace corvane
