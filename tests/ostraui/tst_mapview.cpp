#include <QApplication>
#include <QScreen>
#include <QWheelEvent>

#include <cmath>

#include "ostraui/mapview.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"
#include "support/tileserver.h"

using ostra::MapView;
using ostratest::TileServer;

namespace {

constexpr double kLat = 51.5074;
constexpr double kLon = -0.1278;
const QPoint kProbe(30, 120);

QColor pixelAt(QWidget &w, QPoint p = kProbe)
{
    return w.grab().toImage().pixelColor(p);
}

QByteArray missing(const QString &)
{
    return TileServer::ok("no tile", 404);
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
    TestMapView() { m_missing.handler = missing; }

private:
    // A shown 400 x 300 view whose tiles come from the given server, never the public one.
    void setUp(MapView &view, const QString &url = QString())
    {
        view.setTileServer(url.isEmpty() ? m_missing.baseUrl() : url, QString());
        view.resize(400, 300);
        view.show();
    }
    TileServer m_missing;

private slots:
    void projection()
    {
        MapView view;
        setUp(view);
        const auto near = [](QPointF a, QPointF b) { return (a - b).manhattanLength() < 1e-3; };
        QVERIFY(near(view.project(kLat, kLon), QPointF(8382652.08832, 5578852.518435)));
        // The poles clamp to the map's top and bottom edges.
        view.setZoom(3, QPointF());
        QVERIFY(near(view.project(90.0, 180.0), QPointF(2048.0, 0.0)));
        QVERIFY(near(view.project(-90.0, -180.0), QPointF(0.0, 2048.0)));
    }

    // A drive drawn piece by piece onto the kept layer, following or in a still view, ends as a
    // fresh paint of the same view would: no marker left behind, no piece of trail missing.
    void drawnPieceByPieceAsWhole_data()
    {
        QTest::addColumn<bool>("follow");
        QTest::newRow("following") << true;
        QTest::newRow("still view") << false;
    }

    void drawnPieceByPieceAsWhole()
    {
        QFETCH(bool, follow);
        TileServer tiles;
        tiles.handler = [](const QString &path) {
            return TileServer::ok(TileServer::png(QColor::fromHsv(int(qHash(path) % 360), 60, 230)));
        };
        MapView view;
        setUp(view, tiles.baseUrl());
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const auto fix = [&view](int i) {
            view.setPosition(kLat + i * 1e-4, kLon + std::sin(i / 5.0) * 5e-4, i * 7 % 360, true);
        };
        fix(0);
        if (!follow)
            drag(view, QPoint(200, 150), QPoint(190, 140));
        QTRY_VERIFY(tiles.requests.size() >= 4);
        QTest::qWait(200);
        for (int i = 1; i <= 12; ++i) {
            fix(i);
            QCoreApplication::sendPostedEvents(&view, QEvent::UpdateRequest);
        }
        QCOMPARE(view.isFollowing(), follow);
        // What is on screen, repainted piece by piece; then zooming in and back draws it afresh.
        const QImage pieces = view.screen()->grabWindow(view.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(pieces.size(), view.size());
        view.setZoom(view.zoom() + 1, QPointF(200, 150));
        view.grab();
        view.setZoom(view.zoom() - 1, QPointF(200, 150));
        const QImage whole = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        // The rounded corners show what is behind the view and are left out.
        const QRegion inside = QRegion(whole.rect().adjusted(12, 0, -12, 0)) + QRegion(whole.rect().adjusted(0, 12, 0, -12));
        int differing = 0;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < whole.width(); ++x) {
                if (!inside.contains(QPoint(x, y)))
                    continue;
                const QColor a = pieces.pixelColor(x, y);
                const QColor b = whole.pixelColor(x, y);
                differing += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 60;
            }
        }
        // Pieces drawn over their neighbour's end leave the line's soft edge a shade stronger at
        // most; a marker left behind would differ by far more.
        QVERIFY2(differing < 20, qPrintable(QString::number(differing)));
    }

