#include "motion/motionsystemsettings.h"

#include <algorithm>

namespace corvane {

bool MotionSystemSettings::operator==(const MotionSystemSettings &other) const
{
    return intensity == other.intensity && travelMm == other.travelMm && speedPct == other.speedPct
        && accelPct == other.accelPct && parkMm == other.parkMm && strokeMm == other.strokeMm
        && actuatorSlots == other.actuatorSlots && sleepEnabled == other.sleepEnabled
        && sleepSeconds == other.sleepSeconds;
}

MotionSystemSettings clampMotionSettings(MotionSystemSettings s)
{
    s.strokeMm = std::clamp(s.strokeMm, 50, 300);
    s.intensity = std::clamp(s.intensity, 10, 100);
    s.travelMm = std::min(std::max(s.travelMm, 20), s.strokeMm - 10);
    s.speedPct = std::clamp(s.speedPct, 10, 100);
    s.accelPct = std::clamp(s.accelPct, 10, 100);
    s.parkMm = std::min(std::max(s.parkMm, 5), s.strokeMm - 5);
    s.sleepSeconds = std::clamp(s.sleepSeconds, 1, 3600);
    // Each channel may be driven by one actuator only; anything else falls back to the identity map.
    if (!isActuatorPermutation(s.actuatorSlots))
        s.actuatorSlots = { 0, 1, 2, 3, 4, 5 };
    return s;
}

QVariantMap motionSettingsValues(const MotionSystemSettings &settings)
{
    QStringList slotTexts;
    for (int slot : settings.actuatorSlots)
        slotTexts.append(QString::number(slot));
    return {{QStringLiteral("intensity"), settings.intensity},
            {QStringLiteral("travelMm"), settings.travelMm},
            {QStringLiteral("speedPct"), settings.speedPct},
            {QStringLiteral("accelPct"), settings.accelPct},
            {QStringLiteral("parkMm"), settings.parkMm},
            {QStringLiteral("strokeMm"), settings.strokeMm},
            {QStringLiteral("actuatorSlots"), slotTexts.join(QLatin1Char(','))},
            {QStringLiteral("sleepEnabled"), settings.sleepEnabled},
            {QStringLiteral("sleepSeconds"), settings.sleepSeconds}};
}

QStringList changedMotionSettings(const MotionSystemSettings &before, const MotionSystemSettings &after)
{
    const QVariantMap was = motionSettingsValues(before);
    const QVariantMap now = motionSettingsValues(after);
    QStringList keys;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (was.value(it.key()) != it.value())
            keys.append(it.key());
    }
    return keys;
}

bool isActuatorPermutation(const std::array<int, 6> &channels)
{
    for (size_t k = 0; k < channels.size(); ++k) {
        const auto earlier = channels.begin() + qsizetype(k);
        if (channels[k] < 0 || channels[k] > 5 || std::find(channels.begin(), earlier, channels[k]) != earlier)
            return false;
    }
    return true;
}

} // namespace corvane
