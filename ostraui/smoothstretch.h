#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

#include <utility>
#include <vector>

namespace ostra {

// Stretches a small opaque picture over a larger one as QPainter does with a smooth pixmap
// transform (each pixel from the four small pixels nearest to its centre), one area at a time.
// QPainter takes about three times as long over the backdrop's many small areas, and a step of
// the backdrop stretches hundreds of thousands of pixels.
class SmoothStretch
{
public:
    // Sets up the stretch of a picture of `from` pixels over one of `to` pixels.
    void place(const QSize &from, const QSize &to);
    // Stretches `from` (of the placed size, RGB32) over the placed larger size and writes the
    // part of it in `area` into `to` (RGB32), the area's top left at `at`.
    void stretch(const QImage &from, const QRect &area, QImage &to, const QPoint &at);
    // The first and the last small column (Qt::Horizontal) or row (Qt::Vertical) that the large
    // ones from `first` to `last` are taken from.
    std::pair<int, int> taken(Qt::Orientation orientation, int first, int last) const;

private:
    // The two small pixels one row or column is taken from, and the second one's share in 256ths.
    struct Sample
    {
        int first;
        int second;
        quint32 weight;
    };
    // Stretches one small row across the `count` columns from `left`.
    void stretchAcross(const quint32 *small, int left, quint32 *out, int count) const;
    void stretchBand(const QImage &from, const QRect &band, quint32 *to, qsizetype toLine);

    QSize m_from;
    QSize m_to;
    std::vector<Sample> m_columns;
    std::vector<Sample> m_rows;
    // Each column's weight four times over in 16 bits, one for each channel.
    std::vector<quint64> m_columnShares;
    // The small rows a band of the area takes, each already stretched across the area.
    std::vector<quint32> m_across;
};

} // namespace ostra
