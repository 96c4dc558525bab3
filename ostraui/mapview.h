#pragma once

#include <QCache>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPointF>
#include <QSet>
#include <QString>
#include <QWidget>

class QNetworkAccessManager;
class QNetworkReply;

namespace ostra {

// The car's GPS position and trail over cached 256 px XYZ raster tiles, with zoom and pan.
class MapView : public QWidget
{
    Q_OBJECT
public:
    explicit MapView(QWidget *parent = nullptr);

    void setPosition(double latitude, double longitude, double heading, bool moving);
    void setZoom(int zoom, const QPointF &anchor);
    QPointF project(double latitude, double longitude) const;
    static QString tileKey(int z, int x, int y);
    void requestTile(int z, int x, int y);

    // Base address of the XYZ tile server (tiles at <base>/<z>/<x>/<y>.png) and the
    // attribution its terms require.
    void setTileServer(const QString &baseUrl, const QString &attribution);

    int zoom() const { return m_zoom; }
    QPointF center() const { return m_center; }
    bool isFollowing() const { return m_follow; }
    bool hasFix() const { return m_hasFix; }
    // Longitude as x, latitude as y, oldest first.
    QList<QPointF> trail() const { return m_trail; }
    // Whether the marker shows a heading (the car moves fast enough for one).
    bool isMoving() const { return m_moving; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void onTileReply(QNetworkReply *reply, const QString &key);
    int hitControl(const QPointF &p) const;
    QPointF topLeftWorld() const;
    QPoint viewOrigin() const;
    QRect markerRect(const QPoint &origin) const;
    void paintWaiting(QPainter &p);
    void requestVisibleTiles(const QPoint &origin);
    void paintTiles(QPainter &p, const QPoint &origin, const QSize &area);
    void paintTrail(QPainter &p, const QPoint &origin, const QSize &area);
    void paintMarker(QPainter &p, const QPoint &origin);
    bool layerCovers(const QPoint &origin) const;
    void buildLayer(const QPoint &origin);
    QRect extendLayerTrail();
    void paintControls(QPainter &p);
    void paintAttribution(QPainter &p);
    // A small part that looks the same from fix to fix, kept as a picture of its own.
    struct KeptPicture
    {
        QImage image;
        QRect area;
        size_t key = 0;
    };
    void paintKept(QPainter &p, KeptPicture &kept, const QRect &area, size_t key,
                   void (MapView::*draw)(QPainter &));
    QRect attributionRect() const;

    QNetworkAccessManager *m_network;
    QCache<QString, QPixmap> m_tiles;
    QSet<QString> m_pending;
    QSet<QString> m_failed;
    bool m_hasFix = false;
    double m_latitude = 0.0;
    double m_longitude = 0.0;
    double m_heading = 0.0;
    bool m_moving = false;
    QList<QPointF> m_trail;
    // The trail in Mercator units (0..1 across the world), so a repaint only scales it.
    QList<QPointF> m_trailUnit;
    int m_zoom = 16;
    QPointF m_center;
    bool m_follow = true;
    bool m_dragging = false;
    QPointF m_lastDragPos;
    int m_hoveredControl = -1;
    QString m_tileBase;
    QString m_attribution;
    // Tiles, the dark veil and the trail, kept while the view stays within them: a fix then
    // costs one copy and the marker, and the trail grows by its newest segment alone.
    QImage m_layer;
    QPoint m_layerOrigin;
    int m_layerZoom = -1;
    bool m_layerValid = false;
    // The trail's last two points drawn onto the layer, in world pixels at its zoom.
    QPointF m_layerTrailPrev;
    QPointF m_layerTrailEnd;
    int m_layerTrailPoints = 0;
    // Trail points dropped (the oldest, beyond 3000) since the layer was drawn.
    int m_layerDropped = 0;
    KeptPicture m_keptControls;
    KeptPicture m_keptAttribution;
};

} // namespace ostra
