#pragma once

#include <QFont>
#include <QPixmap>

#include <algorithm>

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

} // namespace corvane::livedisplay
