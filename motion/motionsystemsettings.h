#pragma once

#include <QMetaType>
#include <QStringList>
#include <QVariantMap>

#include <array>

namespace corvane {

// The platform settings the host keeps for the motion controller board and sends with the
// 'S', 'C', 'A' and 'I' frames.
struct MotionSystemSettings
{
    int intensity = 100;   // %
    int travelMm = 140;
    int speedPct = 100;
    int accelPct = 100;
    int parkMm = 75;
    int strokeMm = 150;
    // Entry k: the controller channel (0 FL, 1 FR, 2 RL, 3 RR, 4 yaw, 5 surge) actuator k drives.
    std::array<int, 6> actuatorSlots { 0, 1, 2, 3, 4, 5 };
    bool sleepEnabled = false;
    int sleepSeconds = 10;

    bool operator==(const MotionSystemSettings &other) const;
    bool operator!=(const MotionSystemSettings &other) const { return !(*this == other); }
};

// The copy with every field inside the limits the board accepts; travel and park follow the stroke.
MotionSystemSettings clampMotionSettings(MotionSystemSettings settings);

// The settings as the file "MotionSystem" keeps them, by key.
QVariantMap motionSettingsValues(const MotionSystemSettings &settings);
// The keys of the fields that differ.
QStringList changedMotionSettings(const MotionSystemSettings &before, const MotionSystemSettings &after);

// Whether each channel 0..5 is driven by exactly one actuator.
bool isActuatorPermutation(const std::array<int, 6> &channels);

} // namespace corvane

Q_DECLARE_METATYPE(corvane::MotionSystemSettings)
