#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>

#include "app/mainwindow.h"
#include "app/onboardingwizard.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "support/darktwin.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/writesdone.h"

using corvane::OnboardingWizard;

namespace {

corvane::SerialPortEntry port(const QString &name, const QString &description = QString())
{
    corvane::SerialPortEntry entry;
    entry.portName = name;
    entry.description = description;
    return entry;
}

// A port listed as the transmitter's USB serial device, whatever its node is called.
corvane::SerialPortEntry usbPort(const QString &name, const QString &description = QString())
{
    corvane::SerialPortEntry entry = port(name, description);
    entry.vendorId = 0x2E8A;
    return entry;
}

// Counts the style changes of widgets while it is installed.
struct StyleChanges : QObject
{
    StyleChanges() { qApp->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange && watched->isWidgetType())
            ++seen;
        return false;
    }
    int seen = 0;
};

// The guide as the user reads it.
struct Guide
{
    OnboardingWizard &wizard;

    template<typename T = QLabel>
    T *named(const char *name) const
    {
        wizard.finishPages();
        return wizard.findChild<T *>(QLatin1String(name));
    }
    int page() const { return wizard.findChild<QStackedWidget *>()->currentIndex(); }
    QString step() const { return named("stepLabel")->text(); }
    QPushButton *button(const char *name) const { return named<QPushButton>(name); }
    QPushButton *next() const { return button("nextBtn"); }
    QComboBox *combo(const char *name) const { return named<QComboBox>(name); }
    int bar(const char *name) const { return named<QProgressBar>(name)->value(); }
    void tick() const
    {
        wizard.finishPages();
        wizard.onTick();
    }
    // Forward to the page, ticking the box of page 2 on the way; false when a gate holds.
    bool advanceTo(int index) const
    {
        while (page() < index) {
            const int from = page();
            if (from == 1)
                named<QCheckBox>("poweredCheck")->setChecked(true);
            wizard.onNext();
            if (page() == from)
                return false;
        }
        return true;
    }
};

// A transmitter on a pty, a force-feedback wheel, pedals and a shifter, all unplugged from the bridge.
struct Rig
{
    Rig()
    {
        input = corvane::VirtualInputBackend::instance();
        input->reset();
        wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Wheel"), 6, 12, 1, true));
        pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Pedals"), 8, 8, 0));
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Shifter"), 0, 16, 0));
        for (int axis = 0; axis < 6; ++axis)
            wheel->setAxis(axis, 0.0f);
        for (int axis = 0; axis < 8; ++axis)
            pedals->setAxis(axis, -1.0f);
        corvane::SerialPortLister::setFixedPorts({usbPort(tx.portName(), QStringLiteral("QOR Transmitter"))});
    }
    ~Rig() { corvane::SerialPortLister::setFixedPorts({}); }

    // Transmitter, wheel base and pedals connected, the transmitter's answer in, each axis where
    // the device reports it, the pedals read once released as when they are plugged in.
    bool plugInto(corvane::CorvaneController &controller)
    {
        if (!connectTransmitter(controller) || !controller.connectWheelBase(0) || !controller.connectPedals(1))
            return false;
        controller.setWheelBaseAxisMapping(AxisMapping());
        controller.setPedalsAxisMapping(AxisMapping());
        controller.pedals()->poll();
        return true;
    }

    bool connectTransmitter(corvane::CorvaneController &controller)
    {
        return controller.connectTransmitter(tx.portName(), 115200)
               && tx.waitFor([&controller] { return controller.isTransmitterAnswered(); });
    }

    corvane::VirtualInputBackend *input;
    corvane::VirtualInputDevice *wheel;
    corvane::VirtualInputDevice *pedals;
    ostratest::SimulatedTransmitter tx;
};

// Connects one row of the controls page the way a user does: pick the device, press its button.
void connectRow(const Guide &guide, const char *combo, const char *button, int device)
{
    QComboBox *box = guide.combo(combo);
    box->setCurrentIndex(box->findData(device));
    guide.button(button)->click();
}

} // namespace

