#include "ostraui/ambientbackground.h"

#include <QDateTime>
#include <QEasingCurve>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ostraui/alphacolor.h"
#include "ostraui/card.h"
#include "ostraui/theme.h"
#include "ostraui/tilemask.h"

namespace ostra {

namespace {

struct Keyframe
{
    double t, dx, dy, scale;
};

// A drifting light: colour, peak alpha, diameter, period in seconds and its keyframes.
struct Blob
{
    QColor color;
    double alpha;
    double diameter;
    double period;
    std::array<Keyframe, 4> keys;
    int keyCount;
};

const Blob &blob(int i)
{
    static const std::array<Blob, 3> blobs{{
        {QColor(0x4C, 0xC2, 0xFF), 0.48, 620, 16, {{{0, 0, 0, 1}, {0.33, -260, 160, 1.25}, {0.66, -80, 260, 0.95}, {1, 0, 0, 1}}}, 4},
        {QColor(0x4C, 0xC2, 0xFF), 0.32, 520, 20, {{{0, 0, 0, 1}, {0.5, 320, -180, 1.2}, {1, 0, 0, 1}, {}}}, 3},
        {QColor(0xFF, 0x2F, 0x2C), 0.16, 380, 13, {{{0, 0, 0, 1}, {0.5, -220, -160, 1.3}, {1, 0, 0, 1}, {}}}, 3},
    }};
    return blobs.at(std::size_t(i));
}

// The drifting light is drawn at this fraction of the window's size and stretched.
constexpr int kDriftScale = 8;
// The light is brought up to date in tiles of this many window pixels each way.
constexpr int kLightTile = 64;
static_assert(kLightTile % TileMask::tileSize == 0, "a light tile is whole tiles of the mask");
// A step brings at most this many light tiles up to date, those due longest first; the rest wait
// for the next steps, but never more than kLongestWait of them. The light moves a little more
// than a step of 1/255 in a waiting tile, which no eye tells apart either, and the steps where
// much of it comes due at once (after a new size) cost no more than the others.
constexpr std::size_t kMostLightTiles = 96;
constexpr int kLongestWait = 2;

// QPainter hands a fill of 96 spans (rows of a plain fill) or more to helper threads and waits
// for them; for the backdrop's copies and soft colours the hand-over costs more than the work. So
// they are painted in slices below that.
constexpr int kSliceRows = 64;

// The region's rectangles, cut into slices of at most kSliceRows rows.
template<typename Paint> void forEachSlice(const QRegion &region, Paint paint)
{
    for (const QRect &r : region) {
        for (int top = r.top(); top <= r.bottom(); top += kSliceRows)
            paint(QRect(r.left(), top, r.width(), std::min(kSliceRows, r.bottom() - top + 1)));
    }
}

QPainterPath designCurve(const QPointF &start, const QPointF &c1, const QPointF &c2, const QPointF &mid,
                         const QPointF &c3, const QPointF &c4, const QPointF &end)
{
    QPainterPath path(start);
    path.cubicTo(c1, c2, mid);
    path.cubicTo(c3, c4, end);
    return path;
}

// The two curves in their 1600 x 1000 design space.
const QPainterPath &designCurve1()
{
    static const QPainterPath curve = designCurve({-40, 760}, {300, 640}, {520, 900}, {820, 720}, {1120, 540},
                                                  {1300, 420}, {1660, 560});
    return curve;
}

const QPainterPath &designCurve2()
{
    static const QPainterPath curve = designCurve({-40, 820}, {340, 700}, {560, 960}, {860, 780}, {1160, 600},
                                                  {1320, 500}, {1660, 640});
    return curve;
}

// The two curves' dash offsets at drift time t. The dashes step with the 50 ms timer, so they
// take only the few positions their patterns repeat in, each stroked once.
std::pair<double, double> dashOffsets(double t)
{
    const double step = std::round(t * 20) / 20;
    return {(std::fmod(step, 40) / 40 * 2400) / 1.4, (-std::fmod(step, 60) / 60 * 2400) / 1.2};
}

QPen dashedPen(const QColor &color, double width, double dash, double gap)
{
    QPen pen(color, width);
    pen.setCapStyle(Qt::FlatCap);
    pen.setDashPattern({dash, gap});
    return pen;
}

// The backdrop shows only where no card covers it: a card's fill is opaque but for its rounded
// corners, unless it or a widget around it is see-through (dimmed, or a page fading in). Takes
// the insides of the cards shown on `widget` out of `region`, in `top`'s coordinates; hidden
// pages and other windows are not looked into.
void removeCardInsides(const QWidget *top, const QWidget *widget, QRegion &region)
{
    for (const QObject *child : widget->children()) {
        if (region.isEmpty())
            return;
        if (!child->isWidgetType())
            continue;
        const auto *w = static_cast<const QWidget *>(child);
        if (w->isHidden() || w->isWindow() || w->graphicsEffect())
            continue;
        if (const auto *card = qobject_cast<const Card *>(w); card && !card->isDimmed()) {
            const QRect r = card->rect();
            const int corner = Card::cornerRadius;
            QRegion inside = QRegion(r.adjusted(corner, 0, -corner, 0)) + QRegion(r.adjusted(0, corner, 0, -corner));
            inside &= card->visibleRegion();
            region -= inside.translated(card->mapTo(top, QPoint()));
        }
        removeCardInsides(top, w, region);
    }
}

// Whether two runs of colours differ somewhere by more than a step of 1/255 in a channel. No
// branch per pixel: mostly the answer is no, and a branch costs more than the sums.
bool apart(const QRgb *a, const QRgb *b, int count)
{
    int x = 0;
#if defined(__SSE2__)
    // Four pixels at a time: each byte's distance less one is zero wherever they are near.
    __m128i far = _mm_setzero_si128();
    for (; x + 4 <= count; x += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + x));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x));
        const __m128i distance = _mm_or_si128(_mm_subs_epu8(p, q), _mm_subs_epu8(q, p));
        far = _mm_or_si128(far, _mm_subs_epu8(distance, _mm_set1_epi8(1)));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(far, _mm_setzero_si128())) != 0xFFFF)
        return true;
