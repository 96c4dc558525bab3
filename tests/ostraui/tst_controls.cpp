#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>

#include <memory>

#include "ostraui/busybutton.h"
#include "ostraui/channelcell.h"
#include "ostraui/dot.h"
#include "ostraui/listrow.h"
#include "ostraui/meter.h"
#include "ostraui/navbutton.h"
#include "ostraui/pill.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"
#include "ostraui/toggle.h"
#include "ostraui/txbutton.h"
#include "ostraui/vmeter.h"
#include "support/testenvironment.h"
#include "animatedrun.h"

using namespace ostra;

// The kit's controls and indicators under the mouse and keyboard.
class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        installTheme(*qApp);
        verifyRunKind();
    }

    void toggleClick()
    {
        Toggle toggle;
        toggle.show();
        QSignalSpy toggled(&toggle, &Toggle::toggled);
        QVERIFY(QTest::qWaitForWindowExposed(&toggle));
        QTest::mouseClick(&toggle, Qt::LeftButton);
        QVERIFY(toggle.isChecked());
        QCOMPARE(toggled.count(), 1);
        // Animated, the knob sets off from the left; in the end the track is on and the knob right.
        const auto knobRight = [&toggle] { return toggle.grab().toImage().pixelColor(24, 10) == QColor(Qt::white); };
        QCOMPARE(knobRight(), !animationsEnabled());
        QTRY_VERIFY(knobRight());
        QTRY_COMPARE(toggle.grab().toImage().pixelColor(4, 10), ThemeColors::toggleOn);
        toggle.setChecked(false);
        QTRY_COMPARE(toggle.grab().toImage().pixelColor(24, 10), ThemeColors::controlBorder);
    }

    void segmentedSlides()
    {
        Segmented seg({"Car", "Heli", "Motion"});
        seg.resize(308, 52);
        seg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&seg));
        // A point inside the third segment's thumb, clear of its text.
        const auto thumbOnThird = [&seg] { return seg.grab().toImage().pixelColor(210, 10) == ThemeColors::thumb; };
        QVERIFY(!thumbOnThird());
        QTest::mousePress(&seg, Qt::LeftButton, {}, QPoint(250, 26));
        QCOMPARE(seg.currentIndex(), 2);
        QCOMPARE(thumbOnThird(), !animationsEnabled());
        QTRY_VERIFY(thumbOnThird());
        QCOMPARE(seg.grab().toImage().pixelColor(10, 10), ThemeColors::windowBg);
    }

    void segmentedPress_data()
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

    void segmentedPress()
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

    void segmentedSetIndexAndOptions()
    {
        Segmented seg({"A", "B", "C"});
        QSignalSpy spy(&seg, &Segmented::currentIndexChanged);
        seg.setCurrentIndex(2, true);
        seg.setCurrentIndex(2, true);
        seg.setCurrentIndex(5);
        // Fewer options than the index: back to the first, silently, all enabled again.
        seg.setOptionEnabled(1, false);
        seg.setOptions({"X", "Y"});
        QCOMPARE(seg.currentIndex(), 0);
        QVERIFY(seg.isOptionEnabled(1));
        QCOMPARE(spy.count(), 1);
    }

    void keysActOnClickableControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("disabledOption");
        QTest::addColumn<int>("acts");
        QTest::addColumn<int>("index");
        QTest::newRow("list row, Return") << "row" << int(Qt::Key_Return) << -1 << 1 << -1;
        QTest::newRow("list row, Enter") << "row" << int(Qt::Key_Enter) << -1 << 1 << -1;
        QTest::newRow("list row, Space") << "row" << int(Qt::Key_Space) << -1 << 1 << -1;
        QTest::newRow("sidebar entry, Return") << "nav" << int(Qt::Key_Return) << -1 << 1 << -1;
        QTest::newRow("segmented, Right") << "segmented" << int(Qt::Key_Right) << -1 << 1 << 1;
        QTest::newRow("segmented, Left at the first") << "segmented" << int(Qt::Key_Left) << -1 << 0 << 0;
        QTest::newRow("segmented, Right over a disabled option") << "segmented" << int(Qt::Key_Right) << 1 << 1 << 2;
        QTest::newRow("clickable pill, Return") << "pill" << int(Qt::Key_Return) << -1 << 1 << -1;
        QTest::newRow("clickable pill, Space") << "pill" << int(Qt::Key_Space) << -1 << 1 << -1;
        // Outside a dialog, whose default button Return presses, as a click does.
        QTest::newRow("button, Return") << "button" << int(Qt::Key_Return) << -1 << 1 << -1;
        QTest::newRow("link button, Enter") << "link" << int(Qt::Key_Enter) << -1 << 1 << -1;
    }

    // Tab reaches a control that acts on a click, and the keys act on it as the click does.
    void keysActOnClickableControls()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        QFETCH(int, disabledOption);
        QWidget window;
        auto *layout = new QHBoxLayout(&window);
        auto *before = new QLineEdit;
        layout->addWidget(before);
        QWidget *target = nullptr;
        std::unique_ptr<QSignalSpy> acted;
        if (control == QLatin1String("segmented")) {
            auto *seg = new Segmented({"Car", "Heli", "Motion"});
            seg->setOptionEnabled(disabledOption, false);
            acted = std::make_unique<QSignalSpy>(seg, &Segmented::currentIndexChanged);
            target = seg;
        } else if (control == QLatin1String("pill")) {
            auto *pill = new Pill(nullptr, Pill::KeyValue);
            pill->setKeyValue("Profile", "Default");
            pill->setClickable(true);
            acted = std::make_unique<QSignalSpy>(pill, &Pill::clicked);
            target = pill;
        } else {
            QAbstractButton *button = control == QLatin1String("row")   ? static_cast<QAbstractButton *>(new ListRow("Axis config"))
                                      : control == QLatin1String("nav") ? static_cast<QAbstractButton *>(new NavButton("Dashboard"))
                                                                        : new QPushButton("Refresh");
            button->setProperty("link", control == QLatin1String("link"));
            acted = std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked);
            target = button;
        }
        layout->addWidget(target);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
        QVERIFY(target->hasFocus());
        QTest::keyClick(target, Qt::Key(key));
        QTEST(int(acted->count()), "acts");
        if (auto *seg = qobject_cast<Segmented *>(target))
            QTEST(seg->currentIndex(), "index");
    }

    void sliderRow()
    {
        SliderRow row("Strength", 0, 100, 40);
        row.resize(500, 40);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        QLabel *value = row.findChildren<QLabel *>().value(1);
        row.setFormatter([](int v) { return QStringLiteral("%1 %").arg(v); });
        QSignalSpy spy(&row, &SliderRow::valueChanged);
        row.setValue(500);
        row.setValue(500);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(value->text(), QStringLiteral("100 %"));

        QSlider *slider = row.slider();
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Home);
        QCOMPARE(row.value(), 0);
        // Callers set the steps and the range through the slider; the value text follows.
        slider->setSingleStep(5);
        slider->setPageStep(25);
        slider->setMaximum(60);
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_PageUp);
        QCOMPARE(row.value(), 30);
        QTest::keyClick(slider, Qt::Key_PageUp);
        QTest::keyClick(slider, Qt::Key_PageUp);
        QCOMPARE(row.value(), 60);
        QCOMPARE(value->text(), QStringLiteral("60 %"));
    }

    void busyButton()
    {
        BusyButton button("Save");
        button.show();
        // Busy again keeps the first text; leaving restores the original.
        button.setBusy(true);
        QVERIFY(!button.isEnabled());
        button.setBusy(true, "Saving");
        QCOMPARE(button.text(), QStringLiteral("      Save"));
        button.setBusy(false);
        QCOMPARE(button.text(), QStringLiteral("Save"));
        QVERIFY(button.isEnabled());

        button.setBusyFor("Sent", 10);
        QTRY_COMPARE(button.text(), QStringLiteral("Save"));
        // Leaving busy early makes the timer's action do nothing.
        button.setBusyFor("Sent", 20);
        button.setBusy(false);
        button.setText("Renamed");
        QTest::qWait(40);
        QCOMPARE(button.text(), QStringLiteral("Renamed"));
    }

    void txButton_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QColor>("fill");
        QTest::newRow("locked") << int(TxLocked) << "Start transmission" << false << ThemeColors::windowBg;
        QTest::newRow("go") << int(TxGo) << "Start transmission" << true << QColor(18, 166, 106);
        QTest::newRow("stop") << int(TxStop) << "     Stop transmission" << true << QColor(229, 38, 43);
    }

    void txButton()
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
    }

    void bipolarMeterFillsFromCentre()
    {
        Meter meter(nullptr, ThemeColors::accent);
        meter.resize(100, 10);
        meter.show();
        meter.setBipolar(true);
        meter.setValue(-0.6);
        const QImage image = meter.grab().toImage();
        QCOMPARE(image.pixelColor(30, 5), ThemeColors::accent);
        QCOMPARE(image.pixelColor(75, 5), ThemeColors::hairline);
        QCOMPARE(image.pixelColor(50, 5), ThemeColors::textDisabled);
    }

    void channelCell()
    {
        ChannelCell cell(5);
        const QList<QLabel *> labels = cell.findChildren<QLabel *>();
        cell.setValue(2200);
        QCOMPARE(labels.at(1)->text(), QStringLiteral("2200"));
        QCOMPARE(cell.findChild<VMeter *>()->value(), 1.0);
        // No signal: a dash, an empty bar and a muted name.
        cell.setValue(-1);
        QCOMPARE(labels.at(1)->text(), QString::fromUtf8("\u2014"));
        QCOMPARE(cell.findChild<VMeter *>()->value(), 0.0);
        QCOMPARE(labels.at(0)->palette().color(QPalette::WindowText), ThemeColors::textMuted);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestControls)
#include "tst_controls.moc"
