#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QTextLayout>

#include "api/wsescpresethandler.h"
#include "api/wsprofilehandler.h"
#include "app/mainwindow.h"
#include "app/profilemanagerdialog.h"
#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"
#include "dialogs/escconfigdialog.h"
#include "dialogs/presetspanel.h"
#include "heli/helicoptersetupwidget.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profilemanager.h"
#include "support/simulatedreceiver.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/textrecorder.h"
#include "support/writesdone.h"

namespace {

// Markup, an image and a shortcut mark: a name any client on the LAN may give a profile.
const QString Name = QStringLiteral("R&D <b>x</b><img src=/nonexistent/y.png> Traxxas Slash 4x4 Race");
// What a place that cuts long names shows at least.
const QString Start = QStringLiteral("R&D <b>x</b>");

QString squeezed(const QStringList &texts)
{
    QString all = texts.join(QString());
    all.removeIf([](QChar c) { return c.isSpace(); });
    return all;
}

void click(QWidget &parent, const QString &text)
{
    for (QPushButton *button : parent.findChildren<QPushButton *>()) {
        if (button->text() == text)
            button->click();
    }
}

// The texts the tool tip of `widget` at `pos` shows.
QStringList tipAt(QWidget *widget, const QPoint &pos)
{
    QHelpEvent help(QEvent::ToolTip, pos, widget->mapToGlobal(pos));
    QCoreApplication::sendEvent(widget, &help);
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->windowType() == Qt::ToolTip && window->isVisible())
            return ostratest::TextRecorder::paintedBy(window);
    }
    return {};
}

// Whether what the program wrote after `name` in `text` (from its first '(') reads left to
// right, character by character, as it was written.
bool tailReadsOn(const QString &text, const QString &name)
{
    QTextLayout layout(text, QApplication::font());
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const qsizetype tail = text.indexOf(QLatin1Char('('), text.indexOf(name) + name.size());
    for (qsizetype i = tail; i + 1 < text.size(); ++i) {
        if (tail < 0 || line.cursorToX(int(i)) >= line.cursorToX(int(i + 1)))
            return false;
    }
    return true;
}

} // namespace

