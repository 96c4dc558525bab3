#include <QApplication>

#include "ostraui/ambientbackground.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

using ostra::AmbientBackground;

namespace {

QImage render(AmbientBackground &bg, QSize size)
{
    bg.resize(size);
    return bg.grab().toImage();
}

// Blob centres: the first follows the right edge, the second the bottom edge, the third both in proportion.
QList<QPoint> blobCentres(QSize s)
{
    return {QPoint(s.width() - 170, 130), QPoint(440, s.height() - 40),
            QPoint(int(0.78 * s.width()) - 190, int(0.92 * s.height()) - 190)};
}

} // namespace

class TestAmbientBackground : public QObject
{
    Q_OBJECT

private slots:
    void blobsFollowTheEdges_data();
    void blobsFollowTheEdges();
    void standsStillWithoutAnimations();
    void timerFollowsVisibilityAndMotion();
};

void TestAmbientBackground::blobsFollowTheEdges_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1280x800") << QSize(1280, 800);
    QTest::newRow("1600x1000") << QSize(1600, 1000);
    QTest::newRow("1024x700") << QSize(1024, 700);
}

void TestAmbientBackground::blobsFollowTheEdges()
{
    QFETCH(QSize, size);

    AmbientBackground reference;
    const QImage base = render(reference, QSize(1280, 800));
    AmbientBackground bg;
    const QImage image = render(bg, size);
    QCOMPARE(image.size(), size);
    const QList<QPoint> was = blobCentres(QSize(1280, 800));
    const QList<QPoint> now = blobCentres(size);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(image.pixelColor(now[i]), base.pixelColor(was[i]));
        QVERIFY(image.pixelColor(now[i]) != ostra::ThemeColors::windowBg);
    }
    // Far from the light the plain background shows.
    QCOMPARE(image.pixelColor(4, 4), ostra::ThemeColors::windowBg);
}

void TestAmbientBackground::standsStillWithoutAnimations()
{
    if (ostra::animationsEnabled())
        QSKIP("needs a platform without animations");
    AmbientBackground bg;
    bg.resize(640, 400);
    bg.show();
    QVERIFY(!bg.isAnimating());
    const QImage first = bg.grab().toImage();
    QTest::qWait(120);
    QCOMPARE(bg.grab().toImage(), first);
}

void TestAmbientBackground::timerFollowsVisibilityAndMotion()
{
    const bool wasReduced = ostra::Motion::instance()->reduced();
    AmbientBackground bg;
    bg.resize(320, 200);
    QVERIFY(!bg.isAnimating());
    bg.show();
    QCOMPARE(bg.isAnimating(), ostra::animationsEnabled());
    ostra::Motion::instance()->setReducedMotion(true);
    QVERIFY(!bg.isAnimating());
    ostra::Motion::instance()->setReducedMotion(false);
    QCOMPARE(bg.isAnimating(), ostra::animationsEnabled());
    bg.hide();
    QVERIFY(!bg.isAnimating());
    ostra::Motion::instance()->setReducedMotion(wasReduced);
}

OSTRA_TEST_MAIN_WIDGETS(TestAmbientBackground)
#include "tst_ambientbackground.moc"
