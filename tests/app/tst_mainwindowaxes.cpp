#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "dialogs/axisconfigdialog.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"
#include "support/transmitrig.h"

using corvane::AxisConfigDialog;

namespace {

QPushButton *button(QWidget *dialog, const QString &text)
{
    for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// The repeating timer among `owner`'s own that `start` sets going.
QTimer *startedTimer(QObject *owner, const std::function<void()> &start)
{
    const auto running = [owner] {
        QList<QTimer *> timers;
        for (QTimer *timer : owner->findChildren<QTimer *>()) {
            if (timer->isActive() && !timer->isSingleShot())
                timers.append(timer);
        }
        return timers;
    };
    const QList<QTimer *> before = running();
    start();
    for (QTimer *timer : running()) {
        if (!before.contains(timer))
            return timer;
    }
    return nullptr;
}

// Runs the axis launcher; once its dialog is up, the user does what `act` does there.
void runAxisDialog(MainWindow &window, const std::function<void(AxisConfigDialog *)> &act)
{
    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        auto *dialog = qobject_cast<AxisConfigDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = true;
        act(dialog);
    });
    window.onConfigureAxes();
    QVERIFY(seen);
}

} // namespace

class TestMainWindowAxes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        input = corvane::VirtualInputBackend::instance();
        input->reset();
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base"), 8, 32, 1));
        pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA SRP Pedals"), 8, 8, 0));
        shifter = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA HGP Shifter"), 8, 16, 0));
    }

    void cancelKeepsOnlyWhatActsAtOnce()
    {
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        QVERIFY(controller->connectPedals(1));
        QVERIFY(controller->connectShifter(2));
        ostratest::TransmitRig::wake(pedals, controller->pedals());
        const AxisSettings before = controller->axisSettings();

        runAxisDialog(window, [&](AxisConfigDialog *dialog) {
            // A new curve stays in the dialog.
            for (QComboBox *box : dialog->findChildren<QComboBox *>()) {
                if (box->findText("Logarithmic") >= 0) {
                    box->setCurrentIndex(2);
                    break;
                }
            }
            // A detected axis, a detected gear button and a new cap reach the controller at once.
            QTimer *sampler = startedTimer(dialog, [dialog] { dialog->onDetectAxis(1); });
            QVERIFY(sampler);
            pedals->setAxis(7, 0.9f);
            controller->pedals()->poll();
            shifter->setButton(11, true);
            for (int i = 0; i < 5; ++i)
                controller->shifter()->poll();
            // The dialog samples the moved axis before its time is up, however loaded the machine.
            int samples = 0;
            connect(sampler, &QTimer::timeout, dialog, [&samples] { ++samples; });
            QTRY_VERIFY_WITH_TIMEOUT(samples > 0, 60000);
            dialog->onDetectAxisTimeout(1);
            dialog->onDetectShifterGear(4);
            QTRY_COMPARE_WITH_TIMEOUT(controller->shifterMapping()[4], 11, 60000);
            dialog->findChildren<QSpinBox *>().first()->setValue(60);
            button(dialog, "Cancel")->click();
        });

        const AxisSettings after = controller->axisSettings();
        QCOMPARE(after.throttle.curve, before.throttle.curve);
        QCOMPARE(after.steering.curve, before.steering.curve);
        QCOMPARE(after.gearThrottleLimitPercent[0], 60);
        QCOMPARE(controller->pedals()->axisMapping().map[1], 7);
        QCOMPARE(controller->shifterMapping()[4], 11);
        shifter->setButton(11, false);
    }

    void resetToDefaultsThenApply()
    {
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        AxisSettings settings = controller->axisSettings();
        settings.throttle.curve = 2;
        settings.brake.maxOutput = 0.5f;
        settings.steering.useCalibration = true;
        settings.wheelRotationDeg = 1080;
        settings.steeringAngleDeg = 540;
        QVERIFY(controller->setAxisSettings(settings));

        runAxisDialog(window, [](AxisConfigDialog *dialog) {
            button(dialog, "Reset to defaults")->click();
            button(dialog, "Apply")->click();
        });

        const AxisSettings stored = controller->axisSettings();
        QCOMPARE(stored.throttle.curve, 0);
        QCOMPARE(stored.brake.maxOutput, 1.0f);
        QVERIFY(!stored.steering.useCalibration);
        QCOMPARE(stored.brake.name, QString("Brake"));
        QCOMPARE(stored.wheelRotationDeg, 1080);
        QCOMPARE(stored.steeringAngleDeg, 540);
    }

    void applyWithoutChangesStoresTheSameSettings()
    {
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        AxisSettings settings = controller->axisSettings();
        settings.clutch.deadzone = 0.12f;
        settings.throttle.curveExponent = 2.5f;
        QVERIFY(controller->setAxisSettings(settings));
        runAxisDialog(window, [](AxisConfigDialog *dialog) { button(dialog, "Apply")->click(); });
        QCOMPARE(controller->axisSettings().toJson(), settings.toJson());
    }

private:
    corvane::VirtualInputBackend *input = nullptr;
    corvane::VirtualInputDevice *pedals = nullptr;
    corvane::VirtualInputDevice *shifter = nullptr;
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindowAxes)
#include "tst_mainwindowaxes.moc"
