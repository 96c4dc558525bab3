#include "ostraui/mapview.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "ostraui/alphacolor.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

constexpr int kTileSize = 256;
constexpr int kMinZoom = 3;
constexpr int kMaxZoom = 19;
constexpr int kMaxTrail = 3000;
constexpr double kMaxLatitude = 85.05112878;
constexpr double kTrailStep = 1e-5;
constexpr qint64 kDiskCacheBytes = 209715200;
// Real tiles are a few tens of KiB; anything this large is not a tile.
constexpr qint64 kMaxTileBytes = 4 * 1024 * 1024;

// Web Mercator in world units: 0..1 west to east and north to south.
QPointF unitMercator(double latitude, double longitude)
{
    const double lat = std::clamp(latitude, -kMaxLatitude, kMaxLatitude);
    const double x = (longitude + 180.0) / 360.0;
    const double y = (1.0 - std::asinh(std::tan(lat * M_PI / 180.0)) / M_PI) / 2.0;
    return QPointF(x, y);
}

double worldSize(int zoom)
{
    return kTileSize * std::ldexp(1.0, zoom);
}

QRectF controlRect(int width, int index)
{
    return QRectF(width - 40, 10 + 36 * index, 30, 30);
}

// How far the cached layer reaches beyond the view on every side.
constexpr int kLayerMargin = 256;
// How many dropped trail points the layer may still show before it is redrawn.
constexpr int kMaxStaleTrail = 100;
// The marker's halo, its widest part, with room for antialiasing.
constexpr int kMarkerReach = 22;

