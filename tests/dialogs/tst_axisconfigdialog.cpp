#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <cmath>

#include "bridge/corvanecontroller.h"
#include "dialogrender.h"
#include "dialogs/axisconfigdialog.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "profiles/profilemanager.h"
#include "support/transmitrig.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/widgetlookup.h"

using corvane::AxisConfigDialog;
using ostratest::TransmitRig;

namespace {

// One row of the mapping or shifter page, found by its name as the user reads it.
struct Row
{
    QLabel *badge = nullptr;
    QCheckBox *invert = nullptr;
    QPushButton *detect = nullptr;
    QSpinBox *cap = nullptr;
    QLabel *crsf = nullptr;
    QFrame *frame = nullptr;
};

Row row(QWidget &dialog, const QString &name)
{
    for (QFrame *frame : dialog.findChildren<QFrame *>()) {
        if (!frame->property("row").toBool())
            continue;
        const QList<QLabel *> labels = frame->findChildren<QLabel *>();
        if (labels.isEmpty() || labels.first()->text() != name)
            continue;
        Row r;
        r.frame = frame;
        r.badge = labels.at(1);
        r.crsf = labels.size() > 2 ? labels.at(2) : nullptr;
        r.invert = frame->findChild<QCheckBox *>();
        r.detect = frame->findChild<QPushButton *>();
        r.cap = frame->findChild<QSpinBox *>();
        return r;
    }
    return {};
}

// The response page of an axis on the Calibration page, turned to as the user does.
QWidget *axisPage(QWidget &dialog, const QString &axis)
{
    dialog.findChild<ostra::Segmented *>()->setCurrentIndex(1);
    for (QTabWidget *tabs : dialog.findChildren<QTabWidget *>()) {
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i) == axis) {
                tabs->setCurrentIndex(i);
                return tabs->widget(i);
            }
        }
    }
    return nullptr;
}

QGroupBox *group(QWidget *page, const QString &title)
{
    for (QGroupBox *box : page->findChildren<QGroupBox *>()) {
        if (box->title() == title)
            return box;
    }
    return nullptr;
}

struct Preview
{
    QString raw;
    QString output;
    int rawBar = 0;
    int outputBar = 0;
    int barMinimum = 0;
};

Preview preview(QWidget &dialog, const QString &axis)
{
    QGroupBox *box = group(axisPage(dialog, axis), "Live Preview");
    const QList<QLabel *> labels = box->findChildren<QLabel *>();
    const QList<QProgressBar *> bars = box->findChildren<QProgressBar *>();
    return {labels.at(1)->text(), labels.at(3)->text(), bars.at(0)->value(), bars.at(1)->value(), bars.at(0)->minimum()};
}

QPushButton *steeringButton(QWidget &dialog, const QString &text)
{
    QGroupBox *box = group(axisPage(dialog, "Steering"), "Steering angle");
    for (QPushButton *b : box->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QList<ostra::SliderRow *> steeringSliders(QWidget &dialog)
{
    return group(axisPage(dialog, "Steering"), "Steering angle")->findChildren<ostra::SliderRow *>();
}

QString steeringSummary(QWidget &dialog)
{
    return group(axisPage(dialog, "Steering"), "Steering angle")
        ->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly).first()->text();
}

QTabWidget *deviceTabs(QWidget &dialog)
{
    for (QTabWidget *tabs : dialog.findChildren<QTabWidget *>()) {
        if (tabs->count() == 3 && tabs->tabText(0) == "Wheel Base")
            return tabs;
    }
    return nullptr;
}

QComboBox *presetList(QWidget &dialog)
{
    for (QComboBox *box : dialog.findChildren<QComboBox *>()) {
        if (box->findData("Custom") >= 0)
            return box;
    }
    return nullptr;
}

// A rig with the wheel base, pedals and shifter connected and stored in the profile.
struct CarRig : TransmitRig
{
    explicit CarRig(bool withWheel = true)
    {
        if (withWheel)
            QVERIFY(controller->connectWheelBase(WheelPos));
        QVERIFY(controller->connectPedals(PedalsPos));
        QVERIFY(controller->connectShifter(ShifterPos));
        wake(TransmitRig::pedals, controller->pedals());
        releasePedals();
        pollAll();
    }

    void hold(corvane::VirtualInputDevice *device, const QList<int> &buttons)
    {
        for (int b : buttons)
            device->setButton(b, true);
        for (int i = 0; i < 5; ++i)
            pollAll();
    }
};

} // namespace

class TestAxisConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void steeringAngleGroup()
    {
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        AxisSettings settings;
        settings.wheelRotationDeg = 900;
        settings.steeringAngleDeg = 0;
        dialog.setAxisSettings(settings);
        QCOMPARE(steeringSummary(dialog), QString("Full lock at 450° each way (900° lock-to-lock)"));
        QVERIFY(steeringButton(dialog, "Full wheel")->isChecked());
        // Only angles below the wheel rotation are offered; the whole wheel is "Full wheel".
        QVERIFY(!steeringButton(dialog, "900°")->isEnabled() && !steeringButton(dialog, "900°")->isChecked());

        steeringButton(dialog, "540°")->click();
        QCOMPARE(dialog.axisSettings().steeringAngleDeg, 540);
        QCOMPARE(steeringSummary(dialog), QString("Full lock at 270° each way (540° lock-to-lock)"));

        ostra::SliderRow *angle = steeringSliders(dialog).at(0);
        ostra::SliderRow *wheel = steeringSliders(dialog).at(1);
        angle->slider()->setValue(905);
        QCOMPARE(dialog.axisSettings().steeringAngleDeg, 0); // 910 is past the 900° wheel
        angle->slider()->setValue(604);
        QCOMPARE(dialog.axisSettings().steeringAngleDeg, 600);
        wheel->slider()->setValue(905);
        QCOMPARE(dialog.axisSettings().wheelRotationDeg, 910);
        wheel->slider()->setValue(904);
        QCOMPARE(dialog.axisSettings().wheelRotationDeg, 900);
        angle->slider()->setValue(angle->slider()->maximum());
        QCOMPARE(dialog.axisSettings().steeringAngleDeg, 0);

        // A lower wheel than the stored angle: the whole wheel counts, the 540 stays stored.
        steeringButton(dialog, "540°")->click();
        wheel->slider()->setValue(360);
        QCOMPARE(dialog.axisSettings().steeringAngleDeg, 540);
        QVERIFY(steeringButton(dialog, "Full wheel")->isChecked());
        for (const char *text : {"360°", "540°", "900°"})
            QVERIFY2(!steeringButton(dialog, text)->isEnabled(), text);
        QVERIFY(steeringButton(dialog, "240°")->isEnabled() && steeringButton(dialog, "Full wheel")->isEnabled());
        wheel->slider()->setValue(900);
        QVERIFY(steeringButton(dialog, "540°")->isChecked());
    }

    void loadingQuantisesThroughTheSliders()
    {
        CarRig rig;
        AxisSettings settings;
        settings.throttle.deadzone = 0.057f;
        settings.brake.deadzone = 0.004f;
        AxisConfigDialog dialog(rig.controller.get());
        dialog.setAxisSettings(settings);
        QCOMPARE(dialog.axisSettings().throttle.deadzone, 0.05f);
        QCOMPARE(dialog.axisSettings().brake.deadzone, 0.004f);

        // Values the dialog wrote itself come back unchanged.
        for (int step = 0; step <= 100; ++step) {
            settings.clutch.maxOutput = step / 100.0f;
            settings.clutch.curveExponent = 1.0f + (step % 31) / 10.0f;
            dialog.setAxisSettings(settings);
            QCOMPARE(dialog.axisSettings().clutch.maxOutput, settings.clutch.maxOutput);
            QCOMPARE(dialog.axisSettings().clutch.curveExponent, settings.clutch.curveExponent);
        }
    }

    void responsePages()
    {
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        dialog.setAxisSettings(rig.controller->axisSettings());
        QWidget *steering = axisPage(dialog, "Steering");
        QWidget *throttle = axisPage(dialog, "Throttle");
        const auto texts = [](QWidget *page) {
            QStringList all;
            for (QLabel *label : page->findChildren<QLabel *>())
                all << label->text();
            return all;
        };
        QVERIFY(!texts(steering).contains("Deadzone:"));
        QVERIFY(texts(throttle).contains("Deadzone:"));
        QVERIFY(group(steering, "Steering angle") && !group(throttle, "Steering angle"));

        auto *curve = group(throttle, "Settings")->findChild<QComboBox *>();
        QSlider *exponent = group(throttle, "Settings")->findChildren<QSlider *>().last();
        QVERIFY(!exponent->isEnabled());
        curve->setCurrentIndex(1);
        QVERIFY(exponent->isEnabled());
        QCOMPARE(dialog.axisSettings().throttle.curve, 1);
        QCOMPARE(rig.controller->axisSettings().throttle.curve, 0);

        auto *calibrate = group(throttle, "Input Calibration")->findChild<QCheckBox *>();
        QPushButton *setMin = group(throttle, "Input Calibration")->findChildren<QPushButton *>().first();
        QVERIFY(!setMin->isEnabled());
        calibrate->setChecked(true);
        QVERIFY(setMin->isEnabled());
        setMin->click();
        QCOMPARE(dialog.axisSettings().throttle.inputMin, -1.0f);
        QCOMPARE(group(throttle, "Input Calibration")->findChildren<QLabel *>().at(1)->text(), QString("-1.000"));
    }

    void previewShapesLikeTheTransmitLoop_data()
    {
        QTest::addColumn<int>("axis");
        QTest::addColumn<float>("reading");
        QTest::addColumn<int>("curve");
        QTest::addColumn<int>("deadzone");
        QTest::addColumn<int>("maxOutput");
        QTest::newRow("released throttle") << 1 << -1.0f << 0 << 0 << 100;
        QTest::newRow("half throttle, exponential") << 1 << 0.0f << 1 << 10 << 80;
        QTest::newRow("brake, logarithmic") << 2 << 0.5f << 2 << 5 << 100;
        QTest::newRow("steering right") << 0 << 0.5f << 0 << 0 << 100;
    }

    void previewShapesLikeTheTransmitLoop()
    {
        QFETCH(int, axis);
        QFETCH(float, reading);
        QFETCH(int, curve);
        QFETCH(int, deadzone);
        QFETCH(int, maxOutput);
        CarRig rig;
        (axis == 0 ? rig.wheel : rig.pedals)->setAxis(axis == 2 ? 2 : axis == 1 ? 1 : 0, reading);
        rig.pollAll();
        AxisSettings settings;
        AxisConfig &config = *settings.axis(axis);
        config.curve = curve;
        config.deadzone = deadzone / 100.0f;
        config.maxOutput = maxOutput / 100.0f;
        AxisConfigDialog dialog(rig.controller.get());
        dialog.setAxisSettings(settings);
        dialog.onInputUpdated();

        const float r = axis == 0 ? rig.controller->steering() : axis == 1 ? rig.controller->throttle() : rig.controller->brake();
        const float s = corvane::CorvaneController::processAxis(*dialog.axisSettings().axis(axis), r, axis == 0);
        const QString name = settings.axis(axis)->name;
        const Preview shown = preview(dialog, name);
        QCOMPARE(shown.raw, QString::number(r, 'f', 3));
        QCOMPARE(shown.output, QString::number(s, 'f', 3));
        QCOMPARE(shown.outputBar, int(s * 1000.0f));
        QCOMPARE(shown.barMinimum, axis == 0 ? -1000 : 0);
        if (reading == -1.0f && axis != 0) {
            QCOMPARE(shown.raw, QString("-1.000"));
            QCOMPARE(shown.rawBar, 0);
        }
    }

    void combinedPedalsPresetIsStoredAtOnce()
    {
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        QCOMPARE(deviceTabs(dialog)->currentIndex(), 1);
        QComboBox *presets = presetList(dialog);
        presets->setCurrentIndex(presets->findData("Logitech (PS3/PS4)"));
        QVERIFY(dialog.findChild<QCheckBox *>(QString())); // the page exists
        bool combinedChecked = false;
        for (QCheckBox *box : dialog.findChildren<QCheckBox *>())
            combinedChecked = combinedChecked || (box->text() == "Throttle and brake share a single axis" && box->isChecked());
        QVERIFY(combinedChecked);
        QCOMPARE(row(dialog, "Throttle").badge->text(), QString("lY"));
        QCOMPARE(row(dialog, "Brake").badge->text(), QString("lY"));
        QCOMPARE(row(dialog, "Clutch").badge->text(), QString("Unknown"));
        const DeviceConnection stored = rig.controller->profileManager()->deviceConnections().pedals;
        QVERIFY(stored.hasCustomAxisMapping);
        QVERIFY(stored.axisMapping.combinedPedals);
        QCOMPARE(stored.axisMapping.map, (std::array<int, 4>{{0, 4, 4, -1}}));
        QCOMPARE(stored.axisMapping.presetName, QString("Logitech (PS3/PS4)"));

        row(dialog, "Clutch").invert->setChecked(true);
        QCOMPARE(presets->currentData().toString(), QString("Custom"));
        const AxisMapping edited = rig.controller->pedals()->axisMapping();
        QVERIFY(edited.inverted[3]);
        QVERIFY(edited.combinedPedals); // the box is still ticked
        QCOMPARE(edited.presetName, QString("Custom"));
    }

    void everyPresetNameGivesItsOwnMapping()
    {
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        QComboBox *presets = presetList(dialog);
        for (int i = 0; i < presets->count() - 1; ++i) {
            presets->setCurrentIndex(i);
            QCOMPARE(rig.controller->pedals()->axisMapping().presetName, presets->itemData(i).toString());
        }
    }

    void axisDetectionTakesTheLargerTravel()
    {
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        TransmitRig::wake(rig.pedals, rig.controller->pedals());
        dialog.onDetectAxis(1);
        QCOMPARE(row(dialog, "Throttle").badge->text(), QString("Listening…"));
        QVERIFY(!row(dialog, "Throttle").detect->isEnabled());
        rig.pedals->setAxis(5, 0.5f);
        rig.pedals->setAxis(6, 0.9f);
        rig.pollAll();
        QTest::qWait(120);
        dialog.onDetectAxisTimeout(1);
        QCOMPARE(row(dialog, "Throttle").badge->text(), QString("Slider0"));
        QCOMPARE(row(dialog, "Throttle").detect->text(), QString("Detected!"));
        QCOMPARE(rig.controller->pedals()->axisMapping().map[1], 6);
        QCOMPARE(rig.controller->profileManager()->deviceConnections().pedals.axisMapping.map[1], 6);
        QCOMPARE(presetList(dialog)->currentData().toString(), QString("Custom"));
    }

    // The device's readings lie on a raw grid that never makes a travel of exactly 0.3: the
    // largest travel up to 0.3 is too little, the next raw step above it is enough.
    void travelMustExceedTheThreshold()
    {
        CarRig rig;
        corvane::InputDevice *device = rig.controller->pedals();
        TransmitRig::wake(rig.pedals, device);
        const int centre = 32768; // inside the device's own dead zone: reads 0
        int last = centre;
        for (int raw = centre; raw < 65536; ++raw) {
            rig.pedals->setAxisRaw(5, raw);
            device->poll();
            if (device->axis(5) > 0.3f)
                break;
            last = raw;
        }
        AxisConfigDialog dialog(rig.controller.get());
        const QString before = row(dialog, "Brake").badge->text();
        ostratest::ModalAnswerer answer;
        answer.press("OK");
        for (int end : {last, last + 1}) {
            rig.pedals->setAxisRaw(5, centre);
            device->poll();
            QCOMPARE(device->axis(5), 0.0f);
            dialog.onDetectAxis(2);
            rig.pedals->setAxisRaw(5, end);
            device->poll();
            QTest::qWait(120);
            dialog.onDetectAxisTimeout(2);
            if (end == last) {
                QVERIFY(device->axis(5) <= 0.3f);
                QCOMPARE(answer.records().size(), 1);
                QCOMPARE(answer.records().at(0).title, QString("No Movement Detected"));
                QCOMPARE(row(dialog, "Brake").badge->text(), before);
                QCOMPARE(row(dialog, "Brake").detect->text(), QString("Detect"));
                QVERIFY(row(dialog, "Brake").detect->isEnabled());
                QCOMPARE(device->axisMapping().map[2], 2);
            } else {
                QCOMPARE(answer.records().size(), 1);
                QCOMPARE(row(dialog, "Brake").badge->text(), QString("lZ"));
                QCOMPARE(device->axisMapping().map[2], 5);
            }
        }
    }

    void withoutAWheelBaseTheRowsShowTheDefaults()
    {
        CarRig rig(false);
        AxisConfigDialog dialog(rig.controller.get());
        presetList(dialog)->setCurrentIndex(presetList(dialog)->findData("Logitech"));
        deviceTabs(dialog)->setCurrentIndex(0);
        QCOMPARE(row(dialog, "Steering").badge->text(), QString("lX"));
        QCOMPARE(row(dialog, "Throttle").badge->text(), QString("lRx"));
        QCOMPARE(row(dialog, "Brake").badge->text(), QString("lRy"));
        QCOMPARE(row(dialog, "Clutch").badge->text(), QString("lRz"));
        QVERIFY(!presetList(dialog)->isEnabled());
    }

    void gearCapsShowTheirChannelValue_data()
    {
        QTest::addColumn<int>("escMode");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("shown");
        QTest::newRow("standard 50") << 0 << 50 << "1401";
        QTest::newRow("standard 100") << 0 << 100 << "1811";
        QTest::newRow("standard 0") << 0 << 0 << "992";
        QTest::newRow("custom 33") << 2 << 33 << "1297";
    }

    void gearCapsShowTheirChannelValue()
    {
        QFETCH(int, escMode);
        QFETCH(int, percent);
        QFETCH(QString, shown);
        CarRig rig;
        AxisSettings settings = rig.controller->axisSettings();
        settings.escMode = escMode;
        settings.escNeutral = 1000;
        settings.escFullForward = 1900;
        settings.gearThrottleLimitPercent[0] = 70;
        QVERIFY(rig.controller->setAxisSettings(settings));
        AxisConfigDialog dialog(rig.controller.get());
        deviceTabs(dialog)->setCurrentIndex(2);
        const Row gear = row(dialog, "Gear 1");
        QVERIFY(!gear.cap->isEnabled());
        QCOMPARE(gear.cap->value(), 70);
        gear.cap->setValue(percent);
        QCOMPARE(gear.crsf->text(), shown);
        QCOMPARE(rig.controller->axisSettings().gearThrottleLimitPercent[0], percent);
        QCOMPARE(dialog.axisSettings().gearThrottleLimitPercent[0], percent);
    }

    // The switch acts on the controller at once, whatever becomes of the dialog, and leaves a
    // running car running: the next frame carries the gear's cap.
    void perGearLimitSwitchActsAtOnce()
    {
        TransmitRig rig;
        AxisSettings settings = TransmitRig::plainSettings();
        settings.gearThrottleLimitPercent[0] = 50;
        QVERIFY(rig.startCar(settings, true));
        rig.setButton(rig.shifter, 0, true);
        QCOMPARE(rig.controller->currentGear(), 1);
        rig.pedals->setAxis(1, 1.0f);
        rig.tick(2);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.lastChannels()[1] == 1811; }));

        AxisConfigDialog dialog(rig.controller.get());
        deviceTabs(dialog)->setCurrentIndex(2);
        QCheckBox *limits = ostratest::withText<QCheckBox>(&dialog, "Enable Per-Gear Throttle Limits");
        QVERIFY(limits);
        QVERIFY(!limits->isChecked());
        QVERIFY(!row(dialog, "Gear 1").cap->isEnabled());
        limits->click();
        QVERIFY(rig.controller->axisSettings().gearThrottleLimitEnabled);
        QVERIFY(row(dialog, "Gear 1").cap->isEnabled());
        QVERIFY(rig.controller->isRunning());
        rig.tick(2);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.lastChannels()[1] == 1401; }));

        dialog.reject();
        QVERIFY(rig.controller->axisSettings().gearThrottleLimitEnabled);
        rig.tick();
        QCOMPARE(rig.ch(1), 1401);
    }

    void gearDetection_data()
    {
        QTest::addColumn<QList<int>>("held");
        QTest::addColumn<QString>("shown");
        QTest::newRow("one button") << QList<int>{3} << "Button 3";
        QTest::newRow("two buttons") << QList<int>{9, 5} << "Button 5";
        QTest::newRow("none") << QList<int>{} << "Button 1";
    }

    void gearDetection()
    {
        QFETCH(QList<int>, held);
        QFETCH(QString, shown);
        CarRig rig;
        rig.hold(rig.shifter, held);
        AxisConfigDialog dialog(rig.controller.get());
        deviceTabs(dialog)->setCurrentIndex(2);
        ostratest::ModalAnswerer answer;
        answer.press("OK");
        dialog.onDetectShifterGear(3);
        QCOMPARE(row(dialog, "Gear 2").detect->text(), QString("Press gear..."));
        QTest::qWait(120);
        if (held.isEmpty())
            dialog.onDetectShifterGearTimeout(3);
        QCOMPARE(row(dialog, "Gear 2").badge->text(), shown);
        QVERIFY(row(dialog, "Gear 2").detect->isEnabled());
        if (held.isEmpty()) {
            QCOMPARE(answer.records().at(0).title, QString("No Button Detected"));
            QCOMPARE(rig.controller->shifterMapping()[3], 1);
        } else {
            QCOMPARE(answer.records().size(), 0);
            QCOMPARE(row(dialog, "Gear 2").detect->text(), QString("Detected!"));
            QCOMPARE(rig.controller->shifterMapping()[3], std::min(held.at(0), held.last()));
        }
    }

    void startingOneDetectionEndsTheOther()
    {
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        ostratest::ModalAnswerer answer;
        dialog.onDetectAxis(1);
        dialog.onDetectShifterGear(2);
        const Row throttle = row(dialog, "Throttle");
        QCOMPARE(throttle.detect->text(), QString("Detect"));
        QVERIFY(throttle.detect->isEnabled());
        QCOMPARE(throttle.badge->text(), QString("lRx"));
        QVERIFY(!throttle.badge->styleSheet().contains("#FDF1DC"));
        QVERIFY(!throttle.frame->property("listening").toBool());
        dialog.onDetectAxisTimeout(1);
        QCOMPARE(answer.records().size(), 0);

        // And the other way round: the gear waiting for a press lets go.
        dialog.onDetectAxis(2);
        const Row gear = row(dialog, "Gear 1");
        QCOMPARE(gear.detect->text(), QString("Detect"));
        QVERIFY(gear.detect->isEnabled());
        dialog.onDetectShifterGearTimeout(2);
        QCOMPARE(answer.records().size(), 0);
        QCOMPARE(row(dialog, "Brake").badge->text(), QString("Listening…"));
    }

    void aLoadedPresetReloadsThePages()
    {
        CarRig rig;
        AxisSettings settings = rig.controller->axisSettings();
        settings.throttle.curve = 2;
        settings.steeringAngleDeg = 360;
        QVERIFY(rig.controller->setAxisSettings(settings));
        rig.controller->profileManager()->saveUserPreset("controls", "Drift", rig.controller->saveControlsPreset("controls"));
        QVERIFY(rig.controller->setAxisSettings(TransmitRig::plainSettings()));

        AxisConfigDialog dialog(rig.controller.get());
        dialog.setAxisSettings(rig.controller->axisSettings());
        QCOMPARE(dialog.axisSettings().throttle.curve, 0);
        for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
            if (b->text() == "Load")
                b->click();
        }
        QCOMPARE(dialog.axisSettings().throttle.curve, 2);
        QCOMPARE(group(axisPage(dialog, "Throttle"), "Settings")->findChild<QComboBox *>()->currentText(),
                 QString("Logarithmic"));
        QCOMPARE(steeringSummary(dialog), QString("Full lock at 180° each way (360° lock-to-lock)"));
    }

    void resetToDefaultsKeepsTheSteeringAngle()
    {
        CarRig rig;
        AxisSettings settings = rig.controller->axisSettings();
        settings.throttle.curve = 2;
        settings.brake.deadzone = 0.2f;
        settings.steering.inverted = true;
        settings.wheelRotationDeg = 1080;
        settings.steeringAngleDeg = 540;
        QVERIFY(rig.controller->setAxisSettings(settings));
        AxisConfigDialog dialog(rig.controller.get());
        dialog.setAxisSettings(rig.controller->axisSettings());
        dialog.onResetToDefaults();
        QCOMPARE(rig.controller->axisSettings().throttle.curve, 2);
        const AxisSettings reset = dialog.axisSettings();
        QCOMPARE(reset.throttle.curve, 0);
        QCOMPARE(reset.brake.deadzone, 0.0f);
        QVERIFY(!reset.steering.inverted);
        QCOMPARE(reset.throttle.name, QString("Throttle"));
        QCOMPARE(reset.wheelRotationDeg, 1080);
        QCOMPARE(reset.steeringAngleDeg, 540);
    }

    void laterPages_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("device");
        QTest::newRow("calibration") << 1 << 1;
        QTest::newRow("shifter") << 0 << 2;
    }

    // What is not on screen at opening is built after it, one part per pass, or at once when
    // turned to, from what was loaded before; Tab from the page chooser goes into the page.
    void laterPages()
    {
        QFETCH(int, page);
        QFETCH(int, device);
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        AxisSettings settings = rig.controller->axisSettings();
        settings.throttle.deadzone = 0.2f;
        settings.throttle.inverted = true;
        dialog.setAxisSettings(settings);
        QVERIFY(dialog.findChildren<QGroupBox *>().isEmpty());
        QVERIFY(!ostratest::withText<QCheckBox>(&dialog, "Enable Per-Gear Throttle Limits"));
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto *chooser = dialog.findChild<ostra::Segmented *>();
        chooser->setCurrentIndex(page);
        deviceTabs(dialog)->setCurrentIndex(device);
        if (page == 1) {
            QWidget *throttle = axisPage(dialog, "Throttle");
            QVERIFY(group(throttle, "Settings")->findChild<QCheckBox *>()->isChecked());
            QCOMPARE(group(throttle, "Settings")->findChildren<QSlider *>().first()->value(), 20);
        } else {
            QVERIFY(row(dialog, "Gear 1").cap);
        }
        chooser->setFocus();
        QTest::keyClick(chooser, Qt::Key_Tab);
        auto *pages = chooser->parentWidget()->findChild<QTabWidget *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(pages->currentWidget()->isAncestorOf(QApplication::focusWidget()));
        // Three response groups on each axis's page and the steering angle.
        QTRY_COMPARE(dialog.findChildren<QGroupBox *>().size(), 13);
        QVERIFY(ostratest::withText<QCheckBox>(&dialog, "Enable Per-Gear Throttle Limits"));
        QCOMPARE(dialog.axisSettings().throttle.deadzone, 0.2f);
    }

    void render_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("tab");
        QTest::newRow("mapping-wheelbase") << 0 << 0;
        QTest::newRow("mapping-pedals") << 0 << 1;
        QTest::newRow("mapping-shifter") << 0 << 2;
        QTest::newRow("calibration-steering") << 1 << 0;
        QTest::newRow("calibration-throttle") << 1 << 1;
        QTest::newRow("calibration-brake") << 1 << 2;
        QTest::newRow("calibration-clutch") << 1 << 3;
    }

    void render()
    {
        QFETCH(int, page);
        QFETCH(int, tab);
        CarRig rig;
        rig.pedals->setAxis(1, 0.2f);
        rig.wheel->setAxis(0, 0.3f);
        rig.pollAll();
        rig.controller->profileManager()->saveUserPreset("controls", "Street", QJsonObject());
        AxisConfigDialog dialog(rig.controller.get());
        dialog.setAxisSettings(rig.controller->axisSettings());
        dialog.findChild<ostra::Segmented *>()->setCurrentIndex(page);
        if (page == 0) {
            deviceTabs(dialog)->setCurrentIndex(tab);
        } else {
            auto *axes = qobject_cast<QTabWidget *>(axisPage(dialog, "Steering")->parentWidget()->parentWidget());
            axes->setCurrentIndex(tab);
        }
        dialog.onInputUpdated();
        dialog.resize(680, 800);
        QVERIFY(saveWidgetPicture(&dialog, QStringLiteral("axisconfig-%1").arg(QTest::currentDataTag())));
        // The whole page as it scrolls past.
        QScrollArea *shown = nullptr;
        for (QScrollArea *scroll : dialog.findChildren<QScrollArea *>())
            shown = scroll->isVisible() ? scroll : shown;
        QVERIFY(shown);
        QVERIFY(shown->widget()->grab().toImage().save(dialogPicture(QStringLiteral("axisconfig-%1-page").arg(QTest::currentDataTag()))));
    }

    // On a laptop's screen the dialog's card scrolls the calibration page whole: no scroll area
    // inside it shows a scroll bar of its own.
    void calibrationScrollsOnce()
    {
        CarRig rig;
        QWidget parent;
        parent.resize(1366, 768);
        parent.show();
        AxisConfigDialog dialog(rig.controller.get(), &parent);
        dialog.setAxisSettings(rig.controller->axisSettings());
        dialog.findChild<ostra::Segmented *>()->setCurrentIndex(1);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCoreApplication::processEvents();
        int scrolling = 0;
        for (QAbstractScrollArea *area : dialog.findChildren<QAbstractScrollArea *>()) {
            if (!area->isVisible() || !area->verticalScrollBar()->isVisible())
                continue;
            ++scrolling;
            for (QWidget *w = area->parentWidget(); w; w = w->parentWidget()) {
                auto *outer = qobject_cast<QAbstractScrollArea *>(w);
                QVERIFY2(!outer || !outer->verticalScrollBar()->isVisible(), qPrintable(area->metaObject()->className()));
            }
        }
        QVERIFY(scrolling <= 1);
    }

    // The mapping page's rows end where the presets end, and the presets follow the mapping
    // rows without a gap: the free height of a tall dialog goes under them.
    void mappingLinesUpWithPresets()
    {
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        dialog.setAxisSettings(rig.controller->axisSettings());
        deviceTabs(dialog)->setCurrentIndex(0);
        dialog.resize(680, 800);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCoreApplication::processEvents();
        const auto right = [&dialog](const QWidget *widget) {
            return widget->mapTo(&dialog, QPoint(widget->width(), 0)).x();
        };
        const QPushButton *reset = nullptr;
        for (const QPushButton *button : dialog.findChildren<QPushButton *>())
            reset = button->text() == QLatin1String("Reset to preset") ? button : reset;
        QVERIFY(reset);
        const QLabel *hint = nullptr;
        const QLabel *presets = nullptr;
        for (const QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text().startsWith(QLatin1String("Press Detect")))
                hint = label;
            if (label->text() == QLatin1String("Controls presets"))
                presets = label;
        }
        QVERIFY(hint && presets);
        const QWidget *steeringRow = hint->parentWidget()->findChild<QFrame *>();
        const QWidget *presetsPanel = presets->parentWidget();
        QCOMPARE(right(reset), right(presetsPanel));
        QCOMPARE(right(steeringRow), right(presetsPanel));
        const int gap = presets->mapTo(&dialog, QPoint(0, 0)).y() - hint->mapTo(&dialog, QPoint(0, hint->height())).y();
        QVERIFY2(gap <= 64, qPrintable(QString::number(gap)));
    }

    void tabGoesAround_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("forward");
        QTest::newRow("mapping, Tab") << 0 << true;
        QTest::newRow("mapping, Shift+Tab") << 0 << false;
        QTest::newRow("calibration, Tab") << 1 << true;
        QTest::newRow("calibration, Shift+Tab") << 1 << false;
    }

    // Tab and Shift+Tab go from the first control through the shown page to Apply, and on round
    // to the first control again.
    void tabGoesAround()
    {
        QFETCH(int, page);
        QFETCH(bool, forward);
        CarRig rig;
        AxisConfigDialog dialog(rig.controller.get());
        dialog.findChild<ostra::Segmented *>()->setCurrentIndex(page);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QWidget *first = QApplication::focusWidget();
        QVERIFY(first);
        auto *apply = ostratest::withText<QPushButton>(&dialog, QStringLiteral("Apply"));
        bool applyReached = false;
        int presses = 0;
        do {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
            applyReached = applyReached || apply->hasFocus();
        } while (!first->hasFocus() && ++presses < 300);
        QVERIFY(applyReached);
        QVERIFY2(first->hasFocus(), qPrintable(QApplication::focusWidget()->metaObject()->className()));
    }

    void renderDarkToo() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestAxisConfigDialog)
#include "tst_axisconfigdialog.moc"
