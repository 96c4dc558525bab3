#pragma once

#include <QJsonValue>

#include <cmath>

// A single-precision field: numbers beyond float range would become infinity, which no
// setting can mean and which JSON cannot carry back, so they take the fallback.
inline float jsonFloat(const QJsonValue &value, float fallback)
{
    const float f = float(value.toDouble(double(fallback)));
    return std::isfinite(f) ? f : fallback;
}
