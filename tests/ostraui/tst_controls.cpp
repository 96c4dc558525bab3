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
#include "support/testenvironment.h"

using namespace ostra;

namespace {

QImage render(QWidget &widget)
{
    widget.ensurePolished();
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void toggleClick_data();
    void toggleClick();
    void toggleDisabledTrack();
    void segmentedGeometry();
    void segmentedPress_data();
    void segmentedPress();
    void segmentedSetOptions();
    void segmentedSameIndex();
    void segmentedSizeHint_data();
    void segmentedSizeHint();
    void sliderRow();
    void sliderRowDrag();
    void busyButton();
    void busyButtonFor();
    void txButton_data();
    void txButton();
    void listRow();
};

void TestControls::initTestCase()
{
    installTheme(*qApp);
}

void TestControls::toggleClick_data()
{
    QTest::addColumn<bool>("reduced");
    QTest::newRow("default") << false;
    QTest::newRow("reduced motion") << true;
}

void TestControls::toggleClick()
{
    QFETCH(bool, reduced);
    Motion::instance()->setReducedMotion(reduced);
    Toggle toggle;
    QCOMPARE(toggle.size(), QSize(34, 20));
    QCOMPARE(toggle.sizeHint(), QSize(34, 20));
    QVERIFY(toggle.isCheckable());
    QCOMPARE(toggle.cursor().shape(), Qt::PointingHandCursor);
    toggle.show();

    QSignalSpy toggled(&toggle, &Toggle::toggled);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    QVERIFY(toggle.isChecked());
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(toggle.knob(), 1.0);
    QImage image = render(toggle);
    QCOMPARE(image.pixelColor(4, 10), ThemeColors::toggleOn);
    QCOMPARE(image.pixelColor(24, 10), QColor(Qt::white));

    toggle.setChecked(false);
    QCOMPARE(toggle.knob(), 0.0);
    image = render(toggle);
    QCOMPARE(image.pixelColor(30, 10), ThemeColors::controlBorder);
    QCOMPARE(image.pixelColor(10, 10), QColor(Qt::white));
    Motion::instance()->setReducedMotion(false);
}

void TestControls::toggleDisabledTrack()
{
    Toggle toggle;
    toggle.setEnabled(false);
    const QImage image = render(toggle);
    QCOMPARE(qAlpha(image.pixel(30, 10)), qRound(0.45 * 255));
}

void TestControls::segmentedGeometry()
{
    Segmented seg({"A", "B", "C", "D"});
    seg.resize(408, 52);
    QCOMPARE(seg.indexAt(QPoint(5, 20)), 0);
    QCOMPARE(seg.indexAt(QPoint(103, 20)), 0);
    QCOMPARE(seg.indexAt(QPoint(105, 20)), 1);
    QCOMPARE(seg.indexAt(QPoint(403, 20)), 3);
    QCOMPARE(seg.indexAt(QPoint(2, 20)), -1);
    QCOMPARE(seg.indexAt(QPoint(200, 1)), -1);
    QCOMPARE(seg.indexAt(QPoint(200, 50)), -1);
    Segmented empty({});
    empty.resize(100, 52);
    QCOMPARE(empty.indexAt(QPoint(50, 20)), -1);
    QCOMPARE(seg.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(seg.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

void TestControls::segmentedPress_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("widgetEnabled");
    QTest::addColumn<int>("disabledOption");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("emitted");
    QTest::newRow("third") << QPoint(250, 26) << true << -1 << 2 << 1;
    QTest::newRow("current") << QPoint(50, 26) << true << -1 << 0 << 0;
    QTest::newRow("outside") << QPoint(1, 1) << true << -1 << 0 << 0;
    QTest::newRow("disabled option") << QPoint(250, 26) << true << 2 << 0 << 0;
    QTest::newRow("disabled widget") << QPoint(150, 26) << false << -1 << 0 << 0;
}

void TestControls::segmentedPress()
{
    QFETCH(QPoint, at);
    QFETCH(bool, widgetEnabled);
    QFETCH(int, disabledOption);
    QFETCH(int, index);
    QFETCH(int, emitted);
    Segmented seg({"Car", "Heli", "Motion"});
    seg.resize(308, 52);
    seg.setEnabled(widgetEnabled);
    if (disabledOption >= 0)
        seg.setOptionEnabled(disabledOption, false);
    seg.show();
    QSignalSpy spy(&seg, &Segmented::currentIndexChanged);
    QTest::mousePress(&seg, Qt::LeftButton, {}, at);
    QCOMPARE(seg.currentIndex(), index);
    QCOMPARE(spy.count(), emitted);
    if (emitted)
        QCOMPARE(spy.at(0).at(0).toInt(), index);

    // The thumb is painted under the chosen segment.
    const QImage image = render(seg);
    const QColor thumb = ThemeColors::thumb;
    QCOMPARE(image.pixelColor(4 + index * 100 + 10, 8), thumb);
}

void TestControls::segmentedSetOptions()
{
    Segmented seg({"A", "B", "C"});
    seg.setCurrentIndex(2);
    seg.setOptionEnabled(1, false);
    QSignalSpy spy(&seg, &Segmented::currentIndexChanged);
    seg.setOptions({"X", "Y"});
    QCOMPARE(seg.currentIndex(), 0);
    QCOMPARE(spy.count(), 0);
    QVERIFY(seg.isOptionEnabled(1));
    seg.setCurrentIndex(1);
    seg.setOptions({"P", "Q", "R"});
    QCOMPARE(seg.currentIndex(), 1);
    seg.setCurrentIndex(5);
    seg.setCurrentIndex(-1);
    QCOMPARE(seg.currentIndex(), 1);
    QCOMPARE(spy.count(), 1);
}

void TestControls::segmentedSameIndex()
{
    Segmented seg({"A", "B"});
    seg.resize(208, 52);
    seg.show();
    seg.setCurrentIndex(1, true);
    QSignalSpy spy(&seg, &Segmented::currentIndexChanged);
    seg.setCurrentIndex(1, true);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(render(seg).pixelColor(4 + 100 + 10, 8), ThemeColors::thumb);
}

void TestControls::segmentedSizeHint_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("height");
    QTest::newRow("one line") << QStringList{"Car", "Heli"} << 52;
    QTest::newRow("one option two lines") << QStringList{"Linear\nfull range"} << 60;
    QTest::newRow("mixed") << QStringList{"Off", "Expo\nsoft"} << 60;
}

void TestControls::segmentedSizeHint()
{
    QFETCH(QStringList, options);
    QFETCH(int, height);
    Segmented seg(options);
    const QFontMetrics metrics(uiFont(14, 600));
    int width = 8;
    for (const QString &option : options)
        width += metrics.horizontalAdvance(option.section('\n', 0, 0)) + 32;
    QCOMPARE(seg.sizeHint(), QSize(width, height));
    QCOMPARE(seg.minimumSizeHint(), QSize(qMin(width, 240), height));

    Segmented wide({"A very long first option", "Another very long option", "Third long option"});
    QCOMPARE(wide.minimumSizeHint().width(), 240);
}

void TestControls::sliderRow()
{
    SliderRow row("Strength", 0, 100, 40);
    QCOMPARE(row.value(), 40);
    const QList<QLabel *> labels = row.findChildren<QLabel *>();
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels.at(0)->text(), QStringLiteral("Strength"));
    QLabel *value = labels.at(1);
    QCOMPARE(value->text(), QStringLiteral("40"));
    QCOMPARE(value->width(), 72);
    QCOMPARE(value->alignment(), Qt::AlignRight | Qt::AlignVCenter);

    row.setFormatter([](int v) { return QStringLiteral("%1 %").arg(v); });
    QCOMPARE(value->text(), QStringLiteral("40 %"));

    QSignalSpy spy(&row, &SliderRow::valueChanged);
    QString seen;
    connect(&row, &SliderRow::valueChanged, &row, [&] { seen = value->text(); });
    row.setValue(55);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 55);
    QCOMPARE(seen, QStringLiteral("55 %"));
    row.setValue(55);
    QCOMPARE(spy.count(), 1);
    row.setValue(500);
    QCOMPARE(row.value(), 100);

