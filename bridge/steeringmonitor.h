#pragma once

#include <QObject>
#include <QString>

namespace corvane {

enum SteeringHealth : int {
    SteeringOk = 0,
    SteeringCalibrationInvalid = 1,
    SteeringNotReachingChannel = 2,
    SteeringNoInput = 3,
};

// Watches, tick by tick, whether turning the wheel actually moves the steering channel.
class SteeringMonitor : public QObject
{
    Q_OBJECT

public:
    explicit SteeringMonitor(QObject *parent = nullptr);

    void update(float wheel, int ch1, float throttle, float brake, int left, int center,
                int right, int elapsedMs);
    void reset();

    SteeringHealth health() const { return m_health; }

    static QString healthCode(SteeringHealth health);
    static QString healthMessage(SteeringHealth health);

signals:
    void healthChanged(corvane::SteeringHealth health);

private:
    void setHealth(SteeringHealth next);

    SteeringHealth m_health = SteeringOk;
    bool m_baselineSet = false;
    bool m_wheelMoved = false;
    float m_baselineWheel = 0.0f;
    qint32 m_quietWindows = 0;
    qint32 m_windowElapsedMs = 0;
    bool m_windowStartPending = true;
    float m_wheelMin = 0.0f;
    float m_wheelMax = 0.0f;
    qint32 m_ch1Min = 0;
    qint32 m_ch1Max = 0;
    float m_pedalMin = 0.0f;
    float m_pedalMax = 0.0f;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::SteeringHealth)
