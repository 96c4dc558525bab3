#pragma once

#include <QByteArray>
#include <QList>
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

// Turns one CRSF telemetry frame into sensors. `motionLevel` is the receiver's motion level
// (0 no motion telemetry, 1 capable, 2 capable with motion sensors on); it decides how a
// battery frame is read. Unknown types and short payloads give an empty list.
QList<TelemetrySensor> decodeTelemetry(quint8 frameType, const QByteArray &payload, int motionLevel);

} // namespace corvane

Q_DECLARE_METATYPE(corvane::TelemetrySensor)
