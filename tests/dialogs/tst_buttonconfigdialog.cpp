#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include "dialogrig.h"
#include "dialogs/buttonconfigdialog.h"
#include "ostraui/theme.h"
#include "profiles/profilename.h"
#include "platform/storage/settingsfile.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/themedrender.h"

Q_DECLARE_METATYPE(ButtonMapping)

using corvane::ButtonConfigDialog;
using ostratest::DialogRig;
using ostratest::ModalAnswerer;

namespace {

QPushButton *button(QWidget &dialog, const QString &text)
{
    for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// The controls of the "Button Configuration" grid, by their place in it.
struct Editor
{
    explicit Editor(ButtonConfigDialog &d)
        : dialog(d)
    {
        const QList<QComboBox *> combos = d.findChildren<QComboBox *>();
        channel = combos.at(0);
        mode = combos.at(1);
        units = combos.at(2);
        const QList<QSpinBox *> spins = d.findChildren<QSpinBox *>();
        value = spins.at(0);
        rate = spins.at(1);
        lowest = spins.at(2);
        highest = spins.at(3);
        start = spins.at(4);
        name = d.findChild<QLineEdit *>();
        pit = d.findChild<QCheckBox *>();
        list = d.findChild<QListWidget *>();
        capture = d.findChild<QGroupBox *>()->findChild<QLabel *>();
    }

    void setMode(int stored) { mode->setCurrentIndex(mode->findData(stored)); }
    QPushButton *add() const
    {
        QPushButton *b = button(dialog, "Add Mapping");
        return b ? b : button(dialog, "Update Mapping");
    }
    QStringList rows() const
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }

    ButtonConfigDialog &dialog;
    QComboBox *channel, *mode, *units;
    QSpinBox *value, *rate, *lowest, *highest, *start;
    QLineEdit *name;
    QCheckBox *pit;
    QListWidget *list;
    QLabel *capture;
};

// Polls the dialog the way its timer does.
void poll(ButtonConfigDialog &dialog, int times = 1)
{
    for (int i = 0; i < times; ++i)
        dialog.onPollButtons();
}

// Presses and releases one wheel button long enough for the device's debounce.
void tap(DialogRig &rig, ButtonConfigDialog &dialog, int buttonIndex)
{
    rig.wheel->setButton(buttonIndex, true);
    poll(dialog, 4);
    rig.wheel->setButton(buttonIndex, false);
    poll(dialog, 4);
}

ButtonMapping binding(const QString &name, int input, int mode = 0, int output = 2047, int start = 0)
{
    ButtonMapping m;
    m.name = name;
    m.buttonIndex = input;
    m.channel = 2;
    m.mode = mode;
    m.outputValue = output;
    m.startValue = start;
    return m;
}

// A dialog over a connected wheel base, its timer held still and its first poll done.
std::unique_ptr<ButtonConfigDialog> openDialog(DialogRig &rig)
{
    if (!rig.openWheel())
        return nullptr;
    auto dialog = std::make_unique<ButtonConfigDialog>(rig.controller.get(), nullptr);
    DialogRig::holdTimers(dialog.get(), 33);
    poll(*dialog);
    return dialog;
}

} // namespace

class TestButtonConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void names()
    {
        DialogRig rig;
        ButtonConfigDialog dialog(rig.controller.get(), nullptr);
        QCOMPARE(dialog.inputName(5), QStringLiteral("Button 5"));
        QCOMPARE(dialog.inputName(129), QStringLiteral("Hat 1 Right"));
        QCOMPARE(dialog.inputName(143), QStringLiteral("Hat 4 Left"));
        QCOMPARE(dialog.inputName(145), QStringLiteral("Axis 1 \u2212"));
        QCOMPARE(dialog.inputName(158), QStringLiteral("Axis 8 +"));
        QCOMPARE(dialog.inputDisplayName(5), QStringLiteral("Button 5"));
        corvane::CorvaneController *c = rig.controller.get();
        dialog.setInputDevices({c->heliJoystick(), c->heliThrottle(), c->heliPedals()}, {"Joystick", "Throttle", "Pedals"});
        QCOMPARE(dialog.inputDisplayName(160), QStringLiteral("Button 0 \u00b7 Throttle"));
        QCOMPARE(dialog.inputDisplayName(320), QStringLiteral("Button 0 \u00b7 Pedals"));
        dialog.setInputDevices({c->heliJoystick(), c->heliThrottle()}, {"Joystick"});
        QCOMPARE(dialog.inputDisplayName(161), QStringLiteral("Button 1 \u00b7 Device 2"));
        // Nothing connected: no input is pressed, polls capture nothing.
        QVERIFY(!dialog.hasConnectedDevice());
        QVERIFY(!dialog.isButtonPressed(-1));
        QVERIFY(!dialog.isButtonPressed(5000));
    }

    void capture()
    {
        DialogRig rig;
        QVERIFY(rig.openWheel());
        rig.wheel->setButton(5, true);
        rig.settle();
        ButtonConfigDialog dialog(rig.controller.get(), nullptr);
        DialogRig::holdTimers(&dialog, 33);
        Editor editor(dialog);
        QCOMPARE(editor.capture->text(), QStringLiteral("Press a button on your wheel..."));
        // Held as the dialog opens: not captured until released and pressed again.
        poll(dialog, 6);
        QVERIFY(!editor.add()->isEnabled());
        rig.wheel->setButton(5, false);
        poll(dialog, 4);
        rig.wheel->setButton(5, true);
        poll(dialog, 4);
        QCOMPARE(editor.capture->text(), QStringLiteral("Button 5  (press more to add)"));
        QVERIFY(editor.add()->isEnabled());
        // A tap shorter than the debounce is no press.
        rig.wheel->setButton(7, true);
        poll(dialog, 2);
        rig.wheel->setButton(7, false);
        poll(dialog, 4);
        QCOMPARE(editor.capture->text(), QStringLiteral("Button 5  (press more to add)"));
        // Pressing 5 again adds no duplicate; 7 joins.
        rig.wheel->setButton(5, false);
        poll(dialog, 4);
        tap(rig, dialog, 5);
        tap(rig, dialog, 7);
        QCOMPARE(editor.capture->text(), QStringLiteral("Button 5  +  Button 7  (press more to add)"));
        QVERIFY(editor.capture->styleSheet().contains("#12A66A"));

        // Clear keeps the editing position; reset returns to a new binding.
        button(dialog, "Clear Buttons")->click();
        QCOMPARE(editor.capture->text(), QStringLiteral("Press a button or hat on your wheel..."));
        QVERIFY(!editor.add()->isEnabled());

        // A hat at 45 degrees: Up, then Right, on one tick.
        rig.wheel->setPov(0, 4500);
        poll(dialog);
        QCOMPARE(editor.capture->text(), QStringLiteral("Hat 1 Up  +  Hat 1 Right  (press more to add)"));
    }

    void defaultsAndUnits()
    {
        DialogRig rig;
        auto dialog = openDialog(rig);
        QVERIFY(dialog);
        Editor editor(*dialog);
        tap(rig, *dialog, 4);
        editor.name->setText("  Horn ");
        editor.add()->click();
        QCOMPARE(dialog->mappings().mappings.size(), 1);
        const ButtonMapping m = dialog->mappings().mappings.at(0);
        QCOMPARE(m.name, QStringLiteral("Horn"));
        QCOMPARE(QList<int>({m.outputValue, m.rateUnitsPerSec, m.minValue, m.maxValue, m.startValue}),
                 QList<int>({2047, 1024, 0, 2047, 1024}));
        QCOMPARE(m.channel, 2);
        QCOMPARE(m.mode, 0);
        QCOMPARE(m.buttonIndex, 4);
        QVERIFY(editor.name->text().isEmpty());
        QCOMPARE(editor.add()->text(), QStringLiteral("Add Mapping"));
        QVERIFY(!editor.add()->isEnabled());
        QCOMPARE(editor.rows(), QStringList{"Horn - Button 4 -> CH3 (press 100%, release 50%)"});

        // Percent → CRSF → percent keeps each value.
        for (int percent : {50, 99}) {
            editor.value->setValue(percent);
            editor.units->setCurrentIndex(1);
            QCOMPARE(editor.value->value(), ButtonConfigDialog::percentToCrsf(percent));
            QCOMPARE(editor.rows(), QStringList{"Horn - Button 4 -> CH3 (press 2047, release 1024)"});
            QVERIFY(corvane::SettingsFile().value("buttonConfig/crsfUnits").toBool());
            editor.units->setCurrentIndex(0);
            QCOMPARE(editor.value->value(), percent);
        }
        QCOMPARE(ButtonConfigDialog::percentToCrsf(50), 1024);
        QCOMPARE(ButtonConfigDialog::percentToCrsf(99), 2027);
        QCOMPARE(ButtonConfigDialog::percentToCrsf(500), 10235);
        QCOMPARE(ButtonConfigDialog::crsfToPercent(992), 48);

        // The units choice is remembered for the next dialog.
        editor.units->setCurrentIndex(1);
        ButtonConfigDialog next(rig.controller.get(), nullptr);
        Editor nextEditor(next);
        QCOMPARE(nextEditor.units->currentIndex(), 1);
        QCOMPARE(nextEditor.value->value(), 2047);
        QCOMPARE(nextEditor.rate->maximum(), 10235);
        QCOMPARE(nextEditor.rate->value(), 1024);
    }

    void rows_data()
    {
        QTest::addColumn<ButtonMapping>("mapping");
        QTest::addColumn<QString>("percent");
        QTest::addColumn<QString>("crsf");
        ButtonMapping toggle = binding("Lights", 3, 3, 2047, 0);
        QTest::newRow("toggle") << toggle << "Lights - Button 3 -> CH3 (Toggle: 0% / 100%)"
                                << "Lights - Button 3 -> CH3 (Toggle: 0 / 2047)";
        ButtonMapping up = binding("Motor up", 130, 1, 2047, 1024);
        up.rateUnitsPerSec = 1024;
        up.maxValue = 2047;
        up.channel = 11;
        up.activatesPitLimiter = true;
        QTest::newRow("raise") << up << "Motor up - Hat 1 Down -> CH12 (+50%/s, 0%..100%, start 50%) [PIT]"
                               << "Motor up - Hat 1 Down -> CH12 (+1024/s, 0..2047, start 1024) [PIT]";
        ButtonMapping two = binding("Idle", 1, 4, 992);
        two.extraButtons = {2};
        QTest::newRow("position, two inputs") << two << "Idle - Button 1 / Button 2 -> CH3 (Position: 48%)"
                                              << "Idle - Button 1 / Button 2 -> CH3 (Position: 992)";
    }

    void rows()
    {
        QFETCH(ButtonMapping, mapping);
        QFETCH(QString, percent);
        QFETCH(QString, crsf);
        DialogRig rig;
        ButtonConfigDialog dialog(rig.controller.get(), nullptr);
        Editor editor(dialog);
        ButtonMappingSet set;
        set.mappings = {mapping};
        dialog.setMappings(set);
        QCOMPARE(editor.rows(), QStringList{percent});
        editor.units->setCurrentIndex(1);
        QCOMPARE(editor.rows(), QStringList{crsf});
    }

    void validation_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("lowest");
        QTest::addColumn<int>("highest");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("error");
        QTest::newRow("no name") << "   " << 10 << 90 << 50 << "Please enter an action name.";
        QTest::newRow("min not below max") << "Up" << 30 << 30 << 30 << "Min must be less than Max.";
        QTest::newRow("start above max") << "Up" << 10 << 90 << 95 << "Start must be between Min and Max.";
        QTest::newRow("start below min") << "Up" << 10 << 90 << 5 << "Start must be between Min and Max.";
        QTest::newRow("start at min") << "Up" << 10 << 90 << 10 << "";
        QTest::newRow("start at max") << "Up" << 10 << 90 << 90 << "";
        // Held to the length the API's import takes.
        QTest::newRow("long name") << QString(5000, 'n') << 10 << 90 << 50 << "";
    }

    void validation()
    {
        QFETCH(QString, name);
        QFETCH(int, lowest);
        QFETCH(int, highest);
        QFETCH(int, start);
        QFETCH(QString, error);
        DialogRig rig;
        auto dialog = openDialog(rig);
        QVERIFY(dialog);
        Editor editor(*dialog);
        tap(rig, *dialog, 2);
        editor.name->setText(name);
        editor.setMode(1);
        editor.lowest->setValue(lowest);
        editor.highest->setValue(highest);
        editor.start->setValue(start);
        ModalAnswerer answer;
        answer.press("OK");
        editor.add()->click();
        QCoreApplication::processEvents();
        if (error.isEmpty()) {
            QVERIFY(answer.records().isEmpty());
            QCOMPARE(dialog->mappings().mappings.size(), 1);
            QCOMPARE(dialog->mappings().mappings.at(0).startValue, ButtonConfigDialog::percentToCrsf(start));
            QCOMPARE(dialog->mappings().mappings.at(0).name, name.left(corvane::ProfileName::MaxLength));
        } else {
            QCOMPARE(answer.records().at(0).title, QStringLiteral("Error"));
            QCOMPARE(answer.records().at(0).text, error);
            QVERIFY(dialog->mappings().mappings.isEmpty());
            QVERIFY(editor.add()->isEnabled()); // the capture stays for a correction
        }
    }

    void editing()
    {
        DialogRig rig;
        auto dialog = openDialog(rig);
        QVERIFY(dialog);
        Editor editor(*dialog);
        ButtonMappingSet set;
        set.mappings = {binding("A", 1), binding("B", 2), binding("C", 3)};
        dialog->setMappings(set);

        // A new binding on a bound first input replaces it.
        tap(rig, *dialog, 2);
        editor.name->setText("B2");
        editor.add()->click();
        QCOMPARE(dialog->mappings().mappings.size(), 3);
        QCOMPARE(dialog->mappings().mappings.at(1).name, QStringLiteral("B2"));

        // Selecting a row edits it.
        editor.list->setCurrentRow(0);
        QCOMPARE(editor.add()->text(), QStringLiteral("Update Mapping"));
        QVERIFY(editor.add()->isEnabled());
        QCOMPARE(editor.name->text(), QStringLiteral("A"));
        QCOMPARE(editor.capture->text(), QStringLiteral("Editing \u2014 Button 1  (press more to add)"));
        QVERIFY(button(*dialog, "Remove Selected")->isEnabled());

        // Removing it returns the editor to a new binding: the next add overwrites nothing.
        button(*dialog, "Remove Selected")->click();
        QCOMPARE(editor.add()->text(), QStringLiteral("Add Mapping"));
        QVERIFY(!editor.add()->isEnabled());
        QVERIFY(!button(*dialog, "Remove Selected")->isEnabled());
        QCOMPARE(editor.capture->text(), QStringLiteral("Press a button or hat on your wheel..."));
        tap(rig, *dialog, 9);
        editor.name->setText("Horn");
        editor.add()->click();
        QStringList names;
        for (const ButtonMapping &m : dialog->mappings().mappings)
            names << m.name;
        QCOMPARE(names, QStringList({"B2", "C", "Horn"}));

        // Clear all asks first.
        ModalAnswerer answer;
        answer.press("No");
        answer.press("Yes");
        button(*dialog, "Clear All")->click();
        QCOMPARE(dialog->mappings().mappings.size(), 3);
        button(*dialog, "Clear All")->click();
        QCOMPARE(answer.records().at(1).text, QStringLiteral("Are you sure you want to remove all button mappings?"));
        QVERIFY(dialog->mappings().mappings.isEmpty());
        QCOMPARE(editor.list->count(), 0);
    }

    // The arm switch is sent over its channel: the helicopter's dialog says so where a mapping
    // would sit there, marks such mappings, and starts a new one elsewhere.
    void armChannel_data()
    {
        QTest::addColumn<bool>("said"); // the arm switch is on: the note and the row's mark
        QTest::addColumn<QString>("nextChannel"); // after "Reset / Capture Another"
        QTest::newRow("arm switch on CH5") << true << "CH7";
        QTest::newRow("arm switch off") << false << "CH5";
    }

    void armChannel()
    {
        QFETCH(bool, said);
        QFETCH(QString, nextChannel);
        DialogRig rig;
        auto dialog = openDialog(rig);
        QVERIFY(dialog);
        Editor editor(*dialog);
        ButtonMappingSet set;
        set.mappings = {binding("Lights", 1), binding("Horn", 2)};
        set.mappings[0].channel = 4;
        set.mappings[1].channel = 5;
        dialog->setMappings(set);
        HelicopterConfig config;
        config.fly.arm.enabled = said;
        dialog->useHelicopterChannels(config);
        auto *note = dialog->findChild<QLabel *>("armChannelNote");
        QVERIFY(note);
        QVERIFY(note->isHidden());
        const QString mark = QStringLiteral(" [no effect: arm channel]");
        QCOMPARE(editor.rows().at(0).endsWith(mark), said);
        QVERIFY(!editor.rows().at(1).endsWith(mark));

        editor.list->setCurrentRow(0);
        QCOMPARE(editor.channel->currentText(), QStringLiteral("CH5"));
        QCOMPARE(!note->isHidden(), said);
        if (said) {
            QCOMPARE(note->text(), QStringLiteral("CH5 is the arm channel while \"Enable arm channel\" is on (Arming "
                                                  "& Safety): the arm value is sent there, so a button mapped to it "
                                                  "does nothing."));
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
            dialog->resize(dialog->sizeHint().expandedTo(QSize(520, 860)));
            QCoreApplication::processEvents();
            QVERIFY(dialog->grab().toImage().save(ostratest::dialogPicture("configure-buttons-arm-channel")));
        }
        button(*dialog, "Reset / Capture Another")->click();
        QCOMPARE(editor.channel->currentText(), nextChannel);
        QVERIFY(note->isHidden());
    }

    void clearAllOnEmptyAsksNothing()
    {
        DialogRig rig;
        ButtonConfigDialog dialog(rig.controller.get(), nullptr);
        ModalAnswerer answer;
        answer.press("Yes");
        dialog.onClearAll();
        QCoreApplication::processEvents();
        QVERIFY(answer.records().isEmpty());
    }

    void upsert()
    {
        QList<ButtonMapping> list{binding("A", 1), binding("B", 2)};
        upsertButtonMapping(list, binding("B2", 2, 3));
        upsertButtonMapping(list, binding("C", 3));
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(1).name, QStringLiteral("B2"));
        QCOMPARE(list.at(1).mode, 3);
        QCOMPARE(list.at(2).name, QStringLiteral("C"));
    }

    void render()
    {
        DialogRig rig;
        ButtonConfigDialog dialog(rig.controller.get(), nullptr);
        DialogRig::holdTimers(&dialog, 33);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(dialog.sizeHint().expandedTo(QSize(520, 760)));
        QCoreApplication::processEvents();
        QVERIFY(dialog.grab().toImage().save(ostratest::dialogPicture("configure-buttons-empty")));

        ButtonMappingSet set;
        ButtonMapping up = binding("Motor up", 128, 1, 2047, 1024);
        up.activatesPitLimiter = true;
        ButtonMapping two = binding("Idle-up", 1, 4, 992);
        two.extraButtons = {2};
        set.mappings = {binding("Horn", 4), binding("Lights", 5, 3), up, two};
        dialog.setMappings(set);
        Editor(dialog).list->setCurrentRow(2);
        QCoreApplication::processEvents();
        QVERIFY(dialog.grab().toImage().save(ostratest::dialogPicture("configure-buttons-bindings")));

        // Opened for the helicopter: its devices, its channels, the arm switch on CH5.
        ButtonConfigDialog heli(rig.controller.get(), nullptr);
        DialogRig::holdTimers(&heli, 33);
        corvane::CorvaneController *c = rig.controller.get();
        heli.setInputDevices({c->heliJoystick(), c->heliThrottle(), c->heliPedals()}, {"Joystick", "Throttle", "Pedals"});
        HelicopterConfig config;
        config.fly.arm.enabled = true;
        heli.useHelicopterChannels(config);
        heli.show();
        QVERIFY(QTest::qWaitForWindowExposed(&heli));
        heli.resize(heli.sizeHint().expandedTo(QSize(520, 760)));
        QCoreApplication::processEvents();
        QVERIFY(heli.grab().toImage().save(ostratest::dialogPicture("configure-buttons-helicopter")));
        QVERIFY(ostratest::saveModalPicture(&heli, [&heli] { heli.onInfoClicked(); },
                                            ostratest::dialogPicture("configure-buttons-helicopter-about")));
    }

    void darkTheme()
    {
        if (ostra::isDarkTheme())
            QSKIP("this run is the dark one");
        QVERIFY(ostratest::runDarkTwin("dialogs", {"render", "armChannel"}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestButtonConfigDialog)
#include "tst_buttonconfigdialog.moc"
