#include <QApplication>

#include "ostraui/ambientbackground.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

using ostra::AmbientBackground;

class TestAmbientBackground : public QObject
{
    Q_OBJECT

private slots:
    void blobsFollowTheEdges_data();
    void blobsFollowTheEdges();
    void animatesOnlyWhenShownAndAllowed();
};

void TestAmbientBackground::blobsFollowTheEdges_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1600x1000") << QSize(1600, 1000);
    QTest::newRow("1024x700") << QSize(1024, 700);
}

void TestAmbientBackground::blobsFollowTheEdges()
{
    QFETCH(QSize, size);
    // Blob centres: the first follows the right edge, the second the bottom edge, the third both in proportion.
    const auto centres = [](QSize s) {
        return QList<QPoint>{QPoint(s.width() - 170, 130), QPoint(440, s.height() - 40),
                             QPoint(int(0.78 * s.width()) - 190, int(0.92 * s.height()) - 190)};
    };
    AmbientBackground reference;
    reference.resize(1280, 800);
    const QImage base = reference.grab().toImage();
    AmbientBackground bg;
    bg.resize(size);
    const QImage image = bg.grab().toImage();
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(image.pixelColor(centres(size)[i]), base.pixelColor(centres(QSize(1280, 800))[i]));
        QVERIFY(image.pixelColor(centres(size)[i]) != ostra::ThemeColors::windowBg);
    }
    // Far from the light the plain background shows.
    QCOMPARE(image.pixelColor(4, 4), ostra::ThemeColors::windowBg);
}

void TestAmbientBackground::animatesOnlyWhenShownAndAllowed()
{
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

    // Without animations the picture stands still.
    if (!ostra::animationsEnabled()) {
        const QImage first = bg.grab().toImage();
        QTest::qWait(60);
        QCOMPARE(bg.grab().toImage(), first);
    }
}

OSTRA_TEST_MAIN_WIDGETS(TestAmbientBackground)
#include "tst_ambientbackground.moc"