class TestOnboardingWizard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        corvane::SettingsFile().setValue(QStringLiteral("ui/reduceMotion"), true);
    }

    void init()
    {
        ostratest::freshDataFolder();
        corvane::VirtualInputBackend::instance()->reset();
        corvane::SerialPortLister::setFixedPorts({});
    }

    void firstPages()
    {
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        QCOMPARE(guide.step(), QStringLiteral("Step 1 of 7"));
        QVERIFY(!guide.button("backBtn")->isEnabled());
        QVERIFY(guide.next()->isEnabled());
        wizard.onBack();
        QCOMPARE(guide.page(), 0);

        wizard.onNext();
        QCOMPARE(guide.step(), QStringLiteral("Step 2 of 7"));
        QVERIFY(guide.button("backBtn")->isEnabled());
        QVERIFY(!guide.next()->isEnabled());
        // The gate holds when Next is pressed whatever the button shows.
        wizard.onNext();
        QCOMPARE(guide.page(), 1);
        // Ticking enables Next at once, before the next tick.
        guide.named<QCheckBox>("poweredCheck")->setChecked(true);
        QVERIFY(guide.next()->isEnabled());
        wizard.onNext();
        QCOMPARE(guide.step(), QStringLiteral("Step 3 of 7"));
        QVERIFY(!guide.next()->isEnabled());
        wizard.onBack();
        QCOMPARE(guide.step(), QStringLiteral("Step 2 of 7"));
    }


    // On step 1 "Back" is disabled and looks it: its label is drawn fainter than on step 2.
    void backLooksDisabledOnStepOne()
    {
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        wizard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wizard));
        Guide guide{wizard};
        QPushButton *back = guide.button("backBtn");
        // The darkest pixel of the label: its ink.
        const auto ink = [back] {
            const QImage image = back->grab().toImage();
            int darkest = 255;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (qAlpha(image.pixel(x, y)) > 200)
                        darkest = qMin(darkest, qGray(image.pixel(x, y)));
                }
            }
            return darkest;
        };
        QVERIFY(!back->isEnabled());
        const int disabled = ink();
        wizard.onNext();
        QVERIFY(back->isEnabled());
        const int enabled = ink();
        QVERIFY2(disabled - enabled >= 40, qPrintable(QStringLiteral("%1 vs %2").arg(disabled).arg(enabled)));
    }

    void portList_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("shown");
        QTest::newRow("described") << "QOR Transmitter" << "%1 \u2014 QOR Transmitter";
        QTest::newRow("no description") << "" << "%1";
    }

    void portList()
    {
        QFETCH(QString, description);
        QFETCH(QString, shown);
        const QString first = QStringLiteral("/dev/ttyFAKE0");
        const QString second = QStringLiteral("/dev/ttyFAKE1");
        corvane::SerialPortLister::setFixedPorts({usbPort(first, description), usbPort(second, description)});
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        QComboBox *ports = guide.combo("guidePortCombo");
        QVERIFY(ports->isEnabled());
        QCOMPARE(ports->count(), 2);
        QCOMPARE(ports->itemText(0), shown.arg(first));
        QCOMPARE(ports->itemData(1), QVariant(second));
        // The chosen port survives a refresh; a port that went away falls back to the first.
        ports->setCurrentIndex(1);
        wizard.onRefreshPorts();
        QCOMPARE(ports->currentData(), QVariant(second));
        corvane::SerialPortLister::setFixedPorts({usbPort(first, description)});
        wizard.onRefreshPorts();
        QCOMPARE(ports->currentData(), QVariant(first));
    }

    // Opening builds the first step only; the others and the port list follow in later passes,
    // once the guide has been painted.
    void laterStepsFollowOpening()
    {
        corvane::SerialPortLister::setFixedPorts({usbPort(QStringLiteral("/dev/ttyFAKE0"))});
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        QCOMPARE(wizard.builtPages(), 1);
        QVERIFY(!wizard.findChild<QComboBox *>(QStringLiteral("guidePortCombo")));
        QCoreApplication::processEvents();
        QCOMPARE(wizard.builtPages(), 1);
        wizard.show();
        QTRY_COMPARE(wizard.builtPages(), 7);
        QTRY_COMPARE(wizard.findChild<QComboBox *>(QStringLiteral("guidePortCombo"))->count(), 1);
        corvane::SerialPortLister::setFixedPorts({});
    }

    // Each later step is made where it stays: its widgets are styled as they are made and once
    // more at most, never as a filled card moved onto its page.
    void laterStepsStyledOnce()
    {
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        const int before = int(wizard.findChildren<QWidget *>().size());
        StyleChanges count;
        wizard.finishPages();
        qApp->removeEventFilter(&count);
        const int made = int(wizard.findChildren<QWidget *>().size()) - before;
        QVERIFY(made > 0);
        QVERIFY2(count.seen <= 2 * made, qPrintable(QStringLiteral("%1 for %2 widgets").arg(count.seen).arg(made)));
    }

    // An on-board UART listed first by the system does not take the place of the transmitter.
    void usbPortPreselected()
    {
        corvane::SerialPortLister::setFixedPorts(
            {port(QStringLiteral("ttyS0")), usbPort(QStringLiteral("ttyACM0"), QStringLiteral("QOR Transmitter"))});
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        QComboBox *ports = Guide{wizard}.combo("guidePortCombo");
        QCOMPARE(ports->currentData(), QVariant(QStringLiteral("ttyACM0")));
        QCOMPARE(ports->itemText(1), QStringLiteral("ttyS0"));
    }

    void noPorts()
    {
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        QComboBox *ports = guide.combo("guidePortCombo");
        QCOMPARE(ports->count(), 1);
        QCOMPARE(ports->itemText(0), QStringLiteral("(no USB ports found)"));
        QCOMPARE(ports->itemData(0), QVariant(QString()));
        QVERIFY(!ports->isEnabled());
        // Buttons that could do nothing are not offered.
        for (const char *name : {"guideTransmitterBtn", "guideWheelBtn", "guidePedalsBtn", "guideShifterBtn"})
            QVERIFY2(!guide.button(name)->isEnabled(), name);
        ostratest::ModalAnswerer answer;
        answer.cancel();
        wizard.onConnectTransmitterClicked();
        QCoreApplication::processEvents();
        QCOMPARE(answer.records().size(), 0);
        QVERIFY(!controller.isSerialConnected());
        // No game controller either: every device combo shows its placeholder.
        for (const char *name : {"guideWheelCombo", "guidePedalsCombo", "guideShifterCombo"}) {
            QCOMPARE(guide.combo(name)->itemText(0), QStringLiteral("(no input devices found)"));
            QCOMPARE(guide.combo(name)->itemData(0), QVariant(-1));
            QVERIFY(!guide.combo(name)->isEnabled());
        }
        wizard.onConnectWheelClicked();
        QCoreApplication::processEvents();
        QCOMPARE(answer.records().size(), 0);
    }


    // A failed connect says so and leaves the row as it was.
    void failedConnectIsShown_data()
    {
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<QString>("text");
        QTest::newRow("transmitter")
            << QByteArray("Transmitter")
            << "Couldn't open /nonexistent/ttyQOR. Check that the transmitter is plugged in and on.";
        QTest::newRow("wheel") << QByteArray("Wheel")
                               << "Couldn't open the selected wheel. Try refreshing or picking a different device.";
        QTest::newRow("pedals") << QByteArray("Pedals") << "Couldn't open the selected pedals.";
        QTest::newRow("shifter") << QByteArray("Shifter") << "Couldn't open the selected shifter.";
    }

    void failedConnectIsShown()
    {
        QFETCH(QByteArray, row);
        QFETCH(QString, text);
        corvane::VirtualInputBackend::instance()
            ->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Broken")))
            ->failStep(corvane::VirtualInputStep::CreateDevice);
        corvane::SerialPortLister::setFixedPorts({usbPort(QStringLiteral("/nonexistent/ttyQOR"))});
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        // Made for no role, it is picked by hand.
        if (QComboBox *devices = guide.combo(QByteArray("guide" + row + "Combo").constData()))
            devices->setCurrentIndex(0);
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("OK"));
        guide.button(QByteArray("guide" + row + "Btn").constData())->click();
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QStringLiteral("Couldn't connect"));
        QCOMPARE(answer.records().at(0).text, text);
        guide.tick();
        QCOMPARE(guide.named(QByteArray("guide" + row + "Status").constData())->text(), QStringLiteral("Not connected."));
    }

    // Step 3 says "Connected" only once the transmitter has answered, after every connect; until
    // then it says it waits, and a port where the queries gave up is named with the car page's
    // hint. Next waits for the answer. The header and the car page's Transmission row say the same.
    void silentTransmitter_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::newRow("transmitter answers") << "answered";
        QTest::newRow("not answered yet") << "waiting";
        QTest::newRow("reconnected, not answered yet") << "reconnected";
        QTest::newRow("nothing answers") << "silent";
    }

    void silentTransmitter()
    {
        QFETCH(QString, phase);
        Rig rig;
        rig.tx.setSilent(phase == "waiting");
        rig.tx.setAnswersId(phase != "silent");
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        OnboardingWizard wizard(controller, &window);
        Guide guide{wizard};
        QVERIFY(guide.advanceTo(2));
        QPushButton *connect = guide.button("guideTransmitterBtn");
        connect->click();
        QVERIFY(controller->isSerialConnected());
        if (phase == "silent") {
            QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
            for (int query = 0; query < 4; ++query)
                QVERIFY(QMetaObject::invokeMethod(controller, "onDeviceIdRetry"));
        } else if (phase != "waiting") {
            QVERIFY(rig.tx.waitFor([controller] { return controller->isTransmitterAuthorized(); }));
        }
        if (phase == "reconnected") {
            rig.tx.setSilent(true);
            connect->click();
            connect->click();
            QVERIFY(controller->isSerialConnected());
        }
        QCOMPARE(rig.tx.waitFor([controller] { return controller->isTransmitterAnswered(); }, 300), phase == "answered");
        guide.tick();
        const QString port = rig.tx.portName();
        const QString expected = phase == "answered" ? QStringLiteral("Connected on %1.").arg(port)
                                 : phase == "silent" ? window.findChild<QLabel *>(QStringLiteral("txHint"))->text()
                                                     : QStringLiteral("%1 is open. Waiting for the transmitter to "
                                                                      "answer\u2026").arg(port);
        QCOMPARE(guide.named("guideTransmitterStatus")->text(), expected);
        if (phase == "silent")
            QVERIFY(expected.startsWith(QStringLiteral("Nothing answers on ") + port));
        const bool waiting = phase == "waiting" || phase == "reconnected";
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("requiredStatus0"))->text(),
                 waiting ? QStringLiteral("Waiting for an answer\u2026")
                 : phase == "silent" ? QStringLiteral("No answer on %1").arg(port) : QStringLiteral("Connected"));
        QCOMPARE(window.findChild<ostra::Pill *>(QStringLiteral("transmitterPill"))->value(),
                 waiting ? QStringLiteral("Waiting\u2026") : phase == "silent" ? QStringLiteral("No answer") : QStringLiteral("Connected"));
        QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
        QCOMPARE(guide.next()->isEnabled(), phase == "answered");
        if (phase == "silent" || phase == "waiting") {
            wizard.show();
            QVERIFY(QTest::qWaitForWindowExposed(&wizard));
            QVERIFY(wizard.grab().save(ostratest::artefactDir(QStringLiteral("app"))
                                       + QStringLiteral("/onboarding-3-%1-%2.png").arg(phase, ostra::isDarkTheme() ? "dark" : "light")));
        }
        wizard.onNext();
        QCOMPARE(guide.page(), phase == "answered" ? 3 : 2);
    }

    // Space on Connect, then on Disconnect, leaves the keyboard on the button: the port list
    // filled again in between does not pass the focus on to Back.
    void transmitterButtonKeepsFocus()
    {
        Rig rig;
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        wizard.show();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        QVERIFY(guide.advanceTo(2));
        QPushButton *connect = guide.button("guideTransmitterBtn");
        connect->setFocus();
        for (bool connected : {true, false}) {
            QTest::keyClick(connect, Qt::Key_Space);
            QCOMPARE(controller.isSerialConnected(), connected);
            QCOMPARE(QApplication::focusWidget(), connect);
        }
    }

    // Page 3 asks for the transmitter, page 4 for wheel base and pedals; the shifter never counts.
    void connectPages()
    {
        Rig rig;
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        QVERIFY(guide.advanceTo(2));
        guide.combo("guidePortCombo")->setCurrentIndex(guide.combo("guidePortCombo")->findData(rig.tx.portName()));
        guide.button("guideTransmitterBtn")->click();
        QVERIFY(controller.isSerialConnected());
        QVERIFY(rig.tx.waitFor([&controller] { return controller.isTransmitterAnswered(); }));
        guide.tick();
        QCOMPARE(guide.named("guideTransmitterStatus")->text(), QStringLiteral("Connected on %1.").arg(rig.tx.portName()));
        QCOMPARE(guide.button("guideTransmitterBtn")->text(), QStringLiteral("Disconnect"));
        QVERIFY(guide.next()->isEnabled());
        wizard.onNext();
        QCOMPARE(guide.page(), 3);

        QCOMPARE(guide.combo("guidePedalsCombo")->count(), 3);
        QCOMPARE(guide.combo("guidePedalsCombo")->itemText(1), QStringLiteral("Test Pedals"));
        connectRow(guide, "guideWheelCombo", "guideWheelBtn", 0);
        connectRow(guide, "guideShifterCombo", "guideShifterBtn", 2);
        QVERIFY(controller.isWheelBaseConnected() && controller.isShifterConnected());
        guide.tick();
        QCOMPARE(guide.named("guideWheelStatus")->text(), QStringLiteral("Connected \u2014 Test Wheel"));
        QCOMPARE(guide.button("guideWheelBtn")->text(), QStringLiteral("Disconnect"));
        QCOMPARE(guide.named("guidePedalsStatus")->text(), QStringLiteral("Not connected."));
        QVERIFY(!guide.next()->isEnabled());
        wizard.onNext();
        QCOMPARE(guide.page(), 3);
        connectRow(guide, "guidePedalsCombo", "guidePedalsBtn", 1);
        QVERIFY(controller.isPedalsConnected());
        QTRY_VERIFY_WITH_TIMEOUT(guide.next()->isEnabled(), 1000);
        // A refresh keeps each role on the device it has.
        wizard.onRefreshDevices();
        QCOMPARE(guide.combo("guidePedalsCombo")->currentText(), QStringLiteral("Test Pedals"));
        QCOMPARE(guide.combo("guideShifterCombo")->currentText(), QStringLiteral("Test Shifter"));
        guide.button("guideShifterBtn")->click();
        QVERIFY(!controller.isShifterConnected());
        guide.tick();
        QVERIFY(guide.next()->isEnabled());

        // Losing the transmitter here moves nothing back, but page 3 holds again.
        guide.button("guideTransmitterBtn")->click();
        QVERIFY(!controller.isSerialConnected());
        guide.tick();
        QCOMPARE(guide.page(), 3);
        wizard.onBack();
        QVERIFY(!guide.next()->isEnabled());
        wizard.onNext();
        QCOMPARE(guide.page(), 2);
    }

    // Step 4 offers each role a device made for it, by its name (a wheel base also by its force
    // feedback), each device once, or nothing: never a flight stick, however it rumbles.
    void devicesPreselected()
    {
        corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Virtual Flight Stick"), 8, 8, 0, true));
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Fanatec CSL DD"), 8, 8, 0, true));
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Rudder Pedals")));
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Racing Pedals and Shifter")));
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        QCOMPARE((QStringList{guide.combo("guideWheelCombo")->currentText(), guide.combo("guidePedalsCombo")->currentText(),
                              guide.combo("guideShifterCombo")->currentText()}),
                 (QStringList{"Fanatec CSL DD", "Racing Pedals and Shifter", ""}));
        QVERIFY(!guide.button("guideShifterBtn")->isEnabled());
    }

    void keysGoOnAfterNext_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::newRow("step 2 ticked") << true;
        QTest::newRow("step 2 left unticked") << false; // Next is still off there when Back goes
    }

    // Space on Next, then Space: where the new step holds Next back, the keys are on its first
    // control, never on Back. Back on step 1, where Back is off, they are on Next, and Return
    // goes on rather than skipping the guide.
    void keysGoOnAfterNext()
    {
        QFETCH(bool, ticked);
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        wizard.show();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        guide.next()->setFocus();
        QTest::keyClick(guide.next(), Qt::Key_Space);
        for (int press = ticked ? 1 : 2; press > 0; --press)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(guide.page(), 1);
        QCOMPARE(guide.named<QCheckBox>("poweredCheck")->isChecked(), ticked);
        guide.button("backBtn")->setFocus();
        QTest::keyClick(guide.button("backBtn"), Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), guide.next());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(wizard.isVisible());
        QCOMPARE(guide.page(), 1);
    }

    void presetAndCustomize()
    {
        Rig rig;
        corvane::CorvaneController controller;
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        guide.tick();
        QCOMPARE(guide.named("presetLabel")->text(), QStringLiteral("Current preset: defaults"));
        QVERIFY(controller.connectWheelBase(0));
        AxisMapping mapping;
        mapping.presetName = QStringLiteral("Test preset");
        controller.setWheelBaseAxisMapping(mapping);
        guide.tick();
        QCOMPARE(guide.named("presetLabel")->text(), QStringLiteral("Current preset: Test preset"));
        QSignalSpy axes(&wizard, &OnboardingWizard::requestOpenAxisConfig);
        guide.button("customizeBtn")->click();
        QCOMPARE(axes.count(), 1);
        QVERIFY(!wizard.result());
    }

    // Pedals read -1 released .. 1 pressed: half the travel is half a bar.
    void bars_data()
    {
        QTest::addColumn<float>("steering");
        QTest::addColumn<float>("pedal");
        QTest::addColumn<int>("steeringBar");
        QTest::addColumn<int>("pedalBar");
        QTest::newRow("released") << 0.0f << -1.0f << 0 << 0;
        QTest::newRow("half pressed") << -1.0f << 0.0f << -1000 << 500;
        QTest::newRow("fully pressed") << 1.0f << 1.0f << 1000 << 1000;
    }

    void bars()
    {
        QFETCH(float, steering);
        QFETCH(float, pedal);
        QFETCH(int, steeringBar);
        QFETCH(int, pedalBar);
        Rig rig;
        corvane::CorvaneController controller;
        QVERIFY(rig.plugInto(controller));
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        rig.wheel->setAxis(0, steering);
        for (int axis = 1; axis < 4; ++axis)
            rig.pedals->setAxis(axis, pedal);
        controller.wheelBase()->poll();
        controller.pedals()->poll();
        guide.tick();
        QCOMPARE(guide.bar("steeringBar"), steeringBar);
        for (const char *name : {"throttleBar", "brakeBar", "clutchBar"})
            QCOMPARE(guide.bar(name), pedalBar);
    }


    void lastPageStartsTransmission()
    {
        Rig rig;
        corvane::CorvaneController controller;
        QVERIFY(rig.plugInto(controller));
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        QSignalSpy start(&wizard, &OnboardingWizard::requestStartTransmission);
        wizard.show();
        QVERIFY(guide.advanceTo(6));
        QCOMPARE(guide.step(), QStringLiteral("Step 7 of 7"));
        QCOMPARE(guide.next()->text(), QStringLiteral("Start Transmission"));
        QVERIFY(guide.next()->isEnabled());
        QVERIFY(guide.button("skipBtn")->isHidden());
        wizard.onBack();
        QCOMPARE(guide.next()->text(), QStringLiteral("Next"));
        QVERIFY(!guide.button("skipBtn")->isHidden());
        wizard.onNext();
        guide.next()->click();
        QCOMPARE(start.count(), 1);
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
        QVERIFY(!wizard.isVisible());
    }

    void skipRejectsAndKeepsConnections()
    {
        Rig rig;
        corvane::CorvaneController controller;
        QVERIFY(rig.connectTransmitter(controller));
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        wizard.show();
        QVERIFY(guide.advanceTo(3));
        connectRow(guide, "guideWheelCombo", "guideWheelBtn", 0);
        QSignalSpy start(&wizard, &OnboardingWizard::requestStartTransmission);
        guide.button("skipBtn")->click();
        QCOMPARE(wizard.result(), int(QDialog::Rejected));
        QCOMPARE(start.count(), 0);
        QVERIFY(controller.isWheelBaseConnected());
    }

    // Saved devices missing at start-up keep the main window retrying; a device the user connects or
    // drops in the guide ends that, so the retry cannot bring back what they let go.
    void guideEndsStartupRetry()
    {
        Rig rig;
        {
            MainWindow first;
            QVERIFY(first.controller()->connectWheelBase(0));
            QVERIFY(first.controller()->connectShifter(2));
        }
        rig.wheel->unplug();
        rig.input->devices().at(2)->unplug();
        MainWindow window;
        auto retry = [&window] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return window.findChild<QTimer *>(QStringLiteral("autoConnectTimer"));
        };
        QVERIFY(retry());
        OnboardingWizard wizard(window.controller(), &window);
        wizard.show();
        Guide guide{wizard};
        // The retry's own reconnect, with the guide open, goes on retrying for the shifter.
        rig.wheel->replug();
        QVERIFY(QMetaObject::invokeMethod(&window, "onAutoConnectRetry"));
        QVERIFY(window.controller()->isWheelBaseConnected());
        QVERIFY(retry());
        // The user lets the wheel go in the guide: the retry ends and does not bring it back.
        guide.tick();
        guide.button("guideWheelBtn")->click();
        QVERIFY(!window.controller()->isWheelBaseConnected());
        QVERIFY(!retry());
    }

    void guideConnectEndsStartupRetry()
    {
        Rig rig;
        {
            MainWindow first;
            QVERIFY(first.controller()->connectShifter(2));
        }
        rig.input->devices().at(2)->unplug();
        MainWindow window;
        QVERIFY(window.findChild<QTimer *>(QStringLiteral("autoConnectTimer")));
        OnboardingWizard wizard(window.controller(), &window);
        wizard.show();
        Guide guide{wizard};
        QVERIFY(guide.advanceTo(2));
        guide.combo("guidePortCombo")->setCurrentIndex(guide.combo("guidePortCombo")->findData(rig.tx.portName()));
        guide.button("guideTransmitterBtn")->click();
        QVERIFY(window.controller()->isSerialConnected());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!window.findChild<QTimer *>(QStringLiteral("autoConnectTimer")));
    }

    // The guide's controls have names of their own: with it open over the window, the window's
    // device slots act on the car page's controls, whatever the guide shows.
    void windowSlotsUseTheCarPage()
    {
        Rig rig;
        MainWindow window;
        OnboardingWizard wizard(window.controller(), &window);
        wizard.show();
        for (const char *name : {"transmitterCombo", "wheelBaseCombo", "pedalsCombo", "shifterCombo",
                                 "connectPedalsBtn", "refreshDevicesBtn"})
            QCOMPARE(window.findChildren<QWidget *>(QLatin1String(name)).size(), 1);
        auto *carPage = window.findChild<QWidget *>(QStringLiteral("carPageContent"));
        auto *carPedals = carPage->findChild<QComboBox *>(QStringLiteral("pedalsCombo"));
        window.onRefreshInputDevices();
        carPedals->setCurrentIndex(carPedals->findData(1));
        Guide guide{wizard};
        guide.combo("guidePedalsCombo")->setCurrentIndex(guide.combo("guidePedalsCombo")->findData(2));
        window.onConnectPedals();
        QCOMPARE(window.controller()->pedalsName(), QStringLiteral("Test Pedals"));
        // A refresh of the car page's lists leaves the guide's alone.
        window.onRefreshInputDevices();
        QCOMPARE(guide.combo("guidePedalsCombo")->currentData(), QVariant(2));
    }

    void render()
    {
        Rig rig;
        corvane::CorvaneController controller;
        QVERIFY(rig.plugInto(controller));
        rig.wheel->setAxis(0, -0.4f);
        rig.pedals->setAxis(1, 0.0f);
        rig.pedals->setAxis(2, -0.6f);
        controller.wheelBase()->poll();
        controller.pedals()->poll();
        OnboardingWizard wizard(&controller, nullptr);
        Guide guide{wizard};
        wizard.onRefreshDevices();
        wizard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wizard));
        const QString dir = ostratest::artefactDir(QStringLiteral("app"));
        const QString theme = ostra::isDarkTheme() ? QStringLiteral("dark") : QStringLiteral("light");
        for (int page = 0; page < 7; ++page) {
            QVERIFY(guide.advanceTo(page));
            guide.tick();
            QCoreApplication::processEvents();
            const QString file = QStringLiteral("/onboarding-%1-%2.png").arg(page + 1).arg(theme);
            QVERIFY(wizard.grab().toImage().save(dir + file));
        }
        if (!ostra::isDarkTheme())
            QVERIFY(ostratest::runDarkTwin(QStringLiteral("app"), {QStringLiteral("render"), QStringLiteral("silentTransmitter")}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestOnboardingWizard)
#include "tst_onboardingwizard.moc"
