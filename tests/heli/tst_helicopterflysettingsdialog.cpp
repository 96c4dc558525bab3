#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "heli/helicopterflysettingsdialog.h"
#include "helirender.h"
#include "ostraui/tickpace.h"
#include "support/testenvironment.h"

using corvane::HelicopterFlySettingsDialog;

namespace {

// The slider of a titled row and its value label, in the dialog's order of rows.
struct Row
{
    QSlider *slider = nullptr;
    QLabel *value = nullptr;
};

Row row(QWidget &dialog, const QString &title)
{
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->text() != title)
            continue;
        QLayout *layout = label->parentWidget()->layout();
        if (auto *grid = qobject_cast<QGridLayout *>(layout)) {
            int r, c, rs, cs;
            grid->getItemPosition(grid->indexOf(label), &r, &c, &rs, &cs);
            return {qobject_cast<QSlider *>(grid->itemAtPosition(r, 1)->widget()),
                    qobject_cast<QLabel *>(grid->itemAtPosition(r, 2)->widget())};
        }
    }
    // The ramp row sits in the safety group's own row layout.
    auto *slider = dialog.findChildren<QSlider *>().last();
    QLabel *value = nullptr;
    for (QLabel *label : slider->parentWidget()->findChildren<QLabel *>())
        value = label->text().endsWith(" s") ? label : value;
    return {slider, value};
}

QCheckBox *check(QWidget &dialog, const QString &startsWith)
{
    for (QCheckBox *box : dialog.findChildren<QCheckBox *>()) {
        if (box->text().startsWith(startsWith))
            return box;
    }
    return nullptr;
}

} // namespace

class TestHelicopterFlySettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void loadingWritesNothingBack()
    {
        HelicopterConfig cfg;
        cfg.fly.dualRates.activeMode = 5;
        cfg.calibration.throttle.maxOutput = 0.3f;
        HelicopterFlySettingsDialog dialog;
        dialog.setConfig(cfg);
        auto *mode = dialog.findChild<QComboBox *>();
        QCOMPARE(mode->currentText(), QString("3D"));
        QCOMPARE(dialog.config().fly.dualRates.activeMode, 5);
        const Row max = row(dialog, "Max");
        QCOMPARE(max.slider->value(), 50);
        QCOMPARE(max.value->text(), QString("30%"));
        QCOMPARE(dialog.config().calibration.throttle.maxOutput, 0.3f);
    }

    void controlsWriteTheirFields()
    {
        HelicopterFlySettingsDialog dialog;
        dialog.setConfig(HelicopterConfig());
        row(dialog, "Idle").slider->setValue(50);
        row(dialog, "Max").slider->setValue(50);
        row(dialog, "Elevator (Pitch)").slider->setValue(27);
        row(dialog, "Sport").slider->setValue(65);
        check(dialog, "Soft start")->click();
        const Row ramp = row(dialog, "Ramp duration");
        QVERIFY(ramp.slider->isEnabled());
        ramp.slider->setValue(7);
        QCOMPARE(ramp.value->text(), QString("7 s"));
        check(dialog, "Arm at idle")->click();
        const HelicopterConfig cfg = dialog.config();
        QCOMPARE(cfg.calibration.throttle.minOutput, 0.5f);
        QCOMPARE(cfg.calibration.throttle.maxOutput, 0.5f);
        QCOMPARE(cfg.calibration.pitch.expo, 0.27f);
        QCOMPARE(cfg.fly.dualRates.sportPct, 65);
        QVERIFY(cfg.fly.softStart);
        QCOMPARE(cfg.fly.softStartSec, 7);
        QVERIFY(!cfg.fly.armAtIdle);
    }

    void dualRatesOffGreysOutButKeeps()
    {
        HelicopterFlySettingsDialog dialog;
        dialog.setConfig(HelicopterConfig());
        check(dialog, "Enable dual rates")->click();
        QVERIFY(!row(dialog, "Beginner").slider->isEnabled());
        QVERIFY(!dialog.findChild<QComboBox *>()->isEnabled());
        QVERIFY(row(dialog, "Beginner").value->isEnabled());
        QCOMPARE(row(dialog, "Beginner").value->text(), QString("60%"));
        QVERIFY(!dialog.config().fly.dualRates.enabled);
        QCOMPARE(dialog.config().fly.dualRates.beginnerPct, 60);
    }

    // Under the dialog chrome, even when made as small as it goes, no row overlaps the next.
    void neverSqueezed()
    {
        QWidget parent;
        parent.resize(900, 700);
        parent.show();
        HelicopterFlySettingsDialog dialog(&parent);
        dialog.setConfig(HelicopterConfig());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(100, 100);
        QTRY_COMPARE(dialog.size(), dialog.minimumSize());
        QVERIFY(dialog.width() >= 420);
        const QStringList rows = {"Idle", "Max", "Aileron (Roll)", "Elevator (Pitch)", "Rudder (Yaw)", "Beginner", "Sport", "3D"};
        for (int i = 0; i + 1 < rows.size(); ++i) {
            const QSlider *a = row(dialog, rows.at(i)).slider;
            const QSlider *b = row(dialog, rows.at(i + 1)).slider;
            if (a->parentWidget() == b->parentWidget())
                QVERIFY2(a->geometry().bottom() < b->geometry().top(), qPrintable(rows.at(i)));
        }
        for (QGroupBox *box : dialog.findChildren<QGroupBox *>())
            QVERIFY2(box->height() >= box->minimumSizeHint().height(), qPrintable(box->title()));
    }

    // While the channel tick runs, a tick comes between building the dialog and measuring it.
    void builtWithATickBetween()
    {
        ostra::TickPace *pace = ostra::TickPace::instance();
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, pace, &ostra::TickPace::ticked);
        ticks.start(7);
        QTRY_VERIFY(pace->isTicking());
        QSignalSpy slacks(pace, &ostra::TickPace::slack);
        HelicopterFlySettingsDialog dialog;
        QVERIFY(slacks.count() > 0);
    }

    // The sliders of every group, the ramp duration's too, start at one x.
    void slidersLineUp()
    {
        QWidget parent;
        parent.resize(900, 1000);
        parent.show();
        HelicopterFlySettingsDialog dialog(&parent);
        dialog.setConfig(HelicopterConfig());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QList<QSlider *> sliders = dialog.findChildren<QSlider *>();
        QCOMPARE(sliders.size(), 9);
        const int left = sliders.first()->mapTo(&dialog, QPoint(0, 0)).x();
        for (const QSlider *slider : sliders)
            QCOMPARE(slider->mapTo(&dialog, QPoint(0, 0)).x(), left);
        // No check box cuts its sentence.
        for (const QCheckBox *box : dialog.findChildren<QCheckBox *>())
            QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->text()));
    }

    void render()
    {
        QWidget parent;
        parent.resize(900, 1000);
        parent.show();
        HelicopterFlySettingsDialog dialog(&parent);
        HelicopterConfig cfg;
        cfg.calibration.roll.expo = 0.25f;
        cfg.calibration.pitch.expo = 0.3f;
        cfg.calibration.rudder.expo = 0.15f;
        cfg.calibration.throttle.minOutput = 0.1f;
        cfg.fly.softStart = true;
        dialog.setConfig(cfg);
        QVERIFY(saveDialogPicture(&parent, &dialog, "dlg-fly-settings"));
    }

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHelicopterFlySettingsDialog)
#include "tst_helicopterflysettingsdialog.moc"