    row.setFormatter({});
    QCOMPARE(value->text(), QStringLiteral("100"));
}

void TestControls::sliderRowDrag()
{
    SliderRow row("Deadzone", 0, 10, 0);
    row.resize(500, 40);
    row.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row));
    auto *slider = row.findChild<QSlider *>();
    QVERIFY(slider);
    QCOMPARE(slider->cursor().shape(), Qt::PointingHandCursor);
    QSignalSpy spy(&row, &SliderRow::valueChanged);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_End);
    QCOMPARE(row.value(), 10);
    QCOMPARE(spy.count(), 1);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(3, slider->height() / 2));
    QVERIFY(row.value() < 10);
}

void TestControls::busyButton()
{
    BusyButton button("Save");
    button.resize(160, 34);
    button.show();
    auto *spinner = button.findChild<Spinner *>();
    QVERIFY(spinner);
    QVERIFY(!spinner->isVisible());
    QCOMPARE(spinner->size(), QSize(11, 11));
    QVERIFY(spinner->testAttribute(Qt::WA_TransparentForMouseEvents));

    button.setBusy(true);
    QVERIFY(button.isBusy());
    QCOMPARE(button.text(), QStringLiteral("      Save"));
    QVERIFY(spinner->isVisible());
    QVERIFY(!button.isEnabled());
    button.grab();
    const QFontMetrics metrics(button.font());
    QCOMPARE(spinner->x(), (160 - metrics.horizontalAdvance(button.text())) / 2 + metrics.horizontalAdvance("  "));
    QCOMPARE(spinner->y(), (button.height() - 11) / 2);

    button.setBusy(true, "Saving");
    QCOMPARE(button.text(), QStringLiteral("      Save"));
    button.setBusy(false);
    QCOMPARE(button.text(), QStringLiteral("Save"));
    QVERIFY(button.isEnabled());
    QVERIFY(!spinner->isVisible());

    button.setBusy(true, "Saving");
    QCOMPARE(button.text(), QStringLiteral("      Saving"));
    button.setBusy(false);
    QCOMPARE(button.text(), QStringLiteral("Save"));
}

