#pragma once

#include <QColor>

namespace ostra {

// A theme colour at the given opacity, as the shell widgets paint their washes and shadows.
inline QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace ostra