class TestOutsideText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    // A name from the phone, a device or a file is shown as it was written wherever it appears.
    void shownAsWritten_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<bool>("whole");
        QTest::newRow("profile delete question") << "profile question" << true;
        QTest::newRow("profile list tool tip") << "profile list" << true;
        QTest::newRow("profile pill") << "pill" << false;
        QTest::newRow("profile pill tool tip") << "pill tip" << true;
        QTest::newRow("profile menu") << "menu" << false;
        QTest::newRow("ESC preset delete question") << "esc question" << true;
        QTest::newRow("ESC preset list tool tip") << "esc list" << true;
        QTest::newRow("controls preset delete question") << "presets question" << true;
        QTest::newRow("joystick tool tip") << "joystick" << true;
        QTest::newRow("receiver firmware in the console") << "console" << true;
        QTest::newRow("message box informative text") << "informative" << true;
        QTest::newRow("dialog title") << "title" << true;
    }

    void shownAsWritten()
    {
        QFETCH(QString, place);
        QFETCH(bool, whole);
        ostratest::freshDataFolder();
        corvane::VirtualInputBackend::instance()->reset();
        MainWindow window;
        window.resize(1280, 800);
        window.show();
        corvane::CorvaneController *c = window.controller();
        corvane::ProfileManager *store = c->profileManager();
        corvane::WsProfileHandler profiles(c, nullptr);
        profiles.handleEvent("action_rename_profile", {{"id", store->activeProfileId()}, {"name", Name}});
        QCOMPARE(store->activeProfileName(), Name);
        corvane::WsEscPresetHandler esc(c, nullptr);
        const QJsonObject created = esc.handleEvent(
            "action_create_esc_preset", {{"name", Name}, {"neutral", 992}, {"fullForward", 1811}, {"fullReverse", 172}});
        const QString presetId = created.value("data").toObject().value("id").toString();
        store->createProfile(QStringLiteral("Spare"));

        ostratest::ModalAnswerer answer;
        QStringList shown;
        if (place == QLatin1String("profile question") || place == QLatin1String("profile list")) {
            corvane::ProfileManagerDialog dialog(store, &window);
            dialog.show();
            auto *list = dialog.findChild<QListWidget *>();
            const QRect row = list->visualItemRect(list->currentItem());
            shown = tipAt(list->viewport(), row.center());
            if (place == QLatin1String("profile question")) {
                answer.press("No");
                click(dialog, QStringLiteral("Delete"));
                shown = answer.records().value(0).painted;
            }
        } else if (place.startsWith(QLatin1String("pill"))) {
            auto *pill = window.findChild<ostra::Pill *>(QStringLiteral("profilePill"));
            shown = place == QLatin1String("pill") ? ostratest::TextRecorder::paintedBy(pill)
                                                   : tipAt(pill, pill->rect().center());
        } else if (place == QLatin1String("menu")) {
            answer.cancel();
            window.rebuildProfileMenu();
            shown = answer.records().value(0).painted;
        } else if (place.startsWith(QLatin1String("esc"))) {
            AxisSettings settings;
            settings.escMode = 2;
            settings.escPresetId = presetId;
            corvane::EscConfigDialog dialog(c, &window);
            dialog.setAxisSettings(settings);
            dialog.show();
            auto *combo = dialog.findChild<QComboBox *>();
            shown = tipAt(combo, combo->rect().center());
            if (place == QLatin1String("esc question")) {
                answer.press("No");
                dialog.onDeletePreset();
                shown = answer.records().value(0).painted;
            }
        } else if (place == QLatin1String("presets question")) {
            store->saveUserPreset(QStringLiteral("controls"), Name, QJsonObject());
            corvane::PresetsPanel panel(c, QStringLiteral("controls"), QStringLiteral("Presets"), QString(), &window);
            answer.press("No");
            click(panel, QStringLiteral("Delete"));
            shown = answer.records().value(0).painted;
        } else if (place == QLatin1String("joystick")) {
            corvane::VirtualInputBackend::instance()->addDevice(corvane::VirtualDeviceSpec(Name));
            QVERIFY(c->connectHeliJoystick(0));
            auto *page = window.findChild<corvane::HelicopterSetupWidget *>();
            page->refreshFromController();
            ostra::Pill *pill = nullptr;
            for (ostra::Pill *candidate : page->findChildren<ostra::Pill *>()) {
                if (candidate->toolTip() == Name)
                    pill = candidate;
            }
            QVERIFY(pill);
            shown = tipAt(pill, pill->rect().center());
        } else if (place == QLatin1String("console")) {
            ostratest::SimulatedReceiver receiver;
            receiver.setFirmware(Name);
            QVERIFY(c->connectReceiver(receiver.portName(), 115200));
            c->receiverConfigManager()->resync();
            auto *console = window.findChild<QTextEdit *>(QStringLiteral("consoleOutput"));
            QTRY_VERIFY2(console->document()->toPlainText().contains(QStringLiteral("RX: QOR:")), qPrintable(console->document()->toPlainText().right(2000)));
            shown = console->document()->toPlainText().split(QLatin1Char('\n'));
        } else if (place == QLatin1String("informative")) {
            QMessageBox box(QMessageBox::Information, QStringLiteral("Preset"), Name, QMessageBox::Ok, &window);
            box.setInformativeText(Name);
            answer.press("OK");
            box.exec();
            shown = answer.records().value(0).painted;
            QVERIFY(squeezed(shown).count(squeezed({Name})) == 2);
        } else {
            QDialog dialog(&window);
            dialog.setWindowTitle(Name);
            ostra::applyDialogChrome(&dialog);
            dialog.minimumSizeHint();
            dialog.show();
            shown = ostratest::TextRecorder::paintedBy(&dialog);
        }
        QVERIFY2(squeezed(shown).contains(squeezed({whole ? Name : Start})), qPrintable(shown.join(QLatin1Char('|'))));
    }

    // A direction override in a game controller's name ends with the name: the counts a device
    // list writes after it read as written, and the list still finds the device once connected.
    void deviceListsIsolateNames_data()
    {
        QTest::addColumn<bool>("helicopter");
        QTest::addColumn<QString>("name");
        QTest::newRow("car page") << false << QStringLiteral("Wheel \u202EGT");
        QTest::newRow("helicopter page") << true << QStringLiteral("Wheel \u202EGT");
        // An isolate's end in the name would close the one it is put in.
        QTest::newRow("car page, an isolate ended first") << false << QStringLiteral("Wheel \u2069\u202EGT");
        QTest::newRow("helicopter page, an isolate ended first") << true << QStringLiteral("Wheel \u2069\u202EGT");
    }

    void deviceListsIsolateNames()
    {
        QFETCH(bool, helicopter);
        QFETCH(QString, name);
        corvane::VirtualInputBackend::instance()->reset();
        corvane::VirtualInputBackend::instance()->addDevice(corvane::VirtualDeviceSpec(name, 4, 12));
        MainWindow window;
        corvane::CorvaneController *c = window.controller();
        auto *page = window.findChild<corvane::HelicopterSetupWidget *>();
        QVERIFY(helicopter ? c->connectHeliJoystick(0) : c->connectWheelBase(0));
        if (helicopter)
            page->refreshFromController();
        else
            window.updateCarPageStatus();
        QStringList chosen;
        for (QComboBox *combo : (helicopter ? static_cast<QWidget *>(page) : &window)->findChildren<QComboBox *>()) {
            for (int i = 0; i < combo->count(); ++i) {
                if (combo->itemText(i).contains(name))
                    QVERIFY2(tailReadsOn(combo->itemText(i), name), qPrintable(combo->itemText(i)));
            }
            if (combo->currentText().contains(name))
                chosen << combo->currentText();
        }
        QCOMPARE(chosen.size(), 1);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestOutsideText)
#include "tst_outsidetext.moc"
