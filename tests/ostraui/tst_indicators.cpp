#include <QApplication>
#include <QLabel>
#include <QSignalSpy>

#include "ostraui/channelcell.h"
#include "ostraui/meter.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "ostraui/vmeter.h"
#include "kittest.h"
#include "support/testenvironment.h"

using namespace ostra;

class TestIndicators : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installTheme(*qApp); }
    void pillClick();
    void meterPaint();
    void channelCell_data();
    void channelCell();
};

void TestIndicators::pillClick()
{
    // Only a clickable pill answers, and only the left button.
    for (bool clickable : {true, false}) {
        Pill pill(nullptr, Pill::KeyValue);
        pill.setKeyValue("Profile", "Buggy");
        pill.resize(pill.sizeHint());
        pill.setClickable(clickable);
        pill.show();
        QSignalSpy spy(&pill, &Pill::clicked);
        QTest::mouseClick(&pill, Qt::RightButton, {}, QPoint(10, 10));
        QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(spy.count(), clickable ? 1 : 0);
    }
}

void TestIndicators::meterPaint()
{
    Meter meter(nullptr, ThemeColors::accent);
    meter.resize(100, 10);
    meter.setValue(1.7);
    QCOMPARE(meter.value(), 1.0);
    meter.setValue(0.5);
    QImage image = kittest::render(meter);
    QCOMPARE(image.pixelColor(25, 5), ThemeColors::accent);
    QCOMPARE(image.pixelColor(80, 5), ThemeColors::hairline);

    // A bipolar meter runs from -1 and fills from its centre line.
    meter.setBipolar(true);
    meter.setValue(-3.0);
    QCOMPARE(meter.value(), -1.0);
    meter.setValue(-0.6);
    image = kittest::render(meter);
    QCOMPARE(image.pixelColor(30, 5), ThemeColors::accent);
    QCOMPARE(image.pixelColor(75, 5), ThemeColors::hairline);
    QCOMPARE(image.pixelColor(50, 5), ThemeColors::textDisabled);
}

void TestIndicators::channelCell_data()
{
    QTest::addColumn<int>("us");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("bar");
    QTest::newRow("over") << 2200 << "2200" << 1.0;
    QTest::newRow("centre") << 1500 << "1500" << 0.5;
    QTest::newRow("no signal") << -1 << QString::fromUtf8("\u2014") << 0.0;
}

void TestIndicators::channelCell()
{
    QFETCH(int, us);
    QFETCH(QString, text);
    QFETCH(double, bar);
    ChannelCell cell(5);
    const QList<QLabel *> labels = cell.findChildren<QLabel *>();
    QCOMPARE(labels.at(0)->text(), QStringLiteral("CH5"));
    cell.setValue(us);
    QCOMPARE(labels.at(1)->text(), text);
    QCOMPARE(labels.at(0)->palette().color(QPalette::WindowText), us < 0 ? ThemeColors::textMuted : ThemeColors::ink);
    QVERIFY(qAbs(cell.findChild<VMeter *>()->value() - bar) < 0.01);
}

OSTRA_TEST_MAIN_WIDGETS(TestIndicators)
#include "tst_indicators.moc"
