#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QScrollArea>
#include <QWidget>

#include <algorithm>
#include <cmath>

// Contrast of rendered text, as the WCAG defines it: (L1 + 0.05) / (L2 + 0.05) of the relative
// luminances of the lighter and the darker colour.
namespace ostratest {

inline double relativeLuminance(const QColor &color)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

inline double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the text drawn in `area` of a picture: its most distinct pixel, the glyphs'
// solid ink, against the background colour at the area's top-left corner.
inline double textContrast(const QImage &image, const QRect &area)
{
    const QRect inside = area.intersected(image.rect());
    if (inside.isEmpty())
        return 0.0;
    const QColor background = image.pixelColor(inside.topLeft());
    double best = 1.0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            best = std::max(best, contrastRatio(image.pixelColor(x, y), background));
    }
    return best;
}

// The contrast of the text a widget shows, as its window renders it, scrolled into view first.
inline double renderedTextContrast(QWidget *window, QWidget *text)
{
    for (QWidget *w = text->parentWidget(); w && w != window->parentWidget(); w = w->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(w))
            area->ensureWidgetVisible(text);
    }
    const QImage image = window->grab().toImage();
    return textContrast(image, QRect(text->mapTo(window, QPoint(0, 0)), text->size()));
}

} // namespace ostratest
