#pragma once

#include <QFont>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <vector>

// Painting helpers of the full-screen live displays (dashboard, attitude indicator).
namespace corvane::livedisplay {

// The displays' lettering; where Consolas is missing, font matching takes a monospace face.
inline QFont consolas(double pixelSize, bool bold, bool italic = false)
{
    QFont font(QStringLiteral("Consolas"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(std::max(1, int(pixelSize)));
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// A cleared layer of the given size in device-independent pixels, for parts drawn once.
inline QPixmap transparentPixmap(const QSizeF &size, qreal dpr)
{
    QPixmap pixmap((size * dpr).toSize().expandedTo(QSize(1, 1)));
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// Draws only the given parts (in widget pixels) of a layer whose top left corner sits at
// `origin`: a layer that is mostly clear costs its whole area to blend, its marks only a little.
inline void drawLayerParts(QPainter &p, const QPixmap &layer, const QPoint &origin, const std::vector<QRect> &parts)
{
    const qreal dpr = layer.devicePixelRatio();
    for (const QRect &part : parts)
        p.drawPixmap(QRectF(part), layer, QRectF(QPointF(part.topLeft() - origin) * dpr, QSizeF(part.size()) * dpr));
}

} // namespace corvane::livedisplay
