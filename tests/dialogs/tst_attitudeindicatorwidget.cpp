#include <QApplication>
#include <QCheckBox>
#include <QPaintEvent>
#include <QTest>

#include "dialogrender.h"
#include "dialogs/attitudeindicatorwidget.h"
#include "support/transmitrig.h"

using corvane::AttitudeIndicatorWidget;

namespace {

QCheckBox *box(AttitudeIndicatorWidget &widget, const QString &text)
{
    for (QCheckBox *b : widget.findChildren<QCheckBox *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QString oneDecimal(float v)
{
    return QString::number(v, 'f', 1);
}

struct PaintWatch : QObject
{
    QRegion painted;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

} // namespace

class TestAttitudeIndicatorWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void smoothsTowardsTheTarget()
    {
        AttitudeIndicatorWidget widget(nullptr);
        widget.onAttitude(10.0f, 0.0f, 0.0f);
        QStringList shown;
        for (int i = 0; i < 3; ++i) {
            widget.onTick();
            shown << oneDecimal(widget.shownPitch());
        }
        QCOMPARE(shown.join(' '), QString("3.5 5.8 7.3"));
    }

    void staleFromThe31stTick()
    {
        AttitudeIndicatorWidget widget(nullptr);
        QVERIFY(widget.isStale()); // nothing ever arrived
        widget.onAttitude(1.0f, 2.0f, 3.0f);
        QVERIFY(!widget.isStale());
        for (int i = 0; i < 30; ++i)
            widget.onTick();
        QVERIFY(!widget.isStale());
        widget.onTick();
        QVERIFY(widget.isStale());
        widget.onAttitude(1.0f, 2.0f, 3.0f);
        QVERIFY(!widget.isStale());
    }

    void invertRollFlipsAtOnceAndIsStored()
    {
        ostratest::TransmitRig rig;
        AttitudeIndicatorWidget widget(rig.controller.get());
        widget.onAttitude(0.0f, 20.0f, 0.0f);
        for (int i = 0; i < 60; ++i)
            widget.onTick();
        QCOMPARE(oneDecimal(widget.shownRoll()), QString("20.0"));
        QCheckBox *roll = box(widget, "Invert Roll");
        QVERIFY(roll);
        QVERIFY(!roll->isChecked());
        roll->setChecked(true);
        QCOMPARE(oneDecimal(widget.shownRoll()), QString("-20.0"));
        widget.onTick();
        QCOMPARE(oneDecimal(widget.shownRoll()), QString("-20.0"));
        QVERIFY(rig.controller->helicopterConfig().attitude.invertRoll);
        QVERIFY(!rig.controller->helicopterConfig().attitude.invertPitch);
        // A new window starts from the stored flags.
        AttitudeIndicatorWidget again(rig.controller.get());
        QVERIFY(box(again, "Invert Roll")->isChecked());
    }

    void withoutControllerTheBoxesChangeNothing()
    {
        AttitudeIndicatorWidget widget(nullptr);
        widget.onAttitude(0.0f, 20.0f, 0.0f);
        widget.onTick();
        const float before = widget.shownRoll();
        box(widget, "Invert Roll")->setChecked(true);
        QCOMPARE(widget.shownRoll(), before);
    }

    void readoutHasOneDecimal()
    {
        QCOMPARE(AttitudeIndicatorWidget::readout(-3.0f, 0.0f), QString("PITCH -3.0°    ROLL 0.0°"));
    }

    void escapeCloses()
    {
        AttitudeIndicatorWidget widget(nullptr);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QTest::keyClick(&widget, Qt::Key_Escape);
        QVERIFY(!widget.isVisible());
    }

    // The window shows no focus of its own, and it is a whole screen to repaint.
    void keyboardFocusLeavesTheHorizon()
    {
        AttitudeIndicatorWidget widget(nullptr);
        widget.resize(1280, 720);
        widget.show();
        QVERIFY(QTest::qWaitForWindowActive(&widget));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        PaintWatch watch;
        widget.installEventFilter(&watch);
        widget.clearFocus();
        widget.setFocus();
        QVERIFY(widget.hasFocus());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QVERIFY(!watch.painted.contains(widget.rect().center()));
    }

    // The curtain comes when the telemetry stops and goes with the next attitude, even one
    // the picture already shows.
    void curtainFollowsTheTelemetryOnScreen()
    {
        AttitudeIndicatorWidget widget(nullptr);
        widget.resize(1280, 720);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        for (int i = 0; i < 60; ++i) {
            widget.onAttitude(5.0f, 10.0f, 0.0f);
            widget.onTick();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        }
        const QImage live = shownOnScreen(widget);
        for (int i = 0; i < 31; ++i) {
            widget.onTick();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        }
        QVERIFY(widget.isStale());
        QVERIFY(shownOnScreen(widget) != live);
        widget.onAttitude(widget.shownPitch(), widget.shownRoll(), 0.0f);
        widget.onTick();
        QVERIFY(!widget.isStale());
        QCOMPARE(shownOnScreen(widget), paintedWhole(widget));
    }

    void controlsFollowTheirStateOnScreen_data()
    {
        QTest::addColumn<bool>("whileTicking");
        QTest::newRow("shown at once") << false;
        QTest::newRow("layers and looks made ahead while ticks come") << true;
    }

    // The controls keep their own look on screen while the horizon moves under them, and
    // take a new one when their state changes.
    void controlsFollowTheirStateOnScreen()
    {
        QFETCH(bool, whileTicking);
        AttitudeIndicatorWidget widget(nullptr);
        if (whileTicking) {
            QVERIFY(showFullScreenWhileTicking(widget, widget.firstPaintParts()));
            QCOMPARE(shownOnScreen(widget), paintedWhole(widget));
        } else {
            widget.resize(1280, 720);
            widget.show();
            QVERIFY(QTest::qWaitForWindowExposed(&widget));
        }
        widget.onAttitude(5.0f, 10.0f, 0.0f);
        widget.onTick();
        QCOMPARE(shownOnScreen(widget), paintedWhole(widget));
        QCheckBox *roll = box(widget, "Invert Roll");
        const QRect area = roll->geometry();
        const QImage unchecked = shownOnScreen(widget).copy(area);
        roll->toggle();
        QVERIFY(roll->isChecked());
        const QImage checked = shownOnScreen(widget).copy(area);
        QVERIFY(checked != unchecked);
        QCOMPARE(shownOnScreen(widget), paintedWhole(widget));
        // The horizon turns under the boxes; they stay as they are.
        widget.onAttitude(-5.0f, -10.0f, 0.0f);
        widget.onTick();
        QCOMPARE(shownOnScreen(widget), paintedWhole(widget));
        roll->toggle();
        QVERIFY(!roll->isChecked());
        QCOMPARE(shownOnScreen(widget), paintedWhole(widget));
    }

    void render()
    {
        AttitudeIndicatorWidget widget(nullptr);
        widget.resize(1280, 720);
        widget.onAttitude(8.0f, 25.0f, 0.0f);
        for (int i = 0; i < 20; ++i)
            widget.onTick();
        QVERIFY(renderWidget(widget).save(dialogPicture("attitude-live")));
        for (int i = 0; i < 20; ++i)
            widget.onTick();
        QVERIFY(widget.isStale());
        QVERIFY(renderWidget(widget).save(dialogPicture("attitude-stale")));
    }
    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestAttitudeIndicatorWidget)
#include "tst_attitudeindicatorwidget.moc"