QPen trailUnderPen()
{
    return QPen(withAlpha(Qt::white, 0.8), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QPen trailPen()
{
    return QPen(ThemeColors::accent, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

} // namespace

MapView::MapView(QWidget *parent)
    : QWidget(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_tileBase(QStringLiteral("https://tile.openstreetmap.org"))
    , m_attribution(QString::fromUtf8("\u00A9 OpenStreetMap contributors"))
{
    setMouseTracking(true);
    setCursor(Qt::OpenHandCursor);
    m_tiles.setMaxCost(256);
    auto *cache = new QNetworkDiskCache(m_network);
    cache->setCacheDirectory(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
                             + QStringLiteral("/map-tiles"));
    cache->setMaximumCacheSize(kDiskCacheBytes);
    m_network->setCache(cache);
}

void MapView::setTileServer(const QString &baseUrl, const QString &attribution)
{
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    m_tileBase = base;
    m_attribution = attribution;
    update();
}

QSize MapView::sizeHint() const
{
    return QSize(320, 240);
}

QSize MapView::minimumSizeHint() const
{
    return QSize(200, 160);
}

QPointF MapView::project(double latitude, double longitude) const
{
    return unitMercator(latitude, longitude) * worldSize(m_zoom);
}

QString MapView::tileKey(int z, int x, int y)
{
    return QStringLiteral("%1/%2/%3").arg(z).arg(x).arg(y);
}

void MapView::setPosition(double latitude, double longitude, double heading, bool moving)
{
    const QRect oldMarker = markerRect(viewOrigin());
    const bool hadFix = m_hasFix;
    m_hasFix = true;
    m_latitude = latitude;
    m_longitude = longitude;
    m_heading = heading;
    m_moving = moving;

    const QPointF point(longitude, latitude);
    const bool same = !m_trail.isEmpty() && std::abs(m_trail.last().x() - point.x()) <= kTrailStep
                      && std::abs(m_trail.last().y() - point.y()) <= kTrailStep;
    if (!same) {
        m_trail.append(point);
        m_trailUnit.append(unitMercator(latitude, longitude));
        if (m_trail.size() > kMaxTrail) {
            const qsizetype excess = m_trail.size() - kMaxTrail;
            m_trail.remove(0, excess);
            m_trailUnit.remove(0, excess);
            // The layer still shows the dropped oldest points; redrawing it for each would undo
            // its use, so it is redrawn once a stretch of them has gone.
            m_layerDropped += int(excess);
            if (m_layerDropped >= kMaxStaleTrail)
                m_layerValid = false;
        }
    }

    if (!hadFix)
        m_follow = true;
    const QRect newSegment = same ? QRect() : extendLayerTrail();
    if (m_follow || !m_layerValid) {
        if (m_follow)
            m_center = project(latitude, longitude);
        update();
        return;
    }
    // The view stands still: only the marker's old and new places and the new piece of trail change.
    update(QRegion(oldMarker) + markerRect(viewOrigin()) + newSegment.translated(-viewOrigin()));
}

void MapView::setZoom(int zoom, const QPointF &anchor)
{
    const int z = std::clamp(zoom, kMinZoom, kMaxZoom);
    if (z == m_zoom)
        return;
    const double f = std::ldexp(1.0, z - m_zoom);
    m_zoom = z;
    if (m_follow && m_hasFix) {
        m_center = project(m_latitude, m_longitude);
    } else {
        const QPointF half(width() / 2.0, height() / 2.0);
        m_center = (m_center - half + anchor) * f - anchor + half;
    }
    update();
}

void MapView::requestTile(int z, int x, int y)
{
    const QString key = tileKey(z, x, y);
    if (m_pending.contains(key) || m_failed.contains(key))
        return;
    m_pending.insert(key);

    QNetworkRequest request(QUrl(m_tileBase + QLatin1Char('/') + key + QStringLiteral(".png")));
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("QorvantOSTRA/%1 (RC car GPS map)")
                          .arg(QCoreApplication::applicationVersion()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferCache);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxTileBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, key] { onTileReply(reply, key); });
}

void MapView::onTileReply(QNetworkReply *reply, const QString &key)
{
    reply->deleteLater();
    m_pending.remove(key);
    QPixmap pixmap;
    if (reply->error() == QNetworkReply::NoError && pixmap.loadFromData(reply->readAll())
        && !pixmap.isNull()) {
        m_tiles.insert(key, new QPixmap(pixmap), 1);
        m_layerValid = false;
        update();
        return;
    }
    if (reply->error() != QNetworkReply::NoError)
        qWarning("Map tile %s failed: %s", qPrintable(key), qPrintable(reply->errorString()));
    else
        qWarning("Map tile %s is not an image", qPrintable(key));
    m_failed.insert(key);
}

QPointF MapView::topLeftWorld() const
{
    return m_center - QPointF(width() / 2.0, height() / 2.0);
}

// The view's top-left in whole world pixels: tiles and layer then land on whole pixels.
QPoint MapView::viewOrigin() const
{
    const QPointF o = topLeftWorld();
    return QPoint(int(std::floor(o.x())), int(std::floor(o.y())));
}

QRect MapView::markerRect(const QPoint &origin) const
{
    if (!m_hasFix)
        return QRect();
    const QPointF p = project(m_latitude, m_longitude) - QPointF(origin);
    return QRect(int(std::floor(p.x())) - kMarkerReach, int(std::floor(p.y())) - kMarkerReach,
                 2 * kMarkerReach + 1, 2 * kMarkerReach + 1);
}

int MapView::hitControl(const QPointF &p) const
{
    if (!m_hasFix)
        return -1;
    for (int i = 0; i < 3; ++i) {
        if (controlRect(width(), i).contains(p))
            return i;
    }
    return -1;
}

void MapView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 12, 12);
    p.setClipPath(clip);

    if (!m_hasFix) {
        p.fillRect(rect(), ThemeColors::surfaceAlt);
        paintWaiting(p);
        return;
    }
    const QPoint origin = viewOrigin();
    requestVisibleTiles(origin);
    if (!layerCovers(origin))
        buildLayer(origin);
    p.drawImage(m_layerOrigin - origin, m_layer);
    paintMarker(p, origin);
    // The controls' column, with room for their antialiased edges.
    paintKept(p, m_keptControls, QRect(width() - 41, 9, 32, 3 * 36 - 4), qHash(m_hoveredControl) ^ (m_follow ? 1 : 2),
              &MapView::paintControls);
    if (!m_attribution.isEmpty())
        paintKept(p, m_keptAttribution, attributionRect(), qHash(m_attribution), &MapView::paintAttribution);
}