    void trail()
    {
        // Steps under about a metre add no point; the trail keeps the newest 3000.
        MapView view;
        setUp(view);
        view.setPosition(kLat, kLon, 0, false);
        view.setPosition(kLat + 9e-6, kLon + 9e-6, 0, false);
        QCOMPARE(view.trail(), QList<QPointF>{QPointF(kLon, kLat)});
        for (int i = 0; i < 3001; ++i)
            view.setPosition(kLat + i * 1e-4, kLon, 0, true);
        QCOMPARE(view.trail().size(), 3000);
        QCOMPARE(view.trail().first().y(), kLat + 1e-4);
    }

    void wheelZoomStaysInRange()
    {
        MapView view;
        setUp(view);
        view.setPosition(kLat, kLon, 0, false);
        // From, wheel delta, to: a notch is one step, half a notch none, and 3..19 holds.
        const int steps[][3] = {{16, 120, 17}, {16, 60, 16}, {19, 120, 19}, {16, -2400, 3}};
        for (const auto &[from, delta, to] : steps) {
            view.setZoom(from, QPointF(200, 150));
            wheel(view, QPoint(100, 100), delta);
            QCOMPARE(view.zoom(), to);
        }
    }

    void dragStopsFollowingAndFollowRecentres()
    {
        MapView view;
        setUp(view);
        // Without a fix the map ignores zoom and pan.
        const QPointF centre = view.center();
        wheel(view, QPoint(100, 100), 120);
        drag(view, QPoint(100, 100), QPoint(150, 160));
        QCOMPARE(view.zoom(), 16);
        QCOMPARE(view.center(), centre);

        view.setPosition(kLat, kLon, 90, true);
        const QPointF car = view.project(kLat, kLon);
        QCOMPARE(view.center(), car);
        const QPoint followButton(400 - 25, 25 + 2 * 36);
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

    void tilesLoadAndComeFromDiskCache()
    {
        TileServer server;
        int served = 0;
        {
            MapView view;
            setUp(view, server.baseUrl());
            view.setPosition(kLat, kLon, 0, false);
            QCOMPARE(pixelAt(view), ostra::ThemeColors::surfaceAlt);
            QTRY_COMPARE(pixelAt(view), QColor(220, 40, 40));
            // Every visible tile once: 400 x 300 spans at most 3 x 3 tiles.
            QTRY_VERIFY(server.requests.size() >= 4);
            QTest::qWait(100);
            served = int(server.requests.size());
            QCOMPARE(int(QSet<QString>(server.requests.begin(), server.requests.end()).size()), served);
            QVERIFY(server.requests.contains(QStringLiteral("/16/32744/21792.png")));
            QVERIFY(server.heads.first().contains("\r\nUser-Agent: QorvantOSTRA/"));
        }
        // A new view gets the same tiles from disk while the server has only errors to offer.
        server.handler = missing;
        MapView again;
        setUp(again, server.baseUrl());
        again.setPosition(kLat, kLon, 0, false);
        QTRY_COMPARE(pixelAt(again), QColor(220, 40, 40));
        QTest::qWait(50);
        pixelAt(again);
        QCOMPARE(int(server.requests.size()), served);
    }

    void badTilesShowAsMissing_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("not found") << missing({});
        QTest::newRow("garbage body") << TileServer::ok("definitely not a png");
        QTest::newRow("cut connection") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n\x89PNG");
    }

    void badTilesShowAsMissing()
    {
        QFETCH(QByteArray, reply);
        TileServer server;
        server.handler = [reply](const QString &) { return reply; };
        MapView view;
        // A path of its own, so no earlier test's cached tiles stand in.
        setUp(view, server.baseUrl() + "/bad" + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        view.setPosition(10.0, 10.0, 0, false);
        pixelAt(view);
        QTRY_VERIFY(server.requests.size() >= 4);
        QTest::qWait(100);
        const int asked = int(server.requests.size());
        // Shown as missing, and not asked for again on every repaint.
        for (int i = 0; i < 3; ++i)
            QCOMPARE(pixelAt(view), ostra::ThemeColors::surfaceAlt);
        QTest::qWait(100);
        pixelAt(view);
        QCOMPARE(int(server.requests.size()), asked);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMapView)
#include "tst_mapview.moc"
