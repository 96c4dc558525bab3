#include <QApplication>
#include <QWheelEvent>

#include "ostraui/mapview.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"
#include "tileserver.h"

using ostra::MapView;
using ostratest::TileServer;

namespace {

constexpr double kLat = 51.5074;
constexpr double kLon = -0.1278;
const QColor kRed(220, 40, 40);

QColor pixelAt(QWidget &w, QPoint p)
{
    return w.grab().toImage().pixelColor(p);
}

QPoint controlCentre(const QWidget &w, int index)
{
    return QPoint(w.width() - 25, 25 + 36 * index);
}

void wheel(QWidget &w, QPoint at, int delta)
{
    QWheelEvent event(at, w.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
}

void drag(QWidget &w, QPoint from, QPoint to)
{
    QTest::mousePress(&w, Qt::LeftButton, {}, from);
    QTest::mouseMove(&w, (from + to) / 2);
    QTest::mouseMove(&w, to);
    QTest::mouseRelease(&w, Qt::LeftButton, {}, to);
}

} // namespace

class TestMapView : public QObject
{
    Q_OBJECT

public:
    TestMapView() { m_missing.handler = [](const QString &) { return TileServer::notFound(); }; }

private slots:
    void projection_data();
    void projection();
    void trail();
    void wheelZoomStaysInRange();
    void dragStopsFollowingAndFollowRecentres();
    void zoomAnchors_data();
    void zoomAnchors();
    void tilesLoadAndComeFromDiskCache();
    void badTilesShowAsMissing_data();
    void badTilesShowAsMissing();
    void columnsWrapAtAntimeridian();

private:
    // Views that paint without a tile test of their own ask this server, never the public one.
    void offline(MapView &view) { view.setTileServer(m_missing.baseUrl(), QString()); }
    TileServer m_missing;
};

void TestMapView::projection_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lon");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QPointF>("expected");
    QTest::newRow("london z16") << kLat << kLon << 16 << QPointF(8382652.08832, 5578852.518435);
    QTest::newRow("north pole clamps to top") << 90.0 << 180.0 << 3 << QPointF(2048.0, 0.0);
}

void TestMapView::projection()
{
    QFETCH(double, lat);
    QFETCH(double, lon);
    QFETCH(int, zoom);
    QFETCH(QPointF, expected);
    MapView view;
    offline(view);
    view.setZoom(zoom, QPointF());
    const QPointF p = view.project(lat, lon);
    QVERIFY(std::abs(p.x() - expected.x()) < 1e-3 && std::abs(p.y() - expected.y()) < 1e-3);
}

void TestMapView::trail()
{
    // Steps under about a metre add no point; the trail keeps the newest 3000.
    MapView view;
    offline(view);
    view.setPosition(kLat, kLon, 0, false);
    view.setPosition(kLat + 9e-6, kLon + 9e-6, 0, false);
    QCOMPARE(view.trail(), QList<QPointF>{QPointF(kLon, kLat)});
    for (int i = 0; i < 3001; ++i)
        view.setPosition(kLat + i * 1e-4, kLon, 0, true);
    const QList<QPointF> trail = view.trail();
    QCOMPARE(trail.size(), 3000);
    QCOMPARE(trail.first().y(), kLat + 1e-4);
}

void TestMapView::wheelZoomStaysInRange()
{
    MapView view;
    offline(view);
    view.resize(400, 300);
    view.setPosition(kLat, kLon, 0, false);
    // From, wheel delta, to: a notch is one step, half a notch none, and 3..19 holds.
    const int steps[][3] = {{16, 120, 17}, {16, 60, 16}, {19, 120, 19}, {16, -2400, 3}};
    for (const auto &[from, delta, to] : steps) {
        view.setZoom(from, QPointF(200, 150));
        wheel(view, QPoint(100, 100), delta);
        QCOMPARE(view.zoom(), to);
    }
}

void TestMapView::dragStopsFollowingAndFollowRecentres()
{
    MapView view;
    offline(view);
    view.resize(400, 300);
    view.show();
    // Without a fix the map ignores zoom and pan.
    const QPointF centre = view.center();
    wheel(view, QPoint(100, 100), 120);
    drag(view, QPoint(100, 100), QPoint(150, 160));
    QCOMPARE(view.zoom(), 16);
    QCOMPARE(view.center(), centre);

    view.setPosition(kLat, kLon, 90, true);
    const QPointF car = view.project(kLat, kLon);
    QCOMPARE(view.center(), car);
    const QPoint followButton = controlCentre(view, 2);
    QCOMPARE(pixelAt(view, followButton), ostra::ThemeColors::accent);
    drag(view, QPoint(100, 200), QPoint(140, 170));
    QVERIFY(!view.isFollowing());
    QCOMPARE(pixelAt(view, followButton), ostra::ThemeColors::ink);
    // A new fix leaves a panned map where the user put it.
    view.setPosition(kLat + 0.001, kLon, 90, true);
    QCOMPARE(view.center(), car - QPointF(40, -30));

    QTest::mouseClick(&view, Qt::LeftButton, {}, followButton);
    QVERIFY(view.isFollowing());
    QCOMPARE(view.center(), view.project(kLat + 0.001, kLon));
}

void TestMapView::zoomAnchors_data()
{
    QTest::addColumn<bool>("following");
    QTest::addColumn<int>("how"); // 0 zoom-out control, 1 wheel, 2 double click
    QTest::newRow("following wheel") << true << 1;
    QTest::newRow("panned zoom-out control") << false << 0;
    QTest::newRow("panned wheel") << false << 1;
    QTest::newRow("panned double click") << false << 2;
}