#endif
    unsigned rest = 0;
    for (; x < count; ++x) {
        rest |= unsigned(qRed(a[x]) - qRed(b[x]) + 1) > 2u;
        rest |= unsigned(qGreen(a[x]) - qGreen(b[x]) + 1) > 2u;
        rest |= unsigned(qBlue(a[x]) - qBlue(b[x]) + 1) > 2u;
    }
    return rest != 0;
}

} // namespace

AmbientBackground::AmbientBackground(QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
    , m_prepareTimer(new QTimer(this))
    , m_clock(&QDateTime::currentMSecsSinceEpoch)
    , m_startMs(m_clock())
    , m_curve1(designCurve1(), dashedPen(QColor(0x9F, 0xC4, 0xE3), 1.4, 4.285714285714286, 10), 0.9)
    , m_curve2(designCurve2(), dashedPen(QColor(0xBC, 0xD0, 0xE2), 1.2, 1.6666666666666667, 15), 0.9)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_timer->setInterval(50);
    connect(m_timer, &QTimer::timeout, this, &AmbientBackground::onTick);
    // Halfway to the next step.
    m_prepareTimer->setSingleShot(true);
    m_prepareTimer->setInterval(20);
    connect(m_prepareTimer, &QTimer::timeout, this, &AmbientBackground::prepareDashes);
    connect(Motion::instance(), &Motion::reducedChanged, this, [this] {
        updateAnimationState();
        update();
    });
}

bool AmbientBackground::isAnimating() const
{
    return m_timer->isActive();
}

void AmbientBackground::setDriftHeld(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    // Let go, the drift goes on from the pose it was held in.
    if (!held)
        m_startMs = m_clock() - qint64(m_phase * 1000.0);
    updateAnimationState();
}

