#pragma once

#include <QJsonObject>
#include <QString>

#include <array>

// Response of one input axis: dead zone, output range, curve and calibration.
struct AxisConfig
{
    QString name;
    bool inverted = false;
    float deadzone = 0.0f;
    float minOutput = 0.0f;
    float maxOutput = 1.0f;
    int curve = 0; // 0 linear, 1 exponential, 2 logarithmic
    float curveExponent = 2.0f;
    float expo = 0.0f;
    float inputMin = -1.0f;
    float inputMax = 1.0f;
    float inputCenter = 0.0f;
    bool useCalibration = false;

    static AxisConfig fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// The car controls of a profile: four axes plus ESC, steering and throttle safety settings.
struct AxisSettings
{
    AxisSettings();

    AxisConfig steering;
    AxisConfig throttle;
    AxisConfig brake;
    AxisConfig clutch;

    int escMode = 0; // 0 standard end points, 2 custom end points
    QString escPresetId;
    int escNeutral = 992;
    int escFullForward = 1811;
    int escFullReverse = 172;
    int steeringLeft = 0;
    int steeringCenter = 1024;
    int steeringRight = 2047;
    int wheelRotationDeg = 900;
    int steeringAngleDeg = 0;
    bool smoothDeceleration = false;
    int decelRate = 20;
    bool pitLimiterEnabled = false;
    int pitLimiterValue = 1200;
    bool gearThrottleLimitEnabled = false;
    std::array<int, 7> gearThrottleLimitPercent{{100, 100, 100, 100, 100, 100, 100}};
    bool reverseEnabled = false;
    int reverseButtonIndex = -1;
    int reverseMaxPercent = 100;
    bool softStartEnabled = true;
    int softStartDurationSec = 30;
    int softStartFloorPercent = 10;
    bool stuckThrottleDetectionEnabled = true;
    bool throttleSpikeRejectionEnabled = true;

    // The four axes by index 0..3 (Steering, Throttle, Brake, Clutch); null for any other index.
    AxisConfig *axis(int index);
    const AxisConfig *axis(int index) const;

    // Holds the ESC and steering end points and the pit limiter value within 0..2047.
    void limitChannelValues();

    // Reads into this record: axes absent from obj keep their values, scalars take their fallbacks.
    void fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};
