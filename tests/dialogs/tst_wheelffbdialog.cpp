#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

#include "dialogrender.h"
#include "dialogrig.h"
#include "dialogs/ffbbar.h"
#include "dialogs/presetspanel.h"
#include "dialogs/wheelffbdialog.h"
#include "support/transmitrig.h"
#include "support/widgets/contrast.h"

using corvane::FfbBar;
using corvane::InputEffectType;
using corvane::VirtualDeviceSpec;
using corvane::VirtualInputCall;
using corvane::VirtualInputDevice;
using corvane::VirtualInputStep;
using corvane::WheelFfbDialog;
using ostratest::DialogRig;

namespace {

enum class Wheel { None, NoFfb, Ffb, HeldElsewhere, EffectRefused };

// The dialog as the user reads it.
struct View
{
    WheelFfbDialog &dialog;

    QPushButton *button(const QString &text) const
    {
        for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    QPushButton *enable() const
    {
        for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
            if (b->isCheckable())
                return b;
        }
        return nullptr;
    }
    QList<QLabel *> labels() const
    {
        return dialog.findChild<QWidget *>("wheelFfbPage")->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    }
    // The heading comes first, then the five rows, the receiver line and the verdict.
    QLabel *row(int index) const { return labels().at(1 + index); }
    QLabel *receiver() const { return labels().at(6); }
    QLabel *verdict() const { return labels().at(7); }
    QSlider *strength() const { return dialog.findChildren<QSlider *>().at(0); }
    QSlider *centering() const { return dialog.findChildren<QSlider *>().at(1); }
    QTimer *pulseTimer() const
    {
        for (QTimer *timer : dialog.findChildren<QTimer *>()) {
            if (timer->isSingleShot())
                return timer;
        }
        return nullptr;
    }
};

// The dialog's fixture: the rig's wheel base without force feedback at position 0, a
// force-feedback wheel base at position 1, one of them opened as the controller's wheel base.
struct FfbRig : DialogRig
{
    explicit FfbRig(Wheel kind)
    {
        ffbWheel = input->addDevice(VirtualDeviceSpec(QStringLiteral("Simucube 2"), 8, 32, 1, true));
        if (kind == Wheel::HeldElsewhere) {
            ffbWheel->failWhen(
                [](const VirtualInputCall &call) {
                    return call.step == VirtualInputStep::Acquire && (call.cooperation & corvane::InputExclusive);
                },
                corvane::InputError::AccessDenied);
        }
        if (kind == Wheel::EffectRefused)
            ffbWheel->failStep(VirtualInputStep::CreateEffect);
        if (kind == Wheel::NoFfb)
            controller->connectWheelBase(0);
        else if (kind != Wheel::None)
            controller->connectWheelBase(1);
    }

    // What the wheel is asked to push now, in device units (±10000 full force).
    int force() const
    {
        const std::optional<corvane::VirtualEffect> effect = ffbWheel->effect(InputEffectType::ConstantForce);
        return effect && effect->playing ? effect->params.magnitude : 0;
    }

    VirtualInputDevice *ffbWheel = nullptr;
};

QString style(const QString &colour)
{
    return QStringLiteral("color: %1; font-family: 'Geist Mono';").arg(colour);
}

} // namespace

Q_DECLARE_METATYPE(Wheel)

class TestWheelFfbDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    // Rows as flags (enumerated, capable, exclusive, axis, constant force) and the verdict.
    void verdict_data()
    {
        QTest::addColumn<Wheel>("wheel");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("effectRow");
        QTest::newRow("no wheel base") << Wheel::None << "00000" << "No wheelbase connected" << "#E5262B"
                                       << "✗  Constant-force effect  [no wheel connected]";
        QTest::newRow("force feedback wheel") << Wheel::Ffb << "11111" << "FULL — ready for force feedback"
                                              << "#12A66A" << "✓  Constant-force effect";
        QTest::newRow("no force feedback") << Wheel::NoFfb << "10000" << "INCOMPATIBLE — no force feedback"
                                           << "#E5262B" << "✗  Constant-force effect  [no force feedback]";
        QTest::newRow("held by another program")
            << Wheel::HeldElsewhere << "11010"
            << "PARTIAL — close other sim software (it holds the wheel)\nacq:bg=0x80070005  acq:fg=0x80070005"
            << "#B06F00" << "✗  Constant-force effect  [err 0x80070005: access denied]";
        QTest::newRow("effect refused") << Wheel::EffectRefused << "11110" << "PARTIAL — limited support\n"
                                        << "#B06F00" << "✗  Constant-force effect  [err 0x80004005: refused]";
    }

    void verdict()
    {
        QFETCH(Wheel, wheel);
        QFETCH(QString, flags);
        QFETCH(QString, verdict);
        QFETCH(QString, colour);
        QFETCH(QString, effectRow);
        FfbRig rig(wheel);
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        dialog.runCheck();
        const QStringList names{"Wheel detected", "Force feedback capable", "Exclusive access", "Steering FFB axis"};
        for (int i = 0; i < 5; ++i) {
            const bool ok = flags.at(i) == '1';
            const QString text = i < 4 ? QStringLiteral("%1  %2").arg(ok ? "✓" : "✗", names.at(i)) : effectRow;
            QCOMPARE(view.row(i)->text(), text);
            QCOMPARE(view.row(i)->styleSheet(), style(ok ? "#12A66A" : "#E5262B"));
        }
        // The probe's own diagnostic text follows a failed effect on a second line.
        if (verdict.endsWith('\n'))
            QVERIFY2(view.verdict()->text().startsWith(verdict) && view.verdict()->text().size() > verdict.size(),
                     qPrintable(view.verdict()->text()));
        else
            QCOMPARE(view.verdict()->text(), verdict);
        QCOMPARE(view.verdict()->styleSheet(), QStringLiteral("font-size: 12pt; font-weight: bold; color: %1;").arg(colour));
        const bool full = flags == "11111";
        QCOMPARE(view.enable()->isEnabled(), full);
        QCOMPARE(view.button("◀ Test Left")->isEnabled(), full);
        QCOMPARE(view.button("Test Right ▶")->isEnabled(), full);
        QVERIFY(view.button("Re-check")->isEnabled());
    }

    // Every show checks again: a wheel base connected while the dialog was hidden turns it green.
    void showRunsTheCheck()
    {
        FfbRig rig(Wheel::None);
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        QCOMPARE(view.verdict()->text(), QStringLiteral("Run a check…"));
        QVERIFY(rig.controller->connectWheelBase(1));
        dialog.show();
        QCOMPARE(view.verdict()->text(), QStringLiteral("FULL — ready for force feedback"));
    }

    // The line follows the controller: off before transmission, waiting after the start, no response
    // when no motion comes, active with motion (no rate suffix before a second has been counted).
    void receiverFollowsTheController()
    {
        ostratest::TransmitRig rig;
        QVERIFY(rig.connectCar());
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        QCOMPARE(view.receiver()->text(), QStringLiteral("•  Receiver: start transmission to check"));
        QVERIFY(view.receiver()->wordWrap());
        QVERIFY(rig.start());
        QCOMPARE(view.receiver()->text(), QStringLiteral("…  Receiver: waiting for car motion"));
        QCOMPARE(view.receiver()->styleSheet(), style("#5B6675"));
        for (QTimer *timer : rig.controller->findChildren<QTimer *>()) {
            if (timer->interval() == 5000 && timer->isActive())
                timer->start(0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(rig.controller->receiverFfbState()), int(corvane::ReceiverFfbNoResponse), 10000);
        QCOMPARE(view.receiver()->text(), QStringLiteral("✗  Receiver sends no car motion. On a QOR receiver V4, "
                                                         "connect it to this PC by USB once to switch it on."));
        QCOMPARE(view.receiver()->styleSheet(), style("#E5262B"));
        rig.controller->handleCarMotion(0.0f, 0.2f, 0.0f);
        QCOMPARE(view.receiver()->text(), QStringLiteral("✓  Receiver with FFB (car motion telemetry)"));
        QCOMPARE(view.receiver()->styleSheet(), style("#12A66A"));
        rig.controller->stopTransmissionAndHold();
    }

    // Once a second of motion has been counted, the line gives its rate and loss.
    void receiverRate()
    {
        FfbRig rig(Wheel::None);
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        // Motion keeps coming, so the loop never idles and resets its figures.
        QElapsedTimer waited;
        waited.start();
        while (rig.controller->motionTelemetryRate() <= 0.0f && waited.elapsed() < 5000) {
            rig.controller->handleCarMotion(0.1f, 0.0f, 0.0f);
            QTest::qWait(50);
        }
        const float rate = rig.controller->motionTelemetryRate();
        QVERIFY(rate > 0.0f);
        dialog.updateReceiverFfbStatus();
        QCOMPARE(view.receiver()->text(), QStringLiteral("✓  Receiver with FFB (car motion telemetry) · %1 frames/s · 0% lost")
                                              .arg(std::lround(rate)));
    }

    void withoutController()
    {
        WheelFfbDialog dialog(nullptr);
        View view{dialog};
        dialog.runCheck();
        QCOMPARE(view.row(0)->text(), QStringLiteral("•  Wheel detected"));
        QCOMPARE(view.verdict()->text(), QStringLiteral("Run a check…"));
        QCOMPARE(view.receiver()->text(), QStringLiteral("•  Receiver: start transmission to check"));
        QVERIFY(!dialog.findChild<corvane::PresetsPanel *>());
        view.button("Test Right ▶")->click();
        dialog.pulse(1.0f);
        QVERIFY(!view.pulseTimer()->isActive());
        view.centering()->setValue(20);
        const QList<QLabel *> labels = view.labels();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(),
                            [](QLabel *label) { return label->text() == QLatin1String("20%"); }));
    }

    // The strength warning is orange text: readable at 3:1 or better on the dialog.
    void warningReads()
    {
        WheelFfbDialog dialog(nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QList<QLabel *> labels = View{dialog}.labels();
        const auto warning = std::find_if(labels.cbegin(), labels.cend(), [](QLabel *label) {
            return label->text().startsWith(QLatin1String("Direct-drive bases are strong"));
        });
        QVERIFY(warning != labels.cend());
        const double ratio = ostratest::renderedTextContrast(&dialog, *warning);
        QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
    }

    // Two pushes within the pulse: the force returns to 0 only after the second one's pulse.
    void pushesRestartThePulse()
    {
        FfbRig rig(Wheel::Ffb);
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        view.strength()->setValue(100);
        view.button("Test Right ▶")->click();
        QCOMPARE(rig.force(), 2500);
        QTest::qWait(200);
        view.button("◀ Test Left")->click();
        QCOMPARE(rig.force(), -2500);
        // The first push's pulse would have had 250 ms left at most.
        QVERIFY(view.pulseTimer()->remainingTime() > 300);
        QTRY_COMPARE_WITH_TIMEOUT(rig.force(), 0, 2000);
        // A scaled push through the slot, half strength.
        view.strength()->setValue(50);
        dialog.pulse(-0.8f);
        QCOMPARE(rig.force(), -4000);
        view.strength()->setValue(0);
        view.button("Test Right ▶")->click();
        QCOMPARE(rig.force(), 0);
    }

    // Closing: feedback off always leaves the wheel at 0; engaged feedback keeps the loop's force
    // unless a test push is still on the wheel.
    void closing_data()
    {
        QTest::addColumn<bool>("engaged");
        QTest::addColumn<bool>("pushed");
        QTest::addColumn<int>("force");
        QTest::newRow("off, after a push") << false << true << 0;
        QTest::newRow("engaged, loop's force") << true << false << 3000;
        QTest::newRow("engaged, push running") << true << true << 0;
    }

    void closing()
    {
        QFETCH(bool, engaged);
        QFETCH(bool, pushed);
        QFETCH(int, force);
        FfbRig rig(Wheel::Ffb);
        if (engaged)
            QVERIFY(rig.controller->startWheelFfb());
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        dialog.runCheck();
        QCOMPARE(view.enable()->isChecked(), engaged);
        rig.controller->setWheelForce(0.3f);
        if (pushed)
            view.button("Test Right ▶")->click();
        dialog.reject();
        QCOMPARE(rig.force(), force);
        QVERIFY(!view.pulseTimer()->isActive());
        QCOMPARE(rig.controller->wheelFfbEnabled(), engaged);
    }

    void enable()
    {
        FfbRig rig(Wheel::Ffb);
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        dialog.runCheck();
        view.enable()->click();
        QVERIFY(rig.controller->wheelFfbEnabled());
        QCOMPARE(view.enable()->text(), QStringLiteral("FFB ON — streaming from car (click to stop)"));
        view.enable()->click();
        QVERIFY(!rig.controller->wheelFfbEnabled());
        QCOMPARE(view.enable()->text(), QStringLiteral("Enable FFB from car telemetry"));

        // The wheel refuses: the button springs back and the verdict says so.
        rig.ffbWheel->failStep(VirtualInputStep::SetEffectParameters);
        rig.ffbWheel->failStep(VirtualInputStep::StartEffect);
        view.enable()->click();
        QVERIFY(!rig.controller->wheelFfbEnabled());
        QVERIFY(!view.enable()->isChecked());
        QCOMPARE(view.enable()->text(), QStringLiteral("Enable FFB from car telemetry"));
        QCOMPARE(view.verdict()->text(), QStringLiteral("Could not enable FFB — re-check the wheel."));
    }

    // Sliders start from the controller, write to it, and follow a loaded preset rounded to whole percent.
    void sliders()
    {
        FfbRig rig(Wheel::Ffb);
        rig.controller->setWheelFfbStrength(0.8f);
        rig.controller->setWheelFfbCentering(0.1f);
        WheelFfbDialog dialog(rig.controller.get());
        View view{dialog};
        QCOMPARE(view.strength()->value(), 80);
        QCOMPARE(view.centering()->value(), 10);
        view.strength()->setValue(42);
        view.centering()->setValue(7);
        QCOMPARE(rig.controller->wheelFfbStrength(), 0.42f);
        QCOMPARE(rig.controller->wheelFfbCentering(), 0.07f);
        QStringList percents;
        for (QLabel *label : view.labels()) {
            if (label->text().endsWith('%') && !label->text().contains(' '))
                percents << label->text();
        }
        QCOMPARE(percents, (QStringList{"42%", "7%"}));

        // Save 62.5 % / 0.5 % under a name, move the sliders, load it back.
        rig.controller->setWheelFfbStrength(0.625f);
        rig.controller->setWheelFfbCentering(0.005f);
        auto *panel = dialog.findChild<corvane::PresetsPanel *>();
        QCOMPARE(panel->kind(), QStringLiteral("ffb"));
        panel->findChild<QLineEdit *>()->setText("Gentle");
        view.button("Save")->click();
        view.strength()->setValue(10);
        view.centering()->setValue(90);
        view.button("Load")->click();
        QCOMPARE(view.strength()->value(), 63);
        QCOMPARE(view.centering()->value(), 1);
        QCOMPARE(rig.controller->wheelFfbStrength(), 0.63f);
        QCOMPARE(rig.controller->wheelFfbCentering(), 0.01f);
    }

    // The bar shows the loop's level clamped to ±1; a tiny level draws no fill.
    void forceBar()
    {
        FfbRig rig(Wheel::Ffb);
        WheelFfbDialog dialog(rig.controller.get());
        auto *bar = dialog.findChild<FfbBar *>();
        emit rig.controller->ffbLevelReceived(1.7f);
        QCOMPARE(bar->level(), 1.0f);
        emit rig.controller->ffbLevelReceived(-3.0f);
        QCOMPARE(bar->level(), -1.0f);

        FfbBar alone;
        alone.resize(400, 22);
        const auto fillAt = [&alone](int x) {
            return renderWidget(alone).pixelColor(x, 11).rgb() == ostra::ThemeColors::ink.rgb();
        };
        alone.setLevel(0.0005f);
        QVERIFY(!fillAt(201) && !fillAt(199));
        alone.setLevel(-0.5f);
        QVERIFY(fillAt(110) && !fillAt(290));
        alone.setLevel(0.5f);
        QVERIFY(!fillAt(110) && fillAt(290));
        alone.setLevel(std::numeric_limits<float>::quiet_NaN());
        QCOMPARE(alone.level(), 0.0f);
    }

    void render_data()
    {
        QTest::addColumn<Wheel>("wheel");
        QTest::newRow("nowheel") << Wheel::None;
        QTest::newRow("ready") << Wheel::Ffb;
        QTest::newRow("refused") << Wheel::EffectRefused;
    }

    void render()
    {
        QFETCH(Wheel, wheel);
        FfbRig rig(wheel);
        if (wheel == Wheel::Ffb) {
            QVERIFY(rig.controller->startWheelFfb());
            rig.controller->handleCarMotion(0.2f, 0.4f, 0.0f);
        }
        WheelFfbDialog dialog(rig.controller.get());
        // The offscreen screen is short: the dialog scrolls there, so the picture shows it as tall as its page.
        dialog.resize(dialog.width(), dialog.findChild<QWidget *>("wheelFfbPage")->sizeHint().height() + 200);
        QVERIFY(saveWidgetPicture(&dialog, QStringLiteral("wheelffb-%1").arg(QTest::currentDataTag())));
    }

    void renderDarkToo() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestWheelFfbDialog)
#include "tst_wheelffbdialog.moc"
