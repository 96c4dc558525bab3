#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

namespace kittest {

// Paints a widget and its children onto transparent pixels, shown or not.
inline QImage render(QWidget &widget)
{
    widget.ensurePolished();
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

inline int alphaSum(const QImage &image, const QRect &area)
{
    int sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            sum += qAlpha(image.pixel(x, y));
    return sum;
}

} // namespace kittest