void AmbientBackground::setClock(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
    m_startMs = m_clock();
}

void AmbientBackground::updateAnimationState()
{
    if (isVisible() && animationsEnabled() && !m_held) {
        m_timer->start();
        m_prepareTimer->start();
    } else {
        m_timer->stop();
        m_prepareTimer->stop();
    }
}

double AmbientBackground::shownPhase() const
{
    return m_timer->isActive() || (m_held && animationsEnabled()) ? m_phase : 0.0;
}

bool AmbientBackground::isSeen() const
{
    const QWindow *shown = window()->windowHandle();
    return !window()->isMinimized() && shown && shown->isExposed();
}

void AmbientBackground::onTick()
{
    // Nobody sees a minimised or unmapped window: its steps are skipped, and the first one
    // after it shows again catches up.
    if (!isSeen())
        return;
    m_phase = double(m_clock() - m_startMs) / 1000.0;
    const double t = shownPhase();
    if (t == m_driftPhase)
        return;
    // A new size is drawn whole by the repaint it brings.
    if (m_backdrop.size() != size() || m_drift.size() != driftSize()) {
        update();
        return;
    }
    renderDrift(t, m_nextDrift);
    placeCurves();
    // The light changes where the small picture does; the dashes run on at every step, over a
    // light that stays where it did not change.
    m_changed.reset(size());
    takeDriftChanges(m_nextDrift, m_changed);
    std::swap(m_drift, m_nextDrift);
    m_driftPhase = t;
    m_steppedLight = m_changed.region();
    m_backdropValid -= m_steppedLight;
    update(uncovered(m_steppedLight + m_curveRegion));
    m_prepareTimer->start();
}

void AmbientBackground::prepareDashes()
{
    // A new position of the dashes costs as much as the rest of a step: the next step's are
    // stroked here, between the steps, and that step only blends them.
    if (!isSeen())
        return;
    placeCurves();
    const auto [first, second] = dashOffsets(m_phase + 0.05);
    m_curve1.prepare(first);
    m_curve2.prepare(second);
}

QRegion AmbientBackground::uncovered(const QRegion &changed) const
{
    QRegion region = changed;
    removeCardInsides(this, this, region);
    return region;
}

void AmbientBackground::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateAnimationState();
}

void AmbientBackground::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateAnimationState();
}

void AmbientBackground::paintEvent(QPaintEvent *event)
{
    const double t = shownPhase();
    const bool resized = m_backdrop.size() != size();
    if (resized)
        m_backdrop = QImage(size(), QImage::Format_RGB32);
    // A step brings the drift up to date itself; anything else that moves it (a new size, reduced
    // motion going back to the start pose) redraws it whole.
    if (resized || m_driftPhase != t || m_drift.size() != driftSize()) {
        renderDrift(t, m_drift);
        placeLightTiles();
        m_driftPhase = t;
        m_backdropValid = QRegion();
    }
    placeCurves();
    // The light a step changed, and all under the dashes, is stretched straight onto the window
    // with the dashes over it: kept, it would cost a copy more, and a copy out of a picture the
    // size of the window costs as much as the stretch. Anything else is stretched into the kept
    // light where this repaint needs it and the kept light does not hold it yet.
    const QRegion missing = event->region() - m_backdropValid;
    const QRegion straight = (missing & m_steppedLight) + (event->region() & m_curveRegion);
    m_steppedLight = QRegion();
    const QRegion kept = missing - straight;
    for (const QRect &r : kept)
        m_stretch.stretch(m_drift, r, m_backdrop, r.topLeft());
    m_backdropValid += kept;
    QPainter p(this);
    forEachSlice(event->region() - straight,
                 [&p, this](const QRect &slice) { p.drawImage(slice.topLeft(), m_backdrop, slice); });
    // Through a copy that stays in the cache.
    forEachSlice(straight, [&p, t, this](const QRect &slice) {
        if (m_scratch.width() < slice.width() || m_scratch.height() < slice.height())
            m_scratch = QImage(std::max(m_scratch.width(), slice.width()), std::max(m_scratch.height(), slice.height()),
                               QImage::Format_RGB32);
        m_stretch.stretch(m_drift, slice, m_scratch, QPoint(0, 0));
        paintCurves(m_scratch, slice, t);
        p.drawImage(slice.topLeft(), m_scratch, QRect(QPoint(0, 0), slice.size()));
    });
}

