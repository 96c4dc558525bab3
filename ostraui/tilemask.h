#pragma once

#include <QRectF>
#include <QRegion>
#include <QSize>

#include <vector>

namespace ostra {

// The 16 px tiles of an area that a repaint has to cover. Marking whole tiles keeps a region
// that follows soft or thin shapes to a few rectangles per row of tiles, where their exact
// outline would take thousands, each of which costs every widget above it a clip.
class TileMask
{
public:
    static constexpr int tileSize = 16;

    // Sizes the mask to an area with no tile marked.
    void reset(const QSize &area);
    // Marks every tile the rectangle touches, within the area.
    void mark(const QRectF &rect);
    // The marked tiles, cut to the area.
    QRegion region() const;

private:
    // The tiles a rectangle touches, cut to the grid; false when it touches none.
    bool span(const QRectF &rect, int &left, int &top, int &right, int &bottom) const;

    QSize m_area;
    int m_columns = 0;
    int m_rows = 0;
    std::vector<char> m_marked;
};

} // namespace ostra
