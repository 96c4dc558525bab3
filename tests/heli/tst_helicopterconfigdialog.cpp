#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "heli/helicopterconfigdialog.h"
#include "helirender.h"
#include "support/testenvironment.h"
#include "support/transmitrig.h"
#include "ostraui/unsavededits.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/widgetlookup.h"

#include <cmath>

using corvane::HelicopterConfigDialog;
using ostratest::TransmitRig;

namespace {

// The group box of a function on one tab (0 mapping, 1 calibration), turned to as a user does.
QGroupBox *group(HelicopterConfigDialog &dialog, int tab, int function)
{
    auto *tabs = dialog.findChild<QTabWidget *>();
    tabs->setCurrentIndex(tab);
    QWidget *page = qobject_cast<QScrollArea *>(tabs->widget(tab))->widget();
    return page->findChildren<QGroupBox *>(QString(), Qt::FindDirectChildrenOnly).at(function);
}

QPushButton *buttonIn(QWidget *parent, const QString &text) { return ostratest::withText<QPushButton>(parent, text); }

// The value label right of a widget in its group's grid.
QLabel *labelAfter(QWidget *widget)
{
    auto *grid = static_cast<QGridLayout *>(widget->parentWidget()->layout());
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(widget), &row, &column, &rowSpan, &columnSpan);
    return qobject_cast<QLabel *>(grid->itemAtPosition(row, column + columnSpan)->widget());
}

} // namespace

class TestHelicopterConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void detectPicksTheAxisMovedMost_data()
    {
        QTest::addColumn<float>("span3");
        QTest::addColumn<float>("span5");
        QTest::addColumn<QString>("selected");
        QTest::newRow("axis 3 sweeps 1.2, axis 5 0.3") << 1.2f << 0.3f << "Axis 4";
        QTest::newRow("no span above 0.4 keeps the choice") << 0.3f << 0.35f << "Axis 1";
        QTest::newRow("equal spans pick the lower index") << 0.8f << 0.8f << "Axis 4";
        QTest::newRow("axis 5 sweeps most") << 0.5f << 1.6f << "Axis 6";
    }

    void detectPicksTheAxisMovedMost()
    {
        QFETCH(float, span3);
        QFETCH(float, span5);
        QFETCH(QString, selected);
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(rig.controller->helicopterConfig());
        QComboBox *roll = group(dialog, 0, 0)->findChild<QComboBox *>();
        QCOMPARE(roll->currentText(), QString("Axis 1"));
        dialog.onDetectAxis(HelicopterConfigDialog::Roll);
        QLabel *deviceLabel = group(dialog, 0, 0)->findChild<QLabel *>();
        for (int tick = 0; tick < 90; ++tick) {
            // Out and back across the span, once.
            const float phase = tick < 45 ? tick / 44.0f : (89 - tick) / 44.0f;
            rig.joystick->setAxis(3, -span3 / 2 + span3 * phase);
            rig.joystick->setAxis(5, -span5 / 2 + span5 * phase);
            dialog.onPollTick();
            if (tick == 10)
                QCOMPARE(deviceLabel->text(), QString("Detecting\u2026 sweep this control through its full range"));
        }
        QCOMPARE(roll->currentText(), selected);
        QCOMPARE(dialog.config().inputs.joystick.xAxis, roll->currentData().toInt());
        QCOMPARE(deviceLabel->text(), QString("Joystick: Virtual Flight Stick"));
    }

    void setMinWithThrottleDisconnected()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter(false, false));
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(rig.controller->helicopterConfig());
        QPushButton *setMin = buttonIn(group(dialog, 1, 2), "Set Min");
        QVERIFY(!buttonIn(group(dialog, 1, 2), "Set Center"));
        QCOMPARE(labelAfter(setMin)->text(), QString("\u2014"));
        QCOMPARE(ostratest::shortDashes(&dialog), QStringList());
        setMin->click();
        const AxisConfig throttle = dialog.config().calibration.throttle;
        QCOMPARE(throttle.inputMin, 0.0f);
        QVERIFY(throttle.useCalibration);
        QCOMPARE(labelAfter(setMin)->text(), QString("0.00"));
        QVERIFY(QFontInfo(labelAfter(setMin)->font()).fixedPitch());
    }

    void setPointsFromTheLiveInput()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        rig.joystick->setAxis(0, -1.0f);
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(rig.controller->helicopterConfig());
        dialog.onPollTick();
        QCOMPARE(group(dialog, 1, 0)->findChild<QProgressBar *>()->value(), 0);
        QPushButton *setMax = buttonIn(group(dialog, 1, 0), "Set Max");
        setMax->click();
        QCOMPARE(dialog.config().calibration.roll.inputMax, -1.0f);
        QCOMPARE(labelAfter(setMax)->text(), QString("-1.00"));
    }

    // OK is refused while a calibration leaves its axis no travel, naming the axis, also when the
    // window closing over the dialog saves its edits. The stick at Set Min, Center, Max (NaN: not
    // pressed), on roll or the throttle.
    void okRefusedWithoutTravel_data()
    {
        const float none = std::nanf("");
        const QString minMax("%1: the minimum must be below the maximum. Move the control to each end and press Set "
                             "Min and Set Max again.");
        const QString center("%1: the center must lie between the minimum and the maximum. Let the control rest at "
                             "its center and press Set Center again.");
        QTest::addColumn<int>("function");
        QTest::addColumn<QList<float>>("points");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("stick never moved") << 0 << QList<float>{1, 1, 1} << minMax.arg("Roll (Joystick X)");
        QTest::newRow("min and max swapped") << 0 << QList<float>{0.9f, 0, -0.9f} << minMax.arg("Roll (Joystick X)");
        QTest::newRow("center at an end") << 0 << QList<float>{-0.9f, 0.9f, 0.9f} << center.arg("Roll (Joystick X)");
        QTest::newRow("only Set Max, stick centred") << 0 << QList<float>{none, none, 0} << center.arg("Roll (Joystick X)");
        QTest::newRow("full sweep") << 0 << QList<float>{-0.95f, 0.02f, 0.97f} << QString();
        QTest::newRow("throttle never moved") << 2 << QList<float>{-1, none, -1} << minMax.arg("Throttle");
        QTest::newRow("throttle: only Set Max") << 2 << QList<float>{none, none, 0.5f} << QString();
    }

    void okRefusedWithoutTravel()
    {
        QFETCH(int, function);
        QFETCH(QList<float>, points);
        QFETCH(QString, refusal);
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(rig.controller->helicopterConfig());
        ostratest::ModalAnswerer answerer;
        bool saved = false;
        bool stillOpen = false;
        QTimer::singleShot(0, [&] {
            const char *const buttons[] = {"Set Min", "Set Center", "Set Max"};
            const bool throttle = function == HelicopterConfigDialog::Throttle;
            for (int i = 0; i < 3; ++i) {
                if (std::isnan(points.at(i)))
                    continue;
                (throttle ? rig.lever : rig.joystick)->setAxis(throttle ? 5 : 0, points.at(i));
                dialog.onPollTick();
                buttonIn(group(dialog, 1, function), buttons[i])->click();
            }
            answerer.press("OK"); // the refusal, not the dialog itself
            ostra::UnsavedEdits::pendingUnder({&dialog}).value(0)->save([&](bool ok) { saved = ok; });
            stillOpen = dialog.isVisible();
            if (stillOpen)
                dialog.reject();
        });
        const auto storedAtOnce = [](const ostra::UnsavedEdits::Stored &done) {
            if (done)
                done(true);
        };
        QCOMPARE(ostra::execSetupDialog(dialog, [&dialog] { return dialog.config().toJson(); }, storedAtOnce)
                     == QDialog::Accepted,
                 refusal.isEmpty());
        QCOMPARE(saved, refusal.isEmpty());
        QCOMPARE(stillOpen, !refusal.isEmpty());
        QCOMPARE(answerer.records().size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty()) {
            QCOMPARE(answerer.records().first().title, QString("Calibration incomplete"));
            QCOMPARE(answerer.records().first().text, refusal);
            QCOMPARE(dialog.findChild<QTabWidget *>()->currentIndex(), 1);
        }
    }

    void loadedSliders_data()
    {
        QTest::addColumn<float>("deadzone");
        QTest::addColumn<int>("curve");
        QTest::addColumn<float>("exponent");
        QTest::addColumn<int>("deadzoneSlider");
        QTest::addColumn<QString>("deadzoneText");
        QTest::addColumn<int>("sensitivitySlider");
        QTest::addColumn<QString>("sensitivityText");
        QTest::newRow("deadzone 0.8 beyond the slider") << 0.8f << 0 << 2.0f << 50 << "80%" << 100 << "1.0x";
        QTest::newRow("power curve 2.5") << 0.1f << 1 << 2.5f << 10 << "10%" << 250 << "2.5x";
    }

    void loadedSliders()
    {
        QFETCH(float, deadzone);
        QFETCH(int, curve);
        QFETCH(float, exponent);
        QFETCH(int, deadzoneSlider);
        QFETCH(QString, deadzoneText);
        QFETCH(int, sensitivitySlider);
        QFETCH(QString, sensitivityText);
        TransmitRig rig;
        HelicopterConfig cfg;
        cfg.calibration.pitch.deadzone = deadzone;
        cfg.calibration.pitch.curve = curve;
        cfg.calibration.pitch.curveExponent = exponent;
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(cfg);
        const QList<QSlider *> sliders = group(dialog, 1, 1)->findChildren<QSlider *>();
        QCOMPARE(sliders.at(0)->value(), deadzoneSlider);
        QCOMPARE(labelAfter(sliders.at(0))->text(), deadzoneText);
        QCOMPARE(sliders.at(1)->value(), sensitivitySlider);
        QCOMPARE(labelAfter(sliders.at(1))->text(), sensitivityText);
        // Loading writes nothing back.
        QCOMPARE(dialog.config().calibration.pitch.deadzone, deadzone);
        QCOMPARE(dialog.config().calibration.pitch.curveExponent, exponent);
    }

    // At opening the Calibration tab waits; its blocks follow in later passes once the dialog
    // shows, or all at once as it is turned to, showing the record loaded before, with Tab
    // reaching OK after them.
    void calibrationTabFollowsOpening_data()
    {
        QTest::addColumn<bool>("turnedTo");
        QTest::newRow("passes after showing") << false;
        QTest::newRow("turned to") << true;
    }

    void calibrationTabFollowsOpening()
    {
        QFETCH(bool, turnedTo);
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        HelicopterConfig cfg = rig.controller->helicopterConfig();
        cfg.calibration.rudder.deadzone = 0.2f;
        cfg.calibration.rudder.useCalibration = true;
        cfg.calibration.rudder.inputMax = 0.75f;
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(cfg);
        dialog.onPollTick();
        QCOMPARE(dialog.builtCalibrationBlocks(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(dialog.builtCalibrationBlocks(), 0);
        auto *tabs = dialog.findChild<QTabWidget *>();
        dialog.show();
        if (turnedTo) {
            tabs->setCurrentIndex(1);
            QCOMPARE(dialog.builtCalibrationBlocks(), 4);
            // Shown with the tab, not a pass after it was painted.
            QVERIFY(group(dialog, 1, 3)->isVisible());
        } else {
            QCoreApplication::processEvents();
            QVERIFY(dialog.builtCalibrationBlocks() < 4);
            QTRY_COMPARE(dialog.builtCalibrationBlocks(), 4);
            QCOMPARE(tabs->currentIndex(), 0);
        }
        QGroupBox *rudder = group(dialog, 1, 3);
        QSlider *deadzone = rudder->findChildren<QSlider *>().at(0);
        QCOMPARE(deadzone->value(), 20);
        QCOMPARE(labelAfter(deadzone)->text(), QString("20%"));
        QCOMPARE(labelAfter(buttonIn(rudder, "Set Max"))->text(), QString("0.75"));
        dialog.onPollTick();
        QCOMPARE(dialog.config().calibration.rudder.deadzone, 0.2f);
        // The buttons and the rudder's dead zone in the keyboard's order.
        QStringList order;
        for (QWidget *w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
            if (w == deadzone)
                order.append(QStringLiteral("rudder deadzone"));
            else if (auto *button = qobject_cast<QPushButton *>(w); button && (w->focusPolicy() & Qt::TabFocus))
                order.append(button->text());
        }
        const qsizetype ok = order.indexOf(QStringLiteral("OK"));
        QVERIFY(ok > order.indexOf(QStringLiteral("rudder deadzone")));
        QCOMPARE(order.indexOf(QStringLiteral("Set Max")) < ok, true);
        QCOMPARE(order.mid(ok, 2), QStringList({"OK", "Cancel"}));
    }

    void sensitivitySwitchesTheCurve_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("curve");
        QTest::addColumn<QString>("text");
        QTest::newRow("105 stays linear") << 105 << 0 << "1.1x";
        QTest::newRow("106 turns the power curve on") << 106 << 1 << "1.1x";
        QTest::newRow("250") << 250 << 1 << "2.5x";
    }

    void sensitivitySwitchesTheCurve()
    {
        QFETCH(int, value);
        QFETCH(int, curve);
        QFETCH(QString, text);
        TransmitRig rig;
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(HelicopterConfig());
        QSlider *sensitivity = group(dialog, 1, 3)->findChildren<QSlider *>().at(1);
        sensitivity->setValue(value);
        const AxisConfig rudder = dialog.config().calibration.rudder;
        QCOMPARE(rudder.curve, curve);
        QCOMPARE(rudder.curveExponent, value / 100.0f);
        QCOMPARE(labelAfter(sensitivity)->text(), text);
    }

    void splitPedals()
    {
        TransmitRig rig;
        HelicopterConfigDialog dialog(rig.controller.get());
        dialog.setConfig(HelicopterConfig());
        dialog.show();
        QGroupBox *rudder = group(dialog, 0, 3);
        auto *split = rudder->findChild<QCheckBox *>();
        const QList<QComboBox *> combos = rudder->findChildren<QComboBox *>();
        QVERIFY(!combos.at(1)->isVisibleTo(&dialog));
        split->click();
        QVERIFY(dialog.config().inputs.pedals.differential);
        QCOMPARE(dialog.config().inputs.pedals.axis2, 0);
        QVERIFY(combos.at(1)->isVisibleTo(&dialog));
        QStringList labels;
        for (QLabel *label : rudder->findChildren<QLabel *>())
            labels.append(label->text());
        QVERIFY(labels.contains("Left pedal"));
        QVERIFY(labels.contains("Right pedal"));
        combos.at(1)->setCurrentIndex(2);
        QCOMPARE(dialog.config().inputs.pedals.axis2, 2);
    }

    // A function mapped to an axis its device lacks says so under its axis choice.
    void missingAxisNotes_data()
    {
        QTest::addColumn<int>("axis2"); // the right pedal of split pedals; -1 single
        QTest::addColumn<int>("function");
        QTest::addColumn<QString>("note");
        QTest::newRow("rudder on one-axis pedals") << -1 << 3
                                                   << "Rudder: axis 4 is not on the pedals, so the rudder stays centred.";
        QTest::newRow("right pedal not there") << 5 << 3
                                               << "Rudder: axis 6 is not on the pedals, so the rudder stays centred.";
    }

    void missingAxisNotes()
    {
        QFETCH(int, axis2);
        QFETCH(int, function);
        QFETCH(QString, note);
        TransmitRig rig;
        QVERIFY(rig.connectRestingHelicopter(4, 3, 1));
        HelicopterConfig cfg = rig.controller->helicopterConfig();
        if (axis2 >= 0)
            cfg.inputs.pedals = {cfg.inputs.pedals.device, 0, axis2, true};
        QWidget parent;
        parent.resize(900, 1100);
        parent.show();
        HelicopterConfigDialog dialog(rig.controller.get(), &parent);
        dialog.setConfig(cfg);
        dialog.onPollTick();
        auto *shown = group(dialog, 0, function)->findChild<QLabel *>("missingAxis");
        QVERIFY(shown);
        QCOMPARE(shown->isVisibleTo(&dialog) ? shown->text() : QString(), note);
        if (axis2 >= 0) {
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTest::qWait(50);
            for (QWidget *w = shown; w; w = w->parentWidget()) {
                if (auto *scroll = qobject_cast<QScrollArea *>(w))
                    scroll->ensureWidgetVisible(shown, 0, 12);
            }
            QVERIFY(saveDialogPicture(&parent, &dialog, "dlg-config-missing-axis"));
        }
    }

    void render()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        rig.joystick->setAxis(0, 0.4f);
        rig.lever->setAxis(5, -0.6f);
        HelicopterConfig cfg = rig.controller->helicopterConfig();
        cfg.calibration.roll.useCalibration = true;
        cfg.calibration.roll.inputMin = -0.98f;
        cfg.calibration.roll.inputMax = 0.97f;
        cfg.calibration.roll.deadzone = 0.05f;
        QWidget parent;
        parent.resize(900, 1100);
        parent.show();
        for (int tab : {0, 1}) {
            HelicopterConfigDialog dialog(rig.controller.get(), &parent);
            dialog.setConfig(cfg);
            dialog.findChild<QTabWidget *>()->setCurrentIndex(tab);
            dialog.onPollTick();
            QVERIFY(saveDialogPicture(&parent, &dialog, tab ? "dlg-config-calibration" : "dlg-config-mapping"));
        }
    }

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render", "missingAxisNotes"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHelicopterConfigDialog)
#include "tst_helicopterconfigdialog.moc"