QSize AmbientBackground::driftSize() const
{
    return QSize(std::max((width() + kDriftScale - 1) / kDriftScale, 1),
                 std::max((height() + kDriftScale - 1) / kDriftScale, 1));
}

void AmbientBackground::renderDrift(double t, QImage &drift) const
{
    const QSize size = driftSize();
    if (drift.size() != size)
        drift = QImage(size, QImage::Format_RGB32);
    drift.fill(ThemeColors::windowBg);
    // No antialiasing: the light fades to nothing at its edge, so its outline shows no steps.
    QPainter p(&drift);
    const double w = width();
    const double h = height();
    forEachSlice(QRegion(drift.rect()), [&](const QRect &slice) {
        p.setClipRect(slice);
        p.save();
        // Drawn in window coordinates onto the small image, which paintEvent stretches back.
        p.scale(double(size.width()) / std::max(width(), 1), double(size.height()) / std::max(height(), 1));
        paintBlob(p, 0, QPointF(w + 140 - 620, -180), t);
        paintBlob(p, 1, QPointF(180, h + 220 - 520), t);
        paintBlob(p, 2, QPointF(w - 0.22 * w - 380, h - 0.08 * h - 380), t);
        p.restore();
    });
}

void AmbientBackground::placeLightTiles()
{
    // A tile takes the small pixels the stretch takes its pixels from.
    m_stretch.place(m_drift.size(), size());
    const auto spans = [this](Qt::Orientation orientation, int window, std::vector<LightSpan> &out) {
        out.clear();
        int at = 0;
        for (int start = 0; start < window; start += kLightTile) {
            const auto [first, last] = m_stretch.taken(orientation, start, std::min(start + kLightTile, window) - 1);
            out.push_back({first, last - first + 1, at});
            at += last - first + 1;
        }
        return at;
    };
    const int atlasWidth = spans(Qt::Horizontal, width(), m_lightColumns);
    const int atlasHeight = spans(Qt::Vertical, height(), m_lightRows);
    m_lightShown = QImage(atlasWidth, atlasHeight, QImage::Format_RGB32);
    m_waited.assign(m_lightRows.size() * m_lightColumns.size(), -1);
    for (const LightSpan &row : m_lightRows) {
        for (const LightSpan &column : m_lightColumns)
            copyLight(m_drift, column, row);
    }
}

void AmbientBackground::copyLight(const QImage &drift, const LightSpan &column, const LightSpan &row)
{
    for (int y = 0; y < row.count; ++y)
        std::copy_n(reinterpret_cast<const QRgb *>(drift.constScanLine(row.first + y)) + column.first, column.count,
                    reinterpret_cast<QRgb *>(m_lightShown.scanLine(row.at + y)) + column.at);
}

