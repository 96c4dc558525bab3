#include <QApplication>
#include <QImage>
#include <QTest>

#include "heli/helicontrolgaugewidget.h"
#include "helirender.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

using corvane::HeliControlGaugeWidget;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

QImage paintGauge(HeliControlGaugeWidget &gauge)
{
    gauge.resize(376, 210);
    QImage image(gauge.size(), QImage::Format_ARGB32);
    image.fill(ostra::ThemeColors::surface);
    gauge.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

bool isInk(const QImage &image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    const QColor ink = ostra::ThemeColors::ink;
    return qAbs(c.red() - ink.red()) < 8 && qAbs(c.green() - ink.green()) < 8 && qAbs(c.blue() - ink.blue()) < 8;
}

} // namespace

class TestHeliControlGaugeWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void clampsAndRepaintsOnlyOnChange()
    {
        HeliControlGaugeWidget gauge;
        gauge.resize(376, 210);
        PaintCounter counter;
        gauge.installEventFilter(&counter);
        gauge.show();
        QVERIFY(QTest::qWaitForWindowExposed(&gauge));
        gauge.setRoll(1.5f);
        QCOMPARE(gauge.roll(), 1.0f);
        QTRY_VERIFY(counter.count > 0);
        QTest::qWait(50);
        const int painted = counter.count;
        gauge.setRoll(2.0f);
        gauge.setCollective(-0.5f);
        QTest::qWait(50);
        QCOMPARE(counter.count, painted);
        QCOMPARE(gauge.collective(), 0.0f);
        gauge.setYaw(-3.0f);
        QCOMPARE(gauge.yaw(), -1.0f);
        QTRY_VERIFY(counter.count > painted);
    }

    // Full roll and pitch put the dot on the radius-75 circle along the diagonal, not in the corner.
    void stickDotOnTheCircle()
    {
        HeliControlGaugeWidget gauge;
        gauge.setRoll(1.0f);
        gauge.setPitch(1.0f);
        QCOMPARE(gauge.cyclicCaption(), QString("Cyclic \u00B7 roll 180\u00B0 \u00B7 pitch 180\u00B0"));
        const QImage image = paintGauge(gauge);
        const double d = 75.0 / std::sqrt(2.0);
        QVERIFY(isInk(image, qRound(90 + d), qRound(90 - d)));
        QVERIFY(!isInk(image, 90 + 75, 90 - 75));
        QVERIFY(!isInk(image, 90, 90));
    }

    void collectiveBarThreshold_data()
    {
        QTest::addColumn<float>("collective");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("0.002 is below half a pixel") << 0.002f << false;
        QTest::newRow("0.003 draws a level") << 0.003f << true;
    }

    void collectiveBarThreshold()
    {
        QFETCH(float, collective);
        QFETCH(bool, drawn);
        HeliControlGaugeWidget empty;
        HeliControlGaugeWidget gauge;
        gauge.setCollective(collective);
        // Only the bar differs: compare its column, leaving out the read-out.
        const QImage a = paintGauge(empty).copy(200, 0, 30, 181);
        const QImage b = paintGauge(gauge).copy(200, 0, 30, 181);
        QCOMPARE(a != b, drawn);
    }

    void render()
    {
        HeliControlGaugeWidget gauge;
        gauge.setRoll(0.42f);
        gauge.setPitch(-0.3f);
        gauge.setCollective(0.64f);
        gauge.setYaw(-0.12f);
        QVERIFY(paintGauge(gauge).save(heliPicture("gauge")));
    }

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHeliControlGaugeWidget)
#include "tst_helicontrolgaugewidget.moc"
