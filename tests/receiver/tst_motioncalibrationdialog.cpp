#include "receiver/receiversettingspanel.h"
#include "panelprobe.h"
#include "receiver/carposewidget.h"
#include "receiver/motioncalibrationdialog.h"

using corvane::CarPoseWidget;
using corvane::MotionCalibrationDialog;
using namespace paneltest;

namespace {

const QString Unreachable = QStringLiteral("Couldn't reach the receiver. Check that it's on and transmission is running, then try again.");

struct Wizard
{
    explicit Wizard(bool sync = true)
    {
        if (sync)
            ok = rig.syncOverUsb();
        dialog = std::make_unique<MotionCalibrationDialog>(rig.controller.get());
    }

    QPushButton *primary() const
    {
        for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
            if (b->property("primary").toBool())
                return b;
        }
        return nullptr;
    }
    QLabel *status() const
    {
        for (QLabel *label : dialog->findChildren<QLabel *>()) {
            if (label->minimumHeight() == 36)
                return label;
        }
        return nullptr;
    }
    CarPoseWidget *pose() const { return dialog->findChild<CarPoseWidget *>(); }

    // Presses the primary button and waits until the dialog moves to `step`.
    bool pressUntil(int step)
    {
        primary()->click();
        return rig.rx.waitFor([&] { return dialog->step() == step; });
    }

    ReceiverRig rig;
    bool ok = true;
    std::unique_ptr<MotionCalibrationDialog> dialog;
};

} // namespace

class TestMotionCalibrationDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void fullRun()
    {
        Wizard w;
        QVERIFY(w.ok);
        QVERIFY(w.status()->text().startsWith("Receiver connected · "));
        QVERIFY(w.pressUntil(1));
        QVERIFY(w.pressUntil(2)); // level read
        QVERIFY(w.rig.rx.lines().contains("IMU_ORIENT FLAT"));
        QCOMPARE(w.pose()->pitch(), 30.0);
        QVERIFY(w.pressUntil(3)); // mounting saved
        QCOMPARE(w.pose()->pitch(), 0.0);
        w.primary()->click();
        QVERIFY(w.rig.rx.waitForLine("IMU_CAL"));
        QVERIFY(!w.primary()->isEnabled());
        QCOMPARE(button(w.dialog.get(), "Start over")->isEnabled(), false);
        QMetaObject::invokeMethod(w.rig.manager(), "onUsbGyroCalDone", Qt::DirectConnection);
        QCOMPARE(w.dialog->step(), 4);
        QVERIFY(w.pose()->done());
        QCOMPARE(w.primary()->text(), QStringLiteral("Done"));
        QVERIFY(w.primary()->isEnabled());
        w.primary()->click();
        QCOMPARE(w.dialog->result(), int(QDialog::Accepted));
    }

    void refusedStart()
    {
        Wizard w;
        QVERIFY(w.ok);
        QVERIFY(w.pressUntil(1));
        // A detection already running: the manager refuses the wizard's.
        QVERIFY(w.rig.manager()->startMountingStep(0));
        w.primary()->click();
        QCOMPARE(w.dialog->step(), 1);
        QCOMPARE(w.status()->text(), Unreachable);
        QCOMPARE(w.status()->property("role").toString(), QStringLiteral("danger"));
    }

    void signalsOnTheWrongStep()
    {
        Wizard w;
        QVERIFY(w.ok);
        // Not waiting: a level read or a gyro result moves nothing.
        QVERIFY(w.pressUntil(1));
        QVERIFY(w.rig.manager()->startMountingStep(0));
        QVERIFY(w.rig.rx.waitFor([&] { return w.rig.manager()->mountingState() == 2; }));
        QCOMPARE(w.dialog->step(), 1);
        QVERIFY(w.rig.manager()->startGyroCalibration());
        QMetaObject::invokeMethod(w.rig.manager(), "onUsbGyroCalDone", Qt::DirectConnection);
        QCOMPARE(w.dialog->step(), 1);
    }

    void unreachable()
    {
        Wizard w(false);
        QVERIFY(!w.primary()->isEnabled());
        QCOMPARE(w.status()->text(), QStringLiteral("The receiver isn't reachable. Start transmission so it answers over "
                                                   "ELRS (or plug in the J14 cable), with the car switched on."));
        QCOMPARE(button(w.dialog.get(), "Close")->isEnabled(), true);
    }

    void render_data()
    {
        QTest::addColumn<int>("step");
        for (int step = 0; step <= 4; ++step)
            QTest::addRow("step %d", step) << step;
    }

    void render()
    {
        QFETCH(int, step);
        Wizard w;
        QVERIFY(w.ok);
        for (int s = 1; s <= std::min(step, 3); ++s)
            QVERIFY(w.pressUntil(s));
        if (step == 4) {
            w.primary()->click();
            QVERIFY(w.rig.rx.waitForLine("IMU_CAL"));
            QMetaObject::invokeMethod(w.rig.manager(), "onUsbGyroCalDone", Qt::DirectConnection);
        }
        QCOMPARE(w.dialog->step(), step);
        w.dialog->resize(560, w.dialog->sizeHint().height());
        w.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.dialog.get()));
        QCoreApplication::processEvents();
        QVERIFY(w.dialog->grab().toImage().save(picture(QStringLiteral("motion-calibration-%1").arg(step))));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("receiver", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestMotionCalibrationDialog)
#include "tst_motioncalibrationdialog.moc"