void TestMapView::zoomAnchors()
{
    QFETCH(bool, following);
    QFETCH(int, how);
    MapView view;
    offline(view);
    view.resize(400, 300);
    view.show();
    view.setPosition(kLat, kLon, 0, false);
    if (!following)
        drag(view, QPoint(100, 200), QPoint(130, 180));

    // The world point under the anchor stays under it: zoom in doubles its pixel position.
    const QPoint pointer(90, 220);
    const QPointF anchor = how == 0 ? QPointF(200, 150) : QPointF(pointer);
    const QPointF before = view.center() - QPointF(200, 150) + anchor;
    if (how == 0)
        QTest::mouseClick(&view, Qt::LeftButton, {}, controlCentre(view, 1));
    else if (how == 1)
        wheel(view, pointer, 120);
    else
        QTest::mouseDClick(&view, Qt::LeftButton, {}, pointer);
    QCOMPARE(view.zoom(), how == 0 ? 15 : 17);
    if (following) {
        QCOMPARE(view.center(), view.project(kLat, kLon));
    } else {
        const QPointF now = view.center() - QPointF(200, 150) + anchor;
        const QPointF expected = before * (how == 0 ? 0.5 : 2.0);
        QVERIFY(std::abs(now.x() - expected.x()) < 1e-6 && std::abs(now.y() - expected.y()) < 1e-6);
    }
}

void TestMapView::tilesLoadAndComeFromDiskCache()
{
    TileServer server;
    const QPoint probe(30, 120);
    int served = 0;
    {
        MapView view;
        view.setTileServer(server.baseUrl(), QStringLiteral("test tiles"));
        view.resize(400, 300);
        view.setPosition(kLat, kLon, 0, false);
        QCOMPARE(pixelAt(view, probe), ostra::ThemeColors::surfaceAlt);
        QTRY_COMPARE(pixelAt(view, probe), kRed);
        // Every visible tile once: 400 x 300 spans at most 3 x 3 tiles.
        QTRY_VERIFY(server.requests.size() >= 4);
        QTest::qWait(100);
        served = int(server.requests.size());
        QVERIFY(served <= 9);
        QCOMPARE(int(QSet<QString>(server.requests.begin(), server.requests.end()).size()), served);
        QVERIFY(server.requests.contains(QStringLiteral("/16/32744/21792.png")));
        QVERIFY(server.userAgents.first().startsWith(QStringLiteral("QorvantOSTRA/")));
    }
    // A new view gets the same tiles from disk while the server has only errors to offer.
    server.handler = [](const QString &) { return TileServer::notFound(); };
    MapView again;
    again.setTileServer(server.baseUrl(), QString());
    again.resize(400, 300);
    again.setPosition(kLat, kLon, 0, false);
    QTRY_COMPARE(pixelAt(again, probe), kRed);
    QTest::qWait(50);
    pixelAt(again, probe);
    QCOMPARE(int(server.requests.size()), served);
}

void TestMapView::badTilesShowAsMissing_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("not found") << TileServer::notFound();
    QTest::newRow("garbage body") << TileServer::ok("definitely not a png");
    QTest::newRow("truncated png") << TileServer::ok(TileServer::png(Qt::blue).left(60));
    QTest::newRow("cut connection") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n\x89PNG");
}

void TestMapView::badTilesShowAsMissing()
{
    QFETCH(QByteArray, reply);
    TileServer server;
    server.handler = [reply](const QString &) { return reply; };
    MapView view;
    // A server of its own, so no earlier test's cached tiles stand in.
    view.setTileServer(server.baseUrl() + QStringLiteral("/bad%1").arg(QTest::currentDataTag()).replace(' ', '-'), QString());
    view.resize(400, 300);
    view.setPosition(10.0, 10.0, 0, false);
    pixelAt(view, QPoint(30, 120));
    QTRY_VERIFY(server.requests.size() >= 4);
    QTest::qWait(100);
    const int asked = int(server.requests.size());
    // Shown as missing, and not asked for again on every repaint.
    for (int i = 0; i < 3; ++i)
        QCOMPARE(pixelAt(view, QPoint(30, 120)), ostra::ThemeColors::surfaceAlt);
    QTest::qWait(100);
    pixelAt(view, QPoint(30, 120));
    QCOMPARE(int(server.requests.size()), asked);
}

void TestMapView::columnsWrapAtAntimeridian()
{
    TileServer server;
    MapView view;
    view.setTileServer(server.baseUrl() + QStringLiteral("/wrap"), QString());
    view.resize(600, 200);
    view.setPosition(0.0, 179.9, 0, false);
    view.setZoom(3, QPointF(300, 100));
    // At zoom 3 the columns run 0..7: east of 7 comes 0 again, and both sides show tiles.
    QTRY_COMPARE(pixelAt(view, QPoint(20, 100)), kRed);
    QTRY_COMPARE(pixelAt(view, QPoint(560, 150)), kRed);
    QVERIFY(server.requests.contains(QStringLiteral("/wrap/3/7/4.png")));
    QVERIFY(server.requests.contains(QStringLiteral("/wrap/3/0/4.png")));
}

OSTRA_TEST_MAIN_WIDGETS(TestMapView)
#include "tst_mapview.moc"
