#include <QApplication>
#include <QLabel>
#include <QSignalSpy>

#include "ostraui/channelcell.h"
#include "ostraui/dot.h"
#include "ostraui/meter.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "ostraui/vmeter.h"
#include "kittest.h"
#include "support/testenvironment.h"

using namespace ostra;
using kittest::render;

namespace {

// Width of the painted run along one row.
int paintedWidth(const QImage &image, int y)
{
    int first = -1;
    int last = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (qAlpha(image.pixel(x, y)) > 127) {
            if (first < 0)
                first = x;
            last = x;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

} // namespace

class TestIndicators : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dot_data();
    void dot();
    void pillKeyValue();
    void pillLevelAndPulse();
    void pillClick();
    void meterPaint();
    void vmeter_data();
    void vmeter();
    void channelCell_data();
    void channelCell();
};

void TestIndicators::initTestCase()
{
    installTheme(*qApp);
}

void TestIndicators::dot_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("ripple");
    QTest::addColumn<int>("diameter");
    QTest::newRow("small fills") << 12 << false << 12;
    QTest::newRow("large leaves room") << 52 << false << 22;
    QTest::newRow("small ripple") << 12 << true << 5;
}

void TestIndicators::dot()
{
    QFETCH(int, size);
    QFETCH(bool, ripple);
    QFETCH(int, diameter);
    Dot dot(nullptr, size);
    dot.setRipple(ripple);
    dot.setPulsing(true, 1200);
    dot.show();
    QCOMPARE(dot.size(), QSize(size, size));
    QVERIFY(dot.testAttribute(Qt::WA_TransparentForMouseEvents));
    // Headless, nothing animates: the dot is painted at full strength.
    const QImage image = render(dot);
    QVERIFY(qAbs(paintedWidth(image, size / 2) - diameter) <= 1);
    QCOMPARE(image.pixelColor(size / 2, size / 2), ThemeColors::successAccent);
}

void TestIndicators::pillKeyValue()
{
    // The value and the dot each take their room; a plain pill is sized to its text.
    Pill pill(nullptr, Pill::KeyValue);
    const int key = QFontMetrics(uiFont(13, 400)).horizontalAdvance("Link");
    const int value = QFontMetrics(uiFont(13, 500)).horizontalAdvance("98 %");
    pill.setKeyValue("Link", QString());
    QCOMPARE(pill.sizeHint(), QSize(key + 29 + 14, 34));
    pill.setKeyValue("Link", "98 %");
    pill.setDotVisible(false);
    QCOMPARE(pill.sizeHint(), QSize(key + 14 + value + 6 + 14, 34));
    Pill plain;
    plain.setHeight(24);
    plain.setText("Connected");
    QCOMPARE(plain.sizeHint(), QSize(18 + 13 + QFontMetrics(uiFont(12, 500)).horizontalAdvance("Connected"), 24));
    QCOMPARE(plain.minimumSizeHint(), plain.sizeHint());

    // With an empty value only the key is painted: the right part stays the fill colour.
    pill.setKeyValue("Link", QString());
    pill.resize(pill.sizeHint() + QSize(80, 0));
    const QImage image = render(pill);
    const QColor background = image.pixelColor(image.width() - 30, 17);
    for (int x = key + 20; x < image.width() - 20; ++x)
        QCOMPARE(image.pixelColor(x, 17), background);
}

void TestIndicators::pillLevelAndPulse()
{
    Pill pill;
    pill.setText("A");
    pill.setLevel(LevelDanger);
    pill.resize(pill.sizeHint());
    QImage image = render(pill);
    QCOMPARE(image.pixelColor(pill.width() - 6, pill.height() / 2), ThemeColors::dangerSoft);
    // The status dot sits left of the text in the level's text colour.
    QCOMPARE(image.pixelColor(14, pill.height() / 2), ThemeColors::dangerText);

    // With reduced motion a pulsing pill is drawn at full strength.
    Motion::instance()->setReducedMotion(true);
    pill.setLevel(LevelNeutral);
    pill.setPulsing(true);
    pill.show();
    QCOMPARE(pill.pulseOpacity(), 1.0);
    QCOMPARE(render(pill).pixelColor(14, pill.height() / 2), levelTextColor(LevelNeutral));
    Motion::instance()->setReducedMotion(false);
}

