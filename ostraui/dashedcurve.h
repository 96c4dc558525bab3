#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QRect>
#include <QTransform>

#include <map>
#include <vector>

#include "ostraui/tilemask.h"

class QPainter;

namespace ostra {

// A dashed line along a path whose dashes run along it. Stroking the dashes again for every
// position costs far more than copying them, and the dashes take only a few positions (their
// pattern repeats), so each position is stroked once, kept as the pixels it covers, and then only
// blended where a repaint needs it.
class DashedCurve
{
public:
    // `pen` is the dashed pen; its dash offset is ignored, the offset comes with paint().
    DashedCurve(const QPainterPath &path, const QPen &pen, double opacity);

    // Places the line in a window of `size`, drawn under `transform`. A new place forgets the
    // positions kept so far.
    void place(const QTransform &transform, const QSize &size);
    // Marks the tiles the line can cover in its place, whatever the position of its dashes.
    void markReach(TileMask &tiles) const;
    // Blends the line, with the pen's dash pattern moved by `offset` (in pen widths, as
    // QPen::setDashOffset), onto `image`, which holds the window's `slice` from its top left.
    void paint(QImage &image, const QRect &slice, double offset);
    // Strokes the dashes at `offset` ahead of the paint that needs them, unless they are kept
    // already; true when that took a stroke.
    bool prepare(double offset);

private:
    struct Pixel
    {
        int x;
        QRgb color; // premultiplied
    };
    // The pixels one dash position covers, row by row from `top`.
    struct Dashes
    {
        int top = 0;
        std::vector<std::size_t> rowStart; // one more than the rows
        std::vector<Pixel> pixels;
    };
    // A pixel of a dash at its place in the window.
    struct Placed
    {
        int y;
        Pixel pixel;
    };

    bool isHairline() const;
    // The dashes at `offset`, stroked if they are not kept yet; `stroked` tells which.
    const Dashes &dashesAt(double offset, bool *stroked = nullptr);
    void draw(QPainter &p, double offset) const;
    Dashes stroke(double offset);
    void strokeDashes(double offset, std::vector<Placed> &placed);
    void strokeHairline(double offset, std::vector<Placed> &placed);
    // Makes the sheet at least this large; a new one starts clear.
    void growSheet(const QSize &size);
    // Moves what the sheet, whose top left stands at `origin` in the window, holds in the
    // window's `area` to `placed`, leaving the sheet clear there; only what lies `within` is kept.
    void takeFromSheet(const QPoint &origin, const QRect &area, const QRect &within, std::vector<Placed> &placed);

    QPainterPath m_path;
    QPen m_pen;
    double m_opacity;
    double m_period; // of the dash pattern, in pen widths
    QTransform m_transform;
    QSize m_size;
    TileMask m_reach;
    std::map<qint64, Dashes> m_positions;
    // Where a stroke is filled before its pixels are taken; clear between strokes.
    QImage m_sheet;
    // The pixels a stroke took, kept between strokes for their room.
    std::vector<Placed> m_placed;
};

} // namespace ostra