void AmbientBackground::takeDriftChanges(const QImage &next, TileMask &tiles)
{
    // A tile of the window is brought up to date once a small pixel it is stretched from has
    // moved more than a step of 1/255 away from what the tile shows, a difference no eye tells
    // apart: while the light drifts slowly each part of it is repainted every few steps instead
    // of at every one. A row of tiles is looked at a line at a time across all its tiles, which
    // reads both pictures in order.
    const uchar *shownBits = m_lightShown.constBits();
    const uchar *nextBits = next.constBits();
    const qsizetype shownLine = m_lightShown.bytesPerLine();
    const qsizetype nextLine = next.bytesPerLine();
    m_dueColumns.resize(m_lightColumns.size());
    for (std::size_t r = 0; r < m_lightRows.size(); ++r) {
        const LightSpan &row = m_lightRows[r];
        std::fill(m_dueColumns.begin(), m_dueColumns.end(), false);
        for (int y = 0; y < row.count; ++y) {
            const auto *shown = reinterpret_cast<const QRgb *>(shownBits + (row.at + y) * shownLine);
            const auto *target = reinterpret_cast<const QRgb *>(nextBits + (row.first + y) * nextLine);
            for (std::size_t c = 0; c < m_lightColumns.size(); ++c) {
                const LightSpan &column = m_lightColumns[c];
                if (!m_dueColumns[c])
                    m_dueColumns[c] = apart(shown + column.at, target + column.first, column.count);
            }
        }
        for (std::size_t c = 0; c < m_lightColumns.size(); ++c) {
            int &waited = m_waited[r * m_lightColumns.size() + c];
            waited = m_dueColumns[c] ? std::min(waited + 1, kLongestWait) : -1;
            if (waited >= 0)
                m_due.push_back(r * m_lightColumns.size() + c);
        }
    }
    std::size_t taken = 0;
    for (int wait = kLongestWait; wait >= 0; --wait) {
        for (std::size_t tile : m_due) {
            if (m_waited[tile] != wait)
                continue;
            if (taken >= kMostLightTiles && wait < kLongestWait)
                break;
            const std::size_t r = tile / m_lightColumns.size();
            const std::size_t c = tile % m_lightColumns.size();
            copyLight(next, m_lightColumns[c], m_lightRows[r]);
            tiles.mark(QRectF(int(c) * kLightTile, int(r) * kLightTile, kLightTile, kLightTile));
            m_waited[tile] = -1;
            ++taken;
        }
    }
    m_due.clear();
}

void AmbientBackground::placeCurves()
{
    if (m_curveSize == size())
        return;
    m_curveSize = size();
    const QTransform scale = QTransform::fromScale(width() / 1600.0, height() / 1000.0);
    m_curve1.place(scale, size());
    m_curve2.place(scale, size());
    TileMask tiles;
    tiles.reset(size());
    m_curve1.markReach(tiles);
    m_curve2.markReach(tiles);
    m_curveRegion = tiles.region();
}

void AmbientBackground::paintBlob(QPainter &p, int index, const QPointF &topLeft, double t) const
{
    const Blob &b = blob(index);
    const double progress = std::fmod(t, b.period) / b.period;
    double dx = 0.0;
    double dy = 0.0;
    double scale = 1.0;
    for (int i = 0; i + 1 < b.keyCount; ++i) {
        const Keyframe &k0 = b.keys[std::size_t(i)];
        const Keyframe &k1 = b.keys[std::size_t(i + 1)];
        if (k0.t <= progress && progress <= k1.t) {
            static const QEasingCurve easing(QEasingCurve::InOutSine);
            const double span = k1.t - k0.t;
            const double u = easing.valueForProgress(span > 0 ? (progress - k0.t) / span : 0.0);
            dx = k0.dx + (k1.dx - k0.dx) * u;
            dy = k0.dy + (k1.dy - k0.dy) * u;
            scale = k0.scale + (k1.scale - k0.scale) * u;
            break;
        }
    }
    const double radius = b.diameter / 2.0 * scale;
    const QPointF centre(topLeft.x() + b.diameter / 2.0 + dx, topLeft.y() + b.diameter / 2.0 + dy);
    QRadialGradient gradient(centre, radius);
    gradient.setColorAt(0.0, withAlpha(b.color, b.alpha));
    gradient.setColorAt(1.0, withAlpha(b.color, 0.0));
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(centre, radius, radius);
}

void AmbientBackground::paintCurves(QImage &image, const QRect &slice, double t)
{
    const auto [first, second] = dashOffsets(t);
    m_curve1.paint(image, slice, first);
    m_curve2.paint(image, slice, second);
}

} // namespace ostra