void TestControls::busyButtonFor()
{
    BusyButton button("Send");
    button.setBusyFor("Sent", 10);
    QCOMPARE(button.text(), QStringLiteral("      Sent"));
    QTRY_VERIFY(!button.isBusy());
    QCOMPARE(button.text(), QStringLiteral("Send"));
    QVERIFY(button.isEnabled());

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
    QTest::addColumn<QString>("look");
    QTest::addColumn<bool>("dot");
    QTest::addColumn<Qt::CursorShape>("cursor");
    QTest::addColumn<QColor>("fill");
    QTest::newRow("locked") << 0 << "Start transmission" << false << "locked" << false
                            << Qt::ForbiddenCursor << ThemeColors::windowBg;
    QTest::newRow("go") << 1 << "Start transmission" << true << "go" << false
                        << Qt::PointingHandCursor << QColor(18, 166, 106);
    QTest::newRow("stop") << 2 << "     Stop transmission" << true << "stop" << true
                          << Qt::PointingHandCursor << QColor(229, 38, 43);
}

void TestControls::txButton()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(QString, look);
    QFETCH(bool, dot);
    QFETCH(Qt::CursorShape, cursor);
    QFETCH(QColor, fill);
    TxButton button;
    QCOMPARE(button.property("big").toBool(), true);
    button.resize(300, 50);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    button.setState(state);
    QCOMPARE(button.state(), state);
    QCOMPARE(button.text(), text);
    QCOMPARE(button.isEnabled(), enabled);
    QCOMPARE(button.property("txState").toString(), look);
    QCOMPARE(button.cursor().shape(), cursor);
    QVERIFY(button.height() >= 50);
    QCOMPARE(button.grab().toImage().pixelColor(8, button.height() / 2), fill);

    auto *pulse = button.findChild<Dot *>();
    QVERIFY(pulse);
    QCOMPARE(pulse->isVisible(), dot);
    QCOMPARE(pulse->isPulsing(), dot);
    QCOMPARE(pulse->size(), QSize(8, 8));
    QCOMPARE(pulse->color(), QColor(Qt::white));
    const int w = QFontMetrics(uiFont(15, 600)).horizontalAdvance(text.trimmed());
    QCOMPARE(pulse->x(), (button.width() - w) / 2 - 12);
    QCOMPARE(pulse->y(), (button.height() - 8) / 2);

    button.resize(400, 50);
    QCOMPARE(pulse->x(), (400 - w) / 2 - 12);

    button.setState(9);
    QCOMPARE(button.state(), 9);
    QCOMPARE(button.text(), text);
    QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
}

void TestControls::listRow()
{
    ListRow row("Firmware");
    QCOMPARE(row.text(), QStringLiteral("Firmware"));
    QCOMPARE(row.sizeHint(), QSize(200, 44));
    QCOMPARE(row.cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(row.showsChevron());
    row.setSubtitle("QOR Receiver V4");
    QCOMPARE(row.sizeHint(), QSize(200, 56));
    row.setTrailingText("v3.4");
    QCOMPARE(row.trailingText(), QStringLiteral("v3.4"));

    row.resize(300, 56);
    row.show();
    QSignalSpy spy(&row, &ListRow::clicked);
    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(100, 28));
    QCOMPARE(spy.count(), 1);

    // The chevron is drawn at the right edge, and hidden on request.
    ListRow plain("Info");
    plain.resize(300, 56);
    const auto chevronInk = [&plain] {
        const QImage image = render(plain);
        int count = 0;
        for (int y = 20; y < 36; ++y)
            for (int x = 280; x < 292; ++x)
                count += qAlpha(image.pixel(x, y)) > 100;
        return count;
    };
    QVERIFY(chevronInk() > 4);
    plain.setShowChevron(false);
    QCOMPARE(chevronInk(), 0);
}

OSTRA_TEST_MAIN_WIDGETS(TestControls)
#include "tst_controls.moc"
