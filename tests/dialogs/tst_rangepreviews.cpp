#include <QApplication>
#include <QImage>

#include "dialogs/crsfrangepreview.h"
#include "dialogs/steeringrangepreview.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"
#include "support/widgets/contrast.h"

using corvane::CrsfRangePreview;
using corvane::SteeringRangePreview;

namespace {

const QColor Red(229, 38, 43);
const QColor Blue(76, 194, 255);
const QColor Green(18, 166, 106);

QImage paint(QWidget &widget, int width, int height)
{
    widget.resize(width, height);
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image);
    return image;
}

// First column of a row whose pixel is exactly this colour, -1 when none.
int firstColumn(const QImage &image, int y, const QColor &color, int from = 0)
{
    for (int x = from; x < image.width(); ++x) {
        if (image.pixelColor(x, y) == color)
            return x;
    }
    return -1;
}

bool anyPixel(const QImage &image, const QRect &area, const std::function<bool(const QColor &)> &test)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (test(image.pixelColor(x, y)))
                return true;
        }
    }
    return false;
}

bool reddish(const QColor &c)
{
    return c.alpha() > 100 && c.red() > 150 && c.green() < 120;
}

} // namespace

class TestRangePreviews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void sizes()
    {
        CrsfRangePreview esc;
        SteeringRangePreview steering;
        QCOMPARE(esc.sizeHint(), QSize(400, 80));
        QCOMPARE(esc.minimumSizeHint(), QSize(200, 60));
        QCOMPARE(esc.minimumHeight(), 60);
        QCOMPARE(steering.sizeHint(), QSize(400, 40));
        QCOMPARE(steering.minimumSizeHint(), QSize(200, 30));
        QCOMPARE(steering.height(), 30);
    }

    // trunc(396 × v / 2047): the left, centre and right markers start at x 0, 198 and 396.
    void steeringMarkers()
    {
        SteeringRangePreview preview;
        const QImage image = paint(preview, 400, 30);
        QCOMPARE(firstColumn(image, 7, Blue), 0);
        QCOMPARE(firstColumn(image, 7, Green), 198);
        QCOMPARE(image.pixelColor(201, 7), Green);
        QVERIFY(image.pixelColor(202, 7) != Green);
        QCOMPARE(firstColumn(image, 7, Blue, 4), 396);
        QCOMPARE(image.pixelColor(399, 7), Blue);
        // Between the markers the band tints the track.
        const QColor band = image.pixelColor(100, 7);
        QVERIFY(band != Blue && band.blue() > band.red());
    }

    void escBars()
    {
        CrsfRangePreview preview;
        preview.reverse = 0;
        preview.forward = 2047;
        const QImage image = paint(preview, 400, 80);
        const int track = 400 - 114;
        // Reverse at 0: the track without a bar, but the label and the number are there.
        QCOMPARE(image.pixelColor(64, 11), ostra::ThemeColors::hairline);
        QCOMPARE(image.pixelColor(62 + track / 2, 11), ostra::ThemeColors::hairline);
        QVERIFY(anyPixel(image, QRect(2, 0, 58, 22), [](const QColor &c) { return c.alpha() > 100; }));
        QVERIFY(anyPixel(image, QRect(352, 0, 48, 22), reddish));
        // Neutral at 992: a blue bar about half the track.
        QCOMPARE(image.pixelColor(62 + 100, 33), Blue);
        QCOMPARE(image.pixelColor(62 + 145, 33), ostra::ThemeColors::hairline);
        // Forward at 2047: the bar fills the whole track.
        QCOMPARE(image.pixelColor(64, 55), Green);
        QCOMPARE(image.pixelColor(62 + track - 4, 55), Green);
    }

    // The numbers carry the values: on the dialog's card they read at 3:1 or better, in the
    // light theme too, where the bars' light blue would give 1.9:1.
    void numbersReadOnTheCard()
    {
        CrsfRangePreview preview;
        preview.resize(400, 80);
        QImage image(preview.size(), QImage::Format_ARGB32);
        image.fill(ostra::ThemeColors::surfaceAlt);
        preview.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        for (int row = 0; row < 3; ++row) {
            const double ratio = ostratest::textContrast(image, QRect(400 - 48, 22 * row, 48, 22));
            QVERIFY2(ratio >= 3.0, qPrintable(QStringLiteral("row %1: %2").arg(row).arg(ratio)));
        }
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestRangePreviews)
#include "tst_rangepreviews.moc"
