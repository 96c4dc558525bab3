#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QRegion>
#include <QTransform>

#include <map>
#include <vector>

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

    // Blends the line, with the pen's dash pattern moved by `offset` (in pen widths, as
    // QPen::setDashOffset), drawn under `transform`, onto `image` within `area`. A new
    // transform or image size forgets the positions kept so far.
    void paint(QImage &image, const QRegion &area, const QTransform &transform, double offset);

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

    // A pixel of a dash at its place in the image.
    struct Placed
    {
        int y;
        Pixel pixel;
    };

    void draw(QPainter &p, const QTransform &transform, double offset) const;
    Dashes stroke(const QSize &imageSize, double offset);

    QPainterPath m_path;
    QPen m_pen;
    double m_opacity;
    double m_period; // of the dash pattern, in pen widths
    QTransform m_transform;
    QSize m_imageSize;
    std::map<qint64, Dashes> m_positions;
    // Where one dash at a time is filled; clear between dashes.
    QImage m_sheet;
};

} // namespace ostra
