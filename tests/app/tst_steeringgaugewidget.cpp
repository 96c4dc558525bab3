#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include "app/steeringgaugewidget.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

using corvane::SteeringGaugeWidget;

namespace {

// Counts the paint events the gauge gets, so a test sees whether a call asked for a repaint.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Repaints scheduled by the last calls, delivered now.
int paintsAfter(SteeringGaugeWidget &gauge, PaintCounter &counter)
{
    counter.paints = 0;
    QCoreApplication::processEvents();
    Q_UNUSED(gauge);
    return counter.paints;
}

// Pixels of the accent colour (the arc) in a painting of the gauge.
int accentPixels(SteeringGaugeWidget &gauge)
{
    QImage image(gauge.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    gauge.render(&image);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += qAbs(c.red() - 0x4C) < 24 && qAbs(c.green() - 0xC2) < 24 && qAbs(c.blue() - 0xFF) < 24 ? 1 : 0;
        }
    }
    return count;
}

} // namespace

class TestSteeringGaugeWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
    }

    void clamps_data()
    {
        QTest::addColumn<float>("input");
        QTest::addColumn<float>("stored");
        QTest::newRow("beyond right") << 2.5f << 1.0f;
        QTest::newRow("beyond left") << -3.0f << -1.0f;
        QTest::newRow("inside") << 0.25f << 0.25f;
    }

    void clamps()
    {
        QFETCH(float, input);
        QFETCH(float, stored);
        SteeringGaugeWidget gauge;
        gauge.resize(140, 140);
        gauge.show();
        QVERIFY(QTest::qWaitForWindowExposed(&gauge));
        PaintCounter counter;
        gauge.installEventFilter(&counter);
        gauge.setValue(input);
        QCOMPARE(gauge.value(), stored);
        QVERIFY(paintsAfter(gauge, counter) > 0);
        // The same call again changes nothing on screen.
        gauge.setValue(input);
        QCOMPARE(paintsAfter(gauge, counter), 0);
    }

    void number_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("half right") << 0.5f << QStringLiteral("90\u00B0");
        QTest::newRow("nearly full left") << -0.999f << QStringLiteral("-179\u00B0");
        QTest::newRow("centre") << 0.0f << QStringLiteral("0\u00B0");
    }

    // Before any angle arrives the number follows the value, truncated.
    void number()
    {
        QFETCH(float, value);
        QFETCH(QString, text);
        SteeringGaugeWidget gauge;
        gauge.setValue(value);
        QCOMPARE(gauge.numberText(), text);
    }

    void degrees()
    {
        SteeringGaugeWidget gauge;
        gauge.resize(140, 140);
        gauge.show();
        QVERIFY(QTest::qWaitForWindowExposed(&gauge));
        PaintCounter counter;
        gauge.installEventFilter(&counter);
        gauge.setValue(0.1f, 45.4f);
        QCOMPARE(gauge.numberText(), QStringLiteral("45\u00B0"));
        QVERIFY(paintsAfter(gauge, counter) > 0);
        // Same rounded number and the same value: neither stored nor repainted.
        gauge.setValue(0.1f, 44.6f);
        QCOMPARE(gauge.degrees(), 45.4f);
        QCOMPARE(paintsAfter(gauge, counter), 0);
        gauge.setValue(0.1f, 45.6f);
        QCOMPARE(gauge.degrees(), 45.6f);
        QCOMPARE(gauge.numberText(), QStringLiteral("46\u00B0"));
        QVERIFY(paintsAfter(gauge, counter) > 0);
        // A later value alone keeps the angle's number.
        gauge.setValue(0.9f);
        QCOMPARE(gauge.numberText(), QStringLiteral("46\u00B0"));
        QCOMPARE(SteeringGaugeWidget(nullptr).numberText(), QStringLiteral("0\u00B0"));
    }

    void arc_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("0.001") << 0.001f << false;
        QTest::newRow("0.003") << 0.003f << true;
        QTest::newRow("full left") << -1.0f << true;
    }

    void arc()
    {
        QFETCH(float, value);
        QFETCH(bool, drawn);
        SteeringGaugeWidget gauge;
        gauge.resize(140, 140);
        gauge.setValue(value);
        QCOMPARE(accentPixels(gauge) > 0, drawn);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestSteeringGaugeWidget)
#include "tst_steeringgaugewidget.moc"
