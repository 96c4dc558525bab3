#pragma once

#include <QMetaType>
#include <QString>

namespace corvane {

// One telemetry value as the user sees it: short id such as "GSpd", label, formatted value.
struct TelemetrySensor
{
    QString id;
    QString label;
    QString value;
    QString name;         // the user's own name; empty when none
    qint64 lastUpdateMs = 0; // ms since the epoch; 0 = never

    // A value older than this no longer describes the car.
    static constexpr qint64 StaleAfterMs = 2000;
    bool isStale(qint64 nowMs) const { return lastUpdateMs == 0 || nowMs - lastUpdateMs > StaleAfterMs; }
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::TelemetrySensor)
