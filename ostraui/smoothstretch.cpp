#include "ostraui/smoothstretch.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostra {

namespace {

// Rows of the area are stretched this many at a time, so the small rows they take stay few.
constexpr int kBandRows = 64;

// The channels of two opaque pixels mixed, `b` taking `share` 256ths, each channel cut to 8 bits.
inline quint32 mix(quint32 a, quint32 b, quint32 share)
{
    const quint32 keep = 256 - share;
    const quint32 redBlue = (((a & 0xff00ffu) * keep + (b & 0xff00ffu) * share) >> 8) & 0xff00ffu;
    const quint32 alphaGreen = (((a >> 8) & 0xff00ffu) * keep + ((b >> 8) & 0xff00ffu) * share) & 0xff00ff00u;
    return redBlue | alphaGreen;
}

#if defined(__SSE2__)
// Four pixels mixed as mix() does, each channel in 16 bits: a channel's two products add up to at
// most 255 x 256, so they need no more. The shares come as four 16-bit copies per pixel, two
// pixels in each half.
inline __m128i mixFour(__m128i a, __m128i b, __m128i sharesLow, __m128i sharesHigh)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i whole = _mm_set1_epi16(256);
    const auto half = [&](__m128i p, __m128i q, __m128i share) {
        return _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(p, _mm_sub_epi16(whole, share)), _mm_mullo_epi16(q, share)), 8);
    };
    return _mm_packus_epi16(half(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), sharesLow),
                            half(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), sharesHigh));
}
#endif

// A row mixed from two rows of as many pixels.
void mixRows(const quint32 *a, const quint32 *b, quint32 share, quint32 *out, int count)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i shares = _mm_set1_epi16(short(share));
    for (; x + 4 <= count; x += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + x));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), mixFour(p, q, shares, shares));
    }
#endif
    for (; x < count; ++x)
        out[x] = mix(a[x], b[x], share);
}

} // namespace

void SmoothStretch::place(const QSize &from, const QSize &to)
{
    if (from == m_from && to == m_to)
        return;
    m_from = from;
    m_to = to;
    // As QPainter samples: a pixel's centre mapped back in 16.16 fixed point, the two pixels
    // either side of it (the edge pixel twice beyond the edges) and the fraction between them
    // cut to 8 bits.
    const auto fill = [](int small, int large, std::vector<Sample> &out) {
        out.resize(std::size_t(std::max(large, 0)));
        const double scale = double(small) / large;
        for (int i = 0; i < large; ++i) {
            const int fixed = int((i + 0.5) * scale * 65536) - 32768;
            const int at = std::clamp(fixed >> 16, 0, small - 1);
            const int next = (fixed >> 16) < 0 ? 0 : std::min(at + 1, small - 1);
            out[std::size_t(i)] = {at, next, quint32(fixed & 0xffff) >> 8};
        }
    };
    fill(from.width(), to.width(), m_columns);
    fill(from.height(), to.height(), m_rows);
    m_columnShares.resize(m_columns.size());
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        m_columnShares[i] = m_columns[i].weight * Q_UINT64_C(0x0001000100010001);
}

void SmoothStretch::stretch(const QImage &from, const QRect &area, QImage &to, const QPoint &at)
{
    const QPoint shift = at - area.topLeft();
    const QRect r = area & QRect(QPoint(0, 0), m_to) & QRect(QPoint(0, 0), to.size()).translated(-shift);
    if (r.isEmpty() || from.size() != m_from || from.depth() != 32 || to.depth() != 32)
        return;
    uchar *bits = to.bits();
    const qsizetype line = to.bytesPerLine();
    for (int top = r.top(); top <= r.bottom(); top += kBandRows) {
        const QRect band(r.left(), top, r.width(), std::min(kBandRows, r.bottom() - top + 1));
        stretchBand(from, band, reinterpret_cast<quint32 *>(bits + (top + shift.y()) * line) + (band.left() + shift.x()),
                    line);
    }
}

std::pair<int, int> SmoothStretch::taken(Qt::Orientation orientation, int first, int last) const
{
    // Both pixels of a sample move only forward along the large picture.
    const std::vector<Sample> &samples = orientation == Qt::Horizontal ? m_columns : m_rows;
    return {samples[std::size_t(first)].first, samples[std::size_t(last)].second};
}

void SmoothStretch::stretchAcross(const quint32 *small, int left, quint32 *out, int count) const
{
    const Sample *columns = m_columns.data() + left;
    int x = 0;
#if defined(__SSE2__)
    const auto *shares = reinterpret_cast<const __m128i *>(m_columnShares.data() + left);
    for (; x + 4 <= count; x += 4) {
        const Sample *c = columns + x;
        const __m128i a = _mm_setr_epi32(int(small[c[0].first]), int(small[c[1].first]), int(small[c[2].first]),
                                         int(small[c[3].first]));
        const __m128i b = _mm_setr_epi32(int(small[c[0].second]), int(small[c[1].second]), int(small[c[2].second]),
                                         int(small[c[3].second]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                         mixFour(a, b, _mm_loadu_si128(shares + x / 2), _mm_loadu_si128(shares + x / 2 + 1)));
    }
#endif
    for (; x < count; ++x)
        out[x] = mix(small[columns[x].first], small[columns[x].second], columns[x].weight);
}

void SmoothStretch::stretchBand(const QImage &from, const QRect &band, quint32 *to, qsizetype toLine)
{
    // Each small row the band takes is stretched across once, then every row of the band is
    // mixed from two of those.
    const int width = band.width();
    const int firstRow = m_rows[std::size_t(band.top())].first;
    const int lastRow = m_rows[std::size_t(band.bottom())].second;
    m_across.resize(std::size_t(width) * std::size_t(lastRow - firstRow + 1));
    for (int row = firstRow; row <= lastRow; ++row)
        stretchAcross(reinterpret_cast<const quint32 *>(from.constScanLine(row)), band.left(),
                      m_across.data() + std::size_t(row - firstRow) * std::size_t(width), width);
    for (int y = band.top(); y <= band.bottom(); ++y) {
        const Sample &row = m_rows[std::size_t(y)];
        mixRows(m_across.data() + std::size_t(row.first - firstRow) * std::size_t(width),
                m_across.data() + std::size_t(row.second - firstRow) * std::size_t(width), row.weight,
                reinterpret_cast<quint32 *>(reinterpret_cast<uchar *>(to) + (y - band.top()) * toLine), width);
    }
}

} // namespace ostra