void MapView::paintKept(QPainter &p, KeptPicture &kept, const QRect &area, size_t key,
                        void (MapView::*draw)(QPainter &))
{
    const qreal ratio = devicePixelRatioF();
    const bool stale = kept.key != key || kept.area != area || kept.image.devicePixelRatio() != ratio;
    if (stale) {
        kept.key = key;
        kept.area = area;
        kept.image = QImage(area.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        kept.image.setDevicePixelRatio(ratio);
        kept.image.fill(Qt::transparent);
        QPainter k(&kept.image);
        k.setRenderHint(QPainter::Antialiasing);
        k.translate(-area.topLeft());
        (this->*draw)(k);
    }
    p.drawImage(area.topLeft(), kept.image);
}

QRect MapView::attributionRect() const
{
    const QFontMetrics fm(uiFont(10.5, 400));
    const int w = fm.horizontalAdvance(m_attribution) + 12;
    const int h = fm.height() + 4;
    return QRect(width() - w, height() - h, w, h);
}

bool MapView::layerCovers(const QPoint &origin) const
{
    return m_layerValid && m_layerZoom == m_zoom
           && QRect(m_layerOrigin, m_layer.size()).contains(QRect(origin, size()));
}

void MapView::buildLayer(const QPoint &origin)
{
    m_layerOrigin = origin - QPoint(kLayerMargin, kLayerMargin);
    const QSize area = size() + QSize(2 * kLayerMargin, 2 * kLayerMargin);
    if (m_layer.size() != area)
        m_layer = QImage(area, QImage::Format_RGB32);
    m_layer.fill(ThemeColors::surfaceAlt);
    QPainter p(&m_layer);
    p.setRenderHint(QPainter::Antialiasing);
    paintTiles(p, m_layerOrigin, area);
    if (isDarkTheme())
        p.fillRect(m_layer.rect(), withAlpha(QColor(0x0B, 0x10, 0x16), 0.35));
    paintTrail(p, m_layerOrigin, area);
    m_layerZoom = m_zoom;
    m_layerValid = true;
    m_layerDropped = 0;
    const double s = worldSize(m_zoom);
    m_layerTrailPoints = int(std::min<qsizetype>(m_trailUnit.size(), 2));
    if (!m_trailUnit.isEmpty()) {
        m_layerTrailEnd = m_trailUnit.last() * s;
        m_layerTrailPrev = m_trailUnit.size() > 1 ? m_trailUnit.at(m_trailUnit.size() - 2) * s : m_layerTrailEnd;
    }
}

// Draws the trail's newest segment onto the layer; returns the world-pixel rectangle it touched.
QRect MapView::extendLayerTrail()
{
    if (!m_layerValid || m_layerZoom != m_zoom || m_trailUnit.isEmpty())
        return QRect();
    const QPointF point = m_trailUnit.last() * worldSize(m_zoom);
    if (m_layerTrailPoints == 0) {
        m_layerTrailPrev = m_layerTrailEnd = point;
        m_layerTrailPoints = 1;
        return QRect();
    }
    // A point on the pixel of the last one drawn shows nothing new.
    if (std::abs(point.x() - m_layerTrailEnd.x()) < 1.0 && std::abs(point.y() - m_layerTrailEnd.y()) < 1.0)
        return QRect();
    QPainter p(&m_layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-QPointF(m_layerOrigin));
    p.setPen(trailUnderPen());
    p.drawLine(m_layerTrailEnd, point);
    // The line goes over the white of its new neighbour, as one path would have it.
    QPainterPath path(m_layerTrailPoints > 1 ? m_layerTrailPrev : m_layerTrailEnd);
    path.lineTo(m_layerTrailEnd);
    path.lineTo(point);
    p.setPen(trailPen());
    p.drawPath(path);
    const QRectF touched = QRectF(m_layerTrailPrev, point).normalized().united(QRectF(m_layerTrailEnd, QSizeF(0, 0)));
    m_layerTrailPrev = m_layerTrailEnd;
    m_layerTrailEnd = point;
    m_layerTrailPoints = 2;
    return touched.adjusted(-5, -5, 5, 5).toAlignedRect();
}

void MapView::paintWaiting(QPainter &p)
{
    const QRect r = rect();
    p.setPen(ThemeColors::textSecondary);
    p.setFont(uiFont(14, 500));
    p.drawText(r.adjusted(16, 0, -16, -14), Qt::AlignCenter, tr("Waiting for a GPS fix"));
    p.setPen(ThemeColors::textMuted);
    const QFont font = uiFont(12.5, 400);
    p.setFont(font);
    // Where one centred line would start; a wrapped text grows downwards from there instead of
    // climbing into the title.
    const QRect below = r.adjusted(16, 30, -16, 0);
    const int top = below.center().y() - QFontMetrics(font).height() / 2;
    p.drawText(QRect(below.left(), top, below.width(), below.bottom() - top),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
               tr("The car appears here once the receiver has a fix"));
}

void MapView::requestVisibleTiles(const QPoint &origin)
{
    const int n = 1 << m_zoom;
    const int firstCol = int(std::floor(origin.x() / double(kTileSize)));
    const int lastCol = int(std::floor((origin.x() + width()) / double(kTileSize)));
    const int firstRow = int(std::floor(origin.y() / double(kTileSize)));
    const int lastRow = int(std::floor((origin.y() + height()) / double(kTileSize)));
    for (int row = std::max(firstRow, 0); row <= std::min(lastRow, n - 1); ++row) {
        for (int col = firstCol; col <= lastCol; ++col) {
            const int x = ((col % n) + n) % n;
            if (!m_tiles.contains(tileKey(m_zoom, x, row)))
                requestTile(m_zoom, x, row);
        }
    }
}

// Draws the tiles of the area whose top-left is the world pixel origin: the cached ones, or
// in their place the matching quarter of a cached parent.
void MapView::paintTiles(QPainter &p, const QPoint &origin, const QSize &area)
{
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const int n = 1 << m_zoom;
    const int firstCol = int(std::floor(origin.x() / double(kTileSize)));
    const int lastCol = int(std::floor((origin.x() + area.width()) / double(kTileSize)));
    const int firstRow = int(std::floor(origin.y() / double(kTileSize)));
    const int lastRow = int(std::floor((origin.y() + area.height()) / double(kTileSize)));
    for (int row = std::max(firstRow, 0); row <= std::min(lastRow, n - 1); ++row) {
        for (int col = firstCol; col <= lastCol; ++col) {
            const int x = ((col % n) + n) % n;
            const QRect target(col * kTileSize - origin.x(), row * kTileSize - origin.y(), kTileSize, kTileSize);
            const QPixmap *tile = m_tiles.object(tileKey(m_zoom, x, row));
            if (tile && !tile->isNull()) {
                p.drawPixmap(target, *tile, tile->rect());
                continue;
            }
            const QPixmap *parent = m_tiles.object(tileKey(m_zoom - 1, x / 2, row / 2));
            if (parent && !parent->isNull()) {
                const double half = parent->width() / 2.0;
                const double halfH = parent->height() / 2.0;
                p.drawPixmap(QRectF(target), *parent, QRectF((x % 2) * half, (row % 2) * halfH, half, halfH));
            }
        }
    }
}

void MapView::paintTrail(QPainter &p, const QPoint &origin, const QSize &area)
{
    if (m_trailUnit.size() < 2)
        return;
    // Stroking thousands of wide round-joined segments dominates a repaint: leave out segments
    // wholly outside the area and points on the pixel of the last one drawn; neither shows.
    const double s = worldSize(m_zoom);
    const QPointF o(origin);
    const QRectF view = QRectF(QPointF(0, 0), QSizeF(area)).adjusted(-8, -8, 8, 8);
    const auto onScreen = [&view](const QPointF &a, const QPointF &b) {
        return std::min(a.x(), b.x()) <= view.right() && std::max(a.x(), b.x()) >= view.left()
               && std::min(a.y(), b.y()) <= view.bottom() && std::max(a.y(), b.y()) >= view.top();
    };
    QPainterPath path;
    bool drawing = false;
    QPointF last = m_trailUnit.first() * s - o;
    const qsizetype count = m_trailUnit.size();
    for (qsizetype i = 1; i < count; ++i) {
        const QPointF point = m_trailUnit.at(i) * s - o;
        if (drawing && i + 1 < count && std::abs(point.x() - last.x()) < 1.0 && std::abs(point.y() - last.y()) < 1.0)
            continue;
        if (onScreen(last, point)) {
            if (!drawing)
                path.moveTo(last);
            path.lineTo(point);
            drawing = true;
        } else {
            drawing = false;
        }
        last = point;
    }
    if (path.isEmpty())
        return;
    p.setBrush(Qt::NoBrush);
    p.setPen(trailUnderPen());
    p.drawPath(path);
    p.setPen(trailPen());
    p.drawPath(path);
}

void MapView::paintMarker(QPainter &p, const QPoint &origin)
{
    const QPointF pos = project(m_latitude, m_longitude) - QPointF(origin);
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(ThemeColors::dangerAccent, 0.18));
    p.drawEllipse(pos, 20, 20);

    p.setPen(QPen(Qt::white, 2.5));
    p.setBrush(ThemeColors::dangerAccent);
    if (m_moving) {
        p.save();
        p.translate(pos);
        p.rotate(m_heading);
        const QPointF arrow[] = {{0, -11}, {8, 9}, {0, 4}, {-8, 9}};
        p.drawPolygon(arrow, 4);
        p.restore();
    } else {
        p.drawEllipse(pos, 7.5, 7.5);
    }
}

