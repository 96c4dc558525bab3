#include "ostraui/tilemask.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace ostra {

void TileMask::reset(const QSize &area)
{
    m_area = area;
    m_columns = (std::max(area.width(), 0) + tileSize - 1) / tileSize;
    m_rows = (std::max(area.height(), 0) + tileSize - 1) / tileSize;
    m_marked.assign(std::size_t(m_columns) * std::size_t(m_rows), 0);
}

bool TileMask::span(const QRectF &rect, int &left, int &top, int &right, int &bottom) const
{
    if (m_marked.empty() || rect.isEmpty() || !rect.intersects(QRectF(QPointF(0, 0), QSizeF(m_area))))
        return false;
    left = std::max(int(std::floor(rect.left() / tileSize)), 0);
    top = std::max(int(std::floor(rect.top() / tileSize)), 0);
    right = std::min(int(std::ceil(rect.right() / tileSize)) - 1, m_columns - 1);
    bottom = std::min(int(std::ceil(rect.bottom() / tileSize)) - 1, m_rows - 1);
    return true;
}

void TileMask::mark(const QRectF &rect)
{
    int left, top, right, bottom;
    if (!span(rect, left, top, right, bottom))
        return;
    for (int row = top; row <= bottom; ++row) {
        const auto first = m_marked.begin() + std::ptrdiff_t(row) * m_columns;
        std::fill(first + left, first + right + 1, 1);
    }
}

QRegion TileMask::region() const
{
    // One band per row of tiles, its runs left to right: the order QRegion keeps itself.
    QList<QRect> rects;
    for (int row = 0; row < m_rows; ++row) {
        const char *marks = m_marked.data() + std::ptrdiff_t(row) * m_columns;
        const int top = row * tileSize;
        const int height = std::min(tileSize, m_area.height() - top);
        for (int column = 0; column < m_columns;) {
            if (!marks[column]) {
                ++column;
                continue;
            }
            const int first = column;
            while (column < m_columns && marks[column])
                ++column;
            const int left = first * tileSize;
            rects.append(QRect(left, top, std::min(column * tileSize, m_area.width()) - left, height));
        }
    }
    QRegion region;
    region.setRects(rects.constData(), int(rects.size()));
    return region;
}

} // namespace ostra
