#include "ostraui/shadowlayer.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "ostraui/alphacolor.h"
#include "ostraui/card.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

// How far beyond its card a shadow can reach sideways (blur 40 less spread 20, plus margin).
constexpr int kShadowReach = 48;

// Where the widest shadow (a hovered card's) can fall, lower by its offset.
QRect shadowArea(const QRect &card)
{
    return card.adjusted(-kShadowReach, -kShadowReach, kShadowReach, kShadowReach + 24);
}

void paintCardShadows(QPainter *painter, const QRectF &shape, bool lifted, int elevation)
{
    const QColor &shadow = ThemeColors::shadow;
    paintShadow(painter, shape, Card::cornerRadius, 1, 2, 0, withAlpha(shadow, 0.04));
    if (lifted)
        paintShadow(painter, shape, Card::cornerRadius, 22, 40, -20, withAlpha(shadow, 0.28));
    else if (elevation == 2)
        paintShadow(painter, shape, Card::cornerRadius, 12, 32, -18, withAlpha(shadow, 0.18));
    else
        paintShadow(painter, shape, Card::cornerRadius, 8, 22, -16, withAlpha(shadow, 0.10));
}

} // namespace

ShadowLayer::ShadowLayer(QWidget *container)
    : QWidget(container)
{
    setObjectName(QStringLiteral("ostraShadowLayer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    // Each kind of shadow is blurred once, up to 10 ms: here, as the window is built, rather
    // than when a page first shows a raised card or a card is first hovered.
    static bool blurred = false;
    if (!blurred) {
        blurred = true;
        QImage scratch(200, 200, QImage::Format_ARGB32_Premultiplied);
        scratch.fill(Qt::transparent);
        QPainter painter(&scratch);
        for (int kind = 0; kind < 3; ++kind)
            paintCardShadows(&painter, QRectF(60, 60, 80, 80), kind == 0, kind);
    }
}

bool ShadowLayer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget()) {
        switch (event->type()) {
        case QEvent::Resize:
            setGeometry(parentWidget()->rect());
            lower();
            break;
        case QEvent::ChildAdded:
            // Beneath what is added; a card shades itself as it shows. A dialog made with the
            // container as its parent is added too, and repainting the layer would repaint all.
            lower();
            break;
        case QEvent::LayoutRequest:
            // A page asks for a new layout whenever a label on it changes its text; repainting
            // the whole layer then would repaint everything above it. Cards repaint their
            // shadows when they move, resize, show or hide; here only a changed set counts.
            lower();
            if (shadedCards() != m_painted)
                update();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QList<ShadowLayer::Shaded> ShadowLayer::shadedCards() const
{
    QList<Shaded> shaded;
    if (QWidget *container = parentWidget()) {
        for (QObject *child : container->children()) {
            auto *card = qobject_cast<Card *>(child);
            if (card && card->isVisible() && !card->isDimmed() && card->elevation() != 0)
                shaded.append({card, card->geometry(), card->isClickable() && card->isHovered()});
        }
    }
    return shaded;
}

// Cards are opaque inside their rounded outline: a repaint of a live value inside one shows no
// shadow at all, and the layer need not paint its cards' shadows beneath it.
bool ShadowLayer::hiddenUnderCards(const QRegion &region) const
{
    const int r = Card::cornerRadius;
    for (const QRect &rect : region) {
        const bool covered = std::any_of(m_painted.cbegin(), m_painted.cend(), [&](const Shaded &shaded) {
            return shaded.geometry.adjusted(r, 1, -r, -1).contains(rect)
                || shaded.geometry.adjusted(1, r, -1, -r).contains(rect);
        });
        if (!covered)
            return false;
    }
    return true;
}

void ShadowLayer::paintEvent(QPaintEvent *event)
{
    const QList<Shaded> cards = shadedCards();
    if (cards == m_painted && hiddenUnderCards(event->region()))
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    m_painted = cards;
    // Most of a shadow lies under its own card, which covers it: only what shows is filled.
    QRegion shows = event->region();
    const int r = Card::cornerRadius;
    for (const Shaded &shaded : std::as_const(m_painted))
        shows -= QRegion(shaded.geometry.adjusted(r, 1, -r, -1)) + QRegion(shaded.geometry.adjusted(1, r, -1, -r));
    painter.setClipRegion(shows);
    for (const Shaded &shaded : std::as_const(m_painted)) {
        if (!event->region().intersects(shadowArea(shaded.geometry)))
            continue;
        paintCardShadows(&painter, shaded.geometry, shaded.lifted, shaded.card->elevation());
    }
}

void ShadowLayer::updateShadowOf(const QRect &card)
{
    update(shadowArea(card));
}

ShadowLayer *shadowLayerFor(QWidget *container)
{
    if (!container)
        return nullptr;
    for (QObject *child : container->children()) {
        if (auto *layer = qobject_cast<ShadowLayer *>(child))
            return layer;
    }
    auto *layer = new ShadowLayer(container);
    layer->setGeometry(container->rect());
    container->installEventFilter(layer);
    layer->lower();
    layer->show();
    return layer;
}

void paintShadow(QPainter *painter, const QRectF &shape, double radius, double offsetY, double blur,
                 double spread, const QColor &color)
{
    const ShadowEntry &entry = cachedShadow(std::max(int(std::lround(radius + spread)), 0),
                                            int(std::lround(blur)), color.rgba());
    const QRectF rect = shape.adjusted(-spread, -spread, spread, spread).translated(0, offsetY);
    if (rect.width() <= 0 || rect.height() <= 0)
        return;

    const double m = entry.margin;
    const QRectF target = rect.adjusted(-m, -m, m, m);
    const int c = entry.corner;
    const double cw = std::min<double>(c, target.width() / 2);
    const double ch = std::min<double>(c, target.height() / 2);
    const int size = entry.image.width();

    // Cell edges on whole pixels, so neighbouring cells meet without a seam.
    const double tx[] = {std::round(target.left()), std::round(target.left() + cw),
                         std::round(target.right() - cw), std::round(target.right())};
    const double ty[] = {std::round(target.top()), std::round(target.top() + ch),
                         std::round(target.bottom() - ch), std::round(target.bottom())};
    const int sx[] = {0, c, size - c, size};

    // Whole-pixel cells need no antialiasing, which would send every fill the slow way.
    const QPainter::RenderHints hints = painter->renderHints();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QRect cell(QPoint(int(tx[col]), int(ty[row])), QPoint(int(tx[col + 1]) - 1, int(ty[row + 1]) - 1));
            if (cell.width() <= 0 || cell.height() <= 0)
                continue;
            // The middle is one pixel of one colour: a plain fill instead of stretching it.
            if (row == 1 && col == 1) {
                painter->fillRect(cell, entry.centre);
                continue;
            }
            // A side repeats one line: tiled from a wide copy, unless the corners were squeezed.
            const QImage *strip = nullptr;
            if (row == 1 && cell.width() == c)
                strip = col == 0 ? &entry.left : &entry.right;
            else if (col == 1 && cell.height() == c)
                strip = row == 0 ? &entry.top : &entry.bottom;
            if (strip) {
                QBrush brush(*strip);
                brush.setTransform(QTransform::fromTranslate(cell.left(), cell.top()));
                painter->fillRect(cell, brush);
                continue;
            }
            const QRect source(QPoint(sx[col], sx[row]), QPoint(sx[col + 1] - 1, sx[row + 1] - 1));
            painter->drawImage(cell, entry.image, source);
        }
    }
    painter->setRenderHints(hints, true);
    painter->setRenderHints(~hints, false);
}

const ShadowEntry &cachedShadow(int radius, int blur, quint32 rgba)
{
    // Node-based, so references handed out stay valid while the cache grows. The key is built
    // without allocating, as shadows are looked up on every repaint.
    static std::unordered_map<quint64, ShadowEntry> cache;
    const quint64 key = (quint64(quint16(radius)) << 48) | (quint64(quint16(blur)) << 32) | rgba;
    auto found = cache.find(key);
    if (found != cache.end())
        return found->second;

    const int m = blur + 1;
    const int s = (m + radius) * 2;
    const int side = s + 1 + 2 * m;
    ShadowEntry entry;
    entry.image = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    entry.image.fill(Qt::transparent);
    {
        QPainter painter(&entry.image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawRoundedRect(QRectF(m, m, s + 1, s + 1), radius, radius);
    }
    gaussianShadow(entry.image, blur * 0.5);
    {
        QPainter painter(&entry.image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(entry.image.rect(), QColor::fromRgba(rgba));
    }
    entry.corner = radius + 2 * m;
    entry.margin = m;
    const int c = entry.corner;
    entry.centre = QColor::fromRgba(qUnpremultiply(entry.image.pixel(c, c)));
    // Side lines repeated to a width that tiles in a few runs rather than pixel by pixel.
    constexpr int kStrip = 256;
    entry.top = entry.image.copy(c, 0, 1, c).scaled(kStrip, c);
    entry.bottom = entry.image.copy(c, side - c, 1, c).scaled(kStrip, c);
    entry.left = entry.image.copy(0, c, c, 1).scaled(c, kStrip);
    entry.right = entry.image.copy(side - c, c, c, 1).scaled(c, kStrip);
    return cache.emplace(key, std::move(entry)).first->second;
}

void gaussianShadow(QImage &image, double sigma)
{
    if (sigma <= 0.1 || image.isNull())
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);

    const int r = std::max(int(std::ceil(3 * sigma)), 1);
    std::vector<float> kernel(2 * r + 1);
    float sum = 0;
    for (int i = -r; i <= r; ++i) {
        kernel[i + r] = float(std::exp(-(i * i) / (2 * sigma * sigma)));
        sum += kernel[i + r];
    }
    for (float &weight : kernel)
        weight /= sum;

    const int w = image.width();
    const int h = image.height();
    std::vector<float> alpha(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            alpha[size_t(y) * w + x] = float(qAlpha(line[x]));
    }

    std::vector<float> pass(alpha.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float acc = 0;
            for (int i = -r; i <= r; ++i)
                acc += kernel[i + r] * alpha[size_t(y) * w + std::clamp(x + i, 0, w - 1)];
            pass[size_t(y) * w + x] = acc;
        }
    }
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            float acc = 0;
            for (int i = -r; i <= r; ++i)
                acc += kernel[i + r] * pass[size_t(std::clamp(y + i, 0, h - 1)) * w + x];
            line[x] = qRgba(0, 0, 0, std::clamp(int(acc + 0.5f), 0, 255));
        }
    }
}

} // namespace ostra
