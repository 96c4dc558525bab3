#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>
#include <QScrollArea>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>

#include "api/websocketserver.h"
#include "api/wsescpresethandler.h"
#include "api/wstestclient.h"
#include "dialogrig.h"
#include "dialogs/escconfigdialog.h"
#include "ostraui/theme.h"
#include "profiles/profilemanager.h"
#include "support/darktwin.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"

using corvane::EscConfigDialog;
using ostratest::DialogRig;
using ostratest::ModalAnswerer;

namespace {

template <typename T>
T *byText(QWidget &dialog, const QString &text)
{
    for (T *widget : dialog.findChildren<T *>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

QPushButton *button(QWidget &dialog, const QString &text)
{
    return byText<QPushButton>(dialog, text);
}

bool hasLabel(QWidget &dialog, const QString &text)
{
    return byText<QLabel>(dialog, text) != nullptr;
}

// The slider of the row labelled `label` (a slider row or a value line).
QSlider *rowSlider(QWidget &dialog, const QString &label)
{
    QLabel *caption = byText<QLabel>(dialog, label);
    if (!caption)
        return nullptr;
    const QList<QSlider *> sliders = caption->parentWidget()->findChildren<QSlider *>(Qt::FindDirectChildrenOnly);
    // Rows are laid out left to right: the first slider right of the label on its line.
    QSlider *best = nullptr;
    for (QSlider *slider : sliders) {
        if (qAbs(slider->geometry().center().y() - caption->geometry().center().y()) < 12
            && slider->x() > caption->x() && (!best || slider->x() < best->x()))
            best = slider;
    }
    return best;
}

QSpinBox *rowSpin(QSlider *slider)
{
    return qobject_cast<QSpinBox *>(slider->property("_spinBox").value<QObject *>());
}

// Once the saves handed to the writer so far are on disk.
QByteArray profileFile(corvane::CorvaneController *controller)
{
    ostratest::writesDone();
    corvane::ProfileManager *store = controller->profileManager();
    QFile file(store->profileFilePath(store->activeProfileId()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A dialog laid out at its initial size, so rows can be found by their geometry.
void layOut(EscConfigDialog &dialog)
{
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *tabs = dialog.findChild<QTabWidget *>();
    for (int i = tabs->count() - 1; i >= 0; --i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
    }
}

} // namespace

class TestEscConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    // "+" three times from 1024: each step reaches the running calibration at once; any close
    // but Apply puts back what ran before the dialog opened and leaves the profile file alone.
    void liveTrim_data()
    {
        QTest::addColumn<QString>("close");
        QTest::newRow("cancel") << "Cancel";
        QTest::newRow("chrome close") << "chrome";
        QTest::newRow("escape") << "escape";
    }

    void liveTrim()
    {
        QFETCH(QString, close);
        DialogRig rig;
        corvane::CorvaneController *controller = rig.controller.get();
        AxisSettings stored = controller->axisSettings();
        stored.steeringLeft = 100;
        stored.steeringRight = 1900;
        QVERIFY(controller->setAxisSettings(stored));
        controller->setSteeringCalibration(3, 1100, 2000);
        const QByteArray file = profileFile(controller);
        QVERIFY(!file.isEmpty());

        EscConfigDialog dialog(controller, nullptr);
        dialog.setAxisSettings(stored);
        QCOMPARE(controller->axisSettings().steeringCenter, 1024); // loading makes it live
        layOut(dialog);
        QPushButton *plus = button(dialog, "+");
        for (int centre : {1025, 1026, 1027}) {
            plus->click();
            const AxisSettings running = controller->axisSettings();
            QCOMPARE(running.steeringCenter, centre);
            QCOMPARE(running.steeringLeft, 100);
            QCOMPARE(running.steeringRight, 1900);
        }
        QVERIFY(hasLabel(dialog, "center 1027  (+3)"));
        QCOMPARE(rowSpin(rowSlider(dialog, "Center"))->value(), 1027);
        QCOMPARE(dialog.axisSettings().steeringCenter, 1027);
        button(dialog, QStringLiteral("\u2212"))->click();
        QVERIFY(hasLabel(dialog, "center 1026  (+2)"));

        if (close == "Cancel") {
            button(dialog, "Cancel")->click();
        } else if (close == "chrome") {
            QPushButton *chromeClose = nullptr;
            for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
                if (b->toolTip() == QLatin1String("Close"))
                    chromeClose = b;
            }
            QVERIFY(chromeClose);
            chromeClose->click();
        } else {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        const AxisSettings running = controller->axisSettings();
        QCOMPARE(running.steeringLeft, 3);
        QCOMPARE(running.steeringCenter, 1100);
        QCOMPARE(running.steeringRight, 2000);
        QCOMPARE(profileFile(controller), file);
    }

    void centreBeyondTrim_data()
    {
        QTest::addColumn<int>("centre");
        QTest::addColumn<int>("trim");
        QTest::addColumn<QString>("label");
        QTest::newRow("2000") << 2000 << 512 << "center 2000  (+976)";
        QTest::newRow("1000") << 1000 << -24 << "center 1000  (-24)";
        QTest::newRow("1024") << 1024 << 0 << "center 1024  (+0)";
    }

    void centreBeyondTrim()
    {
        QFETCH(int, centre);
        QFETCH(int, trim);
        QFETCH(QString, label);
        DialogRig rig;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(AxisSettings());
        layOut(dialog);
        QSlider *center = rowSlider(dialog, "Center");
        center->setValue(centre == 1024 ? 1030 : 1024);
        rowSpin(center)->setValue(centre);
        QCOMPARE(center->value(), centre);
        QVERIFY2(hasLabel(dialog, label), qPrintable(label));
        QSlider *trimSlider = nullptr;
        for (QSlider *s : dialog.findChildren<QSlider *>()) {
            if (s->minimum() == -512)
                trimSlider = s;
        }
        QCOMPARE(trimSlider->value(), trim);
        QCOMPARE(rig.controller->axisSettings().steeringCenter, centre);
    }

    void presets()
    {
        DialogRig rig;
        corvane::ProfileManager *store = rig.controller->profileManager();
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(AxisSettings());
        layOut(dialog);
        auto *combo = dialog.findChild<QComboBox *>();
        QCOMPARE(combo->itemText(0), QStringLiteral("Traxxas/Tamiya/Arma Standard (172-992-1811)"));
        QCOMPARE(combo->itemText(combo->count() - 1), QStringLiteral("Custom..."));
        QSlider *neutral = rowSlider(dialog, "Neutral");
        QSlider *forward = rowSlider(dialog, "Full Forward");
        QSlider *reverse = rowSlider(dialog, "Full Reverse");
        QVERIFY(!neutral->isEnabled() && !rowSpin(neutral)->isEnabled());
        QVERIFY(button(dialog, "Save as Preset...")->isHidden());
        // Locked, a number box looks it, and a note says how to edit it.
        QLabel *note = byText<QLabel>(
            dialog, "The standard ESC range is fixed. To edit these values, choose \"Custom...\" under ESC Mode.");
        QVERIFY(note && note->isVisible());
        const QImage locked = rowSpin(neutral)->grab().toImage();

        combo->setCurrentIndex(combo->count() - 1);
        QVERIFY(neutral->isEnabled() && rowSpin(forward)->isEnabled());
        QVERIFY(!note->isVisible());
        QVERIFY(rowSpin(neutral)->grab().toImage() != locked);
        QCOMPARE(neutral->value(), 992);
        reverse->setValue(180);
        neutral->setValue(990);
        rowSpin(forward)->setValue(1800);
        {
            ModalAnswerer answer;
            answer.type("Track");
            button(dialog, "Save as Preset...")->click();
            QCOMPARE(answer.records().at(0).title, QStringLiteral("Save ESC Preset"));
            QCOMPARE(answer.records().at(0).preset, QStringLiteral("My ESC Preset"));
        }
        QVERIFY(ostratest::writesDone());
        QFile file(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/profiles/esc_presets.json");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray saved = QJsonDocument::fromJson(file.readAll()).object().value("presets").toArray();
        QCOMPARE(saved.size(), 1);
        const QString id = saved.at(0).toObject().value("id").toString();
        QCOMPARE(id.size(), 36);
        QCOMPARE(combo->currentText(), QStringLiteral("Track (180-990-1800)"));
        QCOMPARE(dialog.axisSettings().escPresetId, id);
        QVERIFY(!button(dialog, "Update Preset")->isHidden());
        QVERIFY(!button(dialog, "Delete Preset")->isHidden());

        // Dragging a row writes the preset at every step.
        for (int v : {1801, 1802, 1805})
            forward->setValue(v);
        QCOMPARE(store->findEscPreset(id)->fullForward, 1805);
        QCOMPARE(combo->currentText(), QStringLiteral("Track (180-990-1805)"));
        // "Update Preset" confirms only what was written.
        for (const QString limit : {"descriptors", ""}) {
            ModalAnswerer answer;
            answer.press("OK");
            QVERIFY(ostratest::writesDone());
            {
                const ostratest::Starved starved(limit);
                button(dialog, "Update Preset")->click();
                QVERIFY(ostratest::writesTried());
            }
            QTRY_COMPARE(answer.records().size(), limit.isEmpty() ? 1 : 0);
        }

        // Deleted elsewhere (the mobile app): the dialog stays custom with the same values.
        QVERIFY(store->deleteEscPreset(id));
        QCOMPARE(combo->currentText(), QStringLiteral("Custom..."));
        const AxisSettings custom = dialog.axisSettings();
        QCOMPARE(custom.escMode, 2);
        QVERIFY(custom.escPresetId.isEmpty());
        QCOMPARE(QList<int>({custom.escFullReverse, custom.escNeutral, custom.escFullForward}),
                 QList<int>({180, 990, 1805}));
        QVERIFY(forward->isEnabled());
        QVERIFY(!button(dialog, "Save as Preset...")->isHidden());
        QVERIFY(button(dialog, "Delete Preset")->isHidden());

        // The standard item sets and locks the standard values; "Custom..." keeps them.
        combo->setCurrentIndex(0);
        QCOMPARE(QList<int>({reverse->value(), neutral->value(), forward->value()}), QList<int>({172, 992, 1811}));
        QVERIFY(!forward->isEnabled());
        combo->setCurrentIndex(combo->count() - 1);
        QCOMPARE(forward->value(), 1811);
        QVERIFY(forward->isEnabled());
        dialog.onEscModeChanged(-1);
        QCOMPARE(dialog.axisSettings().escMode, 2);
    }

    // A preset the app updates with one value keeps the other two, and choosing it in the dialog
    // takes all three as the ESC end points.
    void presetUpdatedOverTheApi()
    {
        DialogRig rig;
        corvane::WebSocketServer server(rig.controller.get());
        server.registerHandler(new corvane::WsEscPresetHandler(rig.controller.get(), &server));
        QVERIFY(server.start(0));
        ostratest::WsTestClient app;
        QVERIFY(app.open(server.serverPort()));
        const QJsonObject created = app.request(
            "action_create_esc_preset", {{"name", "Crawler"}, {"neutral", 1000}, {"fullForward", 1700}, {"fullReverse", 300}});
        const QString id = created.value("data").toObject().value("id").toString();
        QVERIFY(!id.isEmpty());
        QCOMPARE(app.request("action_update_esc_preset", {{"id", id}, {"neutral", 990}}).value("success"), QJsonValue(true));
        QCOMPARE(app.request("action_update_esc_preset", {{"id", id}, {"fullForward", 2048}}).value("message"),
                 QJsonValue("'fullForward' must be a channel value from 0 to 2047"));

        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(AxisSettings());
        layOut(dialog);
        auto *combo = dialog.findChild<QComboBox *>();
        const int item = combo->findData(id);
        QCOMPARE(combo->itemText(item), QStringLiteral("Crawler (300-990-1700)"));
        combo->setCurrentIndex(item);
        const AxisSettings chosen = dialog.axisSettings();
        QCOMPARE(QList<int>({chosen.escFullReverse, chosen.escNeutral, chosen.escFullForward}), QList<int>({300, 990, 1700}));
        QCOMPARE(rowSlider(dialog, "Full Forward")->value(), 1700);
    }

    void deletePresetAsks()
    {
        DialogRig rig;
        corvane::ProfileManager *store = rig.controller->profileManager();
        const QString id = store->createEscPreset("Crawler", 1000, 1700, 300);
        AxisSettings settings;
        settings.escMode = 2;
        settings.escPresetId = id;
        settings.escNeutral = 1000;
        settings.escFullForward = 1700;
        settings.escFullReverse = 300;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(settings);
        ModalAnswerer answer;
        answer.press("No");
        answer.press("Yes");
        dialog.onDeletePreset();
        QVERIFY(store->findEscPreset(id));
        dialog.onDeletePreset();
        QCOMPARE(answer.records().at(1).text, QStringLiteral("Are you sure you want to delete the preset \"Crawler\"?"));
        QVERIFY(!store->findEscPreset(id));
        QCOMPARE(dialog.findChild<QComboBox *>()->currentText(), QStringLiteral("Custom..."));
        QCOMPARE(dialog.axisSettings().escNeutral, 1000);
    }

    // Standard mode with other stored values: shown, locked and kept, not rewritten.
    void standardKeepsStoredValues()
    {
        DialogRig rig;
        AxisSettings settings;
        settings.escMode = 0;
        settings.escNeutral = 1000;
        settings.escFullForward = 1900;
        settings.escFullReverse = 100;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(settings);
        layOut(dialog);
        QCOMPARE(dialog.findChild<QComboBox *>()->currentIndex(), 0);
        QSlider *forward = rowSlider(dialog, "Full Forward");
        QCOMPARE(forward->value(), 1900);
        QCOMPARE(rowSpin(forward)->value(), 1900);
        QVERIFY(!forward->isEnabled());
        const AxisSettings back = dialog.axisSettings();
        QCOMPARE(QList<int>({back.escFullReverse, back.escNeutral, back.escFullForward}), QList<int>({100, 1000, 1900}));
    }

    void carTab()
    {
        DialogRig rig;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(AxisSettings());
        layOut(dialog);
        for (const char *text : {"30s", "10%", "20%", "1200"})
            QVERIFY2(hasLabel(dialog, text), text);
        QSpinBox *buttonSpin = nullptr;
        for (QSpinBox *spin : dialog.findChildren<QSpinBox *>()) {
            if (spin->minimum() == -1)
                buttonSpin = spin;
        }
        QCOMPARE(buttonSpin->text(), QStringLiteral("None (Shifter only)"));
        QVERIFY(!buttonSpin->isEnabled());
        QVERIFY(!rowSlider(dialog, "Deceleration Rate")->isEnabled());
        QVERIFY(rowSlider(dialog, "Ramp Duration")->isEnabled());

        // Soft start off keeps its values and greys out its sliders.
        QCheckBox *softStart = nullptr;
        for (QCheckBox *check : dialog.findChildren<QCheckBox *>()) {
            if (check->isChecked() && !softStart)
                softStart = check;
        }
        softStart->setChecked(false);
        QVERIFY(!rowSlider(dialog, "Ramp Duration")->isEnabled());
        QCOMPARE(dialog.axisSettings().softStartDurationSec, 30);
        QVERIFY(!dialog.axisSettings().softStartEnabled);

        // Reverse mode: a wheel base is needed to detect its button.
        AxisSettings reverse;
        reverse.reverseEnabled = true;
        dialog.setAxisSettings(reverse);
        QVERIFY(buttonSpin->isEnabled());
        QPushButton *detect = button(dialog, "Detect");
        QVERIFY(detect->isEnabled());
        {
            ModalAnswerer answer;
            answer.press("OK");
            detect->click();
            QCOMPARE(answer.records().at(0).title, QStringLiteral("Wheel Base Not Connected"));
            QCOMPARE(answer.records().at(0).text, QStringLiteral("Please connect a wheel base to detect buttons."));
        }

        // Button 3 held on the wheel base: found on the first tick that sees it.
        QVERIFY(rig.openWheel());
        rig.wheel->setButton(3, true);
        detect->click();
        QCOMPARE(detect->text(), QStringLiteral("Press button..."));
        QVERIFY(!detect->isEnabled());
        for (int i = 0; i < 5; ++i)
            QMetaObject::invokeMethod(&dialog, "onDetectTick");
        QCOMPARE(buttonSpin->value(), 3);
        QCOMPARE(dialog.axisSettings().reverseButtonIndex, 3);
        QCOMPARE(detect->text(), QStringLiteral("Detect"));
        {
            // The time limit of a run that found its button shows nothing.
            ModalAnswerer answer;
            answer.press("OK");
            QMetaObject::invokeMethod(&dialog, "onDetectTimeout");
            QCoreApplication::processEvents();
            QVERIFY(answer.records().isEmpty());
        }

        // Nothing pressed within the time limit.
        rig.wheel->setButton(3, false);
        rig.settle();
        detect->click();
        QMetaObject::invokeMethod(&dialog, "onDetectTick");
        {
            ModalAnswerer answer;
            answer.press("OK");
            QMetaObject::invokeMethod(&dialog, "onDetectTimeout");
            QCOMPARE(answer.records().at(0).title, QStringLiteral("No Button Detected"));
            QCOMPARE(answer.records().at(0).text, QStringLiteral("No button press was detected within 5 seconds."));
        }
        QCOMPARE(detect->text(), QStringLiteral("Detect"));
        QCOMPARE(dialog.axisSettings().reverseButtonIndex, 3);

        // Unticking reverse keeps its values.
        dialog.onReverseEnabledChanged(false);
        QVERIFY(!detect->isEnabled() && !buttonSpin->isEnabled());
        QCOMPARE(dialog.axisSettings().reverseButtonIndex, 3);
    }

    // Reset writes the drive defaults and keeps what the dialog does not show.
    void laterTabs_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("steering") << 1 << "Steering Trim" << "center 1100  (+76)";
        QTest::newRow("car") << 2 << "Pit Limiter" << "1500";
    }

    // The Steering and Car tabs are filled after the dialog opens, one per pass, or at once when
    // turned to, with what was loaded before; Tab from the tab bar goes into the tab turned to.
    void laterTabs()
    {
        QFETCH(int, tab);
        QFETCH(QString, title);
        QFETCH(QString, loaded);
        DialogRig rig;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        AxisSettings settings;
        settings.steeringCenter = 1100;
        settings.pitLimiterValue = 1500;
        dialog.setAxisSettings(settings);
        QVERIFY(!hasLabel(dialog, "Steering Trim") && !hasLabel(dialog, "Pit Limiter"));
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto *tabs = dialog.findChild<QTabWidget *>();
        tabs->setCurrentIndex(tab);
        QVERIFY(hasLabel(dialog, title) && hasLabel(dialog, loaded));
        tabs->tabBar()->setFocus();
        QTest::keyClick(tabs->tabBar(), Qt::Key_Tab);
        QVERIFY(tabs->currentWidget()->isAncestorOf(QApplication::focusWidget()));
        QTRY_VERIFY(hasLabel(dialog, "Steering Trim") && hasLabel(dialog, "Pit Limiter"));
        QCOMPARE(dialog.axisSettings().pitLimiterValue, 1500);
    }

    void carValuesBeforeTheTab_data()
    {
        QTest::addColumn<int>("pitLimit");
        QTest::addColumn<int>("reverseMax");
        QTest::addColumn<int>("keptPitLimit");
        QTest::addColumn<int>("keptReverseMax");
        QTest::newRow("in range") << 1500 << 80 << 1500 << 80;
        // A value past a control's end is written back as the control's end, unless the control
        // stood there already.
        QTest::newRow("past the ends") << 3000 << 150 << 2047 << 150;
        QTest::newRow("below the ends") << -5 << -1 << 0 << 0;
    }

    // The Car tab's controls write back what they hold, built or not yet, and show what the copy
    // holds.
    void carValuesBeforeTheTab()
    {
        QFETCH(int, pitLimit);
        QFETCH(int, reverseMax);
        QFETCH(int, keptPitLimit);
        QFETCH(int, keptReverseMax);
        DialogRig rig;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        AxisSettings settings;
        settings.pitLimiterValue = pitLimit;
        settings.reverseMaxPercent = reverseMax;
        dialog.setAxisSettings(settings);
        QVERIFY(!hasLabel(dialog, "Pit Limiter"));
        QCOMPARE(dialog.axisSettings().pitLimiterValue, keptPitLimit);
        QCOMPARE(dialog.axisSettings().reverseMaxPercent, keptReverseMax);
        dialog.findChild<QTabWidget *>()->setCurrentIndex(2);
        // The value the copy holds, also where the stored one was past the slider's end.
        QVERIFY(hasLabel(dialog, QString::number(keptPitLimit)));
        QCOMPARE(dialog.axisSettings().pitLimiterValue, keptPitLimit);
        QCOMPARE(dialog.axisSettings().reverseMaxPercent, keptReverseMax);
    }

    void resetToDefaults()
    {
        DialogRig rig;
        AxisSettings loaded;
        loaded.steering.inverted = true;
        loaded.throttle.deadzone = 0.2f;
        loaded.wheelRotationDeg = 540;
        loaded.steeringAngleDeg = 30;
        loaded.gearThrottleLimitEnabled = true;
        loaded.gearThrottleLimitPercent[0] = 40;
        loaded.escMode = 2;
        loaded.escNeutral = 1000;
        loaded.steeringCenter = 1100;
        loaded.softStartEnabled = false;
        loaded.softStartDurationSec = 12;
        loaded.smoothDeceleration = true;
        loaded.decelRate = 70;
        loaded.pitLimiterEnabled = true;
        loaded.pitLimiterValue = 1500;
        loaded.reverseEnabled = true;
        loaded.reverseButtonIndex = 7;
        loaded.reverseMaxPercent = 50;
        loaded.stuckThrottleDetectionEnabled = false;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(loaded);
        button(dialog, "Reset to defaults")->click();
        QJsonObject got = dialog.axisSettings().toJson();
        QJsonObject want = AxisSettings().toJson();
        // The axes, rotation, steering angle and gear limits stay as loaded.
        for (const char *key : {"Steering", "Throttle", "wheelRotationDeg", "steeringAngleDeg",
                                "gearThrottleLimitEnabled", "gearThrottleLimitPercent"}) {
            QVERIFY2(got.value(key) == loaded.toJson().value(key), key);
            got.remove(key);
            want.remove(key);
        }
        QCOMPARE(got, want);
        QCOMPARE(rig.controller->axisSettings().steeringCenter, 1024);
    }

    // The ESC mode list shows its built-in item whole, with the current item as tool tip, and
    // the dialog's scroll area never scrolls sideways.
    void escModeShownWhole()
    {
        DialogRig rig;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(AxisSettings());
        layOut(dialog);
        dialog.findChild<QTabWidget *>()->setCurrentIndex(0);
        QCoreApplication::processEvents();
        auto *combo = dialog.findChild<QComboBox *>();
        QCOMPARE(combo->currentText(), QStringLiteral("Traxxas/Tamiya/Arma Standard (172-992-1811)"));
        QCOMPARE(combo->toolTip(), combo->currentText());
        QVERIFY2(combo->width() >= combo->sizeHint().width(), qPrintable(QString::number(combo->width())));
        QVERIFY(combo->width() >= 240);
        auto *scroll = dialog.findChild<QScrollArea *>();
        QVERIFY(!scroll->horizontalScrollBar()->isVisible());
        QCOMPARE(scroll->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }

    // A number box beside a slider shows the focus on its border, as the theme's inputs do.
    void numberBoxShowsFocus()
    {
        DialogRig rig;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        layOut(dialog);
        dialog.findChild<QTabWidget *>()->setCurrentIndex(1);
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QSpinBox *box = rowSpin(rowSlider(dialog, "Full Left"));
        box->setFocus(Qt::TabFocusReason);
        QVERIFY(box->hasFocus());
        QCOMPARE(box->grab().toImage().pixelColor(box->width() / 2, 0), ostra::ThemeColors::accent);
    }

    void render()
    {
        DialogRig rig;
        AxisSettings settings;
        settings.escMode = 2;
        settings.escNeutral = 990;
        settings.escFullForward = 1800;
        settings.escFullReverse = 180;
        settings.steeringLeft = 200;
        settings.steeringCenter = 1030;
        settings.steeringRight = 1850;
        settings.smoothDeceleration = true;
        settings.reverseEnabled = true;
        EscConfigDialog dialog(rig.controller.get(), nullptr);
        dialog.setAxisSettings(settings);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *tabs = dialog.findChild<QTabWidget *>();
        static const char *const names[] = {"throttle", "steering", "car"};
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
            QVERIFY(dialog.grab().toImage().save(ostratest::dialogPicture(QStringLiteral("drive-settings-%1").arg(names[i]))));
        }
        // Tall enough to show the whole Car tab without scrolling.
        dialog.resize(dialog.width(), 1300);
        QCoreApplication::processEvents();
        QVERIFY(dialog.grab().toImage().save(ostratest::dialogPicture("drive-settings-car-whole")));
    }

    void darkTheme()
    {
        if (ostra::isDarkTheme())
            QSKIP("this run is the dark one");
        QVERIFY(ostratest::runDarkTwin("dialogs", {"render"}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestEscConfigDialog)
#include "tst_escconfigdialog.moc"