void MapView::paintControls(QPainter &p)
{
    for (int i = 0; i < 3; ++i) {
        const QRectF r = controlRect(width(), i);
        p.setPen(QPen(ThemeColors::borderLight, 1));
        p.setBrush(m_hoveredControl == i ? ThemeColors::surfaceAlt : ThemeColors::surface);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);

        const QColor iconColor = (i == 2 && m_follow) ? ThemeColors::accent : ThemeColors::ink;
        p.setPen(QPen(iconColor, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        const QPointF c = r.center();
        if (i < 2) {
            p.drawLine(QPointF(c.x() - 6, c.y()), QPointF(c.x() + 6, c.y()));
            if (i == 0)
                p.drawLine(QPointF(c.x(), c.y() - 6), QPointF(c.x(), c.y() + 6));
            continue;
        }
        p.drawEllipse(c, 5.5, 5.5);
        p.drawLine(QPointF(c.x(), c.y() - 7), QPointF(c.x(), c.y() - 10));
        p.drawLine(QPointF(c.x(), c.y() + 7), QPointF(c.x(), c.y() + 10));
        p.drawLine(QPointF(c.x() - 7, c.y()), QPointF(c.x() - 10, c.y()));
        p.drawLine(QPointF(c.x() + 7, c.y()), QPointF(c.x() + 10, c.y()));
        p.setPen(Qt::NoPen);
        p.setBrush(iconColor);
        p.drawEllipse(c, 2, 2);
    }
}

void MapView::paintAttribution(QPainter &p)
{
    const QRect box = attributionRect();
    p.fillRect(box, withAlpha(ThemeColors::surface, 0.8));
    p.setFont(uiFont(10.5, 400));
    p.setPen(ThemeColors::textSecondary);
    p.drawText(box, Qt::AlignCenter, m_attribution);
}

void MapView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF pos = event->position();
    const QPointF middle(width() / 2.0, height() / 2.0);
    switch (hitControl(pos)) {
    case 0:
        setZoom(m_zoom + 1, middle);
        return;
    case 1:
        setZoom(m_zoom - 1, middle);
        return;
    case 2:
        m_follow = true;
        if (m_hasFix)
            m_center = project(m_latitude, m_longitude);
        update();
        return;
    default:
        break;
    }
    if (m_hasFix) {
        m_dragging = true;
        m_lastDragPos = pos;
        setCursor(Qt::ClosedHandCursor);
    }
}

void MapView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    if (m_dragging) {
        const QPointF d = pos - m_lastDragPos;
        m_lastDragPos = pos;
        if (d.isNull())
            return;
        m_center -= d;
        m_follow = false;
        update();
        return;
    }
    const int hovered = hitControl(pos);
    if (hovered != m_hoveredControl) {
        m_hoveredControl = hovered;
        setCursor(hovered >= 0 ? Qt::PointingHandCursor : Qt::OpenHandCursor);
        update();
    }
}

void MapView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        setCursor(Qt::OpenHandCursor);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void MapView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A quick second click on a control counts as another click on it.
    if (hitControl(event->position()) >= 0) {
        mousePressEvent(event);
        return;
    }
    if (m_hasFix && event->button() == Qt::LeftButton)
        setZoom(m_zoom + 1, event->position());
}

void MapView::wheelEvent(QWheelEvent *event)
{
    if (!m_hasFix) {
        QWidget::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
        setZoom(m_zoom + steps, event->position());
    event->accept();
}

void MapView::leaveEvent(QEvent *event)
{
    if (m_hoveredControl != -1) {
        m_hoveredControl = -1;
        update();
    }
    QWidget::leaveEvent(event);
}

} // namespace ostra
