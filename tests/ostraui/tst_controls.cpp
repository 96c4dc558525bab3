#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>

#include "ostraui/busybutton.h"
#include "ostraui/dot.h"
#include "ostraui/listrow.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/spinner.h"
#include "ostraui/theme.h"
#include "ostraui/toggle.h"
#include "ostraui/txbutton.h"
#include "kittest.h"
#include "support/testenvironment.h"

using namespace ostra;

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installTheme(*qApp); }
    void toggleClick();
    void segmentedPress_data();
    void segmentedPress();
    void segmentedSetIndexAndOptions();
    void sliderRow();
    void busyButton();
    void txButton_data();
    void txButton();
    void listRowClick();
};

void TestControls::toggleClick()
{
    // With reduced motion the knob lands at once.
    Motion::instance()->setReducedMotion(true);
    Toggle toggle;
    toggle.show();
    QSignalSpy toggled(&toggle, &Toggle::toggled);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    QVERIFY(toggle.isChecked());
    QCOMPARE(toggled.count(), 1);
    QImage image = kittest::render(toggle);
    QCOMPARE(image.pixelColor(4, 10), ThemeColors::toggleOn);
    QCOMPARE(image.pixelColor(24, 10), QColor(Qt::white));

    toggle.setChecked(false);
    image = kittest::render(toggle);
    QCOMPARE(image.pixelColor(30, 10), ThemeColors::controlBorder);
    QCOMPARE(image.pixelColor(10, 10), QColor(Qt::white));
    Motion::instance()->setReducedMotion(false);
}

void TestControls::segmentedPress_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("widgetEnabled");
    QTest::addColumn<int>("disabledOption");
    QTest::addColumn<int>("index");
    // Three segments of 100 px inside a 4 px inset.
    QTest::newRow("last px of the first") << QPoint(103, 26) << true << -1 << 0;
    QTest::newRow("first px of the second") << QPoint(105, 26) << true << -1 << 1;
    QTest::newRow("disabled option") << QPoint(250, 26) << true << 2 << 0;
    QTest::newRow("disabled widget") << QPoint(150, 26) << false << -1 << 0;
}

void TestControls::segmentedPress()
{
    QFETCH(QPoint, at);
    QFETCH(bool, widgetEnabled);
    QFETCH(int, disabledOption);
    QFETCH(int, index);
    Segmented seg({"Car", "Heli", "Motion"});
    seg.resize(308, 52);
    seg.setEnabled(widgetEnabled);
    seg.setOptionEnabled(disabledOption, false);
    seg.show();
    QSignalSpy spy(&seg, &Segmented::currentIndexChanged);
    QTest::mousePress(&seg, Qt::LeftButton, {}, at);
    QCOMPARE(seg.currentIndex(), index);
    QCOMPARE(spy.count(), index ? 1 : 0);
}

void TestControls::segmentedSetIndexAndOptions()
{
    Segmented seg({"A", "B", "C"});
    QSignalSpy spy(&seg, &Segmented::currentIndexChanged);
    seg.setCurrentIndex(2, true);
    seg.setCurrentIndex(2, true);
    seg.setCurrentIndex(5);
    seg.setCurrentIndex(-1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(seg.currentIndex(), 2);

    // New options keep the index while it fits, else go back to the first; all are enabled
    // again, and no signal is sent.
    seg.setOptionEnabled(1, false);
    seg.setOptions({"X", "Y"});
    QCOMPARE(seg.currentIndex(), 0);
    QVERIFY(seg.isOptionEnabled(1));
    seg.setCurrentIndex(1);
    seg.setOptions({"P", "Q", "R"});
    QCOMPARE(seg.currentIndex(), 1);
    QCOMPARE(spy.count(), 2);
}

void TestControls::sliderRow()
{
    SliderRow row("Strength", 0, 100, 40);
    row.resize(500, 40);
    row.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row));
    QLabel *value = row.findChildren<QLabel *>().value(1);
    row.setFormatter([](int v) { return QStringLiteral("%1 %").arg(v); });
    QCOMPARE(value->text(), QStringLiteral("40 %"));

    // The label already shows the new value when the signal arrives.
    QSignalSpy spy(&row, &SliderRow::valueChanged);
    QString seen;
    connect(&row, &SliderRow::valueChanged, &row, [&] { seen = value->text(); });
    row.setValue(55);
    row.setValue(55);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(seen, QStringLiteral("55 %"));
    row.setValue(500);
    QCOMPARE(row.value(), 100);

    auto *slider = row.findChild<QSlider *>();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Home);
    QCOMPARE(row.value(), 0);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() - 3, slider->height() / 2));
    QVERIFY(row.value() > 0);
}

void TestControls::busyButton()
{
    BusyButton button("Save");
    button.resize(160, 34);
    button.show();
    auto *spinner = button.findChild<Spinner *>();
    QVERIFY(!spinner->isVisible());

    // Busy again keeps the first text; leaving restores the original.
    button.setBusy(true);
    QVERIFY(spinner->isVisible());
    QVERIFY(!button.isEnabled());
    button.setBusy(true, "Saving");
    QCOMPARE(button.text(), QStringLiteral("      Save"));
    button.setBusy(false);
    QCOMPARE(button.text(), QStringLiteral("Save"));
    QVERIFY(button.isEnabled());
    QVERIFY(!spinner->isVisible());

    button.setBusyFor("Sent", 10);
    QCOMPARE(button.text(), QStringLiteral("      Sent"));
    QTRY_VERIFY(!button.isBusy());
    QCOMPARE(button.text(), QStringLiteral("Save"));

    // Leaving busy early makes the timer's action do nothing.
    button.setBusyFor("Sent", 20);
    button.setBusy(false);
    button.setText("Renamed");
    QTest::qWait(40);
    QCOMPARE(button.text(), QStringLiteral("Renamed"));
}

void TestControls::txButton_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("fill");
    QTest::newRow("locked") << 0 << "Start transmission" << false << ThemeColors::windowBg;
    QTest::newRow("go") << 1 << "Start transmission" << true << QColor(18, 166, 106);
    QTest::newRow("stop") << 2 << "     Stop transmission" << true << QColor(229, 38, 43);
}

void TestControls::txButton()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(QColor, fill);
    TxButton button;
    button.resize(300, 50);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    button.setState(state);
    QCOMPARE(button.text(), text);
    QCOMPARE(button.isEnabled(), enabled);
    QCOMPARE(button.grab().toImage().pixelColor(8, button.height() / 2), fill);
    // Only a running transmission shows the pulsing dot.
    QCOMPARE(button.findChild<Dot *>()->isVisible(), state == TxStop);

    // An unknown state keeps the look it had.
    button.setState(9);
    QCOMPARE(button.text(), text);
}

void TestControls::listRowClick()
{
    ListRow row("Firmware");
    row.setSubtitle("QOR Receiver V4");
    row.resize(300, 56);
    row.show();
    QSignalSpy spy(&row, &ListRow::clicked);
    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(100, 28));
    QCOMPARE(spy.count(), 1);
}

OSTRA_TEST_MAIN_WIDGETS(TestControls)
#include "tst_controls.moc"
