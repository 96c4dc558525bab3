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
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::TelemetrySensor)
