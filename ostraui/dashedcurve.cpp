#include "ostraui/dashedcurve.h"

#include <QPainter>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace ostra {

namespace {

// Positions closer than this (in pen widths) count as one.
constexpr double kPositionStep = 1.0 / 64;
constexpr std::size_t kMostPositions = 64;

// Source over an opaque pixel.
inline QRgb blendOver(QRgb source, QRgb destination)
{
    const quint32 keep = 255 - qAlpha(source);
    quint32 redBlue = (destination & 0xff00ffu) * keep;
    redBlue = ((redBlue + ((redBlue >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
    quint32 green = ((destination >> 8) & 0xffu) * keep;
    green = ((green + (green >> 8) + 0x80u) >> 8) & 0xffu;
    return 0xff000000u | ((source & 0xffffffu) + (redBlue | (green << 8)));
}

} // namespace

DashedCurve::DashedCurve(const QPainterPath &path, const QPen &pen, double opacity)
    : m_path(path)
    , m_pen(pen)
    , m_opacity(opacity)
{
    const QList<qreal> pattern = pen.dashPattern();
    m_period = std::accumulate(pattern.begin(), pattern.end(), 0.0);
}

void DashedCurve::place(const QTransform &transform, const QSize &size)
{
    if (transform == m_transform && size == m_size)
        return;
    m_transform = transform;
    m_size = size;
    m_positions.clear();
    // A stroke may leave pixels outside what it takes back, in places no later stroke under this
    // transform looks at: a new one starts from a fresh sheet.
    m_sheet = QImage();

    m_reach.reset(size);
    // Half the pen under the transform's larger scale, with room for antialiasing and flattening.
    const double margin = 0.5 * m_pen.widthF() * std::max(std::abs(transform.m11()), std::abs(transform.m22())) + 2;
    for (const QPolygonF &line : m_path.toSubpathPolygons(transform)) {
        for (int i = 0; i + 1 < line.size(); ++i) {
            // Short pieces keep the tiles close to the line where it runs at a slant.
            const QPointF a = line[i];
            const QPointF b = line[i + 1];
            const int pieces = std::max(1, int(std::ceil(QLineF(a, b).length() / 8.0)));
            for (int k = 0; k < pieces; ++k) {
                const QPointF p0 = a + (b - a) * (double(k) / pieces);
                const QPointF p1 = a + (b - a) * (double(k + 1) / pieces);
                m_reach.mark(QRectF(p0, p1).normalized().adjusted(-margin, -margin, margin, margin));
            }
        }
    }
}

void DashedCurve::markReach(TileMask &tiles) const
{
    for (const QRect &r : m_reach.region())
        tiles.mark(r);
}

bool DashedCurve::isHairline() const
{
    return m_pen.widthF() * std::max(std::abs(m_transform.m11()), std::abs(m_transform.m22())) <= 1;
}

const DashedCurve::Dashes &DashedCurve::dashesAt(double offset, bool *stroked)
{
    qint64 key;
    if (isHairline()) {
        // A pen no wider than a device pixel QPainter draws as a hairline, and takes its dash
        // offset in whole 64ths of a pixel, in a pattern whose period is not the pen's: such
        // positions are told apart by those 64ths alone.
        key = qint64(offset / kPositionStep);
    } else {
        double position = m_period > 0 ? std::fmod(offset, m_period) : 0.0;
        if (position < 0)
            position += m_period;
        key = std::llround(position / kPositionStep) % std::max<qint64>(std::llround(m_period / kPositionStep), 1);
    }
    auto found = m_positions.find(key);
    if (stroked)
        *stroked = found == m_positions.end();
    if (found == m_positions.end()) {
        // Offsets that never repeat would keep stroking and keeping: past a few dozen, start over.
        if (m_positions.size() >= kMostPositions)
            m_positions.clear();
        found = m_positions.emplace(key, stroke(key * kPositionStep)).first;
    }
    return found->second;
}

bool DashedCurve::prepare(double offset)
{
    bool stroked = false;
    dashesAt(offset, &stroked);
    return stroked;
}

void DashedCurve::paint(QImage &image, const QRect &slice, double offset)
{
    const Dashes &dashes = dashesAt(offset);
    const int rows = int(dashes.rowStart.size()) - 1;
    const int first = std::max(slice.top(), dashes.top);
    const int last = std::min(slice.bottom(), dashes.top + rows - 1);
    for (int y = first; y <= last; ++y) {
        const auto begin = dashes.pixels.begin() + std::ptrdiff_t(dashes.rowStart[std::size_t(y - dashes.top)]);
        const auto end = dashes.pixels.begin() + std::ptrdiff_t(dashes.rowStart[std::size_t(y - dashes.top + 1)]);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y - slice.top())) - slice.left();
        for (auto p = std::lower_bound(begin, end, slice.left(), [](const Pixel &pixel, int x) { return pixel.x < x; });
             p != end && p->x <= slice.right(); ++p)
            line[p->x] = blendOver(p->color, line[p->x]);
    }
}

void DashedCurve::draw(QPainter &p, double offset) const
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(m_transform, true);
    p.setOpacity(m_opacity);
    p.setBrush(Qt::NoBrush);
    QPen pen = m_pen;
    pen.setDashOffset(offset);
    p.setPen(pen);
    p.drawPath(m_path);
}

DashedCurve::Dashes DashedCurve::stroke(double offset)
{
    m_placed.clear();
    if (isHairline())
        strokeHairline(offset, m_placed);
    else
        strokeDashes(offset, m_placed);
    Dashes dashes;
    dashes.rowStart.push_back(0);
    if (m_placed.empty())
        return dashes;
    // Counted into their rows in the order taken, then each row by x: a pixel two dashes share
    // (none in a pattern with gaps) keeps both, blended one after the other.
    const auto [highest, lowest] = std::minmax_element(m_placed.begin(), m_placed.end(),
                                                       [](const Placed &a, const Placed &b) { return a.y < b.y; });
    dashes.top = highest->y;
    const std::size_t rows = std::size_t(lowest->y - dashes.top + 1);
    dashes.rowStart.assign(rows + 1, 0);
    for (const Placed &at : m_placed)
        ++dashes.rowStart[std::size_t(at.y - dashes.top) + 1];
    std::partial_sum(dashes.rowStart.begin(), dashes.rowStart.end(), dashes.rowStart.begin());
    std::vector<std::size_t> next(dashes.rowStart.begin(), dashes.rowStart.end() - 1);
    dashes.pixels.resize(m_placed.size());
    for (const Placed &at : m_placed)
        dashes.pixels[next[std::size_t(at.y - dashes.top)]++] = at.pixel;
    for (std::size_t row = 0; row < rows; ++row) {
        std::stable_sort(dashes.pixels.begin() + std::ptrdiff_t(dashes.rowStart[row]),
                         dashes.pixels.begin() + std::ptrdiff_t(dashes.rowStart[row + 1]),
                         [](const Pixel &a, const Pixel &b) { return a.x < b.x; });
    }
    return dashes;
}

void DashedCurve::strokeDashes(double offset, std::vector<Placed> &placed)
{
    // QPainter strokes a pen in the path's own units and flattens the curves finer by the larger
    // scale of the transform; the path scaled up by that much, stroked with a pen as much wider,
    // gives the same outline. Each dash of it is then filled on its own: the rasterizer's cost
    // follows the bounds of what it fills, and a dash's are a sliver of the whole line's.
    const double scale = std::max(std::abs(m_transform.m11()), std::abs(m_transform.m22()));
    QPainterPathStroker stroker;
    stroker.setWidth(m_pen.widthF() * scale);
    stroker.setCapStyle(m_pen.capStyle());
    stroker.setJoinStyle(m_pen.joinStyle());
    stroker.setMiterLimit(m_pen.miterLimit());
    stroker.setDashPattern(m_pen.dashPattern());
    stroker.setDashOffset(offset);
    const QPainterPath outline = (QTransform::fromScale(1 / scale, 1 / scale) * m_transform)
                                     .map(stroker.createStroke(QTransform::fromScale(scale, scale).map(m_path)));

    const QRect window(QPoint(0, 0), m_size);
    const QList<QPolygonF> dashes = outline.toSubpathPolygons();
    // A pixel of room each way for antialiasing.
    const auto boundsOf = [](const QPolygonF &dash) { return dash.boundingRect().toAlignedRect().adjusted(-1, -1, 1, 1); };
    QSize largest;
    for (const QPolygonF &dash : dashes)
        largest = largest.expandedTo(boundsOf(dash).size());
    growSheet(largest);
    // One painter fills them all: the sheet is read and cleared between fills, which the raster
    // engine draws at once.
    QPainter p(&m_sheet);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(m_opacity);
    p.setPen(Qt::NoPen);
    p.setBrush(m_pen.brush());
    for (const QPolygonF &dash : dashes) {
        const QRect bounds = boundsOf(dash);
        if (!bounds.intersects(window))
            continue;
        p.setTransform(QTransform::fromTranslate(-bounds.left(), -bounds.top()));
        p.drawPolygon(dash, Qt::WindingFill);
        takeFromSheet(bounds.topLeft(), bounds, window, placed);
    }
}

void DashedCurve::strokeHairline(double offset, std::vector<Placed> &placed)
{
    // Drawn whole, as QPainter draws it onto the window; only the tiles the line can reach are
    // looked at.
    const QRegion reach = m_reach.region();
    const QRect bounds = reach.boundingRect();
    if (bounds.isEmpty())
        return;
    growSheet(bounds.size());
    {
        QPainter p(&m_sheet);
        p.translate(-bounds.topLeft());
        draw(p, offset);
    }
    for (const QRect &r : reach)
        takeFromSheet(bounds.topLeft(), r, bounds, placed);
}

void DashedCurve::growSheet(const QSize &size)
{
    if (m_sheet.width() >= size.width() && m_sheet.height() >= size.height())
        return;
    m_sheet = QImage(std::max(m_sheet.width(), size.width()), std::max(m_sheet.height(), size.height()),
                     QImage::Format_ARGB32_Premultiplied);
    m_sheet.fill(Qt::transparent);
}

void DashedCurve::takeFromSheet(const QPoint &origin, const QRect &area, const QRect &within, std::vector<Placed> &placed)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(m_sheet.scanLine(y - origin.y())) - origin.x();
        for (int x = area.left(); x <= area.right(); ++x) {
            if (line[x] == 0)
                continue;
            if (within.contains(x, y))
                placed.push_back({y, {x, line[x]}});
            line[x] = 0;
        }
    }
}

} // namespace ostra
