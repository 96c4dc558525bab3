#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "ostraui/theme.h"
#include "receiver/colorwheelwidget.h"
#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"

using corvane::ColorWheelWidget;

namespace {

// A shown 200 x 200 wheel (or another size): centre (100, 100), ring 76..96, square 54.4..145.6.
struct Wheel
{
    explicit Wheel(QSize size = QSize(200, 200))
    {
        widget.resize(size);
        widget.show();
        ok = QTest::qWaitForWindowExposed(&widget);
    }

    void press(QPoint at) { QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, at); }
    void drag(QPoint to)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(to), widget.mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&widget, &move);
    }
    void release(QPoint at) { QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, at); }

    ColorWheelWidget widget;
    QSignalSpy picks{&widget, &ColorWheelWidget::colorChanged};
    bool ok = false;
};

} // namespace

class TestColorWheelWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void setColorReducesSilently()
    {
        Wheel w;
        QVERIFY(w.ok);
        w.widget.setColor(QColor(10, 200, 30));
        QCOMPARE(w.widget.color(), QColor(0, 219, 0));
        QVERIFY(w.picks.isEmpty());
        w.widget.setColor(QColor(255, 255, 255));
        QCOMPARE(w.widget.hue(), 0.0);
        QCOMPARE(w.widget.saturation(), 0.0);
    }

    void ringPicks_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<double>("hue");
        QTest::addColumn<QColor>("color");
        QTest::newRow("left") << QPoint(5, 100) << 0.5 << QColor(0, 255, 255);
        QTest::newRow("above") << QPoint(100, 10) << 0.25 << QColor();
        QTest::newRow("below") << QPoint(100, 190) << 0.75 << QColor();
    }

    void ringPicks()
    {
        QFETCH(QPoint, at);
        QFETCH(double, hue);
        QFETCH(QColor, color);
        Wheel w;
        QVERIFY(w.ok);
        w.press(at);
        QCOMPARE(w.widget.hue(), hue);
        QCOMPARE(w.picks.size(), 1);
        if (color.isValid())
            QCOMPARE(w.picks.first().first().value<QColor>(), color);
        // The same spot again reports again.
        w.release(at);
        w.press(at);
        QCOMPARE(w.picks.size(), 2);
        QCOMPARE(w.picks.at(1).first(), w.picks.at(0).first());
    }

    void squareDragSaturates()
    {
        Wheel w;
        QVERIFY(w.ok);
        w.press(QPoint(100, 100));
        QCOMPARE(w.picks.size(), 1);
        w.drag(QPoint(190, 20));
        QCOMPARE(w.widget.saturation(), 1.0);
        QCOMPARE(w.widget.value(), 1.0);
        QCOMPARE(w.picks.size(), 2);
        w.release(QPoint(190, 20));
        w.drag(QPoint(100, 100));
        QCOMPARE(w.picks.size(), 2);
    }

    void deadZones_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::newRow("gap") << QPoint(100, 30);
        QTest::newRow("outside") << QPoint(2, 2);
    }

    void deadZones()
    {
        QFETCH(QPoint, at);
        Wheel w;
        QVERIFY(w.ok);
        w.press(at);
        w.drag(QPoint(100, 100));
        QVERIFY(w.picks.isEmpty());
        QCOMPARE(w.widget.hue(), 0.33);
    }

    void render()
    {
        Wheel w;
        QVERIFY(w.ok);
        w.widget.setColor(QColor(255, 120, 0));
        const QString name = ostratest::themedPicture("receiver", "color-wheel");
        QVERIFY(w.widget.grab().toImage().save(name));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("receiver", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestColorWheelWidget)
#include "tst_colorwheelwidget.moc"
