#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <cmath>

#include "dialogrender.h"
#include "dialogs/dashboardsettingsdialog.h"
#include "dialogs/dashboardwidget.h"
#include "platform/storage/settingsfile.h"
#include "support/transmitrig.h"

using corvane::DashboardSettings;
using corvane::DashboardSettingsDialog;
using corvane::DashboardWidget;

class TestDashboardWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void init() { corvane::SettingsFile().remove(QString()); }

    // The speed model from the pedals, with the default settings.
    void speedModel_data()
    {
        QTest::addColumn<float>("throttle");
        QTest::addColumn<float>("brake");
        QTest::addColumn<float>("start");
        QTest::addColumn<float>("expected");
        QTest::newRow("full throttle from standstill") << 1.0f << -1.0f << 0.0f << 0.72f;
        QTest::newRow("coasting") << -1.0f << -1.0f << 50.0f << 50.0f - 0.2592f;
        QTest::newRow("full brake") << -1.0f << 1.0f << 50.0f << 50.0f - 1.6992f;
    }
    void speedModel()
    {
        QFETCH(float, throttle);
        QFETCH(float, brake);
        QFETCH(float, start);
        QFETCH(float, expected);
        ostratest::TransmitRig rig;
        QVERIFY(rig.connectCar());
        DashboardWidget dash(rig.controller.get());
        // Reach the start speed with full throttle, then take one step with the pedals under test.
        rig.pedals->setAxis(1, 1.0f);
        rig.pollAll();
        while (dash.speedKmh() < start)
            dash.tick();
        const float before = dash.speedKmh();
        rig.pedals->setAxis(1, throttle);
        rig.pedals->setAxis(2, brake);
        rig.pollAll();
        dash.tick();
        if (start == 0.0f)
            QVERIFY(qAbs(dash.speedKmh() - expected) < 1e-4f);
        else
            QVERIFY2(qAbs((before - dash.speedKmh()) - (start - expected)) < 1e-3f,
                     qPrintable(QString::number(before - dash.speedKmh())));
    }

    void fullThrottleNeverPassesTopSpeed()
    {
        ostratest::TransmitRig rig;
        QVERIFY(rig.connectCar());
        DashboardWidget dash(rig.controller.get());
        rig.pedals->setAxis(1, 1.0f);
        rig.pollAll();
        for (int i = 0; i < 5000; ++i)
            dash.tick();
        QVERIFY(dash.speedKmh() > 119.0f);
        QVERIFY(dash.speedKmh() <= 120.0f);
    }

    void withoutControllerStaysAtRest()
    {
        DashboardWidget dash(nullptr);
        for (int i = 0; i < 10; ++i)
            dash.tick();
        QCOMPARE(dash.speedKmh(), 0.0f);
    }

    void segmentsAndLabels()
    {
        QCOMPARE(DashboardWidget::litSegmentCount(0.5f), 8);
        QCOMPARE(DashboardWidget::litSegmentCount(0.8f), 12);
        QCOMPARE(DashboardWidget::litSegmentCount(1.0f), 15);
        DashboardSettings mph;
        mph.useMph = true;
        QCOMPARE(DashboardWidget::gaugeLabels(mph).join(' '), QString("0 7 15 22 30 37 45 52 60 67 75"));
        QCOMPARE(DashboardWidget::gearText(-1), QString("R"));
        QCOMPARE(DashboardWidget::gearText(0), QString("N"));
        QCOMPARE(DashboardWidget::gearText(7), QString("7"));
    }

    void unitSwitchConverts()
    {
        DashboardSettingsDialog dialog(DashboardSettings{}, nullptr);
        auto *unit = dialog.findChild<QComboBox *>();
        auto *top = dialog.findChild<QSpinBox *>();
        QCOMPARE(top->value(), 120);
        unit->setCurrentIndex(1);
        QCOMPARE(top->value(), 75);
        unit->setCurrentIndex(0);
        QCOMPARE(top->value(), 121);
    }

    void saveStoresKmhAndDashboardTakesIt()
    {
        DashboardWidget dash(nullptr);
        // The answerer presses Save once the dialog is up; the fields are set just before.
        QTimer::singleShot(0, &dash, [] {
            auto *dialog = qobject_cast<DashboardSettingsDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QComboBox *>()->setCurrentIndex(1);
            dialog->findChild<QSpinBox *>()->setValue(10);
            dialog->findChild<QPushButton *>("ok")->click();
        });
        dash.openSettings();
        const corvane::SettingsFile store;
        QCOMPARE(store.value("dashboard/topSpeedKmh").toInt(), 16);
        QCOMPARE(store.value("dashboard/useMph").toBool(), true);
        QCOMPARE(dash.settings().topSpeedKmh, 16);
        QVERIFY(dash.settings().useMph);
        DashboardWidget reopened(nullptr);
        QCOMPARE(reopened.settings().topSpeedKmh, 16);
    }

    void cancelWritesNothing()
    {
        DashboardWidget dash(nullptr);
        QTimer::singleShot(0, &dash, [] {
            auto *dialog = qobject_cast<DashboardSettingsDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QComboBox *>()->setCurrentIndex(1);
            dialog->findChild<QSpinBox *>()->setValue(200);
            for (QSlider *slider : dialog->findChildren<QSlider *>())
                slider->setValue(100);
            dialog->reject();
        });
        dash.openSettings();
        for (const char *key : {"useMph", "topSpeedKmh", "accel", "decel"})
            QVERIFY(!corvane::SettingsFile().contains(QLatin1String("dashboard/") + QLatin1String(key)));
        QCOMPARE(dash.settings().topSpeedKmh, 120);
        QCOMPARE(dash.settings().accel, 45);
    }

    void partialRepaintsShowTheWholePicture_data()
    {
        QTest::addColumn<bool>("whileTicking");
        QTest::newRow("shown at once") << false;
        QTest::newRow("layers made ahead while ticks come") << true;
    }

    // Only the parts that changed are painted again on each tick; what the window then shows
    // must be what painting it whole shows, while driving and after the car has stopped.
    void partialRepaintsShowTheWholePicture()
    {
        QFETCH(bool, whileTicking);
        ostratest::TransmitRig rig;
        QVERIFY(rig.connectCar());
        DashboardWidget dash(rig.controller.get());
        if (whileTicking) {
            // Made ahead, the layers make the first picture whole.
            QVERIFY(showFullScreenWhileTicking(dash, dash.firstPaintParts()));
            QCOMPARE(shownOnScreen(dash), paintedWhole(dash));
        } else {
            dash.resize(1280, 720);
            dash.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dash));
        }
        // The first picture leaves layers to later passes: the screen then comes to show what
        // painting it whole shows.
        QTRY_COMPARE(shownOnScreen(dash), paintedWhole(dash));
        for (int i = 0; i < 400; ++i) {
            const float t = 0.05f * float(i);
            // Throttle and brake sweep their travel, released for the last stretch.
            rig.pedals->setAxis(1, i < 300 ? std::sin(t) : -1.0f);
            rig.pedals->setAxis(2, i < 300 ? std::cos(1.7f * t) : -1.0f);
            rig.pollAll();
            dash.tick();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
            if (i % 100 == 99)
                QCOMPARE(shownOnScreen(dash), paintedWhole(dash));
        }
    }

    void render()
    {
        ostratest::TransmitRig rig;
        QVERIFY(rig.connectCar());
        DashboardWidget dash(rig.controller.get());
        dash.resize(1280, 720);
        rig.pedals->setAxis(1, 1.0f);
        rig.pollAll();
        for (int i = 0; i < 300; ++i)
            dash.tick();
        rig.pedals->setAxis(1, 0.2f);
        rig.pedals->setAxis(2, -0.4f);
        rig.pollAll();
        dash.tick();
        QVERIFY(renderWidget(dash).save(dialogPicture("dashboard")));
        dash.resize(640, 360);
        QVERIFY(renderWidget(dash).save(dialogPicture("dashboard-small")));

        DashboardSettingsDialog dialog(dash.settings(), nullptr);
        dialog.adjustSize();
        QVERIFY(renderWidget(dialog).save(dialogPicture("dashboard-settings")));
    }
    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestDashboardWidget)
#include "tst_dashboardwidget.moc"
