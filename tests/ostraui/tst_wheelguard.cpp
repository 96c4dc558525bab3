#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include <functional>

#include "ostraui/theme.h"
#include "support/testenvironment.h"

namespace {

// One notch of the wheel towards the user over the middle of `over`, delivered as the window
// system delivers it: to the widget under the pointer, then on to its parents while unhandled.
void wheelOver(QWidget *over)
{
    QWidget *window = over->window();
    const QPoint inWindow = over->mapTo(window, over->rect().center());
    QWidget *target = window->childAt(inWindow);
    if (!target)
        target = window;
    QWheelEvent wheel(target->mapFrom(window, QPointF(inWindow)), window->mapToGlobal(QPointF(inWindow)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    qApp->notify(target, &wheel);
}

} // namespace

class TestWheelGuard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    // Over a control without focus the wheel scrolls the page; with focus it changes the value.
    // An open combo list scrolls itself.
    void wheelChangesOnlyFocusedControls_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("focused");
        QTest::newRow("combo box, unfocused") << "combo" << false;
        QTest::newRow("combo box, focused") << "combo" << true;
        QTest::newRow("slider, unfocused") << "slider" << false;
        QTest::newRow("slider, focused") << "slider" << true;
        QTest::newRow("spin box, unfocused") << "spin" << false;
        QTest::newRow("spin box, focused") << "spin" << true;
        QTest::newRow("combo list, open") << "list" << true;
    }

    void wheelChangesOnlyFocusedControls()
    {
        QFETCH(QString, kind);
        QFETCH(bool, focused);

        QWidget window;
        auto *area = new QScrollArea(&window);
        (new QVBoxLayout(&window))->addWidget(area);
        area->setWidgetResizable(true);
        auto *page = new QWidget;
        auto *layout = new QVBoxLayout(page);
        auto *other = new QLineEdit;
        layout->addWidget(other);
        QWidget *control = nullptr;
        std::function<int()> value;
        if (kind == QLatin1String("slider")) {
            auto *slider = new QSlider(Qt::Horizontal);
            slider->setRange(0, 100);
            slider->setValue(50);
            control = slider;
            value = [slider] { return slider->value(); };
        } else if (kind == QLatin1String("spin")) {
            auto *spin = new QSpinBox;
            spin->setRange(0, 100);
            spin->setValue(50);
            control = spin;
            value = [spin] { return spin->value(); };
        } else {
            auto *combo = new QComboBox;
            for (int i = 0; i < 40; ++i)
                combo->addItem(QStringLiteral("Preset %1").arg(i));
            combo->setCurrentIndex(5);
            combo->setMaxVisibleItems(6);
            control = combo;
            value = [combo] { return combo->currentIndex(); };
        }
        layout->addWidget(control);
        layout->addSpacing(2000);
        area->setWidget(page);
        window.resize(320, 300);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget *target = focused ? control : other;
        target->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(target->hasFocus());

        QWidget *over = control;
        QScrollBar *bar = area->verticalScrollBar();
        if (kind == QLatin1String("list")) {
            auto *combo = static_cast<QComboBox *>(control);
            combo->showPopup();
            QTRY_VERIFY(combo->view()->isVisible());
            over = combo->view()->viewport();
            bar = combo->view()->verticalScrollBar();
        }
        const int before = value();
        const int scrolled = bar->value();
        wheelOver(over);

        const bool changes = focused && kind != QLatin1String("list");
        QCOMPARE(value() != before, changes);
        QCOMPARE(bar->value() != scrolled, !changes);
        // The wheel gave no focus either, so the next notch scrolls on.
        if (!focused)
            QVERIFY(!control->hasFocus());
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestWheelGuard)
#include "tst_wheelguard.moc"