void TestIndicators::pillClick()
{
    // Only a clickable pill answers, and only the left button.
    for (bool clickable : {true, false}) {
        Pill pill(nullptr, Pill::KeyValue);
        pill.setKeyValue("Profile", "Buggy");
        pill.resize(pill.sizeHint());
        pill.setClickable(clickable);
        QCOMPARE(pill.cursor().shape(), clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
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
    meter.setValue(1.7);
    QCOMPARE(meter.value(), 1.0);
    meter.setValue(-0.3);
    QCOMPARE(meter.value(), 0.0);
    meter.resize(100, 10);
    // Below half a pixel nothing is filled.
    meter.setValue(0.004);
    QImage image = render(meter);
    for (int x = 0; x < 100; ++x)
        QVERIFY(image.pixelColor(x, 5) != ThemeColors::accent);

    meter.setValue(0.5);
    image = render(meter);
    QCOMPARE(image.pixelColor(25, 5), ThemeColors::accent);
    QCOMPARE(image.pixelColor(80, 5), ThemeColors::hairline);
    meter.setEnabled(false);
    QCOMPARE(render(meter).pixelColor(25, 5), ThemeColors::textDisabled);
    meter.setEnabled(true);

    // A bipolar meter runs from -1, fills from the centre and always shows its centre line.
    meter.setBipolar(true);
    meter.setValue(-3.0);
    QCOMPARE(meter.value(), -1.0);
    meter.setValue(-0.6);
    image = render(meter);
    QCOMPARE(image.pixelColor(30, 5), ThemeColors::accent);
    QCOMPARE(image.pixelColor(75, 5), ThemeColors::hairline);
    QCOMPARE(image.pixelColor(50, 5), ThemeColors::textDisabled);
    meter.setCenterLine(true, ThemeColors::dangerAccent);
    QCOMPARE(render(meter).pixelColor(50, 5), ThemeColors::dangerAccent);

    meter.setThickness(6);
    QCOMPARE(meter.height(), 6);
    QCOMPARE(meter.sizeHint(), QSize(120, 6));
}

void TestIndicators::vmeter_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("stored");
    QTest::addColumn<bool>("topFilled");
    QTest::addColumn<bool>("bottomFilled");
    QTest::newRow("empty") << 0.0 << 0.0 << false << false;
    QTest::newRow("half") << 0.5 << 0.5 << false << true;
    QTest::newRow("over") << 3.0 << 1.0 << true << true;
    QTest::newRow("under") << -1.0 << 0.0 << false << false;
}

void TestIndicators::vmeter()
{
    QFETCH(double, value);
    QFETCH(double, stored);
    QFETCH(bool, topFilled);
    QFETCH(bool, bottomFilled);
    VMeter meter(nullptr, 10);
    QCOMPARE(meter.maximumWidth(), 10);
    meter.resize(10, 100);
    meter.setAnimated(true);
    meter.show();
    meter.setValue(value);
    QCOMPARE(meter.value(), stored);
    QCOMPARE(meter.shownValue(), stored);
    const QImage image = render(meter);
    QCOMPARE(image.pixelColor(5, 10) == ThemeColors::accent, topFilled);
    QCOMPARE(image.pixelColor(5, 90), bottomFilled ? ThemeColors::accent : ThemeColors::borderLight);

    meter.setMarker(0.25, ThemeColors::dangerAccent);
    meter.setValue(0);
    QVERIFY(qAbs(render(meter).pixelColor(5, 74).red() - ThemeColors::dangerAccent.red()) <= 3);
}

void TestIndicators::channelCell_data()
{
    QTest::addColumn<int>("us");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("bar");
    QTest::newRow("over") << 2200 << "2200" << 1.0;
    QTest::newRow("under") << 900 << "900" << 0.0;
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
    QCOMPARE(labels.at(1)->text(), QString::fromUtf8("\u2014"));

    cell.setValue(us);
    QCOMPARE(labels.at(1)->text(), text);
    const QColor nameColour = us < 0 ? ThemeColors::textMuted : ThemeColors::ink;
    QCOMPARE(labels.at(0)->palette().color(QPalette::WindowText), nameColour);
    QVERIFY(qAbs(cell.findChild<VMeter *>()->value() - bar) < 0.01);
}

OSTRA_TEST_MAIN_WIDGETS(TestIndicators)
#include "tst_indicators.moc"
