#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "dialogs/pedalverificationdialog.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"

using corvane::PedalVerificationDialog;

namespace {

// The dialog as the user reads it: three bars, three "moved" marks, the box and the start button.
struct Check
{
    PedalVerificationDialog &dialog;

    QList<QProgressBar *> bars() const { return dialog.findChildren<QProgressBar *>(); }
    QList<bool> moved() const
    {
        QList<bool> shown;
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text() == QLatin1String("moved"))
                shown << !label->isHidden();
        }
        return shown;
    }
    QList<int> levels() const
    {
        QList<int> values;
        for (QProgressBar *bar : bars())
            values << bar->value();
        return values;
    }
    QCheckBox *confirm() const { return dialog.findChild<QCheckBox *>(); }
    QPushButton *start() const { return dialog.findChild<QPushButton *>(QStringLiteral("startTransmissionBtn")); }
};

// A pedal set on the controller, each pedal on its own axis, all released.
struct Rig
{
    Rig()
        : throttle(corvane::VirtualInputBackend::instance()->addDevice(
              corvane::VirtualDeviceSpec(QStringLiteral("Test Pedals"), 8, 8, 0)))
    {
        for (int axis = 1; axis < 4; ++axis)
            throttle->setAxis(axis, -1.0f);
        controller.connectPedals(0);
        controller.setPedalsAxisMapping(AxisMapping());
        controller.pedals()->poll();
    }

    corvane::VirtualInputDevice *throttle;
    corvane::CorvaneController controller;
};

} // namespace

class TestPedalVerificationDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
    }

    void init()
    {
        corvane::VirtualInputBackend::instance()->reset();
    }

    // No pedals and no wheel base: every reading is released, nothing is marked, starting stays possible.
    void noDevices()
    {
        corvane::CorvaneController controller;
        PedalVerificationDialog dialog(&controller);
        Check check{dialog};
        dialog.onPollTimer();
        QCOMPARE(check.levels(), (QList<int>{0, 0, 0}));
        QCOMPARE(check.moved(), (QList<bool>{false, false, false}));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Verify pedals before transmitting"));
        QCOMPARE(check.bars().at(2)->property("tone").toString(), QStringLiteral("blue"));
    }

    // The start button follows the confirmation box alone, whatever the pedals did.
    void startFollowsConfirmation()
    {
        corvane::CorvaneController controller;
        PedalVerificationDialog dialog(&controller);
        Check check{dialog};
        QVERIFY(!check.start()->isEnabled());
        QVERIFY(check.start()->property("primary").toBool());
        check.confirm()->setChecked(true);
        QVERIFY(check.start()->isEnabled());
        check.confirm()->setChecked(false);
        QVERIFY(!check.start()->isEnabled());
        check.confirm()->setChecked(true);
        QVERIFY(check.start()->isEnabled());
        check.start()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void levels_data()
    {
        QTest::addColumn<float>("throttle");
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("moved");
        QTest::newRow("released") << -1.0f << 0 << false;
        QTest::newRow("midpoint") << 0.0f << 50 << true;
        QTest::newRow("full") << 1.0f << 100 << true;
    }

    void levels()
    {
        QFETCH(float, throttle);
        QFETCH(int, percent);
        QFETCH(bool, moved);
        Rig rig;
        rig.throttle->setAxis(1, throttle);
        rig.controller.pedals()->poll();
        PedalVerificationDialog dialog(&rig.controller);
        Check check{dialog};
        dialog.onPollTimer();
        QCOMPARE(check.levels(), (QList<int>{percent, 0, 0}));
        QCOMPARE(check.bars().at(0)->format(), QStringLiteral("%1%").arg(percent));
        QCOMPARE(check.moved(), (QList<bool>{moved, false, false}));
        // Released again, the mark stays.
        rig.throttle->setAxis(1, -1.0f);
        rig.controller.pedals()->poll();
        dialog.onPollTimer();
        QCOMPARE(check.levels(), (QList<int>{0, 0, 0}));
        QCOMPARE(check.moved(), (QList<bool>{moved, false, false}));
    }

    // The furthest pedal position whose level is still a tenth or less marks nothing; one step
    // further does.
    void tenthOfTravel()
    {
        Rig rig;
        int raw = 0;
        float level = 0.0f;
        for (; raw < 65535; ++raw) {
            rig.throttle->setAxisRaw(1, raw + 1);
            rig.controller.pedals()->poll();
            level = (rig.controller.throttle() + 1.0f) / 2.0f;
            if (level > 0.1f)
                break;
        }
        rig.throttle->setAxisRaw(1, raw);
        rig.controller.pedals()->poll();
        PedalVerificationDialog dialog(&rig.controller);
        Check check{dialog};
        dialog.onPollTimer();
        QCOMPARE(check.levels().at(0), 10);
        QCOMPARE(check.moved().at(0), false);
        rig.throttle->setAxisRaw(1, raw + 1);
        rig.controller.pedals()->poll();
        dialog.onPollTimer();
        QCOMPARE(check.moved().at(0), true);
    }

    // Cancel rejects and starts nothing.
    void cancel()
    {
        corvane::CorvaneController controller;
        PedalVerificationDialog dialog(&controller);
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Cancel"))
                button->click();
        }
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!controller.isRunning());
    }

    void render()
    {
        Rig rig;
        rig.throttle->setAxis(1, 0.4f);
        rig.throttle->setAxis(3, -0.7f);
        rig.controller.pedals()->poll();
        PedalVerificationDialog dialog(&rig.controller);
        dialog.onPollTimer();
        Check{dialog}.confirm()->setChecked(true);
        dialog.adjustSize();
        const QImage image = dialog.grab().toImage();
        QVERIFY(image.save(ostratest::artefactDir(QStringLiteral("dialogs"))
                           + QStringLiteral("/pedalcheck-%1.png").arg(ostra::isDarkTheme() ? "dark" : "light")));
        if (!ostra::isDarkTheme())
            QVERIFY(ostratest::runDarkTwin(QStringLiteral("dialogs"), {QStringLiteral("render")}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestPedalVerificationDialog)
#include "tst_pedalverificationdialog.moc"
